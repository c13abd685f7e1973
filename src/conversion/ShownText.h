#pragma once

#include <string>
#include <string_view>

namespace fanjian {

// `text` as a terminal may show it without obeying any of it: a name can hold escape sequences
// that retitle the terminal, move the cursor or erase what was shown. Every byte that a terminal
// could take for a command is written as \xHH (as `ls` escapes names): control characters (C0,
// DEL, and C1 U+0080..U+009F), and every byte that is no part of a UTF-8 character (in an 8-bit
// terminal 0x80..0x9F are controls too). A backslash is written \\, so that the escaped text reads
// back one way. Printable UTF-8 text stays as it is.
std::string EscapeControls(std::string_view text);

} // namespace fanjian
