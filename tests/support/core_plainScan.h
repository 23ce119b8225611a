#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::test {

struct FoundMatch {
    std::int64_t start = 0;
    std::string text;

    bool operator==(const FoundMatch&) const = default;
};

// The scanner's behaviour written the simple way: an unanchored pcre2_match
// from the current position over the whole text, the position moved past each
// match, until nothing is found. Quadratic on long runs of letters and digits,
// so only for short texts.
std::vector<FoundMatch> plainScan(std::string_view text, std::string_view pattern);

} // namespace quillon::test
