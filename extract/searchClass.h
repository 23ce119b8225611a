#pragma once

#include "app/jobContext.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillon {

// The address pattern. The local set "[\w-_.]" is written "[\w.-]": PCRE2
// refuses a hyphen right after a class escape, and the two sets are the same.
inline constexpr std::string_view kAddressPattern = "[A-Za-z0-9][\\w.-]+?@([\\w.-])+[a-zA-Z]";

// Finds the e-mail addresses of one UTF-8 text from left to right. Positions
// and lengths are byte offsets into the text (64-bit: texts may exceed 2 GiB).
//
// The text is not copied: it must outlive the scanner. For the address
// pattern the scanner only lets PCRE2 look around each "@", which gives the
// matches of a plain PCRE2 search loop in linear time; any other pattern is
// searched with the plain loop.
class searchClass {
public:
    searchClass();
    ~searchClass();
    searchClass(const searchClass&) = delete;
    searchClass& operator=(const searchClass&) = delete;

    // pos := 0 and compiles the pattern (JIT where available; a scanner that
    // holds the address pattern keeps it for the new text). Returns false,
    // with the reason in error(), when the pattern does not compile. Every
    // "[\w-_.]" in the pattern is read as "[\w.-]", so the address pattern may
    // also be given in its original spelling.
    bool setRegex(std::string_view text, std::string_view pattern);
    // The next address at or after pos, or "" (and stop() true) when none.
    // With a pattern other than the address pattern, empty matches are passed
    // over, so "" always means the end.
    std::string_view search();
    // The smallest power of ten (at least 10) that brings destLength below
    // 50,000; yields once per step.
    void setDiv(const JobContext& ctx = {});

    std::int64_t destLength() const { return static_cast<std::int64_t>(m_destStr.size()); }
    std::int64_t posLength() const { return m_pos; }
    double div() const { return m_div; }
    bool stop() const { return m_stop; }
    // Byte offset at which the last returned address starts.
    std::int64_t matchStart() const { return m_matchStart; }
    const std::string& error() const { return m_error; }

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::string_view m_destStr;
    std::int64_t m_pos = 0;
    std::int64_t m_matchStart = 0;
    double m_div = 0;
    bool m_stop = false;
    std::string m_error;
};

} // namespace quillon
