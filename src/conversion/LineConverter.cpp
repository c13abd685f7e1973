#include "conversion/LineConverter.h"

#include "dictionary/CharacterDictionary.h"
#include "dictionary/Errors.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>

// SSE2 is part of every x86-64 processor. FANJIAN_PORTABLE_CONVERTER builds the path that other
// processors take, so that the tests can hold it to the same bytes.
#if defined(__SSE2__) && !defined(FANJIAN_PORTABLE_CONVERTER)
#define FANJIAN_CONVERTER_SSE2 1
#include <emmintrin.h>
#endif

namespace fanjian {

namespace {

constexpr std::string_view kCountPrefix = "第 ";
constexpr std::string_view kCountSuffix = " 字";

// The longest declaration a direction rewrites: charset= + quote + gb2312.
constexpr std::size_t kLongestDeclaration = 15;
static_assert(kLongestDeclaration < LineConverter::kMaxTail);

struct Rewrites {
    std::string_view charsetFind;  // value after "charset=", matched in any letter case
    std::string_view charsetPut;
    std::string_view contentFind;  // matched in any letter case
    std::string_view contentPut;
};

constexpr Rewrites kToSimplified{"big5", "gb2312", R"(content="zh-tw)", R"(content="zh-cn)"};
constexpr Rewrites kToTraditional{"gb2312", "big5", R"(content="zh-cn)", R"(content="zh-tw)"};

constexpr unsigned char AsciiLower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// True when `text` begins with the lower-case `find`, letter case aside.
bool StartsWithAnyCase(std::string_view text, std::string_view find)
{
    if (text.size() < find.size())
        return false;
    return std::equal(find.begin(), find.end(), text.begin(), [](char f, char t) {
        return static_cast<unsigned char>(f) == AsciiLower(static_cast<unsigned char>(t));
    });
}

constexpr bool IsLineEnd(unsigned char c)
{
    return c == '\n' || c == '\r';
}

// An answer is written as its two bytes. A CR or LF among them would end the line in the middle
// and turn one line of the output into two: such an answer names no character.
constexpr bool HoldsLineBreak(std::uint16_t answer)
{
    return IsLineEnd(static_cast<unsigned char>(answer >> 8)) || IsLineEnd(static_cast<unsigned char>(answer));
}

[[noreturn]] void ThrowLineBreakAnswer(ConversionDirection direction, std::uint16_t code, std::uint16_t answer)
{
    const bool toGb = direction == ConversionDirection::TraditionalToSimplified;
    throw DictionaryError(std::string("the dictionary row for ") + (toGb ? "big5=" : "gb=") + std::to_string(code) +
                          " answers " + std::to_string(answer) + ", whose bytes hold a line break");
}

constexpr bool IsLeadByte(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

// The second byte of a declaration: "charset=" or "content=".
constexpr bool CanFollowDeclarationStart(unsigned char c)
{
    return (c | 0x20) == 'h' || (c | 0x20) == 'o';
}

// True when the byte at `in` cannot be copied as it is without a look at what it means: a byte
// 0x80 or above, CR, LF, or a 'c' or 'C' that may start a declaration (or ends the bytes at hand,
// so that what follows it is not known yet). Every byte before the first such byte starts a
// character of its own.
inline bool StopsCopying(const unsigned char* in, const unsigned char* end)
{
    const unsigned char c = *in;
    if (c >= 0x80 || IsLineEnd(c))
        return true;
    return (c | 0x20) == 'c' && (end - in == 1 || CanFollowDeclarationStart(in[1]));
}

// True when none of the eight bytes is 0x80 or above, 'c', 'C', CR or LF.
constexpr bool IsPlainWord(std::uint64_t word)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighs = 0x8080808080808080;
    const auto hasZeroByte = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
    const std::uint64_t c = (word | 0x2020202020202020) ^ 0x6363636363636363; // zero where 'c' or 'C'
    const std::uint64_t lf = word ^ 0x0A0A0A0A0A0A0A0A;
    const std::uint64_t cr = word ^ 0x0D0D0D0D0D0D0D0D;
    return ((word & kHighs) | hasZeroByte(c) | hasZeroByte(lf) | hasZeroByte(cr)) == 0;
}

// Copies the bytes from `in` to `o` up to the first that StopsCopying (or `end`), eight at a time
// where none of them is a 'c'; returns where it stopped.
inline const unsigned char* CopyPlainWords(const unsigned char* in, const unsigned char* end, char*& o)
{
    for (;;) {
        while (end - in >= 8) {
            std::uint64_t word;
            std::memcpy(&word, in, 8);
            if (!IsPlainWord(word))
                break;
            std::memcpy(o, &word, 8);
            o += 8;
            in += 8;
        }
        if (in == end || StopsCopying(in, end))
            return in;
        *o++ = static_cast<char>(*in++);
    }
}

#if defined(FANJIAN_CONVERTER_SSE2)
// The same, sixteen bytes at a time. Each step stores all sixteen and then moves on by as many as
// were plain: the output has room for them (see ConvertLines). A 'c' stops the copy only before
// h, H, o or O, which the second load, one byte further on, tells.
inline const unsigned char* CopyPlain(const unsigned char* in, const unsigned char* end, char*& o)
{
    const __m128i caseBit = _mm_set1_epi8(0x20);
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i c = _mm_set1_epi8('c');
    const __m128i h = _mm_set1_epi8('h');
    const __m128i oh = _mm_set1_epi8('o');
    while (end - in > 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i next = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 1)), caseBit);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), bytes);
        const __m128i declaration = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(bytes, caseBit), c),
                                                  _mm_or_si128(_mm_cmpeq_epi8(next, h), _mm_cmpeq_epi8(next, oh)));
        const __m128i lineEnd = _mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr));
        // The sign bits: bytes 0x80 and above.
        const unsigned stops = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(declaration, lineEnd), bytes)));
        if (stops != 0) {
            const int plain = std::countr_zero(stops);
            in += plain;
            o += plain;
            return in;
        }
        in += 16;
        o += 16;
    }
    return CopyPlainWords(in, end, o);
}
#else
inline const unsigned char* CopyPlain(const unsigned char* in, const unsigned char* end, char*& o)
{
    return CopyPlainWords(in, end, o);
}
#endif

