#include "export/listWriter.h"

namespace quillon::listWriter {

namespace {

std::string_view address(const AddressRow& row) {
    return row.address();
}

std::size_t addressBytes(const RowList& rows) {
    std::size_t bytes = 0;
    for (const auto& row : rows) {
        bytes += address(row).size();
    }
    return bytes;
}

} // namespace

std::string writeAsLine(const RowList& rows, std::string_view lineEnd) {
    std::string text;
    text.reserve(addressBytes(rows) + rows.size() * lineEnd.size());
    for (const auto& row : rows) {
        text += address(row);
        text += lineEnd;
    }
    return text;
}

std::string writeAsComma(const RowList& rows) {
    std::string text;
    text.reserve(addressBytes(rows) + rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (r > 0) {
            text += ',';
        }
        text += address(rows[r]);
    }
    return text;
}

std::string writeAsLineComma(const RowList& rows, std::int32_t n, bool needYohaku, std::string_view lineEnd) {
    // Lines of n addresses in order; the last line (which holds the last row,
    // possibly alone) has no line end. n below 1 would never fill a line.
    const std::size_t perLine = n < 1 ? 1 : static_cast<std::size_t>(n);
    const std::size_t lineEndBytes = lineEnd.size() * (needYohaku ? 2 : 1);
    std::string text;
    text.reserve(addressBytes(rows) + rows.size() * (1 + lineEndBytes));
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (r > 0) {
            if (r % perLine == 0) {
                text += lineEnd;
                if (needYohaku) {
                    text += lineEnd;
                }
            } else {
                text += ',';
            }
        }
        text += address(rows[r]);
    }
    return text;
}

std::optional<std::string> buildExportText(const RowList& rows, std::int32_t layoutCode, std::int32_t n,
                                           bool needYohaku, std::string_view lineEnd) {
    if (rows.empty()) {
        return std::nullopt;
    }
    switch (layoutCode) {
    case 4:
        return writeAsLine(rows, lineEnd);
    case 6:
        return writeAsComma(rows);
    case 14:
        return writeAsLineComma(rows, n, needYohaku, lineEnd);
    default:
        return std::nullopt;
    }
}

} // namespace quillon::listWriter
