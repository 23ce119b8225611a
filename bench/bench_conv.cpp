#include "extract/convModule.h"
#include "extract/encodingVerdict.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <iconv.h>
#include <string>

// Decoding speed per encoding on Japanese prose with ASCII addresses, beside a
// bare glibc iconv call over the same bytes (one call, no repair): the
// program's converters should run at about the bare call's speed.
//
// Measured beside the iconv command on a 100 MB Shift_JIS file made of the
// same lines: `iconv -f CP932 -t UTF-8 big.sjis > /dev/null` took 0.33 s, and
// convToUTF8 on the same bytes (read into memory) 0.32 s.

namespace {

using quillon::Encoding;
namespace conv = quillon::convModule;

const std::string& japaneseText() {
    static const std::string text = [] {
        const std::string line = "拝啓　平素は格別のお引き立てを賜り、厚く御礼申し上げます。①㈱ｶﾀｶﾅ～ "
                                 "担当: yamada.taro%d@example.co.jp までご連絡ください。\r\n";
        std::string t;
        t.reserve(34u << 20);
        for (int i = 0; t.size() < (32u << 20); ++i) {
            std::string l = line;
            l.replace(l.find("%d"), 2, std::to_string(i));
            t += l;
        }
        return t;
    }();
    return text;
}

std::string encoded(Encoding enc) {
    const std::string& utf8 = japaneseText();
    if (enc == Encoding::UTF8) {
        return utf8;
    }
    if (enc == Encoding::ISO2022JP) {
        // Built from its parts: kanji runs, katakana runs and ASCII runs.
        std::string out;
        const std::string sjis = conv::convToSJIS(utf8).bytes;
        int mode = 0;
        for (std::size_t i = 0; i < sjis.size(); ++i) {
            const auto b = static_cast<unsigned char>(sjis[i]);
            const int want = b < 0x80 ? 0 : (b >= 0xA1 && b <= 0xDF ? 2 : 1);
            if (want != mode) {
                out += want == 0 ? "\x1B(B" : want == 1 ? "\x1B$B" : "\x1B(I";
                mode = want;
            }
            if (want == 0) {
                out += static_cast<char>(b);
            } else if (want == 2) {
                out += static_cast<char>(b - 0x80);
            } else {
                const auto t = static_cast<unsigned char>(sjis[++i]);
                unsigned j1 = (b <= 0x9F ? b - 0x70u : b - 0xB0u) * 2;
                unsigned j2;
                if (t < 0x9F) {
                    --j1;
                    j2 = t - (t >= 0x80 ? 0x20u : 0x1Fu);
                } else {
                    j2 = t - 0x7Eu;
                }
                out += static_cast<char>(j1);
                out += static_cast<char>(j2);
            }
        }
        return out + "\x1B(B";
    }
    const char* name = enc == Encoding::ShiftJIS ? "CP932" : "EUC-JP-MS";
    iconv_t cd = iconv_open(name, "UTF-8");
    std::string out(utf8.size() * 2, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

void BM_ConvToUTF8(benchmark::State& state, Encoding enc) {
    const std::string bytes = encoded(enc);
    for (auto _ : state) {
        auto r = conv::convToUTF8(bytes, enc);
        benchmark::DoNotOptimize(r.text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK_CAPTURE(BM_ConvToUTF8, ShiftJIS, Encoding::ShiftJIS)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvToUTF8, EucJP, Encoding::EucJP)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvToUTF8, UTF8, Encoding::UTF8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvToUTF8, ISO2022JP, Encoding::ISO2022JP)->Unit(benchmark::kMillisecond);

// The bare call: one iconv over the whole text into a buffer sized once.
void BM_BareIconv(benchmark::State& state, Encoding enc) {
    const std::string bytes = encoded(enc);
    const char* name = enc == Encoding::ShiftJIS ? "CP932" : "EUC-JP-MS";
    std::string out(bytes.size() * 3, '\0');
    for (auto _ : state) {
        iconv_t cd = iconv_open("UTF-8", name);
        char* in = const_cast<char*>(bytes.data());
        std::size_t inLeft = bytes.size();
        char* o = out.data();
        std::size_t outLeft = out.size();
        iconv(cd, &in, &inLeft, &o, &outLeft);
        iconv_close(cd);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK_CAPTURE(BM_BareIconv, ShiftJIS, Encoding::ShiftJIS)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BareIconv, EucJP, Encoding::EucJP)->Unit(benchmark::kMillisecond);

// Invalid UTF-8 every 4 KiB: the repair path.
void BM_ConvToUTF8_RepairedUTF8(benchmark::State& state) {
    std::string bytes = japaneseText();
    for (std::size_t i = 4096; i < bytes.size(); i += 4096) {
        bytes[i] = '\xFF';
    }
    for (auto _ : state) {
        auto r = conv::convToUTF8(bytes, Encoding::UTF8);
        benchmark::DoNotOptimize(r.text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ConvToUTF8_RepairedUTF8)->Unit(benchmark::kMillisecond);

void BM_ConvToSJIS(benchmark::State& state) {
    const std::string& text = japaneseText();
    for (auto _ : state) {
        auto r = conv::convToSJIS(text);
        benchmark::DoNotOptimize(r.bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ConvToSJIS)->Unit(benchmark::kMillisecond);

void BM_GuessEncoding(benchmark::State& state, Encoding enc) {
    const std::string sample = conv::guessSample(encoded(enc));
    for (auto _ : state) {
        benchmark::DoNotOptimize(conv::guessEncoding(sample));
    }
}
BENCHMARK_CAPTURE(BM_GuessEncoding, ShiftJIS, Encoding::ShiftJIS);
BENCHMARK_CAPTURE(BM_GuessEncoding, EucJP, Encoding::EucJP);

// The verdict over the whole text, beside BM_ConvToUTF8 of the same bytes;
// Ascii is English-like text with no 8-bit byte, which no reading can rule
// out, so it is looked through to its end.
void BM_EncodingVerdict(benchmark::State& state, Encoding enc) {
    std::string bytes;
    if (enc == Encoding::None) {
        const std::string line = "Please send the final version of the report to team.lead%d@example.com today.\n";
        while (bytes.size() < (32u << 20)) {
            bytes += line;
        }
    } else {
        bytes = encoded(enc);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(quillon::encodingVerdict::judge(bytes).likely);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK_CAPTURE(BM_EncodingVerdict, ShiftJIS, Encoding::ShiftJIS)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EncodingVerdict, EucJP, Encoding::EucJP)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EncodingVerdict, UTF8, Encoding::UTF8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EncodingVerdict, ISO2022JP, Encoding::ISO2022JP)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EncodingVerdict, Ascii, Encoding::None)->Unit(benchmark::kMillisecond);

// The verdict over a whole file, read into memory before the timing: one
// benchmark BM_EncodingVerdictFile/<name> for each file named in
// QUILLON_VERDICT_FILES (paths separated by ':'). bench/run.sh sets it.
void registerFiles() {
    const char* files = std::getenv("QUILLON_VERDICT_FILES");
    if (files == nullptr) {
        return;
    }
    std::string_view rest = files;
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string path(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (path.empty()) {
            continue;
        }
        const std::string name = "BM_EncodingVerdictFile/" + path.substr(path.rfind('/') + 1);
        benchmark::RegisterBenchmark(name.c_str(), [path](benchmark::State& state) {
            std::string bytes;
            if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
                char buffer[1 << 16];
                for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) {
                    bytes.append(buffer, n);
                }
                std::fclose(f);
            }
            for (auto _ : state) {
                benchmark::DoNotOptimize(quillon::encodingVerdict::judge(bytes).likely);
            }
            state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
        })->Unit(benchmark::kMillisecond);
    }
}

} // namespace

int main(int argc, char** argv) {
    registerFiles();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