// answers_ holds, for a double-byte character, the two bytes to write in the order they are
// written, or one of these markers. No answer begins with a zero byte (answers are 256 or more),
// so every marker does. A table of zeros asks the dictionary for every code, which makes a
// converter cheap to make: a run makes one, but the tests make thousands.
constexpr std::uint16_t Marker(unsigned char kind)
{
    return std::endian::native == std::endian::little ? static_cast<std::uint16_t>(kind << 8) : kind;
}
constexpr std::uint16_t kUnknown = Marker(0);  // the dictionary has not been asked yet
constexpr std::uint16_t kNoRow = Marker(1);    // copied as it is
constexpr std::uint16_t kLoneLead = Marker(2); // a lead byte before CR or LF, which is no trail byte
static_assert(kUnknown == 0);

constexpr bool IsMarker(std::uint16_t put)
{
    return (std::endian::native == std::endian::little ? put & 0xFF : put >> 8) == 0;
}

// The code of the double-byte character at `in`, lead byte first, as the dictionary knows it.
inline std::uint16_t CodeAt(const unsigned char* in)
{
    std::uint16_t bytes;
    std::memcpy(&bytes, in, 2);
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<std::uint16_t>(bytes >> 8 | bytes << 8);
    return bytes;
}

// answers_ is indexed by a character's two bytes as one load reads them, so that the windows take a
// character's answer with no work on its bytes. (Read little-endian, that puts the characters of
// one trail byte together, and the table has room for every pair of bytes, twice what the code
// table's order needs; the lookups are no slower for it.)
constexpr std::size_t kAnswerCount = 65536;

inline std::uint16_t SlotAt(const unsigned char* in)
{
    std::uint16_t bytes;
    std::memcpy(&bytes, in, 2);
    return bytes;
}

// Two bytes as one number that a two-byte copy writes in this order (and a load reads back).
inline std::uint16_t InStoreOrder(unsigned char first, unsigned char second)
{
    const unsigned char bytes[2] = {first, second};
    return SlotAt(bytes);
}

template <typename Answer>
Answer& AnswerFor(Answer* answers, std::uint16_t code)
{
    return answers[InStoreOrder(static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code))];
}

struct KnownRun {
    const unsigned char* in; // the first byte not taken
    char* o;
    std::size_t replaced;
};

