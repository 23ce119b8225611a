#pragma once

#include "list/rowList.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::listWriter {

// The export layouts: rows in, UTF-8 text out. Only the address column is
// written, every row in order, checked or not. Line ends are a single
// carriage return (the window's export; quillon-extract may ask for LF or
// CRLF instead); the separator is ",".
inline constexpr std::string_view kLineEnd = "\r";

std::string writeAsLine(const RowList& rows, std::string_view lineEnd = kLineEnd);
std::string writeAsComma(const RowList& rows);
// n addresses per line; n below 1 is taken as 1. With needYohaku every line
// end is followed by a second one. The last line has no line end.
std::string writeAsLineComma(const RowList& rows, std::int32_t n, bool needYohaku, std::string_view lineEnd = kLineEnd);

// The text for layout code 4, 6 or 14; nullopt for any other code or an empty
// list (nothing is written then).
std::optional<std::string> buildExportText(const RowList& rows, std::int32_t layoutCode, std::int32_t n,
                                           bool needYohaku, std::string_view lineEnd = kLineEnd);

} // namespace quillon::listWriter
