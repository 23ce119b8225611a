#include "extract/qt/searchThread.h"

#include "extract/convModule.h"
#include "list/addressBox.h"

#include <QDir>
#include <QFile>

#include <chrono>
#include <new>

namespace quillon {

namespace {

constexpr std::size_t kMaxBatch = 20000;
constexpr auto kBatchInterval = std::chrono::milliseconds(50);

} // namespace

// Gathers rows and hands them over in batches.
class searchThread::Sink : public pipeline::SearchSink {
public:
    explicit Sink(searchThread& owner) : m_owner(owner) {}

    void sourceStarted(std::size_t index, std::size_t total, const std::string& path) override {
        m_batch.index = index;
        m_batch.total = total;
        m_name = m_names++;
        m_batch.started.emplace_back(m_name, path);
        m_path = path;
        m_batch.path.clear();
        flushIfDue();
    }
    void partStarted(std::size_t, const std::string& label) override {
        m_name = m_names++;
        m_batch.started.emplace_back(m_name, m_path + " (" + label + ")");
    }
    void addressFound(std::string_view address, std::size_t) override {
        m_batch.rows.push_back(addressBox::rowFor(address));
        m_batch.sources.push_back(m_name);
        if (m_batch.rows.size() >= kMaxBatch) {
            flush();
        }
    }
    void progress(std::int64_t maximum, std::int64_t value, std::uint64_t) override {
        m_batch.maximum = maximum;
        m_batch.value = value;
        flushIfDue();
    }
    void sourceFinished(const pipeline::SourceReport& report) override {
        if (!report.ok() && report.error != pipeline::ReadError::Stopped) {
            m_owner.m_report.failed.push_back(report);
        }
        if (report.ok()) {
            m_owner.m_report.sample = report.sample;
        }
        if (report.bytes > 0 && !report.fits()) {
            m_owner.m_report.mismatched.push_back(report);
        }
    }
    void flush() {
        const std::size_t index = m_batch.index;
        const std::size_t total = m_batch.total;
        const std::int64_t maximum = m_batch.maximum;
        const std::int64_t value = m_batch.value;
        m_batch.path = displayName(m_path);
        if (!m_owner.m_batches.push(std::move(m_batch))) {
            m_batch = Batch();
            return; // the window no longer takes batches
        }
        emit m_owner.batchReady();
        m_batch = Batch();
        m_batch.index = index;
        m_batch.total = total;
        m_batch.maximum = maximum;
        m_batch.value = value;
        m_last = std::chrono::steady_clock::now();
    }

private:
    void flushIfDue() {
        if (std::chrono::steady_clock::now() - m_last >= kBatchInterval) {
            flush();
        }
    }

    searchThread& m_owner;
    Batch m_batch;
    std::string m_path;
    std::size_t m_names = 0; // names handed out, one per source or message
    std::size_t m_name = 0;  // the name of the source or message being read
    std::chrono::steady_clock::time_point m_last = std::chrono::steady_clock::now();
};

searchThread::searchThread(Source source, const std::atomic<bool>* stop) : m_source(std::move(source)), m_stop(stop) {}

searchThread::~searchThread() {
    m_batches.quit();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void searchThread::start() {
    m_thread = std::thread([this] { run(); });
}

QString searchThread::displayName(const std::string& path) {
    return QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(path)));
}

void searchThread::run() {
    Sink sink(*this);
    pipeline::SearchOptions options;
    options.encoding = m_source.encoding;
    options.stop = m_stop;
    std::string text;
    std::vector<pipeline::Source> sources;
    try {
        if (!m_source.path.isEmpty()) {
            sources.push_back(pipeline::Source::file(QFile::encodeName(m_source.path).toStdString()));
        } else {
            text = convModule::utf16ToUTF8(m_source.text.toStdU16String());
            sources.push_back(pipeline::Source::utf8Text(text, "クリップボード"));
        }
        m_report.run = pipeline::runSearch(sources, options, sink);
    } catch (const std::bad_alloc&) {
        m_report.textTooLarge = true;
    }
    sink.flush();
    emit finished();
}

} // namespace quillon
