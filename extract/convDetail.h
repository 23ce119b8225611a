#pragma once

// The pieces of the conversion module that its readers share: the ISO-2022-JP
// converter names and the decoding tables; the glibc runs are textCodec's.
// For extract/convModule.cpp and extract/iso2022Reader.cpp only.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <string>
#include <string_view>
#include <vector>

#include "app/textCodec.h"

namespace quillon::convModule::detail {

using namespace textCodec;

// ISO-2022-JP is decoded by the escape-sequence reader below, which hands the
// characters of each designated set to one of the converters of textCodec, so ①, ㈱
// and ～ read as from CP932. glibc's ISO-2022-JP, ISO-2022-JP-2 and
// ISO-2022-JP-3 all refuse the NEC row 13 that Windows mailers write after
// ESC $ B and all read 0x2141 as U+301C (〜) where the same text in Shift_JIS
// gives U+FF5E. glibc is used as it is only for the sets this reader does not
// map itself: JIS X 0213 (ISO-2022-JP-3) and the Chinese and Korean sets of
// ISO-2022-JP-2.
constexpr const char* kIso2022Jp3 = "ISO-2022-JP-3";
constexpr const char* kIso2022Jp2 = "ISO-2022-JP-2";

// The characters of one and two bytes of a legacy encoding, as glibc's
// converter reads them. The tables of CP932 and EUC-JP-MS are built when the
// program is built (extract/gen/convTableGen.cpp runs buildTable and writes
// them out as constants), so no run pays for building them.
struct DecodeTable {
    // The UTF-8 bytes in the low three bytes, their count in the top byte; 0
    // where the table does not hold the sequence.
    std::array<std::uint32_t, 256> single{};
    // Index (first - 0x80) << 8 | second: pairs whose first byte is 0x80 or above.
    std::array<std::uint32_t, 128 * 256> pair{};
    bool asciiSame = false; // 0x00 to 0x7F read as themselves

    std::uint32_t pairAt(unsigned first, unsigned second) const { return pair[(first - 0x80u) << 8 | second]; }
};

// One character from the table, written as four bytes whatever its length
// (its bytes, then the length byte, which the next character overwrites; the
// caller leaves room for that); returns the next write position.
inline char* putEntry(char* dst, std::uint32_t e) {
    std::memcpy(dst, &e, 4);
    return dst + (e >> 24);
}

const DecodeTable& cp932Table();
const DecodeTable& eucJpTable();

// The tables as the program was built with them (generated).
extern const DecodeTable kCp932Table;
extern const DecodeTable kEucJpTable;

// Builds the table of `from` by running glibc's converter over every
// candidate sequence; a table that holds nothing when the converter is
// missing or answers unexpectedly.
DecodeTable buildTable(const char* from, SkipRule rule);

// Decodes `in` with the table, handing what it does not hold to `cd`.
void decodeWithTable(const DecodeTable& t, iconv_t cd, SkipRule rule, std::string_view in, std::string& out,
                     std::size_t& invalid);

} // namespace quillon::convModule::detail
