#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdlib.h>
#include <string>
#include <string_view>

// What the fuzz targets share: a check that reports the broken property and
// aborts (libFuzzer then keeps the input), a reader that takes numbers and
// texts off the front of the fuzz input, and a scratch folder for targets
// that write files.
#define FUZZ_CHECK(cond)                                                                                               \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                              \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

namespace quillon::fuzz {

// Hands out the fuzz input piece by piece; past its end every read gives 0
// or an empty text.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_pos >= m_size; }
    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    // A number from 0 to count - 1 (count > 0).
    unsigned pick(unsigned count) { return byte() % count; }
    std::string_view bytes(std::size_t count) {
        const std::size_t take = count < m_size - m_pos ? count : m_size - m_pos;
        const std::string_view out(reinterpret_cast<const char*>(m_data) + m_pos, take);
        m_pos += take;
        return out;
    }
    std::string_view rest() { return bytes(m_size - m_pos); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// A temporary folder of the target's own, named after `prefix`, made on the
// first call and removed with all it holds when the target exits. Later calls
// return the same folder whatever they pass.
inline const std::filesystem::path& scratchFolder(const char* prefix) {
    static const std::filesystem::path dir = [prefix] {
        std::string tmpl = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (mkdtemp(tmpl.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        return std::filesystem::path(tmpl);
    }();
    // Registered once `dir` is made, so that the removal runs before `dir`
    // itself is destroyed at exit.
    [[maybe_unused]] static const bool removedAtExit = std::atexit([] {
                                                           std::error_code ec;
                                                           std::filesystem::remove_all(scratchFolder(nullptr), ec);
                                                       }) == 0;
    return dir;
}

// The UTF-8 sequence at the start of p[0, left) (left > 0), read by the
// definition and kept plain to check the program's readers against: returns
// its length, the whole character when `complete`, else the maximal part of an
// invalid one (a lead byte with the continuation bytes that fit it, or a lone
// byte).
inline std::size_t utf8ByDefinition(const unsigned char* p, std::size_t left, bool& complete) {
    const unsigned char b = p[0];
    std::size_t need = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b < 0x80) {
        need = 0;
    } else if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        lo = b == 0xE0 ? 0xA0 : 0x80;
        hi = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        lo = b == 0xF0 ? 0x90 : 0x80;
        hi = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        complete = false;
        return 1;
    }
    std::size_t len = 1;
    while (len <= need && len < left && p[len] >= lo && p[len] <= hi) {
        ++len;
        lo = 0x80;
        hi = 0xBF;
    }
    complete = len == need + 1;
    return len;
}

} // namespace quillon::fuzz
