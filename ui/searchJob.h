#pragma once

#include "app/settings.h"
#include "extract/qt/searchThread.h"
#include "list/postSteps.h"
#include "ui/job.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace quillon {

// The window's extraction job for one source (a file, a folder or a text):
// puts the window in its busy state, takes the rows the search hands over in
// batches into the list, then runs the post-processing steps one by one with
// their status texts and returns the window to its idle state with the final
// status.
//
// When more sources wait in the queue, the job leaves the post-processing to
// the last of them: duplicate removal, the stable sort, the check and the
// filter give the same list run once over all rows as run after every source.
class searchJob : public Job {
    Q_OBJECT
public:
    searchJob(mainWindow& window, searchThread::Source source);
    ~searchJob() override;

    bool isExtraction() const override { return true; }
    void Run() override;

    // The status text shown as a post-processing step starts, or none.
    static const char* stepStatus(postSteps::StepKind kind);

private:
    void takeBatches(bool all);
    void scanEnded();
    void runNextStep();
    void idle();
    QString finalStatus() const;

    searchThread::Source m_source;
    std::unique_ptr<searchThread> m_search;
    Settings m_settings;
    std::vector<postSteps::Step> m_steps;
    std::size_t m_nextStep = 0;
    RowList m_rows; // rows taken out of the list during a step
    // The list's source index of each source of the search, by its index in the run.
    std::vector<std::uint32_t> m_sourceIds;
    bool m_stepStopped = false;
    // The source last shown in the window's source field.
    std::size_t m_shownIndex = static_cast<std::size_t>(-1);
    std::size_t m_shownTotal = 0;
};

} // namespace quillon
