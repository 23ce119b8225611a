#pragma once

#include "list/addressBox.h"
#include "ui/anchors.h"
#include "ui/encodingBar.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace quillon {

class AddressModel;
class AddressView;
class Job;
class Services;

// The application's one document window: the address list, the Open/STOP
// button, the status line, the encoding choice, the list buttons, the item
// count and the progress bar, with the menu bar. Closing it quits.
//
// Threads: everything here runs on the UI thread. Jobs (extraction and
// duplicate removal) run one at a time from a queue; their heavy work runs on
// a worker thread over a text or over rows taken out of the list, and every
// change of the list and of the widgets is made here.
class mainWindow : public QMainWindow {
    Q_OBJECT
public:
    // `services` may be null for the desktop's own dialogs and clipboard.
    explicit mainWindow(Services* services = nullptr, QWidget* parent = nullptr);
    ~mainWindow() override;

    // True while no stoppable work runs; false while a job runs a phase that
    // STOP can end. Read by the worker threads.
    std::atomic<bool> stop{true};
    // The user pressed STOP during the current job.
    std::atomic<bool> userStopped{false};
    // Line end of the export files: one carriage return.
    QString CRLF;
    // The guess sample of the latest source (its first 2,048 bytes).
    std::string forGuess;
    // What the jobs of the current batch could not read ("「file」: reason"),
    // how many sources they did read, and how many invalid byte sequences the
    // conversions replaced; shown with the final status.
    QStringList unreadable;
    // Why mail was read as plain text (the mail library could not be
    // loaded), or empty.
    QString mailAsText;
    int sourcesRead = 0;
    std::size_t invalidBytes = 0;
    // The sources of the current batch whose bytes do not fit the encoding
    // they were read with; shown on encodingBar when the batch ends.
    std::vector<EncodingBar::Mismatch> mismatched;

    // The list data and its on-screen view.
    addressBox AddressBox1;
    AddressView* AddressBox1View = nullptr;
    AddressModel* AddressBox1Model = nullptr;

    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* openButton = nullptr;
    QLabel* statasText = nullptr;
    QPushButton* writeButton = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    std::array<QRadioButton*, 5> encButton{};
    QPushButton* clearButton = nullptr;
    QLabel* StaticText1 = nullptr;
    QLabel* listCountText = nullptr;
    QPushButton* ayashiiButton = nullptr;
    QPushButton* deleteButton = nullptr;
    // The permanent field of the status bar: during a search which source of
    // how many is being read ("12 / 300  mail0012.txt"), afterwards how many
    // files were read and how many could not be.
    QLabel* sourceProgressText = nullptr;
    // Above the list after a search whose sources did not all fit the chosen
    // encoding: which ones, and a button to read them again.
    EncodingBar* encodingBar = nullptr;

    // The menu bar and its items, named as the items are.
    QMenuBar* MenuBar1 = nullptr;
    QMenu* FileMenu = nullptr;
    QMenu* EditMenu = nullptr;
    QAction* openitem = nullptr;
    QAction* writeitem = nullptr;
    QAction* closeitem = nullptr;
    QAction* prefmenuitem = nullptr;
    QAction* FileQuit = nullptr;
    QAction* EditCut = nullptr;
    QAction* EditCopy = nullptr;
    QAction* EditPaste = nullptr;
    QAction* finditem = nullptr;
    QAction* deleteSameitem = nullptr;
    QAction* aboutmenuitem = nullptr;
    // Ctrl+A: every row of the list, or all of the text being edited.
    QAction* selectAllAction = nullptr;

    Services& services() { return *m_services; }

    // Busy and idle states, and the progress bar.
    void setbuttonOFF();
    void setbuttonON();
    void setprog0();
    void setprogFalse();
    // Sets `stop` and brings the menus up to date.
    void setStop(bool value);
    void setStatus(const QString& text);
    void setProgress(int maximum, int value);

