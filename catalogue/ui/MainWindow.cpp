#include "catalogue/ui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "catalogue/AppState.h"
#include "catalogue/BookList.h"
#include "catalogue/Browse.h"
#include "catalogue/Export.h"
#include "catalogue/FailureText.h"
#include "catalogue/ui/AuthorListModel.h"
#include "catalogue/ui/BookListModel.h"
#include "catalogue/ui/InfoBoxes.h"
#include "catalogue/ui/QtText.h"
#include "catalogue/ui/RowHeightDelegate.h"
#include "catalogue/ui/SearchDialog.h"
#include "catalogue/ui/SettingsDialog.h"
#include "catalogue/ui/SortHeader.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"

namespace catalogue {

namespace {

constexpr int kPanelWidths[TF::kPanelCount] = {200, 150, 80, 80};
// Default widths of the book list's columns.
constexpr std::array<int, kBookColumnCount> kColumnWidths = {250, 150, 80, 80, 100, 60, 60};

QIcon ThemeIcon(const QStyle* style, const char* name, QStyle::StandardPixmap fallback) {
  return QIcon::fromTheme(QString::fromLatin1(name), style->standardIcon(fallback));
}

QAction* AddMenuItem(QMenu* menu, const char* name, const char* caption, int tag) {
  QAction* a = menu->addAction(QString::fromUtf8(caption));
  a->setObjectName(QString::fromLatin1(name));
  a->setProperty("Tag", tag);
  return a;
}

// A side of the window: a splitter pane stacking its widgets top to bottom.
QWidget* NewSide(QSplitter* splitter, const char* name) {
  auto* side = new QWidget(splitter);
  side->setObjectName(QString::fromLatin1(name));
  auto* layout = new QVBoxLayout(side);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  return side;
}

// A read-only report list with whole-row selection.
QTreeView* NewListView(QWidget* parent, const char* name,
                       QAbstractItemView::SelectionMode selection, QAbstractItemDelegate* rows) {
  auto* v = new QTreeView(parent);
  v->setObjectName(QString::fromLatin1(name));
  v->setItemDelegate(rows);
  v->setRootIsDecorated(false);
  v->setUniformRowHeights(true);
  v->setSelectionMode(selection);
  v->setSelectionBehavior(QAbstractItemView::SelectRows);
  v->setEditTriggers(QAbstractItemView::NoEditTriggers);
  return v;
}

}  // namespace

TF::TF(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("F"));
  setWindowTitle(QStringLiteral("Tomeshelf"));

  CreateMenus();
  CreateToolBar();
  CreateSides();
  CreateStatusBar();
  ConnectBrowsing();
  ConnectCommands();

  // Centred when restored; opens maximised.
  resize(1000, 700);
  if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
  setWindowState(windowState() | Qt::WindowMaximized);

  FormCreate();
}

TF::~TF() = default;

void TF::CreateMenus() {
  PM = new QMenu(this);
  PM->setObjectName(QStringLiteral("PM"));
  MI_FB2 = AddMenuItem(PM, "MI_FB2", "fb2", 0);
  MI_LRF = AddMenuItem(PM, "MI_LRF", "lrf", 1);
  SONYReader1 = AddMenuItem(PM, "SONYReader1", "lrf в SONY Reader", 2);

  AB = new QMenu(this);
  AB->setObjectName(QStringLiteral("AB"));
  MI_AB = AddMenuItem(AB, "MI_AB", "О программе", 0);
  MI_WW = AddMenuItem(AB, "MI_WW", "Домашняя страница", 1);

  // PX only carries the Ctrl+F item and is never popped up: its one item is
  // invisible. (Qt drops the shortcut of a hidden action, so the action
  // itself stays visible and the window listens for its shortcut.)
  PX = new QMenu(this);
  PX->setObjectName(QStringLiteral("PX"));
  find1 = AddMenuItem(PX, "find1", "find", 0);
  find1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  find1->setShortcutContext(Qt::WindowShortcut);
  addAction(find1);
}

