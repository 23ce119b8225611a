#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QFont>
#include <QRadioButton>

#include <functional>

namespace quillon {

// The program's rule for check boxes and option buttons: a change of state,
// whether by a click or made in code, runs the control's click handler once;
// setting the state a control already has runs nothing. (For an option button
// only its selection counts, not its being cleared by another.)
inline void onClick(QAbstractButton* button, std::function<void()> handler) {
    const bool isOption = qobject_cast<QRadioButton*>(button) != nullptr;
    QObject::connect(button, &QAbstractButton::toggled, button, [isOption, handler = std::move(handler)](bool on) {
        if (on || !isOption) {
            handler();
        }
    });
}

// The font of the window texts: a Japanese font at the given size in points.
inline QFont japaneseFont(int points) {
    QFont font(QStringLiteral("Noto Sans CJK JP"));
    font.setFamilies({QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"), QStringLiteral("IPAGothic"),
                      QStringLiteral("TakaoGothic"), QStringLiteral("VL Gothic"),
                      QStringLiteral("Droid Sans Fallback")});
    font.setPointSize(points);
    return font;
}

} // namespace quillon
