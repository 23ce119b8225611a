#pragma once

#include "list/addressRow.h"

#include <cstddef>
#include <iterator>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace quillon {

// The rows of an address list, kept in fixed segments of 2,048 rows: rows
// appended to a long list are placed after the others without moving them,
// so the window can take in a batch of rows in time proportional to the
// batch, and no spare capacity is held beyond the last segment. The first
// segment starts small and grows to full size (a list of a few rows, as a
// small file gives, stays small). Indexing and iteration work as on a vector.
class RowList {
    template <bool Const> class Iter;

public:
    using value_type = AddressRow;
    using size_type = std::size_t;
    using iterator = Iter<false>;
    using const_iterator = Iter<true>;

    static constexpr std::size_t kSegmentShift = 11;
    static constexpr std::size_t kSegmentRows = std::size_t{1} << kSegmentShift;

    RowList() = default;
    // `count` rows with empty cells.
    explicit RowList(std::size_t count) { resize(count); }
    RowList(const RowList& other);
    RowList& operator=(const RowList& other);
    RowList(RowList&& other) noexcept;
    RowList& operator=(RowList&& other) noexcept;
    ~RowList() { resize(0); }

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    AddressRow& operator[](std::size_t i) { return m_segments[i >> kSegmentShift][i & (kSegmentRows - 1)]; }
    const AddressRow& operator[](std::size_t i) const { return m_segments[i >> kSegmentShift][i & (kSegmentRows - 1)]; }
    AddressRow& back() { return (*this)[m_size - 1]; }
    const AddressRow& back() const { return (*this)[m_size - 1]; }

    void push_back(AddressRow row);
    template <typename... Args> AddressRow& emplace_back(Args&&... args) {
        push_back(AddressRow(std::forward<Args>(args)...));
        return back();
    }
    // Moves every row of `other` to the end of this list; `other` is left
    // empty.
    void append(RowList&& other);
    // Shortens (releasing the texts of the rows dropped and the segments no
    // longer used) or lengthens with empty rows.
    void resize(std::size_t count);
    void clear() { resize(0); }
    void pop_back() { resize(m_size - 1); }
    // Removes rows [first, last); the later rows move up.
    void erase(std::size_t first, std::size_t last);
    void swap(RowList& other) noexcept;
    // Removes the rows for which remove(row) is true; the others keep their
    // order. Returns how many were removed.
    template <typename Remove> std::size_t removeIf(Remove remove) {
        std::size_t out = 0;
        for (std::size_t i = 0; i < m_size; ++i) {
            AddressRow& row = (*this)[i];
            if (!remove(std::as_const(row))) {
                if (out != i) {
                    (*this)[out] = std::move(row);
                }
                ++out;
            }
        }
        const std::size_t removed = m_size - out;
        resize(out);
        return removed;
    }
    // Puts every row i at position to(i) (a permutation, called for i in
    // order). Rows are read in order, each segment released once read, and a
    // segment of the new order is made when its first row arrives: when the
    // rows go to a few runs of places at a time, this is a sequential pass in
    // little more memory than the list.
    template <typename To> void reorder(To to);

    iterator begin();
    iterator end();
    const_iterator begin() const;
    const_iterator end() const;

private:
    // Segments are raw storage: only rows 0 to m_size - 1 are constructed.
    static AddressRow* allocateSegment(std::size_t rows);
    static void freeSegment(AddressRow* segment);
    std::size_t capacity() const { return m_segments.size() == 1 ? m_firstCapacity : m_segments.size() * kSegmentRows; }

    std::vector<AddressRow*> m_segments;
    std::size_t m_size = 0;
    std::size_t m_firstCapacity = 0; // rows the first segment has room for
};

template <bool Const> class RowList::Iter {
public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = AddressRow;
    using difference_type = std::ptrdiff_t;
    using pointer = std::conditional_t<Const, const AddressRow*, AddressRow*>;
    using reference = std::conditional_t<Const, const AddressRow&, AddressRow&>;
    using List = std::conditional_t<Const, const RowList, RowList>;

    Iter() = default;
    Iter(List* list, std::ptrdiff_t index) : m_list(list), m_index(index) {}
    operator Iter<true>() const { return {m_list, m_index}; }

    reference operator*() const { return (*m_list)[static_cast<std::size_t>(m_index)]; }
    pointer operator->() const { return &**this; }
    reference operator[](difference_type n) const { return *(*this + n); }
    Iter& operator++() {
        ++m_index;
        return *this;
    }
    Iter operator++(int) {
        Iter old = *this;
        ++m_index;
        return old;
    }
    Iter& operator--() {
        --m_index;
        return *this;
    }
    Iter operator--(int) {
        Iter old = *this;
        --m_index;
        return old;
    }
    Iter& operator+=(difference_type n) {
        m_index += n;
        return *this;
    }
    Iter& operator-=(difference_type n) {
        m_index -= n;
        return *this;
    }
    friend Iter operator+(Iter it, difference_type n) { return it += n; }
    friend Iter operator+(difference_type n, Iter it) { return it += n; }
    friend Iter operator-(Iter it, difference_type n) { return it -= n; }
    friend difference_type operator-(const Iter& a, const Iter& b) { return a.m_index - b.m_index; }
    friend bool operator==(const Iter& a, const Iter& b) { return a.m_index == b.m_index; }
    friend auto operator<=>(const Iter& a, const Iter& b) { return a.m_index <=> b.m_index; }
    std::ptrdiff_t index() const { return m_index; }

private:
    List* m_list = nullptr;
    std::ptrdiff_t m_index = 0;
};

template <typename To> void RowList::reorder(To to) {
    std::vector<AddressRow*> out(m_segments.size(), nullptr);
    const std::size_t capacity = m_segments.size() == 1 ? m_firstCapacity : kSegmentRows;
    for (std::size_t i = 0; i < m_size; ++i) {
        const std::size_t d = to(i);
        AddressRow*& segment = out[d >> kSegmentShift];
        if (segment == nullptr) {
            segment = allocateSegment(capacity);
        }
        AddressRow& from = (*this)[i];
        new (&segment[d & (kSegmentRows - 1)]) AddressRow(std::move(from));
        from.~AddressRow();
        if ((i & (kSegmentRows - 1)) == kSegmentRows - 1 || i + 1 == m_size) {
            freeSegment(m_segments[i >> kSegmentShift]);
            m_segments[i >> kSegmentShift] = nullptr;
        }
    }
    m_segments = std::move(out);
}

inline RowList::iterator RowList::begin() {
    return {this, 0};
}
inline RowList::iterator RowList::end() {
    return {this, static_cast<std::ptrdiff_t>(m_size)};
}
inline RowList::const_iterator RowList::begin() const {
    return {this, 0};
}
inline RowList::const_iterator RowList::end() const {
    return {this, static_cast<std::ptrdiff_t>(m_size)};
}

} // namespace quillon
