#pragma once

// Phrases for the kernels: longest match first, at each place the longest phrase of the table
// that the text holds there (greedy maximum matching), among the double-byte characters of one
// line. The kernels run the matching only around a trigger, a character that some phrase writes
// otherwise than its own row does; everywhere else each character is converted alone, as if the
// table held no phrase, which gives the same bytes:
//
// - Every phrase that changes what is written holds a trigger; a phrase that changes nothing (a
//   blocker, kept because it stops another from matching inside it) holds none.
// - Around a trigger the matching starts at a place no phrase can span (no phrase holds the pair
//   of characters on either side of it: the pairs of all phrases are kept in a bit set), or at
//   the end of the matching before, or where the run of double-byte characters begins. From a
//   place that no phrase spans, the matching after it does not depend on what lies before it.
// - A trigger that no phrase changing it could cover keeps what it writes alone: bit sets hold
//   the pairs of a changed character and the one such a phrase puts before it, and after it.
//
// A trigger's answer table entry is its own answer, as any character's, with the high bit of its
// first byte cleared where every trigger's answer allows it; a bit set by slot tells the triggers.
// The index is built by PhraseIndex (conversion/PhraseIndex.h); this is what a kernel reads.

#include "conversion/kernel/AnswerTable.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fanjian::kernel {

// A phrase's source and target characters, as two-byte units in the order they are written.
struct PhraseEntry {
    std::uint32_t source; // index of the first unit in Phrases::units
    std::uint32_t target;
    std::uint16_t length; // characters
    bool changes;         // writes something else than its characters' rows (a blocker does not)
};

// The phrases that begin with a pair of characters, longest first: a place in the table of those
// pairs, and at `list` in Phrases::lists their count and then, for each, its length (kChanges set
// where it changes something), its number in Phrases::entries (two units) and the source units
// after the first two.
struct StartSlot {
    std::uint32_t pair; // the first two characters' bytes as one load reads them; 0: empty
    std::uint32_t list;
    static constexpr std::uint32_t kNone = UINT32_MAX;
    static constexpr std::uint16_t kChanges = 0x8000;
};

struct Phrases {
    const PhraseEntry* entries;
    const std::uint16_t* units;
    const StartSlot* starts;
    std::size_t startMask; // slots - 1
    const std::uint16_t* lists;
    const std::uint64_t* allPairs;   // pairs of neighbouring characters in any phrase
    unsigned allPairBits;            // the bit set has 2^allPairBits bits
    const std::uint64_t* startPairs; // the first two characters of any phrase
    unsigned startPairBits;
    const std::uint64_t* triggers;      // by slot, one bit each
    const std::uint64_t* changedAfter;  // pairs of a character and the changed one after it
    const std::uint64_t* changedBefore; // pairs of a changed character and the one after it
    unsigned changedPairBits;
    std::size_t longest; // characters
    // The triggers' answers in the answer table have the high bit of their first byte cleared
    // (AnswerTable.h: Flagged): every answer of a trigger that is no marker had it set.
    bool triggersFlagged;
};

// Bit `i` of a bit set held in 64-bit words.
constexpr bool HasBit(const std::uint64_t* bits, std::size_t i)
{
    return (bits[i >> 6] >> (i & 63)) & 1;
}

inline bool IsTriggerSlot(const Phrases& phrases, std::uint16_t slot)
{
    return HasBit(phrases.triggers, slot);
}

constexpr bool IsCharacterAt(const unsigned char* at)
{
    return at[0] >= 0x81 && at[0] <= 0xFE && at[1] != '\n' && at[1] != '\r';
}

// Where a pair of characters goes in a bit set of 2^pairBits bits: two bits of one word (a
// filter that gets two bits wrong far more seldom than one, for one load all the same). The
// word comes from the top bits of a product of the pair's bytes, the bits from those below them.
struct PairPlace {
    std::size_t word;
    std::uint64_t mask;
};

inline PairPlace PlaceOfPair(std::uint32_t pair, unsigned pairBits)
{
    const std::uint64_t product = pair * 0x9E3779B97F4A7C15ull;
    return {static_cast<std::size_t>(product >> (64 - (pairBits - 6))),
            std::uint64_t{1} << ((product >> 32) & 63) | std::uint64_t{1} << ((product >> 38) & 63)};
}

