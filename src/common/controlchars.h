#pragma once

#include <string>
#include <string_view>

namespace bw {

// The C0 control characters and DEL: a newline, a tab, a terminal escape.
constexpr bool IsControlChar(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// Text from a cue sheet or a disc database server as a message may quote it: every control
// character written as \xNN in upper-case hex (a newline reads \x0A), so that a quoted name
// can neither break the message's line nor send escape codes to a terminal. Everything
// else, UTF-8 included, stays as it is.
std::string ControlCharsEscaped(std::string_view text);

} // namespace bw
