#include "list/rowList.h"

#include <algorithm>
#include <utility>

namespace quillon {

namespace {

// The first segment's room when a list gets its first row.
constexpr std::size_t kFirstRows = 8;

} // namespace

AddressRow* RowList::allocateSegment(std::size_t rows) {
    return static_cast<AddressRow*>(::operator new(rows * sizeof(AddressRow)));
}

void RowList::freeSegment(AddressRow* segment) {
    ::operator delete(segment);
}

RowList::RowList(const RowList& other) {
    for (const AddressRow& row : other) {
        push_back(row);
    }
}

RowList& RowList::operator=(const RowList& other) {
    if (this != &other) {
        RowList copy(other);
        swap(copy);
    }
    return *this;
}

RowList::RowList(RowList&& other) noexcept
    : m_segments(std::move(other.m_segments)), m_size(std::exchange(other.m_size, 0)),
      m_firstCapacity(std::exchange(other.m_firstCapacity, 0)) {
    other.m_segments.clear();
}

RowList& RowList::operator=(RowList&& other) noexcept {
    if (this != &other) {
        RowList gone(std::move(other));
        swap(gone);
    }
    return *this;
}

void RowList::swap(RowList& other) noexcept {
    m_segments.swap(other.m_segments);
    std::swap(m_size, other.m_size);
    std::swap(m_firstCapacity, other.m_firstCapacity);
}

void RowList::push_back(AddressRow row) {
    if (m_size == capacity()) {
        if (m_segments.empty()) {
            m_segments.push_back(allocateSegment(kFirstRows));
            m_firstCapacity = kFirstRows;
        } else if (m_segments.size() == 1 && m_firstCapacity < kSegmentRows) {
            // The first segment grows by doubling up to full size: at most
            // 2,048 rows move, once each time.
            const std::size_t grown = std::min(m_firstCapacity * 2, kSegmentRows);
            AddressRow* bigger = allocateSegment(grown);
            for (std::size_t i = 0; i < m_size; ++i) {
                new (&bigger[i]) AddressRow(std::move(m_segments[0][i]));
                m_segments[0][i].~AddressRow();
            }
            freeSegment(m_segments[0]);
            m_segments[0] = bigger;
            m_firstCapacity = grown;
        } else {
            m_segments.push_back(allocateSegment(kSegmentRows));
        }
    }
    new (&(*this)[m_size]) AddressRow(std::move(row));
    ++m_size;
}

void RowList::append(RowList&& other) {
    if (m_size == 0) {
        swap(other);
        return;
    }
    for (AddressRow& row : other) {
        push_back(std::move(row));
    }
    other.clear();
}

void RowList::resize(std::size_t count) {
    if (count >= m_size) {
        while (m_size < count) {
            push_back(AddressRow());
        }
        return;
    }
    for (std::size_t i = count; i < m_size; ++i) {
        (*this)[i].~AddressRow();
    }
    m_size = count;
    // Release the segments no longer used (all of them for an empty list).
    const std::size_t kept = (count + kSegmentRows - 1) >> kSegmentShift;
    for (std::size_t s = kept; s < m_segments.size(); ++s) {
        freeSegment(m_segments[s]);
    }
    m_segments.resize(kept);
    if (kept == 0) {
        m_firstCapacity = 0;
    }
}

void RowList::erase(std::size_t first, std::size_t last) {
    if (first >= last) {
        return;
    }
    std::size_t out = first;
    for (std::size_t in = last; in < m_size; ++in, ++out) {
        (*this)[out] = std::move((*this)[in]);
    }
    resize(out);
}

} // namespace quillon
