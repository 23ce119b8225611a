#pragma once

#include "ui/App.h"
#include "ui/services.h"

#include <QDialog>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace quillon::test {

// Services with scripted answers that record what the window asked.
class FakeServices : public Services {
public:
    QStringList openAnswers;   // answers of the open dialog, in order ("" = cancel)
    QStringList saveAnswers;   // answers of the save dialog, in order ("" = cancel)
    QStringList openCalls;     // one entry per open dialog shown
    QStringList saveProposals; // the proposed names of the save dialogs shown
    QStringList messages;
    QStringList warnings;
    // Acts on a modal dialog instead of the user; by default it is rejected.
    std::function<void(QDialog*)> onDialog;
    int dialogs = 0;
    QString clipboard;
    bool clipboardHasText = false;

    QString openFileName(QWidget*) override {
        openCalls << QStringLiteral("open");
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString saveFileName(QWidget*, const QString& proposedName) override {
        saveProposals << proposedName;
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    void message(QWidget*, const QString& text) override { messages << text; }
    void warning(QWidget*, const QString& title, const QString& text) override { warnings << title + ": " + text; }
    int runDialog(QDialog* dialog) override {
        ++dialogs;
        if (onDialog) {
            onDialog(dialog);
        } else {
            dialog->reject();
        }
        return dialog->result();
    }
    QString clipboardText(bool* hasText) override {
        *hasText = clipboardHasText;
        return clipboard;
    }
    void setClipboardText(const QString& text) override {
        clipboard = text;
        clipboardHasText = true;
    }
};

} // namespace quillon::test

// A Qt Test main that runs the tests inside the application object, with the
// preferences in a temporary folder so the user's own are never touched.
#define QUILLON_UI_TEST_MAIN(TestClass)                                                                                \
    int main(int argc, char** argv) {                                                                                  \
        QTemporaryDir prefDir;                                                                                         \
        quillon::App app(argc, argv, prefDir.path().toStdString());                                                    \
        app.Open();                                                                                                    \
        TestClass tc;                                                                                                  \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
