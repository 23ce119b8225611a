#pragma once

#include "app/jobContext.h"
#include "app/settings.h"
#include "list/rowList.h"

#include <string>
#include <vector>

namespace quillon::postSteps {

// One whole step of the post-processing of the list after a search. The
// window runs them one by one (between two steps the list is in a consistent
// state) and shows a status text for each; the command-line tool runs them
// all with postProcess.
enum class StepKind { DeleteDuplicates, Sort, CheckSuspicious, FilterAddresses };

struct Step {
    StepKind kind;
    bool stoppable; // STOP can end it (the window's `stop` flag is false meanwhile)
};

// The steps after a search for these settings: duplicate removal when isDelet
// is on and the user did not stop the search, sorting by domain when isSort is
// on, the suspicious-address check when isHighLight is on, and the filter when
// the filter text is not empty.
std::vector<Step> stepsFor(const Settings& s, bool userStopped);

// Runs one step over the rows. For duplicate removal, ctx.stop ends it early
// and ctx.progress gets its progress; the result is true when it was stopped.
// The filter always runs to its end.
bool runStep(StepKind kind, RowList& rows, const Settings& s, const std::vector<std::string>& correctAdd,
             const JobContext& ctx = {});

// All steps in order.
void postProcess(RowList& rows, const Settings& s, bool userStopped, const std::vector<std::string>& correctAdd,
                 const JobContext& ctx = {});

} // namespace quillon::postSteps
