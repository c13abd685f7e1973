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

void PhraseTable::KeepFirstOfEachSource()
{
    // An open-addressing set of the sources met so far, holding row numbers: a later row whose
    // source is in it goes.
    std::size_t capacity = 16;
    while (capacity < 2 * size())
        capacity *= 2;
    constexpr std::uint32_t kEmpty = UINT32_MAX;
    std::vector<std::uint32_t> slots(capacity, kEmpty);
    std::vector<bool> keep(size(), true);
    bool any = false;
    for (std::size_t i = 0; i < size(); ++i) {
        const auto source = Source(i);
        std::uint64_t hash = 14695981039346656037ull;
        for (std::uint16_t code : source)
            hash = (hash ^ code) * 1099511628211ull;
        for (std::size_t slot = hash & (capacity - 1);; slot = (slot + 1) & (capacity - 1)) {
            if (slots[slot] == kEmpty) {
                slots[slot] = static_cast<std::uint32_t>(i);
                break;
            }
            const auto other = Source(slots[slot]);
            if (std::equal(source.begin(), source.end(), other.begin(), other.end())) {
                keep[i] = false;
                any = true;
                break;
            }
        }
    }
    if (!any)
        return;

    PhraseTable kept;
    kept.codes_.reserve(codes_.size());
    kept.offsets_.reserve(offsets_.size());
    for (std::size_t i = 0; i < size(); ++i)
        if (keep[i])
            kept.Add(Source(i), Target(i));
    *this = std::move(kept);
}

void PhraseTable::Clear()
{
    *this = PhraseTable();
}

} // namespace fanjian
