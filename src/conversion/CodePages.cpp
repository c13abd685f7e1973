#include "conversion/CodePages.h"

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <string>
#include <system_error>

#include <iconv.h>

namespace fanjian {

namespace {

constexpr std::size_t kCodes = 65536;

class Conversion {
public:
    Conversion(const char* to, const char* from) : cd_(::iconv_open(to, from))
    {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::system_error(errno, std::generic_category(),
                                    std::string("the system cannot convert from ") + from + " to " + to + " (iconv)");
    }
    ~Conversion() { ::iconv_close(cd_); }
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;

    // Converts `in` whole; the number of bytes written to `out`, or -1 when the input is rejected.
    int Convert(const unsigned char* in, std::size_t size, unsigned char* out, std::size_t room) const
    {
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* inPtr = reinterpret_cast<char*>(const_cast<unsigned char*>(in));
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t inLeft = size;
        std::size_t outLeft = room;
        if (::iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0)
            return -1;
        return static_cast<int>(room - outLeft);
    }

private:
    iconv_t cd_;
};

// The one character of the Basic Multilingual Plane a double-byte code decodes to, or 0.
char16_t Decode(const Conversion& toUtf16, std::uint16_t code)
{
    const unsigned char bytes[2] = {static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code)};
    unsigned char out[16];
    if (toUtf16.Convert(bytes, 2, out, sizeof out) != 2)
        return 0;
    return static_cast<char16_t>(out[0] | out[1] << 8);
}

// The double-byte code a character encodes to, or 0.
std::uint16_t Encode(const Conversion& fromUtf16, char16_t character)
{
    const unsigned char utf16[2] = {static_cast<unsigned char>(character), static_cast<unsigned char>(character >> 8)};
    unsigned char out[16];
    if (fromUtf16.Convert(utf16, 2, out, sizeof out) != 2)
        return 0;
    return static_cast<std::uint16_t>(out[0] << 8 | out[1]);
}

} // namespace

CodePage::CodePage() : characters_(new char16_t[kCodes]()), codes_(new std::uint16_t[kCodes]()) {}

// Each character gets the code that the first of `writers` able to write it writes, provided the
// code page holds the character at that code; a character with one code only simply gets that.
void CodePage::AssignCodes(std::initializer_list<const char*> writers)
{
    constexpr std::uint16_t kSeveral = 0xFFFF; // no double-byte code: its trail byte is no trail byte
    for (std::size_t code = 0; code < kCodes; ++code) {
        if (const char16_t c = characters_[code]; c != 0)
            codes_[c] = codes_[c] == 0 ? static_cast<std::uint16_t>(code) : kSeveral;
    }
    for (const char* writer : writers) {
        const Conversion fromUtf16(writer, "UTF-16LE");
        for (std::size_t c = 0; c < kCodes; ++c) {
            if (codes_[c] != kSeveral)
                continue;
            if (const std::uint16_t code = Encode(fromUtf16, static_cast<char16_t>(c)); code != 0 && characters_[code] == c)
                codes_[c] = code;
        }
    }
    for (std::size_t c = 0; c < kCodes; ++c) {
        if (codes_[c] == kSeveral)
            codes_[c] = 0;
    }
}

// Adds every code of the given leads that `codePage` decodes and the table lacks.
void CodePage::AddCharacters(const char* codePage, unsigned firstLead, unsigned lastLead, bool (*isTrail)(unsigned))
{
    const Conversion toUtf16("UTF-16LE", codePage);
    for (unsigned lead = firstLead; lead <= lastLead; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            const auto code = static_cast<std::uint16_t>(lead << 8 | trail);
            if (!isTrail(trail) || characters_[code] != 0)
                continue;
            if (const char16_t c = Decode(toUtf16, code); c >= 0x80)
                characters_[code] = c;
        }
    }
}

const CodePage& CodePage::Big5()
{
    static const CodePage page = [] {
        CodePage big5;
        big5.AddCharacters("BIG5", 0x81, 0xFE, [](unsigned t) { return (t >= 0x40 && t <= 0x7E) || (t >= 0xA1 && t <= 0xFE); });
        big5.AssignCodes({"BIG5"});
        return big5;
    }();
    return page;
}

const CodePage& CodePage::Gb()
{
    static const CodePage page = [] {
        CodePage gb;
        gb.AddCharacters("GBK", 0x81, 0xFE, [](unsigned t) { return t >= 0x40 && t <= 0xFE && t != 0x7F; });
        gb.AssignCodes({"GBK"});
        return gb;
    }();
    return page;
}

} // namespace fanjian
