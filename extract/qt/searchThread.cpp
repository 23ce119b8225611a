#include "extract/qt/searchThread.h"

#include "extract/convModule.h"
#include "list/qt/addressView.h"
#include "ui/App.h"
#include "ui/mainWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <filesystem>
#include <new>
#include <system_error>
#include <thread>

namespace quillon {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t kMaxBatch = 20000;

QString reasonText(const pipeline::FileRead& read) {
    switch (read.error) {
    case pipeline::ReadError::NotFound:
        return QStringLiteral("ファイルが見つかりません");
    case pipeline::ReadError::NotRegular:
        return QStringLiteral("通常のファイルではありません");
    case pipeline::ReadError::NoPermission:
        return QStringLiteral("読み込む権限がありません");
    case pipeline::ReadError::TooLarge:
        return QStringLiteral("ファイルが大きすぎて読み込めません");
    case pipeline::ReadError::Io:
        return QStringLiteral("読み込み中にエラーが起きました: %1").arg(QString::fromLocal8Bit(read.detail));
    case pipeline::ReadError::None:
    case pipeline::ReadError::Stopped:
        break;
    }
    return {};
}

fs::path toPath(const QString& path) {
    return fs::path(QFile::encodeName(path).toStdString());
}

QString displayName(const fs::path& path) {
    return QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(path.string())));
}

} // namespace

searchThread::searchThread(mainWindow& window, Source source) : Job(window), m_source(std::move(source)) {}

searchThread::~searchThread() {
    stopAndWait();
}

void searchThread::Run() {
    // Busy state.
    w.AddressBox1.exeStop = false;
    w.AddressBox1View->setVisible(false);
    w.AddressBox1.setVisible(false);
    w.openButton->setText(QStringLiteral("STOP"));
    w.setStop(false);
    for (QRadioButton* button : w.encButton) {
        button->setEnabled(false);
    }
    w.writeButton->setEnabled(false);
    w.clearButton->setEnabled(false);
    w.ayashiiButton->setEnabled(false);
    w.deleteButton->setEnabled(false);
    w.setStatus(QString::fromUtf8(pipeline::kStatusSearching));
    w.ProgressBar1->setVisible(true);
    w.setProgress(0, 0);

    runOnWorker([this] { scanSource(); }, [this] { scanEnded(); });
}

// Worker thread from here to scanEnded(): only the source, the failures list
// and the batches are touched; the list and the widgets are changed through
// post().
void searchThread::scanSource() {
    std::vector<AddressRow> batch;
    Throttle throttle(50ms);
    if (!m_source.path.isEmpty()) {
        const fs::path path = toPath(m_source.path);
        std::error_code ec;
        if (fs::is_directory(path, ec)) {
            JobContext ctx;
            ctx.stop = &w.stop;
            // Listed first, so the window can tell which file of how many it reads.
            std::vector<fs::path> files;
            pipeline::walkFolder(
                path, [&](const fs::path& file) { files.push_back(file); },
                [&](const fs::path& folder, const std::string& why) {
                    m_failures.push_back({displayName(folder), QString::fromLocal8Bit(why)});
                },
                ctx);
            Throttle shown(100ms);
            for (std::size_t i = 0; i < files.size() && !w.stop; ++i) {
                if (i == 0 || i + 1 == files.size() || shown.due()) {
                    announce(i, files.size(), displayName(files[i]));
                }
                scanFile(files[i].string(), batch, throttle);
            }
        } else {
            announce(0, 1, displayName(path));
            scanFile(path.string(), batch, throttle);
        }
    } else {
        announce(0, 1, QString());
        const std::u16string utf16 = m_source.text.toStdU16String();
        try {
            const std::string text = convModule::utf16ToUTF8(utf16);
            ++m_read;
            post([this, sample = convModule::guessSample(text)] { w.outStr(sample); });
            scanBytes(text, Encoding::UTF8, batch, throttle);
        } catch (const std::bad_alloc&) {
            flush(batch, 0, 0);
            m_failures.push_back(
                {QStringLiteral("クリップボード"), QStringLiteral("テキストが大きすぎて検索できません")});
        }
    }
}

void searchThread::announce(std::size_t index, std::size_t total, const QString& path) {
    post([this, index, total, path] { w.sourceStarted(static_cast<int>(index), static_cast<int>(total), path); });
}

void searchThread::scanFile(const std::string& path, std::vector<AddressRow>& batch, Throttle& throttle) {
    JobContext ctx;
    ctx.stop = &w.stop;
    pipeline::FileRead read = pipeline::readWholeFile(path, ctx);
    if (!read.ok()) {
        if (read.error != pipeline::ReadError::Stopped) {
            m_failures.push_back({displayName(path), reasonText(read)});
        }
        return;
    }
    try {
        ++m_read;
        post([this, sample = convModule::guessSample(read.bytes)] { w.outStr(sample); });
        scanBytes(read.bytes, m_source.encoding, batch, throttle);
    } catch (const std::bad_alloc&) {
        // The file fitted in memory but its converted copies do not: the
        // addresses found so far stay, and the file is named.
        flush(batch, 0, 0);
        read.error = pipeline::ReadError::TooLarge;
        m_failures.push_back({displayName(path), reasonText(read)});
    }
}

