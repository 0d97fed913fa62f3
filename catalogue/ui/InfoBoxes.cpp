#include "catalogue/ui/InfoBoxes.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QSpacerItem>
#include <QMessageBox>
#include <QUrl>

#include "catalogue/InfoTexts.h"
#include "catalogue/ui/MainWindow.h"
#include "platform/Dialogs.h"

namespace catalogue {

namespace {

// Room beside a caption for the title bar's icon and buttons.
constexpr int kTitleBarReserve = 160;

}  // namespace

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

void TB_STATClick(TF* owner) {
  const TCatalogueStatistics stats = ReadCatalogueInfo(owner ? owner->CatalogueDamage() : "");
  QString html = QString::fromStdString(stats.note).toHtmlEscaped().replace('\n', QStringLiteral("<br>"));
  if (!stats.info.empty()) html += StatisticsHtml(stats.info);
  const QString caption = QStringLiteral("Статистика");
  QMessageBox box(QMessageBox::NoIcon, caption, html, QMessageBox::Ok, owner);
  box.setObjectName(QStringLiteral("Statistics"));
  box.setTextFormat(Qt::RichText);
  // A box as narrow as its three short lines would cut its own caption in
  // the title bar; leave room for it and the title bar's buttons.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    const int width = box.fontMetrics().horizontalAdvance(caption) + kTitleBarReserve;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  box.exec();
}

void MI_ABClick() {
  platform::MessageBox(AboutText(), "О программе", platform::TMsgDlgType::mtInformation,
                       {platform::mrOk});
}

void MI_WWClick() {
  if (QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomePage)))) return;
  platform::MessageBox(NoBrowserMessage(), "", platform::TMsgDlgType::mtWarning, {platform::mrOk});
}

}  // namespace catalogue
