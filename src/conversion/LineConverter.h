#pragma once

#include "conversion/ConversionDirection.h"
#include "conversion/ProgressView.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fanjian {

class CharacterDictionary;

// Converts the lines of one run, character by character, through the dictionary, and retargets
// the page declarations (charset=big5 <-> charset=gb2312, content="zh-tw <-> content="zh-cn).
//
// A line is the bytes between two terminators. A byte 0x81..0xFE followed by another byte of the
// line starts a double-byte character (lead * 256 + trail); every other byte is a character of
// its own. A declaration is matched only where a character starts.
//
// A line may be handed over whole (ConvertLine) or in pieces (ConvertPiece ... FinishLine); both
// give the same bytes. Between pieces the converter holds back at most kMaxCarry bytes: a lead
// byte whose trail has not come yet, or the start of what may be a declaration.
//
// The text handed to the view's ShowCharacterCount lives in the converter: it stays valid until
// the next replacement or until the converter is destroyed.
class LineConverter {
public:
    static constexpr std::size_t kMaxCarry = 16;

    LineConverter(ConversionDirection direction, const CharacterDictionary& dictionary, ProgressView& view);

    // The converted line. Throws what the dictionary throws; the count keeps what was replaced.
    std::string ConvertLine(std::string_view line);

    // Appends to `out` what can be converted of the next piece of the current line. When a lookup
    // or the view throws, `out` holds unspecified bytes after what it held before the call.
    void ConvertPiece(std::string_view piece, std::string& out);
    // Appends the rest of the current line to `out`; the next piece starts a new line.
    void FinishLine(std::string& out);
    // ConvertPiece then FinishLine, in one step when nothing is held back.
    void ConvertLastPiece(std::string_view piece, std::string& out);

    // Characters replaced so far in this run.
    std::uint64_t ConvertedCount() const noexcept { return count_; }

private:
    // Converts from the start of `bytes` and returns how many bytes it consumed. Unless `lineEnds`,
    // it stops before a character whose meaning depends on bytes not yet seen.
    std::size_t ConvertSpan(std::string_view bytes, bool lineEnds, std::string& out);
    // Length of the declaration starting at bytes[0] and its replacement appended to out, or 0.
    std::size_t RewriteDeclaration(std::string_view bytes, std::string& out) const;
    void CountReplacement()
    {
        ++count_;
        char& lastDigit = countText_[countLength_ - kCountSuffixLength - 1];
        if (lastDigit != '9')
            ++lastDigit;
        else
            CarryCountDigits();
        view_.ShowCharacterCount(std::string_view(countText_, countLength_));
        view_.ProcessPendingEvents();
    }
    void CarryCountDigits();

    ConversionDirection direction_;
    const CharacterDictionary& dictionary_;
    ProgressView& view_;
    std::uint64_t count_ = 0;
    std::string carry_;
    // "第 <count> 字", kept up to date digit by digit.
    static constexpr std::size_t kCountPrefixLength = 4; // "第 " in UTF-8
    static constexpr std::size_t kCountSuffixLength = 4; // " 字"
    char countText_[kCountPrefixLength + 20 + kCountSuffixLength];
    std::size_t countLength_ = 0;
};

} // namespace fanjian
