#include "app/ui/LogonDialog.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

namespace velnor::app::ui {

QString FromLocal(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToLocal(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

QFont WindowFont() {
    static const QString family = [] {
        const QStringList families = QFontDatabase::families();
        for (const char* wanted : {"Noto Sans CJK JP", "IPAGothic", "IPAPGothic", "Noto Sans JP"}) {
            if (families.contains(QString::fromLatin1(wanted))) return QString::fromLatin1(wanted);
        }
        return QString();
    }();
    QFont font;
    if (!family.isEmpty()) font.setFamily(family);
    font.setPixelSize(12);
    return font;
}

TfrmLogon::TfrmLogon(QWidget* parent) : QDialog(parent) {
    setObjectName("frmLogon");
    setWindowTitle(QStringLiteral("ログオン"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(WindowFont());
    setFixedSize(232, 127);

    auto label = [this](const char* name, const QString& text, int left, int top) {
        auto* l = new QLabel(text, this);
        l->setObjectName(name);
        l->adjustSize();
        l->move(left, top);
    };
    label("Label1", QStringLiteral("ユーザ名"), 12, 16);
    label("Label2", QStringLiteral("パスワード"), 12, 44);
    label("Label3", QStringLiteral("ホスト文字列"), 12, 72);

    auto edit = [this](const char* name, int top) {
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        e->setGeometry(88, top, 121, 20);
        e->setMaxLength(32);
        e->setAttribute(Qt::WA_InputMethodEnabled, false);
        e->installEventFilter(this);
        return e;
    };
    UserNameEdit = edit("UserNameEdit", 12);
    PasswordEdit = edit("PasswordEdit", 40);  // shown as typed, on purpose
    ServiceEdit = edit("ServiceEdit", 68);

    auto button = [this](const char* name, const QString& text, int left) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setGeometry(left, 100, 61, 21);
        b->setAutoDefault(false);
        b->setDefault(false);
        b->installEventFilter(this);
        return b;
    };
    ConnectButton = button("ConnectButton", QStringLiteral("接続"), 44);
    CancelButton = button("CancelButton", QStringLiteral("キャンセル"), 128);

    setTabOrder(UserNameEdit, PasswordEdit);
    setTabOrder(PasswordEdit, ServiceEdit);
    setTabOrder(ServiceEdit, ConnectButton);
    setTabOrder(ConnectButton, CancelButton);

    connect(ConnectButton, &QPushButton::clicked, this, &TfrmLogon::ConnectClick);
    connect(CancelButton, &QPushButton::clicked, this, &TfrmLogon::CancelClick);
}

int TfrmLogon::ShowModal() {
    CentreOnScreen();
    return exec() == QDialog::Accepted ? mrOk : mrCancel;
}

void TfrmLogon::CentreOnScreen() {
    // A dialog is centred on its parent unless placed; this one belongs on the desktop.
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    // Before the first show the dialog's own frame is unknown; the owner's is a close guess.
    QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    if (frame.isNull() && owner && owner->windowHandle())
        frame = owner->windowHandle()->frameMargins();
    const QSize outer = size().grownBy(frame);
    const QRect area = screen->availableGeometry();
    move(area.x() + (area.width() - outer.width()) / 2,
         area.y() + (area.height() - outer.height()) / 2);
}

void TfrmLogon::showEvent(QShowEvent* event) {
    UserNameEdit->setText(FromLocal(UserName));
    PasswordEdit->setText(FromLocal(Password));
    ServiceEdit->setText(FromLocal(Service));
    UserNameEdit->setFocus();
    QDialog::showEvent(event);
}

bool TfrmLogon::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (key == Qt::Key_Escape) {
        CancelClick();
        return true;
    }
    if (!enter) return QDialog::eventFilter(watched, event);
    // Enter walks the edits to the Connect button and never logs on from an edit.
    if (watched == UserNameEdit) {
        PasswordEdit->setFocus();
    } else if (watched == PasswordEdit) {
        ServiceEdit->setFocus();
    } else if (watched == ServiceEdit) {
        ConnectButton->setFocus();
    } else if (auto* b = qobject_cast<QPushButton*>(watched)) {
        b->click();  // a focused button takes Enter like a click
    }
    return true;
}

void TfrmLogon::keyPressEvent(QKeyEvent* event) {
    // QDialog would treat Enter as "press the default button"; this dialog has none.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
    QDialog::keyPressEvent(event);
}

void TfrmLogon::ConnectClick() {
    UserName = ToLocal(UserNameEdit->text());
    Password = ToLocal(PasswordEdit->text());
    Service = ToLocal(ServiceEdit->text());
    accept();
}

void TfrmLogon::CancelClick() { reject(); }

}  // namespace velnor::app::ui
