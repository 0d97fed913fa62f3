// The alias list: the configuration file's section, and names added twice.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "dataaccess/DBError.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "xbase/dataset/aliases.h"

using namespace xbase;

namespace {

// Points the user's configuration folder at `dir` and reloads the list.
void LoadFrom(const std::string& dir) {
  ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  xbLoadAliases();
}

TEST(Aliases, TheConfigurationSectionIsLoadedAndNamesIgnoreCase) {
  TempDir dir;
  LoadFrom(dir.path());  // no xbase.cfg: an empty list
  EXPECT_TRUE(xbDatabaseNames().empty());

  platform::WriteFileBytes(dir / "xbase.cfg",
                           "[Other]\nx=/nowhere\n[Alias]\nbooks = /data/книги \nWork=/tmp/w\nBOOKS=/second\n");
  LoadFrom(dir.path());
  EXPECT_EQ(xbDatabaseNames(), (std::vector<std::string>{"books", "Work"}));
  std::string path;
  EXPECT_FALSE(xbFindAlias("КНИГИ", path));  // the folder, not the name
  ASSERT_TRUE(xbFindAlias(" Books ", path));
  EXPECT_EQ(path, "/data/книги");
  EXPECT_FALSE(xbFindAlias("x", path));

  xbAddAlias(" книги ", " /k ");
  ASSERT_TRUE(xbFindAlias("Книги", path));
  EXPECT_EQ(path, "/k");
  EXPECT_EQ(xbDatabaseNames().back(), "КНИГИ");
}

TEST(Aliases, AnAliasAddedTwiceIsRefused) {
  TempDir dir;
  LoadFrom(dir.path());
  xbAddAlias("data", "/a");
  EXPECT_EQ(ErrorOf<dataaccess::EDatabaseError>([] { xbAddAlias("DATA", "/b"); }),
            "Alias DATA already assigned");
  std::string path;
  ASSERT_TRUE(xbFindAlias("Data", path));
  EXPECT_EQ(path, "/a");
  EXPECT_EQ(xbDatabaseNames().size(), 1u);
}

}  // namespace
