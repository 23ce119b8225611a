#pragma once

#include "app/jobContext.h"

#include <string>
#include <string_view>

namespace quillon {

// Decodes the numeric character references ("&#64;", "&#x40;") of a UTF-8
// text, with the results of a loop that searches the text from its start after
// every replacement, so a decoded character can form a new reference with the
// text around it ("&#38;#65;" becomes "A"). Runs in linear time.
//
// Decisions: a hexadecimal body is read as hexadecimal in the first pass
// already; a body without digits is left as it stands; 0, surrogates, codes
// above U+10FFFF and numbers too long for any integer become U+FFFD.
class ascReferClass {
public:
    ascReferClass();
    ~ascReferClass();
    ascReferClass(const ascReferClass&) = delete;
    ascReferClass& operator=(const ascReferClass&) = delete;

    // Returns the decoded text; sees ctx.stop at its check points (a stopped
    // decode returns the text decoded so far joined with the rest unchanged).
    std::string convert(std::string_view text, const JobContext& ctx = {}) const;
};

} // namespace quillon
