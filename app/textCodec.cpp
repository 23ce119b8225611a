#include "app/textCodec.h"

#include "app/utf8Check.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace quillon::textCodec {

namespace {

// Output buffer that grows in large steps and is cut to size once at the end,
// so a conversion makes a handful of allocations whatever the text's size.
class OutBuffer {
public:
    explicit OutBuffer(std::string& out) : m_out(out), m_used(out.size()) {}
    ~OutBuffer() { m_out.resize(m_used); }
    OutBuffer(const OutBuffer&) = delete;
    OutBuffer& operator=(const OutBuffer&) = delete;

    // Room for `bytes` more. Only that much is cleared: a buffer that is
    // cut to size and grown again for every piece of a long text (the
    // ISO-2022-JP reader converts in pieces) must not clear half its size
    // each time. The capacity still grows geometrically.
    void reserveMore(std::size_t bytes) {
        if (m_out.size() - m_used < bytes) {
            const std::size_t want = m_used + bytes;
            if (want > m_out.capacity()) {
                m_out.reserve(std::max(want, m_out.capacity() + m_out.capacity() / 2));
            }
            m_out.resize(want);
        }
    }
    char* cursor() { return m_out.data() + m_used; }
    std::size_t room() const { return m_out.size() - m_used; }
    void advanceTo(const char* p) { m_used = static_cast<std::size_t>(p - m_out.data()); }
    void append(std::string_view s) {
        reserveMore(s.size());
        std::memcpy(cursor(), s.data(), s.size());
        m_used += s.size();
    }

private:
    std::string& m_out;
    std::size_t m_used;
};

// Runs `cd` over `in`, appending to `buf`, until the input is used up or an
// error ends it. At an invalid or incomplete sequence, `onBad(err, p, left)`
// writes what stands for it and returns how many input bytes to skip (all of
// `left` ends the run). A full buffer grows by `expansion` bytes per input
// byte left.
template <class OnBad>
void iconvRun(iconv_t cd, std::string_view in, OutBuffer& buf, std::size_t expansion, OnBad&& onBad) {
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    while (true) {
        char* outPtr = buf.cursor();
        std::size_t outLeft = buf.room();
        const std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        buf.advanceTo(outPtr);
        if (r != static_cast<std::size_t>(-1)) {
            break;
        }
        if (errno == E2BIG) {
            buf.reserveMore(inLeft * expansion + 64);
            continue;
        }
        const std::size_t skip = onBad(errno, reinterpret_cast<const unsigned char*>(inPtr), inLeft);
        inPtr += skip;
        inLeft -= skip;
        if (inLeft == 0) {
            break;
        }
    }
}

// One run of UTF-8 text to CP932, appended to `buf`; one "?" for each
// character with no CP932 form and for each invalid sequence.
void sjisConvert(iconv_t cd, std::string_view utf8, OutBuffer& buf, std::size_t& replaced) {
    iconvRun(cd, utf8, buf, 1, [&](int, const unsigned char* p, std::size_t left) {
        // A character with no CP932 form (EILSEQ), or bytes that are not
        // UTF-8 (EILSEQ, or EINVAL at the end): one "?" each.
        buf.append("?");
        ++replaced;
        std::size_t bad = 0;
        const std::size_t len = utf8Check::sequence(p, left, bad);
        return len == 0 ? bad : len;
    });
}

// Whether every ASCII byte reads as itself in CP932, asked of the converter
// once.
bool asciiSameInCp932() {
    static const bool same = [] {
        Iconv cd(kCp932, "UTF-8");
        if (!cd.ok()) {
            return false;
        }
        std::string ascii(128, '\0');
        for (std::size_t b = 0; b < ascii.size(); ++b) {
            ascii[b] = static_cast<char>(b);
        }
        std::string out;
        std::size_t replaced = 0;
        {
            OutBuffer buf(out);
            buf.reserveMore(ascii.size() + 16);
            sjisConvert(cd.get(), ascii, buf, replaced);
        }
        return replaced == 0 && out == ascii;
    }();
    return same;
}

// The length of the ASCII run at the start of a text.
std::size_t asciiRun(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        if ((word & 0x8080808080808080ULL) != 0) {
            break;
        }
    }
    while (i < n && p[i] < 0x80) {
        ++i;
    }
    return i;
}

// Converts UTF-8 to CP932. ASCII runs are copied as they are, and only the
// runs of bytes 0x80 and above between them go through the converter: a UTF-8
// character, or an invalid sequence, never spans an ASCII byte, so the
// converter sees the same characters and errors as in one call over the text.
void sjisRun(iconv_t cd, std::string_view utf8, OutBuffer& buf, std::size_t& replaced) {
    if (!asciiSameInCp932()) {
        sjisConvert(cd, utf8, buf, replaced);
        return;
    }
    buf.reserveMore(utf8.size() + 16);
    while (!utf8.empty()) {
        const std::size_t ascii = asciiRun(utf8);
        buf.append(utf8.substr(0, ascii));
        utf8.remove_prefix(ascii);
        std::size_t other = 0;
        while (other < utf8.size() && static_cast<unsigned char>(utf8[other]) >= 0x80) {
            ++other;
        }
        if (other > 0) {
            sjisConvert(cd, utf8.substr(0, other), buf, replaced);
            utf8.remove_prefix(other);
        }
    }
}

