// The real windows driven offscreen: start-up, logon, history, grid, export and import.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
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
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        InstallQtTranslations(*a);
        return a;
    }();
    return *app;
}

// Answers the window's questions as a test tells it to, and records what was shown.
struct TScriptedDialogs : TUserDialogs {
    QString openFile, saveFile;
    bool realOpenDialog = false;  // show the window's own open dialog instead of answering
    bool overwrite = true;
    long long stopAfterRows = -1;                 // a progress call past this many rows cancels
    std::optional<TTextEncoding> chosenEncoding;  // the user's pick; none keeps the offer
    std::vector<TTextEncoding> offeredEncodings;
    QStringList errors, warnings, informations, asked;
    QString OpenFileName(QWidget* parent, const QString& proposed,
                         TTextEncoding& encoding) override {
        asked << "open:" + proposed;
        offeredEncodings.push_back(encoding);
        if (realOpenDialog) return TUserDialogs::OpenFileName(parent, proposed, encoding);
        if (chosenEncoding) encoding = *chosenEncoding;
        return openFile;
    }
    QString SaveFileName(QWidget*, const QString& proposed, TTextEncoding& encoding) override {
        asked << "save:" + proposed;
        offeredEncodings.push_back(encoding);
        if (chosenEncoding) encoding = *chosenEncoding;
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
        CreateWindows();
    }
    void CreateWindows() {
        logon_.reset();
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
    // Runs statements on a second session, as another user of the database would.
    static void OtherSession(std::initializer_list<std::string> statements) {
        oracle::TOracleSession other(nullptr);
        other.SetLogonUsername("SCOTT");
        other.SetLogonPassword("TIGER");
        other.SetLogonDatabase("DEMO");
        other.LogOn();
        for (const std::string& sql : statements) {
            TCustomOracleQuery q(other);
            q.SetText(sql);
            q.Execute();
        }
        other.Commit();
        other.LogOff();
    }

    // The real event path: a shown, active window, the mouse on the grid's viewport and
    // keys sent to the window, which hands them to its focus widget.
    void ShowActive() {
        window_->show();
        window_->activateWindow();
        // A closed modal dialog may still count as active until the activation arrives.
        for (int i = 0; i < 100 && QApplication::activeWindow() != window_.get(); ++i) {
            QTest::qWait(10);
        }
        ASSERT_EQ(QApplication::activeWindow(), window_.get());
        ASSERT_EQ(QApplication::focusWidget(), window_->StringGrid);
    }
    QPoint RowPoint(const QString& table) const {
        QTableWidget* grid = window_->StringGrid;
        const int row = GridRowOf(table);
        EXPECT_GE(row, 0) << table.toStdString();
        grid->scrollTo(grid->model()->index(row, 0));
        return grid->visualRect(grid->model()->index(row, 0)).center();
    }
    void LeftClick(const QString& table) {
        QTest::mouseClick(window_->StringGrid->viewport(), Qt::LeftButton, {}, RowPoint(table));
    }
    // Right-clicks a row and chooses a command of the pop-up menu with the mouse.
    void PopupCommand(const QString& table, QAction* command) {
        QWidget* viewport = window_->StringGrid->viewport();
        const QPoint at = RowPoint(table);
        QTest::mousePress(viewport, Qt::RightButton, {}, at);
        QMenu* menu = window_->PopupMenu;
        ASSERT_TRUE(menu->isVisible());
        // The button comes up over the fresh pop-up, which chooses nothing.
        QTest::mouseRelease(menu, Qt::RightButton, {},
                            menu->mapFromGlobal(viewport->mapToGlobal(at)));
        ASSERT_TRUE(menu->isVisible());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(command).center());
        EXPECT_FALSE(menu->isVisible());
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(window_->windowHandle(), static_cast<Qt::Key>(key), modifiers);
    }
    QString CurrentTable() const {
        const int row = window_->StringGrid->currentRow();
        if (row < 0 || !window_->StringGrid->selectionModel()->isRowSelected(row, {})) return {};
        return window_->StringGrid->item(row, 0)->text();
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
    EXPECT_TRUE(window_->StatusText->text().isEmpty());
    EXPECT_FALSE(window_->windowIcon().availableSizes().isEmpty());
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
    EXPECT_EQ(window_->StatusText->text(),
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

TEST_F(MainWindowTest, EncodingChosenWithTheFileIsUsedAndOfferedNextTime) {
    LogOnAsScott();
    Select("DEPT");
    dialogs_->saveFile = QString::fromStdString((dir_ / "dept.csv").string());
    dialogs_->chosenEncoding = TTextEncoding::teUtf8Bom;
    window_->ExportClick();
    ASSERT_TRUE(dialogs_->errors.isEmpty()) << dialogs_->errors.join("\n").toStdString();
    std::ifstream in(dir_ / "dept.csv", std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content.substr(0, 11), "\xEF\xBB\xBF\"DEPTNO\"");
    platform::TRegistryStore store(platform::TRegistryRoot::CurrentUser,
                                   (dir_ / "HKEY_CURRENT_USER.reg").string());
    EXPECT_EQ(store.ReadString("Software\\Tressigan\\Velnor\\Csv", "CsvEncoding"), "utf-8-bom");

    CreateWindows();  // as after a restart
    LogOnAsScott();
    Select("BONUS");
    dialogs_->openFile = QString::fromStdString(
        WriteFile("sjis.csv", "\"ENAME\",\"JOB\"\r\n\"\x95\x5C\x83\x5C\",\"E\"\r\n"));
    dialogs_->chosenEncoding = TTextEncoding::teCp932;
    window_->ImportClick();
    ASSERT_TRUE(dialogs_->errors.isEmpty()) << dialogs_->errors.join("\n").toStdString();
    EXPECT_EQ(dialogs_->offeredEncodings, std::vector<TTextEncoding>{TTextEncoding::teUtf8Bom});
    oracle::TOracleSession other(nullptr);
    other.SetLogonUsername("SCOTT");
    other.SetLogonPassword("TIGER");
    other.SetLogonDatabase("DEMO");
    other.LogOn();
    TCustomOracleQuery names(other);
    names.SetText("SELECT ENAME FROM BONUS WHERE JOB='E'");
    names.Execute();
    EXPECT_EQ(names.FieldAsString(0), "表ソ");
    other.LogOff();
    EXPECT_EQ(store.ReadString("Software\\Tressigan\\Velnor\\Csv", "CsvEncoding"), "cp932");

    // The real dialog shows the choice in a labelled combo box below the file type.
    const auto dialog = MakeFileDialog(window_.get(), "x.csv", true, TTextEncoding::teCp932);
    auto* combo = dialog->findChild<QComboBox*>("EncodingCombo");
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->currentText(), QStringLiteral("Shift-JIS (CP932)"));
    EXPECT_EQ(dialog->findChild<QLabel*>("EncodingLabel")->buddy(), combo);
    combo->setCurrentIndex(1);
    EXPECT_EQ(ChosenEncoding(*dialog), TTextEncoding::teUtf8Bom);
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

TEST_F(MainWindowTest, RightClickRightAfterLogonActsOnTheVisiblyHighlightedFirstTable) {
    LogOnAsScott();
    ShowActive();
    ASSERT_EQ(window_->StringGrid->item(5, 0)->text(), "EMP");
    const QString first = window_->StringGrid->item(0, 0)->text();
    EXPECT_EQ(CurrentTable(), first);
    dialogs_->saveFile.clear();  // cancel the dialog: only the proposed name matters
    PopupCommand("EMP", window_->ExportItem);
    EXPECT_EQ(dialogs_->asked, QStringList({"save:" + first + ".csv"}));
    EXPECT_EQ(CurrentTable(), first);  // the right button never moves the highlight
    LeftClick("EMP");
    PopupCommand("EMP", window_->ExportItem);
    EXPECT_EQ(dialogs_->asked.value(1), "save:EMP.csv");
}

TEST_F(MainWindowTest, HighlightStaysVisibleWhileAnotherWindowIsActive) {
    // A desktop theme that greys out the selection of inactive windows.
    const QPalette original = QApplication::palette();
    QPalette greying = original;
    greying.setColor(QPalette::Inactive, QPalette::Highlight, QColor(200, 200, 200));
    QApplication::setPalette(greying);
    struct TRestore {
        QPalette palette;
        ~TRestore() { QApplication::setPalette(palette); }
    } restore{original};
    CreateWindows();
    LogOnAsScott();
    ShowActive();
    LeftClick("DEPT");
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    QTableWidget* grid = window_->StringGrid;
    const QRect cell = grid->visualRect(grid->model()->index(GridRowOf("DEPT"), 1));
    const QImage image = grid->viewport()->grab().toImage();
    // The right end of the count cell holds no text, only the row's background.
    const QPoint probe(cell.right() - 4, cell.center().y());
    EXPECT_EQ(image.pixelColor(probe * image.devicePixelRatio()),
              grid->palette().color(QPalette::Active, QPalette::Highlight));
}

TEST_F(MainWindowTest, ClickThenF5ThenCtrlEExportsTheClickedTable) {
    LogOnAsScott();
    ShowActive();
    LeftClick("EMP");
    window_->StringGrid->item(GridRowOf("EMP"), 1)->setText("stale");
    Key(Qt::Key_F5);
    EXPECT_EQ(window_->StringGrid->item(GridRowOf("EMP"), 1)->text(), "14");  // refreshed
    EXPECT_EQ(CurrentTable(), "EMP");
    Key(Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(dialogs_->asked, QStringList({"save:EMP.csv"}));
}

TEST_F(MainWindowTest, ImportThenDeleteThenImportActOnlyOnTheHighlightedRow) {
    OtherSession({"CREATE TABLE UI_A (N NUMBER)", "INSERT INTO UI_A VALUES (1)",
                  "CREATE TABLE UI_B (N NUMBER)", "INSERT INTO UI_B VALUES (1)"});
    LogOnAsScott();
    ShowActive();
    dialogs_->openFile = QString::fromStdString(WriteFile("n.csv", "\"N\"\r\n7\r\n"));
    LeftClick("UI_A");
    Key(Qt::Key_I, Qt::ControlModifier);  // UI_A: 2 rows, then the grid is refreshed
    EXPECT_EQ(CurrentTable(), "UI_A");
    PopupCommand("UI_B", window_->DeleteAfterImportItem);  // still UI_A: 1 row
    LeftClick("UI_B");
    PopupCommand("UI_B", window_->DeleteAfterImportItem);  // now UI_B: 1 row
    Key(Qt::Key_I, Qt::ControlModifier);                   // UI_B: 2 rows
    EXPECT_TRUE(dialogs_->errors.isEmpty()) << dialogs_->errors.join("\n").toStdString();
    EXPECT_EQ(dialogs_->asked,
              QStringList({"open:UI_A.csv", "open:UI_A.csv", "open:UI_B.csv", "open:UI_B.csv"}));
    EXPECT_EQ(CommittedRows("UI_A"), 1);
    EXPECT_EQ(CommittedRows("UI_B"), 2);
    EXPECT_EQ(CurrentTable(), "UI_B");
    window_->DisconnectClick();
    OtherSession({"DROP TABLE UI_A", "DROP TABLE UI_B"});
}

TEST_F(MainWindowTest, TableDroppedByAnotherSessionHandsTheHighlightToTheFirstRow) {
    OtherSession({"CREATE TABLE UI_GONE (N NUMBER)"});
    LogOnAsScott();
    ShowActive();
    LeftClick("UI_GONE");
    OtherSession({"DROP TABLE UI_GONE"});
    Key(Qt::Key_F5);
    ASSERT_EQ(GridRowOf("UI_GONE"), -1);
    const QString first = window_->StringGrid->item(0, 0)->text();
    EXPECT_EQ(CurrentTable(), first);
    Key(Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(dialogs_->asked, QStringList({"save:" + first + ".csv"}));
}

TEST_F(MainWindowTest, StatusTextSurvivesMenuTipsAndHideShow) {
    LogOnAsScott();
    ShowActive();
    const QString text = QString::number(window_->UserTable().Count()) + "個のテーブル";
    // Moving over the menu bar sends the window status tips, which a plain message loses to.
    struct TTipCounter : QObject {
        int tips = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            tips += e->type() == QEvent::StatusTip;
            return false;
        }
    } counter;
    window_->installEventFilter(&counter);
    QMenuBar* bar = window_->menuBar();
    QWindow* handle = window_->windowHandle();
    const auto to = [&](QWidget* w, QPoint p) {
        QTest::mouseMove(handle, w->mapTo(window_.get(), p));
    };
    to(window_->StringGrid->viewport(), QPoint(5, 5));
    for (QAction* menu : bar->actions()) to(bar, bar->actionGeometry(menu).center());
    to(window_->StringGrid->viewport(), QPoint(5, 5));
    window_->removeEventFilter(&counter);
    EXPECT_GT(counter.tips, 0);
    EXPECT_EQ(window_->StatusText->text(), text);
    EXPECT_TRUE(window_->StatusText->isVisible());
    window_->StatusItem->trigger();
    EXPECT_FALSE(window_->StatusBar->isVisible());
    window_->StatusItem->trigger();
    EXPECT_TRUE(window_->StatusText->isVisible());
    EXPECT_EQ(window_->StatusText->text(), text);
}

TEST_F(MainWindowTest, FileMenuKeepsBothSeparatorsWithAnEmptyHistory) {
    ShowActive();
    QMenu* file = window_->menuBar()->actions().at(0)->menu();
    file->popup(window_->mapToGlobal(QPoint(0, 0)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(file));
    int separators = 0;
    for (QAction* a : file->actions())
        separators += a->isSeparator() && !file->actionGeometry(a).isEmpty();
    file->hide();
    EXPECT_EQ(separators, 2);
}

// The window's own open dialog, typed into as a user does, in Japanese.
TEST_F(MainWindowTest, TypedNameOfAMissingFileReachesTheWarning) {
    LogOnAsScott();
    ShowActive();
    LeftClick("DEPT");
    WriteFile("README", "no dot in this name");
    dialogs_->realOpenDialog = true;
    QStringList seen;
    // Never hang on a dialog the script could not find.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        seen << "timeout";
        if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            modal->reject();
    });
    std::function<void()> answer;
    auto type = [&](const QString& name, bool navigate) {
        watchdog.start(5000);
        answer = [&, name, navigate] {
            if (!watchdog.isActive()) return;  // given up
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) {  // not open yet
                QTimer::singleShot(10, answer);
                return;
            }
            seen
                << dialog->directory().absolutePath()
                << dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->text();
            auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
            seen << types->itemText(0) << types->itemText(1);
            if (navigate) dialog->setDirectory(QString::fromStdString(dir_.string()));
            auto* list = dialog->findChild<QListView*>("listView");
            for (int i = 0; i < 100 && list->model()->rowCount(list->rootIndex()) == 0; ++i) {
                QTest::qWait(20);
            }
            for (int r = 0; r < list->model()->rowCount(list->rootIndex()); ++r) {
                seen << "listed:" + list->model()->index(r, 0, list->rootIndex()).data().toString();
            }
            auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
            edit->clear();
            QTest::keyClicks(edit, name);
            QTest::keyClick(edit, Qt::Key_Return);
        };
        QTimer::singleShot(0, answer);
    };
    type("absent", true);  // the .csv comes by default
    window_->DeleteAfterImportClick();
    watchdog.stop();
    EXPECT_EQ(dialogs_->warnings, QStringList({QStringLiteral("ファイルがありません")}));
    EXPECT_EQ(CommittedRows("DEPT"), 4);
    EXPECT_TRUE(seen.contains("listed:README")) << seen.join("|").toStdString();
    seen.clear();
    type("absent2.csv", false);
    Key(Qt::Key_I, Qt::ControlModifier);
    watchdog.stop();
    EXPECT_EQ(dialogs_->warnings.size(), 2);
    ASSERT_GE(seen.size(), 4);
    EXPECT_EQ(seen[0], QString::fromStdString(fs::canonical(dir_).string()));  // last folder
    EXPECT_EQ(seen[1], QStringLiteral("キャンセル"));
    EXPECT_EQ(seen[2], QStringLiteral("すべてのファイル (*.*)"));
    EXPECT_EQ(seen[3], QStringLiteral("CSV (カンマ区切り) (*.csv)"));
}

TEST_F(MainWindowTest, ProgressDialogCarriesTheCaptionAndTheTableName) {
    ShowActive();
    TUserDialogs real;
    real.BeginProgress(window_.get(), "EMP", false);
    EXPECT_TRUE(real.Progress(2048, 0));
    auto* progress = window_->findChild<QProgressDialog*>();
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress->windowTitle(), "Velnor for Windows");
    EXPECT_TRUE(progress->labelText().contains("EMP"));
    EXPECT_TRUE(progress->labelText().contains("2048"));
    real.EndProgress();
}

TEST_F(MainWindowTest, CancelMessagesSayWhatWasKept) {
    LogOnAsScott();
    Select("DEPT");
    const std::string old = WriteFile("dept.csv", "old content");
    dialogs_->saveFile = QString::fromStdString(old);
    dialogs_->stopAfterRows = 0;
    window_->ExportClick();
    dialogs_->saveFile = QString::fromStdString((dir_ / "new.csv").string());
    window_->ExportClick();
    dialogs_->openFile = QString::fromStdString(
        WriteFile("in.csv", "\"DEPTNO\",\"DNAME\",\"LOC\"\r\n50,\"A\",\"B\"\r\n"));
    window_->DeleteAfterImportClick();
    EXPECT_TRUE(dialogs_->errors.isEmpty()) << dialogs_->errors.join("\n").toStdString();
    ASSERT_EQ(dialogs_->informations.size(), 3);
    EXPECT_TRUE(dialogs_->informations[0].contains(QStringLiteral("元のファイルはそのまま")));
    std::ifstream in(old, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "old content");
    EXPECT_TRUE(dialogs_->informations[1].contains(QStringLiteral("作成されていません")));
    EXPECT_FALSE(fs::exists(dir_ / "new.csv"));
    EXPECT_TRUE(dialogs_->informations[2].contains(QStringLiteral("削除した行も元に戻っています")));
    EXPECT_EQ(CommittedRows("DEPT"), 4);
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
    const auto files = MakeFileDialog(window_.get(), "EMP.csv", true, TTextEncoding::teCp932);
    files->show();
    QTest::qWait(300);
    EXPECT_TRUE(files->grab().save(QString::fromStdString(*dir + "/file-dialog.png")));
}

}  // namespace
}  // namespace velnor::app::ui
