#include "catalogue/ui/SearchDialog.h"

#include <QColor>
#include <QFontMetrics>
#include <QStyle>
#include <algorithm>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "catalogue/AppState.h"
#include "catalogue/Browse.h"
#include "catalogue/ui/AuthorListModel.h"
#include "catalogue/ui/BookListModel.h"
#include "catalogue/ui/MainWindow.h"
#include "catalogue/ui/QtText.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"

namespace catalogue {

namespace {

enum { colAuthor = 0, colTitle, colFile, kColumns };
// Room between a file number and the column's edges besides the margins.
constexpr int kFileColumnPadding = 6;

}  // namespace

// --- the hit list ------------------------------------------------------------

TSearchResultModel::TSearchResultModel(QObject* parent) : QAbstractTableModel(parent) {}

void TSearchResultModel::SetHits(std::vector<TTitleHit> hits) {
  beginResetModel();
  hits_ = std::move(hits);
  endResetModel();
}

int TSearchResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(hits_.size());
}

int TSearchResultModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant TSearchResultModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const TTitleHit& h = Hit(index.row());
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case colAuthor: return AnsiToQString(h.author);
        case colTitle: return AnsiToQString(h.title);
        case colFile: return AnsiToQString(h.file);
      }
      break;
    case Qt::ForegroundRole:
      if (h.duplicate) return QColor(TBookListModel::kDuplicateColor);
      break;
    case Qt::TextAlignmentRole:
      if (index.column() == colFile) return int(Qt::AlignRight | Qt::AlignVCenter);
      break;
  }
  return {};
}

QVariant TSearchResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) {
    switch (section) {
      case colAuthor: return QStringLiteral("Автор");
      case colTitle: return QStringLiteral("Название");
      case colFile: return QStringLiteral("Файл");
    }
  }
  if (role == Qt::TextAlignmentRole && section == colFile) {
    return int(Qt::AlignRight | Qt::AlignVCenter);
  }
  return {};
}

// --- the dialog ----------------------------------------------------------------

