#include "list/addressRow.h"

#include "app/atFields.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

namespace quillon {

namespace {

std::uint32_t checkedSize(std::size_t size) {
    if (size > std::numeric_limits<std::uint32_t>::max()) {
        throw std::bad_alloc();
    }
    return static_cast<std::uint32_t>(size);
}

char* allocate(std::size_t size) {
    if (size == 0) {
        return nullptr;
    }
    void* block = std::malloc(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return static_cast<char*>(block);
}

} // namespace

AddressRow::AddressRow(std::string_view address) {
    // The common case, kept quick: one block holding the address, the domain
    // pointing into it.
    m_size1 = checkedSize(address.size());
    m_bytes = allocate(address.size());
    if (!address.empty()) {
        std::memcpy(m_bytes, address.data(), address.size());
    }
    const std::string_view domain = atField(address, 2);
    m_begin2 = domain.empty() ? 0 : static_cast<std::uint32_t>(domain.data() - address.data());
    m_size2 = static_cast<std::uint32_t>(domain.size());
}

AddressRow::AddressRow(std::string_view cell0, std::string_view cell1, std::string_view cell2) {
    assign(cell0, cell1, cell2);
}

AddressRow::~AddressRow() {
    std::free(m_bytes);
}

AddressRow::AddressRow(const AddressRow& other) : checked(other.checked), selected(other.selected) {
    assign(other.cell(0), other.cell(1), other.cell(2));
}

AddressRow& AddressRow::operator=(const AddressRow& other) {
    if (this != &other) {
        AddressRow copy(other);
        *this = std::move(copy);
    }
    return *this;
}

AddressRow::AddressRow(AddressRow&& other) noexcept
    : checked(other.checked), selected(other.selected), m_bytes(std::exchange(other.m_bytes, nullptr)),
      m_size1(std::exchange(other.m_size1, 0)), m_size0(std::exchange(other.m_size0, 0)),
      m_begin2(std::exchange(other.m_begin2, 0)), m_size2(std::exchange(other.m_size2, 0)) {}

AddressRow& AddressRow::operator=(AddressRow&& other) noexcept {
    if (this != &other) {
        std::free(m_bytes);
        m_bytes = std::exchange(other.m_bytes, nullptr);
        m_size1 = std::exchange(other.m_size1, 0);
        m_size0 = std::exchange(other.m_size0, 0);
        m_begin2 = std::exchange(other.m_begin2, 0);
        m_size2 = std::exchange(other.m_size2, 0);
        checked = other.checked;
        selected = other.selected;
    }
    return *this;
}

std::string_view AddressRow::cell(int column) const {
    switch (column) {
    case 0:
        return {m_bytes + m_size1, m_size0};
    case 1:
        return address();
    case 2:
        return domain();
    default:
        return {};
    }
}

void AddressRow::setCell(int column, std::string_view text) {
    if (column < 0 || column > 2) {
        return;
    }
    // The texts may point into this row's own block: copy them first.
    std::string cells[3] = {std::string(cell(0)), std::string(cell(1)), std::string(cell(2))};
    cells[column] = text;
    assign(cells[0], cells[1], cells[2]);
}

bool AddressRow::operator==(const AddressRow& other) const {
    return checked == other.checked && selected == other.selected && cell(0) == other.cell(0) &&
           cell(1) == other.cell(1) && cell(2) == other.cell(2);
}

void AddressRow::assign(std::string_view cell0, std::string_view cell1, std::string_view cell2) {
    // Column 2 shares column 1's bytes when it is column 1's domain, as it is
    // for every row a search adds and every row whose address was edited.
    const std::string_view domain = atField(cell1, 2);
    const bool inside = cell2.empty() || (cell2 == domain);
    const std::size_t total = cell1.size() + cell0.size() + (inside ? 0 : cell2.size());
    checkedSize(total);
    char* bytes = allocate(total);
    char* out = bytes;
    if (!cell1.empty()) {
        std::memcpy(out, cell1.data(), cell1.size());
        out += cell1.size();
    }
    if (!cell0.empty()) {
        std::memcpy(out, cell0.data(), cell0.size());
        out += cell0.size();
    }
    std::uint32_t begin2 = 0;
    if (!inside) {
        begin2 = static_cast<std::uint32_t>(out - bytes);
        std::memcpy(out, cell2.data(), cell2.size());
    } else if (!cell2.empty()) {
        begin2 = static_cast<std::uint32_t>(domain.data() - cell1.data());
    }
    release();
    m_bytes = bytes;
    m_size1 = static_cast<std::uint32_t>(cell1.size());
    m_size0 = static_cast<std::uint32_t>(cell0.size());
    m_begin2 = begin2;
    m_size2 = static_cast<std::uint32_t>(cell2.size());
}

void AddressRow::release() {
    std::free(m_bytes);
    m_bytes = nullptr;
    m_size1 = m_size0 = m_begin2 = m_size2 = 0;
}

} // namespace quillon
