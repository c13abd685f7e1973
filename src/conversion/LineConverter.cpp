#include "conversion/LineConverter.h"

#include "dictionary/CharacterDictionary.h"

#include <algorithm>

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

constexpr bool IsLeadByte(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

} // namespace

LineConverter::LineConverter(ConversionDirection direction, const CharacterDictionary& dictionary, ProgressView& view)
    : direction_(direction), dictionary_(dictionary), view_(view)
{
    countText_.reserve(kCountPrefix.size() + 20 + kCountSuffix.size());
    countText_ += kCountPrefix;
    countText_ += '0';
    digitsEnd_ = countText_.size();
    countText_ += kCountSuffix;
}

std::string LineConverter::ConvertLine(std::string_view line)
{
    std::string out;
    ConvertPiece(line, out);
    FinishLine(out);
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
    // A line ends: the held-back bytes cannot wait for more. Take them out first, so that a
    // failing lookup leaves the converter clean for nothing and the run drops it anyway.
    std::string rest;
    rest.swap(carry_);
    ConvertSpan(rest, true, out);
}

std::size_t LineConverter::ConvertSpan(std::string_view bytes, bool lineEnds, std::string& out)
{
    const Rewrites& rewrites = direction_ == ConversionDirection::TraditionalToSimplified ? kToSimplified
                                                                                          : kToTraditional;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        // Copy a run of plain single-byte characters at once.
        std::size_t j = i;
        while (j < n && !IsLeadByte(p[j]) && AsciiLower(p[j]) != 'c')
            ++j;
        out.append(bytes.data() + i, j - i);
        i = j;
        if (i == n)
            break;

        const unsigned char c = p[i];
        if (IsLeadByte(c)) {
            if (i + 1 == n) {
                if (!lineEnds)
                    break; // its trail byte may be in the next piece
                out.push_back(static_cast<char>(c)); // a lead byte that ends the line stands alone
                ++i;
                continue;
            }
            const auto code = static_cast<std::uint16_t>(c << 8 | p[i + 1]);
            if (const auto result = dictionary_.Lookup(direction_, code)) {
                out.push_back(static_cast<char>(*result >> 8));
                out.push_back(static_cast<char>(*result & 0xFF));
                CountReplacement();
            } else {
                out.append(bytes.data() + i, 2);
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
                out.append(rest.substr(0, value));
                out.append(rewrites.charsetPut);
                matched = value + rewrites.charsetFind.size();
            }
        } else if (StartsWithAnyCase(rest, rewrites.contentFind)) {
            out.append(rewrites.contentPut);
            matched = rewrites.contentFind.size();
        }
        if (matched == 0) {
            out.push_back(static_cast<char>(c));
            matched = 1;
        }
        i += matched;
    }
    return i;
}

void LineConverter::CountReplacement()
{
    ++count_;
    // Advance the decimal digits of the shown text in place.
    const std::size_t first = kCountPrefix.size();
    std::size_t k = digitsEnd_;
    while (k > first && countText_[k - 1] == '9')
        countText_[--k] = '0';
    if (k > first) {
        ++countText_[k - 1];
    } else {
        countText_.insert(countText_.begin() + static_cast<std::ptrdiff_t>(first), '1');
        ++digitsEnd_;
    }
    view_.ShowCharacterCount(countText_);
    view_.ProcessPendingEvents();
}

} // namespace fanjian
