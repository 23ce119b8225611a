#include "extract/ascReferClass.h"

#include "extract/convModule.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quillon {

namespace {

// The stop flag is looked at, and the caller may yield, after every stretch of
// this many input bytes.
constexpr std::size_t kCheckEvery = 64 * 1024;

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kMaxCode = 0x10FFFF;

bool isWord(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The character of the number at the start of `digits` in the given base;
// values that are not characters, however long, give U+FFFD.
char32_t readCode(std::string_view digits, int base) {
    std::uint32_t value = 0;
    for (const char c : digits) {
        const int d = base == 16 ? hexValue(c) : (isDigit(c) ? c - '0' : -1);
        if (d < 0) {
            break;
        }
        value = value * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(d);
        if (value > kMaxCode) {
            return kReplacement;
        }
    }
    if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) {
        return kReplacement;
    }
    return value;
}

// The character a reference body stands for in the given pass, or false when
// the body does not begin with a number and is left as it stands.
bool bodyCode(std::string_view body, int pass, char32_t& code) {
    if (pass == 0) {
        if (body.size() >= 2 && (body[0] == 'x' || body[0] == 'X') && hexValue(body[1]) >= 0) {
            code = readCode(body.substr(1), 16);
            return true;
        }
        if (isDigit(body[0])) {
            code = readCode(body, 10);
            return true;
        }
        return false;
    }
    if (hexValue(body[0]) >= 0) {
        code = readCode(body, 16);
        return true;
    }
    return false;
}

// One pass, done in a single walk over the text. The output so far is final
// except for its tail: a reference can only begin at its last "&" when that
// "&" is followed by a beginning of the prefix ("&", "&#", "&#x") or by the
// whole prefix and word characters (the open reference). When a ";" closes
// an open reference that decodes, the reference is cut from the output and its
// character is fed in again as if it came next in the text, so it can close
// or extend a reference that was open before it. References left as they
// stand, and everything before the open one, never change again: this gives
// the leftmost-first order of the search-from-the-start loop.
//
// Cutting back to a reference's "&" reopens the reference that was open when
// that "&" came (its "parent"). A parent that is only a beginning of the prefix
// is seen in the last bytes of the output; a parent with a body may reach far
// back, so those are kept on a stack.
class PassDecoder {
public:
    PassDecoder(std::string& out, int pass) : m_out(out), m_pass(pass), m_prefix(pass == 0 ? "&#" : "&#x") {}

    void feed(char first) {
        std::array<char, 4> pending{};
        pending[0] = first;
        int count = 1;
        for (int i = 0; i < count; ++i) {
            const char c = pending[static_cast<std::size_t>(i)];
            if (c == '&') {
                openAmp();
                continue;
            }
            if (m_open >= 0) {
                const std::size_t k = m_out.size() - static_cast<std::size_t>(m_open);
                if (k < m_prefix.size() ? c == m_prefix[k] : isWord(c)) {
                    m_out.push_back(c);
                    continue;
                }
                if (c == ';' && k > m_prefix.size()) {
                    char32_t code = 0;
                    const std::string_view body =
                        std::string_view(m_out).substr(static_cast<std::size_t>(m_open) + m_prefix.size());
                    if (bodyCode(body, m_pass, code)) {
                        // Every decode follows the last pending byte: a decoded
                        // ";" is one byte, and bytes of longer characters are
                        // never "&" or ";".
                        const std::size_t cut = static_cast<std::size_t>(m_open);
                        m_out.resize(cut);
                        m_open = parentOf(cut);
                        count = convModule::encodeUtf8(code, pending.data());
                        i = -1;
                        continue;
                    }
                }
                close();
            }
            m_out.push_back(c);
        }
    }

    bool open() const { return m_open >= 0; }

private:
    void openAmp() {
        if (m_open < 0) {
            m_withBody.clear();
        } else if (m_out.size() - static_cast<std::size_t>(m_open) > m_prefix.size()) {
            m_withBody.push_back(m_open);
        }
        m_open = static_cast<std::int64_t>(m_out.size());
        m_out.push_back('&');
    }

    void close() {
        m_open = -1;
        m_withBody.clear();
    }

    // The reference open before the "&" that stood at `cut` (now the end of the
    // output), or -1.
    std::int64_t parentOf(std::size_t cut) {
        for (std::size_t k = 1; k <= m_prefix.size() && k <= cut; ++k) {
            if (std::string_view(m_out).substr(cut - k) == m_prefix.substr(0, k)) {
                return static_cast<std::int64_t>(cut - k);
            }
        }
        if (!m_withBody.empty() && cut > 0 && isWord(m_out[cut - 1])) {
            const std::int64_t parent = m_withBody.back();
            m_withBody.pop_back();
            return parent;
        }
        return -1;
    }

    std::string& m_out;
    const int m_pass;
    const std::string_view m_prefix;
    // Offset of the "&" of the open reference in the output, or -1.
    std::int64_t m_open = -1;
    // The open references with a body below the current one, innermost last.
    std::vector<std::int64_t> m_withBody;
};

// Runs one pass from `in` into `out`; false when stopped, with the rest of
// `in` appended unchanged.
bool decodePass(std::string_view in, std::string& out, int pass, const JobContext& ctx) {
    out.clear();
    out.reserve(in.size());
    PassDecoder decoder(out, pass);
    std::size_t i = 0;
    while (i < in.size()) {
        if (i > 0) {
            ctx.yieldNow();
            if (ctx.stopRequested()) {
                out.append(in.substr(i));
                return false;
            }
        }
        const std::size_t stretchEnd = std::min(in.size(), i + kCheckEvery);
        while (i < stretchEnd) {
            if (!decoder.open()) {
                // Nothing can begin before the next "&": copy up to it.
                const void* amp = std::memchr(in.data() + i, '&', stretchEnd - i);
                const std::size_t next =
                    amp == nullptr ? stretchEnd : static_cast<std::size_t>(static_cast<const char*>(amp) - in.data());
                out.append(in.substr(i, next - i));
                i = next;
                if (i == stretchEnd) {
                    break;
                }
            }
            decoder.feed(in[i]);
            ++i;
        }
    }
    return true;
}

} // namespace

ascReferClass::ascReferClass() = default;

ascReferClass::~ascReferClass() = default;

std::string ascReferClass::convert(std::string_view text, const JobContext& ctx) const {
    std::string first;
    if (!decodePass(text, first, 0, ctx)) {
        return first;
    }
    if (first.find('&') == std::string::npos) {
        return first; // the second pass would copy it unchanged
    }
    ctx.yieldNow();
    std::string second;
    decodePass(first, second, 1, ctx);
    return second;
}

} // namespace quillon