// Puts `pair` into the bit set.
inline void AddPair(std::uint64_t* bits, unsigned pairBits, std::uint32_t pair)
{
    const PairPlace place = PlaceOfPair(pair, pairBits);
    bits[place.word] |= place.mask;
}

// True when the bit set may hold `pair` (false positives only).
inline bool MayHold(const std::uint64_t* bits, unsigned pairBits, std::uint32_t pair)
{
    const PairPlace place = PlaceOfPair(pair, pairBits);
    return (bits[place.word] & place.mask) == place.mask;
}

// ... the pair of characters at `first`, as a load reads their four bytes.
inline bool MayHold(const std::uint64_t* bits, unsigned pairBits, const unsigned char* first)
{
    std::uint32_t bytes;
    std::memcpy(&bytes, first, 4);
    return MayHold(bits, pairBits, bytes);
}

// True when a phrase that changes the trigger at `trigger` may cover it: the pair of it and the
// character before it, or after it, is one such phrases hold. `lowest` is where the run of
// characters it lies in begins, or a place no match spans.
inline bool MayChange(const Phrases& phrases, const unsigned char* trigger, const unsigned char* lowest,
                      const unsigned char* end)
{
    return (trigger - lowest >= 2 && MayHold(phrases.changedAfter, phrases.changedPairBits, trigger - 2)) ||
           (end - trigger < 4 ||
            (IsCharacterAt(trigger + 2) && MayHold(phrases.changedBefore, phrases.changedPairBits, trigger)));
}

// The slot a pair of first characters is looked for from. The high half of a 64-bit product
// depends on every byte of the pair: the second character's second byte too, which decides
// between the many phrases that start alike.
inline std::size_t StartSlotOf(std::uint32_t pair, std::size_t mask)
{
    return static_cast<std::size_t>((std::uint64_t{pair} * 0x9E3779B97F4A7C15u) >> 32) & mask;
}

// Where the phrases that begin with the pair of characters at `at` are listed, or kNone.
inline std::uint32_t StartList(const Phrases& phrases, const unsigned char* at)
{
    std::uint32_t pair;
    std::memcpy(&pair, at, 4);
    for (std::size_t i = StartSlotOf(pair, phrases.startMask);; i = (i + 1) & phrases.startMask) {
        const StartSlot& slot = phrases.starts[i];
        if (slot.pair == pair)
            return slot.list;
        if (slot.pair == 0)
            return StartSlot::kNone;
    }
}

// True when the `bytes` bytes at `text` (an even number) are the units at `units`. Most phrases
// hold up to four characters, which leaves up to four bytes to compare after the first pair: a
// call of memcmp would cost more than the comparison.
inline bool SameUnits(const unsigned char* text, const std::uint16_t* units, std::size_t bytes)
{
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    switch (bytes) {
    case 0:
        return true;
    case 2:
        std::memcpy(&a, text, 2);
        return static_cast<std::uint16_t>(a) == units[0];
    case 4:
        std::memcpy(&a, text, 4);
        std::memcpy(&b, units, 4);
        return a == b;
    default:
        return std::memcmp(text, units, bytes) == 0;
    }
}

// The longest phrase that begins at `at`, a character of a run of double-byte characters.
struct Longest {
    std::uint32_t phrase = StartSlot::kNone;
    std::size_t length = 0; // characters; 0: none
    bool changes = false;   // the phrase writes something else than its characters alone
    bool needsMore = false; // the block ends before the longest could be told
};

