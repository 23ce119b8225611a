#pragma once

#include <string>
#include <string_view>

namespace quillon {

// Text equality in the address list ignores letter case. foldCase maps a UTF-8
// text to a key in which letters of either case are the same (ASCII, Latin-1,
// Greek, Cyrillic and full-width Latin letters); other characters and invalid
// bytes are kept as they are. Keys compare equal exactly when the texts are
// equal ignoring case, and order the texts by code point of the folded text.
std::string foldCase(std::string_view text);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

} // namespace quillon
