// The SSE2 kernel for UTF-8 text. SSE2 is part of every x86-64 processor; elsewhere the portable
// kernel runs.
#if defined(__SSE2__)

#include "conversion/kernel/BytePath.h"
#include "conversion/kernel/Declarations.h"
#include "conversion/kernel/Kernel.h"
#include "conversion/kernel/Sse2Steps.h"
#include "conversion/kernel/Utf8Path.h"
#include "conversion/kernel/Utf8Phrases.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <emmintrin.h>

namespace fanjian::kernel {

static_assert(std::endian::native == std::endian::little, "the windows read characters as little-endian words");

namespace {

// The kinds of 64 bytes of UTF-8 text, as bit masks (bit i for byte i), copied to `copy` while
// they are looked at; the two bytes after them count for the characters that end there.
struct Utf8WindowKinds {
    std::uint64_t high;         // 0x80 and above
    std::uint64_t threeBytes;   // E0..EF followed by two continuation bytes: a character of three bytes
    std::uint64_t lineEnds;     // CR, LF
    std::uint64_t declarations; // 'c' or 'C' before h or o, which may start a declaration
};

inline Utf8WindowKinds LookAtUtf8Window(const unsigned char* in, unsigned char* copy)
{
    const __m128i caseBit = _mm_set1_epi8(0x20);
    // 0x80..0xBF are the signed bytes below -64.
    const __m128i continuationBelow = _mm_set1_epi8(static_cast<char>(0xC0));
    Utf8WindowKinds kinds{0, 0, 0, 0};
    for (int looked = 0; looked < 64; looked += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + looked));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + looked + 1));
        const __m128i afterNext = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + looked + 2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(copy + looked), bytes);
        const __m128i lead = _mm_cmpeq_epi8(_mm_and_si128(bytes, _mm_set1_epi8(static_cast<char>(0xF0))),
                                            _mm_set1_epi8(static_cast<char>(0xE0)));
        const __m128i three = _mm_and_si128(lead, _mm_and_si128(_mm_cmplt_epi8(next, continuationBelow),
                                                                _mm_cmplt_epi8(afterNext, continuationBelow)));
        const __m128i nextLower = _mm_or_si128(next, caseBit);
        const __m128i declaration = _mm_and_si128(
            _mm_cmpeq_epi8(_mm_or_si128(bytes, caseBit), _mm_set1_epi8('c')),
            _mm_or_si128(_mm_cmpeq_epi8(nextLower, _mm_set1_epi8('h')), _mm_cmpeq_epi8(nextLower, _mm_set1_epi8('o'))));
        const __m128i lineEnd =
            _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')));
        kinds.high |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(bytes))) << looked;
        kinds.threeBytes |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(three))) << looked;
        kinds.lineEnds |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(lineEnd))) << looked;
        kinds.declarations |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(declaration))) << looked;
    }
    return kinds;
}

// The code point of the three-byte character whose bytes are the low three of `bytes`. They need
// no check beyond their shape: what an overlong form or a surrogate gives is never IsThreeForThree.
inline std::uint32_t CodePointOfThree(std::uint32_t bytes)
{
    return (bytes & 0x0F) << 12 | (bytes & 0x3F00) >> 2 | (bytes >> 16 & 0x3F);
}

