#pragma once

#include "app/settings.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::encodingVerdict {

// What the whole text of a source tells about its encoding.
struct Verdict {
    enum class Kind {
        Ascii,  // 7-bit bytes and no escape sequence: reads the same in every encoding
        Text,   // text in `likely`
        Binary, // no encoding reads it as text (NUL bytes, or faults under every reading)
    };
    Kind kind = Kind::Ascii;
    // The encoding the bytes are most likely in; None for Ascii and Binary.
    Encoding likely = Encoding::None;

    // Whether reading the bytes as `used` gives the characters they hold.
    // Ascii fits every encoding, Binary none.
    bool fits(Encoding used) const;

    // The encoding a source is read with when none was chosen: the likely
    // one; UTF-8 for Ascii and Binary (the UTF-8 reader keeps every ASCII
    // byte, so no address is cut or lengthened by a wrong guess).
    Encoding guess() const;
};

// Gathers, piece by piece, what the bytes of one source tell about their
// encoding, and gives the verdict over all of them. Linear in the bytes and
// holding at most 64 KB: ISO-2022-JP escape sequences anywhere; whether the
// bytes are UTF-8; how many sequences are invalid when they are read as
// Shift_JIS (CP932), EUC-JP and ISO-2022-JP. A reading that is plainly wrong
// (many faults, or far more than another reading) is no longer followed, and
// neither is the last one standing, so most of a long text is only looked
// through for escape and NUL bytes. uchardet, over the first 64 KB of the
// lines that hold 8-bit bytes, decides only between Shift_JIS and EUC-JP when
// both read the text equally well.
//
// Pieces must not cut a character of Shift_JIS, EUC-JP or UTF-8: they end
// after a line end, a space or a control byte (or at the end of the text),
// which none of those characters holds. An escape sequence cut by the end of
// a piece is completed with the start of the next.
class Evidence {
public:
    Evidence();

    void feed(std::string_view piece);

    // Takes note of a piece of `size` bytes already found to be valid UTF-8
    // holding no escape byte (utf8Check::inspect), instead of reading it
    // again. With 8-bit bytes (`hasHigh`), valid UTF-8 decides the verdict.
    void feedValidUtf8(std::size_t size, bool hasHigh);

    // Whether more bytes can no longer change the verdict: one reading is
    // left, or none. Text whose 8-bit bytes read well in one encoding only is
    // settled within its first few kilobytes of Japanese; ASCII never is.
    bool settled() const;

    Verdict verdict() const;

    // The candidates, in the order of the fault counts below.
    enum Candidate { Utf8, Sjis, Euc, Iso, kCandidates };

    // Faults of reading the bytes fed so far as a candidate: invalid
    // sequences, plus the escape sequences for the three encodings that take
    // them as ASCII letters. Counting stops when a reading is given up, so
    // the count is then a lower bound.
    std::size_t faults(Candidate c) const;

private:
    void readHigh(const unsigned char* p, std::size_t n, std::size_t i);
    void readUtf8(std::string_view rest);
    std::size_t readSjis(const unsigned char* p, std::size_t n, std::size_t i);
    std::size_t readEuc(const unsigned char* p, std::size_t n, std::size_t i);
    std::size_t readEscape(const unsigned char* p, std::size_t n, std::size_t i);
    std::size_t finishEscape(std::string_view piece);
    void keepSample(std::string_view piece, std::size_t firstHigh);
    void prune(bool decide);
    Encoding tieBreak() const;

    enum class State : std::uint8_t { Following, GivenUp, Decided };
    std::array<State, kCandidates> m_state{};
    std::array<std::size_t, kCandidates> m_faults{};
    std::size_t m_total = 0;
    std::size_t m_high = 0;    // bytes 0x80 and above
    std::size_t m_nul = 0;     // NUL bytes
    std::size_t m_escapes = 0; // ISO-2022-JP escape sequences
    // Shift_JIS reading: half-width katakana and user-defined characters,
    // rare in Shift_JIS text and most of EUC-JP text read as Shift_JIS.
    std::size_t m_sjisOdd = 0;
    std::size_t m_sjisPairs = 0;  // Shift_JIS reading: other two-byte characters
    bool m_utf8Multibyte = false; // a valid UTF-8 character of two bytes or more was seen
    std::size_t m_nextPrune = 0;
    std::size_t m_sjisAt = 0; // where the Shift_JIS reading goes on in the current piece
    std::size_t m_eucAt = 0;
    std::string m_sample;
    std::string m_carry; // an escape sequence cut off by the end of the last piece
};

// The verdict over a whole text, fed in pieces of about 1 MB.
Verdict judge(std::string_view bytes);

// Where a piece of `bytes` may end so that Evidence can take it: after the
// last line end, space or control byte, which no character holds; 0 when
// there is none.
std::size_t pieceCut(std::string_view bytes);

} // namespace quillon::encodingVerdict
