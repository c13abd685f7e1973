#pragma once

// Phrases in UTF-8 text: the same matching as in Big5 or GB2312 text (kernel/Phrases.h), over the
// characters of three bytes that the direction's source code page holds. Around a trigger, the
// run of such characters is read into the source code page's codes, the matching runs over them,
// and a phrase it finds is written back in UTF-8. A run of characters here ends at any other
// character or byte; the matching looks back at most kLookBack characters (past that the pairs of
// the phrases would have to hold every pair of the run: text made for it, not written). A phrase
// is written only where every character of it, alone and in the phrase, takes three bytes in
// UTF-8; any other matches all the same and writes what its characters write alone.

#include "conversion/kernel/BytePath.h"
#include "conversion/kernel/Kernel.h"
#include "conversion/kernel/Phrases.h"
#include "conversion/kernel/Utf8Path.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fanjian::kernel {

struct Utf8Phrases {
    const std::uint64_t* triggers;   // by code point, one bit each
    const std::uint16_t* codes;      // the source code page's code of a character, or 0
    const char16_t* characters;      // the target code page's character of a code, or 0
    const std::uint64_t* threeBytes; // by phrase: written, alone and in the phrase, with three bytes each
    // Phrases::changedAfter and changedBefore, of pairs of code points (the first in the high half),
    // as many bits.
    const std::uint64_t* changedAfter;
    const std::uint64_t* changedBefore;
};

inline constexpr std::size_t kLookBack = 128;

// The code point of the character of three bytes at `at`, or 0 when there is none.
inline std::uint32_t ThreeByteCodePointAt(const unsigned char* at, const unsigned char* end)
{
    if (end - at < 3 || (at[0] & 0xF0) != 0xE0 || (at[1] & 0xC0) != 0x80 || (at[2] & 0xC0) != 0x80)
        return 0;
    const unsigned codePoint = (at[0] & 0x0Fu) << 12 | (at[1] & 0x3Fu) << 6 | (at[2] & 0x3Fu);
    return codePoint < 0x800 || (codePoint >= 0xD800 && codePoint <= 0xDFFF) ? 0 : codePoint;
}

// The source code page's code of the character of three bytes at `at`, as a unit of two bytes in
// the order a load reads them (kernel/AnswerTable.h); 0 when there is none.
inline std::uint16_t PageUnitAt(const Utf8Phrases& utf8, const unsigned char* at, const unsigned char* end)
{
    const std::uint32_t codePoint = ThreeByteCodePointAt(at, end);
    if (codePoint == 0)
        return 0;
    const std::uint16_t code = utf8.codes[codePoint];
    return code == 0 ? 0 : InStoreOrder(static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code));
}

inline bool IsUtf8Trigger(const Utf8Phrases& utf8, std::uint32_t codePoint)
{
    return HasBit(utf8.triggers, codePoint);
}

// The run of characters around a place, read as the codes the phrases hold: `units` from `first`
// (a place of the UTF-8 text) on, one unit for each character of three bytes.
struct CodedRun {
    static constexpr std::size_t kAhead = 17; // the longest phrase, and one
    unsigned char bytes[2 * (kLookBack + 1 + kAhead)];
    const unsigned char* first; // the UTF-8 place of bytes[0]
    std::size_t count = 0;      // characters
    bool ended = true;          // nothing of the run lies past the last character read

    const unsigned char* Coded(const unsigned char* text) const { return bytes + 2 * ((text - first) / 3); }
    const unsigned char* Text(const unsigned char* coded) const { return first + 3 * ((coded - bytes) / 2); }
    const unsigned char* End() const { return bytes + 2 * count; }
};

