#include "ui/services.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QMimeData>

namespace quillon {

QString DesktopServices::openFileName(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, QString(), QDir::homePath());
}

QString DesktopServices::saveFileName(QWidget* parent, const QString& proposedName) {
    return QFileDialog::getSaveFileName(parent, QString(), QDir::home().filePath(proposedName),
                                        QStringLiteral("text (*.txt);;すべてのファイル (*)"));
}

void DesktopServices::message(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Information, QApplication::applicationDisplayName(), text, QMessageBox::Ok, parent);
    box.exec();
}

void DesktopServices::warning(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.exec();
}

int DesktopServices::runDialog(QDialog* dialog) {
    return dialog->exec();
}

QString DesktopServices::clipboardText(bool* hasText) {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    *hasText = data != nullptr && data->hasText();
    return *hasText ? data->text() : QString();
}

void Services::setClipboardText(const QString& text) {
    QApplication::clipboard()->setText(text);
}

} // namespace quillon
