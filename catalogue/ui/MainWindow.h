// TF (object "F"): the main window of Tomeshelf.
//
// The tool bar with its commands and the title-search box, the author side
// (the filter EAU over the author list LB) and the book side (the author's
// name LAU over the book list LV) split by SP, and the status bar SB with
// four panels. Long jobs run inside its event handlers on the GUI thread and
// report through its TJobHost side: showSB updates the panels and, throttled,
// lets pending events through so that TB_STOP can be pressed.
//
// The components are owned by the window (Qt parents); the pointers below are
// borrowed and valid for the window's lifetime.
#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "catalogue/Browse.h"
#include "catalogue/Job.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QSplitter;
class QStatusBar;
class QToolBar;
class QToolButton;
class QTreeView;

namespace catalogue {

class TAuthorListModel;
class TBookListModel;
struct TSortState;
class TRowHeightDelegate;

class TF : public QMainWindow, public TJobHost {
  Q_OBJECT

 public:
  explicit TF(QWidget* parent = nullptr);
  ~TF() override;

  // --- components, by their object names ---
  QToolBar* TB = nullptr;
  QToolButton* TB_CREDB = nullptr;
  QToolButton* TB_STOP = nullptr;
  QToolButton* TB_OPT = nullptr;
  QToolButton* TB_READ = nullptr;
  QToolButton* TB_SAVE = nullptr;  // pops up PM
  QWidget* PZ = nullptr;           // holds ES inside the tool bar
  QLineEdit* ES = nullptr;
  QToolButton* TB_FIND = nullptr;
  QToolButton* TB_STAT = nullptr;
  QToolButton* TB_WWW = nullptr;  // click: About; arrow: AB
  QSplitter* SP = nullptr;
  QWidget* PAU = nullptr;
  QLineEdit* EAU = nullptr;
  QTreeView* LB = nullptr;
  QWidget* PBO = nullptr;
  QLabel* LAU = nullptr;
  QTreeView* LV = nullptr;
  QStatusBar* SB = nullptr;
  QMenu* PM = nullptr;  // export kinds; also the popup menu of LV
  QAction* MI_FB2 = nullptr;
  QAction* MI_LRF = nullptr;
  QAction* SONYReader1 = nullptr;
  QMenu* AB = nullptr;
  QAction* MI_AB = nullptr;
  QAction* MI_WW = nullptr;
  QMenu* PX = nullptr;
  QAction* find1 = nullptr;          // Ctrl+F
  TRowHeightDelegate* EM = nullptr;  // its height sets the row height of LB and LV
  TAuthorListModel* LBModel = nullptr;
  TBookListModel* LVModel = nullptr;

  static constexpr int kPanelCount = 4;
  // The text of status panel k (0..3).
  QString PanelText(int k) const;

  // Panels 0..2 take the texts that are not empty (" " blanks a panel), then
  // pending events are processed, at most once per pump interval, so a job
  // may call this for every record.
  void showSB(const QString& p0, const QString& p1, const QString& p2);
  // Enables or disables every control that could start a job. TB_STOP stays
  // enabled.
  void disenTB(bool flag);
  // A job is running: closing the window is refused meanwhile.
  bool JobRunning() const { return jobDepth_ > 0; }
  // The system asks the program to end (a logout, a shutdown, a kill): the
  // window closes as by its close button (settings saved, work folder
  // emptied) once what is on top of it is answered: an open menu or dialog
  // is cancelled, a running job is stopped and awaited (a build then fails
  // and keeps the old catalogue, an export ends as stopped). Returns at
  // once; the rest follows from the event loop.
  void EndSession();

  // --- TJobHost ---
  void showSB(const std::string& p0, const std::string& p1, const std::string& p2) override;
  bool StopRequested() const override;
  void ClearStopRequest() override;
  bool Closing() const override { return ending_; }
  void JobStarted() override;
  void JobEnded() override;
  void Beep() override;

  // How often showSB lets events through while a job runs.
  static constexpr std::chrono::milliseconds kPumpInterval{30};

