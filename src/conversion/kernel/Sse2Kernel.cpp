// The SSE2 kernel. SSE2 is part of every x86-64 processor; elsewhere the portable kernel runs.
#if defined(__SSE2__)

#include "conversion/kernel/AnswerTable.h"
#include "conversion/kernel/BytePath.h"
#include "conversion/kernel/Declarations.h"
#include "conversion/kernel/Kernel.h"
#include "conversion/kernel/Sse2Steps.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <emmintrin.h>

namespace fanjian::kernel {

namespace {

// The kinds of 64 bytes, as bit masks (bit i for byte i), copied to `copy` while they are looked
// at. A 'c' or 'C' counts only before h, H, o or O, which a second load, one byte further on,
// tells: so the 65th byte is read too.
struct WindowKinds {
    std::uint64_t leads;        // 0x81..0xFE
    std::uint64_t lineEnds;     // CR, LF
    std::uint64_t declarations; // 'c' or 'C' before h or o, which may start a declaration
};

inline WindowKinds LookAtWindow(const unsigned char* in, unsigned char* copy)
{
    const __m128i caseBit = _mm_set1_epi8(0x20);
    WindowKinds kinds{0, 0, 0};
    for (int looked = 0; looked < 64; looked += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + looked));
        const __m128i next = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + looked + 1)), caseBit);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(copy + looked), bytes);
        const __m128i noLead = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(0x80))),
                                            _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(0xFF))));
        const __m128i declaration =
            _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(bytes, caseBit), _mm_set1_epi8('c')),
                          _mm_or_si128(_mm_cmpeq_epi8(next, _mm_set1_epi8('h')), _mm_cmpeq_epi8(next, _mm_set1_epi8('o'))));
        const auto lineEnd = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')))));
        // The sign bits are the bytes 0x80 and above.
        const auto lead = static_cast<unsigned>(_mm_movemask_epi8(bytes)) &
                          ~static_cast<unsigned>(_mm_movemask_epi8(noLead));
        const auto declarationStart = static_cast<unsigned>(_mm_movemask_epi8(declaration));
        kinds.leads |= static_cast<std::uint64_t>(lead) << looked;
        kinds.lineEnds |= static_cast<std::uint64_t>(lineEnd) << looked;
        kinds.declarations |= static_cast<std::uint64_t>(declarationStart) << looked;
    }
    return kinds;
}

// Takes the trigger at `place` of the window, whose characters before `limit` are in `copy`,
// each as it converts alone: where the matching finds a phrase that changes something, writes it
// into the copy and, for its characters before the window, where they were written. The trigger
// is one a phrase that changes it may cover (MayChange). False when
// the phrase runs past `limit`: the window is to end at the trigger, for the byte path to take it.
[[gnu::noinline]] bool TakeTrigger(const Block& block, Cursor& at, const unsigned char* in, int place, int limit,
                                   const unsigned char* lowest, unsigned char* copy)
{
    const Phrases& phrases = *block.phrases;
    const unsigned char* const trigger = in + place;
    // A window has bytes enough after it for any phrase: the matching needs no more. The window
    // asked MayChange before the call.
    const PhraseMatch match =
        MatchFrom(phrases, SegmentStartBefore(phrases, trigger, lowest, block.end), trigger, block.end, block.atEnd);
    if (match.kind != PhraseMatch::Kind::Segment)
        return true;
    if (match.phrase == StartSlot::kNone) {
        at.floor = match.end;
        return true;
    }
    if (match.end > in + limit)
        return false;
    at.floor = match.end;
    const PhraseEntry& entry = phrases.entries[match.phrase];
    const std::uint16_t* const target = phrases.units + entry.target;
    for (std::size_t i = 0; i < entry.length; ++i) {
        const unsigned char* const c = match.start + 2 * i;
        if (c < in) {
            // Every character of the phrase counts once: those before the window counted alone
            // where they had a row.
            std::memcpy(at.o - (in - c), target + i, 2);
            at.waiting += CountsAlone(block, c) ? 0 : 1;
        } else {
            std::memcpy(copy + (c - in), target + i, 2);
        }
    }
    return true;
}

