// The SSE2 kernel. SSE2 is part of every x86-64 processor; elsewhere the portable kernel runs.
#if defined(__SSE2__)

#include "conversion/kernel/AnswerTable.h"
#include "conversion/kernel/BytePath.h"
#include "conversion/kernel/Declarations.h"
#include "conversion/kernel/Kernel.h"
#include "conversion/kernel/Sse2Steps.h"

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

// What the matching around a trigger at `place` of the window did (kernel/Phrases.h).
struct TriggerInWindow {
    bool stops = false;  // the window ends at `limit`
    bool goesOn = false; // ... and the next window starts there
    int limit = 0;
    std::uint64_t taken = 0;   // places of characters written: the window looks at them no more
    std::uint64_t counted = 0; // places of characters that count
};

// Takes the trigger at `place`: converts it alone, or writes the phrase the matching finds, into
// the window's copy and, for its characters before the window, where they were written.
[[gnu::noinline]] TriggerInWindow TakeTrigger(const Block& block, Cursor& at, std::uint16_t marker,
                                              const unsigned char* in, int place, const unsigned char* lowest,
                                              std::uint64_t characterLeads, unsigned char* copy)
{
    const Phrases& phrases = *block.phrases;
    const unsigned char* const trigger = in + place;
    // A window has bytes enough after it for any phrase: the matching needs no more.
    const PhraseMatch match = MatchAround(phrases, marker, trigger, lowest, block.end, block.atEnd);
    if (match.kind == PhraseMatch::Kind::Segment) {
        if (match.phrase != StartSlot::kNone && match.end > in + 64) {
            // It runs past the window, which ends where it begins: the next window finds it again.
            at.floor = match.start;
            return {true, true, static_cast<int>(match.start - in), 0, 0};
        }
        at.floor = match.end;
    }
    if (match.phrase != StartSlot::kNone) {
        const PhraseEntry& entry = phrases.entries[match.phrase];
        const std::uint16_t* const target = phrases.units + entry.target;
        TriggerInWindow taken;
        for (std::size_t i = 0; i < entry.length; ++i) {
            const unsigned char* const c = match.start + 2 * i;
            if (c < in) {
                std::memcpy(at.o - (in - c), target + i, 2);
                at.waiting += CountsAlone(block, c) ? 0 : 1;
            } else {
                std::memcpy(copy + (c - in), target + i, 2);
                taken.counted |= std::uint64_t{1} << (c - in);
            }
        }
        taken.taken = characterLeads & Below(static_cast<int>(match.end - in)) & ~Below(place);
        return taken;
    }
    const std::uint16_t put = AloneAnswer(phrases, marker, trigger);
    if (put == kUnknown)
        return {true, false, place, 0, 0}; // the byte path stops at it
    const std::uint64_t bit = std::uint64_t{1} << place;
    if (put == kNoRow)
        return {false, false, 0, bit, 0};
    std::memcpy(copy + place, &put, 2);
    return {false, false, 0, bit, bit};
}

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
inline bool ConvertWindows(const Block& block, Cursor& cursor, LineMarks& marks)
{
    constexpr std::uint64_t kEvenPlaces = 0x5555555555555555;
    const unsigned char* in = cursor.in;
    const std::uint16_t* const answers = block.answers;
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
        for (std::uint64_t left = replacedHere; left != 0;) {
            const int place = std::countr_zero(left);
            left &= left - 1;
            const std::uint16_t put = answers[SlotAt(in + place)];
            if (IsMarker(put)) [[unlikely]] {
                if (IsTrigger(put)) {
                    // Alone, unless a phrase that changes it may cover it.
                    const unsigned char* const at = in + place;
                    const std::uint64_t before = ~(characterLeads | characterLeads << 1) & Below(place);
                    const unsigned char* const lowest =
                        std::max(cursor.floor, before != 0 ? in + (64 - std::countl_zero(before)) : cursor.runStart);
                    if (at < cursor.floor || !MayChange(*block.phrases, put, at, lowest, block.end)) {
                        const std::uint16_t alone = AloneAnswer(*block.phrases, put, at);
                        if (!IsMarker(alone)) {
                            std::memcpy(copy + place, &alone, 2);
                            continue;
                        }
                        if (alone == kNoRow) {
                            replacedHere &= ~(std::uint64_t{1} << place);
                            continue;
                        }
                        limit = place; // its row cannot be used: the byte path stops at it
                        goesOn = false;
                        replacedHere &= Below(limit);
                        break;
                    }
                    const TriggerInWindow trigger =
                        TakeTrigger(block, cursor, put, in, place, lowest, characterLeads, copy);
                    if (!trigger.stops) {
                        replacedHere = (replacedHere & ~trigger.taken) | trigger.counted;
                        left &= ~trigger.taken;
                        continue;
                    }
                    limit = trigger.limit;
                    goesOn = trigger.goesOn;
                } else {
                    limit = place;
                    goesOn = false;
                }
                replacedHere &= Below(limit);
                break;
            }
            std::memcpy(copy + place, &put, 2);
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
            if (!ConvertWindows(block, at, marks)) {
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
