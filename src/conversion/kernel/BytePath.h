#pragma once

// What every kernel shares: the byte path, which takes whatever the kernel's fast steps leave to a
// look of its own (a run of double-byte characters, a line end, a declaration, the last bytes of
// a block), and the plain copy eight bytes at a time.

#include "conversion/kernel/AnswerTable.h"
#include "conversion/kernel/Declarations.h"
#include "conversion/kernel/Kernel.h"
#include "conversion/kernel/Phrases.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace fanjian::kernel {

constexpr bool IsLineEnd(unsigned char c)
{
    return c == '\n' || c == '\r';
}

constexpr bool IsLeadByte(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

// What a kernel keeps at hand while it goes; the marks get their part back when it returns.
struct Cursor {
    const unsigned char* in;
    char* o;
    std::size_t waiting;   // LineMarks::waiting
    std::size_t lineStart; // LineMarks::lineStart
    bool sawSequence;      // Progress::sawSequence
    const unsigned char* runStart; // Matching::runStart
    const unsigned char* floor;    // Matching::floor
};

inline Cursor Enter(const unsigned char* in, char* o, const LineMarks& marks, const Matching& matching)
{
    return {in, o, marks.waiting, marks.lineStart, false, matching.runStart, matching.floor};
}

// True when the character at `at`, converted alone, was written from a row: counted.
inline bool CountsAlone(const Block& block, const unsigned char* at)
{
    return !IsMarker(block.answers[SlotAt(at)]);
}

// At the end of a block that is not a file's last, in a run of double-byte characters: phrases
// may go on in the next block, so the characters from a place no match spans on are left to it,
// as if never taken (the kernel took none of them in a phrase).
inline void LeaveRunToNextBlock(const Block& block, Cursor& at, Stop& stop)
{
    const unsigned char* const lowest = std::max(at.floor, at.runStart);
    const unsigned char* const from = TailStart(*block.phrases, at.in, lowest, block.end);
    for (const unsigned char* c = from; c < at.in; c += 2)
        at.waiting -= CountsAlone(block, c) ? 1 : 0;
    at.o -= at.in - from;
    at.in = from;
    stop = Stop::Tail;
}

inline Progress Leave(const Block& block, Cursor& at, LineMarks& marks, Matching& matching, Stop stop)
{
    if (block.phrases && !block.atEnd && at.runStart < at.in &&
        (stop == Stop::Done || (stop == Stop::Tail && IsLeadByte(*at.in))))
        LeaveRunToNextBlock(block, at, stop);
    marks.waiting = at.waiting;
    marks.lineStart = at.lineStart;
    matching.runStart = at.runStart;
    matching.floor = at.floor;
    return {at.in, at.o, stop, at.sawSequence};
}

// Writes the CR LF that ends a line and starts the next one. False when the line needs a mark and
// none is left: the replacements waiting are to be shown before the kernel goes on.
inline bool EndLine(Cursor& at, char* base, LineMarks& marks)
{
    std::memcpy(at.o, "\r\n", 2);
    at.o += 2;
    at.lineStart = static_cast<std::size_t>(at.o - base);
    // A line that begins with no replacement waiting needs no mark: the first line of those
    // waiting is where a view that abandons the run leaves it. (A mark for it would outlast the
    // lines after it that have no replacement either.)
    if (at.waiting == 0) {
        marks.firstLineStart = at.lineStart;
        return true;
    }
    if (marks.count == LineMarks::kCapacity)
        return false;
    marks.marks[marks.count++] = {at.waiting, at.lineStart};
    return true;
}

// True when the byte at `in` cannot be copied as it is without a look at what it means: a byte
// 0x80 or above, CR, LF, or a 'c' or 'C' that may start a declaration (or ends the bytes at hand,
// so that what follows it is not known yet). Every byte before the first such byte starts a
// character of its own.
inline bool StopsCopying(const unsigned char* in, const unsigned char* end)
{
    const unsigned char c = *in;
    if (c >= 0x80 || IsLineEnd(c))
        return true;
    return (c | 0x20) == 'c' && (end - in == 1 || CanFollowDeclarationStart(in[1]));
}

// True when none of the eight bytes is 0x80 or above, 'c', 'C', CR or LF.
constexpr bool IsPlainWord(std::uint64_t word)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighs = 0x8080808080808080;
    const auto hasZeroByte = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
    const std::uint64_t c = (word | 0x2020202020202020) ^ 0x6363636363636363; // zero where 'c' or 'C'
    const std::uint64_t lf = word ^ 0x0A0A0A0A0A0A0A0A;
    const std::uint64_t cr = word ^ 0x0D0D0D0D0D0D0D0D;
    return ((word & kHighs) | hasZeroByte(c) | hasZeroByte(lf) | hasZeroByte(cr)) == 0;
}

