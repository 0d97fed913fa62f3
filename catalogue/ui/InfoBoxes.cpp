#include "catalogue/ui/InfoBoxes.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#include "catalogue/InfoTexts.h"
#include "platform/Dialogs.h"

namespace catalogue {

QString StatisticsHtml(const std::string& ansiText) {
  QString html = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"2\">");
  for (const auto& row : StatisticsTable(ansiText)) {
    html += QStringLiteral("<tr>");
    for (size_t c = 0; c < row.size(); ++c) {
      // Labels on the left, the figures after them aligned on the right.
      html += c == 0 ? QStringLiteral("<td style=\"padding-right:16px\">")
                     : QStringLiteral("<td align=\"right\">");
      html += QString::fromStdString(row[c]).toHtmlEscaped();
      html += QStringLiteral("</td>");
    }
    html += QStringLiteral("</tr>");
  }
  html += QStringLiteral("</table>");
  return html;
}

void TB_STATClick(QWidget* owner) {
  const QString html = StatisticsHtml(ReadCatalogueInfo());
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Статистика"), html, QMessageBox::Ok,
                  owner);
  box.setObjectName(QStringLiteral("Statistics"));
  box.setTextFormat(Qt::RichText);
  box.exec();
}

void MI_ABClick() {
  platform::MessageBox(AboutText(), "О программе", platform::TMsgDlgType::mtInformation,
                       {platform::mrOk});
}

void MI_WWClick() { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomePage))); }

}  // namespace catalogue
