#include "dictionary/PhraseTable.h"

#include <algorithm>

namespace fanjian {

void PhraseTable::Add(std::span<const std::uint16_t> source, std::span<const std::uint16_t> target)
{
    codes_.insert(codes_.end(), source.begin(), source.end());
    codes_.insert(codes_.end(), target.begin(), target.end());
    offsets_.push_back(static_cast<std::uint32_t>(codes_.size()));
    longest_ = std::max(longest_, source.size());
}

void PhraseTable::Reserve(std::size_t phrases, std::size_t codes)
{
    offsets_.reserve(phrases + 1);
    codes_.reserve(codes);
}

bool PhraseTable::MarkRepeatsByHashing(std::vector<bool>& repeated, std::size_t budget) const
{
    // An open-addressing set of the sources met so far, holding phrase numbers. Sources made to
    // share slots could make it slow: past a budget of comparisons it gives up.
    int bits = 4;
    while ((std::size_t{1} << bits) < 2 * size())
        ++bits;
    const std::size_t mask = (std::size_t{1} << bits) - 1;
    constexpr std::uint32_t kEmpty = UINT32_MAX;
    std::vector<std::uint32_t> slots(mask + 1, kEmpty);
    for (std::size_t i = 0; i < size(); ++i) {
        const auto source = Source(i);
        std::uint64_t hash = 14695981039346656037ull;
        for (std::uint16_t code : source)
            hash = (hash ^ code) * 1099511628211ull;
        for (std::size_t slot = (hash * 0x9E3779B97F4A7C15ull) >> (64 - bits);; slot = (slot + 1) & mask) {
            if (slots[slot] == kEmpty) {
                slots[slot] = static_cast<std::uint32_t>(i);
                break;
            }
            if (budget-- == 0)
                return false;
            const auto other = Source(slots[slot]);
            if (std::equal(source.begin(), source.end(), other.begin(), other.end())) {
                repeated[i] = true;
                break;
            }
        }
    }
    return true;
}

void PhraseTable::MarkRepeatsBySorting(std::vector<bool>& repeated) const
{
    // The phrase numbers sorted by source, and by number among equal sources: the first of each
    // run stays.
    std::vector<std::uint32_t> order(size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<std::uint32_t>(i);
    const auto less = [this](std::uint32_t a, std::uint32_t b) {
        const auto x = Source(a);
        const auto y = Source(b);
        return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end());
    };
    std::stable_sort(order.begin(), order.end(), less);
    for (std::size_t i = 1; i < order.size(); ++i)
        repeated[order[i]] = !less(order[i - 1], order[i]);
}

void PhraseTable::KeepFirstOfEachSource(std::size_t comparisonsPerPhrase)
{
    std::vector<bool> repeated(size(), false);
    if (!MarkRepeatsByHashing(repeated, comparisonsPerPhrase * size())) {
        repeated.assign(size(), false);
        MarkRepeatsBySorting(repeated);
    }
    if (std::find(repeated.begin(), repeated.end(), true) == repeated.end())
        return;

    PhraseTable kept;
    kept.codes_.reserve(codes_.size());
    kept.offsets_.reserve(offsets_.size());
    for (std::size_t i = 0; i < size(); ++i)
        if (!repeated[i])
            kept.Add(Source(i), Target(i));
    *this = std::move(kept);
}

void PhraseTable::Clear()
{
    *this = PhraseTable();
}

} // namespace fanjian
