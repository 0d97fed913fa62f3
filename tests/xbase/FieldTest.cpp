// Field access: typed gets and puts on the current record, blank records,
// deletion, search records, damaged fields, and the values peers read from
// the tables we write and we from theirs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/base/dates.h"
#include "xbase/table/fields.h"
#include "xbase/table/memo_files.h"
#include "xbase/table/table_builders.h"

using namespace xbase;

namespace {

using TFieldSpec = std::tuple<const char*, const char*, int, int>;

// A new table of `kind` ('3' dBase III, '4' dBase IV, 'F' FoxPro) in `dir`.
std::string Build(const TempDir& dir, const std::string& name, std::initializer_list<TFieldSpec> fields,
                  char kind = '3') {
  std::unique_ptr<XBO_DBFBuild> b;
  if (kind == '4') b = std::make_unique<XBO_DB4Build>(dir / name);
  else if (kind == 'F') b = std::make_unique<XBO_DBFoxBuild>(dir / name);
  else b = std::make_unique<XBO_DBFBuild>(dir / name);
  for (const auto& [n, t, l, d] : fields) b->InsertField(n, t, l, d);
  b->Complete();
  return b->FileName();
}

std::string Raw(const XBO_dBaseFld& t, int n) { return std::string(t.xbFieldView(n)); }

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, sep)) parts.push_back(part);
  if (!s.empty() && s.back() == sep) parts.emplace_back();
  return parts;
}