void TF::CreateToolBar() {
  TB = addToolBar(QString());
  TB->setObjectName(QStringLiteral("TB"));
  TB->setMovable(false);
  TB->setFloatable(false);
  TB->toggleViewAction()->setVisible(false);

  const QStyle* st = style();
  auto button = [&](const char* name, const char* hint, const char* icon,
                    QStyle::StandardPixmap fallback) {
    auto* b = new QToolButton(TB);
    b->setObjectName(QString::fromLatin1(name));
    b->setToolTip(QString::fromUtf8(hint));
    b->setIcon(ThemeIcon(st, icon, fallback));
    b->setAutoRaise(true);
    TB->addWidget(b);
    return b;
  };

  TB_CREDB = button("TB_CREDB", "Создать список книг", "view-refresh", QStyle::SP_BrowserReload);
  connect(TB_CREDB, &QToolButton::clicked, this, &TF::TB_CREDBClick);
  TB_STOP = button("TB_STOP", "Прервать", "process-stop", QStyle::SP_BrowserStop);
  connect(TB_STOP, &QToolButton::clicked, this, &TF::TB_STOPClick);
  TB->addSeparator();
  TB_OPT = button("TB_OPT", "Настройки", "preferences-system", QStyle::SP_FileDialogDetailedView);
  TB->addSeparator();
  TB_READ = button("TB_READ", "Читать", "document-open", QStyle::SP_DialogOpenButton);
  TB_SAVE = button("TB_SAVE", "Экспорт", "document-save-as", QStyle::SP_DialogSaveButton);
  TB_SAVE->setMenu(PM);
  TB_SAVE->setPopupMode(QToolButton::InstantPopup);
  TB->addSeparator();

  PZ = new QWidget(TB);
  PZ->setObjectName(QStringLiteral("PZ"));
  auto* pzLayout = new QHBoxLayout(PZ);
  pzLayout->setContentsMargins(2, 0, 2, 0);
  ES = new QLineEdit(PZ);
  ES->setObjectName(QStringLiteral("ES"));
  ES->setMinimumWidth(200);
  pzLayout->addWidget(ES);
  TB->addWidget(PZ);

  TB_FIND = button("TB_FIND", "Поиск по названию", "edit-find", QStyle::SP_FileDialogContentsView);
  TB->addSeparator();
  TB_STAT = button("TB_STAT", "Статистика", "document-properties", QStyle::SP_FileDialogInfoView);
  TB_WWW = button("TB_WWW", "О программе", "help-about", QStyle::SP_MessageBoxInformation);
  TB_WWW->setMenu(AB);
  TB_WWW->setPopupMode(QToolButton::MenuButtonPopup);
}

void TF::CreateSides() {
  EM = new TRowHeightDelegate(this);
  EM->setObjectName(QStringLiteral("EM"));

  SP = new QSplitter(Qt::Horizontal, this);
  SP->setObjectName(QStringLiteral("SP"));
  setCentralWidget(SP);

  // Author side.
  PAU = NewSide(SP, "PAU");
  PAU->setMinimumWidth(100);
  EAU = new QLineEdit(PAU);
  EAU->setObjectName(QStringLiteral("EAU"));
  LB = NewListView(PAU, "LB", QAbstractItemView::SingleSelection, EM);
  LBModel = new TAuthorListModel(LB);
  LB->setModel(LBModel);
  LB->header()->setSectionsClickable(false);
  LB->header()->setStretchLastSection(true);
  PAU->layout()->addWidget(EAU);
  PAU->layout()->addWidget(LB);

  // Book side.
  PBO = NewSide(SP, "PBO");
  LAU = new QLabel(PBO);
  LAU->setObjectName(QStringLiteral("LAU"));
  LV = NewListView(PBO, "LV", QAbstractItemView::ExtendedSelection, EM);
  LV->setHeader(new TSortHeader(LV));
  LVModel = new TBookListModel(LV);
  LV->setModel(LVModel);
  LV->header()->setStretchLastSection(true);
  SetColumnWidths(kColumnWidths);
  LV->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(LV, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PM->popup(LV->viewport()->mapToGlobal(pos)); });
  PBO->layout()->addWidget(LAU);
  PBO->layout()->addWidget(LV);

  SP->setCollapsible(0, false);
  SP->setStretchFactor(1, 1);
  SP->setSizes({200, 800});
}

void TF::CreateStatusBar() {
  SB = statusBar();
  SB->setObjectName(QStringLiteral("SB"));
  for (int k = 0; k < kPanelCount; ++k) {
    auto* panel = new QLabel(SB);
    panel->setFixedWidth(kPanelWidths[k]);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    SB->addWidget(panel);
    panels_[k] = panel;
  }
}

QString TF::PanelText(int k) const {
  return k >= 0 && k < kPanelCount ? panels_[k]->text() : QString();
}

void TF::showSB(const QString& p0, const QString& p1, const QString& p2) {
  // The panels are hidden while the status bar shows a note.
  if (!SB->currentMessage().isEmpty()) SB->clearMessage();
  const QString* texts[3] = {&p0, &p1, &p2};
  for (int k = 0; k < 3; ++k) {
    if (!texts[k]->isEmpty()) panels_[k]->setText(*texts[k]);
  }
  // Pumping on every call would cost more than the job itself; every
  // kPumpInterval is often enough for Stop and for the panels to repaint.
  const auto now = std::chrono::steady_clock::now();
  if (now - lastPump_ >= kPumpInterval) {
    lastPump_ = now;
    QCoreApplication::processEvents();
  }
}