// Where the run of double-byte characters that holds the one at `place` of the window begins, or
// `floor` where that is later: the lowest place a matching around it may start from.
inline const unsigned char* LowestBefore(const Cursor& cursor, const unsigned char* in, int place,
                                         std::uint64_t characterLeads, const unsigned char* floor)
{
    const std::uint64_t before = ~(characterLeads | characterLeads << 1) & Below(place);
    return std::max(floor, before != 0 ? in + (64 - std::countl_zero(before)) : cursor.runStart);
}

// The places of a window whose characters have one before them that a matching around them may
// look at (in their run, and no lower than the floor) and one after them; and the places at or
// above the floor.
struct Neighbours {
    std::uint64_t before;
    std::uint64_t after;
    std::uint64_t fromFloor;
};

inline Neighbours NeighboursInWindow(const Cursor& cursor, const unsigned char* in, std::uint64_t characterLeads,
                                     const unsigned char* floor)
{
    // The window's first place starts a character: the one before it is in its run where the run
    // began at least a character earlier.
    const std::uint64_t firstHasBefore = std::uint64_t{in - std::max(floor, cursor.runStart) >= 2};
    const auto place = [](std::ptrdiff_t offset) {
        return static_cast<int>(std::clamp<std::ptrdiff_t>(offset, 0, 64));
    };
    const std::uint64_t fromFloor = ~Below(place(floor - in));
    const std::uint64_t before = ((characterLeads << 2) | firstHasBefore) & characterLeads &
                                 ~Below(place(floor - in + 2));
    // The next place of a character is one when it starts a character; where that lies at the
    // window's last place or past it, the bytes tell (a lead byte there may come before a line end).
    const std::uint64_t after = ((characterLeads >> 2) & Below(61)) | std::uint64_t{IsCharacterAt(in + 63)} << 61 |
                                std::uint64_t{IsCharacterAt(in + 64)} << 62;
    return {before, after, fromFloor};
}

// How a window tells its triggers: none (no phrases); a bit set by slot, tested for each
// character; or the high bit of the first byte of each answer written (Phrases::triggersFlagged).
enum class Triggers { None, BitSet, Flag };

