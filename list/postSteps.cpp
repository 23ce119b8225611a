#include "list/postSteps.h"

#include "list/listOps.h"

namespace quillon::postSteps {

std::vector<Step> stepsFor(const Settings& s, bool userStopped) {
    std::vector<Step> steps;
    if (s.isDelet && !userStopped) {
        steps.push_back({StepKind::DeleteDuplicates, true});
    }
    if (s.isSort) {
        steps.push_back({StepKind::Sort, false});
    }
    if (s.isHighLight) {
        steps.push_back({StepKind::CheckSuspicious, false});
    }
    if (!s.filterString.empty()) {
        steps.push_back({StepKind::FilterAddresses, true});
    }
    return steps;
}

bool runStep(StepKind kind, RowList& rows, const Settings& s, const std::vector<std::string>& correctAdd,
             const JobContext& ctx) {
    switch (kind) {
    case StepKind::DeleteDuplicates:
        return listOps::deleteByColumn(rows, 1, ctx);
    case StepKind::Sort:
        listOps::sortByColumn(rows, 2, ctx);
        return false;
    case StepKind::CheckSuspicious:
        listOps::checkAddress(rows, correctAdd, s.isHighLight, ctx);
        return false;
    case StepKind::FilterAddresses: {
        JobContext unstoppable = ctx;
        unstoppable.stop = nullptr;
        listOps::checkByAddresses(rows, s.addressFilter, 1, 1, s.inList, unstoppable);
        listOps::checkByAddresses(rows, s.accountFilter, 1, 2, s.inList, unstoppable);
        listOps::checkByAddresses(rows, s.domainFilter, 1, 3, s.inList, unstoppable);
        return false;
    }
    }
    return false;
}

void postProcess(RowList& rows, const Settings& s, bool userStopped, const std::vector<std::string>& correctAdd,
                 const JobContext& ctx) {
    for (const Step& step : stepsFor(s, userStopped)) {
        runStep(step.kind, rows, s, correctAdd, ctx);
    }
}

} // namespace quillon::postSteps
