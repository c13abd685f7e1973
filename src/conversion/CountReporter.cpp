#include "conversion/CountReporter.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace fanjian {

namespace {

constexpr std::string_view kCountPrefix = "第 ";
constexpr std::string_view kCountSuffix = " 字";

} // namespace

CountReporter::CountReporter(ProgressView& view) : view_(view), viewSkips_(view.SkipsQuietCounts())
{
    static_assert(kCountPrefix.size() == kCountPrefixLength && kCountSuffix.size() == kCountSuffixLength);
    char* o = std::copy(kCountPrefix.begin(), kCountPrefix.end(), countText_);
    *o++ = '0';
    o = std::copy(kCountSuffix.begin(), kCountSuffix.end(), o);
    countLength_ = static_cast<std::size_t>(o - countText_);
}

void CountReporter::SetCount(std::uint64_t count)
{
    const std::string digits = std::to_string(count);
    char* o = std::copy(digits.begin(), digits.end(), countText_ + kCountPrefixLength);
    o = std::copy(kCountSuffix.begin(), kCountSuffix.end(), o);
    countLength_ = static_cast<std::size_t>(o - countText_);
    count_ = count;
}

void CountReporter::StartBlock(std::size_t lineStart) noexcept
{
    marks_.waiting = 0;
    marks_.lineStart = lineStart;
    marks_.firstLineStart = lineStart;
    marks_.count = 0;
}

void CountReporter::ShowWaiting()
{
    // The view may keep a pointer to the text, so every digit changes in place; the rest is kept
    // in locals, which the view's calls cannot change.
    ProgressView& view = view_;
    const std::size_t waiting = marks_.waiting;
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
        marks_.lineStart = marks_.firstLineStart;
        for (std::size_t i = 0; i < marks_.count && marks_.marks[i].waitingBefore < shown; ++i)
            marks_.lineStart = marks_.marks[i].lineStart;
        throw;
    }
    count_ += shown;
    marks_.waiting = 0;
    marks_.firstLineStart = marks_.lineStart;
    marks_.count = 0;
}

void CountReporter::AddToCount(std::uint64_t added)
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

void CountReporter::CarryCountDigits()
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
