// TFS (object "FS"): the dialog that lists the hits of a title search, and
// the main window's title-search commands.
//
// The hit list LS is a view over TSearchResultModel, filled once when a
// search ends (a short mask can hit 100,000 titles). "Перейти" (OKBtn) or a
// double click closes the dialog and shows the selected book in the main
// window (gotoBook). Under the list LHITS says how many hits there are and
// whether part of the catalogue could not be searched. The dialog is a child
// of the main window TF; it keeps the last hits, which Ctrl+F (find1) shows
// again.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QString>
#include <string>
#include <vector>

#include "catalogue/TitleSearch.h"

class QLabel;
class QPushButton;
class QTreeView;

namespace catalogue {

class TF;

// The hits of a title search in the columns "Автор", "Название", "Файл";
// duplicates grey.
class TSearchResultModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TSearchResultModel(QObject* parent = nullptr);

  // Shows `hits` in place of what was shown.
  void SetHits(std::vector<TTitleHit> hits);
  const TTitleHit& Hit(int r) const { return hits_[static_cast<size_t>(r)]; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<TTitleHit> hits_;
};

class TFS : public QDialog {
  Q_OBJECT

 public:
  explicit TFS(QWidget* parent = nullptr);

  QTreeView* LS = nullptr;
  TSearchResultModel* LSModel = nullptr;
  QPushButton* OKBtn = nullptr;      // "Перейти"
  QPushButton* CancelBtn = nullptr;  // "Отказ"
  QLabel* LHITS = nullptr;           // the number of hits; what was not searched

  // The number of hits listed.
  int HitCount() const;
  // Lists `hits`; `damage` (UTF-8) says what part of the catalogue could not
  // be searched, empty when all of it was.
  void SetResult(std::vector<TTitleHit> hits, const std::string& damage);
  const std::string& Damage() const { return damage_; }
  // The text the last search was started with (empty before any search).
  void SetQuery(const QString& typed) { query_ = typed; }
  const QString& Query() const { return query_; }
  // Shows the hits modally; when there are none, a message box says so
  // instead (or that there has been no search yet).
  void ShowResult();
  // Makes "Файл" as wide as its widest number (and its caption).
  void FitFileColumn();

 public slots:
  // Closes the dialog with OK and, when a hit is selected, shows its book in
  // the main window (the dialog's parent).
  void LSDblClick();

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  QString query_;
  std::string damage_;
};

// The dialog of the main window `f`.
TFS* FormFS(TF& f);

// TB_FIND (and Enter in ES): searches the titles for the text of ES and
// shows the hits, or says that there are none. A text of fewer than 3 characters besides "*" is
// refused with a message.
void TB_FINDClick(TF& f);
// Fills FS with the books whose title matches `mask`; with no catalogue
// archive the list is emptied. Blocks that cannot be read are passed over
// and reported to `f` (ReportCatalogueDamage).
void findBook(TF& f, const AnsiString& mask);
// Ctrl+F: shows the last hits again, or says why there are none (not while
// a job runs).
void find1Click(TF& f);
// Selects author `authorIndex` (nothing happens outside the list) and shows
// its books, then selects the first book whose file number is `file` (ANSI).
void gotoBook(TF& f, int32_t authorIndex, const AnsiString& file);

}  // namespace catalogue