// Every field of every record against what dbfread reads (xbpeer.py's
// forms); fields numbered in `skip` are not compared.
void ExpectDbfreadAgrees(const std::string& path, const std::set<int>& skip = {}) {
  std::vector<std::vector<std::string>> peerLive, peerDeleted;
  for (const std::string& l : Lines(RunOut(kXbPeer + " dbfread " + Sh(path))))
    (l[0] == 'V' ? peerLive : peerDeleted).push_back(Split(l.substr(2), '|'));
  XBO_dBaseFld t(path, "", false, false);
  std::vector<int> live, deleted;
  for (int r = 1; r <= t.NumRecs(); ++r) {
    t.xbGetRec(r);
    (t.xbDelFlag() ? deleted : live).push_back(r);
  }
  ASSERT_EQ(live.size(), peerLive.size()) << path;
  ASSERT_EQ(deleted.size(), peerDeleted.size()) << path;
  int compared = 0;
  for (auto [recs, peer] : {std::tie(live, peerLive), std::tie(deleted, peerDeleted)}) {
    for (size_t i = 0; i < recs.size(); ++i) {
      t.xbGetRec(recs[i]);
      ASSERT_EQ(static_cast<int>(peer[i].size()), t.NumFields()) << path;
      for (int n = 1; n <= t.NumFields(); ++n) {
        if (skip.count(n)) continue;
        const std::string& p = peer[i][static_cast<size_t>(n - 1)];
        const std::string where = path + " record " + std::to_string(recs[i]) + " " + t.xbFieldName(n);
        switch (t.xbFieldType(n)) {
          case 'C':
          case 'M': EXPECT_EQ(Hex(t.xbStringGetN(n)), p) << where; break;
          case 'D': {
            const int32_t d = t.xbDateGetN(n);
            EXPECT_EQ(d ? xbDBFDate().DTOS(d) : "", p) << where;
            break;
          }
          case 'L': EXPECT_EQ(t.xbLogicGetN(n) ? "T" : "F", p.empty() ? "F" : p) << where; break;
          default: {
            const double ours = t.xbNumberGetN(n), theirs = p.empty() ? 0.0 : std::stod(p);
            EXPECT_LE(std::fabs(ours - theirs), 1e-9 * std::max(1.0, std::fabs(theirs))) << where << " " << p;
          }
        }
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared > 0, t.NumRecs() > 0) << path;
}

// The catalogue's author table.
std::string AuthorTable(const TempDir& dir, const std::string& name = "au.dbf") {
  return Build(dir, name, {{"ID", "N", 10, 0}, {"NA", "C", 120, 0}});
}

}  // namespace

TEST(Field, BookTableLayoutBlankRecordAndNumbers) {
  TempDir dir;
  XBO_DBFBuild b(dir / "bo.dbf");
  AddBookFields(b);
  b.Complete();
  XBO_dBaseFld t(b.FileName(), "", true, false);
  t.xbBlank();
  EXPECT_EQ(Raw(t, 1), "         0");
  EXPECT_EQ(Raw(t, 2), std::string(250, ' '));
  EXPECT_TRUE(t.RecModified());

  const std::string tooBig = "numeric value too big in field AU - 12345678901";
  EXPECT_EQ(ErrorOf([&] { t.xbStringPutN(1, "12345678901"); }), tooBig);
  EXPECT_EQ(ErrorOf([&] { t.xbNumberPutN(1, 12345678901.0); }), tooBig);
  EXPECT_EQ(Raw(t, 1), "         0") << "a refused put changes nothing";
  EXPECT_TRUE(t.xbFieldPutN(1, "12345678901"));
  EXPECT_EQ(Raw(t, 1), "1234567890");
  t.xbFieldPutN(1, "");
  EXPECT_EQ(t.xbStringGetN(1), "0");
  EXPECT_EQ(t.xbNumberGetN(1), 0);
  EXPECT_EQ(ErrorOf([&] { t.xbNumberPutN(1, NAN); }), "numeric value too big in field AU - NAN");
  EXPECT_EQ(ErrorOf([&] { t.xbNumberPutN(1, -INFINITY); }), "numeric value too big in field AU - -INF");
  EXPECT_EQ(ErrorOf([&] { t.xbStringPutN(1, "12a"); }), "Invalid numeric value in field BO->AU (12a)");
  t.xbStringPutN(1, " +42 ");
  EXPECT_EQ(Raw(t, 1), "        42");
  t.xbStringPutN(2, "Книга");
  EXPECT_EQ(t.xbStringGet("na"), "Книга");
  EXPECT_EQ(ErrorOf([&] { t.xbNumberGetN(2); }), "Field NA is the incorrect type");
  EXPECT_EQ(t.xbFieldNo("sz  "), 5);
  EXPECT_EQ(t.xbFieldNo("SZZ"), 0);
  EXPECT_EQ(ErrorOf([&] { t.xbStringGet("XX"); }), "There is no field name XX->" + t.FileName());
  EXPECT_EQ(ErrorOf([&] { t.xbCheckField("NA", 'N'); }), "Field NA is the incorrect type");
  EXPECT_EQ(t.xbStringGetN(9), "");
  EXPECT_FALSE(t.xbStringPutN(0, "x"));
  EXPECT_EQ(t.xbFieldLength(9) + t.xbFieldDecimals(-1) + t.xbNumberGetN(9), 0);
}

TEST(Field, NumbersWithDecimalsSignsAndManyDigits) {
  TempDir dir;
  XBO_dBaseFld t(Build(dir, "n.dbf", {{"Q", "N", 8, 2}, {"BIG", "N", 20, 0}, {"F", "F", 10, 3}, {"Z", "N", 3, 5}}),
                 "", true, false);
  t.xbBlank();
  EXPECT_EQ(Raw(t, 1), "    0.00");
  EXPECT_EQ(Raw(t, 4), "  0") << "decimals wider than the field leave a bare 0";
  const std::pair<const char*, const char*> texts[] = {
      {"-3.5", "   -3.50"}, {"-0.001", "    0.00"}, {"12.345", "   12.35"}, {"007.1", "    7.10"},
      {".5", "    0.50"},  {"-0", "    0.00"},     {"1e3", " 1000.00"}, {"", "    0.00"}};
  for (const auto& [in, stored] : texts) {
    t.xbStringPutN(1, in);
    EXPECT_EQ(Raw(t, 1), stored) << in;
  }
  t.xbNumberPutN(1, -1234.567);
  EXPECT_EQ(Raw(t, 1), "-1234.57");
  EXPECT_EQ(t.xbNumberGetN(1), -1234.57);
  EXPECT_EQ(t.xbStringGetN(1), "-1234.57");
  EXPECT_EQ(ErrorOf([&] { t.xbNumberPutN(1, -12345.5); }), "numeric value too big in field Q - -12345.50");
  // A text of more digits than a double holds is stored digit for digit.
  t.xbStringPutN(2, "12345678901234567891");
  EXPECT_EQ(Raw(t, 2), "12345678901234567891");
  t.xbNumberPutN(3, 0.0005);
  EXPECT_EQ(Raw(t, 3), "     0.001");
  t.xbFieldPutN(3, "  1.5e2");
  EXPECT_EQ(t.xbNumberGetN(3), 150);
}

TEST(Field, LogicalsAndDates) {
  TempDir dir;
  XBO_dBaseFld t(Build(dir, "d.dbf", {{"OK", "L", 1, 0}, {"BORN", "D", 8, 0}, {"NAME", "C", 10, 0}}), "", true,
                 false);
  t.xbBlank();
  for (const auto& [in, stored] : {std::pair{"y", "T"}, {"n", "F"}, {"2", "T"}, {"0", "F"}, {"J", "T"}, {"", "F"}}) {
    t.xbStringPutN(1, in);
    EXPECT_EQ(Raw(t, 1), stored) << in;
  }
  EXPECT_EQ(ErrorOf([&] { t.xbStringPutN(1, "x"); }), "Invalid Logical value for field OK");
  EXPECT_EQ(ErrorOf([&] { t.xbLogicPutN(3, true); }), "Invalid Logical value for field NAME");
  t.xbLogicPut("ok", true);
  EXPECT_TRUE(t.xbLogicGet("OK"));

  const int32_t day = xbDBFDate().MDY2Jul(12, 31, 1999);
  EXPECT_TRUE(t.xbDatePutN(2, day));
  EXPECT_EQ(Raw(t, 2), "19991231");
  EXPECT_EQ(t.xbDateGet("born"), day);
  EXPECT_EQ(t.xbStringGetN(2), "31.12.1999");
  t.xbStringPutN(2, "15.01.2024");
  EXPECT_EQ(Raw(t, 2), "20240115");
  t.xbDatePutN(2, 0);
  EXPECT_EQ(Raw(t, 2), "        ");
  EXPECT_EQ(t.xbStringGetN(2), "");
  EXPECT_EQ(t.xbDateGetN(2), 0);
  const std::string badDate = "Invalid Date value for field BORN";
  EXPECT_EQ(ErrorOf([&] { t.xbDatePutN(2, -1); }), badDate);
  EXPECT_EQ(ErrorOf([&] { t.xbDatePutN(2, 6000000); }), badDate);
  EXPECT_EQ(ErrorOf([&] { t.xbStringPutN(2, "20230231"); }), badDate) << "an impossible day is not stored as none";
  EXPECT_EQ(ErrorOf([&] { t.xbStringPutN(2, "soon"); }), badDate);
  EXPECT_FALSE(t.xbDatePutN(3, day));
  EXPECT_EQ(ErrorOf([&] { t.xbDateGet("NAME"); }), "Field NAME is the incorrect type");
  t.xbFieldPutN(2, "2024ab01");
  EXPECT_EQ(ErrorOf([&] { t.xbDateGetN(2); }), "Invalid date in field BORN");
}

TEST(Field, LongTextFieldsAndDescriptors) {
  TempDir dir;
  XBO_dBaseFld t(Build(dir, "w.dbf", {{"WIDE", "C", 300, 0}, {"N", "N", 6, 2}}), "", true, false);
  EXPECT_EQ(t.xbFieldOffset(2), 301);
  EXPECT_EQ(t.FDBFFieldList()[0].FieldDescriptor(), "WIDE;C;300;0");
  EXPECT_EQ(t.FDBFFieldList()[1].FieldDescriptor(), "N;N;6;2");
  t.xbStringPutN(1, std::string(299, 'a') + "bc");
  EXPECT_EQ(t.xbStringGetN(1), std::string(299, 'a') + "b");
}

TEST(Field, TextLosesTrailingBlanksAndNulsOfAnyRunLength) {
  // Text of every length inside a field, blanks and NULs within it and
  // after it in runs that end on and off word boundaries; the character
  // before the padding may be one whose bits are the padding's but one.
  TempDir dir;
  XBO_dBaseFld t(Build(dir, "p.dbf", {{"T", "C", 37, 0}}), "", true, false);
  std::mt19937 rng(3);
  for (int i = 0; i < 400; ++i) {
    std::string text;
    for (size_t n = rng() % 38; n > 0; --n) text += "a \0\xA0\x40\x80Z"[rng() % 7];
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    std::string raw = text;
    while (raw.size() < 37) raw += rng() % 2 ? ' ' : '\0';
    std::memcpy(t.CurRecord() + 1, raw.data(), 37);
    EXPECT_EQ(t.xbStringGetN(1), text) << i;
  }
}

TEST(Field, DeletionWritesAtOnceAndOnlyWhenItChanges) {
  struct Counting : XBO_dBaseFld {
    using XBO_dBaseFld::XBO_dBaseFld;
    bool xbDBFEvent(dbFileEvent e, int action) override {
      writes += e == dbPreWrite;
      return XBO_dBaseFld::xbDBFEvent(e, action);
    }
    int writes = 0;
  };
  TempDir dir;
  const std::string path = AuthorTable(dir);
  Counting t(path, "", true, false);
  t.xbBlank();
  t.xbAppend();
  t.xbDeleteRec();
  EXPECT_EQ(t.writes, 2);
  EXPECT_EQ(platform::ReadFileBytes(path)[97], '*');
  EXPECT_EQ(t.CurRecChg()[0], 1);
  t.xbDeleteRec();
  EXPECT_EQ(t.writes, 2) << "already deleted: nothing written";
  t.xbUndelete();
  EXPECT_EQ(platform::ReadFileBytes(path)[97], ' ');
  t.xbGetRec(1);
  EXPECT_EQ(t.CurRecChg()[0], 0) << "a read clears the changed flags";
}

// The search record of a key: built in a scratch buffer, leaving the
// current record as it was.
TEST(Field, StuffABufferFillsAScratchRecordOnly) {
  TempDir dir;
  XBO_dBaseFld t(AuthorTable(dir), "", true, false);
  t.xbBlank();
  t.xbStringPutN(2, "Current");
  t.xbClearFldChanged();
  t.SetRecModified(false);
  std::vector<uint8_t> scratch(static_cast<size_t>(t.RecLen()) + 1);
  const dataaccess::TVariant values[] = {"Smith", 17, "ignored"};
  t.xbStuffABuffer(scratch.data(), " NA ; id", values);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(scratch.data()), 131),
            " " + std::string(8, ' ') + "17Smith" + std::string(115, ' '));
  EXPECT_EQ(t.xbStringGetN(2), "Current");
  EXPECT_FALSE(t.RecModified());
  EXPECT_EQ(t.CurRecChg()[2], 0);
  EXPECT_EQ(ErrorOf([&] { t.xbStuffABuffer(scratch.data(), "NOPE", values); }),
            "There is no field name NOPE->" + t.FileName());
  EXPECT_EQ(t.CurRecord(), t.CurRecHold()) << "the record pointer comes back after a failure too";
}

