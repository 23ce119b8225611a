#include "extract/searchClass.h"

#include <pcre2.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

namespace quillon {

namespace {

// The spelling of the local set in the original address pattern; PCRE2 refuses
// it, and "[\w.-]" is the same set.
constexpr std::string_view kOriginalLocalSet = "[\\w-_.]";
constexpr std::string_view kLocalSet = "[\\w.-]";

// Characters an address can hold besides the "@": the local set.
constexpr std::array<bool, 256> makeLocalTable() {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) {
        table[static_cast<std::size_t>(c)] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                             (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '-';
    }
    return table;
}
constexpr std::array<bool, 256> kLocal = makeLocalTable();

bool isLocal(char c) {
    return kLocal[static_cast<unsigned char>(c)];
}
bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isAlnum(char c) {
    return isLetter(c) || (c >= '0' && c <= '9');
}

std::string rewriteLocalSet(std::string_view pattern) {
    std::string out;
    out.reserve(pattern.size());
    std::size_t at = 0;
    while (true) {
        const std::size_t found = pattern.find(kOriginalLocalSet, at);
        if (found == std::string_view::npos) {
            out.append(pattern.substr(at));
            return out;
        }
        out.append(pattern.substr(at, found - at));
        out.append(kLocalSet);
        at = found + kOriginalLocalSet.size();
    }
}

// Compiles and, where the JIT is available, JIT-compiles the pattern; without
// the JIT, pcre2_match uses the interpreter by itself.
pcre2_code* compile(std::string_view pattern, std::uint32_t options, int& errorCode, PCRE2_SIZE& errorOffset) {
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options, &errorCode,
                                     &errorOffset, nullptr);
    if (code != nullptr) {
        pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    }
    return code;
}

// A compiled pattern, and for the address pattern the same pattern compiled
// anchored: the JIT supports anchoring only when it is given at compile time.
// Compiled code is only read by matching, so one copy serves every scanner on
// every thread (each has its own match data and JIT stack).
struct CompiledPattern {
    pcre2_code* code = nullptr;
    pcre2_code* anchoredCode = nullptr;
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;

    CompiledPattern(const std::string& pattern, bool anchoredToo) {
        code = compile(pattern, 0, errorCode, errorOffset);
        if (code != nullptr && anchoredToo) {
            anchoredCode = compile(pattern, PCRE2_ANCHORED, errorCode, errorOffset);
        }
    }
    ~CompiledPattern() {
        pcre2_code_free(anchoredCode);
        pcre2_code_free(code);
    }
    CompiledPattern(const CompiledPattern&) = delete;
    CompiledPattern& operator=(const CompiledPattern&) = delete;
    bool ok(bool anchoredToo) const { return code != nullptr && (!anchoredToo || anchoredCode != nullptr); }
};

// The address pattern is compiled (and JIT-compiled) once per process: a
// folder of many small files would otherwise spend most of its time there.
std::shared_ptr<const CompiledPattern> compiledPattern(const std::string& pattern, bool addressPattern) {
    if (addressPattern) {
        static const auto address = std::make_shared<const CompiledPattern>(std::string(kAddressPattern), true);
        return address;
    }
    return std::make_shared<const CompiledPattern>(pattern, false);
}

// The match context of the calling thread: limits for the interpreter (used
// where the JIT is not available: a search that would need more gives up, and
// the address search then takes the bounds it found itself) and a JIT stack
// for long matches. A JIT stack serves one match at a time, so each thread
// has its own, made once rather than for every scanner.
class ThreadMatchContext {
public:
    ThreadMatchContext() : m_context(pcre2_match_context_create(nullptr)) {
        if (m_context != nullptr) {
            pcre2_set_heap_limit(m_context, 64 * 1024);
            m_stack = pcre2_jit_stack_create(32 * 1024, 8 * 1024 * 1024, nullptr);
            if (m_stack != nullptr) {
                pcre2_jit_stack_assign(m_context, nullptr, m_stack);
            }
        }
    }
    ~ThreadMatchContext() {
        pcre2_match_context_free(m_context);
        pcre2_jit_stack_free(m_stack);
    }
    ThreadMatchContext(const ThreadMatchContext&) = delete;
    ThreadMatchContext& operator=(const ThreadMatchContext&) = delete;
    pcre2_match_context* get() const { return m_context; }

private:
    pcre2_match_context* m_context = nullptr;
    pcre2_jit_stack* m_stack = nullptr;
};

pcre2_match_context* threadMatchContext() {
    thread_local const ThreadMatchContext context;
    return context.get();
}

} // namespace

struct searchClass::Impl {
    std::shared_ptr<const CompiledPattern> compiled;
    pcre2_code* code = nullptr;
    pcre2_code* anchoredCode = nullptr;
    pcre2_match_data* matchData = nullptr;
    bool addressPattern = false;
    // Set once a search has found nothing after the current position, so that
    // the calls after the end cost nothing.
    bool exhausted = false;

    ~Impl() { reset(); }

    void reset() {
        pcre2_match_data_free(matchData);
        compiled.reset();
        code = nullptr;
        anchoredCode = nullptr;
        matchData = nullptr;
    }

    // One pcre2_match call in byte mode (the text is never validated as UTF-8).
    int match(const pcre2_code* pattern, std::string_view subject, std::size_t length, std::size_t start,
              std::uint32_t options) const {
        return pcre2_match(pattern, reinterpret_cast<PCRE2_SPTR>(subject.data()), length, start, options, matchData,
                           threadMatchContext());
    }

    bool plainSearch(std::string_view text, std::int64_t from, std::int64_t& start, std::int64_t& end) const;
    bool addressSearch(std::string_view text, std::int64_t from, std::int64_t& start, std::int64_t& end) const;
};

