#include "support/core_literalRefer.h"

#include <pcre2.h>

#include <cctype>
#include <optional>
#include <stdexcept>

namespace quillon::test {

namespace {

// The code a body stands for in the pass, or none when it is left alone.
std::optional<unsigned long> bodyValue(const std::string& body, int pass) {
    std::string digits;
    int base = 10;
    if (pass == 0 && body.size() >= 2 && (body[0] == 'x' || body[0] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(body[1])) != 0) {
        base = 16;
        digits = body.substr(1);
    } else if (pass == 0 && std::isdigit(static_cast<unsigned char>(body[0])) != 0) {
        digits = body;
    } else if (pass == 1 && std::isxdigit(static_cast<unsigned char>(body[0])) != 0) {
        base = 16;
        digits = body;
    } else {
        return std::nullopt;
    }
    // Leading zeros do not count towards the length of the number.
    std::size_t end = 0;
    while (end < digits.size() && (base == 16 ? std::isxdigit(static_cast<unsigned char>(digits[end])) != 0
                                              : std::isdigit(static_cast<unsigned char>(digits[end])) != 0)) {
        ++end;
    }
    std::size_t begin = 0;
    while (begin < end && digits[begin] == '0') {
        ++begin;
    }
    const std::string number = digits.substr(begin, end - begin);
    if (number.empty()) {
        return 0UL;
    }
    if (number.size() > 8) {
        return 0x110000UL; // too long: certainly above the Unicode range
    }
    return std::stoul(number, nullptr, base);
}

std::string utf8(unsigned long code) {
    if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        code = 0xFFFD;
    }
    std::string out;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

} // namespace

std::string literalRefer(std::string_view text) {
    std::string t(text);
    const char* const patterns[] = {"&#(\\w+?);", "&#x(\\w+?);"};
    for (int pass = 0; pass < 2; ++pass) {
        int errorCode = 0;
        PCRE2_SIZE errorOffset = 0;
        pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(patterns[pass]), PCRE2_ZERO_TERMINATED, 0,
                                         &errorCode, &errorOffset, nullptr);
        if (code == nullptr) {
            throw std::logic_error("reference pattern does not compile");
        }
        pcre2_match_data* matchData = pcre2_match_data_create_from_pattern(code, nullptr);
        PCRE2_SIZE from = 0;
        while (pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(t.data()), t.size(), from, 0, matchData, nullptr) >= 0) {
            const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(matchData);
            const auto value = bodyValue(t.substr(ov[2], ov[3] - ov[2]), pass);
            if (!value) {
                from = ov[1];
                continue;
            }
            t = t.substr(0, ov[0]) + utf8(*value) + t.substr(ov[1]);
            from = 0;
        }
        pcre2_match_data_free(matchData);
        pcre2_code_free(code);
    }
    return t;
}

} // namespace quillon::test