// Fields other writers damaged: each file holds one case.
TEST(Field, DamagedFieldsRaiseTheirMessages) {
  const std::string dir = kXbData + "field/";
  const auto error = [&](const std::string& name, const std::function<void(XBO_dBaseFld&)>& f) {
    XBO_dBaseFld t(dir + name, "", false, false);
    t.xbGetRec(1);
    return ErrorOf([&] { f(t); });
  };
  EXPECT_EQ(error("number-garbage.dbf", [](XBO_dBaseFld& t) { t.xbNumberGetN(1); }),
            "Invalid numeric value in field NUMBER-GARBAGE->QTY (1O5)");
  EXPECT_EQ(error("date-garbage.dbf", [](XBO_dBaseFld& t) { t.xbStringGetN(1); }), "Invalid date in field BORN");
  EXPECT_EQ(error("memo-block-negative.dbf", [](XBO_dBaseFld& t) { t.xbStringGetN(1); }),
            "Memo record is bad in " + platform::FindExistingFile(dir + "memo-block-negative.dbt"));
  EXPECT_EQ(error("memo-block-past-end.dbf", [](XBO_dBaseFld& t) { t.xbMemoSizeN(1); }),
            "Memo record is bad in " + platform::FindExistingFile(dir + "memo-block-past-end.dbt"));
  // A Visual FoxPro integer field of the wrong width is read as text.
  XBO_dBaseFld vfp(dir + "vfp-int-width-3.dbf", "", false, false);
  vfp.xbGetRec(1);
  EXPECT_EQ(vfp.xbStringGetN(1), "12");
  EXPECT_EQ(vfp.xbNumberGetN(1), 12);
}

