// The conversion in pieces against the conversion of the whole text. The
// first byte picks the encoding, the second the piece size (small, so that
// short texts are cut into many pieces, at every kind of place); the rest is
// the text.
#include "extract/convModule.h"
#include "fuzzCheck.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quillon::Encoding;
    using quillon::convModule::PieceConverter;
    static constexpr Encoding kEncodings[] = {Encoding::ShiftJIS, Encoding::EucJP, Encoding::ISO2022JP};
    quillon::fuzz::InputReader in(data, size);
    const Encoding enc = kEncodings[in.pick(3)];
    const std::size_t pieceSize = 1 + in.pick(24);
    const std::string_view text = in.rest();

    const auto whole = quillon::convModule::convToUTF8(text, enc);
    PieceConverter converter(enc);
    std::string pieces;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t limit = PieceConverter::pieceEnd(text, from, pieceSize);
        // A piece ends after a line end at or past the size asked, or at the end.
        FUZZ_CHECK(limit > from && limit <= text.size());
        FUZZ_CHECK(limit == text.size() || (limit >= from + pieceSize && text[limit - 1] == '\n'));
        const std::size_t next = converter.convert(text, from, limit, pieces);
        FUZZ_CHECK(next >= limit && next <= text.size());
        from = next;
    }
    FUZZ_CHECK(pieces == whole.text);
    FUZZ_CHECK(converter.invalid() == whole.invalid);
    return 0;
}