// Converts the double-byte characters from `in` on while their answers are known: up to the first
// byte that is no lead byte, the first answer that is a marker, or a lead byte that ends the block.
// Two characters a step, as long as four bytes are left.
inline KnownRun ConvertKnownRun(const unsigned char* in, const unsigned char* const end, char* o,
                                const std::uint16_t* const answers)
{
    std::size_t replaced = 0;
    const unsigned char* const lastPair = end - in >= 4 ? end - 3 : in; // no step of two starts here
    while (in < lastPair && IsLeadByte(in[0]) && IsLeadByte(in[2])) {
        const std::uint16_t put = answers[SlotAt(in)];
        const std::uint16_t next = answers[SlotAt(in + 2)]; // used only when `put` is an answer
        if (IsMarker(put) || IsMarker(next))
            break;
        std::memcpy(o, &put, 2);
        std::memcpy(o + 2, &next, 2);
        in += 4;
        o += 4;
        replaced += 2;
    }
    while (end - in >= 2 && IsLeadByte(*in)) {
        const std::uint16_t put = answers[SlotAt(in)];
        if (IsMarker(put))
            break;
        std::memcpy(o, &put, 2);
        in += 2;
        o += 2;
        ++replaced;
    }
    return {in, o, replaced};
}

// Length of the declaration at the start of `text` (a 'c' or 'C' that starts a character), its
// replacement written at `o`; 0 when there is none.
std::size_t RewriteDeclaration(std::string_view text, const Rewrites& rewrites, char*& o)
{
    if (StartsWithAnyCase(text, "charset=")) {
        std::size_t value = 8;
        if (text.size() > value && (text[value] == '"' || text[value] == '\''))
            ++value;
        if (!StartsWithAnyCase(text.substr(value), rewrites.charsetFind))
            return 0;
        // The text keeps its own "charset=" and quote; the value is put in lower case.
        o = std::copy_n(text.data(), value, o);
        o = std::copy(rewrites.charsetPut.begin(), rewrites.charsetPut.end(), o);
        return value + rewrites.charsetFind.size();
    }
    if (StartsWithAnyCase(text, rewrites.contentFind)) {
        o = std::copy(rewrites.contentPut.begin(), rewrites.contentPut.end(), o);
        return rewrites.contentFind.size();
    }
    return 0;
}

#if defined(FANJIAN_CONVERTER_SSE2)
// True when `text` starts with a declaration that is rewritten.
bool StartsDeclaration(std::string_view text, const Rewrites& rewrites)
{
    char scratch[2 * kLongestDeclaration];
    char* o = scratch;
    return RewriteDeclaration(text.substr(0, kLongestDeclaration), rewrites, o) != 0;
}

// What the windows need to be left to read: a window reads 65 bytes (79 when a declaration may
// start on its last place), and writes 64 from any of its first 64 places on, which the output's
// room (twice the bytes left to read) then holds.
constexpr std::ptrdiff_t kWindowReach = 128;

// The kinds of 64 bytes, as bit masks (bit i for byte i), copied to `copy` while they are looked
// at. A 'c' or 'C' counts only before h, H, o or O, which a second load, one byte further on,
// tells: so the 65th byte is read too.
struct WindowKinds {
    std::uint64_t leads;    // 0x81..0xFE
    std::uint64_t lineEnds; // CR, LF
    std::uint64_t declarations; // 'c' or 'C' before h or o, which may start a declaration
};

inline WindowKinds LookAtWindow(const unsigned char* in, unsigned char* copy)
{
    const __m128i caseBit = _mm_set1_epi8(0x20);
    WindowKinds kinds{0, 0, 0};
    for (int looked = 0; looked < 64; looked += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + looked));
        const __m128i next = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + looked + 1)), caseBit);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(copy + looked), bytes);
        const __m128i noLead = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(0x80))),
                                            _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(0xFF))));
        const __m128i declaration =
            _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(bytes, caseBit), _mm_set1_epi8('c')),
                          _mm_or_si128(_mm_cmpeq_epi8(next, _mm_set1_epi8('h')), _mm_cmpeq_epi8(next, _mm_set1_epi8('o'))));
        const auto lineEnd = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')))));
        // The sign bits are the bytes 0x80 and above.
        const auto lead = static_cast<unsigned>(_mm_movemask_epi8(bytes)) &
                          ~static_cast<unsigned>(_mm_movemask_epi8(noLead));
        const auto declarationStart = static_cast<unsigned>(_mm_movemask_epi8(declaration));
        kinds.leads |= static_cast<std::uint64_t>(lead) << looked;
        kinds.lineEnds |= static_cast<std::uint64_t>(lineEnd) << looked;
        kinds.declarations |= static_cast<std::uint64_t>(declarationStart) << looked;
    }
    return kinds;
}

