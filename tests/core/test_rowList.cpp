// The compact row and the segmented list against the plain forms they replace:
// three strings per row, and a vector of such rows.

#include "app/atFields.h"
#include "list/rowList.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

using quillon::AddressRow;
using quillon::RowList;

namespace {

using PlainRow = std::array<std::string, 3>;

PlainRow plainOf(const AddressRow& row) {
    return {std::string(row.cell(0)), std::string(row.cell(1)), std::string(row.cell(2))};
}

// Texts around the length at which a row's text moves to the heap, with and
// without "@" (so that column 2 is, or is not, column 1's domain).
std::string randomText(std::mt19937& rng) {
    static const char* const kParts[] = {"a", "B", "@", ".", "\xE3\x81\x82", "example", "@mail.example.co.jp"};
    std::uniform_int_distribution<int> parts(0, 12);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kParts) - 1);
    std::string text;
    for (int i = parts(rng); i > 0; --i) {
        text += kParts[pick(rng)];
    }
    return text;
}

TEST(AddressRow, MatchesThreePlainStringsThroughEveryChange) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> op(0, 5);
    std::uniform_int_distribution<int> column(-1, 3);
    for (int round = 0; round < 300; ++round) {
        AddressRow row;
        PlainRow plain;
        for (int step = 0; step < 12; ++step) {
            const std::string text = randomText(rng);
            switch (op(rng)) {
            case 0: // a found address
                row = AddressRow(text);
                plain = {"", text, std::string(quillon::atField(text, 2))};
                break;
            case 1: // any three texts
                plain = {randomText(rng), text, randomText(rng)};
                row = AddressRow(plain[0], plain[1], plain[2]);
                break;
            case 2: { // one cell; a column outside 0 to 2 is ignored
                const int c = column(rng);
                row.setCell(c, text);
                if (c >= 0 && c <= 2) {
                    plain[static_cast<std::size_t>(c)] = text;
                }
                break;
            }
            case 3: // an edited address whose domain is recomputed, as the window does
                row.setCell(1, text);
                row.setCell(2, quillon::atField(row.address(), 2));
                plain[1] = text;
                plain[2] = std::string(quillon::atField(text, 2));
                break;
            case 4: { // copies and moves keep the texts; a moved-from row is empty
                AddressRow copy(row);
                AddressRow moved(std::move(copy));
                EXPECT_EQ(plainOf(copy), PlainRow{});
                row = moved;
                break;
            }
            default: // a cell set to a text taken from the same row
                row.setCell(2, row.cell(1));
                plain[2] = plain[1];
                break;
            }
            ASSERT_EQ(plainOf(row), plain) << "round " << round << " step " << step;
            EXPECT_EQ(row.cell(7), "");
        }
    }
}

TEST(RowList, MatchesAVectorThroughAppendsResizesAndErasures) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> op(0, 5);
    // Sizes that cross segment ends.
    std::uniform_int_distribution<std::size_t> amount(0, 2 * RowList::kSegmentRows + 3);
    RowList list;
    std::vector<PlainRow> plain;
    int serial = 0;
    const auto next = [&serial] {
        ++serial;
        return "r" + std::to_string(serial) + "@x" + std::to_string(serial % 7) + ".jp";
    };
    for (int step = 0; step < 60; ++step) {
        switch (op(rng)) {
        case 0:
            for (std::size_t i = amount(rng); i > 0; --i) {
                const std::string a = next();
                list.emplace_back(a);
                plain.push_back({"", a, std::string(quillon::atField(a, 2))});
            }
            break;
        case 1: { // a batch appended whole, as the window takes in found rows
            RowList batch;
            for (std::size_t i = amount(rng); i > 0; --i) {
                const std::string a = next();
                batch.emplace_back(a);
                plain.push_back({"", a, std::string(quillon::atField(a, 2))});
            }
            list.append(std::move(batch));
            EXPECT_TRUE(batch.empty());
            break;
        }
        case 2: { // shortened, or lengthened with empty rows
            const std::size_t n = std::uniform_int_distribution<std::size_t>(0, plain.size() + 5)(rng);
            list.resize(n);
            plain.resize(n);
            break;
        }
        case 3: {
            const std::size_t first = std::uniform_int_distribution<std::size_t>(0, plain.size())(rng);
            const std::size_t last = std::uniform_int_distribution<std::size_t>(first, plain.size())(rng);
            list.erase(first, last);
            plain.erase(plain.begin() + static_cast<std::ptrdiff_t>(first),
                        plain.begin() + static_cast<std::ptrdiff_t>(last));
            break;
        }
        case 4: { // rows whose address holds a given digit go, the rest keep their order
            const char digit = static_cast<char>('0' + rng() % 10);
            const auto holds = [digit](std::string_view address) { return address.find(digit) != std::string::npos; };
            const std::size_t removed = list.removeIf([&](const AddressRow& row) { return holds(row.address()); });
            EXPECT_EQ(removed, std::erase_if(plain, [&](const PlainRow& row) { return holds(row[1]); }));
            break;
        }
        default: { // a copy is independent of its original
            RowList copy = list;
            if (!copy.empty()) {
                copy[0].setCell(1, "changed");
            }
            list = std::move(copy);
            if (!plain.empty()) {
                plain[0][1] = "changed";
            }
            break;
        }
        }
        ASSERT_EQ(list.size(), plain.size()) << "step " << step;
        std::size_t i = 0;
        for (const AddressRow& row : list) {
            ASSERT_EQ(plainOf(row), plain[i]) << "step " << step << " row " << i;
            ++i;
        }
    }
}

// The window appends every batch to a list that stays where it is: once the
// list holds a full segment, later appends move none of its rows (before
// that, the first segment grows and moves at most its own rows).
TEST(RowList, AppendingNeverMovesRowsAlreadyThere) {
    RowList list;
    for (std::size_t i = 0; i <= RowList::kSegmentRows; ++i) {
        list.emplace_back("a@b.jp");
    }
    const AddressRow* first = &list[0];
    const AddressRow* last = &list.back();
    for (int batch = 0; batch < 20; ++batch) {
        RowList more;
        for (std::size_t i = 0; i < RowList::kSegmentRows / 3; ++i) {
            more.emplace_back("a@b.jp");
        }
        list.append(std::move(more));
        ASSERT_EQ(&list[0], first);
        ASSERT_EQ(&list[RowList::kSegmentRows], last);
    }
}

} // namespace