// Reads the run around `at` (a character start), back to `lowest` at most and forward to `ahead`
// characters past `at`.
inline void ReadRun(CodedRun& run, const Utf8Phrases& utf8, const unsigned char* at, const unsigned char* lowest,
                    const unsigned char* end, bool atEnd, std::size_t ahead)
{
    const unsigned char* from = at;
    std::size_t back = 0;
    while (back < kLookBack && from - lowest >= 3 && PageUnitAt(utf8, from - 3, end) != 0) {
        from -= 3;
        ++back;
    }
    run.first = from;
    run.count = 0;
    const unsigned char* c = from;
    for (; c < end && run.count < back + ahead; c += 3) {
        const std::uint16_t unit = PageUnitAt(utf8, c, end);
        if (unit == 0)
            break;
        std::memcpy(run.bytes + 2 * run.count++, &unit, 2);
    }
    // Bytes of the block that may still be a character of the run, or none left to look at.
    run.ended = atEnd || (c < end && end - c >= 3) || run.count == back + ahead;
}

// True when a phrase that changes the trigger at `trigger` may cover it (kernel/Phrases.h's
// MayChange), in UTF-8.
// The pairs are those of code points: no character needs its code looked up.
inline bool MayChangeUtf8(const Phrases& phrases, const Utf8Phrases& utf8, const unsigned char* trigger,
                          const unsigned char* floor, const unsigned char* end, bool atEnd)
{
    const std::uint32_t self = ThreeByteCodePointAt(trigger, end);
    const std::uint32_t before = trigger - floor >= 3 ? ThreeByteCodePointAt(trigger - 3, end) : 0;
    const std::uint32_t after = ThreeByteCodePointAt(trigger + 3, end);
    return (before != 0 && MayHold(utf8.changedAfter, phrases.changedPairBits, before << 16 | self)) ||
           (after != 0 && MayHold(utf8.changedBefore, phrases.changedPairBits, self << 16 | after)) ||
           (after == 0 && !atEnd && end - trigger < 6);
}

// The matching around the trigger at `trigger` (kernel/Phrases.h's MatchAround), in UTF-8. Most
// matchings are told by a few characters on either side, whose codes it reads first; then sixteen
// back and as many ahead as the longest phrase needs, and the whole run back when the matching may
// start before them.
inline PhraseMatch MatchAroundUtf8(const Phrases& phrases, const Utf8Phrases& utf8, const unsigned char* trigger,
                                   const unsigned char* floor, const unsigned char* end, bool atEnd)
{
    constexpr std::ptrdiff_t kNear = 4;
    CodedRun run;
    // The matching from `from`, in the run's codes, with its segment's places in the text.
    const auto matchFrom = [&](const unsigned char* from) {
        PhraseMatch match = MatchFrom(phrases, from, run.Coded(trigger), run.End(), run.ended);
        if (match.kind == PhraseMatch::Kind::Segment) {
            match.start = run.Text(match.start);
            match.end = run.Text(match.end);
        }
        return match;
    };
    ReadRun(run, utf8, trigger, trigger - floor > 3 * kNear ? trigger - 3 * kNear : floor, end, atEnd,
            std::size_t{kNear});
    if (run.count == static_cast<std::size_t>((trigger - run.first) / 3 + kNear))
        run.ended = false; // cut by the count, not by the text: a phrase may go on past it
    if (const unsigned char* from = SegmentStartBefore(phrases, run.Coded(trigger), run.bytes, run.End());
        from != run.bytes || run.first - floor < 3 || PageUnitAt(utf8, run.first - 3, end) == 0) {
        if (const PhraseMatch match = matchFrom(from); match.kind != PhraseMatch::Kind::NeedsMore)
            return match;
    }
    ReadRun(run, utf8, trigger, trigger - floor > 3 * 16 ? trigger - 3 * 16 : floor, end, atEnd, CodedRun::kAhead);
    const unsigned char* from = SegmentStartBefore(phrases, run.Coded(trigger), run.bytes, run.End());
    if (from == run.bytes && run.first > floor && run.first - floor >= 3 &&
        PageUnitAt(utf8, run.first - 3, end) != 0) {
        ReadRun(run, utf8, trigger, floor, end, atEnd, CodedRun::kAhead);
        from = SegmentStartBefore(phrases, run.Coded(trigger), run.bytes, run.End());
    }
    return matchFrom(from);
}

