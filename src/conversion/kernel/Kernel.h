#pragma once

// The conversion of a block of bytes, without the view and without the dictionary: bytes in,
// bytes out, and marks that say where the lines ended and how many characters were replaced
// before each. Everything the kernel needs to know of the dictionary comes as a table of answers
// (AnswerTable.h); whatever it cannot decide alone, it stops at and leaves to its caller.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace fanjian::kernel {

inline constexpr std::size_t kNoLineStart = static_cast<std::size_t>(-1);

// The most bytes a kernel leaves at the end of a block for the next one (Stop::Tail): a few for a
// character or a declaration cut by the block's end, up to 96 where phrases may go on past it.
inline constexpr std::size_t kMaxTail = 128;

// The replacements of a call that are not shown yet, and where their lines begin in the output:
// the line of the first one, and for every line after it the number of replacements before it.
// The kernel writes them as it goes; the reporter shows the replacements and, should the view
// abandon the run, finds the line to stop in from them.
struct LineMark {
    std::size_t waitingBefore;
    std::size_t lineStart;
};

struct LineMarks {
    static constexpr std::size_t kCapacity = 256;
    std::size_t waiting = 0;                  // replacements made and not shown yet
    std::size_t lineStart = kNoLineStart;     // where the line being converted begins in the output
    std::size_t firstLineStart = kNoLineStart; // where the line of the first waiting replacement begins
    std::size_t count = 0;                    // marks in use
    LineMark marks[kCapacity];
};

// The page declarations a direction rewrites (Declarations.h).
struct Rewrites {
    std::string_view charsetFind; // value after "charset=", matched in any letter case
    std::string_view charsetPut;
    std::string_view contentFind; // matched in any letter case
    std::string_view contentPut;
};

struct Phrases;     // Phrases.h
struct Utf8Phrases; // Utf8Phrases.h

// What a kernel converts: the bytes from `first` to `end`, written into the output, whose first
// byte is at `base`. The output has room for twice the bytes of the block, and two more.
struct Block {
    const unsigned char* first;
    const unsigned char* end;
    bool atEnd; // the file ends with this block
    char* base;
    const std::uint16_t* answers;     // double-byte text: AnswerTable.h
    const std::uint32_t* utf8Answers; // UTF-8 text: Utf8Path.h
    const Rewrites* rewrites;
    bool strictUtf8;         // UTF-8 text: stop at bytes that are no character (Stop::Malformed)
    const Phrases* phrases;  // the direction's phrases, or none
    const Utf8Phrases* utf8Phrases; // UTF-8 text with phrases: how its characters read as codes
};

// Where the phrase matching stands in a block, from one return of a kernel to its next call. Both
// start at the block's first byte.
struct Matching {
    const unsigned char* runStart; // where the run of double-byte characters that goes on at the next byte began
    const unsigned char* floor;    // where the last matching ended: a place no match spans
};

// Why a kernel returned.
enum class Stop {
    Done,      // every byte of the block is taken
    Tail,      // the bytes left mean something only with those of the next block (never at the end)
    Unknown,   // the character at `in` has no answer yet, or one that cannot be used: the dictionary is to be asked
    MarksFull, // a line has ended with replacements waiting and no mark left: they are to be shown
    Malformed, // UTF-8 text, strictly read: the bytes at `in` are no character
};

struct Progress {
    const unsigned char* in; // the first byte not taken, a character start
    char* o;                 // where the next output byte goes
    Stop stop;
    bool sawSequence = false; // UTF-8 text: a character of more than one byte was taken
};

// Converts the block from `in` (a character start) on, writing at `o`, until it has to stop.
// Lines end at LF, CR LF or a lone CR and are written with CR LF. Calling it again with the
// Progress it returned, once the caller has done what the stop asked, goes on as if it had never
// stopped.
using ConvertFunction = Progress (*)(const Block& block, const unsigned char* in, char* o, LineMarks& marks,
                                     Matching& matching);

struct Kernel {
    std::string_view name;
    ConvertFunction convert;     // text in Big5 or GB2312
    ConvertFunction convertUtf8; // text in UTF-8
};

// The kernels this processor runs, the fastest first: every test goes through each of them.
std::span<const Kernel> Kernels() noexcept;

// The portable kernel: 8 bytes at a time where nothing needs a look, and the byte path.
Progress ConvertPortable(const Block& block, const unsigned char* in, char* o, LineMarks& marks, Matching& matching);
Progress ConvertUtf8Portable(const Block& block, const unsigned char* in, char* o, LineMarks& marks, Matching& matching);
#if defined(__SSE2__)
// 64-byte windows made of SSE2 steps, and the byte path for what they leave.
Progress ConvertSse2(const Block& block, const unsigned char* in, char* o, LineMarks& marks, Matching& matching);
Progress ConvertUtf8Sse2(const Block& block, const unsigned char* in, char* o, LineMarks& marks, Matching& matching);
#endif

} // namespace fanjian::kernel
