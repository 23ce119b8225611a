#pragma once

#include <QDialog>

class QLabel;

namespace quillon {

// The about box: the application's name, what it does, its version and licence.
class aboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit aboutWindow(QWidget* parent = nullptr);

    QLabel* StaticText1 = nullptr;
    QLabel* StaticText2 = nullptr;
    QLabel* StaticText5 = nullptr;

    void StaticText5_Open();
    void _closeitem_Action();
};

namespace win {
// The open about window, or a new one.
aboutWindow* aboutWindow();
} // namespace win

} // namespace quillon
