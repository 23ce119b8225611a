#pragma once

#include "app/settings.h"

#include <QFrame>
#include <QString>

#include <vector>

class QLabel;
class QPushButton;

namespace quillon {

// The bar above the address list that tells, after a search, which sources
// did not read well in the chosen encoding and which encoding each seems to
// be in, with one button that reads them again in that encoding (the window
// then replaces the rows that came from them) and one that closes the bar.
// Its text is also its accessible description, so a screen reader announces
// it with the bar.
class EncodingBar : public QFrame {
    Q_OBJECT
public:
    // One source whose bytes do not fit the encoding it was read with.
    struct Mismatch {
        QString path;
        Encoding used = Encoding::None;
        Encoding likely = Encoding::None; // None: the bytes are not text in any encoding
    };

    explicit EncodingBar(QWidget* parent = nullptr);

    // Shows the bar for these sources, or hides it when there are none.
    void showMismatches(std::vector<Mismatch> mismatches);
    const std::vector<Mismatch>& mismatches() const { return m_mismatches; }
    // The sources the button reads again: those that are text.
    std::vector<Mismatch> rereadable() const;

    QLabel* message = nullptr;
    QPushButton* rereadButton = nullptr;
    QPushButton* closeButton = nullptr;

signals:
    // The user pressed the button: read rereadable() again.
    void rereadRequested();

private:
    std::vector<Mismatch> m_mismatches;
};

} // namespace quillon
