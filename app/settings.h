#pragma once

#include "app/jobContext.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// A text encoding the program converts from or to. `None` means "guess from
// the first 2,048 bytes of the source".
enum class Encoding { None, ShiftJIS, EucJP, UTF8, ISO2022JP, UTF16 };

// Every user setting of the application. The Qt application object holds one
// instance; the extraction job works on a copy taken when it starts.
//
// `prefN` and the three filter arrays keep an unused empty element 0: the
// stored codes are elements 1 to 6, and filter entries start at index 1.
struct Settings {
    // Codes kept in prefN; any other value of elements 1 to 3 means "off".
    static constexpr std::int32_t kDeleteOn = 12, kDeleteOff = 3;
    static constexpr std::int32_t kSortOn = 9, kSortOff = 7;
    static constexpr std::int32_t kCheckOn = 8, kCheckOff = 4;
    static constexpr std::int32_t kLayoutLine = 4, kLayoutComma = 6, kLayoutLineComma = 14;
    static constexpr std::int32_t kDefaultN = 10;

    Encoding inEncoding = Encoding::None;
    bool isSort = false;
    bool isDelet = false;
    bool isHighLight = false;
    std::array<std::int32_t, 7> prefN{};
    std::vector<std::string> addressFilter{std::string()};
    std::vector<std::string> domainFilter{std::string()};
    std::vector<std::string> accountFilter{std::string()};
    std::string filterString;
    bool inList = false;
    bool needYohaku = false;

    // isDelet, isSort and isHighLight from elements 1 to 3 of prefN.
    void deriveSwitches();
    // The in-memory half of applying the defaults: codes 12, 9, 8, 4, 10,
    // inList true and the switches on. The filter text, needYohaku and the
    // filter lists keep their values.
    void applyDefaults();
    // Rebuilds the three filter lists from filterString (split at every ",",
    // no trimming; "***" decides the list). Yields once per field.
    void shiwake(const JobContext& ctx = {});
};

} // namespace quillon