void TF::showSB(const std::string& p0, const std::string& p1, const std::string& p2) {
  showSB(QString::fromStdString(p0), QString::fromStdString(p1), QString::fromStdString(p2));
}

void TF::disenTB(bool flag) {
  for (QWidget* w : std::initializer_list<QWidget*>{TB_CREDB, TB_OPT, TB_READ, TB_SAVE, TB_FIND,
                                                    TB_STAT, TB_WWW, ES, LB, LV}) {
    w->setEnabled(flag);
  }
}

bool TF::StopRequested() const { return AppState().stopFlag || ending_; }

void TF::ClearStopRequest() { AppState().stopFlag = false; }

void TF::JobStarted() {
  if (jobDepth_++ == 0) disenTB(false);
}

void TF::JobEnded() {
  if (jobDepth_ > 0 && --jobDepth_ == 0) {
    disenTB(true);
    SetNote(note_);
  }
}

void TF::Beep() { QApplication::beep(); }

void TF::EndSession() {
  if (ending_) return;  // a second signal: already on the way
  ending_ = true;
  ContinueEnding();
}

void TF::ContinueEnding() {
  if (!ending_) return;  // closed meanwhile
  // The next step is due before this one acts: saving the settings while
  // the window closes may put up a box that nobody is there to answer.
  QTimer::singleShot(kPumpInterval, this, &TF::ContinueEnding);
  // A menu or dialog runs an event loop of its own, which must return
  // before the code that opened it can go on and end; cancelling is what
  // nobody's answer means. A job sees the stop at its next look.
  if (QWidget* popup = QApplication::activePopupWidget()) {
    popup->close();
  } else if (QWidget* modal = QApplication::activeModalWidget()) {
    // A message nobody is left to read goes to the error output, which the
    // session's log keeps: why the settings could not be saved, say.
    if (const auto* box = qobject_cast<const QMessageBox*>(modal))
      std::fprintf(stderr, "tomeshelf: %s\n", box->text().toStdString().c_str());
    modal->close();
  } else if (!JobRunning()) {
    close();
  }
}

void TF::TB_CREDBClick() {
  TBuildSession session;
  bool built = false;
  // The index file is the one archive an archiver error of a build can be
  // about (damaged book archives are counted and passed over); it is known
  // once the settings are read, and Guarded reads it only on a failure.
  std::string indexFile;
  Guarded("Не удалось создать список книг", [&] {
    const TFINI* fini = FormFINI(*this);
    session = NewBuildSession(AppState(), fini ? fini->CurrentSettings()
                                               : ReadSettings(AppState().iniPath, AppState().defaultExportDir));
    if (session.useInp) indexFile = session.inpFile;
    built = createBookList(*this, session);
  }, indexFile);
  if (!built) return;
  AppState().countAuthors = static_cast<int32_t>(session.authors);
  AppState().countBooks = static_cast<int32_t>(session.books);
  AppState().countDuplicates = static_cast<int32_t>(session.duplicates);
  iniDB();
  AppState().blockCache.Clear();
  SelectAuthor(0);
}

void TF::TB_STOPClick() {
  if (platform::AskYesNo("Прервать процесс ?", "Confirmation")) AppState().stopFlag = true;
}

// --- the author list --------------------------------------------------------

template <class F>
void TF::Guarded(const std::string& what, F&& handler, const std::string& archive) {
  try {
    handler();
  } catch (const std::exception& e) {
    platform::MessageBox(what + ":\n" + FailureReason(e, archive), "", platform::TMsgDlgType::mtError,
                         {platform::mrOk});
  }
}

void TF::SetNote(const QString& text) {
  note_ = text;
  if (JobRunning()) return;  // the job's texts first; the note comes back after it
  if (text.isEmpty())
    SB->clearMessage();
  else
    SB->showMessage(text);
}

void TF::ReportCatalogueDamage(const std::string& reason) {
  if (!damageReported_) {
    damageReported_ = true;
    damage_ = reason;
    platform::MessageBox(CatalogueDamagedMessage(AppState().dbzPath, reason), "",
                         platform::TMsgDlgType::mtError, {platform::mrOk});
  }
  SetNote(QString::fromUtf8(kMsgCatalogueDamagedNote));
}

