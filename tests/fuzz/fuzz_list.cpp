// The filter splitting and the list operations driven by a program: each
// input byte picks a command, the bytes after it its arguments. After every
// command the list must keep its shape (the domain column is the second
// "@"-field of the address), and each operation must agree with its simple
// form: duplicate removal with the pairwise loop, sorting with a stable sort
// of the folded texts, the filter of many entries with one entry at a time,
// the next-checked-row walk with the walk written out row by row.
#include "app/atFields.h"
#include "app/settings.h"
#include "fuzzCheck.h"
#include "list/addressBox.h"
#include "list/listOps.h"
#include "list/textCompare.h"
#include "support/core_pairwiseDedupe.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using quillon::addressBox;
using quillon::AddressRow;
using quillon::RowList;
using quillon::fuzz::InputReader;
namespace listOps = quillon::listOps;

// Keeps the quadratic references fast.
constexpr std::int64_t kMaxRows = 300;

// Texts from pieces that make duplicates, case pairs (ASCII and not), "@"
// fields, the accepted endings, filter syntax and broken UTF-8 likely.
std::string makeText(InputReader& in) {
    static constexpr const char* kPieces[] = {"a",
                                              "A",
                                              "b",
                                              "B",
                                              "@",
                                              "@",
                                              ".",
                                              ".",
                                              "-",
                                              "_",
                                              "jp",
                                              "JP",
                                              "com",
                                              "Co",
                                              "x.jp",
                                              "\xC3\xA9" /* é */,
                                              "\xC3\x89" /* É */,
                                              "\xEF\xBD\x81" /* ａ */,
                                              "\xEF\xBC\xA1" /* Ａ */,
                                              "\xCF\x82" /* ς */,
                                              "\xCE\xA3" /* Σ */,
                                              "\xC3",
                                              "\xFF",
                                              "\x80",
                                              "***",
                                              ",",
                                              " ",
                                              "1",
                                              "info",
                                              "name"};
    constexpr unsigned kCount = sizeof kPieces / sizeof kPieces[0];
    std::string text;
    const unsigned pieces = in.pick(10);
    for (unsigned i = 0; i < pieces; ++i) {
        text += kPieces[in.pick(kCount)];
    }
    return text;
}

bool sameRow(const AddressRow& a, const AddressRow& b) {
    return a == b;
}

bool sameRows(const RowList& a, const RowList& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), sameRow);
}

void checkShape(const addressBox& box) {
    FUZZ_CHECK(box.ListCount() == box.returnListcount());
    for (const auto& row : box.rows()) {
        FUZZ_CHECK(row.cell(0).empty());
        FUZZ_CHECK(row.domain() == quillon::atField(row.address(), 2));
    }
}

// Duplicate removal against the pairwise loop, stopped after `stopAfter`
// progress steps (0: not stopped).
void deleteDuplicates(addressBox& box, int column, unsigned stopAfter) {
    RowList expected = box.rows();
    std::atomic<bool> stop{false};
    std::vector<std::pair<std::int64_t, std::int64_t>> expectedSteps;
    quillon::JobContext ctx;
    ctx.stop = &stop;
    ctx.progress = [&](std::int64_t maximum, std::int64_t value) {
        expectedSteps.emplace_back(maximum, value);
        if (expectedSteps.size() == stopAfter) {
            stop = true;
        }
    };
    const bool expectedStopped = quillon::testing::pairwiseDeleteByColumn(expected, column, ctx);

    std::vector<std::pair<std::int64_t, std::int64_t>> steps;
    box.progChange = [&](std::int32_t maximum, std::int32_t value) {
        steps.emplace_back(maximum, value);
        if (steps.size() == stopAfter) {
            box.exeStop = true;
        }
    };
    int done = 0;
    bool stopped = false;
    box.deleteDone = [&](bool s) {
        ++done;
        stopped = s;
    };
    box.deleteByColumn(column);
    box.progChange = nullptr;
    box.deleteDone = nullptr;

    FUZZ_CHECK(done == 1);
    FUZZ_CHECK(stopped == expectedStopped);
    FUZZ_CHECK(steps == expectedSteps);
    FUZZ_CHECK(sameRows(box.rows(), expected));
}

