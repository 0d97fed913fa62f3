// The alias list: database names that stand for folders, shared by every
// dataset of the process.
//
// It is loaded on first use from section "Alias" of "xbase.cfg" in the
// user's configuration folder (platform::UserConfigDir()), one "name=folder"
// line per alias; a missing file gives an empty list. Names and folders are
// UTF-8; names compare without regard to letter case (platform::Utf8Upper).
// The name "Default Directory" (the program's folder) is the dataset's own
// and needs no entry.
//
// Used from the program's one thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace xbase {

// Replaces the list with what "xbase.cfg" holds now.
void xbLoadAliases();
// Adds alias=path, the alias trimmed and upper-cased, the path trimmed. An
// alias already in the list raises EDatabaseError 65194 "Alias %s already
// assigned" with the alias as given.
void xbAddAlias(std::string_view alias, std::string_view path);
// The folder of `name` (case ignored); false when the list has none.
bool xbFindAlias(std::string_view name, std::string& path);
// The names, in the order they were added.
std::vector<std::string> xbDatabaseNames();

}  // namespace xbase
