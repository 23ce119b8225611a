#pragma once

#include "app/settings.h"

#include <string>

namespace quillon::testing {

// Converts with glibc, refusing to lose anything (throws): test data only.
std::string glibc(const std::string& text, const char* to, const char* from);

// UTF-8 test text in Shift_JIS (CP932), EUC-JP (EUC-JP-MS), ISO-2022-JP (as
// Windows mailers write it: the CP932 pairs after ESC $ B, half-width
// katakana after ESC ( I) or UTF-8 (unchanged).
std::string encode(const std::string& utf8, Encoding enc);

} // namespace quillon::testing
