#include "app/ui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTableWidget>
#include <QTranslator>
#include <QWindow>

#include "app/core/CsvEncodingSetting.h"
#include "app/core/ImportTransaction.h"
#include "app/ui/LogonDialog.h"
#include "oracle/client/OciLibrary.h"
#include "platform/RegionalSettings.h"
#include "platform/Registry.h"
#include "platform/UiHooks.h"

namespace velnor::app::ui {
namespace {

// The dialog shows each filter without its last "(...)" and matches by that last group, so
// the all-files entry reads "(*.*)" yet also lists names without a dot.
const QString kAllFiles = QStringLiteral("すべてのファイル (*.*) (*)");
const QString kFilter = kAllFiles + QStringLiteral(";;CSV (カンマ区切り) (*.csv) (*.csv)");

// Both dialogs open where the user last chose a file in this run.
QString& LastFolder() {
    static QString folder;
    return folder;
}

QString WithDefaultExtension(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
    return path + QStringLiteral(".csv");
}

constexpr TTextEncoding kEncodings[] = {TTextEncoding::teUtf8, TTextEncoding::teUtf8Bom,
                                        TTextEncoding::teCp932};

QString FileDialog(QWidget* parent, const QString& proposed, bool save, TTextEncoding& encoding) {
    const std::unique_ptr<QFileDialog> dialog = MakeFileDialog(parent, proposed, save, encoding);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    encoding = ChosenEncoding(*dialog);
    const QString path = WithDefaultExtension(dialog->selectedFiles().front());
    LastFolder() = QFileInfo(path).absolutePath();
    return path;
}

}  // namespace

std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* parent, const QString& proposed, bool save,
                                            TTextEncoding encoding) {
    auto dialog = std::make_unique<QFileDialog>(parent);
    // Qt's own dialog: the same on every desktop, translated with Qt's texts, and it lets the
    // window judge a typed name itself.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    dialog->setOption(QFileDialog::DontConfirmOverwrite);  // the window asks itself
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // A missing file gets through the open dialog so the window can say so in its own words.
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(kFilter);
    dialog->selectNameFilter(kAllFiles);
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    if (!LastFolder().isEmpty()) dialog->setDirectory(LastFolder());
    dialog->selectFile(proposed);
    // The encoding is chosen with the file, in a row below the file type.
    auto* combo = new QComboBox(dialog.get());
    combo->setObjectName("EncodingCombo");
    for (const TTextEncoding e : kEncodings) {
        combo->addItem(QString::fromUtf8(TextEncodingName(e)), static_cast<int>(e));
        if (e == encoding) combo->setCurrentIndex(combo->count() - 1);
    }
    auto* label = new QLabel(QStringLiteral("文字コード(&E):"), dialog.get());
    label->setObjectName("EncodingLabel");
    label->setBuddy(combo);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout())) {
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(combo, row, 1);
    }
    return dialog;
}

TTextEncoding ChosenEncoding(const QFileDialog& dialog) {
    const auto* combo = dialog.findChild<QComboBox*>("EncodingCombo");
    if (!combo || combo->currentIndex() < 0) return TTextEncoding::teUtf8;
    return static_cast<TTextEncoding>(combo->currentData().toInt());
}

bool InstallQtTranslations(QApplication& application) {
    auto* translator = new QTranslator(&application);
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QApplication::installTranslator(translator);
    return true;
}

QString TUserDialogs::OpenFileName(QWidget* parent, const QString& proposed,
                                   TTextEncoding& encoding) {
    return FileDialog(parent, proposed, false, encoding);
}

QString TUserDialogs::SaveFileName(QWidget* parent, const QString& proposed,
                                   TTextEncoding& encoding) {
    return FileDialog(parent, proposed, true, encoding);
}

bool TUserDialogs::AskOverwrite(QWidget* parent) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("情報"),
                    QStringLiteral("既にファイルがあります\r\n上書きしますか？"),
                    QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() != no;
}

void TUserDialogs::Warning(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QStringLiteral("警告"), text, QMessageBox::Ok);
}

void TUserDialogs::Error(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QStringLiteral("エラー"), text, QMessageBox::Ok);
}

void TUserDialogs::Information(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QStringLiteral("情報"), text, QMessageBox::Ok);
}

void TUserDialogs::BeginProgress(QWidget* parent, const QString& label, bool measured) {
    EndProgress();
    progress_ =
        new QProgressDialog(label, QStringLiteral("キャンセル"), 0, measured ? 100 : 0, parent);
    progress_->setWindowTitle(parent ? parent->window()->windowTitle() : QString());
    progressLabel_ = label;
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(500);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    progress_->setValue(0);
}

