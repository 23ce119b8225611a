#include "extract/ascReferClass.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace {

// About 20 MB of HTML-like markup with 200,000 numeric references of both
// forms spread evenly through it, some of them nested ("&#38;#64;").
std::string htmlPage() {
    constexpr std::size_t kSize = 20 * 1000 * 1000;
    constexpr int kReferences = 200000;
    const std::string filler = "<p class=\"body\">Lorem ipsum dolor sit amet, &amp; consectetur <a href=\"/x?a=1&b=2\">"
                               "link</a> 日本語のテキスト</p>\n";
    static const char* const references[] = {"&#64;", "&#x40;", "&#12354;", "&#x3042;", "&#38;#64;", "&#169;"};
    const std::size_t gap = kSize / kReferences;
    std::string text;
    text.reserve(kSize + 4096);
    for (int i = 0; i < kReferences; ++i) {
        const std::size_t target = (static_cast<std::size_t>(i) + 1) * gap;
        while (text.size() + filler.size() < target) {
            text += filler;
        }
        text.append(filler, 0, target - text.size());
        text += references[i % 6];
    }
    return text;
}

void BM_DecodeHtmlPage(benchmark::State& state) {
    static const std::string text = htmlPage();
    const quillon::ascReferClass decoder;
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string decoded = decoder.convert(text);
        size = decoded.size();
        benchmark::DoNotOptimize(decoded.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
    state.counters["inputMB"] = static_cast<double>(text.size()) / 1e6;
    state.counters["outputMB"] = static_cast<double>(size) / 1e6;
}

// The worst case for the walk: every byte part of a reference that keeps
// being reopened ("&#6&#53;;" style chains) over 20 MB.
void BM_DecodeNestedChains(benchmark::State& state) {
    static const std::string text = [] {
        std::string t;
        while (t.size() < 20 * 1000 * 1000) {
            t += "&#38;&#35;&#54;&#53;&#59;&#1&#52;&#59;";
        }
        return t;
    }();
    const quillon::ascReferClass decoder;
    for (auto _ : state) {
        benchmark::DoNotOptimize(decoder.convert(text).data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}

} // namespace

BENCHMARK(BM_DecodeHtmlPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeNestedChains)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
