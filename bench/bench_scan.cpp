#include "extract/searchClass.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace {

constexpr std::size_t kSize = 20 * 1000 * 1000;

// English-like prose with one address in every 2 KB.
std::string prose() {
    static const char* const words[] = {"the",  "quick",   "brown", "fox", "jumps", "over",  "lazy",  "dog",
                                        "mail", "address", "list",  "of",  "and",   "write", "to",    "us",
                                        "at",   "2024",    "page",  "-",   "e.g.",  "info",  "reply", "send"};
    std::string text;
    text.reserve(kSize + 64);
    std::size_t next = 0;
    std::uint32_t state = 1;
    int count = 0;
    while (text.size() < kSize) {
        if (text.size() >= next) {
            text += "contact user" + std::to_string(count++) + "@example.co.jp, ";
            next += 2048;
        }
        state = state * 1103515245U + 12345U;
        text += words[(state >> 16) % (sizeof(words) / sizeof(words[0]))];
        text += (state >> 8) % 13 == 0 ? ".\n" : " ";
    }
    return text;
}

std::string alnumLine() {
    static const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string line(kSize, 'a');
    for (std::size_t i = 0; i < kSize; ++i) {
        line[i] = alphabet[(i * 7919) % alphabet.size()];
    }
    return line;
}

void scanText(benchmark::State& state, const std::string& text, std::string_view pattern = quillon::kAddressPattern) {
    std::int64_t found = 0;
    for (auto _ : state) {
        quillon::searchClass scanner;
        scanner.setRegex(text, pattern);
        scanner.setDiv();
        found = 0;
        while (!scanner.search().empty()) {
            ++found;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
    state.counters["addresses"] = static_cast<double>(found);
}

void BM_ScanProse(benchmark::State& state) {
    static const std::string text = prose();
    scanText(state, text);
}

// For comparison: the same pattern in a spelling the scanner does not
// recognise, so it runs the plain PCRE2 search loop.
void BM_ScanProsePlainLoop(benchmark::State& state) {
    static const std::string text = prose();
    scanText(state, text, "(?:[A-Za-z0-9])[\\w.-]+?@([\\w.-])+[a-zA-Z]");
}

// 20 MB of letters and digits without an "@".
void BM_ScanLineWithoutAt(benchmark::State& state) {
    static const std::string text = alnumLine();
    scanText(state, text);
}

// The same line with one "@" in its middle and only digits after it.
void BM_ScanLineAtWithoutDomain(benchmark::State& state) {
    static const std::string text = [] {
        std::string line = alnumLine();
        line[kSize / 2] = '@';
        for (std::size_t i = kSize / 2 + 1; i < kSize; ++i) {
            line[i] = static_cast<char>('0' + i % 10);
        }
        return line;
    }();
    scanText(state, text);
}

// The same line ending in "@example.com": one address of 20 MB.
void BM_ScanLineAddressAtEnd(benchmark::State& state) {
    static const std::string text = alnumLine() + "@example.com";
    scanText(state, text);
}

} // namespace

BENCHMARK(BM_ScanProse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanProsePlainLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanLineWithoutAt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanLineAtWithoutDomain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanLineAddressAtEnd)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
