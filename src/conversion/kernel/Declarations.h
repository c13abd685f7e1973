#pragma once

// The page declarations a kernel rewrites: charset=big5 <-> charset=gb2312 (any letter case, a
// quote before the value allowed) and content="zh-tw <-> content="zh-cn.

#include "conversion/kernel/Kernel.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace fanjian::kernel {

// The same for pages in UTF-8: one that says charset=utf-8 keeps it.
inline constexpr Rewrites kToSimplified{"big5", "gb2312", R"(content="zh-tw)", R"(content="zh-cn)"};
inline constexpr Rewrites kToTraditional{"gb2312", "big5", R"(content="zh-cn)", R"(content="zh-tw)"};

// The longest declaration a direction rewrites: charset= + quote + gb2312.
inline constexpr std::size_t kLongestDeclaration = 15;
static_assert(kLongestDeclaration < kMaxTail);

constexpr unsigned char AsciiLower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// True when `text` begins with the lower-case `find`, letter case aside.
inline bool StartsWithAnyCase(std::string_view text, std::string_view find)
{
    if (text.size() < find.size())
        return false;
    return std::equal(find.begin(), find.end(), text.begin(), [](char f, char t) {
        return static_cast<unsigned char>(f) == AsciiLower(static_cast<unsigned char>(t));
    });
}

// The second byte of a declaration: "charset=" or "content=".
constexpr bool CanFollowDeclarationStart(unsigned char c)
{
    return (c | 0x20) == 'h' || (c | 0x20) == 'o';
}

// Length of the declaration at the start of `text` (a 'c' or 'C' that starts a character), its
// replacement written at `o`; 0 when there is none.
inline std::size_t RewriteDeclaration(std::string_view text, const Rewrites& rewrites, char*& o)
{
    if (StartsWithAnyCase(text, "charset=")) {
        std::size_t value = 8;
        if (text.size() > value && (text[value] == '"' || text[value] == '\''))
            ++value;
        if (!StartsWithAnyCase(text.substr(value), rewrites.charsetFind))
            return 0;
        // The text keeps its own "charset=" and quote; the value is put in lower case.
        o = std::copy_n(text.data(), value, o);
        o = std::copy(rewrites.charsetPut.begin(), rewrites.charsetPut.end(), o);
        return value + rewrites.charsetFind.size();
    }
    if (StartsWithAnyCase(text, rewrites.contentFind)) {
        o = std::copy(rewrites.contentPut.begin(), rewrites.contentPut.end(), o);
        return rewrites.contentFind.size();
    }
    return 0;
}

// True when `text` starts with a declaration that is rewritten.
inline bool StartsDeclaration(std::string_view text, const Rewrites& rewrites)
{
    char scratch[2 * kLongestDeclaration];
    char* o = scratch;
    return RewriteDeclaration(text.substr(0, kLongestDeclaration), rewrites, o) != 0;
}

} // namespace fanjian::kernel
