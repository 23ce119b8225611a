#pragma once

#include <QLabel>

namespace quillon {

// A one-line label of plain text that never cuts a message off unseen: a
// text wider than the label is drawn shortened with "…", and the label's
// tooltip then shows the whole text (followed by the tooltip set on the label,
// if any). Assistive technology always gets the whole text as its name.
class FitLabel : public QLabel {
    Q_OBJECT
public:
    explicit FitLabel(const QString& text = QString(), QWidget* parent = nullptr);

    // True when the text does not fit and is drawn shortened.
    bool isElided() const;
    // What the tooltip shows: the whole text when it is shortened, then the
    // label's own tooltip.
    QString tipText() const;

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
};

} // namespace quillon
