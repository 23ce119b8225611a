// The reference decoder against the literal search-from-the-start loop.
#include "extract/ascReferClass.h"
#include "fuzzCheck.h"
#include "support/core_literalRefer.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The literal loop is quadratic: keep the texts short.
    if (size > 2048) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const quillon::ascReferClass decoder;
    const std::string fast = decoder.convert(text);
    const std::string literal = quillon::test::literalRefer(text);
    if (fast != literal) {
        std::fprintf(stderr, "decoder: \"%s\"\nliteral: \"%s\"\n", fast.c_str(), literal.c_str());
    }
    FUZZ_CHECK(fast == literal);
    return 0;
}
