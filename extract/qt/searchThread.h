#pragma once

#include "app/settings.h"
#include "extract/pipeline.h"
#include "ui/job.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstddef>
#include <vector>

namespace quillon {

// The extraction job for one source (a file, a folder or a text): shows the
// busy state, reads and converts the source and scans it on a worker thread
// (a folder file by file), appends the addresses to the list in batches as
// they are found, then runs the post-processing steps one by one and returns
// the window to its idle state with the final status.
//
// When more sources wait in the queue, the job leaves the post-processing to
// the last of them: duplicate removal, the stable sort, the check and the
// filter give the same list run once over all rows as run after every source.
class searchThread : public Job {
    Q_OBJECT
public:
    struct Source {
        QString path;                           // a file or a folder, or empty for a text
        QString text;                           // the text of a clipboard search
        Encoding encoding = Encoding::ShiftJIS; // the choice when the source was opened
    };

    searchThread(mainWindow& window, Source source);
    ~searchThread() override;

    bool isExtraction() const override { return true; }
    void Run() override;

private:
    struct Failure {
        QString path;
        QString reason;
    };

    void scanSource(); // worker thread
    // Tells the window which source of how many starts (worker thread).
    void announce(std::size_t index, std::size_t total, const QString& path);
    void scanFile(const std::string& path, std::vector<AddressRow>& batch, Throttle& throttle);
    void scanBytes(std::string_view bytes, Encoding encoding, std::vector<AddressRow>& batch, Throttle& throttle);
    void flush(std::vector<AddressRow>& batch, std::int64_t maximum, std::int64_t value);
    void scanEnded();
    void runNextStep();
    void idle();
    void endSteps();
    QString finalStatus() const;

    Source m_source;
    Settings m_settings;
    std::vector<pipeline::PostStep> m_steps;
    std::size_t m_nextStep = 0;
    std::vector<Failure> m_failures; // written by the worker, read after it ended
    std::size_t m_invalidBytes = 0;  // likewise
    int m_read = 0;                  // likewise: sources read
    std::vector<AddressRow> m_rows;  // rows taken out of the list during a step
    bool m_stepStopped = false;
    std::atomic<int> m_batchesInFlight{0}; // batches posted and not yet taken in
};

} // namespace quillon
