// The dataset's blob stream: memos read and written through the stream
// (and read by the peers), its bounds and its states.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dataaccess/DBError.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "tests/xbase/TableUtil.h"
#include "xbase/dataset/dataset.h"
#include "xbase/dataset/dataset_handler.h"
#include "xbase/table/table_builders.h"

using namespace xbase;
using dataaccess::EDatabaseError;

namespace {

// A table of NAME C 20 and NOTE M (kind '3', '4' or 'F') with `notes` in order.
std::string NotesTable(const TempDir& dir, char kind, const std::vector<std::string>& notes) {
  const std::string name = std::string("notes") + kind + ".dbf";
  std::unique_ptr<XBO_DBFBuild> b;
  if (kind == '4') b = std::make_unique<XBO_DB4Build>(dir / name);
  else if (kind == 'F') b = std::make_unique<XBO_DBFoxBuild>(dir / name);
  else b = std::make_unique<XBO_DBFBuild>(dir / name);
  b->InsertField("NAME", "C", 20, 0);
  b->InsertField("NOTE", "M", 10, 0);
  b->Complete();
  XBO_dBaseFld t(b->FileName(), "", true, false);
  for (size_t i = 0; i < notes.size(); ++i) {
    t.xbBlank();
    t.xbStringPut("NAME", "n" + std::to_string(i + 1));
    t.xbStringPut("NOTE", notes[i]);
    t.xbAppend();
  }
  return b->FileName();
}

// A dataset over `table`, opened; text converted between the table's OEM
// code page and ANSI with `translate`.
class TNotes : public TXBaseDataSet {
 public:
  explicit TNotes(const std::string& table, bool translate = false) {
    SetDatabaseName(platform::ExtractFilePath(table));
    SetTableName(platform::ExtractFileName(table));
    SetTranslateASCII(translate);
  }
};

std::string ReadAll(dataaccess::TBlobStream& s) {
  std::string text(4096, '\0');
  text.resize(static_cast<size_t>(s.Read(text.data(), 4096)));
  return text;
}

std::string Note(TNotes& ds) {
  auto s = ds.CreateBlobStream(ds.FieldByName("NOTE"), dataaccess::bmRead);
  return ReadAll(*s);
}

TEST(BlobStream, ReadsWritesAndStoresOnlyWhatChanged) {
  TempDir dir;
  TNotes ds(NotesTable(dir, '3', {"0123456789", "second"}));
  ds.Open();
  dataaccess::TField& note = ds.FieldByName("NOTE");
  EXPECT_EQ(Note(ds), "0123456789");  // 4,096 asked, 10 given

  ds.Edit();
  {
    auto s = ds.CreateBlobStream(note, dataaccess::bmReadWrite);
    s->Seek(2, platform::soBeginning);
    EXPECT_EQ(s->Write("abc", 3), 3);
    EXPECT_EQ(s->Size(), 5);  // the tail after the written bytes is gone
    s->Commit();
  }
  EXPECT_TRUE(static_cast<dataaccess::TBlobField&>(note).Modified());
  ds.Post();
  EXPECT_EQ(Note(ds), "01abc");

  ds.Next();
  ds.Edit();
  ds.CreateBlobStream(note, dataaccess::bmRead).reset();  // read, freed: nothing stored
  EXPECT_EQ(Note(ds), "second");
  ds.CreateBlobStream(note, dataaccess::bmWrite).reset();  // opened for writing: emptied
  ds.Post();
  EXPECT_TRUE(note.IsNull());
  EXPECT_EQ(ds.DBFHandle()->xbFieldGetN(2), std::string(10, ' '));

  ds.Close();
  XBO_dBaseFld t(dir / "notes3.dbf", "", false, false);
  t.xbGetRec(1);
  EXPECT_EQ(t.xbStringGetN(2), "01abc");
}

TEST(BlobStream, PositionsStayInBoundsAndAGapReadsAsZeros) {
  TempDir dir;
  TNotes ds(NotesTable(dir, 'F', {"0123456789"}));
  ds.Open();
  ds.Edit();
  auto s = ds.CreateBlobStream(ds.FieldByName("NOTE"), dataaccess::bmReadWrite);
  EXPECT_EQ(s->Seek(-5, platform::soBeginning), 0);
  EXPECT_EQ(s->Seek(-100, platform::soEnd), 0);
  EXPECT_EQ(s->Seek(INT64_MIN, platform::soCurrent), 0);
  EXPECT_EQ(s->Seek(INT64_MAX, platform::soCurrent), INT64_MAX);
  char c = 0;
  EXPECT_EQ(s->Read(&c, 1), 0);
  EXPECT_EQ(s->Seek(3, platform::soEnd), 13);
  EXPECT_EQ(s->Read(&c, 1), 0);
  s->Write("!", 1);
  s->Seek(0, platform::soBeginning);
  EXPECT_EQ(ReadAll(*s), std::string("0123456789\0\0\0!", 14));
  s->Commit();
  s.reset();
  ds.Post();
  EXPECT_EQ(Note(ds), std::string("0123456789\0\0\0!", 14));
}

TEST(BlobStream, WritingNeedsAnEditAndAWritableField) {
  TempDir dir;
  TNotes ds(NotesTable(dir, '3', {"text"}));
  ds.Open();
  dataaccess::TField& note = ds.FieldByName("NOTE");
  const std::string notEditing = "Dataset not in edit or insert mode";
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { ds.CreateBlobStream(note, dataaccess::bmWrite); }), notEditing);
  ds.Edit();
  note.SetReadOnly(true);
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { ds.CreateBlobStream(note, dataaccess::bmReadWrite); }),
            "Field 'NOTE' cannot be modified");
  note.SetReadOnly(false);
  // A change whose edit ended before it was committed is reported, not
  // silently dropped; the stream's destructor then stays quiet.
  auto s = ds.CreateBlobStream(note, dataaccess::bmWrite);
  s->Write("late", 4);
  ds.Cancel();
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { s->Commit(); }), notEditing);
  s.reset();
  EXPECT_EQ(Note(ds), "text");
}