// Copies 64 bytes.
inline void Copy64(const unsigned char* in, char* o)
{
    for (int at = 0; at < 64; at += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + at), _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at)));
}

// The places below `n` (0..65), without a branch: which way one would go changes from line to line.
constexpr std::uint64_t Below(int n)
{
    const std::uint64_t all = -static_cast<std::uint64_t>(n >= 64);
    return ((std::uint64_t{1} << (n & 63)) - 1) | all;
}

// The number of places set in `bits` (the baseline instruction set has no instruction for it).
constexpr int CountPlaces(std::uint64_t bits)
{
    bits -= (bits >> 1) & 0x5555555555555555;
    bits = (bits & 0x3333333333333333) + ((bits >> 2) & 0x3333333333333333);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0F;
    return static_cast<int>((bits * 0x0101010101010101) >> 56);
}

// Converts the text from `in` (a character start) 64 bytes at a time, for as long as no byte
// needs a look of its own, and returns where it stopped: a declaration to rewrite, a lead byte
// whose answer is a marker, or fewer than kWindowReach bytes left. `endLine` writes each line end,
// at `o`, once `replaced` counts the replacements before it.
//
// A window's bytes are copied while their kinds are taken as bit masks, and the double-byte
// characters are then found among them without a branch per byte: a run of lead bytes that starts
// at a character start holds lead bytes at its even places and trail bytes at its odd ones (the
// trail byte of its last lead byte, when the run is odd, follows it), and a run starts at the
// first place or after a byte that is no lead byte, which always ends a character. A lead byte
// before CR or LF stands alone, so it is left out of the runs. The characters of the whole window
// are replaced in its copy, and the copy is then written out line by line.
template <typename EndLine>
inline const unsigned char* ConvertWindows(const unsigned char* in, const unsigned char* const end, char*& o,
                                           const std::uint16_t* const answers, const Rewrites& rewrites,
                                           std::size_t& replaced, EndLine&& endLine)
{
    constexpr std::uint64_t kEvenPlaces = 0x5555555555555555;
    // The window's copy, with room for 64 bytes copied from any of its places.
    alignas(16) unsigned char copy[2 * 64 + 16] = {};
    while (end - in >= kWindowReach) {
        const WindowKinds kinds = LookAtWindow(in, copy);
        const std::uint64_t leads = kinds.leads & ~(kinds.lineEnds >> 1);
        const std::uint64_t runStarts = leads & ~(leads << 1);
        // Adding a run's first bit carries through the run and clears it: what is cleared are the
        // runs that start at an even place.
        const std::uint64_t evenRuns = leads & ~(leads + (runStarts & kEvenPlaces));
        const std::uint64_t characterLeads = (evenRuns & kEvenPlaces) | (leads & ~evenRuns & ~kEvenPlaces);
        // No trail byte is CR or LF. A declaration starts only where a character starts, and
        // most words that begin with "ch" or "co" are none; the first that is stops the window
        // (the 15 bytes it may take lie within the bytes left). A character on the window's edge
        // is the next window's first.
        std::uint64_t declarations = kinds.declarations & ~(characterLeads << 1);
        while (declarations != 0) {
            const int at = std::countr_zero(declarations);
            if (StartsDeclaration(std::string_view(reinterpret_cast<const char*>(in + at), kLongestDeclaration), rewrites))
                break;
            declarations &= declarations - 1;
        }
        int limit = declarations != 0 ? std::countr_zero(declarations) : 64 - static_cast<int>(characterLeads >> 63);
        bool goesOn = declarations == 0; // the next window starts at `limit`

        std::uint64_t replacedHere = characterLeads & Below(limit);
        for (std::uint64_t characters = replacedHere; characters != 0; characters &= characters - 1) {
            const auto at = static_cast<unsigned>(std::countr_zero(characters));
            const std::uint16_t put = answers[SlotAt(in + at)];
            if (IsMarker(put)) {
                limit = static_cast<int>(at);
                replacedHere &= Below(limit);
                goesOn = false;
                break;
            }
            std::memcpy(copy + at, &put, 2);
        }

        int from = 0;    // the first byte of the window not yet written
        int counted = 0; // the replacements before this place are in `replaced`
        for (std::uint64_t lineEnds = kinds.lineEnds & Below(limit); lineEnds != 0; lineEnds &= ~Below(from)) {
            const int stop = std::countr_zero(lineEnds);
            Copy64(copy + from, o);
            o += stop - from;
            replaced += static_cast<std::size_t>(CountPlaces(replacedHere & Below(stop) & ~Below(counted)));
            counted = stop;
            // The 65th byte may be the LF of a CR that ends the window.
            from = stop + (in[stop] == '\r' && in[stop + 1] == '\n' ? 2 : 1);
            endLine();
        }
        replaced += static_cast<std::size_t>(CountPlaces(replacedHere & ~Below(counted)));
        if (from < limit) {
            Copy64(copy + from, o);
            o += limit - from;
            from = limit;
        }
        in += from;
        if (!goesOn)
            return in;
    }
    return in;
}
#endif

} // namespace