// Where a block that is not a file's last, stopped at `stop` after a character of a run, leaves
// its tail (kernel/Phrases.h's TailStart), in UTF-8.
inline const unsigned char* TailStartUtf8(const Phrases& phrases, const Utf8Phrases& utf8, const unsigned char* stop,
                                          const unsigned char* floor, const unsigned char* end)
{
    CodedRun run;
    ReadRun(run, utf8, stop, floor, end, false, 0);
    return run.Text(TailStart(phrases, run.End(), run.bytes, run.End()));
}

// The number of bytes the character of three bytes at `at` was written with, converted alone,
// and whether it counted.
inline std::size_t WrittenAlone(const Block& block, const unsigned char* at, bool& counted)
{
    const unsigned codePoint = (at[0] & 0x0Fu) << 12 | (at[1] & 0x3Fu) << 6 | (at[2] & 0x3Fu);
    const std::uint32_t entry = block.utf8Answers[codePoint];
    counted = (entry & kUtf8Kinds) != kUtf8NoRow;
    return (entry & kUtf8Kinds) == kUtf8TwoBytes ? 2 : 3;
}

// Writes the phrase of `match` in UTF-8: its characters before `trigger` over what they were
// written with alone, before `o`, the rest from `o` on. False, and nothing written, where the
// phrase writes what its characters write alone in UTF-8. Returns the bytes written from `o` on and
// how many characters the phrase counts more than those before the trigger counted alone.
inline bool WriteUtf8Phrase(const Block& block, const Phrases& phrases, const Utf8Phrases& utf8,
                            const PhraseMatch& match, const unsigned char* trigger, char* o, std::size_t& written,
                            std::size_t& counts)
{
    if (!HasBit(utf8.threeBytes, match.phrase))
        return false;
    const PhraseEntry& entry = phrases.entries[match.phrase];
    counts = entry.length;
    std::size_t before = 0;
    for (const unsigned char* c = match.start; c < trigger; c += 3) {
        bool counted = false;
        before += WrittenAlone(block, c, counted);
        counts -= counted ? 1 : 0;
    }
    char* put = o - before;
    for (std::size_t i = 0; i < entry.length; ++i, put += 3) {
        std::uint16_t unit;
        std::memcpy(&unit, phrases.units + entry.target + i, 2);
        const auto* b = reinterpret_cast<const unsigned char*>(&unit);
        const std::uint32_t bytes = Utf8Answer(0x800, utf8.characters[static_cast<std::uint16_t>(b[0] << 8 | b[1])]);
        put[0] = static_cast<char>(bytes);
        put[1] = static_cast<char>(bytes >> 8);
        put[2] = static_cast<char>(bytes >> 16);
    }
    written = static_cast<std::size_t>(put - o);
    return true;
}

// A trigger of three bytes at `at.in`, taken by the UTF-8 byte path: alone, or in the phrase the
// matching finds. False when the kernel has to stop, for the reason put in `stop`. `entry` is the
// trigger's own, known answer.
inline bool Utf8TriggerStep(const Block& block, Cursor& at, std::uint32_t entry, Stop& stop)
{
    const Phrases& phrases = *block.phrases;
    const Utf8Phrases& utf8 = *block.utf8Phrases;
    const unsigned char* const trigger = at.in;
    if (trigger >= at.floor && MayChangeUtf8(phrases, utf8, trigger, at.floor, block.end, block.atEnd)) {
        const PhraseMatch match = MatchAroundUtf8(phrases, utf8, trigger, at.floor, block.end, block.atEnd);
        if (match.kind == PhraseMatch::Kind::NeedsMore) {
            stop = Stop::Tail;
            return false;
        }
        if (match.kind == PhraseMatch::Kind::Segment)
            at.floor = match.end;
        std::size_t written = 0;
        std::size_t counts = 0;
        if (match.phrase != StartSlot::kNone &&
            WriteUtf8Phrase(block, phrases, utf8, match, trigger, at.o, written, counts)) {
            at.o += written;
            at.in = match.end;
            at.waiting += counts;
            at.sawSequence = true;
            return true;
        }
    }
    at.o[0] = static_cast<char>(entry);
    at.o[1] = static_cast<char>(entry >> 8);
    at.o[2] = static_cast<char>(entry >> 16);
    if ((entry & kUtf8Kinds) == kUtf8NoRow) {
        std::memcpy(at.o, trigger, 3);
    } else {
        ++at.waiting;
    }
    at.o += (entry & kUtf8Kinds) == kUtf8TwoBytes ? 2 : 3;
    at.in += 3;
    at.sawSequence = true;
    return true;
}

