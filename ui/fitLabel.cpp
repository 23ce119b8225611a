#include "ui/fitLabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace quillon {

FitLabel::FitLabel(const QString& text, QWidget* parent) : QLabel(parent) {
    // File names may hold "<" or "&": the text is never read as markup.
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setText(text);
}

bool FitLabel::isElided() const {
    return fontMetrics().horizontalAdvance(text()) > contentsRect().width() - 2 * margin();
}

QString FitLabel::tipText() const {
    if (!isElided()) {
        return toolTip();
    }
    return toolTip().isEmpty() ? text() : text() + QStringLiteral("\n\n") + toolTip();
}

QSize FitLabel::minimumSizeHint() const {
    // Any width will do: a text that does not fit is shortened.
    return QSize(0, QLabel::minimumSizeHint().height());
}

void FitLabel::paintEvent(QPaintEvent* event) {
    if (!isElided()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    style()->drawItemText(&painter, area, int(QStyle::visualAlignment(layoutDirection(), alignment())), palette(),
                          isEnabled(), shown, foregroundRole());
}

bool FitLabel::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const QString tip = tipText();
        if (tip.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            // As markup, so that a long text wraps and a file name is shown as it is.
            QString html = tip.toHtmlEscaped();
            html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), QStringLiteral("<p>%1</p>").arg(html),
                               this);
        }
        return true;
    }
    return QLabel::event(event);
}

} // namespace quillon
