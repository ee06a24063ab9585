// The main window: the table grid, the status line, the menus and every command.
#pragma once
#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

#include "app/core/LogonHistory.h"
#include "app/core/UserTable.h"
#include "oracle/session/OracleSession.h"

class QAction;
class QApplication;
class QFileDialog;
class QLabel;
class QMenu;
class QProgressDialog;
class QTableWidget;
class QStatusBar;

namespace velnor::app::ui {
class TfrmLogon;

// How the window asks the user; tests replace it to answer without a person.
struct TUserDialogs {
    virtual ~TUserDialogs() = default;
    // "" when the user cancels. The file's encoding is shown as `encoding` and the user's
    // choice comes back in it.
    virtual QString OpenFileName(QWidget* parent, const QString& proposed, TTextEncoding& encoding);
    virtual QString SaveFileName(QWidget* parent, const QString& proposed, TTextEncoding& encoding);
    // True for Yes.
    virtual bool AskOverwrite(QWidget* parent);
    virtual void Warning(QWidget* parent, const QString& text);
    virtual void Error(QWidget* parent, const QString& text);
    virtual void Information(QWidget* parent, const QString& text);
    // Progress of a long import or export; returning false asks it to stop.
    virtual void BeginProgress(QWidget* parent, const QString& label, bool measured);
    virtual bool Progress(long long rows, int percent);
    virtual void EndProgress();

private:
    QProgressDialog* progress_ = nullptr;
    QString progressLabel_;
};

// The window's file dialog, not yet shown; it opens in the folder used last in this run. Its
// combo box "EncodingCombo" offers the file encodings, `encoding` selected.
std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* parent, const QString& proposed, bool save,
                                            TTextEncoding encoding = TTextEncoding::teUtf8);
// The encoding chosen in a dialog made by MakeFileDialog.
[[nodiscard]] TTextEncoding ChosenEncoding(const QFileDialog& dialog);
// Loads Qt's own Japanese texts for its standard dialogs; false when they are not installed.
bool InstallQtTranslations(QApplication& application);

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    void SetLogonDialog(TfrmLogon* dialog) { frmLogon_ = dialog; }
    void SetDialogs(std::unique_ptr<TUserDialogs> dialogs);

    [[nodiscard]] oracle::TOracleSession& OracleSession() { return *session_; }
    [[nodiscard]] TUserTable& UserTable() { return *userTable_; }
    [[nodiscard]] TLogonHistory& LogonHistory() { return *logonHistory_; }

    // Commands; each catches every error itself and shows it.
    void ConnectClick(QObject* sender);
    void DisconnectClick();
    void RefreshClick();
    void ExitClick();
    void StatusClick();
    void ImportClick();
    void ExportClick();
    void DeleteAfterImportClick();

    QTableWidget* StringGrid = nullptr;
    QStatusBar* StatusBar = nullptr;
    // The status line's text, a widget so menu tips never replace it.
    QLabel* StatusText = nullptr;
    QMenu* PopupMenu = nullptr;
    QAction* ConnectItem = nullptr;
    QAction* DisconnectItem = nullptr;
    QAction* HistoryItems[TLogonHistory::HistoryCount] = {};
    QAction* ExitItem = nullptr;
    QAction* StatusItem = nullptr;
    QAction* RefreshItem = nullptr;
    QAction* ImportItem = nullptr;
    QAction* ExportItem = nullptr;
    QAction* DeleteAfterImportItem = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void BuildMenus();
    void BuildGrid();
    void RefreshTableGrid();
    void ClearTableGrid();
    void RefreshHistoryMenu();
    // Makes row `row` current and selected, or none for -1.
    void SetCurrentRow(int row);
    // Gives the window its outer size once the frame is known, then centres it.
    void FitOuterSize();
    // The catalogue index of the highlighted row, or -1 when it shows no table.
    [[nodiscard]] int SelectedTable() const;
    void Import(bool deleteFirst);
    // Runs a command with the error box of the window; false when it failed.
    bool RunCommand(const std::function<void()>& command);
    // The encoding last chosen, or UTF-8; and storing a new choice, which only warns on failure.
    [[nodiscard]] TTextEncoding RememberedEncoding() const;
    void RememberEncoding(TTextEncoding before, TTextEncoding chosen);

    std::unique_ptr<oracle::TOracleSession> session_;
    std::unique_ptr<TUserTable> userTable_;
    std::unique_ptr<TLogonHistory> logonHistory_;
    std::unique_ptr<TUserDialogs> dialogs_;
    TfrmLogon* frmLogon_ = nullptr;
    bool outerSizeFitted_ = false;
};

// Shows the busy cursor for the access layer's cursor numbers.
void InstallCursorHooks();

}  // namespace velnor::app::ui
