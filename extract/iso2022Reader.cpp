#include "extract/iso2022Reader.h"

#include "extract/convDetail.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

namespace quillon::convModule::detail {

class Iso2022Reader::Impl {
public:
    Impl(std::string& out, std::size_t& invalid, bool useTable)
        : m_out(&out), m_invalid(invalid), m_useTable(useTable) {}

    void run(std::string_view in) { run(in, 0, in.size()); }

    // Where the output goes from now on.
    void setOutput(std::string& out) { m_out = &out; }

    // Reads `in` from `from` to `limit` (or further, to the end of a run of a
    // foreign set) and hands on everything read; returns where it stopped.
    // The designated set carries over to the next call. With `more` (bytes
    // follow the end of `in`), a run of a foreign set that reaches the end of
    // `in` is left unread: it stops before it, to be read whole once more
    // bytes are there.
    std::size_t run(std::string_view in, std::size_t from, std::size_t limit, bool more = false) {
        const auto* p = reinterpret_cast<const unsigned char*>(in.data());
        const std::size_t n = in.size();
        m_pending.reserve(std::min<std::size_t>(limit - from, std::size_t{1} << 20) + 16);
        std::size_t i = from;
        while (i < limit) {
            // Handed on here, between two characters, never inside one.
            if (m_pending.size() >= kPendingLimit) {
                flush();
            }
            const unsigned char b = p[i];
            if (m_useTable && m_set == Set::Jis0208 && !m_shifted && isJisByte(b) && i + 1 < n && isJisByte(p[i + 1])) {
                i = jis0208Run(p, i, n);
                continue;
            }
            if (m_set == Set::Ascii && !m_shifted && b < 0x80 && b != 0x1B && b != 0x0E && b != 0x0F) {
                // A run of ASCII goes over whole.
                std::size_t end = i + 1;
                const std::size_t stop = std::min(limit, i + kPendingLimit);
                while (end < stop && p[end] < 0x80 && p[end] != 0x1B && p[end] != 0x0E && p[end] != 0x0F) {
                    ++end;
                }
                pushRun(in.substr(i, end - i));
                i = end;
                continue;
            }
            if (b == 0x1B) {
                i = escape(in, i);
                continue;
            }
            if (b == 0x0E) { // SO: katakana until SI
                m_shifted = true;
                ++i;
                continue;
            }
            if (b == 0x0F) {
                m_shifted = false;
                ++i;
                continue;
            }
            if (b >= 0x80) {
                replace();
                ++i;
                continue;
            }
            if (b < 0x21 || b == 0x7F) {
                // Controls, spaces and line ends stand for themselves in every
                // set.
                push(Channel::Cp932, static_cast<char>(b));
                ++i;
                continue;
            }
            if (m_shifted) {
                katakana(b);
                ++i;
                continue;
            }
            switch (m_set) {
            case Set::Ascii:
                push(Channel::Cp932, static_cast<char>(b));
                ++i;
                break;
            case Set::Katakana:
                katakana(b);
                ++i;
                break;
            case Set::Jis0208:
            case Set::Jis0212: {
                if (i + 1 >= n || p[i + 1] < 0x21 || p[i + 1] > 0x7E) {
                    // A lone first byte: truncated at the end or cut off by a
                    // control or escape. The next byte is read on its own.
                    replace();
                    ++i;
                    break;
                }
                if (m_set == Set::Jis0208) {
                    jis0208(b, p[i + 1]);
                } else {
                    push(Channel::EucJp, static_cast<char>(0x8F));
                    push(Channel::EucJp, static_cast<char>(b | 0x80));
                    push(Channel::EucJp, static_cast<char>(p[i + 1] | 0x80));
                }
                i += 2;
                break;
            }
            case Set::Foreign: {
                // Everything up to the next escape goes whole to glibc, behind
                // the escape sequence that opened it.
                std::size_t end = in.find('\x1B', i);
                if (end == std::string_view::npos && more) {
                    flush();
                    return i;
                }
                end = end == std::string_view::npos ? n : end;
                flush();
                std::string run(m_foreignEscape);
                run.append(in.substr(i, end - i));
                convertWith(m_foreignCodec, SkipRule::OneByte, run, 4, *m_out, m_invalid);
                i = end;
                break;
            }
            }
        }
        flush();
        return i;
    }

private:
    enum class Set { Ascii, Katakana, Jis0208, Jis0212, Foreign };
    enum class Channel { Cp932, EucJp };

