#include "app/settings.h"

#include "app/atFields.h"

#include <string_view>

namespace quillon {

void Settings::deriveSwitches() {
    isDelet = prefN[1] == kDeleteOn;
    isSort = prefN[2] == kSortOn;
    isHighLight = prefN[3] == kCheckOn;
}

void Settings::applyDefaults() {
    prefN[1] = kDeleteOn;
    prefN[2] = kSortOn;
    prefN[3] = kCheckOn;
    prefN[4] = kLayoutLine;
    prefN[5] = kDefaultN;
    inList = true;
    deriveSwitches();
}

void Settings::shiwake(const JobContext& ctx) {
    accountFilter.assign(1, std::string());
    addressFilter.assign(1, std::string());
    domainFilter.assign(1, std::string());

    const std::string_view all = filterString;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = all.find(',', start);
        const std::string_view field = all.substr(start, comma == std::string_view::npos ? all.npos : comma - start);
        const std::size_t stars = field.find("***");
        if (stars == std::string_view::npos) {
            addressFilter.emplace_back(field);
        } else {
            if (stars == 0) {
                domainFilter.emplace_back(atField(field, 2));
            }
            // "***" after the start; a field may hold it at both places.
            if (field.find("***", 1) != std::string_view::npos) {
                accountFilter.emplace_back(atField(field, 1));
            }
        }
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
        ctx.yieldNow();
    }
}

} // namespace quillon
