#pragma once

#include <string>
#include <type_traits>

namespace quillon::testing {

// Joins texts and numbers into one text (building it with "literal" +
// std::string trips a false warning of GCC 12).
template <typename... Parts> std::string join(const Parts&... parts) {
    std::string out;
    (
        [&out](const auto& part) {
            if constexpr (std::is_arithmetic_v<std::decay_t<decltype(part)>>) {
                out += std::to_string(part);
            } else {
                out += part;
            }
        }(parts),
        ...);
    return out;
}

} // namespace quillon::testing
