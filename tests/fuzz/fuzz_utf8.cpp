// The UTF-8 check, the vector path and the portable one, against the
// definition (the longest valid sequences, one character at a time). The
// first byte picks where in the input the text starts, so that it lies at
// every alignment; the rest is the text.
#include "app/utf8Check.h"
#include "fuzzCheck.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

// Offset of the first byte that does not begin a valid sequence, or the size.
std::size_t firstInvalidByDefinition(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        bool complete = false;
        const std::size_t len = quillon::fuzz::utf8ByDefinition(p + i, text.size() - i, complete);
        if (!complete) {
            return i;
        }
        i += len;
    }
    return text.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace u8 = quillon::utf8Check;
    quillon::fuzz::InputReader in(data, size);
    const std::size_t shift = in.pick(64);
    const std::string_view body = in.rest();
    // A copy at the chosen alignment, with bytes of its own around it that
    // the check must not read as part of the text.
    std::string buffer(shift, '\xE3');
    buffer += body;
    buffer += "\x81\x82";
    const std::string_view text(buffer.data() + shift, body.size());

    const std::size_t expected = firstInvalidByDefinition(text);
    const bool amp = text.find('&') != std::string_view::npos;
    const bool esc = text.find('\x1B') != std::string_view::npos;
    bool high = false;
    for (const char c : text) {
        high = high || static_cast<unsigned char>(c) >= 0x80;
    }
    for (const u8::Path path : {u8::Path::Scalar, u8::Path::Avx2, u8::Path::Avx512}) {
        FUZZ_CHECK(u8::firstInvalid(text, path) == expected);
        const u8::Inspection seen = u8::inspect(text, path);
        FUZZ_CHECK(seen.valid == (expected == text.size()));
        FUZZ_CHECK(!seen.valid || (seen.hasAmpersand == amp && seen.hasEscape == esc && seen.hasHigh == high));
    }
    // The sequence at the first fault is not valid, and its bad part is at
    // least one byte and never reaches past the text.
    if (expected < text.size()) {
        std::size_t bad = 0;
        const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + expected;
        FUZZ_CHECK(u8::sequence(p, text.size() - expected, bad) == 0);
        FUZZ_CHECK(bad >= 1 && bad <= text.size() - expected);
    }
    return 0;
}
