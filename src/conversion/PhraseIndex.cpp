#include "conversion/PhraseIndex.h"

#include "dictionary/PhraseTable.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

namespace fanjian {

namespace {

// The two bytes of a code as written, in the order a load reads them (kernel/AnswerTable.h).
std::uint16_t Unit(std::uint16_t code)
{
    return kernel::InStoreOrder(static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code));
}

void SetPair(std::vector<std::uint64_t>& bits, unsigned pairBits, std::uint16_t first, std::uint16_t second)
{
    unsigned char bytes[4];
    const std::uint16_t units[2] = {Unit(first), Unit(second)};
    std::memcpy(bytes, units, 4);
    const std::uint64_t key = kernel::PairKey(bytes) >> (44 - pairBits);
    bits[key >> 6] |= std::uint64_t{1} << (key & 63);
}

} // namespace

PhraseIndex::PhraseIndex(const PhraseTable& table, const AloneFunction& alone)
{
    if (table.size() == 0)
        return;
    // What each character of the table writes alone, asked once per code.
    std::unordered_map<std::uint16_t, Alone> aloneOf;
    const auto writesAlone = [&](std::uint16_t code) -> const Alone& {
        const auto [it, added] = aloneOf.try_emplace(code, Alone{Alone::Kind::NoRow});
        if (added)
            it->second = alone(code);
        return it->second;
    };
    const auto sameAsAlone = [&](std::uint16_t source, std::uint16_t target) {
        const Alone& a = writesAlone(source);
        return a.kind == Alone::Kind::Row ? a.answer == target : a.kind == Alone::Kind::NoRow && source == target;
    };

    std::size_t pairs = 0;
    for (std::size_t i = 0; i < table.size(); ++i)
        pairs += table.Source(i).size() - 1;
    // About 16 bits for each pair (fewer where pairs repeat): few false positives.
    const unsigned pairBits = std::clamp<unsigned>(static_cast<unsigned>(std::bit_width(pairs * 8)), 16, 26);
    allPairs_.assign((std::size_t{1} << pairBits) / 64, 0);
    startPairs_.assign((std::size_t{1} << pairBits) / 64, 0);
    entries_.reserve(table.size());
    units_.reserve(2 * (pairs + table.size()));

    // For each trigger, the characters the phrases that change it put before and after it.
    struct Neighbour {
        std::uint16_t trigger;
        std::uint16_t unit;
        bool after;
    };
    std::vector<Neighbour> neighbours;
    std::vector<std::uint16_t> triggerCodes;
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
            triggerCodes.push_back(source[j]);
            if (j > 0)
                neighbours.push_back({source[j], Unit(source[j - 1]), false});
            if (j + 1 < source.size())
                neighbours.push_back({source[j], Unit(source[j + 1]), true});
        }
        SetPair(startPairs_, pairBits, source[0], source[1]);
        for (std::size_t j = 0; j + 1 < source.size(); ++j)
            SetPair(allPairs_, pairBits, source[j], source[j + 1]);
        entries_.push_back(entry);
        longest = std::max(longest, source.size());
    }

    // The phrases of each pair of first characters, longest first.
    std::vector<std::uint32_t> order(entries_.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<std::uint32_t>(i);
    const auto pairOf = [&](std::uint32_t i) {
        std::uint32_t pair;
        std::memcpy(&pair, units_.data() + entries_[i].source, 4);
        return pair;
    };
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const std::uint32_t pa = pairOf(a);
        const std::uint32_t pb = pairOf(b);
        return pa != pb ? pa < pb : entries_[a].length > entries_[b].length;
    });
    std::size_t groups = 0;
    for (std::size_t i = 0; i < order.size(); ++i)
        groups += i == 0 || pairOf(order[i]) != pairOf(order[i - 1]) ? 1 : 0;
    const std::size_t slots = std::bit_ceil(std::max<std::size_t>(groups * 2, 16));
    starts_.assign(slots, kernel::StartSlot{0, 0});
    for (std::size_t i = 0; i < order.size();) {
        const std::uint32_t pair = pairOf(order[i]);
        std::size_t end = i;
        while (end < order.size() && pairOf(order[end]) == pair)
            ++end;
        for (std::size_t s = ((pair * 0x9E3779B1u) >> 7) & (slots - 1);; s = (s + 1) & (slots - 1)) {
            if (starts_[s].pair == 0) {
                starts_[s] = {pair, static_cast<std::uint32_t>(lists_.size())};
                break;
            }
        }
        lists_.push_back(static_cast<std::uint16_t>(std::min<std::size_t>(end - i, 0xFFFF)));
        for (std::size_t k = i; k < end && k - i < 0xFFFF; ++k) {
            const kernel::PhraseEntry& entry = entries_[order[k]];
            lists_.push_back(entry.length);
            lists_.push_back(static_cast<std::uint16_t>(order[k]));
            lists_.push_back(static_cast<std::uint16_t>(order[k] >> 16));
            lists_.insert(lists_.end(), units_.begin() + entry.source + 2, units_.begin() + entry.source + entry.length);
        }
        i = end;
    }

    // Each trigger's facts, with a bit set of about 16 bits per neighbour on each side; the
    // triggers after the first ones share one marker whose facts keep no bit set: every neighbour
    // may be one.
    std::sort(neighbours.begin(), neighbours.end(), [](const Neighbour& a, const Neighbour& b) {
        return a.trigger != b.trigger ? a.trigger < b.trigger : a.after < b.after;
    });
    const auto addBits = [&](const Neighbour* from, const Neighbour* to, std::uint8_t& bits, std::uint32_t& offset) {
        bits = static_cast<std::uint8_t>(
            std::clamp<unsigned>(static_cast<unsigned>(std::bit_width(static_cast<std::size_t>(to - from) * 16)), 6, 20));
        offset = static_cast<std::uint32_t>(neighbours_.size());
        neighbours_.resize(neighbours_.size() + (std::size_t{1} << bits) / 64, 0);
        for (const Neighbour* n = from; n != to; ++n) {
            const std::uint32_t key = (static_cast<std::uint32_t>(n->unit) * 0x9E3779B1u) >> (32 - bits);
            neighbours_[offset + (key >> 6)] |= std::uint64_t{1} << (key & 63);
        }
    };
    const auto answerOf = [&](std::uint16_t code) {
        const Alone& a = writesAlone(code);
        return a.kind == Alone::Kind::Row ? Unit(a.answer) : a.kind == Alone::Kind::NoRow ? kernel::kNoRow : kernel::kUnknown;
    };
    constexpr std::size_t kOwnKinds = kernel::kSharedTriggerKind - kernel::kFirstTriggerKind;
    std::sort(triggerCodes.begin(), triggerCodes.end());
    triggerCodes.erase(std::unique(triggerCodes.begin(), triggerCodes.end()), triggerCodes.end());
    const Neighbour* next = neighbours.data();
    const Neighbour* const last = neighbours.data() + neighbours.size();
    for (const std::uint16_t c : triggerCodes) {
        const Neighbour* const first = next;
        while (next != last && next->trigger == c && !next->after)
            ++next;
        const Neighbour* const middle = next;
        while (next != last && next->trigger == c)
            ++next;
        if (facts_.size() < kOwnKinds) {
            kernel::TriggerFacts facts{answerOf(c), 0, 0, 0, 0};
            addBits(first, middle, facts.leftBits, facts.left);
            addBits(middle, next, facts.rightBits, facts.right);
            facts_.push_back(facts);
            triggers_.push_back({c, kernel::Marker(static_cast<unsigned char>(kernel::kFirstTriggerKind + facts_.size() - 1))});
            continue;
        }
        if (sharedAnswers_.empty()) {
            sharedAnswers_.assign(65536, kernel::kUnknown);
            facts_.resize(kOwnKinds + 1, kernel::TriggerFacts{kernel::kUnknown, 0, 0, 0, 0});
        }
        sharedAnswers_[Unit(c)] = answerOf(c);
        triggers_.push_back({c, kernel::Marker(static_cast<unsigned char>(kernel::kSharedTriggerKind))});
    }
    view_ = {entries_.data(), units_.data(), starts_.data(), slots - 1, lists_.data(), allPairs_.data(), startPairs_.data(),
             pairBits, facts_.data(), neighbours_.data(), sharedAnswers_.empty() ? nullptr : sharedAnswers_.data(),
             longest};
}

} // namespace fanjian
