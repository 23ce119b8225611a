#pragma once

#include <string>
#include <string_view>

namespace quillon {

// Text equality in the address list ignores letter case. foldCase maps a UTF-8
// text to a key in which letters of either case are the same (ASCII, Latin-1,
// Greek, Cyrillic and full-width Latin letters); other characters and invalid
// bytes are kept as they are. Keys compare equal exactly when the texts are
// equal ignoring case, and order the texts by code point of the folded text.
// Folding never changes a text's length in bytes.
std::string foldCase(std::string_view text);
// Appends the folded form of `text` to `out` (no allocation when `out` has room).
void foldCaseAppend(std::string_view text, std::string& out);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

} // namespace quillon