void TF::ConnectBrowsing() {
  connect(EAU, &QLineEdit::textChanged, this, &TF::EAUChange);
  connect(LB->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected) {
            if (!selected.isEmpty()) LBSelectItem(selected.indexes().first());
          });

  QHeaderView* header = LV->header();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(true);
  header->setSortIndicator(-1, Qt::AscendingOrder);
  connect(header, &QHeaderView::sectionClicked, this, &TF::LVColumnClick);
}

void TF::ConnectCommands() {
  const auto search = [this] {
    Guarded("Не удалось выполнить поиск по названию", [this] { TB_FINDClick(*this); });
  };
  connect(TB_FIND, &QToolButton::clicked, this, search);
  connect(ES, &QLineEdit::returnPressed, this, search);
  connect(find1, &QAction::triggered, this, [this] { find1Click(*this); });
  connect(TB_STAT, &QToolButton::clicked, this, [this] {
    Guarded("Не удалось показать статистику", [this] { TB_STATClick(this); });
  });
  connect(TB_WWW, &QToolButton::clicked, this, [] { MI_ABClick(); });
  connect(MI_AB, &QAction::triggered, this, [] { MI_ABClick(); });
  connect(MI_WW, &QAction::triggered, this, [] { MI_WWClick(); });
  connect(TB_OPT, &QToolButton::clicked, this, [this] { TB_OPTClick(*this); });
  connect(LV, &QAbstractItemView::doubleClicked, this, &TF::LVDblClick);
  connect(TB_READ, &QToolButton::clicked, this, &TF::LVDblClick);
  for (QAction* item : {MI_FB2, MI_LRF, SONYReader1})
    connect(item, &QAction::triggered, this, [this, item] { MI_FB2Click(item); });
}

void TF::FormCreate() {
  if (!AppState().dataDirWritable) {
    platform::MessageBox(DataDirNotWritableMessage(), "", platform::TMsgDlgType::mtWarning,
                         {platform::mrOk});
  } else if (SettingsFileReadOnly(AppState().iniPath)) {
    TellSettingsReadOnly();
  }
  iniDB();
  SetColumnArrow(AppState().sortColumn);
  SelectAuthor(0);
}

void TF::iniDB() {
  damageReported_ = false;
  damage_.clear();
  const TCatalogueLoad load = LoadCatalogue();
  LBModel->Reload();
  LVModel->Clear();
  switch (load.state) {
    case TCatalogueLoad::clMissing:
      SetNote(QString::fromUtf8(kMsgNoCatalogue));
      break;
    case TCatalogueLoad::clLoaded:
      SetNote({});
      break;
    case TCatalogueLoad::clDamaged:
      ReportCatalogueDamage(load.reason);
      break;
  }
}

int TF::LBItemIndex() const {
  const QModelIndexList selected = LB->selectionModel()->selectedRows();
  return selected.isEmpty() ? -1 : selected.first().row();
}

void TF::SelectAuthor(int index) {
  if (index < 0 || index >= LBModel->rowCount()) return;
  const QModelIndex item = LBModel->index(index, 0);
  LB->setCurrentIndex(item);
  LB->scrollTo(item);
}

void TF::EAUChange(const QString& text) {
  const int32_t i = findAuthor(AppState().authors, QStringToAnsi(text));
  if (i >= 0) SelectAuthor(i);
}

void TF::LBSelectItem(const QModelIndex& item) {
  if (item.isValid()) refreshBooksTXT(item.row());
}

// --- the books of an author --------------------------------------------------

// The sort state of the application, its column brought into range.
static TSortState CurrentSort() {
  const TAppState& st = AppState();
  return {ClampSortColumn(st.sortColumn), st.sortDescending};
}

void TF::refreshBooksTXT(int index) {
  const TAppState& st = AppState();
  if (index < 0 || static_cast<size_t>(index) >= st.authors.size()) return;
  LAU->setText(AnsiToQString(st.authors[index]));
  if (!platform::FileExists(st.dbzPath)) return;

  // What could be read is shown; another author's books never stay under
  // this author's name.
  std::string damage;
  TAuthorBooks books = ReadAuthorBooks(index, st.hideDuplicates, damage);
  LVModel->SetBooks(std::move(books.rows), CurrentSort());
  LAU->setToolTip(QStringLiteral("Книг %1").arg(books.count));
  if (!damage.empty()) {
    ReportCatalogueDamage(damage);
    if (books.count == 0) SetNote(QString::fromUtf8(kMsgAuthorBooksUnreadable));
  } else if (damageReported_) {
    SetNote(QString::fromUtf8(kMsgCatalogueDamagedNote));
  }
}

