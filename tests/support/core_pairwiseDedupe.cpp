#include "core_pairwiseDedupe.h"

#include "list/textCompare.h"

#include <cstdint>

namespace quillon::testing {

bool pairwiseDeleteByColumn(RowList& rows, int column, const JobContext& ctx) {
    const auto count = [&rows] { return static_cast<std::int64_t>(rows.size()); };
    const auto text = [&rows, column](std::int64_t r) { return rows[static_cast<std::size_t>(r)].cell(column); };
    std::int64_t i = 0;
    while (i <= count() - 2) {
        std::int64_t j = i + 1;
        do {
            if (equalsIgnoreCase(text(i), text(j))) {
                rows.erase(static_cast<std::size_t>(j), static_cast<std::size_t>(j) + 1);
                --j;
            }
            ++j;
            ctx.yieldNow();
        } while (j < count() && !ctx.stopRequested());
        ++i;
        ctx.report(count(), i);
        ctx.yieldNow();
        if (ctx.stopRequested()) {
            break;
        }
    }
    return ctx.stopRequested();
}

} // namespace quillon::testing
