#pragma once

#include <cstddef>
#include <string_view>

namespace quillon::utf8Check {

// Length of the valid UTF-8 sequence at p (left > 0 bytes remain), or 0 when
// it is not one. When it is not, `bad` is the length of its maximal valid
// prefix (at least 1), the bytes one U+FFFD stands for.
std::size_t sequence(const unsigned char* p, std::size_t left, std::size_t& bad);

// The ways the check can run. A vector path is taken only where the
// processor has it (otherwise the call runs the portable one); all give the
// same answers on every input.
enum class Path { Scalar, Avx2, Avx512 };

// Whether this processor can run the Avx2 path.
bool avx2Available();

// Whether this processor can run the Avx512 path (AVX-512 F and BW).
bool avx512Available();

// The fastest path this processor has.
Path bestPath();

// Offset of the first invalid or incomplete sequence, or the size when the
// text is valid UTF-8.
std::size_t firstInvalid(std::string_view text, Path path = bestPath());

// What one pass over raw bytes tells: whether they are valid UTF-8 and, when
// they are, whether a "&" (which may begin a character reference), an escape
// byte (which may begin an ISO-2022-JP escape sequence) or a byte 0x80 or
// above is among them. For invalid text the three are unspecified.
struct Inspection {
    bool valid = true;
    bool hasAmpersand = false;
    bool hasEscape = false;
    bool hasHigh = false;
};

Inspection inspect(std::string_view text, Path path = bestPath());

} // namespace quillon::utf8Check
