// The whole search road over texts in memory, read in small pieces, against
// the two steps done one after the other on each whole text: the conversion
// (from the encoding the road used) and the scan of the result. The first byte picks the encoding; the second
// the piece size and how many pieces go ahead; the third where the rest is
// cut into two sources.
#include "extract/convModule.h"
#include "extract/pipeline.h"
#include "extract/searchRun.h"
#include "fuzzCheck.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace pipeline = quillon::pipeline;

class Collect : public pipeline::SearchSink {
public:
    void addressFound(std::string_view address, std::size_t source) override {
        FUZZ_CHECK(source == reports.size());
        found[source].emplace_back(address);
    }
    void sourceFinished(const pipeline::SourceReport& report) override {
        FUZZ_CHECK(report.index == reports.size());
        reports.push_back(report);
    }
    std::vector<std::string> found[2];
    std::vector<pipeline::SourceReport> reports;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The scan is quadratic on long runs of letters: keep the texts short.
    if (size > 4096) {
        return 0;
    }
    using quillon::Encoding;
    static constexpr Encoding kEncodings[] = {Encoding::ShiftJIS, Encoding::EucJP, Encoding::UTF8, Encoding::ISO2022JP,
                                              Encoding::None};
    quillon::fuzz::InputReader in(data, size);
    const Encoding enc = kEncodings[in.pick(5)];
    const unsigned road = in.byte();
    const unsigned cut = in.byte();
    const std::string_view rest = in.rest();
    const std::string_view texts[2] = {rest.substr(0, cut * rest.size() / 256), rest.substr(cut * rest.size() / 256)};

    std::vector<pipeline::Source> sources;
    for (const std::string_view text : texts) {
        pipeline::Source source;
        source.kind = pipeline::Source::Kind::Text;
        source.text = text;
        source.name = "text";
        sources.push_back(source);
    }
    pipeline::SearchOptions options;
    options.encoding = enc;
    options.pieceSize = 1 + road % 64;
    options.piecesAhead = 1 + road / 64;
    Collect sink;
    const pipeline::SearchReport report = pipeline::runSearch(sources, options, sink);
    FUZZ_CHECK(!report.stopped && report.failed == 0 && report.read == 2);
    FUZZ_CHECK(sink.reports.size() == 2);

    for (int s = 0; s < 2; ++s) {
        // A guess is the road's own verdict over the whole text; the text
        // must then read as a whole in the encoding it names.
        const pipeline::SourceReport& r = sink.reports[static_cast<std::size_t>(s)];
        FUZZ_CHECK(enc == Encoding::None ? r.used != Encoding::None : r.used == enc);
        const auto converted = quillon::convModule::convToUTF8(texts[s], r.used);
        std::vector<std::string> expected;
        FUZZ_CHECK(pipeline::extractAddresses(
            converted.text, [&expected](std::string_view address) { expected.emplace_back(address); }));
        FUZZ_CHECK(r.ok() && r.finished);
        FUZZ_CHECK(r.bytes == texts[s].size());
        FUZZ_CHECK(r.invalid == converted.invalid);
        FUZZ_CHECK(r.addresses == expected.size());
        FUZZ_CHECK(sink.found[s] == expected);
    }
    return 0;
}
