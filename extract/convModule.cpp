#include "extract/convModule.h"

#include "app/textCodec.h"
#include "app/utf8Check.h"
#include "extract/convDetail.h"
#include "extract/iso2022Reader.h"

#include <uchardet.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <memory>
#include <utility>
#include <vector>

namespace quillon::convModule {

namespace detail {

// One iconv descriptor, closed when it goes out of use.

// ---- Table decoding of Shift_JIS and EUC-JP ----

// glibc's converters pay a call and a table search for each character. For the
// characters of one and two bytes a table, built with the program by running
// the same converter over every candidate (extract/convTableBuild.cpp), gives
// the same bytes without those costs.
// Whatever the table does not hold (invalid bytes, cut-off characters, the
// three-byte characters of EUC-JP) goes to the converter, from that byte to
// the next line end: in either encoding a line end is never part of a
// character or of an invalid sequence (see invalidLength), so the converter
// reads the same characters there as in one run over the whole text.

const DecodeTable& cp932Table() {
    return kCp932Table;
}

const DecodeTable& eucJpTable() {
    return kEucJpTable;
}

// Decodes `in` with the table, handing what it does not hold to `cd` up to the
// next line end; appends to `out`. The same bytes and count as convertAll.
// Room for `more` bytes after the end of `out` without clearing them, grown
// geometrically (a reader that appends piece by piece must not copy the text
// again for each piece).
void reserveAppend(std::string& out, std::size_t more) {
    const std::size_t want = out.size() + more;
    if (want > out.capacity()) {
        out.reserve(std::max(want, out.capacity() + out.capacity() / 2));
    }
}

void decodeWithTable(const DecodeTable& t, iconv_t cd, SkipRule rule, std::string_view in, std::string& out,
                     std::size_t& invalid) {
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t n = in.size();
    reserveAppend(out, n / 2 * 3 + 64);
    // Decoded a block at a time into a buffer that stays in the cache, then
    // appended: the output is never cleared before it is written. Each input
    // byte gives at most three output bytes.
    constexpr std::size_t kBlock = 8192;
    char buffer[(kBlock + 1) * 3 + 4];
    std::size_t i = 0;
    while (i < n) {
        const std::size_t blockEnd = std::min(n, i + kBlock);
        char* dst = buffer;
        bool held = true;
        while (i < blockEnd) {
            const unsigned char b = p[i];
            if (b < 0x80 && t.asciiSame) {
                *dst++ = static_cast<char>(b);
                ++i;
                continue;
            }
            std::uint32_t e = 0;
            std::size_t len = 1;
            if (b >= 0x80 && i + 1 < n) {
                e = t.pairAt(b, p[i + 1]);
                len = 2;
            }
            if (e == 0) {
                e = t.single[b];
                len = 1;
            }
            if (e == 0) {
                held = false;
                break;
            }
            dst = putEntry(dst, e);
            i += len;
        }
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (!held) {
            const void* nl = std::memchr(p + i, '\n', n - i);
            const std::size_t end =
                nl != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(nl) - p) + 1 : n;
            convertAll(cd, rule, in.substr(i, end - i), 3, out, invalid);
            i = end;
        }
    }
}

// convertWith for CP932 and EUC-JP-MS, through the table.
void convertByTable(const char* from, SkipRule rule, const DecodeTable& t, std::string_view in, std::string& out,
                    std::size_t& invalid) {
    convertFrom(from, in, out, invalid, [&](iconv_t cd) { decodeWithTable(t, cd, rule, in, out, invalid); });
}

// ---- UTF-8 ----

std::size_t utf8Sequence(const unsigned char* p, std::size_t left, std::size_t& bad) {
    return utf8Check::sequence(p, left, bad);
}

std::size_t firstInvalidUtf8(std::string_view text) {
    return utf8Check::firstInvalid(text);
}

void appendUtf8(char32_t c, std::string& out) {
    char bytes[4];
    out.append(bytes, static_cast<std::size_t>(encodeUtf8(c, bytes)));
}

// UTF-16 code units to UTF-8; an unpaired surrogate becomes U+FFFD. Written
// by hand rather than with iconv, which stops at an unpaired surrogate.
template <typename Unit> void utf16Units(std::size_t count, Unit unit, std::string& out, std::size_t& invalid) {
    out.reserve(out.size() + count * 3 / 2 + 16);
    for (std::size_t i = 0; i < count; ++i) {
        const char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            const char32_t next = unit(i + 1);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                appendUtf8(0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00), out);
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            out.append(kReplacement);
            ++invalid;
            continue;
        }
        appendUtf8(u, out);
    }
}

