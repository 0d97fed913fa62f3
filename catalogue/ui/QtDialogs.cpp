#include "catalogue/ui/QtDialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <algorithm>
#include <map>

namespace catalogue {

namespace {

using platform::TModalResult;

QMessageBox::Icon IconOf(platform::TMsgDlgType type) {
  switch (type) {
    case platform::TMsgDlgType::mtWarning:
      return QMessageBox::Warning;
    case platform::TMsgDlgType::mtError:
      return QMessageBox::Critical;
    case platform::TMsgDlgType::mtInformation:
      return QMessageBox::Information;
    case platform::TMsgDlgType::mtConfirmation:
      return QMessageBox::Question;
    case platform::TMsgDlgType::mtCustom:
      break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButton StandardButtonOf(TModalResult r) {
  switch (r) {
    case platform::mrOk:
      return QMessageBox::Ok;
    case platform::mrCancel:
      return QMessageBox::Cancel;
    case platform::mrAbort:
      return QMessageBox::Abort;
    case platform::mrRetry:
      return QMessageBox::Retry;
    case platform::mrIgnore:
      return QMessageBox::Ignore;
    case platform::mrYes:
      return QMessageBox::Yes;
    case platform::mrNo:
      return QMessageBox::No;
    case platform::mrNoToAll:
      return QMessageBox::NoToAll;
    case platform::mrYesToAll:
      return QMessageBox::YesToAll;
    default:
      return QMessageBox::NoButton;  // mrAll has no standard button
  }
}

QWidget* DialogParent() {
  QWidget* w = QApplication::activeModalWidget();
  return w ? w : QApplication::activeWindow();
}

}  // namespace

bool InstallQtTranslation(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  // Russian whatever the user's locale: every other text of the program is.
  if (!translator->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

TModalResult TQtDialogProvider::MessageBox(const std::string& text, const std::string& caption,
                                           platform::TMsgDlgType type,
                                           const platform::TMsgDlgButtons& buttons) {
  const QString title = QString::fromStdString(caption.empty() ? kProgramTitle : caption);
  QMessageBox box(IconOf(type), title, QString::fromStdString(text), QMessageBox::NoButton,
                  DialogParent());
  // Texts carry file and book names; never let them be taken for markup.
  box.setTextFormat(Qt::PlainText);

  std::map<QAbstractButton*, TModalResult> results;
  const platform::TMsgDlgButtons wanted =
      buttons.empty() ? platform::TMsgDlgButtons{platform::mrOk} : buttons;
  for (TModalResult r : wanted) {
    if (r == platform::mrNone) continue;
    const QMessageBox::StandardButton sb = StandardButtonOf(r);
    QAbstractButton* b = sb != QMessageBox::NoButton
                             ? static_cast<QAbstractButton*>(box.addButton(sb))
                             : box.addButton(QStringLiteral("All"), QMessageBox::AcceptRole);
    results[b] = r;
  }
  for (TModalResult r : {platform::mrCancel, platform::mrNo, platform::mrOk}) {
    auto it = std::find_if(results.begin(), results.end(),
                           [r](const auto& kv) { return kv.second == r; });
    if (it != results.end()) {
      box.setEscapeButton(it->first);
      break;
    }
  }
  box.exec();
  const auto it = results.find(box.clickedButton());
  return it != results.end() ? it->second : platform::mrNone;
}

bool TQtDialogProvider::InputText(const std::string& caption, const std::string& prompt,
                                  std::string& value, bool secret) {
  bool ok = false;
  const QString text = QInputDialog::getText(
      DialogParent(), QString::fromStdString(caption), QString::fromStdString(prompt),
      secret ? QLineEdit::Password : QLineEdit::Normal, QString::fromStdString(value), &ok);
  if (ok) value = text.toStdString();
  return ok;
}

}  // namespace catalogue
