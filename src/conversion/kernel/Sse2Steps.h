#pragma once

// The SSE2 steps both SSE2 kernels take. SSE2 is part of every x86-64 processor.
#if defined(__SSE2__)

#include "conversion/kernel/BytePath.h"

#include <bit>
#include <cstddef>
#include <cstdint>

#include <emmintrin.h>

namespace fanjian::kernel {

// Copies the bytes from `in` to `o` up to the first that StopsCopying (or `end`), sixteen at a
// time; returns where it stopped. Each step stores all sixteen and then moves on by as many as
// were plain: the output has room for them (see Block). A 'c' stops the copy only before h, H, o
// or O, which the second load, one byte further on, tells.
inline const unsigned char* CopyPlain(const unsigned char* in, const unsigned char* end, char*& o)
{
    const __m128i caseBit = _mm_set1_epi8(0x20);
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i c = _mm_set1_epi8('c');
    const __m128i h = _mm_set1_epi8('h');
    const __m128i oh = _mm_set1_epi8('o');
    while (end - in > 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i next = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 1)), caseBit);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), bytes);
        const __m128i declaration = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(bytes, caseBit), c),
                                                  _mm_or_si128(_mm_cmpeq_epi8(next, h), _mm_cmpeq_epi8(next, oh)));
        const __m128i lineEnd = _mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr));
        // The sign bits: bytes 0x80 and above.
        const unsigned stops = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(declaration, lineEnd), bytes)));
        if (stops != 0) {
            const int plain = std::countr_zero(stops);
            in += plain;
            o += plain;
            return in;
        }
        in += 16;
        o += 16;
    }
    return CopyPlainWords(in, end, o);
}

// What the windows need to be left to read: a window reads 65 bytes (79 when a declaration may
// start on its last place), and writes 64 from any of its first 64 places on, which the output's
// room (twice the bytes left to read) then holds.
constexpr std::ptrdiff_t kWindowReach = 128;

// Copies 64 bytes.
inline void Copy64(const unsigned char* in, char* o)
{
    for (int at = 0; at < 64; at += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + at), _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at)));
}

// The places below `n` (0..65), without a branch: which way one would go changes from line to line.
constexpr std::uint64_t Below(int n)
{
    const std::uint64_t all = -static_cast<std::uint64_t>(n >= 64);
    return ((std::uint64_t{1} << (n & 63)) - 1) | all;
}

// The number of places set in `bits` (the baseline instruction set has no instruction for it).
constexpr int CountPlaces(std::uint64_t bits)
{
    bits -= (bits >> 1) & 0x5555555555555555;
    bits = (bits & 0x3333333333333333) + ((bits >> 2) & 0x3333333333333333);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0F;
    return static_cast<int>((bits * 0x0101010101010101) >> 56);
}

} // namespace fanjian::kernel

#endif