// The same conversion and scan as the command-line tool's, with the rows
// handed to the window in batches.
void searchThread::scanBytes(std::string_view bytes, Encoding encoding, std::vector<AddressRow>& batch,
                             Throttle& throttle) {
    std::int64_t maximum = 0;
    std::int64_t value = 0;
    JobContext ctx;
    ctx.stop = &w.stop;
    ctx.progress = [&](std::int64_t m, std::int64_t v) {
        maximum = m;
        value = v;
        if (throttle.due() || batch.size() >= kMaxBatch) {
            flush(batch, maximum, value);
        }
    };
    const pipeline::SourceScan result = pipeline::extractFromBytes(
        bytes, encoding, convModule::guessSample(bytes),
        [&](std::string_view address) { batch.push_back(addressBox::rowFor(address)); }, ctx);
    m_invalidBytes += result.invalid;
    flush(batch, maximum, value);
}

void searchThread::flush(std::vector<AddressRow>& batch, std::int64_t maximum, std::int64_t value) {
    // Qt hands every waiting batch to the UI thread in one go, before it
    // serves anything else: a worker that runs ahead would freeze the window.
    // So it waits while the UI thread still has batches to take in.
    while (m_batchesInFlight.load() >= 2 && !w.stop) {
        std::this_thread::sleep_for(1ms);
    }
    ++m_batchesInFlight;
    post([this, rows = std::move(batch), maximum, value]() mutable {
        if (!rows.empty()) {
            w.AddressBox1.AddRows(std::move(rows));
        }
        w.setProgress(static_cast<int>(maximum), static_cast<int>(value));
        --m_batchesInFlight;
    });
    batch.clear();
}

void searchThread::scanEnded() {
    for (const Failure& f : m_failures) {
        w.unreadable.push_back(QStringLiteral("「%1」: %2").arg(f.path, f.reason));
    }
    w.invalidBytes += m_invalidBytes;
    w.sourcesRead += m_read;
    if (!w.userStopped && w.queuedSources() > 0) {
        // The last source of the batch post-processes all rows.
        emit finished();
        return;
    }
    w.setStop(true);
    w.setStatus(QString::fromUtf8(pipeline::kStatusDeleting));
    w.setProgress(0, 0);
    m_settings = static_cast<const Settings&>(*win::App());
    m_steps = pipeline::postSteps(m_settings, w.userStopped);
    runNextStep();
}

void searchThread::runNextStep() {
    if (m_nextStep == m_steps.size()) {
        idle();
        return;
    }
    const pipeline::PostStep step = m_steps[m_nextStep++];
    w.setStop(!step.stoppable);
    if (step.status != nullptr) {
        w.setStatus(QString::fromUtf8(step.status));
        w.setProgress(0, 0);
    }
    w.AddressBox1.exeStop = false;
    m_rows = w.checkOutRows();

    runOnWorker(
        [this, kind = step.kind] {
            m_stepStopped =
                pipeline::runPostStep(kind, m_rows, m_settings, w.AddressBox1.correctAdd, listStepContext());
        },
        [this, kind = step.kind] {
            w.checkInRows(std::move(m_rows));
            m_rows.clear();
            if (kind == pipeline::PostStepKind::DeleteDuplicates) {
                w.AddressBox1_deleteDone(m_stepStopped);
                w.setStop(true);
            }
            // Commands that came during the step act now, between two steps.
            w.runDeferred();
            runNextStep();
        });
}

void searchThread::idle() {
    w.AddressBox1View->setVisible(true);
    w.AddressBox1.setVisible(true);
    w.openButton->setText(QStringLiteral("Open"));
    w.listCountText->setText(QString::number(w.AddressBox1.ListCount()));
    for (QRadioButton* button : w.encButton) {
        button->setEnabled(true);
    }
    w.writeButton->setEnabled(true);
    w.clearButton->setEnabled(true);
    w.ayashiiButton->setEnabled(true);
    w.deleteButton->setEnabled(true);
    endSteps();
}

void searchThread::endSteps() {
    w.ProgressBar1->setVisible(false);
    w.AddressBox1View->setVisible(true);
    w.setStop(true);
    w.encButton[3]->setEnabled(false);
    w.setStatus(finalStatus());
    w.showSourceSummary();
    w.statasText->setToolTip(w.invalidBytes == 0
                                 ? QString()
                                 : QStringLiteral("文字コードに合わないバイト列 %1 か所を「\uFFFD」に置き換えました。"
                                                  "文字コードの選択を確かめてください。")
                                       .arg(w.invalidBytes));
    w.unreadable.clear();
    w.sourcesRead = 0;
    w.invalidBytes = 0;
    w.writeButton->setVisible(true);
    w.setStop(true);
    w.userStopped = false;
    emit finished();
}

QString searchThread::finalStatus() const {
    if (w.userStopped) {
        return QString::fromUtf8(pipeline::kStatusStopped);
    }
    if (w.sourcesRead == 0 && w.unreadable.size() == 1) {
        return QStringLiteral("ファイルを読み込めませんでした: %1").arg(w.unreadable.front());
    }
    QString status = QString::fromUtf8(pipeline::kStatusDone);
    if (w.unreadable.size() == 1) {
        status = QStringLiteral("%1（読み込めなかったファイル %2）").arg(status, w.unreadable.front());
    } else if (w.unreadable.size() > 1) {
        status = QStringLiteral("%1（読み込めなかったファイル %2件: %3 ほか）")
                     .arg(status)
                     .arg(w.unreadable.size())
                     .arg(w.unreadable.front());
    }
    return status;
}

} // namespace quillon
