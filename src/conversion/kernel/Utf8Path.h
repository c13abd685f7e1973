#pragma once

// UTF-8 text: the answer table of its characters and the byte path that takes one sequence at a
// time. A sequence is a character only when it is well formed (no overlong form, no surrogate,
// nothing above U+10FFFF); every byte of one that is not passes through as it is, and so does
// every character the table holds no answer for.

#include "conversion/kernel/BytePath.h"
#include "conversion/kernel/Kernel.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fanjian::kernel {

// The table is indexed by code point (the Basic Multilingual Plane; no code page here holds a
// character beyond it). An entry holds the answer's UTF-8 bytes in its low three bytes, the first
// written lowest, and its kind in the top byte; zero, before the dictionary is asked (as in
// AnswerTable.h).
inline constexpr std::size_t kUtf8AnswerCount = 65536;
inline constexpr std::uint32_t kUtf8Unknown = 0;
inline constexpr std::uint32_t kUtf8ThreeBytes = 0;         // three bytes for a character of three
inline constexpr std::uint32_t kUtf8TwoBytes = 1u << 24;    // two bytes
inline constexpr std::uint32_t kUtf8NoRow = 2u << 24;       // copied as it is
inline constexpr std::uint32_t kUtf8ThreeForTwo = 3u << 24; // three bytes for a character of two
inline constexpr std::uint32_t kUtf8Kinds = 0xFFu << 24;

// True for an answer of three bytes for a character of three, the kind that a kernel may take
// without a look at the character's bytes beyond their shape: no overlong form of a character
// below U+0800, and no surrogate, gets one.
constexpr bool IsThreeForThree(std::uint32_t entry)
{
    return entry - 1 < 0x00FFFFFF; // neither unknown nor of another kind
}

// With phrases, the entry of a trigger of three bytes answered with three has the high bit of its
// first byte cleared, as in the answer table of double-byte text (AnswerTable.h): a kernel tells
// the triggers among the answers it wrote by that bit, and sets it again where it writes one.
inline constexpr std::uint32_t kUtf8FirstByteHighBit = 0x80;

constexpr std::uint32_t Utf8Flagged(std::uint32_t entry)
{
    return (entry & kUtf8Kinds) == kUtf8ThreeBytes ? entry & ~kUtf8FirstByteHighBit : entry;
}

constexpr std::uint32_t Utf8Unflagged(std::uint32_t entry)
{
    return (entry & kUtf8Kinds) == kUtf8ThreeBytes && entry != kUtf8Unknown ? entry | kUtf8FirstByteHighBit : entry;
}

// The entry for `answer`, the character put in place of `character`: its UTF-8 bytes.
inline std::uint32_t Utf8Answer(char16_t character, char16_t answer)
{
    if (answer < 0x800)
        return kUtf8TwoBytes | static_cast<std::uint32_t>(0xC0 | answer >> 6) |
               static_cast<std::uint32_t>(0x80 | (answer & 0x3F)) << 8;
    return (character < 0x800 ? kUtf8ThreeForTwo : kUtf8ThreeBytes) | static_cast<std::uint32_t>(0xE0 | answer >> 12) |
           static_cast<std::uint32_t>(0x80 | ((answer >> 6) & 0x3F)) << 8 |
           static_cast<std::uint32_t>(0x80 | (answer & 0x3F)) << 16;
}

constexpr bool IsContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// A well-formed sequence at `in`: its length (2 to 4) and code point.
struct Utf8Sequence {
    int length; // 0: the byte at `in` starts none; -1: it may, with bytes not in the block yet
    char32_t codePoint;
};

inline Utf8Sequence ReadSequence(const unsigned char* in, const unsigned char* end)
{
    const unsigned char lead = *in;
    int length;
    char32_t codePoint;
    unsigned char low = 0x80; // the second byte's range, narrower after E0, ED, F0 and F4
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {0, 0};
    }
    for (int i = 1; i < length; ++i) {
        if (in + i == end)
            return {-1, 0};
        const unsigned char next = in[i];
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return {0, 0};
        codePoint = codePoint << 6 | (next & 0x3F);
    }
    return {length, codePoint};
}

} // namespace fanjian::kernel
