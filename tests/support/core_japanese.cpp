#include "support/core_japanese.h"

#include <iconv.h>
#include <stdexcept>

namespace quillon::testing {

// Converts with glibc, refusing to lose anything: test data only.
std::string glibc(const std::string& text, const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error("no converter");
    }
    std::string out(text.size() * 4 + 32, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    const std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv(cd, nullptr, nullptr, &o, &outLeft);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1)) {
        throw std::runtime_error(std::string("test data not convertible to ") + to);
    }
    out.resize(out.size() - outLeft);
    return out;
}

// ISO-2022-JP as Windows mailers write it: the Shift_JIS pairs (NEC row 13
// included) as JIS X 0208 after ESC $ B, half-width katakana after ESC ( I.
// Built from the CP932 form with the usual Shift_JIS to JIS arithmetic.
namespace {

std::string toIso2022(const std::string& utf8) {
    const std::string sjis = glibc(utf8, "CP932", "UTF-8");
    std::string out;
    enum { Ascii, Kanji, Kana } mode = Ascii;
    const auto to = [&](decltype(mode) m, const char* esc) {
        if (mode != m) {
            out += esc;
            mode = m;
        }
    };
    for (std::size_t i = 0; i < sjis.size(); ++i) {
        const auto b = static_cast<unsigned char>(sjis[i]);
        if (b < 0x80) {
            to(Ascii, "\x1B(B");
            out += static_cast<char>(b);
        } else if (b >= 0xA1 && b <= 0xDF) {
            to(Kana, "\x1B(I");
            out += static_cast<char>(b - 0x80);
        } else {
            const auto t = static_cast<unsigned char>(sjis[++i]);
            unsigned j1 = (b <= 0x9F ? b - 0x70u : b - 0xB0u) * 2;
            unsigned j2 = t;
            if (t < 0x9F) {
                --j1;
                j2 = t - (t >= 0x80 ? 0x20u : 0x1Fu);
            } else {
                j2 = t - 0x7Eu;
            }
            to(Kanji, "\x1B$B");
            out += static_cast<char>(j1);
            out += static_cast<char>(j2);
        }
    }
    to(Ascii, "\x1B(B");
    return out;
}

} // namespace

std::string encode(const std::string& utf8, Encoding enc) {
    switch (enc) {
    case Encoding::ShiftJIS:
        return glibc(utf8, "CP932", "UTF-8");
    case Encoding::EucJP:
        return glibc(utf8, "EUC-JP-MS", "UTF-8");
    case Encoding::ISO2022JP:
        return toIso2022(utf8);
    default:
        return utf8;
    }
}

} // namespace quillon::testing
