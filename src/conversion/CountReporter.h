#pragma once

#include "conversion/ProgressView.h"
#include "conversion/kernel/Kernel.h"

#include <cstddef>
#include <cstdint>

namespace fanjian {

// Shows the characters a converter replaced, one ShowCharacterCount ("第 <count> 字") and one
// ProcessPendingEvents each, in order, and keeps the count of a run. The kernel counts the
// replacements and marks the lines they are in (kernel::LineMarks); the reporter shows them
// afterwards, and should the view throw to abandon the run, tells from the marks in which line the
// replacement it threw at lies: the run stops there.
//
// The text handed to ShowCharacterCount lives in the reporter: it stays valid until the next
// replacement is shown or the reporter is destroyed.
class CountReporter {
public:
    explicit CountReporter(ProgressView& view);
    CountReporter(const CountReporter&) = delete;
    CountReporter& operator=(const CountReporter&) = delete;

    kernel::LineMarks& Marks() noexcept { return marks_; }

    // A new block: nothing waits, and the line being converted begins at `lineStart` in the
    // output (kernel::kNoLineStart: before this block).
    void StartBlock(std::size_t lineStart) noexcept;

    // Shows every replacement waiting. If the view throws, LineStart() becomes the start of the
    // line of the replacement shown last, and the exception goes on.
    void ShowWaiting();

    // Where the line being converted begins (after a view threw: the line it threw in).
    std::size_t LineStart() const noexcept { return marks_.lineStart; }

    // Characters replaced and shown so far.
    std::uint64_t Count() const noexcept { return count_; }
    // Sets the count back to an earlier one; the next replacement shown counts on from there.
    void SetCount(std::uint64_t count);

private:
    // Advances the count text past a last digit 9.
    void CarryCountDigits();
    // Moves the count text on by `added`.
    void AddToCount(std::uint64_t added);

    ProgressView& view_;
    bool viewSkips_; // the view does without some pairs of calls (ProgressView::SkipsQuietCounts)
    std::uint64_t count_ = 0;
    kernel::LineMarks marks_;
    // "第 <count> 字", kept up to date digit by digit.
    static constexpr std::size_t kCountPrefixLength = 4; // "第 " in UTF-8
    static constexpr std::size_t kCountSuffixLength = 4; // " 字"
    char countText_[kCountPrefixLength + 20 + kCountSuffixLength];
    std::size_t countLength_ = 0;
};

} // namespace fanjian
