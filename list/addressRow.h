#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quillon {

// One row of the address list: column 0 is the delete check box (its text is
// empty), column 1 the address as it was found or edited, column 2 its domain.
struct AddressRow {
    std::array<std::string, 3> cells;
    bool checked = false;
    bool selected = false;
    // Where the address was first found: an index into the list's table of
    // source names (addressBox::sourceName), 0 when it is not known.
    std::uint32_t source = 0;
};

} // namespace quillon