void TF::AlphaSort() { LVModel->Sort(CurrentSort()); }

void TF::SortBy(const TSortState& sort) {
  AppState().sortColumn = sort.column;
  AppState().sortDescending = sort.descending;
  for (int c = 0; c < TBookListModel::kColumnCount; ++c) SetColumnArrow(c);
  AlphaSort();
}

void TF::LVColumnClick(int column) { SortBy(ColumnClicked(CurrentSort(), column)); }

void TF::SetColumnArrow(int column) {
  const TSortState sort = CurrentSort();
  QHeaderView* header = LV->header();
  if (column == sort.column)
    header->setSortIndicator(column, sort.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
  else if (header->sortIndicatorSection() == column)
    header->setSortIndicator(-1, Qt::AscendingOrder);
}

void TF::setSort(const std::string& text) { SortBy(ParseSortText(text)); }

std::array<int, kBookColumnCount> TF::ColumnWidths() const {
  std::array<int, kBookColumnCount> widths{};
  for (int c = 0; c + 1 < kBookColumnCount; ++c) widths[c] = LV->columnWidth(c);
  widths[kBookColumnCount - 1] = lastColumnWidth_;
  return widths;
}

void TF::SetColumnWidths(const std::array<int, kBookColumnCount>& widths) {
  for (int c = 0; c < kBookColumnCount; ++c) LV->setColumnWidth(c, widths[c]);
  lastColumnWidth_ = widths[kBookColumnCount - 1];
}

std::string TF::getSort() const { return FormatSortText(CurrentSort()); }

// --- reading and export -------------------------------------------------------

std::vector<std::string> TF::SelectedBookFiles() const {
  QModelIndexList rows = LV->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<std::string> files;
  for (const QModelIndex& row : rows) files.push_back(LVModel->Row(row.row()).field[bfFile]);
  return files;
}

void TF::showBook() {
  const std::vector<std::string> files = SelectedBookFiles();
  if (!files.empty()) Guarded("Не удалось открыть книгу", [&] { readBook(*this, files.front()); });
}

void TF::LVDblClick() { showBook(); }

void TF::expFiles(int kind) {
  Guarded("Не удалось экспортировать книги",
          [&] { catalogue::expFiles(*this, SelectedBookFiles(), kind); });
}

void TF::MI_FB2Click(QAction* sender) { expFiles(sender->property("Tag").toInt()); }

void TF::TellSettingsReadOnly() {
  if (settingsReadOnlyTold_) return;
  settingsReadOnlyTold_ = true;
  platform::MessageBox(SettingsReadOnlyMessage(AppState().iniPath), "",
                       platform::TMsgDlgType::mtWarning, {platform::mrOk});
}

void TF::FormActivate() { QCoreApplication::processEvents(); }

void TF::FormClose() {
  // The settings and where the user was; a failure is shown, and the
  // window closes all the same. A data folder the program may not write in
  // was reported at start.
  TFINI* fini = FormFINI(*this);
  if (fini && AppState().dataDirWritable) {
    if (SettingsFileReadOnly(AppState().iniPath))
      TellSettingsReadOnly();  // left as the user made it
    else
      Guarded("Не удалось сохранить настройки в файл " + AppState().iniPath,
              [fini] { fini->writeINI(); });
  }
  // Nothing a build or a reading left in the work folder outlives the
  // program.
  clearTmpDir();
}

bool TF::event(QEvent* e) {
  if (e->type() == QEvent::StatusTip) {
    // Hovering a menu item or a tool button replaces the status bar's
    // message with its tip, an empty one included; the catalogue note comes
    // back in place of an empty tip.
    const QString tip = static_cast<QStatusTipEvent*>(e)->tip();
    if (!tip.isEmpty())
      SB->showMessage(tip);
    else
      SetNote(note_);
    return true;
  }
  const bool handled = QMainWindow::event(e);
  if (e->type() == QEvent::WindowActivate) FormActivate();
  if (e->type() == QEvent::Show && !SB->currentMessage().isEmpty()) {
    // The status bar hides its panels under a message only when they are
    // visible; a note put up before the window was shown must be put up
    // again, or the panels' frames cross it.
    const QString message = SB->currentMessage();
    SB->clearMessage();
    SB->showMessage(message);
  }
  return handled;
}

void TF::closeEvent(QCloseEvent* e) {
  // A running job keeps its tables and files in the work folder, which
  // closing would empty under it.
  if (JobRunning()) {
    e->ignore();
    return;
  }
  FormClose();
  ending_ = false;
  e->accept();
}

}  // namespace catalogue