// Converts the text from `at.in` (a character start) 64 bytes at a time, for as long as no byte
// needs a look of its own, and stops at a declaration to rewrite, a lead byte whose answer is a
// marker, or where fewer than kWindowReach bytes are left. False when it stopped after a line end
// that found no mark left (Stop::MarksFull).
//
// A window's bytes are copied while their kinds are taken as bit masks, and the double-byte
// characters are then found among them without a branch per byte: a run of lead bytes that starts
// at a character start holds lead bytes at its even places and trail bytes at its odd ones (the
// trail byte of its last lead byte, when the run is odd, follows it), and a run starts at the
// first place or after a byte that is no lead byte, which always ends a character. A lead byte
// before CR or LF stands alone, so it is left out of the runs. The characters of the whole window
// are replaced in its copy, and the copy is then written out line by line.
template <Triggers kTriggers>
inline bool ConvertWindows(const Block& block, Cursor& cursor, LineMarks& marks)
{
    constexpr bool kPhrases = kTriggers != Triggers::None;
    constexpr std::uint64_t kEvenPlaces = 0x5555555555555555;
    constexpr int kFlagShift = std::countr_zero(kFirstByteHighBit);
    const unsigned char* in = cursor.in;
    const std::uint16_t* const answers = block.answers;
    // Read once: the stores into the copy may alias anything, the bits' address included.
    const std::uint64_t* const triggerBits = kPhrases ? block.phrases->triggers : nullptr;
    // The window's copy, with room for 64 bytes copied from any of its places.
    alignas(16) unsigned char copy[2 * 64 + 16] = {};
    while (block.end - in >= kWindowReach) {
        const WindowKinds kinds = LookAtWindow(in, copy);
        const std::uint64_t leads = kinds.leads & ~(kinds.lineEnds >> 1);
        const std::uint64_t runStarts = leads & ~(leads << 1);
        // Adding a run's first bit carries through the run and clears it: what is cleared are the
        // runs that start at an even place.
        const std::uint64_t evenRuns = leads & ~(leads + (runStarts & kEvenPlaces));
        const std::uint64_t characterLeads = (evenRuns & kEvenPlaces) | (leads & ~evenRuns & ~kEvenPlaces);
        // No trail byte is CR or LF. A declaration starts only where a character starts, and
        // most words that begin with "ch" or "co" are none; the first that is stops the window
        // (the 15 bytes it may take lie within the bytes left). A character on the window's edge
        // is the next window's first.
        std::uint64_t declarations = kinds.declarations & ~(characterLeads << 1);
        while (declarations != 0) {
            const int place = std::countr_zero(declarations);
            if (StartsDeclaration(std::string_view(reinterpret_cast<const char*>(in + place), kLongestDeclaration),
                                  *block.rewrites))
                break;
            declarations &= declarations - 1;
        }
        int limit = declarations != 0 ? std::countr_zero(declarations) : 64 - static_cast<int>(characterLeads >> 63);
        bool goesOn = declarations == 0; // the next window starts at `limit`

        std::uint64_t replacedHere = characterLeads & Below(limit);
        std::uint64_t triggers = 0;
        std::uint64_t highBits = 0; // each answer's flag bit, rotated to its place plus kFlagShift
        for (std::uint64_t left = replacedHere; left != 0; left &= left - 1) {
            const int place = std::countr_zero(left);
            const std::uint16_t slot = SlotAt(in + place);
            const std::uint16_t put = answers[slot];
            if (IsMarker(put)) {
                limit = place;
                replacedHere &= Below(limit);
                goesOn = false;
                break;
            }
            std::memcpy(copy + place, &put, 2);
            if constexpr (kTriggers == Triggers::BitSet)
                triggers |= std::uint64_t{HasBit(triggerBits, slot)} << place;
            if constexpr (kTriggers == Triggers::Flag)
                highBits |= std::rotl(std::uint64_t{static_cast<std::uint16_t>(put & kFirstByteHighBit)}, place);
        }
        // The answers written without their flag bit: the triggers, and the characters of a table
        // whose answers may begin below 0x80, which the bit set tells apart.
        if constexpr (kTriggers == Triggers::Flag)
            triggers = replacedHere & ~std::rotr(highBits, kFlagShift);
        triggers &= Below(limit);
        if (kPhrases && triggers != 0) {
            // First each trigger as it converts alone, and whether a phrase that changes it may
            // cover it, without a branch: which way those tests go changes from trigger to
            // trigger. Those below the floor lie in the segment of a matching before: no
            // candidates. The matchings in this window may move the floor up, which only takes
            // candidates away; the second loop asks again.
            const unsigned char* const floor = cursor.floor;
            const Neighbours neighbours = NeighboursInWindow(cursor, in, characterLeads, floor);
            const Phrases& phrases = *block.phrases;
            std::uint64_t candidates = 0;
            for (std::uint64_t left = triggers; left != 0; left &= left - 1) {
                const int place = std::countr_zero(left);
                const unsigned char* const trigger = in + place;
                bool isTrigger = true;
                if constexpr (kTriggers == Triggers::Flag) {
                    // Its answer gets its bit back.
                    isTrigger = HasBit(triggerBits, SlotAt(trigger));
                    copy[place] |= static_cast<unsigned char>(isTrigger << 7);
                }
                const bool hasBefore = (neighbours.before >> place) & 1;
                const bool hasAfter = (neighbours.after >> place) & 1;
                const unsigned char* const pair = hasBefore ? trigger - 2 : trigger; // read either way
                const bool may = (hasBefore & MayHold(phrases.changedAfter, phrases.changedPairBits, pair)) |
                                 (hasAfter & MayHold(phrases.changedBefore, phrases.changedPairBits, trigger));
                candidates |= static_cast<std::uint64_t>(isTrigger & may) << place;
            }
            candidates &= neighbours.fromFloor;
            for (; candidates != 0; candidates &= candidates - 1) {
                const int place = std::countr_zero(candidates);
                const unsigned char* const trigger = in + place;
                if (trigger < cursor.floor)
                    continue; // inside the segment of a matching before
                const unsigned char* const lowest = LowestBefore(cursor, in, place, characterLeads, cursor.floor);
                if (cursor.floor != floor && !MayChange(*block.phrases, trigger, lowest, block.end))
                    continue;
                if (!TakeTrigger(block, cursor, in, place, limit, lowest, copy)) {
                    limit = place;
                    replacedHere &= Below(limit);
                    goesOn = false;
                    break;
                }
            }
        }

        int from = 0;    // the first byte of the window not yet written
        int counted = 0; // the replacements before this place are in `cursor.waiting`
        for (std::uint64_t lineEnds = kinds.lineEnds & Below(limit); lineEnds != 0; lineEnds &= ~Below(from)) {
            const int stop = std::countr_zero(lineEnds);
            Copy64(copy + from, cursor.o);
            cursor.o += stop - from;
            cursor.waiting += static_cast<std::size_t>(CountPlaces(replacedHere & Below(stop) & ~Below(counted)));
            counted = stop;
            // The 65th byte may be the LF of a CR that ends the window.
            from = stop + (in[stop] == '\r' && in[stop + 1] == '\n' ? 2 : 1);
            if (!EndLine(cursor, block.base, marks)) {
                // The next window starts after the line end; no matching goes on through it.
                cursor.in = cursor.runStart = in + from;
                cursor.floor = std::min(cursor.floor, cursor.in);
                return false;
            }
        }
        cursor.waiting += static_cast<std::size_t>(CountPlaces(replacedHere & ~Below(counted)));
        if (from < limit) {
            Copy64(copy + from, cursor.o);
            cursor.o += limit - from;
            from = limit;
        }
        if (const std::uint64_t notInRuns = ~(characterLeads | characterLeads << 1) & Below(from); notInRuns != 0)
            cursor.runStart = in + (64 - std::countl_zero(notInRuns));
        in += from;
        if (!goesOn)
            break;
    }
    cursor.in = in;
    return true;
}

} // namespace