LineConverter::LineConverter(ConversionDirection direction, const CharacterDictionary& dictionary, ProgressView& view)
    : direction_(direction), dictionary_(dictionary), view_(view), viewSkips_(view.SkipsQuietCounts()),
      answers_(static_cast<std::uint16_t*>(std::calloc(kAnswerCount, sizeof(std::uint16_t))))
{
    if (!answers_)
        throw std::bad_alloc();
    static_assert(kCountPrefix.size() == kCountPrefixLength && kCountSuffix.size() == kCountSuffixLength);
    char* o = std::copy(kCountPrefix.begin(), kCountPrefix.end(), countText_);
    *o++ = '0';
    o = std::copy(kCountSuffix.begin(), kCountSuffix.end(), o);
    countLength_ = static_cast<std::size_t>(o - countText_);

    // The trail byte decides a lone lead byte; the dictionary is asked for the rest as they come.
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (const unsigned char lineEnd : {'\r', '\n'})
            AnswerFor(answers_.get(), static_cast<std::uint16_t>(lead << 8 | lineEnd)) = kLoneLead;
    }
}

std::string LineConverter::ConvertLine(std::string_view line)
{
    std::string out;
    ConvertLines(line, true, out);
    if (!line.empty())
        out.resize(out.size() - 2); // the CR LF that ends it
    return out;
}

std::uint16_t LineConverter::LookUp(std::uint16_t code)
{
    const std::optional<std::uint16_t> answer = dictionary_.Lookup(direction_, code);
    std::uint16_t put = kNoRow;
    if (answer) {
        if (HoldsLineBreak(*answer))
            ThrowLineBreakAnswer(direction_, code, *answer);
        put = InStoreOrder(static_cast<unsigned char>(*answer >> 8), static_cast<unsigned char>(*answer));
    }
    AnswerFor(answers_.get(), code) = put;
    return put;
}

std::size_t LineConverter::ConvertLines(std::string_view block, bool atEnd, std::string& out)
{
    return ConvertInto(block, atEnd, out);
}

std::size_t LineConverter::ConvertLines(std::string_view block, bool atEnd, ByteBuffer& out)
{
    return ConvertInto(block, atEnd, out);
}