    // Input sources.
    void openButton_Action();
    // The open dialog, then a search of the chosen file.
    void openFile();
    // A file or a folder (every file in it).
    void openFile(const QString& path);
    // A text (the clipboard search).
    void openText(const QString& text);
    void AddressBox1_DropObject(const QString& path);
    // Every file and folder of a drop, searched in the drop's order; during a
    // search they wait their turn in the queue.
    void dropPaths(const QStringList& paths);
    void _EditPaste_Action();

    // Shows `mismatched` on encodingBar (or hides it) and clears the list.
    void showEncodingWarning();
    // Places the controls for the content's size, with encodingBar (when
    // shown) over the top of the list and the list below it.
    void layoutContent();
    // The bar's button: removes the rows found in the sources on the bar and
    // reads those sources again, each in the encoding its bytes seem to be in.
    void rereadMismatched();

    // Encoding choice.
    void encButton_Open(int index);
    void encButton_Action(int index);
    void outStr(const std::string& raw);

    // List commands.
    void clearButton_Action();
    void deleteButton_Action();
    void ayashiiButton_Action();
    bool _finditem_Action();
    void _deleteSameitem_Action();
    void AddressBox1_CellTextChange(int row, int column);
    void AddressBox1_progChange(int maximum, int value);
    void AddressBox1_deleteDone(bool stopped);
    // The addresses of the selected rows, one per line, to the clipboard.
    void copyRows();
    void selectAllRows();

    // The source field: source `index` (from 0) of `total` has started; and
    // the summary of the sources read (sourcesRead, unreadable) at the end.
    void sourceStarted(int index, int total, const QString& path);
    void showSourceSummary();

    // Export.
    void write();

    // Menu handlers and the enabling rule.
    void _openitem_Action();
    void _writeitem_Action();
    void _prefmenuitem_Action();
    void _aboutmenuitem_Action();
    void EnableMenuItems();

    // Jobs: at most one runs; the others wait in order.
    void enqueue(std::unique_ptr<Job> job);
    bool jobRunning() const { return m_current != nullptr; }
    // How many extraction sources wait behind the running job.
    int queuedSources() const;
    // Drops every waiting job (STOP).
    void dropQueue();
    // Runs `fn` now when the list is in place, or as soon as the running job
    // has put it back (a job takes the rows out while a step works on them).
    void whenListReady(std::function<void()> fn);
    // A job takes the rows out for a step and puts them back after it; the
    // commands that waited meanwhile run with runDeferred().
    RowList checkOutRows();
    void checkInRows(RowList rows);
    void runDeferred();
    bool listCheckedOut() const { return m_listOut; }

    // The row count as the list shows it (rows taken out by a job included).
    std::int64_t rowCount() const;

signals:
    // A job has ended and no other waits: the window is idle again.
    void jobsIdle();
    // The status line shows a new text.
    void statusChanged(const QString& text);
    // The source field of the status bar shows a new text.
    void sourceFieldChanged(const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // The whole window takes drops too: the list, the usual target, is
    // hidden while a job runs.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The text field being edited in this window (a cell editor), if any.
    QWidget* textEditor() const;
    void createControls();
    void createMenus();
    void Open();
    void startNextJob();
    void jobFinished();
    void setCurrentJobFinished();

    std::unique_ptr<Services> m_ownServices;
    Services* m_services = nullptr;
    QWidget* m_content = nullptr;
    AnchorLayout m_anchors;
    std::deque<std::unique_ptr<Job>> m_queue;
    std::unique_ptr<Job> m_current;
    bool m_listOut = false;
    bool m_holdQueue = false; // a drop is still adding its items
    std::int64_t m_rowsOut = 0;
    std::vector<std::function<void()>> m_deferred;
};

namespace win {
// The main window, created on first use.
mainWindow* mainWindow();
// Replaces the services the main window is created with (tests).
void setMainWindowServices(Services* services);
} // namespace win

} // namespace quillon
