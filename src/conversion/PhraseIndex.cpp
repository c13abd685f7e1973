#include "conversion/PhraseIndex.h"

#include "dictionary/PhraseTable.h"
#include "dictionary/TableLayout.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace fanjian {

namespace {

// The two bytes of a code as written, in the order a load reads them (kernel/AnswerTable.h).
std::uint16_t Unit(std::uint16_t code)
{
    return kernel::InStoreOrder(static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code));
}

void SetPair(std::vector<std::uint64_t>& bits, unsigned pairBits, std::uint16_t first, std::uint16_t second)
{
    const std::uint16_t units[2] = {Unit(first), Unit(second)};
    std::uint32_t pair;
    std::memcpy(&pair, units, 4);
    kernel::AddPair(bits.data(), pairBits, pair);
}

// Sorts keys whose bits below bit 27 are already in order (the phrases' numbers, as the keys
// were made) by their 37 bits above: ten bits at a time from the lowest, each pass keeping the
// order of the one before. A comparison sort took a fifth of the index's making.
void SortByPairAndLength(std::vector<std::uint64_t>& keys)
{
    constexpr unsigned kDigit = 10;
    constexpr std::size_t kValues = std::size_t{1} << kDigit;
    std::vector<std::uint64_t> other(keys.size());
    for (unsigned shift = 27; shift < 64; shift += kDigit) {
        std::size_t counts[kValues + 1] = {};
        for (const std::uint64_t key : keys)
            ++counts[((key >> shift) & (kValues - 1)) + 1];
        for (std::size_t i = 1; i <= kValues; ++i)
            counts[i] += counts[i - 1];
        for (const std::uint64_t key : keys)
            other[counts[(key >> shift) & (kValues - 1)]++] = key;
        keys.swap(other);
    }
}

} // namespace