// Copies the bytes from `in` to `o` up to the first that StopsCopying (or `end`), eight at a time
// where none of them is a 'c'; returns where it stopped.
inline const unsigned char* CopyPlainWords(const unsigned char* in, const unsigned char* end, char*& o)
{
    for (;;) {
        while (end - in >= 8) {
            std::uint64_t word;
            std::memcpy(&word, in, 8);
            if (!IsPlainWord(word))
                break;
            std::memcpy(o, &word, 8);
            o += 8;
            in += 8;
        }
        if (in == end || StopsCopying(in, end))
            return in;
        *o++ = static_cast<char>(*in++);
    }
}

// Converts the double-byte characters from `at.in` on while their answers are known: up to the
// first byte that is no lead byte, the first answer that is a marker, a trigger (with phrases), or
// a lead byte that ends the block. Two characters a step, as long as four bytes are left.
inline void ConvertKnownRun(Cursor& at, const unsigned char* const end, const std::uint16_t* const answers,
                            const Phrases* phrases)
{
    const unsigned char* in = at.in;
    char* o = at.o;
    std::size_t replaced = 0;
    const auto stops = [phrases](std::uint16_t put, const unsigned char* c) {
        return IsMarker(put) || (phrases && IsTriggerSlot(*phrases, SlotAt(c)));
    };
    const unsigned char* const lastPair = end - in >= 4 ? end - 3 : in; // no step of two starts here
    while (in < lastPair && IsLeadByte(in[0]) && IsLeadByte(in[2])) {
        const std::uint16_t put = answers[SlotAt(in)];
        const std::uint16_t next = answers[SlotAt(in + 2)]; // used only when `put` is an answer
        if (stops(put, in) || stops(next, in + 2))
            break;
        std::memcpy(o, &put, 2);
        std::memcpy(o + 2, &next, 2);
        in += 4;
        o += 4;
        replaced += 2;
    }
    while (end - in >= 2 && IsLeadByte(*in)) {
        const std::uint16_t put = answers[SlotAt(in)];
        if (stops(put, in))
            break;
        std::memcpy(o, &put, 2);
        in += 2;
        o += 2;
        ++replaced;
    }
    at.in = in;
    at.o = o;
    at.waiting += replaced;
}

// A trigger at `at.in` (kernel/Phrases.h), taken by the byte path: alone, or in the phrase that
// the matching around it finds, whose characters before it are written anew. False when the
// kernel has to stop, for the reason put in `stop`.
inline bool TriggerStep(const Block& block, Cursor& at, Stop& stop)
{
    const Phrases& phrases = *block.phrases;
    const unsigned char* const trigger = at.in;
    PhraseMatch match{PhraseMatch::Kind::Alone};
    if (trigger >= at.floor)
        match = MatchAround(phrases, trigger, std::max(at.floor, at.runStart), block.end, block.atEnd);
    if (match.kind == PhraseMatch::Kind::NeedsMore) {
        stop = Stop::Tail;
        return false;
    }
    if (match.kind == PhraseMatch::Kind::Segment)
        at.floor = match.end;
    if (match.phrase != StartSlot::kNone) {
        const PhraseEntry& entry = phrases.entries[match.phrase];
        const std::uint16_t* const target = phrases.units + entry.target;
        char* const start = at.o - (trigger - match.start);
        std::memcpy(start, target, 2 * entry.length);
        // Every character of the phrase counts once: those before the trigger counted alone.
        for (const unsigned char* c = match.start; c < trigger; c += 2)
            at.waiting -= CountsAlone(block, c) ? 1 : 0;
        at.waiting += entry.length;
        at.o = start + 2 * entry.length;
        at.in = match.end;
        return true;
    }
    const std::uint16_t kept = block.answers[SlotAt(trigger)];
    const std::uint16_t put = phrases.triggersFlagged ? Unflagged(kept) : kept;
    if (put == kUnknown) {
        stop = Stop::Unknown; // its row cannot be used: asking the dictionary tells why
        return false;
    }
    if (put == kNoRow) {
        std::memcpy(at.o, trigger, 2);
    } else {
        std::memcpy(at.o, &put, 2);
        ++at.waiting;
    }
    at.o += 2;
    at.in += 2;
    return true;
}

