// The whole extraction from raw bytes against its two steps done one after
// the other: the conversion of the whole text and the scan of the result.
// The first byte picks the encoding; the second whether the text goes the
// road of the conversion in pieces on a second thread, with small pieces; the
// rest is the text.
#include "extract/convModule.h"
#include "extract/pipeline.h"
#include "fuzzCheck.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The scan is quadratic on long runs of letters: keep the texts short.
    if (size > 4096) {
        return 0;
    }
    using quillon::Encoding;
    namespace pipeline = quillon::pipeline;
    static constexpr Encoding kEncodings[] = {Encoding::ShiftJIS, Encoding::EucJP, Encoding::UTF8, Encoding::ISO2022JP,
                                              Encoding::None};
    quillon::fuzz::InputReader in(data, size);
    const Encoding enc = kEncodings[in.pick(5)];
    const unsigned road = in.byte();
    const std::string_view bytes = in.rest();
    pipeline::PieceSizes sizes;
    if (road % 2 == 1) {
        sizes.from = 0;
        sizes.piece = 1 + road / 2 % 32;
    }
    pipeline::setPieceSizes(sizes);

    const std::string sample = quillon::convModule::guessSample(bytes);
    std::vector<std::string> found;
    const pipeline::SourceScan scanned = pipeline::extractFromBytes(
        bytes, enc, sample, [&found](std::string_view address) { found.emplace_back(address); });

    const auto converted = quillon::convModule::convToUTF8(bytes, enc, sample);
    std::vector<std::string> expected;
    FUZZ_CHECK(pipeline::extractAddresses(converted.text,
                                          [&expected](std::string_view address) { expected.emplace_back(address); }));
    FUZZ_CHECK(scanned.finished);
    FUZZ_CHECK(scanned.used == converted.used);
    FUZZ_CHECK(scanned.invalid == converted.invalid);
    FUZZ_CHECK(found == expected);
    for (const std::string& address : found) {
        FUZZ_CHECK(address.find('@') != std::string::npos);
        FUZZ_CHECK(quillon::convModule::isValidUtf8(address));
    }
    return 0;
}
