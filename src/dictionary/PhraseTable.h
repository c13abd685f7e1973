#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace fanjian {

// The phrases of one direction, in row order, the first row of each source only. A phrase is a
// run of character codes (lead byte * 256 + trail byte) as sought in this direction and the
// same number of codes put in its place. All phrases lie in one array of codes, each source
// followed by its target.
class PhraseTable {
public:
    std::size_t size() const noexcept { return offsets_.size() - 1; }
    bool empty() const noexcept { return size() == 0; }
    // The codes sought, 2 or more.
    std::span<const std::uint16_t> Source(std::size_t i) const { return {codes_.data() + offsets_[i], Length(i)}; }
    // The codes put in their place, as many as the source has.
    std::span<const std::uint16_t> Target(std::size_t i) const
    {
        return {codes_.data() + offsets_[i] + Length(i), Length(i)};
    }
    // In characters, 0 when empty.
    std::size_t LongestSource() const noexcept { return longest_; }

    // Appends a phrase after the others; `source` and `target` are of the same length.
    void Add(std::span<const std::uint16_t> source, std::span<const std::uint16_t> target);
    // Makes room for `phrases` phrases of `codes` codes in all (sources and targets).
    void Reserve(std::size_t phrases, std::size_t codes);
    // Leaves of each source only its first phrase, the others keeping their order. Finds repeated
    // sources through a hash set, and by sorting (n log n, whatever the sources) when the set
    // takes more than `comparisonsPerPhrase` comparisons a phrase.
    void KeepFirstOfEachSource(std::size_t comparisonsPerPhrase = 16);
    void Clear();

private:
    // Marks each phrase whose source an earlier phrase has; false when it gave up.
    bool MarkRepeatsByHashing(std::vector<bool>& repeated, std::size_t budget) const;
    void MarkRepeatsBySorting(std::vector<bool>& repeated) const;
    std::size_t Length(std::size_t i) const { return (offsets_[i + 1] - offsets_[i]) / 2; }

    std::vector<std::uint16_t> codes_;
    std::vector<std::uint32_t> offsets_{0};
    std::size_t longest_ = 0;
};

} // namespace fanjian
