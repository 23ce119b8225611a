#pragma once

#include <string_view>

namespace quillon {

// The "@"-fields of a text: field 1 is the text before the first "@" (the
// whole text when there is none), field 2 the text between the first and the
// second "@" (or to the end). A field that does not exist is empty. Used for
// the domain column, the account and domain filters and the filter splitting.
inline std::string_view atField(std::string_view text, int field) {
    const auto first = text.find('@');
    if (field == 1) {
        return first == std::string_view::npos ? text : text.substr(0, first);
    }
    if (field == 2) {
        if (first == std::string_view::npos) {
            return {};
        }
        const auto rest = text.substr(first + 1);
        return rest.substr(0, rest.find('@'));
    }
    return {};
}

} // namespace quillon
