// Tags that lack records — a FOR condition, unique keys — beside filters and
// locates: the index-driven filter and the locate may not take such a tag,
// or they would miss records that reading the table finds. Compound index
// files keep both properties across a close, so each case is checked on the
// file as built and again after the table is opened anew.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dataaccess/DBValues.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/FilterTable.h"
#include "tests/xbase/HandlerIndexUtil.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/handler/table_handler.h"

using namespace xbase;
using dataaccess::TVariant;

namespace {

// The physical numbers of the records shown, walking from the top.
std::string ShownRecords(XBO_dBHandler& t) {
  std::vector<int> recs = xbtest::WalkRecords(t);
  std::sort(recs.begin(), recs.end());
  std::ostringstream out;
  for (size_t i = 0; i < recs.size(); ++i) out << (i ? " " : "") << recs[i];
  return out.str();
}

// The records `expr` selects, and with `fast` (the index-driven filter)
// whether the tags answered it. The filter is removed afterwards.
std::pair<std::string, bool> Filter(XBO_dBHandler& t, const std::string& expr, bool fast) {
  t.SetOptimizeFilter(fast);
  t.xbSetFilterExpr(platform::Utf8ToAnsi(expr), false, true, false);
  t.xbSetFilterActive(true);
  std::pair<std::string, bool> result{ShownRecords(t), false};
  // (Asked afterwards: an answer from the tags replaces the bitmap.)
  if (fast) result.second = t.xbSetFastFilterParse() == 2;
  t.xbSetFilterExpr("", false, true, false);
  t.SetOptimizeFilter(false);
  return result;
}

// What each locate of `values` in `field` finds, case-sensitive, from the
// top, deleted records shown and hidden: an exact search the record number
// (0 none), a partial one whether it found a record that begins with the
// value. Reading the table and a tag that holds every record agree on
// these.
std::vector<std::string> Locates(XBO_dBHandler& t, const std::string& field, const std::vector<TVariant>& values,
                                 bool partial) {
  std::vector<std::string> out;
  for (const bool hidden : {false, true}) {
    t.SetUseDeletedRec(!hidden);
    for (const TVariant& v : values) {
      const std::vector<TVariant> one = {v};
      const bool found = t.xbLocateRecord(field, one, false, partial, 0);
      std::string line = field + " " + v.AsString() + (hidden ? " hidden: " : ": ");
      if (!partial)
        line += std::to_string(found ? t.RecNumber() : 0);
      else
        line += !found ? "none" : t.xbStringGet(field).compare(0, v.AsString().size(), v.AsString()) == 0 ? "ok" : "wrong";
      out.push_back(line);
    }
  }
  t.SetUseDeletedRec(true);
  return out;
}

// The filter table (RN, AU, NA, BD, OK, NOTE; every 11th record deleted)
// with a compound index holding only tags that lack records.
class PartialTags : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = xbtest::MakeFilterTable(dir_, 400);
    Open();
    struct {
      const char *tag, *key, *cond;
      XBsetIndexUnique uniq;
    } const tags[] = {{"AUF", "AU", "OK", XBsetIndexUnique::Duplicates},
                      {"AUU", "AU", "", XBsetIndexUnique::Unique},
                      {"NAF", "NA", "AU < 25", XBsetIndexUnique::Duplicates},
                      {"NAU", "NA", "", XBsetIndexUnique::Unique},
                      {"BDU", "BD", "", XBsetIndexUnique::Unique}};
    for (const auto& g : tags)
      ASSERT_EQ(t_->xbIndexTo("p.cdx", g.tag, g.key, g.cond, g.uniq, XBsetSortStatus::Ascending), 0);
  }
  void Open() {
    t_.reset();
    t_ = std::make_unique<XBO_dBHandler>(path_, "", true, false);
  }
  void OpenIndex() { ASSERT_EQ(t_->xbIndexRoute("p.cdx"), 0); }

  TempDir dir_;
  std::string path_;
  std::unique_ptr<XBO_dBHandler> t_;
};

