#pragma once

#include "app/jobContext.h"
#include "list/rowList.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// Told about every change of an inteliBox, so an on-screen view can follow the
// data. All calls come from the thread that changes the list (the UI thread).
class ListObserver {
public:
    virtual ~ListObserver() = default;
    virtual void listAboutToReset() {}
    virtual void listReset() {}
    virtual void rowsAboutToAppend(std::int64_t /*first*/, std::int64_t /*last*/) {}
    virtual void rowsAppended() {}
    virtual void rowsChanged(std::int64_t /*first*/, std::int64_t /*last*/) {}
    virtual void scrolledTo(std::int64_t /*row*/) {}
    virtual void enabledChanged(bool /*enabled*/) {}
};

// The data of a multi-column list of address rows, without any display: rows
// of cells with check and selected states, a scroll position, enabled and
// visible flags, and the column-wise operations (sort, duplicate removal, row
// count, filter matching) with their two events.
class inteliBox {
public:
    virtual ~inteliBox() = default;

    // Stop request for deleteByColumn; written by STOP on the UI thread, read
    // by whoever runs the operation.
    std::atomic<bool> exeStop{false};
    // Events; raising one that is unset does nothing.
    std::function<void(std::int32_t maximum, std::int32_t value)> progChange;
    std::function<void(bool stopped)> deleteDone;

    void setObserver(ListObserver* observer) { m_observer = observer; }

    // Basic list operations.
    std::int64_t ListCount() const { return static_cast<std::int64_t>(m_rows.size()); }
    const AddressRow& row(std::int64_t r) const { return m_rows[static_cast<std::size_t>(r)]; }
    const RowList& rows() const { return m_rows; }
    // A copy of a cell's text; a column the list does not have reads as empty.
    std::string Cell(std::int64_t r, int column) const;
    void setCell(std::int64_t r, int column, std::string_view text);
    bool CellCheck(std::int64_t r) const { return row(r).checked; }
    void setCellCheck(std::int64_t r, bool checked);
    bool Selected(std::int64_t r) const { return row(r).selected; }
    void setSelected(std::int64_t r, bool selected);
    // Rows first to last (inclusive) selected or not, with one notification.
    void setSelectedRange(std::int64_t first, std::int64_t last, bool selected);
    void AddRow(AddressRow row);
    // Appends the rows after the others without moving those already there:
    // the time taken is that of the batch, whatever the list's length.
    void AddRows(RowList rows);
    void RemoveRow(std::int64_t r);
    void DeleteAllRows();
    std::int64_t ScrollPosition() const { return m_scroll; }
    void setScrollPosition(std::int64_t row);
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    bool Visible() const { return m_visible; }
    void setVisible(bool visible) { m_visible = visible; }

    // Moves all rows out (the list is then empty) so that an operation can
    // run on them elsewhere; putRows puts them back. Each tells the observer
    // the list was reset.
    RowList takeRows();
    void putRows(RowList rows);
    // Replaces the rows with the result of `change` in one reset.
    void resetRows(const std::function<void(RowList&)>& change);

    // The column-wise operations, with the events raised as the list's own.
    // They run in place on the caller's thread and tell the observer once,
    // when they are done. Of `ctx` they use only the yield: progress goes to
    // progChange, and the only stop request they see is exeStop.
    void sortByColumn(std::int32_t column, const JobContext& ctx = {});
    // Clears exeStop, removes the later duplicates, raises progChange for
    // every step and deleteDone at the end (stopped when exeStop was seen).
    void deleteByColumn(std::int32_t column, const JobContext& ctx = {});
    std::int32_t returnListcount() const;
    // Clears exeStop, raises progChange(0, 0), then checks or removes the rows
    // whose key equals the entry.
    void checkByAddress(std::string_view entry, std::int32_t column, std::int32_t mode, bool markInstead,
                        const JobContext& ctx = {});

protected:
    ListObserver* observer() const { return m_observer; }
    RowList& mutableRows() { return m_rows; }

private:
    RowList m_rows;
    ListObserver* m_observer = nullptr;
    std::int64_t m_scroll = 0;
    bool m_enabled = true;
    bool m_visible = true;
};

} // namespace quillon
