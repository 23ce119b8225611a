#pragma once

#include "app/jobContext.h"
#include "list/rowList.h"

#include <vector>

namespace quillon::testing {

// The duplicate removal exactly as the list's row-by-row algorithm runs it:
// every remaining row compared with every row after it, one removal at a time,
// progress after each outer step, the stop flag tested after every comparison
// and after every step. Kept as the reference for the fast version; quadratic,
// so only for small lists. Returns whether the run ended on a stop request.
bool pairwiseDeleteByColumn(RowList& rows, int column, const JobContext& ctx);

} // namespace quillon::testing