// Tables python3-dbf and another engine wrote: every field reads what
// dbfread reads.
TEST(FieldPeers, WeReadWhatDbfreadReads) {
  TempDir dir;
  const auto lines = Lines(RunOut(kXbPeer + " pydbfall " + Sh(dir.path())));
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& l : lines) ExpectDbfreadAgrees(dir / Split(l, ' ')[1]);
  for (const char* name : {"ntx/mixed", "cdx/mixed", "ntx/longc", "cdx/longc", "ntx/empty", "cdx/empty"})
    ExpectDbfreadAgrees(kXbData + "harbour/" + name + ".dbf");
}

// Records and memos we write, read by the peers.
class FieldWritePeers : public ::testing::Test {
 protected:
  // A table of `kind`: NAME C(nameLen), QTY N(10,2), RATE F(12,4), BORN D,
  // OK L, NOTE M; three records through the typed puts, the second deleted.
  std::string Make(char kind, int nameLen = 20) {
    const std::string path = Build(dir_, std::string("w") + kind + ".dbf",
                                   {{"NAME", "C", nameLen, 0}, {"QTY", "N", 10, 2}, {"RATE", "F", 12, 4},
                                    {"BORN", "D", 8, 0}, {"OK", "L", 1, 0}, {"NOTE", "M", 10, 0}},
                                   kind);
    XBO_dBaseFld t(path, "", true, false);
    t.xbBlank();
    t.xbStringPut("NAME", name_);
    t.xbStringPut("QTY", "-3.5");
    t.xbNumberPut("RATE", 1234.5678);
    t.xbDatePut("BORN", xbDBFDate().MDY2Jul(6, 6, 1799));
    t.xbStringPut("OK", "y");
    t.xbStringPut("NOTE", memo_);
    t.xbAppend();
    t.xbBlank();
    t.xbStringPut("NAME", "gone");
    t.xbAppend();
    t.xbDeleteRec();
    t.xbBlank();
    t.xbStringPut("NAME", "Gogol");
    t.xbNumberPut("RATE", 0.00005);
    t.xbLogicPut("OK", false);
    t.xbStringPut("NOTE", "");
    t.xbAppend();
    return path;
  }
  TempDir dir_;
  const std::string name_ = platform::Utf8ToAnsi("Пушкин");
  const std::string memo_ = platform::Utf8ToAnsi("Первая запись\r\n") + std::string(600, 'z');
};

