#pragma once

// What every kernel shares: the byte path, which takes whatever the kernel's fast steps leave to a
// look of its own (a run of double-byte characters, a line end, a declaration, the last bytes of
// a block), and the plain copy eight bytes at a time.

#include "conversion/kernel/AnswerTable.h"
#include "conversion/kernel/Declarations.h"
#include "conversion/kernel/Kernel.h"

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
};

inline Progress Leave(const Cursor& at, LineMarks& marks, Stop stop)
{
    marks.waiting = at.waiting;
    marks.lineStart = at.lineStart;
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
// first byte that is no lead byte, the first answer that is a marker, or a lead byte that ends the
// block. Two characters a step, as long as four bytes are left.
inline void ConvertKnownRun(Cursor& at, const unsigned char* const end, const std::uint16_t* const answers)
{
    const unsigned char* in = at.in;
    char* o = at.o;
    std::size_t replaced = 0;
    const unsigned char* const lastPair = end - in >= 4 ? end - 3 : in; // no step of two starts here
    while (in < lastPair && IsLeadByte(in[0]) && IsLeadByte(in[2])) {
        const std::uint16_t put = answers[SlotAt(in)];
        const std::uint16_t next = answers[SlotAt(in + 2)]; // used only when `put` is an answer
        if (IsMarker(put) || IsMarker(next))
            break;
        std::memcpy(o, &put, 2);
        std::memcpy(o + 2, &next, 2);
        in += 4;
        o += 4;
        replaced += 2;
    }
    while (end - in >= 2 && IsLeadByte(*in)) {
        const std::uint16_t put = answers[SlotAt(in)];
        if (IsMarker(put))
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

// One step of the byte path at `at.in`, a byte that the kernel's plain copy stopped at (never
// `block.end`). False when the kernel has to stop, for the reason put in `stop`.
inline bool ByteStep(const Block& block, Cursor& at, LineMarks& marks, Stop& stop)
{
    const unsigned char* const end = block.end;
    const unsigned char c = *at.in;

    if (IsLeadByte(c)) {
        // Double-byte characters come in runs: take the whole run here.
        for (;;) {
            ConvertKnownRun(at, end, block.answers);
            if (end - at.in < 2) {
                if (at.in == end || !IsLeadByte(*at.in))
                    return true;
                if (!block.atEnd) {
                    stop = Stop::Tail; // its trail byte may be in the next block
                    return false;
                }
                *at.o++ = static_cast<char>(*at.in++); // a lead byte that ends the file stands alone
                return true;
            }
            if (!IsLeadByte(*at.in))
                return true;
            const std::uint16_t put = block.answers[SlotAt(at.in)];
            if (put == kLoneLead) {
                *at.o++ = static_cast<char>(*at.in++); // a lead byte that ends the line stands alone
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
        if (!EndLine(at, block.base, marks)) {
            stop = Stop::MarksFull;
            return false;
        }
        return true;
    }
    if (c >= 0x80 || !StopsCopying(at.in, end)) {
        *at.o++ = static_cast<char>(*at.in++); // 0x80 or 0xFF (no lead byte), or one that starts nothing
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
    return true;
}

} // namespace fanjian::kernel