TFS::TFS(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FS"));
  setWindowTitle(QStringLiteral("Поиск по названию книги"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

  LS = new QTreeView(this);
  LS->setObjectName(QStringLiteral("LS"));
  LSModel = new TSearchResultModel(LS);
  LS->setModel(LSModel);
  LS->setRootIsDecorated(false);
  LS->setUniformRowHeights(true);
  LS->setSelectionMode(QAbstractItemView::SingleSelection);
  LS->setSelectionBehavior(QAbstractItemView::SelectRows);
  LS->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // "Файл" is as wide as its widest number and the title takes the rest, so
  // the numbers are never cut, also beside a vertical scroll bar, and the
  // columns never need a horizontal one.
  QHeaderView* header = LS->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(colTitle, QHeaderView::Stretch);
  header->setSectionResizeMode(colFile, QHeaderView::Fixed);
  LS->setColumnWidth(colAuthor, 230);
  LS->setColumnWidth(colTitle, 330);
  FitFileColumn();
  connect(LSModel, &QAbstractItemModel::modelReset, this, &TFS::FitFileColumn);
  connect(LS, &QAbstractItemView::doubleClicked, this, &TFS::LSDblClick);

  OKBtn = new QPushButton(QStringLiteral("Перейти"), this);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setDefault(true);
  connect(OKBtn, &QPushButton::clicked, this, &TFS::LSDblClick);
  CancelBtn = new QPushButton(QStringLiteral("Отказ"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

  LHITS = new QLabel(this);
  LHITS->setObjectName(QStringLiteral("LHITS"));
  LHITS->setWordWrap(true);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(LS);
  layout->addWidget(LHITS);
  layout->addLayout(buttons);
  setFixedSize(680, 420);  // a fixed dialog border
}

int TFS::HitCount() const { return LSModel->rowCount(); }

void TFS::SetResult(std::vector<TTitleHit> hits, const std::string& damage) {
  damage_ = damage;
  QString text = QString::fromStdString(HitCountText(hits.size()));
  if (!damage.empty()) text += '\n' + QString::fromStdString(PartNotSearchedText(damage));
  LHITS->setText(text);
  LSModel->SetHits(std::move(hits));
}

void TFS::ShowResult() {
  if (HitCount() > 0) {
    exec();
    return;
  }
  std::string text = kMsgNoSearchYet;
  if (!query_.isEmpty()) {
    text = NoHitsMessage(query_.toStdString());
    if (!damage_.empty()) text += "\n\n" + PartNotSearchedText(damage_);
    if (!platform::FileExists(AppState().dbzPath)) text += std::string("\n\n") + kMsgNoCatalogue;
  }
  platform::MessageBox(text, "", platform::TMsgDlgType::mtInformation, {platform::mrOk});
}

void TFS::LSDblClick() {
  accept();
  const QModelIndexList rows = LS->selectionModel()->selectedRows();
  auto* f = qobject_cast<TF*>(parentWidget());
  if (rows.isEmpty() || !f) return;
  const TTitleHit& hit = LSModel->Hit(rows.first().row());
  gotoBook(*f, hit.authorIndex, hit.file);
}

void TFS::FitFileColumn() {
  // File numbers are digits: only the longest texts can be the widest.
  size_t longest = 0;
  for (int r = 0; r < LSModel->rowCount(); ++r) longest = std::max(longest, LSModel->Hit(r).file.size());
  const QFontMetrics metrics = LS->fontMetrics();
  int text = 0;
  for (int r = 0; r < LSModel->rowCount(); ++r) {
    const AnsiString& file = LSModel->Hit(r).file;
    if (file.size() + 1 >= longest) text = std::max(text, metrics.horizontalAdvance(AnsiToQString(file)));
  }
  // The cell's margins on both sides, as the style draws them.
  const int margin = 2 * (LS->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, LS) + 1);
  const int width = std::max(LS->header()->sectionSizeHint(colFile),
                             text + margin + kFileColumnPadding);
  LS->setColumnWidth(colFile, width);
}

void TFS::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  // The row that looks current is the selected one, so Enter and "Перейти"
  // go to the hit the user sees marked.
  if (!LS->selectionModel()->hasSelection() && LSModel->rowCount() > 0) {
    const QModelIndex first = LSModel->index(0, 0);
    LS->selectionModel()->setCurrentIndex(
        first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    LS->scrollTo(first);
  }
  LS->setFocus();  // FormActivate
}

// --- the main window's commands --------------------------------------------------

TFS* FormFS(TF& f) { return f.findChild<TFS*>(QStringLiteral("FS")); }

void TB_FINDClick(TF& f) {
  const QByteArray typed = f.ES->text().toUtf8();
  const TTitleMask m = MakeTitleMask(std::string_view(typed.constData(), typed.size()));
  switch (m.verdict) {
    case TTitleMask::tmEmpty:
      return;
    case TTitleMask::tmTooShort:
      platform::MessageBox(kTooShortMessage, "", platform::TMsgDlgType::mtCustom,
                           {platform::mrOk});
      return;
    case TTitleMask::tmSearch:
      break;
  }
  TFS* fs = FormFS(f);
  if (!fs) return;
  fs->SetQuery(f.ES->text());
  findBook(f, m.mask);
  fs->ShowResult();
}

void findBook(TF& f, const AnsiString& mask) {
  TFS* fs = FormFS(f);
  if (!fs) return;
  // The previous hits go first, so a search that finds nothing or fails
  // never shows them again as if they were its own.
  fs->SetResult({}, {});
  const TAppState& st = AppState();
  if (!platform::FileExists(st.dbzPath)) return;

  // A damaged block is searched as far as it can be read; one that cannot
  // be read at all is tried once per search, not once per author.
  std::string damage;
  int32_t unreadable = -1;
  const TBlockSource blockOf = [&](int32_t block) -> const TCatalogueBlock& {
    static const TCatalogueBlock kEmpty;
    if (block == unreadable) return kEmpty;
    std::string problem;
    const TCatalogueBlock& b = CheckedBlock(block, problem);
    if (!problem.empty()) {
      if (damage.empty()) damage = problem;
      if (b.Bytes().empty()) unreadable = block;
    }
    return b;
  };
  fs->SetResult(catalogue::findBook(mask, st.authors, st.hideDuplicates, blockOf, f), damage);
  if (!damage.empty()) f.ReportCatalogueDamage(damage);
}

void find1Click(TF& f) {
  // Ctrl+F stays live while a job disables the tool bar; going to a book
  // then would read the catalogue in the middle of the job.
  if (f.JobRunning()) return;
  if (TFS* fs = FormFS(f)) fs->ShowResult();
}

void gotoBook(TF& f, int32_t authorIndex, const AnsiString& file) {
  if (authorIndex < 0 || authorIndex >= f.LBModel->rowCount()) return;
  if (f.LBItemIndex() == authorIndex) {
    // Selecting the selected author again changes nothing: show its books
    // anew, so they follow settings changed meanwhile (hidden duplicates).
    f.refreshBooksTXT(authorIndex);
  } else {
    f.SelectAuthor(authorIndex);
  }
  QCoreApplication::processEvents();

  for (int r = 0; r < f.LVModel->rowCount(); ++r) {
    if (f.LVModel->Row(r).field[bfFile] == file) {
      const QModelIndex item = f.LVModel->index(r, 0);
      f.LV->selectionModel()->setCurrentIndex(
          item, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      f.LV->scrollTo(item);
      break;
    }
  }
}

}  // namespace catalogue
