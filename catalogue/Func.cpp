#include "catalogue/Func.h"

#include <algorithm>
#include <array>
#include <exception>
#include <string>
#include <unordered_map>

#include "catalogue/AppState.h"
#include "platform/Files.h"
#include "platform/Process.h"

#ifndef TOMESHELF_VERSION_TEXT
#error "the build sets TOMESHELF_VERSION_TEXT (catalogue/CMakeLists.txt)"
#endif

namespace catalogue {

namespace {

// Names and ids are exact texts, including the blank after "Протестантизм".
constexpr std::array<TGenre, 232> kGenres = {{
    {"FS", "Научная фантастика", "sf"},
    {"FF", "Фэнтези", "sf_fantasy"},
    {"FA", "Боевая фантастика", "sf_action"},
    {"FH", "Ужасы", "sf_horror"},
    {"FU", "Юмористическая фантастика", "sf_humor"},
    {"FK", "Космическая фантастика", "sf_space"},
    {"FH", "Альтернативная история", "sf_history"},
    {"F0", "Социально-психологическая фантастика", "sf_social"},
    {"FL", "Любовно-фантастические романы", "love_sf"},
    {"FC", "Детская фантастика", "child_sf"},
    {"FE", "Героическая фантастика", "sf_heroic"},
    {"F1", "Эпическая фантастика", "sf_epic"},
    {"FD", "Детективная фантастика", "sf_detective"},
    {"FY", "Киберпанк", "sf_cyberpunk"},
    {"F2", "Городское фэнтези", "sf_fantasy_city"},
    {"F3", "Постапокалипсис", "sf_postapocalyptic"},
    {"FM", "Мистика", "sf_mystic"},
    {"F4", "Космоопера", "sf_space_opera"},
    {"FO", "Фантастика: прочее", "sf_etc"},
    {"FI", "Ироническое фэнтези", "sf_fantasy_irony"},
    {"FP", "Стимпанк", "sf_stimpank"},
    {"FN", "Ненаучная фантастика", "nsf"},
    {"FT", "Технофэнтези", "sf_technofantasy"},
    {"FG", "Готический роман", "gothic_novel"},
    {"FJ", "Ироническая фантастика", "sf_irony"},
    {"FZ", "Сказочная фантастика", "fairy_fantasy"},
    {"PM", "Современная проза", "prose_contemporary"},
    {"PC", "Классическая проза", "prose_classic"},
    {"PR", "Русская классическая проза", "prose_rus_classic"},
    {"PS", "Советская классическая проза", "prose_su_classics"},
    {"PH", "Историческая проза", "prose_history"},
    {"PP", "Проза", "prose"},
    {"PW", "О войне", "prose_military"},
    {"PU", "Контркультура", "prose_counter"},
    {"PZ", "Рассказ", "short_story"},
    {"PE", "Эпистолярная проза", "epistolary_fiction"},
    {"PY", "Эссе", "essay"},
    {"PA", "Афоризмы", "aphorisms"},
    {"PG", "Магический реализм", "prose_magic"},
    {"PN", "Роман", "roman"},
    {"PO", "Повесть", "great_story"},
    {"PX", "Новелла", "story"},
    {"PZ", "Феерия", "extravaganza"},
    {"DO", "Детективы: прочее", "detective"},
    {"DT", "Триллер", "thriller"},
    {"DC", "Классический детектив", "det_classic"},
    {"DA", "Боевик", "det_action"},
    {"DI", "Иронический детектив", "det_irony"},
    {"DD", "Детские остросюжетные", "child_det"},
    {"DL", "Остросюжетные любовные романы", "love_detective"},
    {"D1", "Крутой детектив", "det_hard"},
    {"DS", "Шпионский детектив", "det_espionage"},
    {"DP", "Полицейский детектив", "det_police"},
    {"DR", "Криминальный детектив", "det_crime"},
    {"DH", "Исторический детектив", "det_history"},
    {"DF", "Детективная фантастика", "sf_detective"},
    {"DW", "Дамский детективный роман", "det_cozy"},
    {"D2", "Политический детектив", "det_political"},
    {"DM", "Маньяки", "det_maniac"},
    {"DE", "Медицинский триллер", "thriller_medical"},
    {"DU", "Юридический триллер", "thriller_legal"},
    {"D3", "Техно триллер", "thriller_techno"},
    {"SH", "История", "sci_history"},
    {"SY", "Психология", "sci_psychology"},
    {"S0", "Философия", "sci_philosophy"},
    {"SO", "Научная литература: прочее", "science"},
    {"SP", "Политика", "sci_politics"},
    {"ST", "Технические науки", "sci_tech"},
    {"SU", "Юриспруденция", "sci_juris"},
    {"SK", "Культурология", "sci_culture"},
    {"S1", "Медицина", "sci_medicine"},
    {"SX", "Языкознание", "sci_linguistic"},
    {"SD", "Деловая литература", "sci_business"},
    {"SR", "Религиоведение", "sci_religion"},
    {"SL", "Литературоведение", "sci_philology"},
    {"SY", "Биология", "sci_biology"},
    {"SM", "Математика", "sci_math"},
    {"SF", "Физика", "sci_phys"},
    {"SE", "Экономика", "sci_economy"},
    {"S2", "Альтернативная медицина", "sci_medicine_alternative"},
    {"SA", "Астрономия и Космос", "sci_cosmos"},
    {"S3", "Педагогика", "sci_pedagogy"},
    {"S4", "Химия", "sci_chem"},
    {"SG", "Государство и право", "sci_state"},
    {"S5", "Геология и география", "sci_geo"},
    {"SW", "Военная история", "military_history"},
    {"SB", "Биохимия", "sci_biochem"},
    {"S6", "Физическая химия", "sci_physchem"},
    {"S7", "Обществознание", "sci_social_studies"},
    {"S8", "Биофизика", "sci_biophys"},
    {"S9", "Органическая химия", "sci_orgchem"},
    {"SI", "Аналитическая химия", "sci_anachem"},
    {"SJ", "Ботаника", "sci_botany"},
    {"SV", "Ветеринария", "sci_veterinary"},
    {"SZ", "Зоология", "sci_zoo"},
    {"VP", "Публицистика", "nonf_publicism"},
    {"VB", "Биографии и Мемуары", "nonf_biography"},
    {"VS", "Научпоп", "sci_popular"},
    {"VN", "Природа и животные", "adv_animal"},
    {"VL", "Документальная литература", "nonfiction"},
    {"VK", "Критика", "nonf_criticism"},
    {"VW", "Военная документалистика и аналитика", "nonf_military"},
    {"LH", "Исторические любовные романы", "love_history"},
    {"LM", "Современные любовные романы", "love_contemporary"},
    {"LK", "Короткие любовные романы", "love_short"},
    {"LL", "О любви", "love"},
    {"LO", "Остросюжетные любовные романы", "love_detective"},
    {"LF", "Любовно-фантастические романы", "love_sf"},
    {"LE", "Эротика", "love_erotica"},
    {"LW", "Дамский детективный роман", "det_cozy"},
    {"CO", "Детская литература: прочее", "children"},
    {"CT", "Сказка", "child_tale"},
    {"CP", "Детская проза", "child_prose"},
    {"CX", "Детские остросюжетные", "child_det"},
    {"CF", "Детская фантастика", "child_sf"},
    {"CA", "Детские приключения", "child_adv"},
    {"CE", "Детская образовательная литература", "child_education"},
    {"CV", "Детские стихи", "child_verse"},
    {"CL", "Детский фольклор", "child_folklore"},
    {"UF", "Юмористическая фантастика", "sf_humor"},
    {"UP", "Юмористическая проза", "humor_prose"},
    {"UO", "Юмор: прочее", "humor"},
    {"UV", "Юмористические стихи", "humor_verse"},
    {"UA", "Анекдоты", "humor_anecdote"},
    {"UC", "Комедия", "comedy"},
    {"US", "Сатира", "humor_satire"},
    {"AO", "Приключения: прочее", "adventure"},
    {"AH", "Исторические приключения", "adv_history"},
    {"AG", "Путешествия и география", "adv_geo"},
    {"AA", "Природа и животные", "adv_animal"},
    {"AC", "Детские приключения", "child_adv"},
    {"AM", "Морские приключения", "adv_maritime"},
    {"AW", "Вестерн", "adv_western"},
    {"AI", "Приключения про индейцев", "adv_indian"},
    {"HH", "Здоровье", "home_health"},
    {"HE", "Эротика, Секс", "home_sex"},
    {"HK", "Кулинария", "home_cooking"},
    {"HY", "Хобби и ремесла", "home_crafts"},
    {"HA", "Домашние животные", "home_pets"},
    {"HS", "Спорт", "home_sport"},
    {"HO", "Домоводство", "home"},
    {"HR", "Развлечения", "home_entertain"},
    {"HD", "Сделай сам", "home_diy"},
    {"HG", "Сад и огород", "home_garden"},
    {"HC", "Коллекционирование", "home_collecting"},
    {"RE", "Эзотерика", "religion_esoterics"},
    {"RR", "Религия", "religion_rel"},
    {"RS", "Самосовершенствование", "religion_self"},
    {"RP", "Православие", "religion_orthodoxy"},
    {"RB", "Буддизм", "religion_budda"},
    {"RC", "Христианство", "religion_christianity"},
    {"RT", "Протестантизм ", "religion_protestantism"},
    {"RL", "Религиозная литература: прочее", "religion"},
    {"RA", "Астрология", "astrology"},
    {"RI", "Иудаизм", "religion_judaism"},
    {"RJ", "Индуизм", "religion_hinduism"},
    {"RM", "Ислам", "religion_islam"},
    {"RK", "Католицизм", "religion_catholicism"},
    {"RZ", "Язычество", "religion_paganism"},
    {"RX", "Хиромантия", "palmistry"},
    {"EO", "Поэзия: прочее", "poetry"},
    {"EC", "Детские стихи", "child_verse"},
    {"EU", "Юмористические стихи", "humor_verse"},
    {"EP", "Палиндромы", "palindromes"},
    {"EB", "Басни", "fable"},
    {"EP", "Песенная поэзия", "song_poetry"},
    {"EL", "Лирика", "lyrics"},
    {"ES", "в стихах", "in_verse"},
    {"EE", "Эпическая поэзия", "epic_poetry"},
    {"XG", "Журналы", "periodic"},
    {"XO", "Неотсортированное", "other"},
    {"XU", "Недописанное", "unfinished"},
    {"XF", "Фанфик", "fanfiction"},
    {"XT", "Театр", "theatre"},
    {"XM", "Музыка", "music"},
    {"XK", "Кино", "cine"},
    {"XP", "Партитуры", "notes"},
    {"YE", "Энциклопедии", "ref_encyc"},
    {"YR", "Руководства", "ref_guide"},
    {"YI", "Искусство и Дизайн", "design"},
    {"YS", "Справочники", "ref_ref"},
    {"YL", "Справочная литература", "reference"},
    {"YD", "Словари", "ref_dict"},
    {"YP", "Путеводители", "geo_guides"},
    {"TS", "Технические науки", "sci_tech"},
    {"TR", "Радиоэлектроника", "sci_radio"},
    {"TT", "Транспорт и авиация", "sci_transport"},
    {"TB", "Строительство и сопромат", "sci_build"},
    {"TM", "Металлургия", "sci_metal"},
    {"GD", "Драматургия: прочее", "dramaturgy"},
    {"GT", "Трагедия", "tragedy"},
    {"GK", "Киносценарии", "screenplays"},
    {"GC", "Комедия", "comedy"},
    {"GG", "Драма", "drama"},
    {"GV", "Водевиль", "vaudeville"},
    {"GS", "Сценарии", "scenarios"},
    {"IO", "Околокомпьютерная литература", "computers"},
    {"IP", "Программирование", "comp_programming"},
    {"IN", "ОС и Сети", "comp_osnet"},
    {"IS", "Программы", "comp_soft"},
    {"IW", "Интернет", "comp_www"},
    {"IB", "Базы данных", "comp_db"},
    {"IC", "Компьютерное \"железо\" (аппаратное обеспечение)", "comp_hard"},
    {"ID", "Цифровая обработка сигналов", "comp_dsp"},
    {"OA", "Античная литература", "antique_ant"},
    {"OM", "Мифы. Легенды. Эпос", "antique_myths"},
    {"OE", "Древневосточная литература", "antique_east"},
    {"OZ", "Европейская старинная литература", "antique_european"},
    {"OR", "Древнерусская литература", "antique_russian"},
    {"OO", "Старинная литература: прочее", "antique"},
    {"BP", "О бизнесе популярно", "popular_business"},
    {"BE", "Экономика", "economics"},
    {"BM", "Маркетинг, PR, реклама", "marketing"},
    {"BC", "Управление, подбор персонала", "management"},
    {"BU", "Бухучет, налогообложение, аудит", "accounting"},
    {"BS", "Ценные бумаги, инвестиции", "stock"},
    {"BD", "Делопроизводство", "paper_work"},
    {"B0", "Малый бизнес", "small_business"},
    {"BF", "Личные финансы", "personal_finance"},
    {"BH", "Поиск работы, карьера", "job_hunting"},
    {"BY", "Корпоративная культура", "org_behavior"},
    {"BI", "Отраслевые издания", "industries"},
    {"BB", "Банковское дело", "banking"},
    {"BV", "Внешнеэкономическая деятельность", "global_economy"},
    {"BX", "Недвижимость", "real_estate"},
    {"BZ", "Справочники", "economics_ref"},
    {"ZA", "Анекдоты", "humor_anecdote"},
    {"ZP", "Пословицы, поговорки", "proverbs"},
    {"ZC", "Детский фольклор", "child_folklore"},
    {"ZL", "Частушки, прибаутки, потешки", "limerick"},
    {"ZF", "Фольклор: прочее", "folklore"},
    {"ZT", "Народные сказки", "folk_tale"},
}};

// Row numbers by code and by id, in table order, and the names in ANSI,
// built once.
struct TGenreIndex {
  std::unordered_map<std::string_view, std::vector<uint8_t>> byCode;
  std::unordered_map<std::string_view, std::vector<uint8_t>> byId;
  std::array<AnsiString, kGenres.size()> ansiNames;