    std::size_t escape(std::string_view in, std::size_t i) {
        const std::string_view rest = in.substr(i + 1);
        struct Designation {
            std::string_view seq;
            Set set;
            const char* codec;
        };
        static constexpr Designation kTable[] = {
            {"(B", Set::Ascii, nullptr},
            // JIS X 0201 Roman differs from ASCII only at 0x5C and 0x7E; Japanese
            // mailers use it as ASCII, and it is read so here, as 0x5C is read
            // as backslash in Shift_JIS.
            {"(J", Set::Ascii, nullptr},
            {"(H", Set::Ascii, nullptr},
            {"(I", Set::Katakana, nullptr},
            {"$@", Set::Jis0208, nullptr},
            {"$B", Set::Jis0208, nullptr},
            {"&@\x1B$B", Set::Jis0208, nullptr},
            {"$(B", Set::Jis0208, nullptr},
            {"$(D", Set::Jis0212, nullptr},
            {"$(O", Set::Foreign, kIso2022Jp3},
            {"$(Q", Set::Foreign, kIso2022Jp3},
            {"$(P", Set::Foreign, kIso2022Jp3},
            {"$A", Set::Foreign, kIso2022Jp2},
            {"$(C", Set::Foreign, kIso2022Jp2},
        };
        for (const auto& d : kTable) {
            if (rest.starts_with(d.seq)) {
                m_set = d.set;
                if (d.set == Set::Foreign) {
                    m_foreignCodec = d.codec;
                    m_foreignEscape = "\x1B";
                    m_foreignEscape.append(d.seq);
                }
                return i + 1 + d.seq.size();
            }
        }
        // An unknown or cut-off escape sequence: only the ESC byte is lost.
        replace();
        return i + 1;
    }

    void katakana(unsigned char b) {
        if (b <= 0x5F) {
            push(Channel::Cp932, static_cast<char>(b + 0x80));
        } else {
            replace();
        }
    }

    void jis0208(unsigned char j1, unsigned char j2) {
        const auto [s1, s2] = toSjis(j1, j2);
        push(Channel::Cp932, static_cast<char>(s1));
        push(Channel::Cp932, static_cast<char>(s2));
    }

    static constexpr std::size_t kPendingLimit = std::size_t{1} << 20;

    static bool isJisByte(unsigned char b) { return b >= 0x21 && b <= 0x7E; }

    // A run of JIS X 0208 characters from i (at least one whole pair), decoded
    // through the Shift_JIS table straight into the output; a pair the table
    // does not hold goes the common way, through the pending bytes. Returns
    // where the run ends.
    std::size_t jis0208Run(const unsigned char* p, std::size_t i, std::size_t n) {
        const JisTable& t = jisTable();
        // The run ends at the first byte that does not begin a pair of JIS
        // bytes, or after kPendingLimit bytes.
        const std::size_t most = i + std::min(kPendingLimit, (n - i) & ~std::size_t{1});
        constexpr std::size_t kPairs = 4096;
        char buffer[kPairs * 3 + 4];
        std::size_t k = i;
        while (true) {
            if (!m_pending.empty()) {
                flush();
            }
            // The held pairs, a buffer at a time. Each entry is stored as four
            // bytes, its length byte last, which the next entry overwrites.
            const std::size_t stop = std::min(most, k + 2 * kPairs);
            char* dst = buffer;
            bool ended = false;
            std::uint32_t e = 0;
            while (k < stop) {
                if (!isJisByte(p[k]) || !isJisByte(p[k + 1])) {
                    ended = true;
                    break;
                }
                e = t[(p[k] - 0x21u) * 94u + (p[k + 1] - 0x21u)];
                if (e == 0) {
                    break;
                }
                std::memcpy(dst, &e, 4);
                dst += e >> 24;
                k += 2;
            }
            m_out->append(buffer, static_cast<std::size_t>(dst - buffer));
            if (ended || k >= most) {
                return k;
            }
            if (k < stop) {
                jis0208(p[k], p[k + 1]);
                k += 2;
            }
        }
    }

