#include "list/addressBox.h"

#include "app/atFields.h"
#include "list/listOps.h"

#include <algorithm>

namespace quillon {

namespace {

constexpr std::int32_t kColumns = 3;

} // namespace

const std::string& addressBox::sourceName(std::uint32_t source) const {
    return source < m_sourceNames.size() ? m_sourceNames[source] : m_sourceNames[0];
}

std::uint32_t addressBox::sourceIndex(const std::string& name) {
    if (name.empty()) {
        return 0;
    }
    const auto [at, added] = m_sourceIndex.try_emplace(name, static_cast<std::uint32_t>(m_sourceNames.size()));
    if (added) {
        m_sourceNames.push_back(name);
    }
    return at->second;
}

void addressBox::Open() {
    correctAdd = listOps::correctAddDefaults();
}

void addressBox::addAddress(std::string_view address, std::int32_t column) {
    if (column == 1) {
        AddRow(AddressRow(address));
        return;
    }
    std::string_view cells[kColumns];
    if (column >= 0 && column < kColumns) {
        cells[column] = address;
    }
    if (column + 1 >= 0 && column + 1 < kColumns) {
        cells[column + 1] = atField(address, 2);
    }
    AddRow(AddressRow(cells[0], cells[1], cells[2]));
}

AddressRow addressBox::rowFor(std::string_view address, std::uint32_t source) {
    AddressRow row(address);
    row.source = source;
    return row;
}

void addressBox::addAddresses(const std::vector<std::string>& addresses) {
    RowList newRows;
    for (const std::string& address : addresses) {
        newRows.push_back(rowFor(address));
    }
    AddRows(std::move(newRows));
}

bool addressBox::checkAddress(bool isHighLight, const JobContext& ctx) {
    setEnabled(false);
    if (ListCount() > 0) {
        listOps::checkAddress(mutableRows(), correctAdd, isHighLight, ctx);
        if (observer() != nullptr) {
            observer()->rowsChanged(0, ListCount() - 1);
        }
    }
    setEnabled(true);
    return false;
}

bool addressBox::upUndefined(const JobContext& ctx) {
    const std::int64_t count = ListCount();
    if (count == 0) {
        return false;
    }
    isFound = false;
    // posY is the first row this walk examines: 0 on a fresh walk, the row
    // after the last hit otherwise. A position past the end (after a hit on
    // the last row, or in a list that shrank) examines nothing: the walk is
    // over, and the next one starts again from row 0.
    std::int64_t row = std::max<std::int64_t>(posY, 0);
    std::int64_t examined = 0;
    for (; row < count; ++row) {
        if (CellCheck(row)) {
            setScrollPosition(row);
            isFound = true;
            break;
        }
        if (++examined % 4096 == 0) {
            ctx.yieldNow();
        }
    }
    posY = isFound ? static_cast<std::int32_t>(row + 1) : 0;
    return isFound;
}

void addressBox::deleteChecks(const JobContext& ctx) {
    bool anyChecked = false;
    for (const auto& r : rows()) {
        if (r.checked) {
            anyChecked = true;
            break;
        }
    }
    if (!anyChecked) {
        return;
    }
    resetRows([&ctx](RowList& rows) { listOps::deleteChecks(rows, ctx); });
}

} // namespace quillon
