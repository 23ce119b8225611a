#include "support/core_plainScan.h"

#include <pcre2.h>

#include <stdexcept>

namespace quillon::test {

std::vector<FoundMatch> plainScan(std::string_view text, std::string_view pattern) {
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), 0, &errorCode,
                                     &errorOffset, nullptr);
    if (code == nullptr) {
        throw std::invalid_argument("pattern does not compile");
    }
    pcre2_match_data* matchData = pcre2_match_data_create_from_pattern(code, nullptr);
    std::vector<FoundMatch> found;
    PCRE2_SIZE pos = 0;
    while (true) {
        const int rc =
            pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), pos, 0, matchData, nullptr);
        if (rc < 0) {
            break;
        }
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(matchData);
        found.push_back(
            {static_cast<std::int64_t>(ovector[0]), std::string(text.substr(ovector[0], ovector[1] - ovector[0]))});
        pos = ovector[1];
    }
    pcre2_match_data_free(matchData);
    pcre2_code_free(code);
    return found;
}

} // namespace quillon::test
