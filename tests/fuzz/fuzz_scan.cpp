// The address scanner against the plain PCRE2 search loop. The first byte
// picks the spelling of the pattern; the rest is the text.
#include "extract/searchClass.h"
#include "fuzzCheck.h"
#include "support/core_plainScan.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The plain loop is quadratic on long runs of letters: keep the texts short.
    if (size == 0 || size > 2048) {
        return 0;
    }
    quillon::fuzz::InputReader in(data, size);
    // The original spelling of the local set must give the same scanner; any
    // other pattern (here one that never matches empty) takes the plain loop.
    static constexpr std::string_view kPatterns[] = {quillon::kAddressPattern,
                                                     "[A-Za-z0-9][\\w-_.]+?@([\\w-_.])+[a-zA-Z]", "[a-z]+@?[0-9]"};
    const std::string_view pattern = kPatterns[in.pick(3)];
    const std::string_view plainPattern = pattern == kPatterns[1] ? kPatterns[0] : pattern;
    const std::string text(in.rest());

    quillon::searchClass scanner;
    FUZZ_CHECK(scanner.setRegex(text, pattern));
    FUZZ_CHECK(scanner.destLength() == static_cast<std::int64_t>(text.size()));
    std::vector<quillon::test::FoundMatch> found;
    while (true) {
        const std::string_view address = scanner.search();
        if (address.empty()) {
            FUZZ_CHECK(scanner.stop());
            break;
        }
        FUZZ_CHECK(!scanner.stop());
        FUZZ_CHECK(scanner.posLength() == scanner.matchStart() + static_cast<std::int64_t>(address.size()));
        FUZZ_CHECK(address.data() == text.data() + scanner.matchStart());
        found.push_back({scanner.matchStart(), std::string(address)});
    }
    // After the end it stays at the end.
    FUZZ_CHECK(scanner.search().empty() && scanner.stop());
    FUZZ_CHECK(found == quillon::test::plainScan(text, plainPattern));
    return 0;
}
