// TFINI (object "FINI", caption "Настойки"): the settings dialog, and the
// settings' side of the main window.
//
// The dialog edits the five paths, "use the index file", "hide duplicates"
// and the list font. Reading the settings file (readINI) fills the dialog,
// copies the values into the application state and, when the dialog's
// parent is the main window TF, restores the window: the author filter,
// the width of the author side, the book-list column widths and sort, the
// list font and the last author and book shown. Writing (writeINI) saves the
// dialog and that window state. The file is read when the dialog is made
// (at start-up) and after OK; it is written on OK and when the main window
// closes. What OK applies holds for the session even when the file cannot
// be written; Cancel brings back what the session had.
#pragma once

#include <QDialog>

#include "catalogue/Settings.h"

class QCheckBox;
class QFileDialog;
class QFont;
class QFontDialog;
class QLabel;
class QLineEdit;
class QPushButton;

namespace catalogue {

class TF;

class TFINI : public QDialog {
  Q_OBJECT

 public:
  // Reads the settings (FormCreate); a file that cannot be read is reported
  // and the defaults are used.
  explicit TFINI(QWidget* parent = nullptr);

  // Path edits, each with a button that opens OD. Tag 0 (a folder): dirZIP,
  // dirEXP; Tag 1 (a file): inpZIP, fb2reader, fb2lrf.
  QLineEdit* dirZIP = nullptr;
  QLineEdit* inpZIP = nullptr;
  QLineEdit* dirEXP = nullptr;
  QLineEdit* fb2reader = nullptr;
  QLineEdit* fb2lrf = nullptr;
  QCheckBox* cbINP = nullptr;  // "Использовать inpx для создания содержания"
  QCheckBox* cbDUP = nullptr;  // "Не показывать дубли книг"
  QLabel* LFNT = nullptr;      // "Шрифт", shown in the list font; a click opens FD
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;
  QFileDialog* OD = nullptr;  // made anew for each path button
  QFontDialog* FD = nullptr;

  // File -> dialog, application state and main window. Raises
  // platform::EFileError when the file exists but cannot be read.
  void readINI();
  // Dialog, application state and main window -> file. Raises
  // platform::EFileError when the file cannot be written.
  void writeINI();

  // The settings as the dialog and the main window hold them now.
  TSettings CurrentSettings() const;

 public slots:
  // Writes the settings, reads them back and applies the font; closes with
  // OK. When the file cannot be written the settings chosen are applied
  // all the same and the failure is told; a file or folder the user may
  // not write in is told by the first such OK only.
  void OKBtnClick();
  // Cancel, Escape and the close box (also when the session ends): the
  // dialog shows the values last applied again; the window keeps its state.
  void reject() override;
  void LFNTClick();
  // The button of a path edit: picks a folder (Tag 0) or a file (Tag 1),
  // starting where the edit's path points.
  void dirZIPRightButtonClick(QLineEdit* edit);

 protected:
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  TF* MainWindow() const;
  QLineEdit* AddPathEdit(const char* name, const char* label, int tag);
  // The settings into the dialog's controls.
  void ShowControls(const TSettings& s);
  // The settings into the dialog, the application state and the main
  // window (readINI from the file's values).
  void Apply(const TSettings& s);

  TSettings applied_;  // as last applied: keeps what no control shows
  bool toldUnsaveable_ = false;
};

// The dialog of the main window `f`.
TFINI* FormFINI(TF& f);

// The list font of the settings, and back into them (name, size, style).
QFont FontOfSettings(const TSettings& s);
void StoreFont(const QFont& font, TSettings& s);

// Applies the list font to the main window: row height of both lists (the
// font's pixel height + 8), the font of LB, LV, LAU and EAU, LAU bold and 2
// points larger.
void setFont(TF& f, const QFont& font);

// TB_OPT: the settings dialog, modal.
void TB_OPTClick(TF& f);

}  // namespace catalogue
