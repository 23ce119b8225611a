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

void checkSize(std::size_t size) {
    if (size > std::numeric_limits<std::uint32_t>::max()) {
        throw std::bad_alloc();
    }
}

} // namespace

AddressRow::AddressRow(std::string_view address) {
    // The common case, kept quick: the address alone, the domain pointing
    // into it.
    checkSize(address.size());
    char* out = m_text.local;
    if (address.size() > kInline) {
        out = static_cast<char*>(std::malloc(address.size()));
        if (out == nullptr) {
            throw std::bad_alloc();
        }
        m_text.heap = out;
    }
    if (!address.empty()) {
        std::memcpy(out, address.data(), address.size());
    }
    m_size1 = static_cast<std::uint32_t>(address.size());
    const std::string_view domain = atField(address, 2);
    m_begin2 = domain.empty() ? 0 : static_cast<std::uint32_t>(domain.data() - address.data());
    m_size2 = static_cast<std::uint32_t>(domain.size());
}

AddressRow::AddressRow(std::string_view cell0, std::string_view cell1, std::string_view cell2) {
    assign(cell0, cell1, cell2);
}

AddressRow::~AddressRow() {
    release();
}

AddressRow::AddressRow(const AddressRow& other)
    : checked(other.checked), selected(other.selected), source(other.source) {
    assign(other.cell(0), other.cell(1), other.cell(2));
}

AddressRow& AddressRow::operator=(const AddressRow& other) {
    if (this != &other) {
        AddressRow copy(other);
        *this = std::move(copy);
    }
    return *this;
}

AddressRow::AddressRow(AddressRow&& other) noexcept {
    takeFrom(other);
}

AddressRow& AddressRow::operator=(AddressRow&& other) noexcept {
    if (this != &other) {
        release();
        takeFrom(other);
    }
    return *this;
}

void AddressRow::takeFrom(AddressRow& other) noexcept {
    checked = other.checked;
    selected = other.selected;
    source = other.source;
    m_text = other.m_text;
    m_size1 = other.m_size1;
    m_size0 = other.m_size0;
    m_begin2 = other.m_begin2;
    m_size2 = other.m_size2;
    // The other row gives up its heap block, if it had one.
    other.m_size1 = other.m_size0 = other.m_begin2 = other.m_size2 = 0;
}

std::string_view AddressRow::cell(int column) const {
    switch (column) {
    case 0:
        return {bytes() + m_size1, m_size0};
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
    return checked == other.checked && selected == other.selected && source == other.source &&
           cell(0) == other.cell(0) && cell(1) == other.cell(1) && cell(2) == other.cell(2);
}

void AddressRow::assign(std::string_view cell0, std::string_view cell1, std::string_view cell2) {
    // Column 2 shares column 1's bytes when it is column 1's domain, as it is
    // for every row a search adds and every row whose address was edited.
    const std::string_view domain = atField(cell1, 2);
    const bool shared = cell2.empty() || cell2 == domain;
    const std::size_t total = cell1.size() + cell0.size() + (shared ? 0 : cell2.size());
    checkSize(total);
    Text text{};
    char* out = text.local;
    if (total > kInline) {
        out = static_cast<char*>(std::malloc(total));
        if (out == nullptr) {
            throw std::bad_alloc();
        }
        text.heap = out;
    }
    const char* const start = out;
    const auto put = [&out](std::string_view part) {
        if (!part.empty()) {
            std::memcpy(out, part.data(), part.size());
            out += part.size();
        }
    };
    put(cell1);
    put(cell0);
    std::uint32_t begin2 = 0;
    if (!shared) {
        begin2 = static_cast<std::uint32_t>(out - start);
        put(cell2);
    } else if (!cell2.empty()) {
        begin2 = static_cast<std::uint32_t>(domain.data() - cell1.data());
    }
    release();
    m_text = text;
    m_size1 = static_cast<std::uint32_t>(cell1.size());
    m_size0 = static_cast<std::uint32_t>(cell0.size());
    m_begin2 = begin2;
    m_size2 = static_cast<std::uint32_t>(cell2.size());
}

void AddressRow::release() {
    if (onHeap()) {
        std::free(m_text.heap);
    }
    m_size1 = m_size0 = m_begin2 = m_size2 = 0;
}

} // namespace quillon
static_assert(sizeof(quillon::AddressRow) <= 64, "a row stays within one cache line");
