#pragma once

#include <string>
#include <string_view>

namespace quillon::test {

// The reference decoder written as the simple loop: for each of the two
// patterns ("&#(\w+?);", then "&#x(\w+?);"), search the text with PCRE2 from
// its start; when the leftmost match decodes, replace it and search again from
// the start; when it is left as it stands, go on searching after it. The body
// rules are those of ascReferClass, written out again here. Quadratic: for
// short texts only.
std::string literalRefer(std::string_view text);

} // namespace quillon::test
