#pragma once

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace fanjian {

// Makes the elements of a container without setting them (a char is left as it is), so that a
// buffer grows without writing the bytes it is about to receive.
template <typename T>
struct UnsetAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UnsetAllocator<U>;
    };
    UnsetAllocator() = default;
    template <typename U>
    UnsetAllocator(const UnsetAllocator<U>&) noexcept
    {
    }
    template <typename U>
    void construct(U* place) noexcept
    {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args)
    {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

// What a run collects the converted bytes in: the converter asks for room for the worst case of
// each block, twice its size, and mostly uses about half of it.
using ByteBuffer = std::vector<char, UnsetAllocator<char>>;

inline std::string_view View(const ByteBuffer& bytes)
{
    return {bytes.data(), bytes.size()};
}

} // namespace fanjian
