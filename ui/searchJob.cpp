#include "ui/searchJob.h"

#include "ui/App.h"
#include "ui/mainWindow.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace quillon {

namespace {

// The status texts of a search, in the order a full run shows them.
constexpr const char* kStatusSearching = "検索中...";
constexpr const char* kStatusDeleting = "重複アドレスを削除しています...";
constexpr const char* kStatusSorting = "並べ替えています。しばらくお待ちください...";
constexpr const char* kStatusFiltering = "フィルター項目を検索しています";
constexpr const char* kStatusDone = "検索完了";
constexpr const char* kStatusStopped = "処理は中止されました";

QString reasonText(const pipeline::SourceReport& r) {
    switch (r.error) {
    case pipeline::ReadError::NotFound:
        return QStringLiteral("ファイルが見つかりません");
    case pipeline::ReadError::NotRegular:
        return QStringLiteral("通常のファイルではありません");
    case pipeline::ReadError::NoPermission:
        return QStringLiteral("読み込む権限がありません");
    case pipeline::ReadError::TooLarge:
        return QStringLiteral("ファイルが大きすぎて読み込めません");
    case pipeline::ReadError::Io:
        return QStringLiteral("読み込み中にエラーが起きました: %1").arg(QString::fromLocal8Bit(r.detail));
    case pipeline::ReadError::Shortened:
        return QStringLiteral("読み込み中にファイルが短くなりました");
    case pipeline::ReadError::NotListed:
        return QString::fromLocal8Bit(r.detail);
    case pipeline::ReadError::None:
    case pipeline::ReadError::Stopped:
        break;
    }
    return {};
}

} // namespace

const char* searchJob::stepStatus(postSteps::StepKind kind) {
    switch (kind) {
    case postSteps::StepKind::Sort:
        return kStatusSorting;
    case postSteps::StepKind::FilterAddresses:
        return kStatusFiltering;
    case postSteps::StepKind::DeleteDuplicates:
    case postSteps::StepKind::CheckSuspicious:
        break;
    }
    return nullptr;
}

searchJob::searchJob(mainWindow& window, searchThread::Source source) : Job(window), m_source(std::move(source)) {}

searchJob::~searchJob() {
    if (m_search) {
        w.stop = true;
        m_search.reset(); // waits for the search thread
    }
    stopAndWait();
}

void searchJob::Run() {
    if (!w.encodingBar->isHidden()) {
        // The warning of the last search goes when the next one starts.
        w.encodingBar->showMismatches({});
        w.layoutContent();
    }
    w.setbuttonOFF();
    w.setStatus(QString::fromUtf8(kStatusSearching));
    w.ProgressBar1->setVisible(true);
    w.setProgress(0, 0);

    m_search = std::make_unique<searchThread>(m_source, &w.stop);
    connect(m_search.get(), &searchThread::batchReady, this, [this] { takeBatches(false); });
    connect(m_search.get(), &searchThread::finished, this, &searchJob::scanEnded);
    m_search->start();
}

void searchJob::takeBatches(bool all) {
    if (!m_search) {
        return;
    }
    // One batch for each batchReady: the window serves its events between two.
    while (std::optional<searchThread::Batch> batch = m_search->takeBatch()) {
        for (const auto& [index, name] : batch->started) {
            if (m_sourceIds.size() <= index) {
                m_sourceIds.resize(index + 1, 0);
            }
            m_sourceIds[index] = w.AddressBox1.sourceIndex(name);
        }
        for (std::size_t i = 0; i < batch->rows.size() && i < batch->sources.size(); ++i) {
            const std::size_t index = batch->sources[i];
            batch->rows[i].source = index < m_sourceIds.size() ? m_sourceIds[index] : 0;
        }
        if (!batch->rows.empty()) {
            w.AddressBox1.AddRows(std::move(batch->rows));
        }
        w.setProgress(static_cast<int>(batch->maximum), static_cast<int>(batch->value));
        if (batch->total > 0 && (batch->index != m_shownIndex || batch->total != m_shownTotal)) {
            m_shownIndex = batch->index;
            m_shownTotal = batch->total;
            w.sourceStarted(static_cast<int>(batch->index), static_cast<int>(batch->total), batch->path);
        }
        // During a folder search the bar tells which file is read.
        w.ProgressBar1->setFormat(
            batch->total > 1 ? QStringLiteral("%1 / %2  %3").arg(batch->index + 1).arg(batch->total).arg(batch->path)
                             : QStringLiteral("%p%"));
        if (!all) {
            break;
        }
    }
}

