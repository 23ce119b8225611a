#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace quillon {

// What the windows ask of the desktop: file dialogs, message boxes, running a
// modal dialog and the clipboard. The application uses the real ones; tests
// pass fakes that script the answers and record the calls.
class Services {
public:
    virtual ~Services() = default;
    // The open-file dialog; an empty text when cancelled.
    virtual QString openFileName(QWidget* parent) = 0;
    // The save-file dialog for a text file with a proposed name; empty when cancelled.
    virtual QString saveFileName(QWidget* parent, const QString& proposedName) = 0;
    // A modal message box with one OK button.
    virtual void message(QWidget* parent, const QString& text) = 0;
    // A modal warning box for a failure.
    virtual void warning(QWidget* parent, const QString& title, const QString& text) = 0;
    // Runs a modal dialog until it closes; returns its result code.
    virtual int runDialog(QDialog* dialog) = 0;
    // The clipboard's text; `hasText` false when it holds none.
    virtual QString clipboardText(bool* hasText) = 0;
    // Puts a text on the clipboard (the desktop's, unless replaced).
    virtual void setClipboardText(const QString& text);
};

// The real dialogs and clipboard of the desktop.
class DesktopServices : public Services {
public:
    QString openFileName(QWidget* parent) override;
    QString saveFileName(QWidget* parent, const QString& proposedName) override;
    void message(QWidget* parent, const QString& text) override;
    void warning(QWidget* parent, const QString& title, const QString& text) override;
    int runDialog(QDialog* dialog) override;
    QString clipboardText(bool* hasText) override;
};

} // namespace quillon
