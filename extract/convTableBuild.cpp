#include "app/textCodec.h"
#include "app/utf8Check.h"
#include "extract/convDetail.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The decoding tables of the legacy encodings, built by asking glibc's
// converter about every candidate. Runs when the program is built (the
// generator writes the tables as constants) and in the tests, which compare
// the two.

namespace quillon::convModule::detail {

// One UTF-8 character of at most three bytes, packed; 0 for anything else
// (nothing, U+FFFD, more than one character).
namespace {

std::uint32_t packOne(std::string_view utf8) {
    if (utf8.empty() || utf8.size() > 3 || utf8 == kReplacement) {
        return 0;
    }
    std::size_t bad = 0;
    if (utf8Check::sequence(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size(), bad) != utf8.size()) {
        return 0;
    }
    std::uint32_t e = static_cast<std::uint32_t>(utf8.size()) << 24;
    for (std::size_t k = 0; k < utf8.size(); ++k) {
        e |= static_cast<std::uint32_t>(static_cast<unsigned char>(utf8[k])) << (8 * k);
    }
    return e;
}

} // namespace

DecodeTable buildTable(const char* from, SkipRule rule) {
    DecodeTable t;
    Iconv cd("UTF-8", from);
    if (!cd.ok()) {
        return t;
    }
    // Every candidate on a line of its own: each single byte, each single
    // byte of 0x80 and above followed by "A" (to see that it is read alone
    // whatever follows), and each pair whose first byte is 0x80 or above.
    std::string in;
    in.reserve(256 * 4 + 128 * 255 * 3);
    for (int b = 0; b < 256; ++b) {
        if (b != '\n') {
            in += static_cast<char>(b);
            in += '\n';
        }
    }
    for (int b = 0x80; b < 256; ++b) {
        in += static_cast<char>(b);
        in += "A\n";
    }
    for (int b0 = 0x80; b0 < 256; ++b0) {
        for (int b1 = 0; b1 < 256; ++b1) {
            if (b1 != '\n') {
                in += static_cast<char>(b0);
                in += static_cast<char>(b1);
                in += '\n';
            }
        }
    }
    std::string out;
    std::size_t invalid = 0;
    convertAll(cd.get(), rule, in, 4, out, invalid);
    std::vector<std::string_view> lines;
    lines.reserve(128 * 256 + 512);
    std::string_view rest = out;
    for (std::size_t nl = rest.find('\n'); nl != std::string_view::npos; nl = rest.find('\n')) {
        lines.push_back(rest.substr(0, nl));
        rest.remove_prefix(nl + 1);
    }
    if (!rest.empty() || lines.size() != 255 + 128 + 128 * 255) {
        return t; // the lines do not answer the candidates one to one: use no table
    }
    std::size_t k = 0;
    std::array<std::uint32_t, 256> single{};
    for (int b = 0; b < 256; ++b) {
        if (b != '\n') {
            single[static_cast<std::size_t>(b)] = packOne(lines[k++]);
        }
    }
    single['\n'] = 0;
    for (int b = 0x80; b < 256; ++b) {
        const std::string_view seen = lines[k++];
        const auto ub = static_cast<std::size_t>(b);
        // Read alone only if it also is in front of a letter.
        if (single[ub] != 0 && (seen.size() != (single[ub] >> 24) + 1 || seen.back() != 'A')) {
            single[ub] = 0;
        }
    }
    for (int b0 = 0x80; b0 < 256; ++b0) {
        for (int b1 = 0; b1 < 256; ++b1) {
            if (b1 != '\n') {
                t.pair[static_cast<std::size_t>((b0 - 0x80) << 8 | b1)] = packOne(lines[k++]);
            }
        }
    }
    bool asciiSame = true;
    for (int b = 0; b < 0x80; ++b) {
        if (b != '\n' && single[static_cast<std::size_t>(b)] != ((1u << 24) | static_cast<std::uint32_t>(b))) {
            asciiSame = false;
        }
    }
    t.single = single;
    t.asciiSame = asciiSame;
    return t;
}

} // namespace quillon::convModule::detail
