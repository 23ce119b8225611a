#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QPushButton;

namespace quillon {

class mainWindow;

// The small modal dialog that asks before the checked rows are deleted
// (`from` 0) or the whole list is cleared (`from` 1), and does it on OK.
class confirmWindow : public QDialog {
    Q_OBJECT
public:
    explicit confirmWindow(mainWindow& window);

    std::int32_t from = 0;

    QLabel* Canvas1 = nullptr;
    QLabel* StaticText1 = nullptr;
    QPushButton* PushButton2 = nullptr;
    QPushButton* PushButton1 = nullptr;

    void PushButton1_Action();
    void PushButton2_Action();

private:
    mainWindow& m_window;
};

} // namespace quillon