TEST_F(FieldWritePeers, DbfreadReadsDBaseIIIAndFoxProAndDBaseIVFields) {
  for (char kind : {'3', 'F'}) ExpectDbfreadAgrees(Make(kind, 300));
  ExpectDbfreadAgrees(Make('4'), {6});  // (dbfread's dBase IV memos carry 8 bytes too many)
  const auto lines = Lines(RunOut(kXbPeer + " dbfread " + Sh(dir_ / "w3.dbf")));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "V " + Hex(name_) + "|-3.5|1234.5678|17990606|T|" + Hex(memo_));
  EXPECT_EQ(lines[1], "V " + Hex("Gogol") + "|0.0|0.0001||F|");
}

TEST_F(FieldWritePeers, PerlXBaseReadsDBaseIIIAndIV) {
  for (char kind : {'3', '4'}) {
    const std::string out = RunOut("dbf_dump --fs '|' " + Sh(Make(kind)));
    EXPECT_EQ(out, name_ + "|-3.5|1234.5678|17990606|1|" + memo_ + "\nGogol|0|0.0001||0|\n") << kind;
  }
}

TEST_F(FieldWritePeers, PgdbfReadsDBaseIIIAndFoxPro) {
  for (char kind : {'3', 'F'}) {
    const std::string table = Make(kind, 255);
    const std::string memoFile =
        platform::FindExistingFile(XBobjMemo::MemoFileName(table, kind == 'F' ? 0xF5 : 0x83));
    const std::string out = RunOut("pgdbf -m " + Sh(memoFile) + " " + Sh(table));
    std::string memo = memo_;
    memo.replace(memo.find("\r\n"), 2, "\\r\\n");
    EXPECT_NE(out.find(name_ + "\t-3.50\t1234.5678\t1799-06-06\tt\t" + memo + "\n"), std::string::npos)
        << kind << out.substr(0, 400);
    EXPECT_NE(out.find("Gogol\t0.00\t0.0001\t\\N\tf\t\n"), std::string::npos) << kind << out.substr(0, 400);
  }
}