// Bytes holding UTF-16: a byte-order mark decides the order, otherwise the
// host's. An odd last byte is a truncated unit.
void utf16Bytes(std::string_view bytes, std::string& out, std::size_t& invalid) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    bool big = false;
    {
        const std::uint16_t one = 1;
        unsigned char first;
        std::memcpy(&first, &one, 1);
        big = first == 0;
    }
    if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
        big = true;
    } else if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        big = false;
    }
    const std::size_t units = n / 2;
    utf16Units(
        units,
        [&](std::size_t i) {
            const char32_t a = p[2 * i];
            const char32_t b = p[2 * i + 1];
            return big ? (a << 8) | b : (b << 8) | a;
        },
        out, invalid);
    if (n % 2 != 0) {
        out.append(kReplacement);
        ++invalid;
    }
}

// ---- guessing ----

bool hasIso2022Escape(std::string_view sample) {
    for (std::size_t at = sample.find('\x1B'); at != std::string_view::npos; at = sample.find('\x1B', at + 1)) {
        const std::string_view rest = sample.substr(at + 1);
        if (rest.starts_with("$B") || rest.starts_with("$@") || rest.starts_with("(I") || rest.starts_with("(J") ||
            rest.starts_with("$(") || rest.starts_with("(B")) {
            return true;
        }
    }
    return false;
}

// Valid UTF-8, except perhaps for a character cut off by the end of the text.
bool validUtf8UpToCut(std::string_view text) {
    const std::size_t firstBad = firstInvalidUtf8(text);
    if (firstBad == text.size()) {
        return true;
    }
    std::size_t bad = 0;
    utf8Sequence(reinterpret_cast<const unsigned char*>(text.data()) + firstBad, text.size() - firstBad, bad);
    // The maximal valid prefix runs to the end and is longer than a lone byte
    // or starts with a lead byte: a character cut short.
    const auto lead = static_cast<unsigned char>(text[firstBad]);
    return firstBad + bad == text.size() && lead >= 0xC2 && lead <= 0xF4;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

std::size_t invalidCount(const char* from, SkipRule rule, std::string_view sample) {
    std::string out;
    std::size_t invalid = 0;
    convertWith(from, rule, sample, 3, out, invalid);
    return invalid;
}

} // namespace detail

using namespace detail;

int encodeUtf8(char32_t code, char* out) {
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code >> 6));
        out[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (code >> 12));
        out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (code >> 18));
    out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code & 0x3F));
    return 4;
}

bool readsAsOneCharacter(Encoding enc, std::string_view bytes) {
    const DecodeTable& t = enc == Encoding::EucJP ? eucJpTable() : cp932Table();
    if (bytes.size() == 1) {
        return t.single[static_cast<unsigned char>(bytes[0])] != 0;
    }
    if (bytes.size() != 2 || static_cast<unsigned char>(bytes[0]) < 0x80) {
        return false;
    }
    return t.pairAt(static_cast<unsigned char>(bytes[0]), static_cast<unsigned char>(bytes[1])) != 0;
}

bool isValidUtf8(std::string_view text) {
    return firstInvalidUtf8(text) == text.size();
}

std::string guessSample(std::string_view raw) {
    return std::string(raw.substr(0, std::min(raw.size(), kGuessSampleSize)));
}

Encoding uchardetJapanese(std::string_view sample) {
    std::string charset;
    if (uchardet_t ud = uchardet_new()) {
        if (uchardet_handle_data(ud, sample.data(), sample.size()) == 0) {
            uchardet_data_end(ud);
            if (const char* name = uchardet_get_charset(ud)) {
                charset = name;
            }
        }
        uchardet_delete(ud);
    }
    if (equalsNoCase(charset, "SHIFT_JIS") || equalsNoCase(charset, "CP932") || equalsNoCase(charset, "WINDOWS-31J")) {
        return Encoding::ShiftJIS;
    }
    if (equalsNoCase(charset, "EUC-JP")) {
        return Encoding::EucJP;
    }
    return Encoding::None;
}

