#include "catalogue/ui/SettingsDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QFontInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <utility>

#include "catalogue/AppState.h"
#include "catalogue/FailureText.h"
#include "catalogue/Func.h"
#include "catalogue/ui/AuthorListModel.h"
#include "catalogue/ui/BookListModel.h"
#include "catalogue/ui/MainWindow.h"
#include "catalogue/ui/RowHeightDelegate.h"
#include "catalogue/ui/SearchDialog.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"

namespace catalogue {

namespace {

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }
std::string S(const QString& s) { return s.toStdString(); }

void ShowError(const std::string& text) {
  platform::MessageBox(text, "", platform::TMsgDlgType::mtError, {platform::mrOk});
}

// What to say when the settings file cannot be read (the defaults are used).
std::string ReadFailure(const std::exception& e) {
  return "Не удалось прочитать настройки из файла " + AppState().iniPath + ":\n" + FailureReason(e);
}

// Tells why the settings file cannot be written. A file or folder the
// user may not write in stays so and is told once (`toldUnsaveable`), as a
// warning: what OK applied holds for the session. Any other failure may
// pass, and is told each time.
void TellNotSaved(const std::exception& e, bool& toldUnsaveable) {
  std::string why;
  if (!AppState().dataDirWritable)
    why = DataDirNotWritableMessage();
  else if (SettingsFileReadOnly(AppState().iniPath))
    why = SettingsReadOnlyMessage(AppState().iniPath);
  if (why.empty())
    return ShowError("Не удалось сохранить настройки в файл " + AppState().iniPath + ":\n" +
                     FailureReason(e));
  if (std::exchange(toldUnsaveable, true)) return;
  platform::MessageBox(why + "\nИзменения настроек действуют до закрытия программы.", "",
                       platform::TMsgDlgType::mtWarning, {platform::mrOk});
}

}  // namespace

// --- the font --------------------------------------------------------------------

QFont FontOfSettings(const TSettings& s) {
  // A family this machine lacks falls back to a similar one; the settings
  // keep the name as configured.
  QFont font(Q(s.fontName));
  font.setPointSize(s.fontSize);
  font.setBold(s.fontStyle & fsBold);
  font.setItalic(s.fontStyle & fsItalic);
  font.setUnderline(s.fontStyle & fsUnderline);
  font.setStrikeOut(s.fontStyle & fsStrikeOut);
  return font;
}

void StoreFont(const QFont& font, TSettings& s) {
  s.fontName = S(font.family());
  s.fontSize = font.pointSize() > 0 ? font.pointSize() : QFontInfo(font).pointSize();
  s.fontStyle = (font.bold() ? fsBold : 0) | (font.italic() ? fsItalic : 0) |
                (font.underline() ? fsUnderline : 0) | (font.strikeOut() ? fsStrikeOut : 0);
}

void setFont(TF& f, const QFont& font) {
  f.EM->SetRowHeight(QFontInfo(font).pixelSize() + 8);
  f.LB->setFont(font);
  f.LV->setFont(font);
  emit f.EM->sizeHintChanged(QModelIndex());  // the views lay their rows out anew

  QFont title = font;
  title.setBold(true);
  title.setPointSize(std::max(1, QFontInfo(font).pointSize() + 2));
  f.LAU->setFont(title);
  f.LAU->setFixedHeight(QFontInfo(title).pixelSize() + 10);

  f.EAU->setFont(font);
  f.EAU->setFixedHeight(f.LAU->height() - 6);
}

// --- the dialog ------------------------------------------------------------------