TEST(BlobStream, TextMemosAreStoredInTheOemCodePage) {
  TempDir dir;
  TNotes ds(NotesTable(dir, '3', {""}), true);
  ds.Open();
  const std::string text = platform::Utf8ToAnsi("Жизнь и судьба");
  ds.Edit();
  ds.CreateBlobStream(ds.FieldByName("NOTE"), dataaccess::bmWrite)->WriteBuffer(text.data(), 14);
  ds.Post();
  EXPECT_EQ(Note(ds), text);
  ds.DBFHandle()->xbGetRec(1);
  EXPECT_EQ(ds.DBFHandle()->xbStringGetN(2), platform::AnsiToOem(text));
}

TEST(BlobStream, PeersReadMemosWrittenThroughTheStream) {
  TempDir dir;
  const std::string memo = platform::Utf8ToAnsi("Первая\r\n") + std::string(700, 'x');
  for (char kind : {'3', '4', 'F'}) {
    TNotes ds(NotesTable(dir, kind, {"old", "keep"}));
    ds.Open();
    ds.Edit();
    ds.CreateBlobStream(ds.FieldByName("NOTE"), dataaccess::bmWrite)->WriteBuffer(memo.data(), 708);
    ds.Post();
    ds.Append();
    ds.FieldByName("NAME").SetAsString("new");
    ds.CreateBlobStream(ds.FieldByName("NOTE"), dataaccess::bmWrite)->WriteBuffer("short", 5);
    ds.Post();
    ds.Close();
    const std::string table = dir / (std::string("notes") + kind + ".dbf");
    if (kind != '4') {  // (dbfread's dBase IV memos carry 8 bytes too many)
      EXPECT_EQ(RunOut(kXbPeer + " dbfread " + Sh(table)),
                "V " + Hex("n1") + "|" + Hex(memo) + "\nV " + Hex("n2") + "|" + Hex("keep") + "\nV " +
                    Hex("new") + "|" + Hex("short") + "\n")
          << kind;
    }
    if (kind != 'F') {
      EXPECT_EQ(RunOut("dbf_dump --fs '|' " + Sh(table)), "n1|" + memo + "\nn2|keep\nnew|short\n") << kind;
    }
  }
}

}  // namespace