// Converts the text from `at.in` (a character start) 64 bytes at a time, for as long as no byte
// needs a look of its own, and stops at a declaration to rewrite, a sequence other than a
// character of three bytes, a character whose answer is not one of three bytes, or where fewer
// than kWindowReach bytes are left. False when it stopped after a line end that found no mark
// left (Stop::MarksFull).
//
// The characters of three bytes, most of the Chinese text, are replaced in the window's copy, and
// the copy is then written out line by line.
template <bool kPhrases>
inline bool ConvertUtf8Windows(const Block& block, Cursor& at, LineMarks& marks)
{
    const unsigned char* in = at.in;
    const std::uint32_t* const answers = block.utf8Answers;
    alignas(16) unsigned char copy[2 * 64 + 16] = {};
    while (block.end - in >= kWindowReach) {
        const Utf8WindowKinds kinds = LookAtUtf8Window(in, copy);
        const std::uint64_t characters = kinds.threeBytes;
        const std::uint64_t inCharacters = characters | characters << 1 | characters << 2;
        // Any other byte 0x80 or above, and a character that runs past the window, stop it.
        std::uint64_t stops = (kinds.high & ~inCharacters) | (characters & (std::uint64_t{3} << 62));
        std::uint64_t declarations = kinds.declarations & Below(stops != 0 ? std::countr_zero(stops) : 64);
        while (declarations != 0) {
            const int place = std::countr_zero(declarations);
            if (StartsDeclaration(std::string_view(reinterpret_cast<const char*>(in + place), kLongestDeclaration),
                                  *block.rewrites)) {
                stops |= std::uint64_t{1} << place;
                break;
            }
            declarations &= declarations - 1;
        }
        int limit = stops != 0 ? std::countr_zero(stops) : 64;
        bool goesOn = stops == 0;

        // Each answer goes into the copy as four bytes, the fourth the byte that follows the
        // character: what comes after it is written later, or is no character.
        std::uint64_t replacedHere = characters & Below(limit);
        at.sawSequence |= replacedHere != 0;
        std::uint64_t highBits = 0; // each answer's flag bit, rotated to its place plus 7
        std::uint64_t noRow = 0;    // the characters copied as they are
        for (std::uint64_t left = replacedHere; left != 0; left &= left - 1) {
            const int place = std::countr_zero(left);
            std::uint32_t bytes;
            std::memcpy(&bytes, in + place, 4);
            const std::uint32_t codePoint = CodePointOfThree(bytes);
            const std::uint32_t entry = answers[codePoint];
            if constexpr (kPhrases)
                highBits |= std::rotl(std::uint64_t{entry & kUtf8FirstByteHighBit}, place);
            if (!IsThreeForThree(entry)) [[unlikely]] {
                if ((entry & kUtf8Kinds) == kUtf8NoRow) {
                    replacedHere &= ~(std::uint64_t{1} << place);
                    noRow |= std::uint64_t{1} << place;
                    continue;
                }
                limit = place;
                replacedHere &= Below(limit);
                goesOn = false;
                break;
            }
            const std::uint32_t put = entry | (bytes & 0xFF000000);
            std::memcpy(copy + place, &put, 4);
        }
        if constexpr (kPhrases) {
            // The answers written without their flag bit are the triggers', which get their bit
            // back; a character without a row may be one too. A trigger that a phrase changing it
            // may cover ends the window: the byte path takes it.
            const std::uint64_t flagged = replacedHere & ~std::rotr(highBits, 7);
            for (std::uint64_t triggers = flagged | (noRow & Below(limit)); triggers != 0; triggers &= triggers - 1) {
                const int place = std::countr_zero(triggers);
                const unsigned char* const trigger = in + place;
                if ((flagged >> place & 1) != 0) {
                    copy[place] |= kUtf8FirstByteHighBit;
                } else {
                    std::uint32_t bytes;
                    std::memcpy(&bytes, trigger, 4);
                    if (!IsUtf8Trigger(*block.utf8Phrases, CodePointOfThree(bytes)))
                        continue;
                }
                if (trigger >= at.floor &&
                    MayChangeUtf8(*block.phrases, *block.utf8Phrases, trigger, at.floor, block.end, block.atEnd)) {
                    limit = place;
                    replacedHere &= Below(limit);
                    goesOn = false;
                    break;
                }
            }
        }

        int from = 0;    // the first byte of the window not yet written
        int counted = 0; // the replacements before this place are in `at.waiting`
        for (std::uint64_t lineEnds = kinds.lineEnds & Below(limit); lineEnds != 0; lineEnds &= ~Below(from)) {
            const int stop = std::countr_zero(lineEnds);
            Copy64(copy + from, at.o);
            at.o += stop - from;
            at.waiting += static_cast<std::size_t>(CountPlaces(replacedHere & Below(stop) & ~Below(counted)));
            counted = stop;
            // The 65th byte may be the LF of a CR that ends the window.
            from = stop + (in[stop] == '\r' && in[stop + 1] == '\n' ? 2 : 1);
            if (!EndLine(at, block.base, marks)) {
                at.in = in + from;
                return false;
            }
        }
        at.waiting += static_cast<std::size_t>(CountPlaces(replacedHere & ~Below(counted)));
        if (from < limit) {
            Copy64(copy + from, at.o);
            at.o += limit - from;
            from = limit;
        }
        in += from;
        if (!goesOn)
            break;
    }
    at.in = in;
    return true;
}

} // namespace

// The windows take the text for as long as they can; what they leave, and the last bytes of a
// block, take the byte paths.
Progress ConvertUtf8Sse2(const Block& given, const unsigned char* in, char* o, LineMarks& marks, Matching& matching)
{
    // A copy of its own, which no store through the output can be taken to change.
    const Block block = given;
    Cursor at = Enter(in, o, marks, matching);
    Stop stop = Stop::Done;
    for (;;) {
        if (block.end - at.in >= kWindowReach) {
            if (!(block.utf8Phrases ? ConvertUtf8Windows<true>(block, at, marks)
                                    : ConvertUtf8Windows<false>(block, at, marks))) {
                stop = Stop::MarksFull;
                break;
            }
            if (block.end - at.in < kWindowReach)
                continue;
            // A byte the windows leave to the byte paths.
        } else {
            at.in = CopyPlain(at.in, block.end, at.o);
            if (at.in == block.end)
                break;
        }
        if (*at.in >= 0x80 ? !Utf8Step(block, at, stop) : !ByteStep(block, at, marks, stop))
            break;
    }
    return LeaveUtf8(block, at, marks, matching, stop);
}

} // namespace fanjian::kernel

#endif