inline Longest LongestAt(const Phrases& phrases, const unsigned char* at, const unsigned char* end, bool atEnd)
{
    Longest found;
    if (end - at < 4) {
        found.needsMore = !atEnd;
        return found;
    }
    // Most places begin no phrase, which a bit set mostly tells.
    if (!IsCharacterAt(at + 2) || !MayHold(phrases.startPairs, phrases.startPairBits, at))
        return found;
    const std::uint32_t list = StartList(phrases, at);
    if (list == StartSlot::kNone)
        return found;
    const std::uint16_t* record = phrases.lists + list + 1;
    for (std::size_t left = phrases.lists[list]; left != 0; --left) {
        const std::size_t length = record[0] & ~StartSlot::kChanges;
        const bool changes = (record[0] & StartSlot::kChanges) != 0;
        const std::uint32_t phrase = static_cast<std::uint32_t>(record[1]) | static_cast<std::uint32_t>(record[2]) << 16;
        const std::uint16_t* const units = record + 3;
        record = units + (length - 2);
        // The source bytes are double-byte characters: bytes equal to them are characters too.
        const std::size_t bytes = 2 * (length - 2);
        const std::size_t held = static_cast<std::size_t>(end - at) - 4;
        if (held < bytes) {
            if (std::memcmp(at + 4, units, held & ~std::size_t{1}) == 0 && !atEnd) {
                found.needsMore = true; // it may go on in the next block
                return found;
            }
            continue;
        }
        if (SameUnits(at + 4, units, bytes)) {
            found.phrase = phrase;
            found.length = length;
            found.changes = changes;
            return found;
        }
    }
    return found;
}

// What the matching around a trigger decided.
struct PhraseMatch {
    enum class Kind {
        Alone,    // no phrase that changes anything covers the trigger: it converts alone
        Segment,  // the trigger lies in the segment from `start` to `end`, a place no match spans
        NeedsMore // the block ends before the matching can be told
    } kind;
    const unsigned char* start = nullptr;
    const unsigned char* end = nullptr;
    std::uint32_t phrase = StartSlot::kNone; // the segment is this phrase, which changes something
};

// Back from `at` to a place no phrase spans, no earlier than `lowest`. A character the block does
// not hold whole (at its end) may be in a phrase with the one before it.
inline const unsigned char* SegmentStartBefore(const Phrases& phrases, const unsigned char* at,
                                               const unsigned char* lowest, const unsigned char* end)
{
    while (at - lowest >= 2 && (end - at < 2 || MayHold(phrases.allPairs, phrases.allPairBits, at - 2)))
        at -= 2;
    return at;
}

// The matching around the trigger at `trigger`, which lies in a run of double-byte characters no
// earlier than `lowest` (the run's start, or the end of the matching before: a place that starts
// a segment); every character between them converts alone.
// Forward from `from`, a place no phrase spans, segment by segment, to the one that holds the
// trigger.
inline PhraseMatch MatchFrom(const Phrases& phrases, const unsigned char* from, const unsigned char* trigger,
                             const unsigned char* end, bool atEnd)
{
    if (end - trigger < 4 && !atEnd)
        return {PhraseMatch::Kind::NeedsMore};
    for (const unsigned char* at = from;;) {
        const Longest longest = LongestAt(phrases, at, end, atEnd);
        if (longest.needsMore)
            return {PhraseMatch::Kind::NeedsMore};
        const unsigned char* next = at + 2 * (longest.length == 0 ? 1 : longest.length);
        if (next > trigger)
            return {PhraseMatch::Kind::Segment, at, next, longest.changes ? longest.phrase : StartSlot::kNone};
        at = next;
    }
}

inline PhraseMatch MatchAround(const Phrases& phrases, const unsigned char* trigger, const unsigned char* lowest,
                               const unsigned char* end, bool atEnd)
{
    if (!MayChange(phrases, trigger, lowest, end))
        return {PhraseMatch::Kind::Alone};
    return MatchFrom(phrases, SegmentStartBefore(phrases, trigger, lowest, end), trigger, end, atEnd);
}

// Where a block that is not a file's last, stopped at `stop` in a run of double-byte characters
// (its characters before `stop` converted alone, back to `lowest`), leaves its tail: a place no
// match spans, so that the next block's matching can start there without the bytes before it.
// At most 64 bytes before `stop`: where phrases are so dense that the pairs tell no such place,
// the matching itself finds one, from the place they do tell.
inline const unsigned char* TailStart(const Phrases& phrases, const unsigned char* stop, const unsigned char* lowest,
                                      const unsigned char* end)
{
    const unsigned char* from = SegmentStartBefore(phrases, stop, lowest, end);
    if (stop - from <= 32)
        return from;
    const unsigned char* last = from;
    for (const unsigned char* at = from;;) {
        const Longest longest = LongestAt(phrases, at, end, false);
        const unsigned char* next = at + 2 * (longest.length == 0 ? 1 : longest.length);
        if (longest.needsMore || stop - next < 32)
            return last;
        at = last = next;
    }
}

} // namespace fanjian::kernel