// At the end of a block that is not a file's last, after a character of a run: the characters
// from a place no match spans on are left to the next block, as if never taken.
inline void LeaveUtf8RunToNextBlock(const Block& block, Cursor& at, Stop& stop)
{
    const unsigned char* const from = TailStartUtf8(*block.phrases, *block.utf8Phrases, at.in, at.floor, block.end);
    for (const unsigned char* c = from; c < at.in; c += 3) {
        bool counted = false;
        at.o -= WrittenAlone(block, c, counted);
        at.waiting -= counted ? 1 : 0;
    }
    at.in = from;
    stop = Stop::Tail;
}

// One step of the UTF-8 byte path at `at.in`, a byte 0x80 or above. False when the kernel has to
// stop, for the reason put in `stop`.
inline bool Utf8Step(const Block& block, Cursor& at, Stop& stop)
{
    const Utf8Sequence sequence = ReadSequence(at.in, block.end);
    if (sequence.length == -1 && !block.atEnd) {
        stop = Stop::Tail; // the rest of it may be in the next block
        return false;
    }
    if (sequence.length <= 0) {
        if (block.strictUtf8) {
            stop = Stop::Malformed;
            return false;
        }
        *at.o++ = static_cast<char>(*at.in++);
        return true;
    }
    at.sawSequence = true;
    const auto length = static_cast<std::size_t>(sequence.length);
    const std::uint32_t entry = sequence.codePoint < kUtf8AnswerCount ? block.utf8Answers[sequence.codePoint] : kUtf8NoRow;
    if (entry == kUtf8Unknown) {
        stop = Stop::Unknown;
        return false;
    }
    if (block.utf8Phrases && length == 3 && IsUtf8Trigger(*block.utf8Phrases, sequence.codePoint))
        return Utf8TriggerStep(block, at, Utf8Unflagged(entry), stop);
    switch (entry & kUtf8Kinds) {
    case kUtf8ThreeBytes:
    case kUtf8ThreeForTwo:
    case kUtf8TwoBytes: {
        at.o[0] = static_cast<char>(entry);
        at.o[1] = static_cast<char>(entry >> 8);
        if ((entry & kUtf8Kinds) != kUtf8TwoBytes)
            *(at.o++ + 2) = static_cast<char>(entry >> 16);
        at.o += 2;
        at.in += length;
        ++at.waiting;
        return true;
    }
    default: // no row
        std::memcpy(at.o, at.in, length);
        at.o += length;
        at.in += length;
        return true;
    }
}

inline Progress LeaveUtf8(const Block& block, Cursor& at, LineMarks& marks, Matching& matching, Stop stop)
{
    if (block.utf8Phrases && !block.atEnd && (stop == Stop::Done || stop == Stop::Tail) && at.in - at.floor >= 3 &&
        PageUnitAt(*block.utf8Phrases, at.in - 3, block.end) != 0)
        LeaveUtf8RunToNextBlock(block, at, stop);
    marks.waiting = at.waiting;
    marks.lineStart = at.lineStart;
    matching.runStart = at.runStart;
    matching.floor = at.floor;
    return {at.in, at.o, stop, at.sawSequence};
}

} // namespace fanjian::kernel
