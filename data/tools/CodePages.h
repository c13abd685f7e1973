#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include <iconv.h>

namespace fanjian::data {

// One iconv(3) conversion, reset before every call so no shift state leaks between strings.
class Iconv {
public:
    Iconv(const char* to, const char* from);
    ~Iconv();
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // The converted bytes, or nothing when the input holds a sequence the conversion rejects
    // (invalid, incomplete or without a form in the target).
    std::optional<std::string> Convert(std::string_view in) const;

private:
    iconv_t cd_;
};

// UTF-8 <-> code points, through iconv. ToCodePoints throws on malformed UTF-8.
std::u32string ToCodePoints(std::string_view utf8);
std::string ToUtf8(std::u32string_view codePoints);
std::string ToUtf8(char32_t codePoint);

// Han ideographs: the unified blocks, their extensions and the compatibility ideographs.
bool IsHan(char32_t codePoint);

// A double-byte code page as glibc knows it: every assigned double-byte code and its character.
class CodeTable {
public:
    std::optional<char32_t> Character(std::uint16_t code) const;
    // The code the code page writes for the character, if it has one.
    std::optional<std::uint16_t> Code(char32_t codePoint) const;
    const std::map<std::uint16_t, char32_t>& Characters() const noexcept { return characters_; }

    void Add(std::uint16_t code, char32_t codePoint) { characters_.emplace(code, codePoint); }
    void SetCode(char32_t codePoint, std::uint16_t code) { codes_.emplace(codePoint, code); }

private:
    std::map<std::uint16_t, char32_t> characters_;
    std::unordered_map<char32_t, std::uint16_t> codes_;
};

// CP950 as glibc's BIG5 module decodes it.
CodeTable LoadBig5();
// GB2312 (EUC-CN) codes, then the codes GBK adds beyond it. A character that both have keeps its
// GB2312 code.
CodeTable LoadGb();
// Only the GB2312 (EUC-CN) part.
bool IsGb2312Code(std::uint16_t code);

// The hex form used in the table text: "B0EA".
std::string HexCode(std::uint16_t code);

} // namespace fanjian::data
