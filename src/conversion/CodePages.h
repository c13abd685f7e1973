#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>

namespace fanjian {

// A double-byte code page as the system's converters (glibc's iconv) know it: the character of
// every code it assigns, and the code it writes for each character it holds. Only characters of
// the Basic Multilingual Plane: neither code page here holds any other.
class CodePage {
public:
    // CP950, as glibc's BIG5 converter reads and writes it.
    static const CodePage& Big5();
    // GBK, which holds GB2312, as browsers read pages labelled gb2312 too: A1A4 is U+00B7 and
    // A1AA the dash U+2014 (which glibc's EUC-CN reads as U+30FB and U+2015).
    static const CodePage& Gb();

    // The character a code stands for, or 0.
    char16_t Character(std::uint16_t code) const noexcept { return characters_[code]; }
    // The code the code page writes for a character, or 0.
    std::uint16_t Code(char16_t character) const noexcept { return codes_[character]; }

    // The same as tables of 65536 entries, for the kernels.
    const char16_t* Characters() const noexcept { return characters_.get(); }
    const std::uint16_t* Codes() const noexcept { return codes_.get(); }

private:
    CodePage();
    void AddCharacters(const char* codePage, unsigned firstLead, unsigned lastLead, bool (*isTrail)(unsigned));
    void AssignCodes(std::initializer_list<const char*> writers);
    std::unique_ptr<char16_t[]> characters_;
    std::unique_ptr<std::uint16_t[]> codes_;
};

} // namespace fanjian
