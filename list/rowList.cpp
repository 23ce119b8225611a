#include "list/rowList.h"

#include <utility>

namespace quillon {

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
    : m_segments(std::move(other.m_segments)), m_size(std::exchange(other.m_size, 0)) {
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
}

void RowList::push_back(AddressRow row) {
    if (m_size == m_segments.size() * kSegmentRows) {
        m_segments.push_back(std::make_unique<AddressRow[]>(kSegmentRows));
    }
    (*this)[m_size] = std::move(row);
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
    if (count < m_size) {
        // Release the texts of the dropped rows that stay in a kept segment.
        const std::size_t keptSegments = (count + kSegmentRows - 1) >> kSegmentShift;
        const std::size_t keptEnd = std::min(m_size, keptSegments * kSegmentRows);
        for (std::size_t i = count; i < keptEnd; ++i) {
            (*this)[i] = AddressRow();
        }
        m_segments.resize(keptSegments);
        m_size = count;
        return;
    }
    while (m_size < count) {
        push_back(AddressRow());
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