// The windows take the text for as long as they can; what they leave, and the last bytes of a
// block, take the byte path.
Progress ConvertSse2(const Block& given, const unsigned char* in, char* o, LineMarks& marks, Matching& matching)
{
    // A copy of its own, which no store through the output can be taken to change.
    const Block block = given;
    Cursor at = Enter(in, o, marks, matching);
    Stop stop = Stop::Done;
    for (;;) {
        if (block.end - at.in >= kWindowReach) {
            const bool goesOn = !block.phrases                 ? ConvertWindows<Triggers::None>(block, at, marks)
                                : block.phrases->triggersFlagged ? ConvertWindows<Triggers::Flag>(block, at, marks)
                                                                 : ConvertWindows<Triggers::BitSet>(block, at, marks);
            if (!goesOn) {
                stop = Stop::MarksFull;
                break;
            }
            if (block.end - at.in < kWindowReach)
                continue;
            // A byte the windows leave to the byte path.
        } else {
            const unsigned char* const from = at.in;
            at.in = CopyPlain(at.in, block.end, at.o);
            if (at.in != from)
                at.runStart = at.in;
            if (at.in == block.end)
                break;
        }
        if (!ByteStep(block, at, marks, stop))
            break;
    }
    return Leave(block, at, marks, matching, stop);
}

} // namespace fanjian::kernel

#endif