void sortRows(addressBox& box, int column) {
    RowList expected = box.rows();
    std::stable_sort(expected.begin(), expected.end(), [column](const AddressRow& a, const AddressRow& b) {
        return quillon::foldCase(a.cell(column)) < quillon::foldCase(b.cell(column));
    });
    box.sortByColumn(column);
    FUZZ_CHECK(sameRows(box.rows(), expected));
}

// One filter array applied at once, entry by entry on a copy, and through the
// list's own one-entry operation: all three agree.
void applyFilter(addressBox& box, const std::vector<std::string>& filterArray, int column, int mode, bool markInstead) {
    RowList oneByOne = box.rows();
    for (std::size_t i = 1; i < filterArray.size(); ++i) {
        listOps::checkByAddress(oneByOne, filterArray[i], column, mode, markInstead);
    }
    RowList atOnce = box.rows();
    listOps::checkByAddresses(atOnce, filterArray, column, mode, markInstead);
    FUZZ_CHECK(sameRows(atOnce, oneByOne));

    const auto before = box.rows();
    for (std::size_t i = 1; i < filterArray.size(); ++i) {
        box.checkByAddress(filterArray[i], column, mode, markInstead);
    }
    FUZZ_CHECK(sameRows(box.rows(), oneByOne));
    // Never clears a check box; marking keeps every row, removing keeps the
    // rest in order.
    if (markInstead) {
        FUZZ_CHECK(box.rows().size() == before.size());
        for (std::size_t r = 0; r < before.size(); ++r) {
            FUZZ_CHECK(!before[r].checked || box.rows()[r].checked);
        }
    } else {
        std::size_t r = 0;
        for (const auto& kept : box.rows()) {
            while (r < before.size() && !sameRow(before[r], kept)) {
                ++r;
            }
            FUZZ_CHECK(r < before.size());
            ++r;
        }
    }
}

// The filter splitting: every field lands in the list its "***" decide, in
// order; counted here with a walk of its own over the text.
void splitFilter(quillon::Settings& s, const std::string& filterText) {
    s.filterString = filterText;
    s.shiwake();
    std::vector<std::string> addresses{""}, domains{""}, accounts{""};
    std::string field;
    for (std::size_t i = 0; i <= filterText.size(); ++i) {
        if (i < filterText.size() && filterText[i] != ',') {
            field += filterText[i];
            continue;
        }
        const auto stars = field.find("***");
        if (stars == std::string::npos) {
            addresses.push_back(field);
        } else {
            if (stars == 0) {
                domains.emplace_back(quillon::atField(field, 2));
            }
            if (field.find("***", 1) != std::string::npos) {
                accounts.emplace_back(quillon::atField(field, 1));
            }
        }
        field.clear();
    }
    FUZZ_CHECK(s.addressFilter == addresses);
    FUZZ_CHECK(s.domainFilter == domains);
    FUZZ_CHECK(s.accountFilter == accounts);
}

bool passesByHand(std::string_view domain) {
    const auto dot = domain.find('.');
    if (dot == std::string::npos || dot == 0) {
        return false;
    }
    const std::string folded = quillon::foldCase(domain);
    const auto& endings = listOps::correctAddDefaults();
    return std::any_of(endings.begin() + 1, endings.end(), [&](const std::string& e) { return folded.ends_with(e); });
}

void checkSuspicious(addressBox& box, bool isHighLight) {
    const auto before = box.rows();
    box.checkAddress(isHighLight);
    FUZZ_CHECK(box.rows().size() == before.size());
    FUZZ_CHECK(box.Enabled());
    for (std::size_t r = 0; r < before.size(); ++r) {
        const auto& row = box.rows()[r];
        FUZZ_CHECK(row.cell(0) == before[r].cell(0) && row.address() == before[r].address() &&
                   row.domain() == before[r].domain());
        const bool suspicious = !passesByHand(row.domain());
        FUZZ_CHECK(row.selected == suspicious);
        FUZZ_CHECK(row.checked == (suspicious && isHighLight));
    }
}