template <typename Bytes>
std::size_t LineConverter::ConvertInto(std::string_view block, bool atEnd, Bytes& out)
{
    const Rewrites& rewrites = direction_ == ConversionDirection::TraditionalToSimplified ? kToSimplified
                                                                                          : kToTraditional;
    dictionary_.Answers(direction_); // throws when the dictionary is not open
    const auto* const first = reinterpret_cast<const unsigned char*>(block.data());
    const auto* const end = first + block.size();
    const std::uint16_t* const answers = answers_.get();

    // Room for the worst case: every byte a lone LF, or a growing declaration every 12 bytes. So
    // the output of the bytes before `in` never takes more than twice their number, and sixteen
    // bytes stored at `o` fit wherever seventeen bytes are left to read.
    const std::size_t start = out.size();
    out.resize(start + 2 * block.size() + 2);
    char* const base = out.data();
    char* o = base + start;
    lineStart_ = inLine_ ? kNoLineStart : start;

    // The characters are replaced first and shown afterwards, all in order, mostly once for the
    // whole block: the view sees no output, and nothing but the count tells it how far the
    // conversion has come. If the view throws, ShowReplacements sets LineStart() to the line of
    // the replacement it threw at, from the marks left at each line end while replacements wait
    // to be shown; what was converted after that line's start is abandoned all the same. Before
    // the dictionary is asked, which may throw, every replacement before is shown.
    std::size_t waiting = 0;
    firstLineStart_ = lineStart_;
    markCount_ = 0;

    // From here on `out` is only ever written at `o`; its size is set again before returning.
    // Whether a line is unfinished is told by the last byte taken: CR and LF are only ever taken
    // as line terminators.
    const auto finish = [&](const unsigned char* in) {
        ShowReplacements(waiting);
        if (in != first)
            inLine_ = !IsLineEnd(in[-1]);
        out.resize(static_cast<std::size_t>(o - base));
        return static_cast<std::size_t>(in - first);
    };

    // Writes the CR LF that ends a line and starts the next one.
    const auto endLine = [&] {
        std::memcpy(o, "\r\n", 2);
        o += 2;
        lineStart_ = static_cast<std::size_t>(o - base);
        if (waiting != 0 && markCount_ == kMaxLineMarks) {
            ShowReplacements(waiting);
            waiting = 0;
        }
        // A line that begins with no replacement waiting needs no mark: the first line of those
        // waiting is where a throwing view leaves the run. (A mark for it would outlast the
        // lines after it that have no replacement either.)
        if (waiting == 0)
            firstLineStart_ = lineStart_;
        else
            lineMarks_[markCount_++] = {waiting, lineStart_};
    };

    // Whatever stops the block abandons its unfinished line: the next call starts a new one.
    try {
        const unsigned char* in = first;
        for (;;) {
#if defined(FANJIAN_CONVERTER_SSE2)
            if (end - in >= kWindowReach) {
                in = ConvertWindows(in, end, o, answers, rewrites, waiting, endLine);
                if (end - in < kWindowReach)
                    continue;
                // A byte the windows leave to the byte path.
            } else
#endif
            {
                in = CopyPlain(in, end, o);
                if (in == end)
                    break;
            }
            const unsigned char c = *in;

            if (IsLeadByte(c)) {
                // Double-byte characters come in runs: take the whole run here.
                for (;;) {
                    const KnownRun run = ConvertKnownRun(in, end, o, answers);
                    in = run.in;
                    o = run.o;
                    waiting += run.replaced;
                    if (end - in < 2) {
                        if (in == end || !IsLeadByte(*in))
                            break;
                        if (!atEnd)
                            return finish(in); // its trail byte may be in the next block
                        *o++ = static_cast<char>(*in++); // a lead byte that ends the file stands alone
                        break;
                    }
                    if (!IsLeadByte(*in))
                        break;
                    const std::uint16_t code = CodeAt(in);
                    std::uint16_t put = AnswerFor(answers, code);
                    if (put == kLoneLead) {
                        *o++ = static_cast<char>(*in++); // a lead byte that ends the line stands alone
                        break;
                    }
                    if (put == kUnknown) {
                        ShowReplacements(waiting);
                        waiting = 0;
                        put = LookUp(code);
                    }
                    if (put == kNoRow) {
                        std::memcpy(o, in, 2);
                    } else {
                        std::memcpy(o, &put, 2);
                        ++waiting;
                    }
                    o += 2;
                    in += 2;
                }
            } else if (IsLineEnd(c)) {
                if (c == '\n')
                    ++in;
                else if (end - in > 1)
                    in += in[1] == '\n' ? 2 : 1;
                else if (!atEnd)
                    return finish(in); // an LF in the next block may belong to it
                else
                    ++in;
                endLine();
            } else if (c >= 0x80 || !StopsCopying(in, end)) {
                *o++ = static_cast<char>(*in++); // 0x80 or 0xFF (no lead byte), or one that starts nothing
            } else {
                // A 'c' or 'C' that may start a declaration.
                const std::size_t left = static_cast<std::size_t>(end - in);
                const std::string_view rest(reinterpret_cast<const char*>(in), std::min(left, kLongestDeclaration));
                if (!atEnd && rest.size() < kLongestDeclaration &&
                    std::none_of(rest.begin(), rest.end(), [](char b) { return IsLineEnd(static_cast<unsigned char>(b)); }))
                    return finish(in); // the declaration may go on in the next block
                const std::size_t matched = RewriteDeclaration(rest, rewrites, o);
                if (matched == 0)
                    *o++ = static_cast<char>(*in++);
                in += matched;
            }
        }
        const std::size_t taken = finish(end);
        if (atEnd && inLine_) {
            // The last line had no terminator; it is written with one all the same.
            out.insert(out.end(), {'\r', '\n'});
            inLine_ = false;
            lineStart_ = out.size();
        }
        return taken;
    } catch (...) {
        inLine_ = false;
        throw;
    }
}