// One step of the byte path at `at.in`, a byte that the kernel's plain copy stopped at (never
// `block.end`). False when the kernel has to stop, for the reason put in `stop`.
inline bool ByteStep(const Block& block, Cursor& at, LineMarks& marks, Stop& stop)
{
    const unsigned char* const end = block.end;
    const unsigned char c = *at.in;

    if (IsLeadByte(c)) {
        // Double-byte characters come in runs: take the whole run here.
        for (;;) {
            ConvertKnownRun(at, end, block.answers, block.phrases);
            if (end - at.in < 2) {
                if (at.in == end || !IsLeadByte(*at.in))
                    return true;
                if (!block.atEnd) {
                    stop = Stop::Tail; // its trail byte may be in the next block
                    return false;
                }
                *at.o++ = static_cast<char>(*at.in++); // a lead byte that ends the file stands alone
                at.runStart = at.in;
                return true;
            }
            if (!IsLeadByte(*at.in)) {
                at.runStart = at.in;
                return true;
            }
            if (block.phrases && IsTriggerSlot(*block.phrases, SlotAt(at.in))) {
                if (!TriggerStep(block, at, stop))
                    return false;
                continue;
            }
            const std::uint16_t put = block.answers[SlotAt(at.in)];
            if (put == kLoneLead) {
                *at.o++ = static_cast<char>(*at.in++); // a lead byte that ends the line stands alone
                at.runStart = at.in;
                return true;
            }
            if (put == kUnknown) {
                stop = Stop::Unknown;
                return false;
            }
            std::memcpy(at.o, at.in, 2); // no row: copied as it is
            at.o += 2;
            at.in += 2;
        }
    }
    // Whatever this byte is, no run of characters goes on through it.
    at.runStart = at.in;
    if (IsLineEnd(c)) {
        if (c == '\n') {
            ++at.in;
        } else if (end - at.in > 1) {
            at.in += at.in[1] == '\n' ? 2 : 1;
        } else if (!block.atEnd) {
            stop = Stop::Tail; // an LF in the next block may belong to it
            return false;
        } else {
            ++at.in;
        }
        at.runStart = at.in;
        if (!EndLine(at, block.base, marks)) {
            stop = Stop::MarksFull;
            return false;
        }
        return true;
    }
    if (c >= 0x80 || !StopsCopying(at.in, end)) {
        *at.o++ = static_cast<char>(*at.in++); // 0x80 or 0xFF (no lead byte), or one that starts nothing
        at.runStart = at.in;
        return true;
    }
    // A 'c' or 'C' that may start a declaration.
    const std::size_t left = static_cast<std::size_t>(end - at.in);
    const std::string_view rest(reinterpret_cast<const char*>(at.in), std::min(left, kLongestDeclaration));
    if (!block.atEnd && rest.size() < kLongestDeclaration &&
        std::none_of(rest.begin(), rest.end(), [](char b) { return IsLineEnd(static_cast<unsigned char>(b)); })) {
        stop = Stop::Tail; // the declaration may go on in the next block
        return false;
    }
    const std::size_t matched = RewriteDeclaration(rest, *block.rewrites, at.o);
    if (matched == 0)
        *at.o++ = static_cast<char>(*at.in++);
    at.in += matched;
    at.runStart = at.in;
    return true;
}

} // namespace fanjian::kernel