TEST_F(PartialTags, FiltersSelectWhatDbfreadAndThePredicateSelect) {
  struct Case {
    const char *expr, *python;
  };
  const std::vector<Case> cases = {
      {"AU = 7", "r['AU'] == 7"},
      {"AU < 20", "r['AU'] < 20"},
      {"12 < AU", "r['AU'] > 12"},
      {"AU >= 30 .AND. AU <> 40", "r['AU'] >= 30 and r['AU'] != 40"},
      {"NA = \"Smith\"", "r['NA'] == 'Smith'"},
      {"NA <> \"Jones\"", "r['NA'] != 'Jones'"},
      {"BD = CTOD(\"16.03.2000\")", "r['BD'] == date(2000, 3, 16)"},
      {"BD <> CTOD(\"16.03.2000\")", "r['BD'] != date(2000, 3, 16)"},
      {".NOT. (AU = 3 .OR. NA = \"Adams\")", "not (r['AU'] == 3 or r['NA'] == 'Adams')"},
  };
  std::string cmd = kXbPeer + " select " + Sh(path_);
  for (const Case& c : cases) cmd += " " + Sh(c.python);
  const std::vector<std::string> expected = Lines(RunOut(cmd));
  ASSERT_EQ(expected.size(), cases.size());
  ASSERT_NE(expected[0], "");
  ASSERT_NE(expected[6], "");

  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass ? "opened anew" : "as built");
    if (pass) Open();
    OpenIndex();
    for (size_t i = 0; i < cases.size(); ++i) {
      const auto [records, served] = Filter(*t_, cases[i].expr, true);
      EXPECT_EQ(records, expected[i]) << cases[i].expr;
      EXPECT_FALSE(served) << cases[i].expr;
      EXPECT_EQ(Filter(*t_, cases[i].expr, false).first, expected[i]) << cases[i].expr;
    }
    // Under a partial tag as the active order the filter is still read
    // from the table.
    t_->xbSetTagTo("AUF", false);
    EXPECT_FALSE(Filter(*t_, cases[0].expr, true).second);
    t_->xbSetTagTo("", false);
  }

  // A tag on the same key that holds every record does serve them, with
  // the same records.
  ASSERT_EQ(t_->xbIndexTo("p.cdx", "AUA", "AU", "", XBsetIndexUnique::Duplicates, XBsetSortStatus::Ascending), 0);
  OpenIndex();
  for (size_t i = 0; i < 4; ++i) {  // the AU cases
    const auto [records, served] = Filter(*t_, cases[i].expr, true);
    EXPECT_EQ(records, expected[i]) << cases[i].expr;
    EXPECT_TRUE(served) << cases[i].expr;
  }
}

TEST_F(PartialTags, LocatesFindWhatReadingTheTableFinds) {
  std::vector<TVariant> names, prefixes, numbers;
  for (const std::string& n : xbtest::FilterNames())
    if (!n.empty()) names.emplace_back(n);
  for (const char* p : {"Sm", "Smith", "Jo", "A", " "}) prefixes.emplace_back(p);
  for (int au = 0; au < 50; ++au) numbers.emplace_back(static_cast<double>(au));

  auto all = [&] {
    std::vector<std::string> r = Locates(*t_, "NA", names, false);
    for (const auto& part : {Locates(*t_, "NA", prefixes, true), Locates(*t_, "AU", numbers, false)})
      r.insert(r.end(), part.begin(), part.end());
    return r;
  };
  const std::vector<std::string> read = all();  // no index file open
  // The cases where a partial tag would answer otherwise are among them:
  // the first Smith lies outside NAF (AU 44), the first AU 7 (record 11)
  // outside AUF and, deleted, hides AUU's only entry of 7.
  ASSERT_NE(std::find(read.begin(), read.end(), "NA Smith: 12"), read.end());
  ASSERT_NE(std::find(read.begin(), read.end(), "AU 7: 11"), read.end());
  ASSERT_NE(std::find(read.begin(), read.end(), "AU 7 hidden: 61"), read.end());

  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass ? "opened anew" : "as built");
    if (pass) Open();
    OpenIndex();
    EXPECT_EQ(all(), read);
    t_->xbSetTagTo("NAF", false);  // the active order too
    EXPECT_EQ(all(), read);
    t_->xbSetTagTo("", false);
  }
}

// The other engine's compound index of the mixed fixture: NEG is
// UPPER(NAME) FOR AMOUNT < 0, CITYU UPPER(CITY) with unique keys. With its
// complete NAME tag deleted, the names are only in NEG.
TEST(PartialTagsOfAnotherEngine, FiltersReadTheTableWhereOnlyPartialTagsFit) {
  TempDir dir;
  xbtest::CopyHarbourFiles(dir.path(), {"mixed.dbf", "mixed.fpt", "mixed.cdx"});
  // Expected from the fixture's own listing of its records.
  struct Case {
    const char *expr, *records;
  };
  const std::vector<Case> cases = {
      {"UPPER(NAME) = \"ИВАНОВ И.И.\"", "17 18 19"},
      {"UPPER(NAME) = \"ИВАНОВ И.И.\" .OR. UPPER(NAME) = \"SMITH J.\"", "17 18 19 20"},
      {"UPPER(CITY) = \"МОСКВА\"", "1 17 18 19 48"},
      {"UPPER(CITY) = \"РІВНЕ\"", "10 22 28 37"},
      {".NOT. (UPPER(CITY) <> \"ОРЁЛ\")", "5 21 40"},
  };
  {
    XBO_dBHandler t(dir / "mixed.dbf", "", true, false);
    ASSERT_EQ(t.xbIndexRoute("mixed.cdx"), 0);
    ASSERT_EQ(t.xbIndexTagRemove("mixed.cdx", "NAME"), 0);
  }
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass ? "opened anew" : "first");
    XBO_dBHandler t(dir / "mixed.dbf", "", true, false);
    ASSERT_EQ(t.xbIndexRoute("mixed.cdx"), 0);
    for (const Case& c : cases) {
      const auto [records, served] = Filter(t, c.expr, true);
      EXPECT_EQ(records, c.records) << c.expr;
      EXPECT_FALSE(served) << c.expr;
    }
    // Its complete AMOUNT tag serves.
    const auto [records, served] = Filter(t, "AMOUNT > 40000", true);
    EXPECT_EQ(records, "5 22 24 43 44");
    EXPECT_TRUE(served);
  }
}

}  // namespace