void searchJob::scanEnded() {
    takeBatches(true);
    const searchThread::Report& report = m_search->report();
    for (const pipeline::SourceReport& f : report.failed) {
        w.unreadable.push_back(QStringLiteral("「%1」: %2").arg(searchThread::displayName(f.path), reasonText(f)));
    }
    if (!report.run.mailParserFailure.empty()) {
        w.mailAsText = QString::fromStdString(report.run.mailParserFailure);
    }
    if (report.textTooLarge) {
        w.unreadable.push_back(
            QStringLiteral("「%1」: %2")
                .arg(QStringLiteral("クリップボード"), QStringLiteral("テキストが大きすぎて検索できません")));
    }
    if (!report.sample.empty() || report.run.read > 0) {
        w.outStr(report.sample);
    }
    for (const pipeline::SourceReport& m : report.mismatched) {
        w.mismatched.push_back({QFile::decodeName(QByteArray::fromStdString(m.path)), m.used, m.verdict.likely});
    }
    w.invalidBytes += report.run.invalid;
    w.sourcesRead += static_cast<int>(report.run.read);
    m_search.reset();
    w.ProgressBar1->setFormat(QStringLiteral("%p%"));
    if (!w.userStopped && w.queuedSources() > 0) {
        // The last source of the batch post-processes all rows.
        emit finished();
        return;
    }
    w.setStop(true);
    w.setStatus(QString::fromUtf8(kStatusDeleting));
    w.setProgress(0, 0);
    m_settings = static_cast<const Settings&>(*win::App());
    m_steps = postSteps::stepsFor(m_settings, w.userStopped);
    runNextStep();
}

void searchJob::runNextStep() {
    if (m_nextStep == m_steps.size()) {
        idle();
        return;
    }
    const postSteps::Step step = m_steps[m_nextStep++];
    w.setStop(!step.stoppable);
    if (const char* status = stepStatus(step.kind)) {
        w.setStatus(QString::fromUtf8(status));
        w.setProgress(0, 0);
    }
    w.AddressBox1.exeStop = false;
    m_rows = w.checkOutRows();

    runOnWorker(
        [this, kind = step.kind] {
            m_stepStopped = postSteps::runStep(kind, m_rows, m_settings, w.AddressBox1.correctAdd, listStepContext());
        },
        [this, kind = step.kind] {
            w.checkInRows(std::move(m_rows));
            m_rows.clear();
            if (kind == postSteps::StepKind::DeleteDuplicates) {
                w.AddressBox1_deleteDone(m_stepStopped);
                w.setStop(true);
            }
            // Commands that came during the step act now, between two steps.
            w.runDeferred();
            runNextStep();
        });
}

void searchJob::idle() {
    w.listCountText->setText(QString::number(w.AddressBox1.ListCount()));
    w.setbuttonON();
    w.setprogFalse();
    w.setStatus(finalStatus());
    w.showSourceSummary();
    w.statasText->setToolTip(w.invalidBytes == 0
                                 ? QString()
                                 : QStringLiteral("文字コードに合わないバイト列 %1 か所を「\uFFFD」に置き換えました。"
                                                  "文字コードの選択を確かめてください。")
                                       .arg(w.invalidBytes));
    w.showEncodingWarning();
    w.unreadable.clear();
    w.mailAsText.clear();
    w.sourcesRead = 0;
    w.invalidBytes = 0;
    w.writeButton->setVisible(true);
    w.userStopped = false;
    emit finished();
}

QString searchJob::finalStatus() const {
    if (w.userStopped) {
        return QString::fromUtf8(kStatusStopped);
    }
    if (w.sourcesRead == 0 && w.unreadable.size() == 1) {
        return QStringLiteral("ファイルを読み込めませんでした: %1").arg(w.unreadable.front());
    }
    QString status = QString::fromUtf8(kStatusDone);
    if (w.unreadable.size() == 1) {
        status = QStringLiteral("%1（読み込めなかったファイル %2）").arg(status, w.unreadable.front());
    } else if (w.unreadable.size() > 1) {
        status = QStringLiteral("%1（読み込めなかったファイル %2件: %3 ほか）")
                     .arg(status)
                     .arg(w.unreadable.size())
                     .arg(w.unreadable.front());
    }
    if (!w.mailAsText.isEmpty()) {
        status =
            QStringLiteral("%1（メールを解析できないため、テキストとして検索しました: %2）").arg(status, w.mailAsText);
    }
    return status;
}

} // namespace quillon
