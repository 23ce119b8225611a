#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// What the fuzz targets share: a check that reports the broken property and
// aborts (libFuzzer then keeps the input), and a reader that takes numbers
// and texts off the front of the fuzz input.
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

} // namespace quillon::fuzz
