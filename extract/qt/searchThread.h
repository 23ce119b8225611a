#pragma once

#include "app/settings.h"
#include "extract/handOver.h"
#include "extract/searchRun.h"
#include "list/rowList.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quillon {

// The window's end of the search road: runs one search (a file, a folder or a
// text) on a thread of its own and hands what it finds to the UI thread, in
// order: batches of rows (every 50 ms and at the end), each with the source
// being read and the progress through it, then, when the search has ended, a
// report. It knows no widget and no list: the window takes the batches and
// paints.
//
// Threads: the object lives on the UI thread; start() starts the search
// thread, whose signals arrive queued. At most two batches wait for the UI
// thread; the search waits for it beyond that.
class searchThread : public QObject {
    Q_OBJECT
public:
    struct Source {
        QString path;                           // a file or a folder, or empty for a text
        QString text;                           // the text of a clipboard search
        Encoding encoding = Encoding::ShiftJIS; // the choice when the source was opened
    };

    // A batch of rows with where the search stands.
    struct Batch {
        RowList rows;
        std::vector<std::size_t> sources; // for each row, the index of its source's name
        // The sources started since the last batch (and the messages of an
        // mbox, each a source of its own): the index of their name and the
        // name (a path, "path (message 3 <id>)", or "クリップボード").
        std::vector<std::pair<std::size_t, std::string>> started;
        std::int64_t maximum = 0; // progress through the current source
        std::int64_t value = 0;
        std::size_t index = 0; // the current source, from 0, of `total`
        std::size_t total = 0;
        QString path; // the current source as the user knows it
    };

    // What the search did, for the window's final status.
    struct Report {
        pipeline::SearchReport run;
        std::vector<pipeline::SourceReport> failed; // sources that could not be read, in order
        // Sources read whose bytes do not fit the encoding they were read with.
        std::vector<pipeline::SourceReport> mismatched;
        std::string sample;        // the guess sample of the last source read
        bool textTooLarge = false; // a clipboard text too large to convert
    };

    searchThread(Source source, const std::atomic<bool>* stop);
    ~searchThread() override; // stops taking batches and waits for the search thread

    void start();
    // UI thread: the next batch waiting, if any.
    std::optional<Batch> takeBatch() { return m_batches.tryPop(); }
    // UI thread, after finished(): the report.
    const Report& report() const { return m_report; }

    // A path as the user knows it.
    static QString displayName(const std::string& path);

signals:
    void batchReady();
    void finished();

private:
    class Sink;
    void run(); // search thread

    Source m_source;
    const std::atomic<bool>* m_stop;
    HandOver<Batch> m_batches{2};
    Report m_report; // written by the search thread, read after finished()
    std::thread m_thread;
};

} // namespace quillon