    // The entries of the Shift_JIS table for the 94 x 94 row and cell pairs
    // of JIS X 0208, in that order: one small table read straight, instead of
    // a conversion to Shift_JIS and a read of the large table for each pair.
    using JisTable = std::array<std::uint32_t, 94 * 94>;
    static const JisTable& jisTable() {
        static const JisTable table = [] {
            JisTable t{};
            const DecodeTable& sjis = cp932Table();
            for (unsigned j1 = 0x21; j1 <= 0x7E; ++j1) {
                for (unsigned j2 = 0x21; j2 <= 0x7E; ++j2) {
                    const auto [s1, s2] = toSjis(static_cast<unsigned char>(j1), static_cast<unsigned char>(j2));
                    t[(j1 - 0x21) * 94 + (j2 - 0x21)] = sjis.pairAt(s1, s2);
                }
            }
            return t;
        }();
        return table;
    }

    // Row and cell of JIS X 0208 (each 0x21 to 0x7E) to the Shift_JIS pair.
    static std::pair<unsigned, unsigned> toSjis(unsigned char j1, unsigned char j2) {
        const unsigned s1 = ((j1 + 1u) >> 1) + (j1 <= 0x5E ? 0x70u : 0xB0u);
        unsigned s2;
        if (j1 & 1u) {
            s2 = j2 + (j2 >= 0x60 ? 0x20u : 0x1Fu);
        } else {
            s2 = j2 + 0x7Eu;
        }
        return {s1, s2};
    }

    void push(Channel channel, char byte) {
        if (channel != m_channel) {
            flush();
            m_channel = channel;
        }
        m_pending += byte;
    }

    void pushRun(std::string_view bytes) {
        if (m_channel != Channel::Cp932) {
            flush();
            m_channel = Channel::Cp932;
        }
        m_pending.append(bytes);
    }

    void replace() {
        flush();
        m_out->append(kReplacement);
        ++m_invalid;
    }

    void flush() {
        if (m_pending.empty()) {
            return;
        }
        if (m_channel == Channel::Cp932) {
            if (!m_cp932) {
                m_cp932 = std::make_unique<Iconv>("UTF-8", kCp932);
            }
            if (m_useTable && m_cp932->ok()) {
                decodeWithTable(cp932Table(), m_cp932->get(), SkipRule::Cp932, m_pending, *m_out, m_invalid);
            } else {
                runChannel(*m_cp932, SkipRule::Cp932);
            }
        } else {
            if (!m_eucJp) {
                m_eucJp = std::make_unique<Iconv>("UTF-8", kEucJp);
            }
            runChannel(*m_eucJp, SkipRule::EucJp);
        }
        m_pending.clear();
    }

    void runChannel(const Iconv& cd, SkipRule rule) {
        if (!cd.ok()) {
            m_out->append(kReplacement);
            ++m_invalid;
            return;
        }
        convertAll(cd.get(), rule, m_pending, 3, *m_out, m_invalid);
    }

    std::string* m_out;
    std::size_t& m_invalid;
    bool m_useTable;
    std::string m_pending;
    Channel m_channel = Channel::Cp932;
    Set m_set = Set::Ascii;
    bool m_shifted = false;
    const char* m_foreignCodec = nullptr;
    std::string m_foreignEscape;
    std::unique_ptr<Iconv> m_cp932;
    std::unique_ptr<Iconv> m_eucJp;
};

Iso2022Reader::Iso2022Reader(std::string& out, std::size_t& invalid, bool useTable)
    : m_impl(std::make_unique<Impl>(out, invalid, useTable)) {}

Iso2022Reader::~Iso2022Reader() = default;

void Iso2022Reader::run(std::string_view in) {
    m_impl->run(in);
}

void Iso2022Reader::setOutput(std::string& out) {
    m_impl->setOutput(out);
}

std::size_t Iso2022Reader::run(std::string_view in, std::size_t from, std::size_t limit, bool more) {
    return m_impl->run(in, from, limit, more);
}

} // namespace quillon::convModule::detail
