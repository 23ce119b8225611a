#pragma once

#include <QDialog>

#include <array>
#include <cstdint>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace quillon {

// The preferences window: the switches applied after each extraction, the
// export layout with its n and the blank line, and the filter with its
// action. Clicks on the switches and layouts write their codes at once;
// "設定" saves everything, "キャンセル" closes without saving the rest.
class prefWindow : public QDialog {
    Q_OBJECT
public:
    explicit prefWindow(QWidget* parent = nullptr);

    QTabWidget* TabPanel1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    std::array<QCheckBox*, 3> prefcheckBox{};
    QGroupBox* GroupBox1 = nullptr;
    std::array<QRadioButton*, 3> writeOutButton{};
    QLabel* StaticText1 = nullptr;
    QLineEdit* EditField1 = nullptr;
    QCheckBox* needYohakubox = nullptr;
    QLabel* StaticText2 = nullptr;
    QLabel* StaticText3 = nullptr;
    QLabel* StaticText4 = nullptr;
    QLabel* StaticText5 = nullptr;
    QPlainTextEdit* EditField2 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QPushButton* PushButton1 = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* OKbutton = nullptr;

    void TabPanel1_Open();
    void OKbutton_Action();
    void prefcheckBox_Action(int index);
    void writeOutButton_Action(int index);
    void CancelButton_Action();
    void PushButton1_Action();
    void Open();

    // n as typed: its leading number (a fraction is cut off), 0 when the text
    // does not begin with one, held to the 32-bit range.
    static std::int32_t readNumber(const QString& text);
    // The filter text with every line end turned into ",".
    static QString joinLines(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Keeps each tab's panel aligned with the tab panel's corner.
    void placeTabPanels();

    QWidget* m_tabs[2] = {nullptr, nullptr};
};

namespace win {
// The open preferences window, or a new one.
prefWindow* prefWindow();
} // namespace win

} // namespace quillon