bool TUserDialogs::Progress(long long rows, int percent) {
    if (!progress_) return true;
    progress_->setLabelText(progressLabel_ + QStringLiteral("\n%1 行").arg(rows));
    if (progress_->maximum() > 0) progress_->setValue(percent);
    QCoreApplication::processEvents();
    return !progress_->wasCanceled();
}

void TUserDialogs::EndProgress() {
    delete progress_;
    progress_ = nullptr;
}

void InstallCursorHooks() {
    platform::TUiHooks hooks;
    static int current = platform::crDefault;
    hooks.GetCursor = [] { return current; };
    hooks.SetCursor = [](int cursor) {
        if (cursor == current) return;
        if (cursor == platform::crDefault) {
            while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
        } else if (QGuiApplication::overrideCursor()) {
            QGuiApplication::changeOverrideCursor(Qt::BusyCursor);
        } else {
            QGuiApplication::setOverrideCursor(Qt::BusyCursor);
        }
        current = cursor;
    };
    platform::InstallUiHooks(std::move(hooks));
}

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent), dialogs_(new TUserDialogs) {
    setObjectName("frmMain");
    setWindowTitle(QStringLiteral("Velnor for Windows"));
    setFont(WindowFont());
    setWindowIcon(QIcon(QStringLiteral(":/velnor.png")));

    session_ = std::make_unique<oracle::TOracleSession>(nullptr);
    session_->SetName("OracleSession");
    session_->SetBytesPerCharacter(oracle::TBytesPerCharacterOption::bcAutoDetect);
    session_->SetCursor(platform::crSQLWait);
    userTable_ = std::make_unique<TUserTable>(*session_);

    BuildGrid();
    BuildMenus();

    logonHistory_ = std::make_unique<TLogonHistory>(
        platform::TRegistryStore::ForRoot(platform::TRegistryRoot::CurrentUser));
    const std::vector<std::string> problems = logonHistory_->LoadFromRegistry();
    RefreshHistoryMenu();
    ClearTableGrid();

    resize(280, 480);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
    }
    if (!problems.empty()) {
        std::string text;
        for (const std::string& p : problems) text += (text.empty() ? "" : "\n") + p;
        // Shown once the window is up, so a damaged settings file never stops the start.
        QMetaObject::invokeMethod(
            this, [this, text] { dialogs_->Error(this, FromLocal(text)); }, Qt::QueuedConnection);
    }
}

TfrmMain::~TfrmMain() {
    try {
        session_->SetConnected(false);
    } catch (...) {  // nobody is left to tell; closeEvent already reported a failure
    }
}

void TfrmMain::SetDialogs(std::unique_ptr<TUserDialogs> dialogs) { dialogs_ = std::move(dialogs); }

void TfrmMain::BuildGrid() {
    StringGrid = new QTableWidget(this);
    StringGrid->setObjectName("StringGrid");
    StringGrid->setColumnCount(2);
    StringGrid->setHorizontalHeaderLabels(
        {QStringLiteral("テーブル名"), QStringLiteral("データ数")});
    StringGrid->setColumnWidth(0, 190);
    StringGrid->setColumnWidth(1, 60);
    StringGrid->verticalHeader()->setVisible(false);
    StringGrid->verticalHeader()->setDefaultSectionSize(20);
    StringGrid->horizontalHeader()->setFixedHeight(20);
    StringGrid->horizontalHeader()->setHighlightSections(false);
    StringGrid->horizontalHeader()->setSectionsClickable(false);
    StringGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    StringGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid->setShowGrid(true);
    StringGrid->setTabKeyNavigation(false);
    // The highlighted row is the one the commands act on: keep it visible without focus too.
    QPalette palette = StringGrid->palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    }
    StringGrid->setPalette(palette);
    StringGrid->installEventFilter(this);
    StringGrid->viewport()->installEventFilter(this);
    setCentralWidget(StringGrid);

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName("StatusBar");
    StatusBar->setFixedHeight(19);
    StatusBar->setSizeGripEnabled(false);
    StatusText = new QLabel(StatusBar);
    StatusText->setObjectName("StatusText");
    StatusBar->addPermanentWidget(StatusText, 1);
    setStatusBar(StatusBar);
}