// glibc's converters to a character set drop the Unicode tag characters
// (U+E0000 to U+E007F, in UTF-8 F3 A0 80 80 to F3 A0 81 BF) without reporting
// them; they have no Shift_JIS form, so they are found here and written as "?"
// like any other such character.
bool isTagCharacter(std::string_view text, std::size_t at) {
    if (text.size() - at < 4) {
        return false;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + at;
    return p[0] == 0xF3 && p[1] == 0xA0 && (p[2] == 0x80 || p[2] == 0x81) && p[3] >= 0x80 && p[3] <= 0xBF;
}

} // namespace

std::size_t invalidLength(SkipRule rule, const unsigned char* p, std::size_t left) {
    if (left < 2) {
        return 1;
    }
    const unsigned char b0 = p[0];
    const unsigned char b1 = p[1];
    switch (rule) {
    case SkipRule::Cp932: {
        const bool lead = (b0 >= 0x81 && b0 <= 0x9F) || (b0 >= 0xE0 && b0 <= 0xFC);
        const bool trail = b1 >= 0x80 && b1 <= 0xFC;
        return lead && trail ? 2 : 1;
    }
    case SkipRule::EucJp: {
        const auto high = [](unsigned char b) { return b >= 0xA1 && b <= 0xFE; };
        if (b0 == 0x8F) {
            return left >= 3 && high(b1) && high(p[2]) ? 3 : 1;
        }
        if ((b0 == 0x8E || high(b0)) && high(b1)) {
            return 2;
        }
        return 1;
    }
    case SkipRule::OneByte:
        break;
    }
    return 1;
}

// Runs `cd` over the whole input, appending to `out`. Every invalid sequence
// becomes U+FFFD and the conversion goes on; an incomplete sequence at the end
// becomes one U+FFFD. The buffer is first sized for Japanese text (two bytes
// become three); `expansion`, the most output bytes one input byte can give,
// sizes the one growth that text with more expansion needs.
void convertAll(iconv_t cd, SkipRule rule, std::string_view in, std::size_t expansion, std::string& out,
                std::size_t& invalid) {
    OutBuffer buf(out);
    buf.reserveMore(in.size() / 2 * 3 + 64);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    iconvRun(cd, in, buf, expansion, [&](int err, const unsigned char* p, std::size_t left) {
        buf.append(kReplacement);
        ++invalid;
        // EINVAL: the text ends inside a character.
        return err == EILSEQ ? invalidLength(rule, p, left) : left;
    });
    // A stateful encoding may owe a final shift sequence.
    buf.reserveMore(16);
    char* outPtr = buf.cursor();
    std::size_t outLeft = buf.room();
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    buf.advanceTo(outPtr);
}

void convertWith(const char* from, SkipRule rule, std::string_view in, std::size_t expansion, std::string& out,
                 std::size_t& invalid) {
    convertFrom(from, in, out, invalid, [&](iconv_t cd) { convertAll(cd, rule, in, expansion, out, invalid); });
}

void repairUtf8(std::string_view text, std::string& out, std::size_t& invalid) {
    std::size_t start = utf8Check::firstInvalid(text);
    if (start == text.size()) {
        out.append(text);
        return;
    }
    out.reserve(out.size() + text.size() + 64);
    out.append(text.substr(0, start));
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t i = start;
    while (i < text.size()) {
        std::size_t bad = 0;
        const std::size_t len = utf8Check::sequence(p + i, text.size() - i, bad);
        if (len == 0) {
            out.append(kReplacement);
            ++invalid;
            i += bad;
            continue;
        }
        const std::size_t runEnd = i + utf8Check::firstInvalid(text.substr(i));
        out.append(text.substr(i, runEnd - i));
        i = runEnd;
    }
}

std::string fromShiftJis(std::string_view bytes) {
    std::string out;
    std::size_t invalid = 0;
    convertWith(kCp932, SkipRule::Cp932, bytes, 3, out, invalid);
    return out;
}

std::string validUtf8(std::string_view bytes) {
    std::string out;
    std::size_t invalid = 0;
    repairUtf8(bytes, out, invalid);
    return out;
}

SjisResult toShiftJis(std::string_view utf8) {
    SjisResult result;
    if (utf8.empty()) {
        return result;
    }
    Iconv cd(kCp932, "UTF-8");
    if (!cd.ok()) {
        result.bytes.assign(utf8.size(), '?');
        result.replaced = utf8.size();
        return result;
    }
    OutBuffer buf(result.bytes);
    buf.reserveMore(utf8.size() + 16);
    std::size_t runStart = 0;
    for (std::size_t at = utf8.find("\xF3\xA0"); at != std::string_view::npos; at = utf8.find("\xF3\xA0", at + 1)) {
        if (isTagCharacter(utf8, at)) {
            sjisRun(cd.get(), utf8.substr(runStart, at - runStart), buf, result.replaced);
            buf.append("?");
            ++result.replaced;
            runStart = at + 4;
            at += 3;
        }
    }
    sjisRun(cd.get(), utf8.substr(runStart), buf, result.replaced);
    return result;
}

} // namespace quillon::textCodec
