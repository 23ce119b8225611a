#pragma once

#include "app/jobContext.h"

#include <string>
#include <string_view>

namespace quillon {

// Decodes the numeric character references ("&#64;", "&#x40;") of a UTF-8
// text, with the results of a loop that searches the text from its start after
// every replacement, so a decoded character can form a new reference with the
// text around it ("&#38;#65;" becomes "A", "&&#35;65;" becomes "&#65;" and then
// "A"). Runs in linear time.
//
// Two passes, each over the whole text. A reference of the first pass is "&#",
// a body of one or more word characters (ASCII letters, digits, "_") and ";";
// one of the second pass is "&#x", such a body and ";" (lower-case x only).
// The whole reference is replaced by the character of the number that begins
// its body; the word characters after that number are dropped with it.
// - First pass: a body of "x" or "X" followed by a hexadecimal digit is read as
//   hexadecimal (its leading hexadecimal digits after the x: "&#x40;" is "@",
//   "&#x41z;" is "A"); a body that begins with a decimal digit is read as
//   decimal (its leading decimal digits: "&#12abc;" is U+000C).
// - Second pass: a body that begins with a hexadecimal digit is read as
//   hexadecimal, its leading hexadecimal digits. The first pass has already
//   decoded every reference this rule takes, so this pass finds none left.
// - A body that does not begin with a number as above ("&#abc;", "&#a12;",
//   "&#x;", "&#_1;") is left as it stands, and the search goes on after it.
// - 0, surrogates, codes above U+10FFFF and numbers too long for any integer
//   become U+FFFD; leading zeros are allowed ("&#00065;" is "A").
// - The character is inserted literally: "&#36;" is "$", "&#92;" is "\".
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
