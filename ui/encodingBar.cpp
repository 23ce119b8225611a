#include "ui/encodingBar.h"

#include "extract/convModule.h"

#include <QAccessible>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace quillon {

namespace {

QString nameOf(Encoding enc) {
    return QString::fromUtf8(convModule::encodingName(enc));
}

// The file's name as the list of sources shows it; the clipboard keeps its
// own name.
QString shortName(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

// How many sources the text names one by one; the others are counted.
constexpr std::size_t kNamed = 3;

} // namespace

EncodingBar::EncodingBar(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("encodingBar"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xFF, 0xF4, 0xCE));
    pal.setColor(QPalette::WindowText, QColor(0x3A, 0x2A, 0x00));
    setPalette(pal);
    setAccessibleName(QStringLiteral("文字コードの警告"));

    message = new QLabel(this);
    message->setObjectName(QStringLiteral("encodingMessage"));
    message->setWordWrap(true);
    message->setTextFormat(Qt::PlainText);
    rereadButton = new QPushButton(this);
    rereadButton->setObjectName(QStringLiteral("rereadButton"));
    rereadButton->setAutoDefault(false);
    closeButton = new QPushButton(QStringLiteral("閉じる"), this);
    closeButton->setObjectName(QStringLiteral("closeEncodingBar"));
    closeButton->setAutoDefault(false);
    closeButton->setAccessibleName(QStringLiteral("文字コードの警告を閉じる"));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->addWidget(message, 1);
    layout->addWidget(rereadButton);
    layout->addWidget(closeButton);

    connect(rereadButton, &QPushButton::clicked, this, &EncodingBar::rereadRequested);
    connect(closeButton, &QPushButton::clicked, this, [this] { showMismatches({}); });
    setVisible(false);
}

std::vector<EncodingBar::Mismatch> EncodingBar::rereadable() const {
    std::vector<Mismatch> out;
    for (const Mismatch& m : m_mismatches) {
        if (m.likely != Encoding::None) {
            out.push_back(m);
        }
    }
    return out;
}

void EncodingBar::showMismatches(std::vector<Mismatch> mismatches) {
    m_mismatches = std::move(mismatches);
    if (m_mismatches.empty()) {
        message->clear();
        setAccessibleDescription(QString());
        setVisible(false);
        return;
    }
    const std::vector<Mismatch> text = rereadable();
    QString says;
    if (m_mismatches.size() == 1) {
        const Mismatch& m = m_mismatches.front();
        says = m.likely == Encoding::None
                   ? QStringLiteral(
                         "「%1」は %2 のテキストとして読めませんでした。アドレスが欠けたり余分な文字が付いたりしている"
                         "かもしれません。")
                         .arg(shortName(m.path), nameOf(m.used))
                   : QStringLiteral(
                         "「%1」は %2 ではなく %3 のようです。アドレスが欠けたり余分な文字が付いたりしているかも"
                         "しれません。")
                         .arg(shortName(m.path), nameOf(m.used), nameOf(m.likely));
    } else {
        QStringList named;
        for (std::size_t i = 0; i < m_mismatches.size() && i < kNamed; ++i) {
            const Mismatch& m = m_mismatches[i];
            named << QStringLiteral("「%1」(%2)")
                         .arg(shortName(m.path),
                              m.likely == Encoding::None ? QStringLiteral("テキストではない") : nameOf(m.likely));
        }
        if (m_mismatches.size() > kNamed) {
            named << QStringLiteral("ほか %1 件").arg(m_mismatches.size() - kNamed);
        }
        says =
            QStringLiteral("%1 個のファイルが %2 では正しく読めないようです: %3。アドレスが欠けたり余分な文字が付いたり"
                           "しているかもしれません。")
                .arg(m_mismatches.size())
                .arg(nameOf(m_mismatches.front().used), named.join(QStringLiteral("、")));
    }
    message->setText(says);
    QStringList paths;
    for (const Mismatch& m : m_mismatches) {
        paths << m.path;
    }
    message->setToolTip(paths.join(QLatin1Char('\n')));
    setAccessibleDescription(says);

    bool oneEncoding = !text.empty();
    for (const Mismatch& m : text) {
        oneEncoding = oneEncoding && m.likely == text.front().likely;
    }
    rereadButton->setText(oneEncoding ? QStringLiteral("%1 で読み直す").arg(nameOf(text.front().likely))
                                      : QStringLiteral("推測した文字コードで読み直す"));
    rereadButton->setToolTip(
        QStringLiteral("これらのファイルを推測した文字コードで読み直し、そこから見つけたアドレスを入れ替えます"));
    rereadButton->setVisible(!text.empty());
    setVisible(true);
    // A screen reader announces the bar as it appears.
    QAccessibleEvent shown(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&shown);
}

} // namespace quillon
