#include "catalogue/InfoTexts.h"

#include "catalogue/AppState.h"
#include "catalogue/Browse.h"
#include "catalogue/CatalogueFormat.h"
#include "catalogue/FailureText.h"
#include "catalogue/Func.h"
#include "catalogue/MemberReader.h"
#include "platform/Files.h"

namespace catalogue {

TCatalogueStatistics ReadCatalogueInfo(const std::string& knownDamage) {
  const std::string& dbz = AppState().dbzPath;
  if (!platform::FileExists(dbz)) return {{}, kMsgNoCatalogue};
  TCatalogueStatistics stats;
  std::string damage = knownDamage;
  try {
    stats.info = ReadMember(dbz, kInfoMember);
  } catch (const std::exception& e) {
    stats.info.clear();
    if (damage.empty()) damage = FailureReason(e);
  }
  // Every build writes the statistics: an archive without them was cut short.
  if (stats.info.empty() && damage.empty()) damage = "в нём нет статистики (inf.txt).";
  if (damage.empty()) return stats;

  const size_t authors = AppState().authors.size();
  if (stats.info.empty() && authors > 0)
    stats.info = platform::Utf8ToAnsi("Авторов:\t\t" + std::to_string(authors));
  stats.note = CatalogueDamagedMessage(dbz, damage) +
               (stats.info.empty() ? "\n\nСтатистику прочитать не удалось."
                                   : "\n\nУдалось прочитать:");
  return stats;
}

std::vector<std::vector<std::string>> StatisticsTable(std::string_view ansiText) {
  std::vector<std::vector<std::string>> rows;
  size_t pos = 0;
  while (pos <= ansiText.size()) {
    size_t end = ansiText.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = ansiText.size();
    const std::string_view line = ansiText.substr(pos, end - pos);
    std::vector<std::string> cells;
    for (size_t c = 0; c < line.size();) {
      size_t tab = line.find('\t', c);
      if (tab == std::string_view::npos) tab = line.size();
      if (tab > c) cells.push_back(platform::AnsiToUtf8(line.substr(c, tab - c)));
      c = line.find_first_not_of('\t', tab);
      if (c == std::string_view::npos) break;
    }
    if (!cells.empty()) rows.push_back(std::move(cells));
    pos = end + 1;
  }
  return rows;
}

std::string NoBrowserMessage() {
  return std::string("Не удалось запустить браузер, чтобы открыть домашнюю страницу.\nЕё адрес: ") +
         kHomePage;
}

std::string AboutText() {
  return "Tomeshelf версия " + getVersionText() +
         "\n\nTomeshelf — каталог личной библиотеки электронных книг FB2.";
}

}  // namespace catalogue
