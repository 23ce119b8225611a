#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillon {

// One row of the address list: column 0 is the delete check box (its text is
// empty), column 1 the address as it was found or edited, column 2 its domain.
//
// A million of these must fit in little memory, so a row keeps its texts end
// to end in one block: column 1's text, then column 0's (empty in practice),
// then column 2's unless it is column 1's domain, which is then only an offset
// into column 1. A block of up to kInline bytes (most addresses) lies inside
// the row itself; a longer one is on the heap, of its exact size. Any texts
// can still be stored in any column.
class AddressRow {
public:
    AddressRow() = default;
    // A found address: the address in column 1, its domain (the second
    // "@"-field) in column 2.
    explicit AddressRow(std::string_view address);
    // Any three cell texts.
    AddressRow(std::string_view cell0, std::string_view cell1, std::string_view cell2);
    ~AddressRow();
    AddressRow(const AddressRow& other);
    AddressRow& operator=(const AddressRow& other);
    AddressRow(AddressRow&& other) noexcept;
    AddressRow& operator=(AddressRow&& other) noexcept;

    // The text of a column; a column outside 0 to 2 reads as empty.
    std::string_view cell(int column) const;
    // Sets one column's text; a column outside 0 to 2 is ignored.
    void setCell(int column, std::string_view text);
    std::string_view address() const { return {bytes(), m_size1}; }
    std::string_view domain() const { return {bytes() + m_begin2, m_size2}; }

    // Same texts and states.
    bool operator==(const AddressRow& other) const;

    bool checked = false;
    bool selected = false;
    // Where the address was first found: an index into the list's table of
    // source names (addressBox::sourceName), 0 when it is not known.
    std::uint32_t source = 0;

    static constexpr std::size_t kInline = 40;

private:
    // Column 2 has bytes of its own (it is not column 1's domain).
    bool ownDomain() const { return m_size2 > 0 && m_begin2 >= m_size1; }
    std::size_t blockSize() const {
        return ownDomain() ? std::size_t{m_begin2} + m_size2 : std::size_t{m_size1} + m_size0;
    }
    bool onHeap() const { return blockSize() > kInline; }
    const char* bytes() const { return onHeap() ? m_text.heap : m_text.local; }
    void assign(std::string_view cell0, std::string_view cell1, std::string_view cell2);
    void release();
    void takeFrom(AddressRow& other) noexcept;

    union Text {
        char local[kInline];
        char* heap;
    } m_text{};
    std::uint32_t m_size1 = 0;
    std::uint32_t m_size0 = 0;
    std::uint32_t m_begin2 = 0; // where column 2's text starts in m_bytes
    std::uint32_t m_size2 = 0;
};

} // namespace quillon
