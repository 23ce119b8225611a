#pragma once

#include <cstdint>
#include <string_view>

namespace quillon {

// Where the extraction job puts what it finds: each call appends exactly one
// row at the end of the list, in call order.
class searchInterface {
public:
    virtual ~searchInterface() = default;
    virtual void addAddress(std::string_view address, std::int32_t column) = 0;
};

} // namespace quillon
