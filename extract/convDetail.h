#pragma once

// The pieces of the conversion module that its readers share: the converter
// names, the invalid-sequence rule, the decoding tables and the glibc runs.
// For extract/convModule.cpp and extract/iso2022Reader.cpp only.

#include <array>
#include <cstddef>
#include <cstdint>
#include <iconv.h>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::convModule::detail {

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
// ISO-2022-JP is decoded by the escape-sequence reader below, which hands the
// characters of each designated set to one of the converters above, so ①, ㈱
// and ～ read as from CP932. glibc's ISO-2022-JP, ISO-2022-JP-2 and
// ISO-2022-JP-3 all refuse the NEC row 13 that Windows mailers write after
// ESC $ B and all read 0x2141 as U+301C (〜) where the same text in Shift_JIS
// gives U+FF5E. glibc is used as it is only for the sets this reader does not
// map itself: JIS X 0213 (ISO-2022-JP-3) and the Chinese and Korean sets of
// ISO-2022-JP-2.
constexpr const char* kIso2022Jp3 = "ISO-2022-JP-3";
constexpr const char* kIso2022Jp2 = "ISO-2022-JP-2";

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

struct DecodeTable {
    // The UTF-8 bytes in the low three bytes, their count in the top byte; 0
    // where the table does not hold the sequence.
    std::array<std::uint32_t, 256> single{};
    std::vector<std::uint32_t> pair; // index first << 8 | second, first byte 0x80 or above
    bool asciiSame = false;          // 0x00 to 0x7F read as themselves
};

// One character from the table, written as three bytes whatever its length
// (the caller leaves room for that); returns the next write position.
inline char* putEntry(char* dst, std::uint32_t e) {
    dst[0] = static_cast<char>(e & 0xFF);
    dst[1] = static_cast<char>((e >> 8) & 0xFF);
    dst[2] = static_cast<char>((e >> 16) & 0xFF);
    return dst + (e >> 24);
}

const DecodeTable& cp932Table();
const DecodeTable& eucJpTable();

// Converts `in` with `cd` whole, each invalid sequence (by `rule`) replaced by
// one U+FFFD; appends to `out`.
void convertAll(iconv_t cd, SkipRule rule, std::string_view in, std::size_t expansion, std::string& out,
                std::size_t& invalid);
// convertAll with a converter opened from `from` (one U+FFFD when glibc lacks it).
void convertWith(const char* from, SkipRule rule, std::string_view in, std::size_t expansion, std::string& out,
                 std::size_t& invalid);
// Decodes `in` with the table, handing what it does not hold to `cd`.
void decodeWithTable(const DecodeTable& t, iconv_t cd, SkipRule rule, std::string_view in, std::string& out,
                     std::size_t& invalid);

} // namespace quillon::convModule::detail
