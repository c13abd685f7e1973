#include "conversion/LineConverter.h"

#include "dictionary/CharacterDictionary.h"
#include "dictionary/Errors.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

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

enum class ByteClass : unsigned char { Plain, Lead, MaybeDeclaration, LineEnd };

constexpr std::array<ByteClass, 256> kByteClass = [] {
    std::array<ByteClass, 256> table{};
    for (int c = 0x81; c <= 0xFE; ++c)
        table[c] = ByteClass::Lead;
    table['c'] = table['C'] = ByteClass::MaybeDeclaration;
    table['\n'] = table['\r'] = ByteClass::LineEnd;
    return table;
}();

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
    ConvertLines(line, true, out);
    if (!line.empty())
        out.resize(out.size() - 2); // the CR LF that ends it
    return out;
}

std::size_t LineConverter::ConvertLines(std::string_view block, bool atEnd, std::string& out)
{
    const Rewrites& rewrites = direction_ == ConversionDirection::TraditionalToSimplified ? kToSimplified
                                                                                          : kToTraditional;
    const CharacterDictionary::DirectionAnswers answers = dictionary_.Answers(direction_);
    const auto* p = reinterpret_cast<const unsigned char*>(block.data());
    const std::size_t n = block.size();

    // Room for the worst case: every byte a lone LF, or a growing declaration every 12 bytes.
    const std::size_t start = out.size();
    out.resize(start + 2 * n + 2);
    char* const base = out.data();
    char* o = base + start;
    lineStart_ = inLine_ ? kNoLineStart : start;

    // From here on `out` is only ever written at `o`; its size is set again before returning.
    const auto finish = [&](std::size_t taken) {
        out.resize(static_cast<std::size_t>(o - base));
        return taken;
    };

    // Whatever stops the block abandons its unfinished line: the next call starts a new one.
    try {
        std::size_t i = 0;
        while (i < n) {
            const unsigned char c = p[i];
            switch (kByteClass[c]) {
            case ByteClass::Plain:
                inLine_ = true;
                *o++ = static_cast<char>(c);
                ++i;
                // Eight plain bytes at a time while there are.
                while (n - i >= 8) {
                    std::uint64_t word;
                    std::memcpy(&word, p + i, 8);
                    if (!IsPlainWord(word))
                        break;
                    std::memcpy(o, &word, 8);
                    o += 8;
                    i += 8;
                }
                break;

            case ByteClass::Lead:
                inLine_ = true;
                // Double-byte characters come in runs: take the whole run here.
                do {
                    if (i + 1 == n && !atEnd)
                        return finish(i); // its trail byte may be in the next block
                    if (i + 1 == n || IsLineEnd(p[i + 1])) {
                        *o++ = static_cast<char>(p[i]); // a lead byte that ends the line stands alone
                        ++i;
                        break;
                    }
                    const auto code = static_cast<std::uint16_t>(p[i] << 8 | p[i + 1]);
                    if (const auto result = answers.Lookup(code)) {
                        if (HoldsLineBreak(*result)) [[unlikely]]
                            ThrowLineBreakAnswer(direction_, code, *result);
                        const auto bytes = static_cast<std::uint16_t>(*result >> 8 | *result << 8);
                        std::memcpy(o, &bytes, 2);
                        o += 2;
                        CountReplacement();
                    } else {
                        std::memcpy(o, p + i, 2);
                        o += 2;
                    }
                    i += 2;
                } while (i < n && IsLeadByte(p[i]));
                break;

            case ByteClass::MaybeDeclaration: {
                inLine_ = true;
                const std::string_view rest = block.substr(i, std::min(n - i, kLongestDeclaration));
                if (!atEnd && rest.size() < kLongestDeclaration && std::none_of(rest.begin(), rest.end(), [](char b) {
                        return IsLineEnd(static_cast<unsigned char>(b));
                    }))
                    return finish(i); // the declaration may go on in the next block
                const std::size_t matched = RewriteDeclaration(rest, rewrites, o);
                if (matched == 0)
                    *o++ = static_cast<char>(c);
                i += matched == 0 ? 1 : matched;
                break;
            }

            case ByteClass::LineEnd:
                if (c == '\r' && i + 1 < n)
                    i += p[i + 1] == '\n' ? 2 : 1;
                else if (c == '\r' && !atEnd)
                    return finish(i); // an LF in the next block may belong to it
                else
                    ++i;
                *o++ = '\r';
                *o++ = '\n';
                inLine_ = false;
                lineStart_ = static_cast<std::size_t>(o - base);
                break;
            }
        }
        if (atEnd && inLine_) {
            // The last line had no terminator; it is written with one all the same.
            *o++ = '\r';
            *o++ = '\n';
            inLine_ = false;
            lineStart_ = static_cast<std::size_t>(o - base);
        }
        return finish(n);
    } catch (...) {
        inLine_ = false;
        throw;
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
