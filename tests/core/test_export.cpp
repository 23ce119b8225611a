#include "export/listWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using quillon::AddressRow;
using quillon::RowList;
namespace listWriter = quillon::listWriter;

namespace {

RowList rowsOf(const std::string& letters) {
    RowList rows;
    for (char c : letters) {
        rows.emplace_back("", std::string(1, c), "DOMAIN");
    }
    return rows;
}

struct LayoutCase {
    const char* name;
    std::string letters;
    std::int32_t code;
    std::int32_t n;
    bool needYohaku;
    std::string expected;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.name;
}

class ExportLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ExportLayoutTest, BuildsTheExactBytes) {
    const auto& c = GetParam();
    const auto text = listWriter::buildExportText(rowsOf(c.letters), c.code, c.n, c.needYohaku);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ExportLayoutTest,
    ::testing::Values(LayoutCase{"LinePerAddress", "ABC", 4, 2, true, "A\rB\rC\r"},
                      LayoutCase{"OneCommaLine", "ABC", 6, 2, true, "A,B,C"},
                      LayoutCase{"TwoPerLine", "ABC", 14, 2, false, "A,B\rC"},
                      LayoutCase{"TwoPerLineWithEmptyLines", "ABC", 14, 2, true, "A,B\r\rC"},
                      LayoutCase{"OnePerLineHasNoFinalLineEnd", "ABC", 14, 1, false, "A\rB\rC"},
                      LayoutCase{"OnePerLineWithEmptyLines", "ABC", 14, 1, true, "A\r\rB\r\rC"},
                      LayoutCase{"NAboveCountIsOneLine", "ABC", 14, 10, true, "A,B,C"},
                      LayoutCase{"NEqualToCountIsOneLine", "ABC", 14, 3, true, "A,B,C"},
                      LayoutCase{"FourRowsFullLastLine", "ABCD", 14, 2, false, "A,B\rC,D"},
                      LayoutCase{"FourRowsWithEmptyLines", "ABCD", 14, 2, true, "A,B\r\rC,D"},
                      LayoutCase{"FiveRowsLastAlone", "ABCDE", 14, 2, false, "A,B\rC,D\rE"},
                      LayoutCase{"SevenRowsThreePerLine", "ABCDEFG", 14, 3, false, "A,B,C\rD,E,F\rG"},
                      LayoutCase{"OneRowLine", "A", 4, 1, true, "A\r"}, LayoutCase{"OneRowComma", "A", 6, 1, true, "A"},
                      LayoutCase{"OneRowNPerLine", "A", 14, 1, true, "A"},
                      LayoutCase{"OneRowNPerLineLargeN", "A", 14, 10, false, "A"},
                      LayoutCase{"NZeroTakenAsOne", "ABC", 14, 0, false, "A\rB\rC"},
                      LayoutCase{"NNegativeTakenAsOne", "ABC", 14, -5, true, "A\r\rB\r\rC"}));

TEST(Export, CheckedRowsAreWrittenAndDomainsNever) {
    auto rows = rowsOf("AB");
    rows[0].checked = true;
    rows[1].selected = true;
    rows[1].setCell(0, "X"); // column 0 is never read either
    for (std::int32_t code : {4, 6, 14}) {
        const auto text = listWriter::buildExportText(rows, code, 1, false);
        ASSERT_TRUE(text.has_value());
        EXPECT_NE(text->find('A'), std::string::npos) << code;
        EXPECT_EQ(text->find("DOMAIN"), std::string::npos) << code;
        EXPECT_EQ(text->find('X'), std::string::npos) << code;
    }
}

TEST(Export, LongAddressesAndMultibyteTextAreCopiedWhole) {
    RowList rows(2);
    const std::string first = "\xE3\x81\x82@example.jp"; // edited by the user to hold Japanese text
    const std::string second = "someone.with.a.long.name@mail.example.co.jp";
    rows[0].setCell(1, first);
    rows[1].setCell(1, second);
    EXPECT_EQ(listWriter::writeAsComma(rows), first + "," + second);
    EXPECT_EQ(listWriter::writeAsLineComma(rows, 1, false), first + "\r" + second);
}

TEST(Export, NAtLeastRowCountEqualsCommaLayout) {
    const auto rows = rowsOf("ABCDEFGHIJ");
    for (std::int32_t n : {10, 11, 1000}) {
        EXPECT_EQ(listWriter::writeAsLineComma(rows, n, true), listWriter::writeAsComma(rows)) << n;
    }
}

TEST(Export, NothingForAnEmptyListOrAnotherCode) {
    EXPECT_FALSE(listWriter::buildExportText({}, 4, 10, false).has_value());
    EXPECT_FALSE(listWriter::buildExportText({}, 14, 10, false).has_value());
    for (std::int32_t code : {0, 5, 7, 13, 15, -4}) {
        EXPECT_FALSE(listWriter::buildExportText(rowsOf("AB"), code, 10, false).has_value()) << code;
    }
}

TEST(Export, LineEndsAreOnlyCarriageReturns) {
    const auto rows = rowsOf("ABCDEFG");
    for (const auto& text : {listWriter::writeAsLine(rows), listWriter::writeAsLineComma(rows, 2, true)}) {
        EXPECT_EQ(text.find('\n'), std::string::npos);
    }
    EXPECT_EQ(listWriter::writeAsComma(rows).find('\r'), std::string::npos);
}

} // namespace
