// The statistics box (TB_STAT), the About box (TB_WWW, MI_AB) and the home
// page (MI_WW) of the main window.
#pragma once

#include <QString>
#include <string>

class QWidget;

namespace catalogue {

// The statistics text as a rich-text table whose columns line up (a label
// does not honour TAB stops).
QString StatisticsHtml(const std::string& ansiText);

// Shows the catalogue's statistics ("inf.txt") in a modal box "Статистика"
// over `owner`; without a readable catalogue the box says why instead.
void TB_STATClick(QWidget* owner);
// The About box "О программе": the version and a closing line.
void MI_ABClick();
// Opens Tomeshelf's home page with the desktop's URL handler; a failure is
// ignored.
void MI_WWClick();

}  // namespace catalogue