// Visual FoxPro binary fields rewritten through the puts, read by dbfread.
TEST(FieldPeers, VisualFoxProBinaryFieldsRoundTrip) {
  TempDir dir;
  RunOut(kXbPeer + " pydbfall " + Sh(dir.path()));
  const std::string path = dir / "vfpall.dbf";
  {
    XBO_dBaseFld t(path, "", true, false);
    t.xbGetRec(1);
    EXPECT_EQ(t.xbStringGet("CNT"), "7");
    EXPECT_EQ(t.xbStringGet("PRICE"), "12.3456");
    EXPECT_EQ(t.xbStringGet("TS"), "29.02.2024 13:45:10");
    EXPECT_EQ(t.xbStringGet("DBL"), "1.5");
    t.xbStringPut("CNT", "-2.5");  // halves to even
    t.xbNumberPut("PRICE", -7.25);
    t.xbStringPut("TS", "01.03.2024 08:09:10");
    t.xbNumberPut("DBL", -0.125);
    t.xbStringPut("NOTES", platform::Utf8ToAnsi("новая"));
    t.xbStringPut("NAME", platform::Utf8ToAnsi("Ёж"));
    t.SetdState(dbEdit);
    t.xbPutRec(1);
    t.xbGetRec(3);
    t.xbBlank();
    t.xbPutRec(3);
    EXPECT_EQ(ErrorOf([&] { t.xbNumberPut("CNT", 3e9); }), "numeric value too big in field CNT - 3000000000");
  }
  ExpectDbfreadAgrees(path);
  const auto lines = Lines(RunOut(kXbPeer + " dbfread " + Sh(path)));
  ASSERT_GE(lines.size(), 2u);
  const int64_t ts = (xbDBFDate().MDY2Jul(3, 1, 2024) - 1721425) * int64_t{86400000} + (8 * 3600 + 9 * 60 + 10) * 1000;
  EXPECT_EQ(lines[0], "V " + Hex(platform::Utf8ToAnsi("Ёж")) + "|12.5|3.25|19991231|T|" +
                          Hex(platform::Utf8ToAnsi("новая")) + "|-2|-0.125|" + std::to_string(ts) + "|-7.25");
  EXPECT_EQ(lines[1], "V |0.0|0.0||||0|0.0||0");
}
