#include "CodePages.h"

#include <cerrno>
#include <initializer_list>
#include <stdexcept>
#include <system_error>

namespace fanjian::data {

Iconv::Iconv(const char* to, const char* from)
    : cd_(::iconv_open(to, from))
{
    if (cd_ == reinterpret_cast<iconv_t>(-1))
        throw std::system_error(errno, std::generic_category(),
                                std::string("iconv cannot convert from ") + from + " to " + to);
}

Iconv::~Iconv()
{
    ::iconv_close(cd_);
}

std::optional<std::string> Iconv::Convert(std::string_view in) const
{
    ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string out(in.size() * 4 + 16, '\0');
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (::iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1))
            continue;
        if (errno != E2BIG)
            return std::nullopt;
        const std::size_t used = out.size() - outLeft;
        out.resize(out.size() * 2);
        outPtr = out.data() + used;
        outLeft = out.size() - used;
    }
    // Flush whatever state the target needs to end in its initial shift state.
    if (::iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
        return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

namespace {

const Iconv& Utf8ToUtf32()
{
    static const Iconv conversion("UTF-32LE", "UTF-8");
    return conversion;
}

const Iconv& Utf32ToUtf8()
{
    static const Iconv conversion("UTF-8", "UTF-32LE");
    return conversion;
}

std::u32string FromUtf32Le(const std::string& bytes)
{
    std::u32string out;
    for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
        char32_t c = 0;
        for (int b = 3; b >= 0; --b)
            c = (c << 8) | static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(b)]);
        out.push_back(c);
    }
    return out;
}

std::string Bytes(std::uint16_t code)
{
    return {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
}

// The single character a double-byte code decodes to, or nothing.
std::optional<char32_t> Decode(const Iconv& toUtf32, std::uint16_t code)
{
    const auto utf32 = toUtf32.Convert(Bytes(code));
    if (!utf32)
        return std::nullopt;
    const std::u32string chars = FromUtf32Le(*utf32);
    if (chars.size() != 1)
        return std::nullopt;
    return chars[0];
}

// The double-byte code a character encodes to, or nothing (no form, or a single byte).
std::optional<std::uint16_t> Encode(const Iconv& fromUtf32, char32_t codePoint)
{
    std::string utf32(4, '\0');
    for (int b = 0; b < 4; ++b)
        utf32[static_cast<std::size_t>(b)] = static_cast<char>((codePoint >> (8 * b)) & 0xFF);
    const auto bytes = fromUtf32.Convert(utf32);
    if (!bytes || bytes->size() != 2)
        return std::nullopt;
    return static_cast<std::uint16_t>(static_cast<unsigned char>((*bytes)[0]) << 8 |
                                      static_cast<unsigned char>((*bytes)[1]));
}

// Adds every code of the given byte ranges that the code page decodes and the table lacks.
void AddCharacters(CodeTable& table, const char* codePage, unsigned firstLead, unsigned lastLead,
                   bool (*isTrail)(unsigned))
{
    const Iconv toUtf32("UTF-32LE", codePage);
    for (unsigned lead = firstLead; lead <= lastLead; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            const auto code = static_cast<std::uint16_t>(lead << 8 | trail);
            if (!isTrail(trail) || table.Character(code))
                continue;
            if (const auto c = Decode(toUtf32, code))
                table.Add(code, *c);
        }
    }
}

// Gives each character of the table the code that the first code page able to write it writes,
// provided the table holds the character at that code (the two duplicated Big5 ideographs get
// one code each; a GBK form that the table knows as another GB2312 character is not taken).
void AssignCodes(CodeTable& table, std::initializer_list<const char*> codePages)
{
    for (const char* codePage : codePages) {
        const Iconv fromUtf32(codePage, "UTF-32LE");
        for (const auto& [code, c] : table.Characters()) {
            if (table.Code(c))
                continue;
            if (const auto written = Encode(fromUtf32, c); written && table.Character(*written) == c)
                table.SetCode(c, *written);
        }
    }
}

} // namespace

std::u32string ToCodePoints(std::string_view utf8)
{
    const auto utf32 = Utf8ToUtf32().Convert(utf8);
    if (!utf32)
        throw std::invalid_argument("malformed UTF-8: " + std::string(utf8));
    return FromUtf32Le(*utf32);
}

std::string ToUtf8(std::u32string_view codePoints)
{
    std::string utf32;
    for (char32_t c : codePoints)
        for (int b = 0; b < 4; ++b)
            utf32.push_back(static_cast<char>((c >> (8 * b)) & 0xFF));
    const auto utf8 = Utf32ToUtf8().Convert(utf32);
    if (!utf8)
        throw std::invalid_argument("not a Unicode character");
    return *utf8;
}

std::string ToUtf8(char32_t codePoint)
{
    return ToUtf8(std::u32string_view(&codePoint, 1));
}

bool IsHan(char32_t c)
{
    return (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0x20000 && c <= 0x3FFFF);
}

std::optional<char32_t> CodeTable::Character(std::uint16_t code) const
{
    const auto it = characters_.find(code);
    if (it == characters_.end())
        return std::nullopt;
    return it->second;
}

std::optional<std::uint16_t> CodeTable::Code(char32_t codePoint) const
{
    const auto it = codes_.find(codePoint);
    if (it == codes_.end())
        return std::nullopt;
    return it->second;
}

CodeTable LoadBig5()
{
    CodeTable table;
    AddCharacters(table, "BIG5", 0x81, 0xFE,
                  [](unsigned t) { return (t >= 0x40 && t <= 0x7E) || (t >= 0xA1 && t <= 0xFE); });
    AssignCodes(table, {"BIG5"});
    return table;
}

CodeTable LoadGb()
{
    CodeTable table;
    AddCharacters(table, "EUC-CN", 0xA1, 0xF7, [](unsigned t) { return t >= 0xA1 && t <= 0xFE; });
    AddCharacters(table, "GBK", 0x81, 0xFE, [](unsigned t) { return t >= 0x40 && t <= 0xFE && t != 0x7F; });
    AssignCodes(table, {"EUC-CN", "GBK"});
    return table;
}

bool IsGb2312Code(std::uint16_t code)
{
    static const Iconv toUtf32("UTF-32LE", "EUC-CN");
    return Decode(toUtf32, code).has_value();
}

std::string HexCode(std::uint16_t code)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex(4, '0');
    for (int i = 3; i >= 0; --i, code >>= 4)
        hex[static_cast<std::size_t>(i)] = kDigits[code & 0xF];
    return hex;
}

} // namespace fanjian::data
