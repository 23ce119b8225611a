#pragma once

#include <string>
#include <string_view>

namespace quillon::cli {

// `text` made safe to print on a terminal: control characters (C0, DEL and
// C1), the invisible characters that reorder or break lines, bytes that are
// not UTF-8 and the backslash are written as escapes ("\n", "\x1b",
// "\u202e", "\\"), so a file name can neither move the cursor, retitle or
// clear the terminal nor forge a line. Everything else is left as it is.
std::string terminalSafe(std::string_view text);

} // namespace quillon::cli