// The plain loop: the leftmost non-empty match at or after `from`.
bool searchClass::Impl::plainSearch(std::string_view text, std::int64_t from, std::int64_t& start,
                                    std::int64_t& end) const {
    const int rc = match(code, text, text.size(), static_cast<std::size_t>(from), PCRE2_NOTEMPTY);
    if (rc < 0) {
        return false;
    }
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(matchData);
    start = static_cast<std::int64_t>(ovector[0]);
    end = static_cast<std::int64_t>(ovector[1]);
    return true;
}

// The address pattern needs an "@" with at least two local characters before
// it and a local run ending in a letter after it, and no part of it can hold a
// second "@". So the leftmost match at or after `from` belongs to the first "@"
// that has both: a domain (a letter at a + 2 or later within the local run
// after it) and a letter or digit s, from <= s <= a - 2, from which the local
// run reaches the "@". The match starts at the first such s; PCRE2 then matches
// anchored there, on the text cut just after the domain's last letter, which
// gives the lazy local part and the greedy domain of an unanchored search.
// Every byte is looked at a bounded number of times, so a long line of letters
// and digits costs linear time.
bool searchClass::Impl::addressSearch(std::string_view text, std::int64_t from, std::int64_t& start,
                                      std::int64_t& end) const {
    const std::int64_t n = static_cast<std::int64_t>(text.size());
    const char* base = text.data();
    std::int64_t cursor = from;
    while (cursor < n) {
        const void* hit = std::memchr(base + cursor, '@', static_cast<std::size_t>(n - cursor));
        if (hit == nullptr) {
            return false;
        }
        const std::int64_t at = static_cast<const char*>(hit) - base;

        // The local run after the "@" and the last letter in it.
        std::int64_t runEnd = at + 1;
        while (runEnd < n && isLocal(base[runEnd])) {
            ++runEnd;
        }
        cursor = runEnd; // no "@" lies inside the run
        std::int64_t last = runEnd - 1;
        while (last >= at + 2 && !isLetter(base[last])) {
            --last;
        }
        if (last < at + 2) {
            continue;
        }

        // The local run before the "@", not reaching before `from`.
        std::int64_t runStart = at;
        while (runStart > from && isLocal(base[runStart - 1])) {
            --runStart;
        }
        std::int64_t first = runStart;
        while (first <= at - 2 && !isAlnum(base[first])) {
            ++first;
        }
        if (first > at - 2) {
            continue;
        }

        const int rc =
            match(anchoredCode, text, static_cast<std::size_t>(last + 1), static_cast<std::size_t>(first), 0);
        if (rc >= 0) {
            const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(matchData);
            start = static_cast<std::int64_t>(ovector[0]);
            end = static_cast<std::int64_t>(ovector[1]);
            return true;
        }
        if (rc != PCRE2_ERROR_NOMATCH) {
            // A resource limit of PCRE2 (a local part or domain of many
            // megabytes without the JIT): the bounds found above are the match.
            start = first;
            end = last + 1;
            return true;
        }
        // Unreachable by the reasoning above; go on with the next "@".
    }
    return false;
}

searchClass::searchClass() : m_impl(std::make_unique<Impl>()) {}

searchClass::~searchClass() = default;

bool searchClass::setRegex(std::string_view text, std::string_view pattern) {
    m_destStr = text;
    m_pos = 0;
    m_matchStart = 0;
    m_stop = false;
    m_error.clear();
    m_impl->exhausted = false;
    // A scanner that holds the address pattern already keeps it and its match
    // data for the next text: a folder of many small files sets up one
    // scanner per file.
    if (m_impl->addressPattern && m_impl->matchData != nullptr &&
        (pattern == kAddressPattern || rewriteLocalSet(pattern) == kAddressPattern)) {
        return true;
    }
    m_impl->reset();

    const std::string rewritten = rewriteLocalSet(pattern);
    m_impl->addressPattern = rewritten == kAddressPattern;

    // Byte mode: the address pattern is ASCII only, so it finds the same
    // matches in UTF-8 text as UTF mode would, and nothing re-validates the text.
    std::shared_ptr<const CompiledPattern> compiled = compiledPattern(rewritten, m_impl->addressPattern);
    if (!compiled->ok(m_impl->addressPattern)) {
        std::array<PCRE2_UCHAR, 256> message{};
        pcre2_get_error_message(compiled->errorCode, message.data(), message.size());
        m_error = std::string(reinterpret_cast<const char*>(message.data())) + " (offset " +
                  std::to_string(compiled->errorOffset) + ")";
        return false;
    }
    m_impl->compiled = std::move(compiled);
    m_impl->code = m_impl->compiled->code;
    m_impl->anchoredCode = m_impl->compiled->anchoredCode;

    m_impl->matchData = pcre2_match_data_create_from_pattern(m_impl->code, nullptr);
    return true;
}

std::string_view searchClass::search() {
    if (m_impl->code == nullptr || m_impl->exhausted) {
        m_stop = true;
        return {};
    }
    std::int64_t start = 0;
    std::int64_t end = 0;
    const bool found = m_impl->addressPattern ? m_impl->addressSearch(m_destStr, m_pos, start, end)
                                              : m_impl->plainSearch(m_destStr, m_pos, start, end);
    if (!found) {
        m_impl->exhausted = true;
        m_stop = true;
        return {};
    }
    m_matchStart = start;
    m_pos = end;
    return m_destStr.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

void searchClass::setDiv(const JobContext& ctx) {
    const double n = static_cast<double>(destLength());
    double p = 1;
    while (true) {
        p *= 10;
        ctx.yieldNow();
        if (n / p < 50000) {
            break;
        }
    }
    m_div = p;
}

} // namespace quillon