  TGenreIndex() {
    for (size_t row = 0; row < kGenres.size(); ++row) {
      byCode[kGenres[row].code].push_back(static_cast<uint8_t>(row));
      byId[kGenres[row].id].push_back(static_cast<uint8_t>(row));
      ansiNames[row] = platform::Utf8ToAnsi(kGenres[row].name);
    }
  }
  static const TGenreIndex& Get() {
    static const TGenreIndex index;
    return index;
  }
};

}  // namespace

std::span<const TGenre> GenreTable() { return kGenres; }

AnsiString genresToCodes(const std::vector<std::string>& ids) {
  const TGenreIndex& index = TGenreIndex::Get();
  AnsiString codes;
  for (const std::string& id : ids) {
    const auto it = index.byId.find(id);
    if (it == index.byId.end()) continue;
    for (uint8_t row : it->second) codes += kGenres[row].code;
  }
  return codes;
}

AnsiString codesToGenres(std::string_view codes) {
  const TGenreIndex& index = TGenreIndex::Get();
  AnsiString text;
  for (size_t i = 0; i + 2 <= codes.size(); i += 2) {
    const auto it = index.byCode.find(codes.substr(i, 2));
    if (it == index.byCode.end()) continue;
    for (uint8_t row : it->second) {
      if (!text.empty()) text += ',';
      text += index.ansiNames[row];
    }
  }
  if (text.size() > kGenreTextMax) text.resize(kGenreTextMax);
  return text;
}

AnsiString padRight(std::string_view s, size_t n) {
  AnsiString r(s.substr(0, n));
  r.resize(n, ' ');
  return r;
}

AnsiString padLeft(std::string_view s, size_t n) {
  if (s.size() >= n) return AnsiString(s.substr(s.size() - n));
  return AnsiString(n - s.size(), ' ') + AnsiString(s);
}

AnsiString intToStrPadLeft(int64_t v, size_t n) { return padLeft(std::to_string(v), n); }

AnsiString wordToChars(uint16_t v) {
  AnsiString s(2, '\0');
  s[0] = static_cast<char>(v >> 8);
  s[1] = static_cast<char>(v & 0xFF);
  return s;
}

uint16_t charsToWord(std::string_view s) {
  const unsigned hi = s.size() > 0 ? static_cast<unsigned char>(s[0]) : 0;
  const unsigned lo = s.size() > 1 ? static_cast<unsigned char>(s[1]) : 0;
  return static_cast<uint16_t>(hi * 256 + lo);
}

bool saveStrToFile(std::string_view s, const std::string& path) {
  try {
    platform::WriteFileAtomic(path, std::string(s));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::vector<std::string> splitPath(std::string_view p) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find('/', start);
    if (end == std::string_view::npos) end = p.size();
    if (end > start) pieces.emplace_back(p.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

std::string expandRelativePath(std::string_view base, std::string_view rel) {
  if (!rel.empty() && rel.front() == '/') return std::string(rel);
  // An empty `rel` names the base folder itself, with its trailing '/'.
  return platform::NormalizePath(platform::IncludeTrailingPathDelimiter(std::string(base)) + std::string(rel));
}

std::string absPath(std::string_view p) {
  if (!p.empty() && p.front() == '/') return std::string(p);
  return expandRelativePath(AppState().programDir, p);
}

std::string programPath(std::string_view p) {
  std::string path = absPath(p);
  if (p.empty() || p.find('/') != std::string_view::npos || platform::FileExists(path)) return path;
  std::string found = platform::FindInPath(std::string(p));
  return found.empty() ? path : found;
}

std::string getVersionText() { return TOMESHELF_VERSION_TEXT; }

}  // namespace catalogue
