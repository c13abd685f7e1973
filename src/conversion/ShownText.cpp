#include "conversion/ShownText.h"

#include <cstddef>

namespace fanjian {

namespace {

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the UTF-8 character at the start of `text`, or 0 when it starts with no whole
// character (a stray byte, a sequence cut short, too long a form, a surrogate).
std::size_t CharacterLength(std::string_view text)
{
    const auto at = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || at(1) < low || at(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!IsContinuation(at(i)))
            return 0;
    }
    return length;
}

void AppendEscaped(std::string& out, std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += "\\x";
        out += kDigits[byte >> 4];
        out += kDigits[byte & 15];
    }
}

} // namespace

std::string EscapeControls(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = CharacterLength(text);
        const std::string_view character = text.substr(0, length == 0 ? 1 : length);
        const auto lead = static_cast<unsigned char>(character[0]);
        const bool control = length == 0 || lead < 0x20 || lead == 0x7F ||
                             (length == 2 && lead == 0xC2 && static_cast<unsigned char>(character[1]) < 0xA0);
        if (control)
            AppendEscaped(shown, character);
        else if (lead == '\\')
            shown += "\\\\";
        else
            shown += character;
        text.remove_prefix(character.size());
    }
    return shown;
}

} // namespace fanjian
