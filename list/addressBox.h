#pragma once

#include "list/inteliBox.h"
#include "list/searchInterface.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillon {

// The list of found addresses: appends what the extraction job finds (with
// the domain in the next column), owns the suspicious-address rule with its
// accepted endings, walks from one checked row to the next and deletes the
// checked rows.
class addressBox : public inteliBox, public searchInterface {
public:
    // Accepted endings at indices 1 to 11; element 0 is empty and never tested.
    std::vector<std::string> correctAdd;
    // Where the next-checked-row walk goes on: the row after its last hit,
    // or 0 when a walk starts from the top.
    std::int32_t posY = 0;
    // Whether the last walk found a checked row.
    bool isFound = false;

    // The names of the sources rows were found in (a file's path, or
    // "クリップボード"), indexed by AddressRow::source. Element 0 is empty and
    // stands for a source that is not known.
    const std::string& sourceName(std::uint32_t source) const;
    // The index of a source's name, added to the table when it is new.
    std::uint32_t sourceIndex(const std::string& name);

    // The list's open event: fills correctAdd.
    void Open();
    // Appends one unchecked, unselected row: the address in `column`, its
    // domain in `column + 1`.
    void addAddress(std::string_view address, std::int32_t column) override;
    // Appends many addresses (column 1, domains in column 2) with one
    // notification of the observer.
    void addAddresses(const std::vector<std::string>& addresses);
    // The row addAddress appends for an address found by a search (column 1):
    // a worker can build rows ahead and hand them to AddRows.
    static AddressRow rowFor(std::string_view address, std::uint32_t source = 0);
    // The suspicious-address check with the mark `isHighLight`; disables the
    // list while it runs. Always returns false.
    bool checkAddress(bool isHighLight, const JobContext& ctx = {});
    // The next-checked-row walk: scrolls to the first checked row from posY
    // on and returns true; when none is left (also after a hit on the last
    // row, or in a list that shrank below posY) returns false and sets posY
    // to 0, so the next walk starts again at row 0. Returns isFound.
    bool upUndefined(const JobContext& ctx = {});
    // Removes every checked row.
    void deleteChecks(const JobContext& ctx = {});

private:
    std::vector<std::string> m_sourceNames{std::string()};
    std::unordered_map<std::string, std::uint32_t> m_sourceIndex;
};

} // namespace quillon
