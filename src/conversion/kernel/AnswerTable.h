#pragma once

// The kernels' answer table: for every double-byte character, the two bytes to write in its place,
// in the order they are written, or a marker.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fanjian::kernel {

// No answer begins with a zero byte (answers are 256 or more), so every marker does. A table of
// zeros makes a converter cheap to make (a run makes one, but the tests make thousands); it is
// filled as characters come, or at once before a block that two threads convert.
constexpr std::uint16_t Marker(unsigned char kind)
{
    return std::endian::native == std::endian::little ? static_cast<std::uint16_t>(kind << 8) : kind;
}
inline constexpr std::uint16_t kUnknown = Marker(0);  // the dictionary has not been asked yet
inline constexpr std::uint16_t kNoRow = Marker(1);    // copied as it is
inline constexpr std::uint16_t kLoneLead = Marker(2); // a lead byte before CR or LF, which is no trail byte
static_assert(kUnknown == 0);

constexpr bool IsMarker(std::uint16_t put)
{
    return (std::endian::native == std::endian::little ? put & 0xFF : put >> 8) == 0;
}

// With phrases, a trigger's answer is kept with the high bit of its first byte cleared, so that a
// kernel tells the triggers among the answers it wrote by that bit alone (Phrases::triggersFlagged).
// Where the kernel writes such an answer alone, it sets the bit again.
inline constexpr std::uint16_t kFirstByteHighBit = std::endian::native == std::endian::little ? 0x0080 : 0x8000;

// A marker, or an answer whose first byte is 0x81 or above: cleared, its high bit leaves the byte
// non-zero, so that the answer never reads as a marker.
constexpr bool CanFlag(std::uint16_t put)
{
    const unsigned first = std::endian::native == std::endian::little ? put & 0xFF : put >> 8;
    return IsMarker(put) || first > 0x80;
}

constexpr std::uint16_t Flagged(std::uint16_t put)
{
    return IsMarker(put) ? put : static_cast<std::uint16_t>(put & ~kFirstByteHighBit);
}

constexpr std::uint16_t Unflagged(std::uint16_t put)
{
    return IsMarker(put) ? put : static_cast<std::uint16_t>(put | kFirstByteHighBit);
}

// The table is indexed by a character's two bytes as one load reads them, so that a kernel takes
// a character's answer with no work on its bytes. (Read little-endian, that puts the characters of
// one trail byte together, and the table has room for every pair of bytes, twice what the code
// table's order needs; the lookups are no slower for it.)
inline constexpr std::size_t kAnswerCount = 65536;

inline std::uint16_t SlotAt(const unsigned char* in)
{
    std::uint16_t bytes;
    std::memcpy(&bytes, in, 2);
    return bytes;
}

// Two bytes as one number that a two-byte copy writes in this order (and a load reads back).
inline std::uint16_t InStoreOrder(unsigned char first, unsigned char second)
{
    const unsigned char bytes[2] = {first, second};
    return SlotAt(bytes);
}

// The code of the double-byte character at `in`, lead byte first, as the dictionary knows it.
inline std::uint16_t CodeAt(const unsigned char* in)
{
    return static_cast<std::uint16_t>(in[0] << 8 | in[1]);
}

template <typename Answer>
Answer& AnswerFor(Answer* answers, std::uint16_t code)
{
    return answers[InStoreOrder(static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code))];
}

} // namespace fanjian::kernel
