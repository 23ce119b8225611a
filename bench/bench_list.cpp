#include "export/listWriter.h"
#include "list/listOps.h"

#include <benchmark/benchmark.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

namespace {

using quillon::AddressRow;
using quillon::RowList;
namespace listOps = quillon::listOps;

constexpr std::size_t kRows = 1000000;

// A million rows: 70% distinct addresses over 20,000 domains, 30% repeats of
// earlier ones with their letter case changed at random.
const RowList& sampleRows() {
    static const RowList rows = [] {
        static const char* const kEndings[] = {"jp", "com", "net", "co.uk", "info", "xyz", "org", "de"};
        std::mt19937 rng(12345);
        std::uniform_real_distribution<double> chance(0.0, 1.0);
        RowList out;
        std::vector<std::size_t> distinct;
        for (std::size_t i = 0; i < kRows; ++i) {
            std::string address;
            if (!distinct.empty() && chance(rng) < 0.3) {
                address = out[distinct[rng() % distinct.size()]].address();
                for (auto& c : address) {
                    if (chance(rng) < 0.3) {
                        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                    }
                }
            } else {
                const std::size_t d = rng() % 20000;
                std::string domain = "mail";
                domain += std::to_string(d);
                domain += ".example.";
                domain += kEndings[d % 8];
                address = "user";
                address += std::to_string(i);
                address += '.';
                address += std::to_string(rng() % 1000);
                address += '@';
                address += domain;
                distinct.push_back(out.size());
            }
            out.emplace_back(address);
        }
        return out;
    }();
    return rows;
}

// Runs `op` on a fresh copy of the sample for every iteration; copying (and
// checking every other row when asked) is not timed.
template <typename Op> void runOnCopies(benchmark::State& state, Op op, bool checkHalf = false) {
    const auto& source = sampleRows();
    for (auto _ : state) {
        state.PauseTiming();
        RowList rows = source;
        for (std::size_t i = 0; checkHalf && i < rows.size(); i += 2) {
            rows[i].checked = true;
        }
        state.ResumeTiming();
        op(rows);
        benchmark::DoNotOptimize(rows.size());
        state.PauseTiming();
        rows = {}; // freeing the copy is not part of the operation
        state.ResumeTiming();
    }
}

void BM_DeleteByColumn(benchmark::State& state) {
    runOnCopies(state, [](RowList& rows) { listOps::deleteByColumn(rows, 1); });
}
BENCHMARK(BM_DeleteByColumn)->Unit(benchmark::kMillisecond);

void BM_SortByDomain(benchmark::State& state) {
    runOnCopies(state, [](RowList& rows) { listOps::sortByColumn(rows, 2); });
}
BENCHMARK(BM_SortByDomain)->Unit(benchmark::kMillisecond);

void BM_CheckAddress(benchmark::State& state) {
    runOnCopies(state, [](RowList& rows) { listOps::checkAddress(rows, listOps::correctAddDefaults(), true); });
}
BENCHMARK(BM_CheckAddress)->Unit(benchmark::kMillisecond);

// 10,000 whole-address entries, half of them in the list (in upper case).
void BM_CheckByAddresses(benchmark::State& state) {
    const auto& source = sampleRows();
    std::vector<std::string> filter{std::string()};
    for (std::size_t i = 0; i < 5000; ++i) {
        std::string entry(source[i * 97].address());
        for (auto& c : entry) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        filter.push_back(std::move(entry));
        filter.push_back("nobody" + std::to_string(i) + "@nowhere.example");
    }
    const bool mark = state.range(0) != 0;
    runOnCopies(state, [&](RowList& rows) { listOps::checkByAddresses(rows, filter, 1, 1, mark); });
}
BENCHMARK(BM_CheckByAddresses)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_DeleteChecksHalf(benchmark::State& state) {
    runOnCopies(
        state, [](RowList& rows) { listOps::deleteChecks(rows); }, true);
}
BENCHMARK(BM_DeleteChecksHalf)->Unit(benchmark::kMillisecond);

void BM_ExportText(benchmark::State& state) {
    const auto& rows = sampleRows();
    const auto layout = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        auto text = quillon::listWriter::buildExportText(rows, layout, 10, true);
        benchmark::DoNotOptimize(text->data());
    }
}
BENCHMARK(BM_ExportText)->Arg(4)->Arg(14)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
