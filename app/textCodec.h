#pragma once

// Conversions between UTF-8 and Shift_JIS through glibc's converters, with
// one U+FFFD (or "?" towards Shift_JIS) for each invalid sequence: the short
// strings of the preferences file use them, and so does the conversion module
// (extract/convModule), which builds its faster decoding tables on them.

#include <cstddef>
#include <iconv.h>
#include <string>
#include <string_view>

namespace quillon::textCodec {

// The iconv names the program converts with.
//
// Shift_JIS is read and written as CP932: Japanese files in practice use its
// extensions (①, ㈱, the NEC and IBM rows) and mean backslash and tilde by 0x5C
// and 0x7E, while glibc's SHIFT_JIS refuses the extensions and reads 0x5C as a
// yen sign.
//
// EUC-JP is read as EUC-JP-MS. It accepts every byte sequence that glibc's
// EUC-JP accepts (JIS X 0208, half-width katakana after 0x8E, JIS X 0212 after
// 0x8F) and in addition the NEC row 13 (①, ㈱), the IBM extensions and the
// user-defined rows. It also maps the characters that differ between the JIS
// and the Microsoft tables (～, －, ￢, ¢, £, ‖) to the same code points as
// CP932, so one text reads the same whether it was stored in Shift_JIS or in
// EUC-JP.
constexpr const char* kCp932 = "CP932";
constexpr const char* kEucJp = "EUC-JP-MS";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// How many bytes one invalid sequence spans, so that each is replaced by one
// U+FFFD. An ASCII byte is never swallowed as the second byte of a bad pair:
// addresses are ASCII and must survive a broken character in front of them.
enum class SkipRule { OneByte, Cp932, EucJp };

class Iconv {
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) {
            iconv_close(m_cd);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

// How many bytes the invalid sequence at p spans under `rule` (left > 0).
std::size_t invalidLength(SkipRule rule, const unsigned char* p, std::size_t left);

// Runs `cd` over the whole input, appending to `out`. Every invalid sequence
// becomes U+FFFD and the conversion goes on; an incomplete sequence at the end
// becomes one U+FFFD. `expansion` is the most output bytes one input byte can
// give.
void convertAll(iconv_t cd, SkipRule rule, std::string_view in, std::size_t expansion, std::string& out,
                std::size_t& invalid);
// Calls `convert(cd)` with a converter to UTF-8 opened from `from`, for a
// non-empty `in`. When the C library lacks the converter, one U+FFFD stands
// for the text, so that its length stays visible rather than nothing.
template <class Convert>
void convertFrom(const char* from, std::string_view in, std::string& out, std::size_t& invalid, Convert&& convert) {
    if (in.empty()) {
        return;
    }
    Iconv cd("UTF-8", from);
    if (!cd.ok()) {
        out.append(kReplacement);
        ++invalid;
        return;
    }
    convert(cd.get());
}

// convertAll with a converter to UTF-8 opened from `from` (convertFrom).
void convertWith(const char* from, SkipRule rule, std::string_view in, std::size_t expansion, std::string& out,
                 std::size_t& invalid);

// Invalid UTF-8 sequences replaced by U+FFFD, appended to `out`.
void repairUtf8(std::string_view text, std::string& out, std::size_t& invalid);

// Shift_JIS (CP932) bytes to UTF-8.
std::string fromShiftJis(std::string_view bytes);

// Bytes that should be UTF-8, with every invalid sequence replaced.
std::string validUtf8(std::string_view bytes);

struct SjisResult {
    std::string bytes;        // Shift_JIS (CP932)
    std::size_t replaced = 0; // characters with no Shift_JIS form, written as "?"
};

// UTF-8 text to Shift_JIS (CP932). Never cuts the text short.
SjisResult toShiftJis(std::string_view utf8);

} // namespace quillon::textCodec