void deleteChecked(addressBox& box) {
    RowList expected;
    for (const auto& row : box.rows()) {
        if (!row.checked) {
            expected.push_back(row);
        }
    }
    box.deleteChecks();
    FUZZ_CHECK(sameRows(box.rows(), expected));
}

// The next-checked-row walk, one row at a time.
void walk(addressBox& box) {
    const std::int64_t count = box.ListCount();
    std::int64_t pos = box.posY;
    const std::int64_t scroll = box.ScrollPosition();
    bool found = false;
    std::int64_t hit = -1;
    if (count > 0) {
        for (std::int64_t r = std::max<std::int64_t>(pos, 0); r < count; ++r) {
            if (box.CellCheck(r)) {
                found = true;
                hit = r;
                break;
            }
        }
        pos = found ? hit + 1 : 0;
    }
    const bool result = box.upUndefined();
    FUZZ_CHECK(result == found);
    if (count > 0) {
        FUZZ_CHECK(box.isFound == found);
        FUZZ_CHECK(box.posY == pos);
    }
    FUZZ_CHECK(box.ScrollPosition() == (found ? hit : scroll));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader in(data, size);
    addressBox box;
    box.Open();
    quillon::Settings settings;
    while (!in.empty()) {
        switch (in.pick(12)) {
        case 0:
        case 1:
            if (box.ListCount() < kMaxRows) {
                box.addAddress(makeText(in), 1);
                if (in.pick(2) == 0) {
                    box.setCellCheck(box.ListCount() - 1, true);
                }
            }
            break;
        case 2: {
            std::vector<std::string> batch(in.pick(8));
            for (auto& text : batch) {
                text = makeText(in);
            }
            if (box.ListCount() + static_cast<std::int64_t>(batch.size()) <= kMaxRows) {
                box.addAddresses(batch);
            }
            break;
        }
        case 3: {
            const int column = static_cast<int>(in.pick(3));
            deleteDuplicates(box, column, in.pick(4));
            break;
        }
        case 4:
            sortRows(box, static_cast<int>(in.pick(3)));
            break;
        case 5: {
            std::vector<std::string> filterArray(1 + in.pick(4));
            for (std::size_t i = 1; i < filterArray.size(); ++i) {
                filterArray[i] = makeText(in);
            }
            // Columns and modes outside the valid ones included.
            const int column = static_cast<int>(in.pick(4));
            const int mode = static_cast<int>(in.pick(5));
            applyFilter(box, filterArray, column, mode, in.pick(2) == 0);
            break;
        }
        case 6: {
            // The filter text from the preferences, split and applied as an
            // extraction applies it.
            splitFilter(settings, makeText(in) + "," + makeText(in));
            const bool markInstead = in.pick(2) == 0;
            applyFilter(box, settings.addressFilter, 1, 1, markInstead);
            applyFilter(box, settings.accountFilter, 1, 2, markInstead);
            applyFilter(box, settings.domainFilter, 1, 3, markInstead);
            break;
        }
        case 7:
            checkSuspicious(box, in.pick(2) == 0);
            break;
        case 8:
            deleteChecked(box);
            break;
        case 9:
            walk(box);
            break;
        case 10: {
            // Shrink the list under the walk's position.
            const auto remove = std::min<std::int64_t>(box.ListCount(), in.pick(4));
            for (std::int64_t i = 0; i < remove; ++i) {
                box.RemoveRow(in.pick(2) == 0 ? box.ListCount() - 1 : 0);
            }
            if (in.pick(8) == 0) {
                box.DeleteAllRows();
            }
            break;
        }
        case 11:
            if (box.ListCount() > 0) {
                const auto r = static_cast<std::int64_t>(in.pick(256)) % box.ListCount();
                box.setCellCheck(r, !box.CellCheck(r));
            }
            break;
        }
        checkShape(box);
    }
    return 0;
}
