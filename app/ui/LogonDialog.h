// The logon dialog: user name, password and host string.
#pragma once
#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;
class QLabel;

namespace velnor::app::ui {

class TfrmLogon : public QDialog {
    Q_OBJECT
public:
    explicit TfrmLogon(QWidget* parent = nullptr);

    // The values shown when the dialog opens and, after Connect, the values typed.
    std::string UserName;
    std::string Password;
    std::string Service;

    enum { mrOk = 1, mrCancel = 2 };
    // Shows the dialog modally: mrOk after Connect, mrCancel after Cancel, Esc or the close box.
    int ShowModal();
    // Places the dialog, frame included, in the middle of its screen.
    void CentreOnScreen();

    QLineEdit* UserNameEdit = nullptr;
    QLineEdit* PasswordEdit = nullptr;
    QLineEdit* ServiceEdit = nullptr;
    QPushButton* ConnectButton = nullptr;
    QPushButton* CancelButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ConnectClick();
    void CancelClick();
};

// Text between the widgets and the byte strings below them.
QString FromLocal(const std::string& text);
std::string ToLocal(const QString& text);
// The Japanese-capable font of the windows, 12 pixels high.
QFont WindowFont();

}  // namespace velnor::app::ui
