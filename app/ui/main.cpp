// The program: the main window and the logon dialog on one GUI thread.
#include <signal.h>

#include <QApplication>

#include "app/ui/LogonDialog.h"
#include "app/ui/MainWindow.h"
#include "platform/System.h"

int main(int argc, char** argv) {
    velnor::platform::SetProgramArguments(argc, argv);
    // Past a file size limit a write then fails with EFBIG and the export reports it,
    // instead of the signal ending the program.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, nullptr);
    QApplication application(argc, argv);
    // The window speaks Japanese, so Qt's own dialogs and buttons do too.
    velnor::app::ui::InstallQtTranslations(application);
    velnor::app::ui::InstallCursorHooks();
    velnor::app::ui::TfrmMain frmMain;
    velnor::app::ui::TfrmLogon frmLogon(&frmMain);
    frmMain.SetLogonDialog(&frmLogon);
    frmMain.show();
    return application.exec();
}