void TfrmMain::BuildMenus() {
    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    fileMenu->setObjectName("FileItem");
    // With the history empty both separators stay, one above the other.
    fileMenu->setSeparatorsCollapsible(false);
    ConnectItem = fileMenu->addAction(QStringLiteral("接続(&O)"));
    ConnectItem->setObjectName("ConnectItem");
    connect(ConnectItem, &QAction::triggered, this, [this] { ConnectClick(ConnectItem); });
    DisconnectItem = fileMenu->addAction(QStringLiteral("切断(&C)"));
    DisconnectItem->setObjectName("DisconnectItem");
    connect(DisconnectItem, &QAction::triggered, this, &TfrmMain::DisconnectClick);
    fileMenu->addSeparator()->setObjectName("SP1");
    for (int i = 0; i < TLogonHistory::HistoryCount; ++i) {
        QAction* item = fileMenu->addAction(QString());
        item->setObjectName(QStringLiteral("HistoryItem%1").arg(i));
        item->setVisible(false);
        connect(item, &QAction::triggered, this, [this, item] { ConnectClick(item); });
        HistoryItems[i] = item;
    }
    fileMenu->addSeparator()->setObjectName("SP4");
    ExitItem = fileMenu->addAction(QStringLiteral("終了(&X)"));
    ExitItem->setObjectName("ExitItem");
    ExitItem->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_X));
    connect(ExitItem, &QAction::triggered, this, &TfrmMain::ExitClick);

    QMenu* viewMenu = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    viewMenu->setObjectName("ShowItem");
    StatusItem = viewMenu->addAction(QStringLiteral("ステータス バー(&B)"));
    StatusItem->setObjectName("StatusItem");
    StatusItem->setCheckable(true);
    StatusItem->setChecked(true);
    connect(StatusItem, &QAction::triggered, this, &TfrmMain::StatusClick);
    viewMenu->addSeparator()->setObjectName("SP2");
    RefreshItem = viewMenu->addAction(QStringLiteral("最新の情報に更新(&R)"));
    RefreshItem->setObjectName("RefreshItem");
    RefreshItem->setShortcut(QKeySequence(Qt::Key_F5));
    connect(RefreshItem, &QAction::triggered, this, &TfrmMain::RefreshClick);
    // Also on the window itself, so the shortcuts work while the menus are closed.
    addAction(ExitItem);
    addAction(RefreshItem);

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName("PopupMenu");
    // The shortcuts are shown here but served by the grid's key handler.
    ImportItem = PopupMenu->addAction(QStringLiteral("インポート(&I)"));
    ImportItem->setObjectName("ImportItem");
    ImportItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    ImportItem->setShortcutContext(Qt::WidgetShortcut);
    connect(ImportItem, &QAction::triggered, this, &TfrmMain::ImportClick);
    ExportItem = PopupMenu->addAction(QStringLiteral("エクスポート(&E)"));
    ExportItem->setObjectName("ExportItem");
    ExportItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    ExportItem->setShortcutContext(Qt::WidgetShortcut);
    connect(ExportItem, &QAction::triggered, this, &TfrmMain::ExportClick);
    PopupMenu->addSeparator()->setObjectName("SP3");
    DeleteAfterImportItem = PopupMenu->addAction(QStringLiteral("削除してからインポート(&R)"));
    DeleteAfterImportItem->setObjectName("DeleteAfterImportItem");
    connect(DeleteAfterImportItem, &QAction::triggered, this, &TfrmMain::DeleteAfterImportClick);
}

bool TfrmMain::RunCommand(const std::function<void()>& command) {
    try {
        command();
        return true;
    } catch (const std::exception& e) {
        dialogs_->EndProgress();
        dialogs_->Error(this, FromLocal(e.what()));
    } catch (...) {
        dialogs_->EndProgress();
        dialogs_->Error(this, QStringLiteral("Unknown error"));
    }
    return false;
}

void TfrmMain::ClearTableGrid() {
    StatusText->clear();
    StringGrid->clearContents();
    StringGrid->setRowCount(1);
    StringGrid->setItem(0, 0, new QTableWidgetItem(QString()));
    StringGrid->setItem(0, 1, new QTableWidgetItem(QString()));
    SetCurrentRow(-1);
}

