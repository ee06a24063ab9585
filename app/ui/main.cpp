// The program: the main window and the logon dialog on one GUI thread.
#include <QApplication>

#include "app/ui/LogonDialog.h"
#include "app/ui/MainWindow.h"
#include "platform/System.h"

int main(int argc, char** argv) {
    velnor::platform::SetProgramArguments(argc, argv);
    QApplication application(argc, argv);
    velnor::app::ui::InstallCursorHooks();
    velnor::app::ui::TfrmMain frmMain;
    velnor::app::ui::TfrmLogon frmLogon(&frmMain);
    frmMain.SetLogonDialog(&frmLogon);
    frmMain.show();
    return application.exec();
}