void LineConverter::ShowReplacements(std::size_t waiting)
{
    // The view may keep a pointer to the text, so every digit changes in place; the rest is kept
    // in locals, which the view's calls cannot change.
    ProgressView& view = view_;
    const char* const text = countText_;
    std::size_t length = countLength_;
    char* lastDigit = countText_ + length - kCountSuffixLength - 1;
    std::size_t shown = 0;
    try {
        // A view that does without most pairs: the count jumps over those, and the pair after
        // them is made.
        while (viewSkips_ && shown != waiting) {
            if (waiting - shown > 1) {
                const std::uint64_t quiet = std::min<std::uint64_t>(view.TakeQuietCounts(waiting - shown - 1),
                                                                    waiting - shown - 1);
                shown += static_cast<std::size_t>(quiet);
                AddToCount(quiet);
            }
            ++shown;
            AddToCount(1);
            view.ShowCharacterCount(std::string_view(text, countLength_));
            view.ProcessPendingEvents();
        }
        while (shown != waiting) {
            // Up to the next carry only the last digit changes.
            const std::size_t plain = std::min<std::size_t>(waiting - shown, static_cast<std::size_t>('9' - *lastDigit));
            for (const std::size_t stop = shown + plain; shown != stop;) {
                ++shown;
                ++*lastDigit;
                view.ShowCharacterCount(std::string_view(text, length));
                view.ProcessPendingEvents();
            }
            if (shown == waiting)
                break;
            ++shown;
            CarryCountDigits();
            length = countLength_;
            lastDigit = countText_ + length - kCountSuffixLength - 1;
            view.ShowCharacterCount(std::string_view(text, length));
            view.ProcessPendingEvents();
        }
    } catch (...) {
        // The line of the replacement shown last: the last one that began before it.
        count_ += shown;
        lineStart_ = firstLineStart_;
        for (std::size_t i = 0; i < markCount_ && lineMarks_[i].waitingBefore < shown; ++i)
            lineStart_ = lineMarks_[i].lineStart;
        throw;
    }
    count_ += shown;
    firstLineStart_ = lineStart_;
    markCount_ = 0;
}

void LineConverter::AddToCount(std::uint64_t added)
{
    char* const first = countText_ + kCountPrefixLength;
    char* digit = countText_ + countLength_ - kCountSuffixLength;
    while (added != 0 && digit > first) {
        --digit;
        const std::uint64_t sum = static_cast<std::uint64_t>(*digit - '0') + added % 10;
        *digit = static_cast<char>('0' + sum % 10);
        added = added / 10 + sum / 10;
    }
    // What is left goes in front, in new digits.
    while (added != 0) {
        std::memmove(first + 1, first, countLength_ - kCountPrefixLength);
        *first = static_cast<char>('0' + added % 10);
        ++countLength_;
        added /= 10;
    }
}

void LineConverter::CarryCountDigits()
{
    // The last digit was 9: it and every 9 before it become 0, and the digit before them grows.
    char* const first = countText_ + kCountPrefixLength;
    char* digit = countText_ + countLength_ - kCountSuffixLength;
    while (digit > first && digit[-1] == '9')
        *--digit = '0';
    if (digit > first) {
        ++digit[-1];
    } else {
        std::memmove(first + 1, first, countLength_ - kCountPrefixLength);
        *first = '1';
        ++countLength_;
    }
}

} // namespace fanjian