  // --- the author list ---
  // Loads the author list and shows the first author's books; tells the
  // user when the data folder is not writable. Runs at the end of
  // construction; set up AppState() (and any member reader) first.
  void FormCreate();
  // Loads the author array from the catalogue archive into LB. Without a
  // catalogue the status bar says how to make one; a damaged one is
  // reported once (the lists show what could be read).
  void iniDB();
  // Damage found in the catalogue archive (`reason`, UTF-8): the first time
  // since the catalogue was loaded a message box says so; afterwards only
  // the status bar does.
  void ReportCatalogueDamage(const std::string& reason);
  // The note the status bar shows about the catalogue when no job reports
  // (no catalogue yet, a damaged one), or empty.
  QString CatalogueNote() const { return note_; }
  // What was found wrong with the catalogue since it was loaded (UTF-8), or
  // empty.
  const std::string& CatalogueDamage() const { return damage_; }
  // The index of the author selected in LB, or -1.
  int LBItemIndex() const;
  // Selects author `index` of LB and scrolls it into view (which shows its
  // books); an index outside the list selects nothing.
  void SelectAuthor(int index);

  // --- the books of an author ---
  // Shows the books of author `index` (the one selected in LB): its name in
  // LAU with "Книг <n>" as the hint, its books sorted in LV.
  void refreshBooksTXT(int index);
  // Sorts LV by the sort state (AppState().sortColumn, sortDescending).
  void AlphaSort();
  // Marks header `column` of LV with the sort arrow when it is the sort
  // column: pointing up when ascending, down when descending (TSortHeader).
  // The header shows one arrow, so marking the sort column clears the
  // others.
  void SetColumnArrow(int column);
  // The sort state as the settings keep it ("A0".."D6"), and back: a text
  // that is not one of those sorts by the title, ascending.
  void setSort(const std::string& text);
  std::string getSort() const;
  // The widths of LV's columns as set: the last column fills whatever room
  // the others leave, but keeps its own width as the one to save.
  std::array<int, kBookColumnCount> ColumnWidths() const;
  void SetColumnWidths(const std::array<int, kBookColumnCount>& widths);

  // --- reading and export ---
  // The file numbers (ANSI) of the books selected in LV, in list order.
  std::vector<std::string> SelectedBookFiles() const;
  // Opens the first selected book in the FB2 reader; nothing when no book
  // is selected.
  void showBook();
  // Exports the selected books as `kind` (TExportKind, the Tag of a PM item)
  // and reports the counts.
  void expFiles(int kind);

 public slots:
  // Builds the book list (createBookList) from the settings as they stand;
  // once built, reloads the author list and selects the first author. An
  // error is shown and the old catalogue stays.
  void TB_CREDBClick();
  // Asks "Прервать процесс ?"; on Yes sets the stop flag (No leaves it).
  void TB_STOPClick();
  // Selects the first author whose name begins with `text`, if any.
  void EAUChange(const QString& text);
  // A click on the header of `column`: sort by it, or turn the direction
  // when it is the sort column already.
  void LVColumnClick(int column);
  // A double click on a book of LV (and TB_READ): showBook.
  void LVDblClick();
  // An item of PM: expFiles(its Tag).
  void MI_FB2Click(QAction* sender);

 protected:
  void FormActivate();
  void FormClose();

  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void CreateToolBar();
  void CreateSides();
  void CreateStatusBar();
  void CreateMenus();
  void ConnectBrowsing();
  // The title search, statistics, About, home page and settings commands.
  void ConnectCommands();
  // An author was selected in LB: shows its books.
  void LBSelectItem(const QModelIndex& item);
  // Makes `sort` the sort state, moves the arrow and sorts LV.
  void SortBy(const TSortState& sort);
  // Runs `handler`; an error it raises is shown in a message box, after
  // `what` (what failed, in Russian), with its reason (FailureReason; an
  // archiver error is about `archive`), instead of leaving through the
  // event loop.
  template <class F>
  void Guarded(const std::string& what, F&& handler, const std::string& archive = {});
  // Makes `text` the catalogue note and shows it unless a job reports.
  void SetNote(const QString& text);
  // One step of EndSession, repeated until the window is closed.
  void ContinueEnding();
  // Says, the first time only, that the settings file is read-only.
  void TellSettingsReadOnly();

  std::array<QLabel*, kPanelCount> panels_{};
  std::chrono::steady_clock::time_point lastPump_{};
  int jobDepth_ = 0;
  QString note_;
  bool damageReported_ = false;  // since the catalogue was loaded
  std::string damage_;           // the first damage found since then
  int lastColumnWidth_ = 0;
  bool ending_ = false;  // EndSession until the window closes
  bool settingsReadOnlyTold_ = false;
};

}  // namespace catalogue
