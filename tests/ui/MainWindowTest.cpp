// The real windows driven offscreen: start-up, logon, history, grid, export and import.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/core/CustomOracleQuery.h"
#include "app/ui/LogonDialog.h"
#include "app/ui/MainWindow.h"
#include "oracle/client/OciLibrary.h"
#include "oracle/query/OracleQuery.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "tests/support/TempHome.h"

namespace velnor::app::ui {
namespace {

namespace fs = std::filesystem;

QApplication& App() {
    static int argc = 1;
    static char name[] = "MainWindowTest";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Answers the window's questions as a test tells it to, and records what was shown.
struct TScriptedDialogs : TUserDialogs {
    QString openFile, saveFile;
    bool overwrite = true;
    long long stopAfterRows = -1;  // a progress call past this many rows cancels
    QStringList errors, warnings, informations, asked;
    QString OpenFileName(QWidget*, const QString& proposed) override {
        asked << "open:" + proposed;
        return openFile;
    }
    QString SaveFileName(QWidget*, const QString& proposed) override {
        asked << "save:" + proposed;
        return saveFile;
    }
    bool AskOverwrite(QWidget*) override {
        asked << "overwrite";
        return overwrite;
    }
    void Warning(QWidget*, const QString& text) override { warnings << text; }
    void Error(QWidget*, const QString& text) override { errors << text; }
    void Information(QWidget*, const QString& text) override { informations << text; }
    void BeginProgress(QWidget*, const QString&, bool) override {}
    bool Progress(long long rows, int) override {
        return stopAfterRows < 0 || rows <= stopAfterRows;
    }
    void EndProgress() override {}
};

struct MainWindowTest : ::testing::Test {
    static void SetUpTestSuite() {
        App();
        home_ = new test::TTempHome;
        home_->AddDemo();
        home_->SetAsOracleHome();
    }
    static void TearDownTestSuite() {
        oracle::UnloadOCI();
        delete home_;
        home_ = nullptr;
    }
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("velnor-ui-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        fs::create_directories(dir_);
        platform::SetEnvironment("VELNOR_REGISTRY_DIR", dir_.string());
        platform::TRegistryStore::ResetDefaultPaths();
        window_ = std::make_unique<TfrmMain>();
        logon_ = std::make_unique<TfrmLogon>(window_.get());
        window_->SetLogonDialog(logon_.get());
        auto dialogs = std::make_unique<TScriptedDialogs>();
        dialogs_ = dialogs.get();
        window_->SetDialogs(std::move(dialogs));
    }
    void TearDown() override {
        logon_.reset();
        window_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Logs on through the dialog, typing the values when it opens.
    void LogOnThroughDialog(const QString& user, const QString& password, const QString& service) {
        QTimer::singleShot(0, [&] {
            logon_->UserNameEdit->setText(user);
            logon_->PasswordEdit->setText(password);
            logon_->ServiceEdit->setText(service);
            logon_->ConnectButton->click();
        });
        window_->ConnectItem->trigger();
    }
    void LogOnAsScott() { LogOnThroughDialog("SCOTT", "TIGER", "DEMO"); }

    int GridRowOf(const QString& table) const {
        for (int r = 0; r < window_->StringGrid->rowCount(); ++r) {
            if (window_->StringGrid->item(r, 0)->text() == table) return r;
        }
        return -1;
    }
    void Select(const QString& table) {
        const int row = GridRowOf(table);
        ASSERT_GE(row, 0) << table.toStdString();
        window_->StringGrid->setCurrentCell(row, 0);
    }
    // Row count seen by a second session, so only committed rows count.
    static long long CommittedRows(const std::string& table) {
        oracle::TOracleSession other(nullptr);
        other.SetLogonUsername("SCOTT");
        other.SetLogonPassword("TIGER");
        other.SetLogonDatabase("DEMO");
        other.LogOn();
        TCustomOracleQuery q(other);
        q.SetText("SELECT COUNT(*) FROM " + table);
        q.Execute();
        const long long n = q.FieldAsInteger(0);
        other.LogOff();
        return n;
    }
    std::string WriteFile(const std::string& name, const std::string& text) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }

    static test::TTempHome* home_;
    static int counter_;
    fs::path dir_;
    std::unique_ptr<TfrmMain> window_;
    std::unique_ptr<TfrmLogon> logon_;
    TScriptedDialogs* dialogs_ = nullptr;
};
test::TTempHome* MainWindowTest::home_ = nullptr;
int MainWindowTest::counter_ = 0;

TEST_F(MainWindowTest, StartsDisconnectedWithTheEmptyStateAndHiddenHistory) {
    EXPECT_EQ(window_->windowTitle(), "Velnor for Windows");
    EXPECT_FALSE(window_->OracleSession().Connected());
    EXPECT_EQ(window_->StringGrid->rowCount(), 1);
    EXPECT_EQ(window_->StringGrid->horizontalHeaderItem(0)->text(), QStringLiteral("テーブル名"));
    EXPECT_EQ(window_->StringGrid->horizontalHeaderItem(1)->text(), QStringLiteral("データ数"));
    EXPECT_TRUE(window_->StatusBar->currentMessage().isEmpty());
    for (QAction* item : window_->HistoryItems) EXPECT_FALSE(item->isVisible());
    EXPECT_EQ(window_->ExitItem->shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_X));
    EXPECT_EQ(window_->RefreshItem->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(window_->menuBar()->actions().at(0)->text(), QStringLiteral("ファイル(&F)"));
}

TEST_F(MainWindowTest, LogonFillsTheGridAndEntersTheHistory) {
    LogOnAsScott();
    ASSERT_TRUE(dialogs_->errors.isEmpty()) << dialogs_->errors.join("\n").toStdString();
    EXPECT_TRUE(window_->OracleSession().Connected());
    const int emp = GridRowOf("EMP");
    ASSERT_GE(emp, 0);
    EXPECT_EQ(window_->StringGrid->item(emp, 1)->text(), "14");
    EXPECT_EQ(window_->StatusBar->currentMessage(),
              QString::number(window_->UserTable().Count()) + QStringLiteral("個のテーブル"));
    EXPECT_TRUE(window_->HistoryItems[0]->isVisible());
    EXPECT_EQ(window_->HistoryItems[0]->text(), "&1 SCOTT/TIGER@DEMO");
}

TEST_F(MainWindowTest, BadPasswordShowsTheDatabaseErrorAndLeavesHistoryAlone) {
    LogOnThroughDialog("SCOTT", "WRONG", "DEMO");
    ASSERT_EQ(dialogs_->errors.size(), 1);
    EXPECT_TRUE(dialogs_->errors[0].startsWith("ORA-01017")) << dialogs_->errors[0].toStdString();
    EXPECT_FALSE(window_->OracleSession().Connected());
    EXPECT_FALSE(window_->HistoryItems[0]->isVisible());
    EXPECT_EQ(window_->StringGrid->rowCount(), 1);
}

TEST_F(MainWindowTest, HistoryItemLogsOnAgainWithoutTheDialog) {
    LogOnAsScott();
    window_->DisconnectClick();
    ASSERT_FALSE(window_->OracleSession().Connected());
    // A second window reads the saved history, as the next start of the program would.
    TfrmMain again;
    TfrmLogon neverShown(&again);
    again.SetLogonDialog(&neverShown);
    auto dialogs = std::make_unique<TScriptedDialogs>();
    TScriptedDialogs* seen = dialogs.get();
    again.SetDialogs(std::move(dialogs));
    ASSERT_TRUE(again.HistoryItems[0]->isVisible());
    again.HistoryItems[0]->trigger();
    EXPECT_TRUE(seen->errors.isEmpty()) << seen->errors.join("\n").toStdString();
    EXPECT_TRUE(again.OracleSession().Connected());
    EXPECT_FALSE(neverShown.isVisible());
    EXPECT_GE(again.UserTable().Count(), 1);
}

TEST_F(MainWindowTest, CancelInTheDialogChangesNothing) {
    QTimer::singleShot(0, [&] { QTest::keyClick(logon_->UserNameEdit, Qt::Key_Escape); });
    window_->ConnectItem->trigger();
    EXPECT_FALSE(window_->OracleSession().Connected());
    EXPECT_TRUE(dialogs_->errors.isEmpty());
}

TEST_F(MainWindowTest, EnterWalksTheEditsToTheConnectButton) {
    logon_->show();
    QApplication::setActiveWindow(logon_.get());
    logon_->UserNameEdit->setFocus();
    QTest::keyClick(logon_->UserNameEdit, Qt::Key_Return);
    EXPECT_TRUE(logon_->PasswordEdit->hasFocus());
    QTest::keyClick(logon_->PasswordEdit, Qt::Key_Return);
    EXPECT_TRUE(logon_->ServiceEdit->hasFocus());
    QTest::keyClick(logon_->ServiceEdit, Qt::Key_Return);
    EXPECT_TRUE(logon_->ConnectButton->hasFocus());
    EXPECT_TRUE(logon_->isVisible());  // Enter in an edit never logs on
    logon_->hide();
}

TEST_F(MainWindowTest, ExportThroughTheDialogsWritesTheTable) {
    LogOnAsScott();
    Select("DEPT");
    dialogs_->saveFile = QString::fromStdString((dir_ / "dept.csv").string());
    window_->ExportClick();
    ASSERT_TRUE(dialogs_->errors.isEmpty()) << dialogs_->errors.join("\n").toStdString();
    EXPECT_EQ(dialogs_->asked.value(0), "save:DEPT.csv");
    std::ifstream in(dir_ / "dept.csv", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str().substr(0, 27), "\"DEPTNO\",\"DNAME\",\"LOC\"\r\n10,");
}

TEST_F(MainWindowTest, ExportOverAnExistingFileAsksAndKeepsItOnNo) {
    LogOnAsScott();
    Select("DEPT");
    const std::string path = WriteFile("old.csv", "keep me");
    dialogs_->saveFile = QString::fromStdString(path);
    dialogs_->overwrite = false;
    window_->ExportClick();
    EXPECT_TRUE(dialogs_->asked.contains("overwrite"));
    std::ifstream in(path, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content, "keep me");
}

TEST_F(MainWindowTest, ImportCommitsAndRefreshesTheCount) {
    LogOnAsScott();
    Select("BONUS");
    dialogs_->openFile = QString::fromStdString(
        WriteFile("bonus.csv",
                  "\"ENAME\",\"JOB\",\"SAL\",\"COMM\"\r\n\"A\",\"X\",1,2\r\n\"B\",\"Y\",3,4\r\n"));
    const long long before = CommittedRows("BONUS");
    window_->ImportClick();
    ASSERT_TRUE(dialogs_->errors.isEmpty()) << dialogs_->errors.join("\n").toStdString();
    EXPECT_EQ(CommittedRows("BONUS"), before + 2);
    EXPECT_EQ(window_->StringGrid->item(GridRowOf("BONUS"), 1)->text(),
              QString::number(before + 2));
}

TEST_F(MainWindowTest, FailingLineRollsBackTheWholeDeleteThenImport) {
    LogOnAsScott();
    Select("DEPT");
    dialogs_->openFile = QString::fromStdString(WriteFile(
        "dept.csv",
        "\"DEPTNO\",\"DNAME\",\"LOC\"\r\n50,\"A\",\"B\"\r\nnot-a-number,\"C\",\"D\"\r\n"));
    window_->DeleteAfterImportClick();
    ASSERT_EQ(dialogs_->errors.size(), 1);
    EXPECT_TRUE(dialogs_->errors[0].contains("3")) << dialogs_->errors[0].toStdString();
    EXPECT_EQ(CommittedRows("DEPT"), 4);  // the deleted rows are back, nothing was added
    window_->RefreshClick();
    EXPECT_EQ(window_->StringGrid->item(GridRowOf("DEPT"), 1)->text(), "4");
}

TEST_F(MainWindowTest, MissingImportFileWarnsAndDeletesNothing) {
    LogOnAsScott();
    Select("DEPT");
    dialogs_->openFile = QString::fromStdString((dir_ / "absent.csv").string());
    window_->DeleteAfterImportClick();
    ASSERT_EQ(dialogs_->warnings.size(), 1);
    EXPECT_EQ(dialogs_->warnings[0], QStringLiteral("ファイルがありません"));
    EXPECT_EQ(CommittedRows("DEPT"), 4);
}

TEST_F(MainWindowTest, CancelledImportRollsBackAndSaysSo) {
    LogOnAsScott();
    Select("BONUS");
    std::string csv = "\"ENAME\",\"JOB\",\"SAL\",\"COMM\"\r\n";
    for (int i = 0; i < 5000; ++i) csv += "\"N" + std::to_string(i) + "\",\"J\",1,1\r\n";
    dialogs_->openFile = QString::fromStdString(WriteFile("many.csv", csv));
    dialogs_->stopAfterRows = 1000;
    const long long before = CommittedRows("BONUS");
    window_->ImportClick();
    EXPECT_TRUE(dialogs_->errors.isEmpty()) << dialogs_->errors.join("\n").toStdString();
    ASSERT_EQ(dialogs_->informations.size(), 1);
    EXPECT_EQ(CommittedRows("BONUS"), before);
}

TEST_F(MainWindowTest, GridKeysServeImportAndExportOnlyWhenATableIsSelected) {
    QTest::keyClick(window_->StringGrid, Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(dialogs_->asked.isEmpty());  // not connected: nothing happens
    LogOnAsScott();
    Select("EMP");
    QTest::keyClick(window_->StringGrid, Qt::Key_E, Qt::ControlModifier);
    QTest::keyClick(window_->StringGrid, Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(dialogs_->asked, QStringList({"save:EMP.csv", "open:EMP.csv"}));
}

TEST_F(MainWindowTest, RefreshRefillsTheGridAndExitLogsOff) {
    window_->show();
    window_->RefreshItem->trigger();
    EXPECT_TRUE(dialogs_->errors.isEmpty());  // not connected: the empty state, no error
    LogOnAsScott();
    window_->StringGrid->setRowCount(0);  // only a refresh brings the tables back
    window_->RefreshItem->trigger();
    EXPECT_GE(GridRowOf("EMP"), 0);
    window_->ExitItem->trigger();
    EXPECT_FALSE(window_->isVisible());
    EXPECT_FALSE(window_->OracleSession().Connected());
}

// scripts/screenshots runs this under xvfb-run so a person can look at the windows.
TEST_F(MainWindowTest, Screenshots) {
    const auto dir = platform::GetEnvironment("VELNOR_SCREENSHOT_DIR");
    if (!dir) GTEST_SKIP() << "set VELNOR_SCREENSHOT_DIR to take screenshots";
    window_->show();
    LogOnAsScott();
    Select("EMP");
    QTest::qWait(300);
    EXPECT_TRUE(window_->grab().save(QString::fromStdString(*dir + "/main-window.png")));
    logon_->UserName = "SCOTT";
    logon_->Password = "TIGER";
    logon_->Service = "DEMO";
    logon_->show();
    QTest::qWait(300);
    EXPECT_TRUE(logon_->grab().save(QString::fromStdString(*dir + "/logon-dialog.png")));
    logon_->hide();
}

}  // namespace
}  // namespace velnor::app::ui