TFINI::TFINI(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FINI"));
  setWindowTitle(QStringLiteral("Настойки"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);  // a fixed dialog border

  dirZIP = AddPathEdit("dirZIP", "Каталог архивов книг", 0);
  inpZIP = AddPathEdit("inpZIP", "Файл списка книг (librusec.inpx)", 1);
  cbINP = new QCheckBox(QStringLiteral("Использовать inpx для создания содержания"), this);
  cbINP->setObjectName(QStringLiteral("cbINP"));
  layout->addWidget(cbINP);
  dirEXP = AddPathEdit("dirEXP", "Каталог экспорта", 0);
  fb2reader = AddPathEdit("fb2reader", "FB2 reader", 1);
  fb2lrf = AddPathEdit("fb2lrf", "FB2 to LRF converter", 1);
  cbDUP = new QCheckBox(QStringLiteral("Не показывать дубли книг"), this);
  cbDUP->setObjectName(QStringLiteral("cbDUP"));
  layout->addWidget(cbDUP);

  LFNT = new QLabel(QStringLiteral("Шрифт"), this);
  LFNT->setObjectName(QStringLiteral("LFNT"));
  LFNT->setCursor(Qt::PointingHandCursor);
  LFNT->installEventFilter(this);
  layout->addWidget(LFNT);

  OKBtn = new QPushButton(QStringLiteral("OK"), this);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setDefault(true);
  connect(OKBtn, &QPushButton::clicked, this, &TFINI::OKBtnClick);
  CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  connect(CancelBtn, &QPushButton::clicked, this, &TFINI::reject);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(OKBtn, QDialogButtonBox::AcceptRole);
  buttons->addButton(CancelBtn, QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);

  OD = new QFileDialog(this);
  OD->setObjectName(QStringLiteral("OD"));
  FD = new QFontDialog(this);
  FD->setObjectName(QStringLiteral("FD"));

  // FormCreate.
  try {
    readINI();
  } catch (const std::exception& e) {
    ShowError(ReadFailure(e));
  }
}

QLineEdit* TFINI::AddPathEdit(const char* name, const char* label, int tag) {
  auto* caption = new QLabel(QString::fromUtf8(label), this);
  auto* edit = new QLineEdit(this);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setProperty("Tag", tag);
  edit->setMinimumWidth(360);
  caption->setBuddy(edit);
  QAction* button = edit->addAction(style()->standardIcon(tag == 0 ? QStyle::SP_DirOpenIcon
                                                                  : QStyle::SP_FileIcon),
                                    QLineEdit::TrailingPosition);
  connect(button, &QAction::triggered, this, [this, edit] { dirZIPRightButtonClick(edit); });
  layout()->addWidget(caption);
  layout()->addWidget(edit);
  return edit;
}

TF* TFINI::MainWindow() const { return qobject_cast<TF*>(parentWidget()); }

void TFINI::readINI() {
  const TAppState& st = AppState();
  Apply(ReadSettings(st.iniPath, st.defaultExportDir));
}

void TFINI::ShowControls(const TSettings& s) {
  dirZIP->setText(Q(s.libDir));
  inpZIP->setText(Q(s.inpFile));
  dirEXP->setText(Q(s.expDir));
  fb2reader->setText(Q(s.readerProgram));
  cbINP->setChecked(s.useInp);
  fb2lrf->setText(Q(s.converterProgram));
  cbDUP->setChecked(s.hideDuplicates);
  LFNT->setFont(FontOfSettings(s));
}

void TFINI::Apply(const TSettings& settings) {
  applied_ = settings;
  const TSettings& s = applied_;
  TAppState& st = AppState();
  ShowControls(s);

  // The state first: the window below shows the books by these settings
  // (hidden duplicates) at once.
  ApplySettings(s, st);

  TF* f = MainWindow();
  if (f) {
    f->EAU->setText(Q(s.authorFilter));
    const QList<int> sides = f->SP->sizes();
    int total = 0;
    for (int w : sides) total += w;
    f->SP->setSizes({s.authorWidth, std::max(1, total - s.authorWidth)});
    f->SetColumnWidths(s.columnWidths);
    f->setSort(s.sort);
    catalogue::setFont(*f, LFNT->font());
  }

  platform::ForceDirectories(absPath(s.expDir));  // a failure shows when exporting

  if (!f) return;
  if (s.authorIndex >= 0 && s.authorIndex < f->LBModel->rowCount()) {
    gotoBook(*f, s.authorIndex, platform::Utf8ToAnsi(s.bookFile));
  } else {
    // An author the catalogue no longer has (a stale or damaged file): the
    // author shown stays, but its books follow the settings just read, or
    // duplicates would show although they are to be hidden.
    f->refreshBooksTXT(f->LBItemIndex());
  }
}

TSettings TFINI::CurrentSettings() const {
  TSettings s = applied_;
  s.libDir = S(dirZIP->text());
  s.inpFile = S(inpZIP->text());
  s.expDir = S(dirEXP->text());
  s.readerProgram = S(fb2reader->text());
  s.useInp = cbINP->isChecked();
  s.converterProgram = S(fb2lrf->text());
  s.hideDuplicates = cbDUP->isChecked();
  StoreFont(LFNT->font(), s);

  if (const TF* f = MainWindow()) {
    s.sort = f->getSort();
    s.authorFilter = S(f->EAU->text());
    s.authorIndex = f->LBItemIndex();
    const std::vector<std::string> books = f->SelectedBookFiles();
    s.bookFile = books.empty() ? std::string() : platform::AnsiToUtf8(books.front());
    const QList<int> sides = f->SP->sizes();
    if (!sides.isEmpty()) s.authorWidth = sides.first();
    s.columnWidths = f->ColumnWidths();
  }
  return s;
}

void TFINI::writeINI() { WriteSettings(AppState().iniPath, CurrentSettings()); }

void TFINI::OKBtnClick() {
  // What the user chose holds for the session even when the file cannot
  // take it; the window's close tries to save it again.
  const TSettings chosen = CurrentSettings();
  bool saved = false;
  try {
    writeINI();
    saved = true;
    readINI();
  } catch (const std::exception& e) {
    Apply(chosen);
    if (saved)
      ShowError(ReadFailure(e));
    else
      TellNotSaved(e, toldUnsaveable_);
  }
  if (TF* f = MainWindow()) catalogue::setFont(*f, LFNT->font());
  accept();
}

void TFINI::reject() {
  // The edits go; the session keeps what it has, which the window shows
  // already (the file may hold older values: a read-only one, or a sort
  // changed since it was read).
  ShowControls(applied_);
  QDialog::reject();
}

void TFINI::LFNTClick() {
  FD->setCurrentFont(LFNT->font());
  if (FD->exec() == QDialog::Accepted) LFNT->setFont(FD->selectedFont());
}

void TFINI::dirZIPRightButtonClick(QLineEdit* edit) {
  const bool folder = edit->property("Tag").toInt() == 0;
  const std::string typed = S(edit->text());
  const std::string path = typed.empty() ? std::string() : absPath(typed);
  // A fresh dialog each time: a file name typed for one edit must not be
  // offered to the next.
  delete OD;
  OD = new QFileDialog(this);
  OD->setObjectName(QStringLiteral("OD"));
  OD->setDirectory(Q(platform::ExtractFilePath(path)));
  if (folder) {
    // A folder is picked as a folder (so an empty one can be picked too).
    OD->setFileMode(QFileDialog::Directory);
    OD->setOption(QFileDialog::ShowDirsOnly, true);
  } else {
    OD->setFileMode(QFileDialog::ExistingFile);
    OD->selectFile(Q(platform::ExtractFileName(path)));
  }
  if (OD->exec() != QDialog::Accepted || OD->selectedFiles().isEmpty()) return;
  const std::string chosen = S(OD->selectedFiles().first());
  edit->setText(Q(folder ? platform::IncludeTrailingPathDelimiter(chosen) : chosen));
}

void TFINI::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (const TF* f = MainWindow()) LFNT->setFont(f->LB->font());  // FormActivate
}

bool TFINI::eventFilter(QObject* watched, QEvent* e) {
  if (watched == LFNT && e->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
    LFNTClick();
    return true;
  }
  return QDialog::eventFilter(watched, e);
}

// --- the main window's side ----------------------------------------------------------

TFINI* FormFINI(TF& f) { return f.findChild<TFINI*>(QStringLiteral("FINI")); }

void TB_OPTClick(TF& f) {
  // On OK the dialog has read the settings back, which shows the selected
  // author's books anew by them (hidden duplicates) and keeps the book.
  if (TFINI* fini = FormFINI(f)) fini->exec();
}

}  // namespace catalogue
