#include "xbase/dataset/aliases.h"

#include <utility>

#include "dataaccess/DBError.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "xbase/base/errors.h"

namespace xbase {

namespace {

struct TAlias {
  std::string name;  // as listed (upper-cased when added through xbAddAlias)
  std::string key;   // Utf8Upper of the name, for look-ups
  std::string path;
};

std::string_view Trim(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::vector<TAlias> ReadConfig() {
  std::vector<TAlias> list;
  const platform::TIniFile cfg(platform::UserConfigDir() + "/xbase.cfg");
  for (std::string& name : cfg.ReadSection("Alias")) {
    std::string path = cfg.ReadString("Alias", name, "");
    std::string key = platform::Utf8Upper(name);
    list.push_back({std::move(name), std::move(key), std::move(path)});
  }
  return list;
}

std::vector<TAlias>& Aliases() {
  static std::vector<TAlias> list = ReadConfig();
  return list;
}

const TAlias* Find(std::string_view name) {
  const std::string key = platform::Utf8Upper(Trim(name));
  for (const TAlias& a : Aliases())
    if (a.key == key) return &a;
  return nullptr;
}

}  // namespace

void xbLoadAliases() { Aliases() = ReadConfig(); }

void xbAddAlias(std::string_view alias, std::string_view path) {
  if (Find(alias)) dataaccess::DatabaseError(XBMessage(xbmAliasAssigned, {std::string(alias)}));
  std::string name = platform::Utf8Upper(Trim(alias));
  std::string key = name;
  Aliases().push_back({std::move(name), std::move(key), std::string(Trim(path))});
}

bool xbFindAlias(std::string_view name, std::string& path) {
  const TAlias* a = Find(name);
  if (a) path = a->path;
  return a != nullptr;
}

std::vector<std::string> xbDatabaseNames() {
  std::vector<std::string> names;
  for (const TAlias& a : Aliases()) names.push_back(a.name);
  return names;
}

}  // namespace xbase