PhraseIndex::PhraseIndex(const PhraseTable& table, const AloneFunction& alone)
{
    if (table.size() == 0)
        return;
    // What each character of the table writes alone, asked once per code: its kind above its
    // answer, 0 until asked.
    std::vector<std::uint32_t> aloneOf(65536);
    const auto writesAlone = [&](std::uint16_t code) {
        if (aloneOf[code] == 0) {
            const Alone a = alone(code);
            aloneOf[code] = (static_cast<std::uint32_t>(a.kind) + 1) << 16 | a.answer;
        }
        return Alone{static_cast<Alone::Kind>((aloneOf[code] >> 16) - 1), static_cast<std::uint16_t>(aloneOf[code])};
    };
    const auto sameAsAlone = [&](std::uint16_t source, std::uint16_t target) {
        const Alone a = writesAlone(source);
        return a.kind == Alone::Kind::Row ? a.answer == target : a.kind == Alone::Kind::NoRow && source == target;
    };

    std::size_t pairs = 0;
    for (std::size_t i = 0; i < table.size(); ++i)
        pairs += table.Source(i).size() - 1;
    // Small enough to stay in a processor's nearest caches: a false positive costs a step more
    // of the matching, a miss in a cache costs more. Pairs repeat in phrases: about 2 bits for
    // each pair of all phrases, 4 for each first pair.
    const unsigned allPairBits = std::clamp<unsigned>(static_cast<unsigned>(std::bit_width(pairs * 2)), 12, 26);
    const unsigned startPairBits =
        std::clamp<unsigned>(static_cast<unsigned>(std::bit_width(table.size() * 4)), 12, 26);
    allPairs_.assign((std::size_t{1} << allPairBits) / 64, 0);
    startPairs_.assign((std::size_t{1} << startPairBits) / 64, 0);
    entries_.reserve(table.size());
    units_.reserve(2 * (pairs + table.size()));

    std::vector<std::uint64_t> triggerCodes(65536 / 64); // by code
    std::size_t longest = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const auto source = table.Source(i);
        const auto target = table.Target(i);
        kernel::PhraseEntry entry{static_cast<std::uint32_t>(units_.size()), 0,
                                  static_cast<std::uint16_t>(source.size()), false};
        for (const std::uint16_t code : source)
            units_.push_back(Unit(code));
        entry.target = static_cast<std::uint32_t>(units_.size());
        for (std::size_t j = 0; j < source.size(); ++j) {
            units_.push_back(Unit(target[j]));
            if (sameAsAlone(source[j], target[j]))
                continue;
            entry.changes = true;
            triggerCodes[source[j] >> 6] |= std::uint64_t{1} << (source[j] & 63);
            if (j > 0)
                changedPairsAfter_.push_back(static_cast<std::uint32_t>(source[j - 1]) << 16 | source[j]);
            if (j + 1 < source.size())
                changedPairsBefore_.push_back(static_cast<std::uint32_t>(source[j]) << 16 | source[j + 1]);
        }
        SetPair(startPairs_, startPairBits, source[0], source[1]);
        for (std::size_t j = 0; j + 1 < source.size(); ++j)
            SetPair(allPairs_, allPairBits, source[j], source[j + 1]);
        entries_.push_back(entry);
        longest = std::max(longest, source.size());
    }

    // The phrases of each pair of first characters, longest first, in table order among those of
    // one length: sorted as one number each, the pair, then the length reversed, then the number.
    static_assert(table::kMaxPhraseLength < 32 && table::kMaxPhraseCodes / 4 < (std::size_t{1} << 27),
                  "a phrase's length and number fit below its pair");
    std::vector<std::uint64_t> order(entries_.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        std::uint32_t pair;
        std::memcpy(&pair, units_.data() + entries_[i].source, 4);
        order[i] = std::uint64_t{pair} << 32 | std::uint64_t{31u - entries_[i].length} << 27 | i;
    }
    SortByPairAndLength(order);
    const auto pairOf = [](std::uint64_t key) { return static_cast<std::uint32_t>(key >> 32); };
    const auto indexOf = [](std::uint64_t key) { return static_cast<std::uint32_t>(key & ((1u << 27) - 1)); };
    std::size_t groups = 0;
    for (std::size_t i = 0; i < order.size(); ++i)
        groups += i == 0 || pairOf(order[i]) != pairOf(order[i - 1]) ? 1 : 0;
    const std::size_t slots = std::bit_ceil(std::max<std::size_t>(groups * 2, 16));
    starts_.assign(slots, kernel::StartSlot{0, 0});
    // For each group its count, and for each phrase its length, its number (two units) and its
    // source units after the first two.
    lists_.reserve(groups + units_.size() / 2 + entries_.size());
    for (std::size_t i = 0; i < order.size();) {
        const std::uint32_t pair = pairOf(order[i]);
        std::size_t end = i;
        while (end < order.size() && pairOf(order[end]) == pair)
            ++end;
        for (std::size_t s = kernel::StartSlotOf(pair, slots - 1);; s = (s + 1) & (slots - 1)) {
            if (starts_[s].pair == 0) {
                starts_[s] = {pair, static_cast<std::uint32_t>(lists_.size())};
                break;
            }
        }
        lists_.push_back(static_cast<std::uint16_t>(std::min<std::size_t>(end - i, 0xFFFF)));
        for (std::size_t k = i; k < end && k - i < 0xFFFF; ++k) {
            const std::uint32_t index = indexOf(order[k]);
            const kernel::PhraseEntry& entry = entries_[index];
            lists_.push_back(static_cast<std::uint16_t>(entry.length | (entry.changes ? kernel::StartSlot::kChanges : 0)));
            lists_.push_back(static_cast<std::uint16_t>(index));
            lists_.push_back(static_cast<std::uint16_t>(index >> 16));
            for (std::size_t u = entry.source + 2; u < entry.source + entry.length; ++u)
                lists_.push_back(units_[u]);
        }
        i = end;
    }
    std::vector<std::uint64_t>().swap(order);

    // About 16 bits for each pair of a changed character.
    const unsigned changedPairBits = std::clamp<unsigned>(
        static_cast<unsigned>(std::bit_width(std::max(changedPairsAfter_.size(), changedPairsBefore_.size()) * 16)), 10,
        26);
    for (auto [pairs, bits] :
         {std::pair{&changedPairsAfter_, &changedAfter_}, std::pair{&changedPairsBefore_, &changedBefore_}}) {
        bits->assign((std::size_t{1} << changedPairBits) / 64, 0);
        for (const std::uint32_t pair : *pairs)
            SetPair(*bits, changedPairBits, static_cast<std::uint16_t>(pair >> 16), static_cast<std::uint16_t>(pair));
    }
    triggerBits_.assign(65536 / 64, 0);
    for (std::size_t word = 0; word < triggerCodes.size(); ++word) {
        for (std::uint64_t bits = triggerCodes[word]; bits != 0; bits &= bits - 1) {
            const auto c = static_cast<std::uint16_t>(word * 64 + static_cast<std::size_t>(std::countr_zero(bits)));
            const std::uint16_t slot = Unit(c);
            triggerBits_[slot >> 6] |= std::uint64_t{1} << (slot & 63);
            const Alone a = writesAlone(c);
            triggers_.push_back({c, a.kind == Alone::Kind::Row     ? Unit(a.answer)
                                    : a.kind == Alone::Kind::NoRow ? kernel::kNoRow
                                                                   : kernel::kUnknown});
        }
    }
    // Where every trigger's answer can carry the flag (a table whose answers are Big5 or GB2312
    // characters), the kernels tell the triggers by it.
    const bool flagged = std::all_of(triggers_.begin(), triggers_.end(),
                                     [](const Trigger& trigger) { return kernel::CanFlag(trigger.answer); });
    if (flagged) {
        for (Trigger& trigger : triggers_)
            trigger.answer = kernel::Flagged(trigger.answer);
    }
    view_ = {entries_.data(),       units_.data(),         starts_.data(),   slots - 1,
             lists_.data(),         allPairs_.data(),      allPairBits,      startPairs_.data(),
             startPairBits,         triggerBits_.data(),   changedAfter_.data(), changedBefore_.data(),
             changedPairBits,       longest,               flagged};
}

} // namespace fanjian
