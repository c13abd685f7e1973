#include "conversion/ShownText.h"

#include "conversion/kernel/Utf8Path.h"

#include <cstddef>

namespace fanjian {

namespace {

// The length of the UTF-8 character at the start of `text`, or 0 when it starts with no whole
// character (a stray byte, a sequence cut short, too long a form, a surrogate).
std::size_t CharacterLength(std::string_view text)
{
    const auto* const in = reinterpret_cast<const unsigned char*>(text.data());
    if (*in < 0x80)
        return 1;
    const int length = kernel::ReadSequence(in, in + text.size()).length;
    return length > 0 ? static_cast<std::size_t>(length) : 0;
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
