#pragma once

#include "app/jobContext.h"
#include "list/rowList.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::listOps {

// The column-wise operations of the address list on a plain vector of rows,
// so that they can run on a worker over rows taken out of the list. Each keeps
// the results of the list's row-by-row algorithms and runs in linear (or
// n log n) time: removed rows are compacted in one pass.

// Removes every row whose text in `column` equals (ignoring case) that of an
// earlier row; the first row of each group stays with its own check state and
// spelling, in the original order. Reports through ctx.progress exactly the
// (maximum, value) pairs of the pairwise algorithm: after the i-th survivor
// (1-based) has had its later duplicates removed, (rows left, i). Sees
// ctx.stop after each survivor; a stopped run leaves the survivors passed so
// far unique and every later row whose first occurrence was not yet reached.
// Returns true when it was stopped.
bool deleteByColumn(RowList& rows, int column, const JobContext& ctx = {});

// Ascending by the text of `column`, compared ignoring case; rows with equal
// texts keep their order (a stable sort). Whole rows move.
void sortByColumn(RowList& rows, int column, const JobContext& ctx = {});

// The filter key of a text: mode 1 the whole text, 2 the first "@"-field,
// 3 the second; false for any other mode (nothing matches).
bool filterKey(std::string_view text, int mode, std::string_view& key);

// Filter matching of one entry: rows whose key equals the entry (ignoring
// case) are checked (markInstead) or removed. Never clears a check box.
void checkByAddress(RowList& rows, std::string_view entry, int column, int mode, bool markInstead,
                    const JobContext& ctx = {});

// All entries of one filter array at once (entries from index 1; element 0 is
// the unused placeholder). Same result as calling checkByAddress for each
// entry in turn, in one pass over the rows.
void checkByAddresses(RowList& rows, const std::vector<std::string>& filterArray, int column, int mode,
                      bool markInstead, const JobContext& ctx = {});

// The accepted endings of a domain, at indices 1 to 11 (element 0 is empty and
// never tested).
const std::vector<std::string>& correctAddDefaults();

// Whether a domain passes the suspicious-address rule: its last characters
// equal one of the endings of correctAdd from index 1 (ignoring case; a plain
// suffix test, so "example.ajp" passes through "jp"), and it holds a "." that
// is not its first character.
bool domainPasses(std::string_view domain, const std::vector<std::string>& correctAdd);

// The suspicious-address check: every row is selected and its check box set
// to `isHighLight`; rows whose domain (column 2) passes are then deselected
// and unchecked.
void checkAddress(RowList& rows, const std::vector<std::string>& correctAdd, bool isHighLight,
                  const JobContext& ctx = {});

// Removes every checked row; the others keep their order and states.
void deleteChecks(RowList& rows, const JobContext& ctx = {});

} // namespace quillon::listOps
