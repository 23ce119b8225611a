#pragma once

#include "app/settings.h"
#include "app/textCodec.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace quillon::convModule {

// How many bytes of a source make the guess sample.
inline constexpr std::size_t kGuessSampleSize = 2048;

// The first 2,048 bytes of the raw text (all of it when shorter), cut even
// inside a multibyte character.
std::string guessSample(std::string_view raw);

// What uchardet names a byte sample as, when it names one of the two 8-bit
// Japanese encodings: ShiftJIS (also for CP932), EucJP; None for any other
// answer or none.
Encoding uchardetJapanese(std::string_view sample);

// Names the Japanese encoding of a byte sample: Shift_JIS, EUC-JP, UTF-8 or
// ISO-2022-JP; never None.
Encoding guessEncoding(std::string_view sample);

// The name the user sees for an encoding ("Shift_JIS", "EUC-JP", ...).
const char* encodingName(Encoding enc);

struct ConvResult {
    std::string text;               // UTF-8
    std::size_t invalid = 0;        // invalid or truncated sequences, each replaced by U+FFFD
    Encoding used = Encoding::None; // the encoding actually converted from (the guess for None)
};

// Converts raw bytes to UTF-8. Shift_JIS is read as CP932. With `None` the
// encoding is guessed from `sample` (the source's guess sample) and the whole
// text is converted from the guess. Never stops early: every invalid sequence
// becomes U+FFFD and the conversion goes on to the end.
ConvResult convToUTF8(std::string_view bytes, Encoding enc, std::string_view sample = {});

// convToUTF8 with the glibc converters alone, character by character, where
// convToUTF8 decodes Shift_JIS and EUC-JP (also inside ISO-2022-JP) through
// tables built from those converters. The same result, more slowly: kept to
// check the tables against.
ConvResult convToUTF8WithoutTables(std::string_view bytes, Encoding enc);

// Converts a text to UTF-8 a piece at a time, with the same bytes and count
// in all as convToUTF8 gives for the whole text. A piece ends right after a
// line end byte (or at the end of the text): in Shift_JIS and EUC-JP no
// character and no invalid sequence holds that byte, and the designated set
// of ISO-2022-JP is carried from one piece to the next. For ShiftJIS, EucJP
// and ISO2022JP only.
class PieceConverter {
public:
    explicit PieceConverter(Encoding enc);
    ~PieceConverter();
    PieceConverter(const PieceConverter&) = delete;
    PieceConverter& operator=(const PieceConverter&) = delete;

    // Where the next piece of `all` starting at `from` ends: after the first
    // line end at or after `from + size`, or the end of the text.
    static std::size_t pieceEnd(std::string_view all, std::size_t from, std::size_t size);

    // Converts `all` from `from` to `limit` (a piece end), appending to `out`.
    // Returns where it stopped: `limit`, or further for ISO-2022-JP when a run
    // of a set read by glibc reaches past it (the next piece starts there).
    // With `more` (`all` is only what was read so far of a longer text), such
    // a run that reaches the end of `all` is not read: it stops before the
    // run, which may be before `limit`, and the caller reads on.
    std::size_t convert(std::string_view all, std::size_t from, std::size_t limit, std::string& out, bool more = false);

    // Invalid sequences replaced so far.
    std::size_t invalid() const { return m_invalid; }

private:
    struct Impl;
    Encoding m_enc;
    std::size_t m_invalid = 0;
    std::unique_ptr<Impl> m_impl;
};

// How convToUTF8 reads one or two bytes in Shift_JIS or EUC-JP (`enc`):
// true when they make exactly one character, false when they are invalid,
// need more bytes, or make an ASCII byte and something else.
bool readsAsOneCharacter(Encoding enc, std::string_view bytes);

// Writes the UTF-8 form of a code point (at most U+10FFFF) to `out` and
// returns its length, 1 to 4 bytes.
int encodeUtf8(char32_t code, char* out);

// Whether the bytes are valid UTF-8 (what convToUTF8 with UTF8 would return
// unchanged, with no invalid sequence).
bool isValidUtf8(std::string_view bytes);

// UTF-16 text (as the clipboard gives it, host byte order) to UTF-8; unpaired
// surrogates become U+FFFD.
std::string utf16ToUTF8(std::u16string_view text);

using SjisResult = textCodec::SjisResult;

// Converts UTF-8 text to Shift_JIS (CP932). Never cuts the text short.
SjisResult convToSJIS(std::string_view utf8);

} // namespace quillon::convModule
