// The statistics box (TB_STAT), the About box (TB_WWW, MI_AB) and the home
// page (MI_WW) of the main window.
#pragma once

#include <QString>
#include <string>


namespace catalogue {

class TF;

// The statistics text as a rich-text table whose columns line up (a label
// does not honour TAB stops).
QString StatisticsHtml(const std::string& ansiText);

// Shows the catalogue's statistics ("inf.txt") in a modal box "Статистика"
// over the main window `owner`; without a catalogue the box says why
// instead, and of a damaged one (also one `owner` found damaged) it says so
// and shows what could be read.
void TB_STATClick(TF* owner);
// The About box "О программе": the version and a closing line.
void MI_ABClick();
// Opens Tomeshelf's home page with the desktop's URL handler; when no
// browser can be started a message box says so and gives the address.
void MI_WWClick();

}  // namespace catalogue
