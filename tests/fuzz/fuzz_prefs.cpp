// The preferences reader on any file: it must not crash or hang, must not
// allocate more than the file can need, and what it read must survive a save
// and a second read unchanged.
#include "app/prefStore.h"
#include "fuzzCheck.h"

#include <sanitizer/allocator_interface.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// The largest single allocation while a read runs.
std::atomic<bool> g_watching{false};
std::atomic<std::size_t> g_largest{0};

void mallocHook(const volatile void*, std::size_t size) {
    if (g_watching.load(std::memory_order_relaxed) && size > g_largest.load(std::memory_order_relaxed)) {
        g_largest.store(size, std::memory_order_relaxed);
    }
}
void freeHook(const volatile void*) {}

const std::filesystem::path& folder() {
    return quillon::fuzz::scratchFolder("quillon-fuzz-prefs");
}

void writeFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
    FUZZ_CHECK(std::fclose(f) == 0);
}

// The stored part of the settings and what is derived from it.
void checkSame(const quillon::Settings& a, const quillon::Settings& b) {
    for (int i = 1; i <= 6; ++i) {
        FUZZ_CHECK(a.prefN[i] == b.prefN[i]);
    }
    FUZZ_CHECK(a.isDelet == b.isDelet && a.isSort == b.isSort && a.isHighLight == b.isHighLight);
    FUZZ_CHECK(a.inList == b.inList);
    FUZZ_CHECK(a.needYohaku == b.needYohaku);
    FUZZ_CHECK(a.filterString == b.filterString);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillon::PrefStore store(folder());
    writeFile(store.filePath(), data, size);

    // Whatever the length fields say, nothing is allocated beyond what the
    // file's bytes can turn into (at most three UTF-8 bytes for each byte),
    // apart from a fixed allowance for the C library's stream and converters.
    constexpr std::size_t kAllowance = 64 * 1024;
    quillon::Settings read;
    g_largest = 0;
    g_watching = true;
    store.Open(read);
    g_watching = false;
    if (g_largest > 3 * size + kAllowance) {
        std::fprintf(stderr, "allocated %zu bytes for a file of %zu bytes\n", g_largest.load(), size);
        std::abort();
    }
    FUZZ_CHECK(store.lastError().empty());

    // Save what was read and read it back: the same settings, and the filter
    // lists split from the same text.
    FUZZ_CHECK(store.settei(read));
    quillon::Settings back;
    store.yomikomi(back);
    FUZZ_CHECK(store.lastError().empty());
    checkSame(read, back);
    if (!back.filterString.empty()) {
        FUZZ_CHECK(read.addressFilter == back.addressFilter);
        FUZZ_CHECK(read.domainFilter == back.domainFilter);
        FUZZ_CHECK(read.accountFilter == back.accountFilter);
    }
    return 0;
}
