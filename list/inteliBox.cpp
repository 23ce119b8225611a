#include "list/inteliBox.h"

#include <algorithm>

#include "list/listOps.h"

#include <utility>

namespace quillon {

namespace {

bool validColumn(int column) {
    return column >= 0 && column < 3;
}

} // namespace

std::string inteliBox::Cell(std::int64_t r, int column) const {
    return std::string(row(r).cell(column));
}

void inteliBox::setCell(std::int64_t r, int column, std::string_view text) {
    if (!validColumn(column)) {
        return;
    }
    m_rows[static_cast<std::size_t>(r)].setCell(column, text);
    if (m_observer != nullptr) {
        m_observer->rowsChanged(r, r);
    }
}

void inteliBox::setCellCheck(std::int64_t r, bool checked) {
    m_rows[static_cast<std::size_t>(r)].checked = checked;
    if (m_observer != nullptr) {
        m_observer->rowsChanged(r, r);
    }
}

void inteliBox::setSelected(std::int64_t r, bool selected) {
    m_rows[static_cast<std::size_t>(r)].selected = selected;
    if (m_observer != nullptr) {
        m_observer->rowsChanged(r, r);
    }
}

void inteliBox::setSelectedRange(std::int64_t first, std::int64_t last, bool selected) {
    first = std::max<std::int64_t>(first, 0);
    last = std::min(last, ListCount() - 1);
    if (first > last) {
        return;
    }
    for (std::int64_t r = first; r <= last; ++r) {
        m_rows[static_cast<std::size_t>(r)].selected = selected;
    }
    if (m_observer != nullptr) {
        m_observer->rowsChanged(first, last);
    }
}

void inteliBox::AddRow(AddressRow newRow) {
    const auto first = ListCount();
    if (m_observer != nullptr) {
        m_observer->rowsAboutToAppend(first, first);
    }
    m_rows.push_back(std::move(newRow));
    if (m_observer != nullptr) {
        m_observer->rowsAppended();
    }
}

void inteliBox::AddRows(RowList newRows) {
    if (newRows.empty()) {
        return;
    }
    const auto first = ListCount();
    if (m_observer != nullptr) {
        m_observer->rowsAboutToAppend(first, first + static_cast<std::int64_t>(newRows.size()) - 1);
    }
    m_rows.append(std::move(newRows));
    if (m_observer != nullptr) {
        m_observer->rowsAppended();
    }
}

void inteliBox::RemoveRow(std::int64_t r) {
    resetRows([r](RowList& rows) { rows.erase(static_cast<std::size_t>(r), static_cast<std::size_t>(r) + 1); });
}

void inteliBox::DeleteAllRows() {
    resetRows([](RowList& rows) { rows.clear(); });
}

void inteliBox::setScrollPosition(std::int64_t r) {
    m_scroll = r;
    if (m_observer != nullptr) {
        m_observer->scrolledTo(r);
    }
}

void inteliBox::setEnabled(bool enabled) {
    if (m_enabled == enabled) {
        return;
    }
    m_enabled = enabled;
    if (m_observer != nullptr) {
        m_observer->enabledChanged(enabled);
    }
}

RowList inteliBox::takeRows() {
    RowList taken;
    resetRows([&taken](RowList& mine) { taken = std::exchange(mine, {}); });
    return taken;
}

void inteliBox::putRows(RowList rows) {
    resetRows([&rows](RowList& mine) { mine = std::move(rows); });
}

void inteliBox::resetRows(const std::function<void(RowList&)>& change) {
    if (m_observer != nullptr) {
        m_observer->listAboutToReset();
    }
    change(m_rows);
    if (m_observer != nullptr) {
        m_observer->listReset();
    }
}

void inteliBox::sortByColumn(std::int32_t column, const JobContext& ctx) {
    if (m_rows.size() < 2) {
        return;
    }
    JobContext yieldOnly;
    yieldOnly.yield = ctx.yield;
    resetRows([&](RowList& rows) { listOps::sortByColumn(rows, column, yieldOnly); });
}

void inteliBox::deleteByColumn(std::int32_t column, const JobContext& ctx) {
    exeStop = false;
    if (m_rows.size() < 2) {
        if (deleteDone) {
            deleteDone(false);
        }
        return;
    }
    JobContext own;
    own.stop = &exeStop;
    own.yield = ctx.yield;
    own.progress = [this](std::int64_t maximum, std::int64_t value) {
        if (progChange) {
            progChange(static_cast<std::int32_t>(maximum), static_cast<std::int32_t>(value));
        }
    };
    bool stopped = false;
    resetRows([&](RowList& rows) { stopped = listOps::deleteByColumn(rows, column, own); });
    if (deleteDone) {
        deleteDone(stopped);
    }
}

std::int32_t inteliBox::returnListcount() const {
    return static_cast<std::int32_t>(m_rows.size());
}

void inteliBox::checkByAddress(std::string_view entry, std::int32_t column, std::int32_t mode, bool markInstead,
                               const JobContext& ctx) {
    exeStop = false;
    if (progChange) {
        progChange(0, 0);
    }
    std::string_view probe;
    if (m_rows.empty() || !listOps::filterKey({}, mode, probe)) {
        return;
    }
    JobContext yieldOnly;
    yieldOnly.yield = ctx.yield;
    if (markInstead) {
        // Check boxes only: the rows stay where they are.
        listOps::checkByAddress(m_rows, entry, column, mode, true, yieldOnly);
        if (m_observer != nullptr) {
            m_observer->rowsChanged(0, ListCount() - 1);
        }
    } else {
        resetRows([&](RowList& rows) { listOps::checkByAddress(rows, entry, column, mode, false, yieldOnly); });
    }
}

} // namespace quillon
