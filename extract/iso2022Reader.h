#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace quillon::convModule::detail {

// Reads the escape sequences of ISO-2022-JP and hands the characters of each
// set to a converter. Characters of JIS X 0208 and the katakana set are
// rewritten as CP932 bytes (so the NEC and IBM rows and ～ read as from
// Shift_JIS), JIS X 0212 as EUC-JP-MS bytes; the JIS X 0213 and ISO-2022-JP-2
// sets, rare in Japanese text, go to glibc's converters one run at a time.
class Iso2022Reader {
public:
    // Appends to `out` and counts invalid sequences in `invalid`; without
    // `useTable`, every set goes to glibc's converters (the slow reference).
    Iso2022Reader(std::string& out, std::size_t& invalid, bool useTable = true);
    ~Iso2022Reader();
    Iso2022Reader(const Iso2022Reader&) = delete;
    Iso2022Reader& operator=(const Iso2022Reader&) = delete;

    // Reads a whole text.
    void run(std::string_view in);

    // Where the output goes from now on.
    void setOutput(std::string& out);

    // Reads `in` from `from` to `limit` (or further, to the end of a run of a
    // foreign set) and hands on everything read; returns where it stopped.
    // The designated set carries over to the next call. With `more` (bytes
    // follow the end of `in`), a run of a foreign set that reaches the end of
    // `in` is left unread: it stops before it, to be read whole once more
    // bytes are there.
    std::size_t run(std::string_view in, std::size_t from, std::size_t limit, bool more = false);

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace quillon::convModule::detail