void TfrmMain::SetCurrentRow(int row) {
    if (row < 0) {
        StringGrid->selectionModel()->clear();
        return;
    }
    StringGrid->setCurrentCell(row, 0,
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TfrmMain::RefreshTableGrid() {
    if (!session_->Connected()) {
        ClearTableGrid();
        return;
    }
    // Clearing the grid drops its current row; the same table is made current again below.
    const int selected = SelectedTable();
    const std::string highlighted = selected >= 0 ? userTable_->GetItem(selected).TableName : "";
    try {
        userTable_->Refresh();
    } catch (...) {
        // The grid and the catalogue must agree, or a command could act on another table.
        userTable_->Clear();
        ClearTableGrid();
        throw;
    }
    const int count = userTable_->Count();
    if (count == 0) {
        ClearTableGrid();
        return;
    }
    StringGrid->clearContents();
    StringGrid->setRowCount(count);
    int current = 0;
    for (int i = 0; i < count; ++i) {
        const TTable& entry = userTable_->GetItem(i);
        if (entry.TableName == highlighted) current = i;
        StringGrid->setItem(i, 0, new QTableWidgetItem(FromLocal(entry.TableName)));
        StringGrid->setItem(
            i, 1, new QTableWidgetItem(QString::number(static_cast<qlonglong>(entry.DataCount))));
    }
    SetCurrentRow(current);
    StatusText->setText(QString::number(count) + QStringLiteral("個のテーブル"));
}

void TfrmMain::RefreshHistoryMenu() {
    for (int i = 0; i < TLogonHistory::HistoryCount; ++i) {
        const QString caption = FromLocal(logonHistory_->HistoryCaption(i));
        HistoryItems[i]->setText(caption);
        HistoryItems[i]->setVisible(!caption.isEmpty());
    }
}

int TfrmMain::SelectedTable() const {
    const int count = userTable_->Count();
    const int index = StringGrid->currentRow();  // the grid's header row is not counted
    if (count < 1 || index < 0 || index >= count) return -1;
    return index;
}

void TfrmMain::ConnectClick(QObject* sender) {
    int k = 0;
    for (int i = 1; i < TLogonHistory::HistoryCount; ++i) {
        if (sender == HistoryItems[i]) k = i;
    }
    const bool ok = RunCommand([&] {
        const TLogon& entry = logonHistory_->GetItem(k);
        frmLogon_->UserName = entry.UserName;
        frmLogon_->Password = entry.Password;
        frmLogon_->Service = entry.Service;
        if (sender == ConnectItem && frmLogon_->ShowModal() == TfrmLogon::mrCancel) return;
        session_->SetLogonUsername(frmLogon_->UserName);
        session_->SetLogonPassword(frmLogon_->Password);
        session_->SetLogonDatabase(frmLogon_->Service);
        // A role parsed from an earlier logon string must not carry over.
        session_->SetConnectAs(oracle::TConnectAsOption::caNormal);
        session_->SetConnected(false);
        session_->SetConnected(true);
        if (const std::string warning = oracle::ClientCharacterSetWarning(); !warning.empty())
            dialogs_->Warning(this, QString::fromLocal8Bit(warning));
        RefreshTableGrid();
        logonHistory_->AddLogon(frmLogon_->UserName, frmLogon_->Password, frmLogon_->Service);
        logonHistory_->SaveToRegistry();
        RefreshHistoryMenu();
    });
    if (!ok) RunCommand([this] { DisconnectClick(); });
}

void TfrmMain::DisconnectClick() {
    RunCommand([this] {
        try {
            session_->SetConnected(false);
        } catch (...) {
            userTable_->Clear();
            ClearTableGrid();
            throw;
        }
        userTable_->Clear();
        RefreshTableGrid();
    });
}

void TfrmMain::RefreshClick() {
    RunCommand([this] { RefreshTableGrid(); });
}

void TfrmMain::ExitClick() { close(); }

void TfrmMain::StatusClick() { StatusBar->setVisible(StatusItem->isChecked()); }

void TfrmMain::ExportClick() {
    const int index = SelectedTable();
    if (index < 0) return;
    const std::string table = userTable_->GetItem(index).TableName;
    const TTextEncoding remembered = RememberedEncoding();
    TTextEncoding encoding = remembered;
    const QString path =
        dialogs_->SaveFileName(this, FromLocal(table) + QStringLiteral(".csv"), encoding);
    if (path.isEmpty()) return;
    RememberEncoding(remembered, encoding);
    const QFileInfo before(path);
    const bool existed = before.exists();
    if (existed && !dialogs_->AskOverwrite(this)) return;
    RunCommand([&] {
        dialogs_->BeginProgress(this, FromLocal(table), false);
        try {
            userTable_->ExportCsv(
                ToLocal(path), table,
                [this](const TTransferProgress& p) { return dialogs_->Progress(p.rows, 0); },
                encoding);
        } catch (const ECancelled&) {
            dialogs_->EndProgress();
            const QFileInfo after(path);
            const bool kept = after.exists() && after.size() == before.size() &&
                              after.lastModified() == before.lastModified();
            dialogs_->Information(
                this, QStringLiteral("エクスポートを取り消しました。") +
                          (!existed ? QStringLiteral("ファイルは作成されていません")
                           : kept ? QStringLiteral("元のファイルはそのまま残っています")
                                  : QStringLiteral("元のファイルの内容は失われました")));
            return;
        }
        dialogs_->EndProgress();
    });
}

TTextEncoding TfrmMain::RememberedEncoding() const {
    return LoadCsvEncoding(platform::TRegistryStore::ForRoot(platform::TRegistryRoot::CurrentUser));
}

void TfrmMain::RememberEncoding(TTextEncoding before, TTextEncoding chosen) {
    if (chosen == before) return;
    try {
        SaveCsvEncoding(platform::TRegistryStore::ForRoot(platform::TRegistryRoot::CurrentUser),
                        chosen);
    } catch (const std::exception& e) {
        // The transfer still goes in the chosen encoding; only the next proposal is lost.
        dialogs_->Warning(this, QStringLiteral("文字コードの選択を保存できませんでした\r\n") +
                                    FromLocal(e.what()));
    }
}

void TfrmMain::ImportClick() { Import(false); }

void TfrmMain::DeleteAfterImportClick() { Import(true); }

void TfrmMain::Import(bool deleteFirst) {
    const int index = SelectedTable();
    if (index < 0) return;
    const std::string table = userTable_->GetItem(index).TableName;
    const TTextEncoding remembered = RememberedEncoding();
    TTextEncoding encoding = remembered;
    const QString path =
        dialogs_->OpenFileName(this, FromLocal(table) + QStringLiteral(".csv"), encoding);
    if (path.isEmpty()) return;
    RememberEncoding(remembered, encoding);
    if (!QFileInfo::exists(path)) {
        dialogs_->Warning(this, QStringLiteral("ファイルがありません"));
        return;
    }
    bool cancelled = false;
    TImportTransaction work(*userTable_, table,
                            deleteFirst ? TImportMode::imReplace : TImportMode::imAppend);
    work.BeforeImport = [&](TImportTransaction&) {
        dialogs_->BeginProgress(this, FromLocal(table), true);
    };
    const bool ok = RunCommand([&] {
        try {
            work.Import(
                ToLocal(path),
                [this](const TTransferProgress& p) {
                    const int percent =
                        p.totalBytes > 0 ? static_cast<int>(100 * p.bytes / p.totalBytes) : 0;
                    return dialogs_->Progress(p.rows, percent);
                },
                encoding);
            dialogs_->EndProgress();
        } catch (const ECancelled&) {
            cancelled = true;
            dialogs_->EndProgress();
            return;
        }
        work.Commit();
        RefreshTableGrid();
    });
    if (!ok || cancelled) {
        try {
            work.Rollback();
        } catch (const std::exception& e) {
            dialogs_->Error(this, FromLocal(e.what()));
        }
    }
    if (cancelled) {
        dialogs_->Information(
            this, QStringLiteral("インポートを取り消しました。何もインポートされていません") +
                      (deleteFirst ? QStringLiteral("。削除した行も元に戻っています") : QString()));
    }
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    try {
        session_->SetConnected(false);
        event->accept();
    } catch (const std::exception& e) {
        dialogs_->Error(this, FromLocal(e.what()));
        event->ignore();
    }
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == StringGrid && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool control = key->modifiers() & Qt::ControlModifier;
        if (control && (key->key() == Qt::Key_I || key->key() == Qt::Key_E)) {
            if (SelectedTable() >= 0) {
                if (key->key() == Qt::Key_I) {
                    ImportClick();
                } else {
                    ExportClick();
                }
            }
            return true;
        }
    }
    if (watched == StringGrid->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton) {
            // The right button opens the pop-up but never moves the highlighted row.
            const int row = StringGrid->rowAt(mouse->position().toPoint().y());
            if (userTable_->Count() > 0 && row >= 0 && row < StringGrid->rowCount()) {
                PopupMenu->popup(StringGrid->viewport()->mapToGlobal(mouse->position().toPoint()));
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    FitOuterSize();
}

void TfrmMain::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    FitOuterSize();
}

void TfrmMain::FitOuterSize() {
    if (outerSizeFitted_ || !windowHandle()) return;
    const QMargins frame = windowHandle()->frameMargins();
    if (frame.isNull()) return;  // not framed yet; a later move event comes once it is
    outerSizeFitted_ = true;
    const QSize outer(280, 480);
    resize(outer.shrunkBy(frame));
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - outer.width()) / 2,
             area.y() + (area.height() - outer.height()) / 2);
    }
}

void TfrmMain::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LocaleChange) platform::ReloadRegionalSettings();
    QMainWindow::changeEvent(event);
}

}  // namespace velnor::app::ui