Encoding guessEncoding(std::string_view sample) {
    const bool sevenBit =
        std::none_of(sample.begin(), sample.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (sevenBit) {
        // 7-bit text with the escape sequences of the Japanese sets is
        // ISO-2022-JP. Plain ASCII reads the same in all four encodings, but
        // the rest of the source may not be ASCII: UTF-8 is taken, as the most
        // common encoding of text written today, and because the UTF-8 reader
        // keeps every ASCII byte (every address) even if the rest turns out to
        // be in a legacy encoding.
        return hasIso2022Escape(sample) ? Encoding::ISO2022JP : Encoding::UTF8;
    }
    // The sample may end inside a character: that is no reason to doubt UTF-8.
    if (validUtf8UpToCut(sample)) {
        return Encoding::UTF8;
    }

    if (const Encoding named = uchardetJapanese(sample); named != Encoding::None) {
        return named;
    }
    // Any other answer (none, a Western, Chinese or Korean encoding) comes
    // from too little or mixed text. The text is then taken as whichever of
    // the two 8-bit Japanese encodings finds fewer invalid sequences in it,
    // Shift_JIS when they tie, being the program's default.
    const std::size_t sjisBad = invalidCount(kCp932, SkipRule::Cp932, sample);
    const std::size_t eucBad = invalidCount(kEucJp, SkipRule::EucJp, sample);
    return eucBad < sjisBad ? Encoding::EucJP : Encoding::ShiftJIS;
}

const char* encodingName(Encoding enc) {
    switch (enc) {
    case Encoding::ShiftJIS:
        return "Shift_JIS";
    case Encoding::EucJP:
        return "EUC-JP";
    case Encoding::UTF8:
        return "UTF-8";
    case Encoding::ISO2022JP:
        return "ISO-2022-JP";
    case Encoding::UTF16:
        return "UTF-16";
    case Encoding::None:
        break;
    }
    return "推測させる";
}

ConvResult convToUTF8(std::string_view bytes, Encoding enc, std::string_view sample) {
    ConvResult result;
    result.used = enc == Encoding::None ? guessEncoding(sample) : enc;
    switch (result.used) {
    case Encoding::ShiftJIS:
        // One CP932 byte gives at most 3 UTF-8 bytes (half-width katakana).
        convertByTable(kCp932, SkipRule::Cp932, cp932Table(), bytes, result.text, result.invalid);
        break;
    case Encoding::EucJP:
        convertByTable(kEucJp, SkipRule::EucJp, eucJpTable(), bytes, result.text, result.invalid);
        break;
    case Encoding::ISO2022JP: {
        Iso2022Reader reader(result.text, result.invalid);
        reader.run(bytes);
        break;
    }
    case Encoding::UTF16:
        utf16Bytes(bytes, result.text, result.invalid);
        break;
    case Encoding::UTF8:
    case Encoding::None:
        repairUtf8(bytes, result.text, result.invalid);
        break;
    }
    return result;
}

ConvResult convToUTF8WithoutTables(std::string_view bytes, Encoding enc) {
    ConvResult result;
    result.used = enc;
    switch (enc) {
    case Encoding::ShiftJIS:
        convertWith(kCp932, SkipRule::Cp932, bytes, 3, result.text, result.invalid);
        break;
    case Encoding::EucJP:
        convertWith(kEucJp, SkipRule::EucJp, bytes, 3, result.text, result.invalid);
        break;
    case Encoding::ISO2022JP: {
        Iso2022Reader reader(result.text, result.invalid, false);
        reader.run(bytes);
        break;
    }
    default:
        return convToUTF8(bytes, enc);
    }
    return result;
}

struct PieceConverter::Impl {
    Iconv cd;
    std::string scratch; // the reader's first output, never written
    std::size_t readerInvalid = 0;
    Iso2022Reader reader;
    Impl(const char* from) : cd("UTF-8", from), reader(scratch, readerInvalid) {}
};

PieceConverter::PieceConverter(Encoding enc)
    : m_enc(enc), m_impl(std::make_unique<Impl>(enc == Encoding::EucJP ? kEucJp : kCp932)) {}

PieceConverter::~PieceConverter() = default;

std::size_t PieceConverter::pieceEnd(std::string_view all, std::size_t from, std::size_t size) {
    if (all.size() - from <= size) {
        return all.size();
    }
    const std::size_t nl = all.find('\n', from + size);
    return nl == std::string_view::npos ? all.size() : nl + 1;
}

std::size_t PieceConverter::convert(std::string_view all, std::size_t from, std::size_t limit, std::string& out,
                                    bool more) {
    if (from >= limit) {
        return from;
    }
    switch (m_enc) {
    case Encoding::ShiftJIS:
    case Encoding::EucJP: {
        const std::string_view piece = all.substr(from, limit - from);
        if (!m_impl->cd.ok()) {
            // As convertWith: one U+FFFD for the whole text, for its first piece.
            if (from == 0) {
                out.append(kReplacement);
                ++m_invalid;
            }
            return limit;
        }
        decodeWithTable(m_enc == Encoding::EucJP ? eucJpTable() : cp932Table(), m_impl->cd.get(),
                        m_enc == Encoding::EucJP ? SkipRule::EucJp : SkipRule::Cp932, piece, out, m_invalid);
        return limit;
    }
    default: {
        m_impl->reader.setOutput(out);
        const std::size_t stopped = m_impl->reader.run(all, from, limit, more);
        m_impl->reader.setOutput(m_impl->scratch);
        m_invalid = m_impl->readerInvalid;
        return stopped;
    }
    }
}

std::string utf16ToUTF8(std::u16string_view text) {
    std::string out;
    std::size_t invalid = 0;
    utf16Units(
        text.size(), [&](std::size_t i) { return static_cast<char32_t>(text[i]); }, out, invalid);
    return out;
}

SjisResult convToSJIS(std::string_view utf8) {
    return textCodec::toShiftJis(utf8);
}

} // namespace quillon::convModule
