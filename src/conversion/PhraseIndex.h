#pragma once

#include "conversion/kernel/Phrases.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace fanjian {

class PhraseTable;

// The phrases of one direction as the kernels read them (kernel/Phrases.h), made from the
// dictionary's table and what each character writes alone. A phrase that writes what its
// characters' rows write is kept all the same: it may stop another from matching inside it.
class PhraseIndex {
public:
    // What a character converted alone writes: its row's answer, itself (no row), or nothing
    // that can be written (the row cannot be used: converting it alone fails).
    struct Alone {
        enum class Kind { Row, NoRow, Unusable } kind;
        std::uint16_t answer = 0;
    };
    using AloneFunction = std::function<Alone(std::uint16_t code)>;

    PhraseIndex(const PhraseTable& table, const AloneFunction& alone);
    PhraseIndex(const PhraseIndex&) = delete;
    PhraseIndex& operator=(const PhraseIndex&) = delete;

    // The triggers, characters that some phrase writes otherwise than they write alone, with what
    // each writes alone, as the answer table is to hold it (kernel::kNoRow; kernel::kUnknown when
    // its row cannot be used; flagged where kernel::Phrases::triggersFlagged says so).
    struct Trigger {
        std::uint16_t code;
        std::uint16_t answer;
    };
    const std::vector<Trigger>& Triggers() const noexcept { return triggers_; }
    const kernel::Phrases& View() const noexcept { return view_; }
    // The pairs of codes of a changed character and the character before it in a phrase, and of
    // a changed character and the one after it (the first code in the high half).
    const std::vector<std::uint32_t>& ChangedPairsAfter() const noexcept { return changedPairsAfter_; }
    const std::vector<std::uint32_t>& ChangedPairsBefore() const noexcept { return changedPairsBefore_; }
    std::size_t Count() const noexcept { return entries_.size(); }

private:
    std::vector<kernel::PhraseEntry> entries_;
    std::vector<std::uint16_t> units_;
    std::vector<kernel::StartSlot> starts_;
    std::vector<std::uint16_t> lists_;
    std::vector<std::uint64_t> allPairs_;
    std::vector<std::uint64_t> startPairs_;
    std::vector<std::uint64_t> triggerBits_;
    std::vector<std::uint64_t> changedAfter_;
    std::vector<std::uint64_t> changedBefore_;
    std::vector<std::uint32_t> changedPairsAfter_;
    std::vector<std::uint32_t> changedPairsBefore_;
    std::vector<Trigger> triggers_;
    kernel::Phrases view_{};
};

} // namespace fanjian
