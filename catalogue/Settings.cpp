#include "catalogue/Settings.h"

#include <algorithm>

#include "catalogue/AppState.h"
#include "platform/FileAttributes.h"
#include "platform/IniFile.h"

namespace catalogue {

namespace {

constexpr char kPathFile[] = "PathFile";
constexpr char kXXX[] = "XXX";
constexpr char kWI[] = "WI";
constexpr char kFont[] = "Font";

std::string ColumnKey(int c) { return {'C', static_cast<char>('0' + c)}; }  // c < 10

// A width from the file: missing or not a number gives `def`; a width the
// window cannot show sensibly is pulled into range.
int32_t ReadWidth(const platform::TIniFile& ini, const char* section, const std::string& key,
                  int32_t def, int32_t min) {
  return std::clamp(ini.ReadInteger(section, key, def), min, kMaxWidth);
}

}  // namespace

TSettings DefaultSettings(const std::string& defaultExportDir) {
  TSettings s;
  s.expDir = defaultExportDir;
  return s;
}

TSettings ReadSettings(const std::string& iniPath, const std::string& defaultExportDir) {
  const platform::TIniFile ini(iniPath);
  const TSettings d = DefaultSettings(defaultExportDir);
  TSettings s;

  s.libDir = ini.ReadString(kPathFile, "LIB", d.libDir);
  s.inpFile = ini.ReadString(kPathFile, "INP", d.inpFile);
  s.expDir = ini.ReadString(kPathFile, "EXP", d.expDir);
  s.readerProgram = ini.ReadString(kPathFile, "FB2READER", d.readerProgram);
  s.useInp = ini.ReadBool(kPathFile, "USEINP", d.useInp);
  s.converterProgram = ini.ReadString(kPathFile, "FB2LRF", d.converterProgram);

  s.sort = FormatSortText(ParseSortText(ini.ReadString(kXXX, "SORT", d.sort)));
  s.authorFilter = ini.ReadString(kXXX, "AR", d.authorFilter);
  s.hideDuplicates = ini.ReadBool(kXXX, "DUP", d.hideDuplicates);
  s.authorIndex = ini.ReadInteger(kXXX, "AUNO", d.authorIndex);
  s.bookFile = ini.ReadString(kXXX, "BOFI", d.bookFile);

  s.authorWidth = ReadWidth(ini, kWI, "AU", d.authorWidth, kMinAuthorWidth);
  for (int c = 0; c < kBookColumnCount; ++c) {
    s.columnWidths[c] = ReadWidth(ini, kWI, ColumnKey(c), d.columnWidths[c],
                                  c == bcTitle ? kMinTitleColumnWidth : kMinColumnWidth);
  }

  s.fontName = ini.ReadString(kFont, "FontName", d.fontName);
  if (s.fontName.empty()) s.fontName = d.fontName;
  s.fontCharSet = ini.ReadInteger(kFont, "CharSet", d.fontCharSet);
  if (s.fontCharSet < 0 || s.fontCharSet > 255) s.fontCharSet = d.fontCharSet;
  s.fontSize = std::clamp(ini.ReadInteger(kFont, "Size", d.fontSize), kMinFontSize, kMaxFontSize);
  s.fontStyle = ini.ReadInteger(kFont, "Style", d.fontStyle);
  if (s.fontStyle < 0 || s.fontStyle > (fsBold | fsItalic | fsUnderline | fsStrikeOut)) {
    s.fontStyle = d.fontStyle;
  }
  return s;
}

void WriteSettings(const std::string& iniPath, const TSettings& s) {
  platform::TIniFile ini(iniPath);
  ini.WriteString(kPathFile, "LIB", s.libDir);
  ini.WriteString(kPathFile, "INP", s.inpFile);
  ini.WriteString(kPathFile, "EXP", s.expDir);
  ini.WriteString(kPathFile, "FB2READER", s.readerProgram);
  ini.WriteBool(kPathFile, "USEINP", s.useInp);
  ini.WriteString(kPathFile, "FB2LRF", s.converterProgram);

  ini.WriteString(kXXX, "SORT", s.sort);
  ini.WriteString(kXXX, "AR", s.authorFilter);
  ini.WriteBool(kXXX, "DUP", s.hideDuplicates);
  ini.WriteInteger(kXXX, "AUNO", s.authorIndex);
  ini.WriteString(kXXX, "BOFI", s.bookFile);

  ini.WriteInteger(kWI, "AU", s.authorWidth);
  for (int c = 0; c < kBookColumnCount; ++c) ini.WriteInteger(kWI, ColumnKey(c), s.columnWidths[c]);

  ini.WriteString(kFont, "FontName", s.fontName);
  ini.WriteInteger(kFont, "CharSet", s.fontCharSet);
  ini.WriteInteger(kFont, "Size", s.fontSize);
  ini.WriteInteger(kFont, "Style", s.fontStyle);
  ini.UpdateFile();
}

bool SettingsFileReadOnly(const std::string& iniPath) {
  return platform::FileIsReadOnly(iniPath);
}

std::string SettingsReadOnlyMessage(const std::string& iniPath) {
  return "Файл настроек " + iniPath +
         " доступен только для чтения.\nНастройки не могут быть сохранены.";
}

void ApplySettings(const TSettings& s, TAppState& state) {
  state.libDir = s.libDir;
  state.inpFile = s.inpFile;
  state.expDir = s.expDir;
  state.useInp = s.useInp;
  state.hideDuplicates = s.hideDuplicates;
  state.readerProgram = s.readerProgram;
  state.converterProgram = s.converterProgram;
}

}  // namespace catalogue
