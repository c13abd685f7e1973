#include "conversion/LineConverter.h"

#include "dictionary/CharacterDictionary.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace fanjian {

namespace {

constexpr std::string_view kCountPrefix = "第 ";
constexpr std::string_view kCountSuffix = " 字";

// The longest declaration a direction rewrites: charset= + quote + gb2312.
constexpr std::size_t kLongestDeclaration = 15;
static_assert(kLongestDeclaration < LineConverter::kMaxCarry);

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

// True when none of the eight bytes is 0x80 or above, 'c' or 'C'.
constexpr bool IsPlainWord(std::uint64_t word)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighs = 0x8080808080808080;
    const std::uint64_t folded = (word | 0x2020202020202020) ^ 0x6363636363636363; // zero where 'c' or 'C'
    const std::uint64_t hasC = (folded - kOnes) & ~folded & kHighs;
    return ((word & kHighs) | hasC) == 0;
}

enum class ByteClass : unsigned char { Plain, Lead, MaybeDeclaration };

// Lead bytes 0x81..0xFE start a double-byte character; 'c' and 'C' may start a declaration.
constexpr std::array<ByteClass, 256> kByteClass = [] {
    std::array<ByteClass, 256> table{};
    for (int c = 0x81; c <= 0xFE; ++c)
        table[c] = ByteClass::Lead;
    table['c'] = table['C'] = ByteClass::MaybeDeclaration;
    return table;
}();

} // namespace

LineConverter::LineConverter(ConversionDirection direction, const CharacterDictionary& dictionary, ProgressView& view)
    : direction_(direction), dictionary_(dictionary), view_(view)
{
    static_assert(kCountPrefix.size() == kCountPrefixLength && kCountSuffix.size() == kCountSuffixLength);
    char* o = std::copy(kCountPrefix.begin(), kCountPrefix.end(), countText_);
    *o++ = '0';
    o = std::copy(kCountSuffix.begin(), kCountSuffix.end(), o);
    countLength_ = static_cast<std::size_t>(o - countText_);
}

std::string LineConverter::ConvertLine(std::string_view line)
{
    std::string out;
    ConvertLastPiece(line, out);
    return out;
}

void LineConverter::ConvertPiece(std::string_view piece, std::string& out)
{
    if (!carry_.empty()) {
        // Join the held-back bytes with the start of this piece and go on from there.
        const std::size_t held = carry_.size();
        const std::size_t taken = std::min(piece.size(), 2 * kMaxCarry);
        carry_.append(piece.substr(0, taken));
        const std::size_t used = ConvertSpan(carry_, false, out);
        if (used < held) {
            // Only possible when the whole piece was too short to decide anything.
            carry_.erase(0, used);
            return;
        }
        carry_.clear();
        piece.remove_prefix(used - held);
    }
    const std::size_t used = ConvertSpan(piece, false, out);
    carry_.assign(piece.substr(used));
}

void LineConverter::FinishLine(std::string& out)
{
    std::string rest;
    rest.swap(carry_);
    ConvertSpan(rest, true, out);
}

void LineConverter::ConvertLastPiece(std::string_view piece, std::string& out)
{
    if (carry_.empty()) {
        ConvertSpan(piece, true, out);
    } else {
        ConvertPiece(piece, out);
        FinishLine(out);
    }
}

std::size_t LineConverter::ConvertSpan(std::string_view bytes, bool lineEnds, std::string& out)
{
    const Rewrites& rewrites = direction_ == ConversionDirection::TraditionalToSimplified ? kToSimplified
                                                                                          : kToTraditional;
    const CharacterDictionary::DirectionAnswers answers = dictionary_.Answers(direction_);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();

    // Room for the worst case: every declaration (12 bytes at least) grows by 2.
    const std::size_t start = out.size();
    out.resize(start + n + n / 6 + 2);
    char* o = out.data() + start;

    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        const ByteClass kind = kByteClass[c];
        if (kind == ByteClass::Plain) {
            // Eight plain bytes at a time while there are: no lead byte, no 'c' or 'C'.
            *o++ = static_cast<char>(c);
            ++i;
            while (n - i >= 8) {
                std::uint64_t word;
                std::memcpy(&word, p + i, 8);
                if (!IsPlainWord(word))
                    break;
                std::memcpy(o, &word, 8);
                o += 8;
                i += 8;
            }
            continue;
        }

        if (kind == ByteClass::Lead) {
            if (i + 1 == n) {
                if (!lineEnds)
                    break; // its trail byte may be in the next piece
                *o++ = static_cast<char>(c); // a lead byte that ends the line stands alone
                ++i;
                continue;
            }
            const unsigned char trail = p[i + 1];
            const auto code = static_cast<std::uint16_t>(c << 8 | trail);
            if (const auto result = answers.Lookup(code)) {
                *o++ = static_cast<char>(*result >> 8);
                *o++ = static_cast<char>(*result & 0xFF);
                CountReplacement();
            } else {
                *o++ = static_cast<char>(c);
                *o++ = static_cast<char>(trail);
            }
            i += 2;
            continue;
        }

        // A 'c' or 'C' that starts a character: perhaps a declaration.
        if (!lineEnds && n - i < kLongestDeclaration)
            break;
        const std::string_view rest = bytes.substr(i);
        std::size_t matched = 0;
        if (StartsWithAnyCase(rest, "charset=")) {
            std::size_t value = 8;
            if (rest.size() > value && (rest[value] == '"' || rest[value] == '\''))
                ++value;
            if (StartsWithAnyCase(rest.substr(value), rewrites.charsetFind)) {
                // The text keeps its own "charset=" and quote; the value is put in lower case.
                o = std::copy_n(rest.data(), value, o);
                o = std::copy(rewrites.charsetPut.begin(), rewrites.charsetPut.end(), o);
                matched = value + rewrites.charsetFind.size();
            }
        } else if (StartsWithAnyCase(rest, rewrites.contentFind)) {
            o = std::copy(rewrites.contentPut.begin(), rewrites.contentPut.end(), o);
            matched = rewrites.contentFind.size();
        }
        if (matched == 0) {
            *o++ = static_cast<char>(c);
            matched = 1;
        }
        i += matched;
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return i;
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
