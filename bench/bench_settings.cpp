#include "app/settings.h"

#include <benchmark/benchmark.h>

#include <string>

// Splitting a filter text of 10,000 entries of the three kinds.
static void BM_Shiwake(benchmark::State& state) {
    quillon::Settings s;
    for (int i = 0; i < 10000; ++i) {
        if (!s.filterString.empty()) {
            s.filterString += ',';
        }
        switch (i % 3) {
        case 0:
            s.filterString += "user" + std::to_string(i) + "@example.com";
            break;
        case 1:
            s.filterString += "***@domain" + std::to_string(i) + ".jp";
            break;
        default:
            s.filterString += "account" + std::to_string(i) + "@***";
            break;
        }
    }
    for (auto _ : state) {
        s.shiwake();
        benchmark::DoNotOptimize(s.addressFilter.data());
    }
}
BENCHMARK(BM_Shiwake);

BENCHMARK_MAIN();
