// Fuzz harness: an index file as another program may have left it, over a
// sound table. The input's first byte picks the format by its low two bits
// (0 NDX, 1 NTX, 2 CDX, 3 MDX) and with bit 2 opens the table shared (the
// index files then read and write every page without the block cache); the
// rest is the index file. The table, 40 records made once per process, is
// copied fresh for every input; besides NA and AU it has the fields of the
// peer engine's fixture table, so that the peer's index files bind.
//
// First read-only: the index is routed, and every tag in turn is walked top
// to bottom and bottom to top (capped: a damaged file may loop), sought,
// moved by percent and range, and made to answer a filter and a look-up;
// the table must come out byte for byte as it went in.
// Then read-write, every tag in turn: a record appended, a key changed, a
// record deleted, the tag walked again; then the index rebuilt from the
// table (each tag must then hold every record it should, once) and a tag
// deleted from it. The records the harness did not write must come out as
// they went in. Only the engine's own errors may come out.
#include "XbaseFuzz.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "xbase/dataset/create_table.h"
#include "xbase/handler/table_handler.h"

namespace {

using namespace xbase;

constexpr int kRecords = 40;
// Moves in one walk, at most: a sound walk takes kRecords + a few.
constexpr int kMaxSteps = 4 * kRecords;
// Tags exercised in one file, at most (a damaged directory may claim many).
constexpr int kMaxTags = 8;
const char* const kExtensions[] = {".ndx", ".ntx", ".cdx", ".mdx"};

// The folder the inputs are written to, removed when the run ends, and the
// table image every input starts from.
struct TFixture {
  std::string folder = platform::CreateTempFolder(platform::SystemTempDir(), "fuzz-index");
  std::string table = folder + "/t.dbf";
  std::string image;
  size_t headerLen = 0, recLen = 0;

  TFixture() {
    CreateTableFromFieldList(table, "", 3,
                             {"NA;C;20;0", "AU;N;10;0", "NAME;C;24;0", "CITY;C;16;0", "AMOUNT;N;12;2", "RATE;N;8;4",
                              "BORN;D;8;0"});
    {
      XBO_dBaseFld t(table, "", true, false);
      for (int i = 1; i <= kRecords; ++i) {
        t.xbBlank();
        // Some keys repeat, so that the tags hold duplicates.
        const std::string n = std::string(1, static_cast<char>('A' + i % 13)) + std::to_string(i % 17);
        t.xbStringPutN(1, n);
        t.xbNumberPutN(2, (i * 7) % 23 - 5);
        t.xbStringPutN(3, "Name " + n);
        t.xbStringPutN(4, i % 3 ? "Tver" : "Omsk");
        t.xbNumberPutN(5, (i * 37 % 101 - 50) * 1.25);
        t.xbNumberPutN(6, i / 8.0);
        t.xbStringPutN(7, "2001" + std::string(i % 12 < 9 ? "0" : "") + std::to_string(i % 12 + 1) + "15");
        t.xbAppend();
      }
    }
    image = platform::ReadFileBytes(table);
    headerLen = static_cast<uint8_t>(image[8]) | static_cast<uint8_t>(image[9]) << 8;
    recLen = static_cast<uint8_t>(image[10]) | static_cast<uint8_t>(image[11]) << 8;
  }
  ~TFixture() { platform::DeleteTree(folder); }
};

const TFixture& Fixture() {
  static const TFixture fixture;
  return fixture;
}

using xbfuzz::Expected;

[[noreturn]] void Finding(const char* what) {
  std::fprintf(stderr, "xbase_index: %s\n", what);
  std::abort();
}

void Walk(XBO_dBHandler& t, int start, int step) {
  int steps = 0;
  for (t.xbGetRec(start); t.xbvRecRead() && steps < kMaxSteps; t.xbGetRec(step)) {
    ++steps;
    if (t.RecNumber() < 1 || t.RecNumber() > t.NumRecs()) Finding("a walk read a record outside the table");
  }
}

void WalkBothWays(XBO_dBHandler& t) {
  Expected([&] { Walk(t, xbRecTop, xbRecNext); });
  Expected([&] { Walk(t, xbRecBottom, xbRecPrior); });
}

void Seek(XBO_dBHandler& t) {
  for (const char* key : {"", "A1", "M", "Name B", "3", "-5", "20010615", "\xFF"}) {
    Expected([&] { t.xbFind(key); });
    t.SetxbvFindNear(!t.xbvFindNear());
  }
  Expected([&] { t.xbSkip(3); });
  Expected([&] { t.xbSkip(-5); });
  Expected([&] { t.xbSetIndexPercent(0.5, false); });
  Expected([&] { t.xbGetIndexPercent(7, true); });
  // The tags answer a filter and a look-up where their keys serve.
  Expected([&] {
    t.SetOptimizeFilter(true);
    t.xbSetFilterExpr("NA >= 'C' .AND. AU > 3", false, false, false);
    t.xbSetFilterActive(true);
    Walk(t, xbRecTop, xbRecNext);
    t.xbSetFilterExpr("", false, false, false);
  });
  Expected([&] {
    const dataaccess::TVariant values[] = {"K", 4.0};
    t.xbLocateRecord("NA;AU", values, false, true, 0);
    t.xbLocateRecord("NA", std::span(values, 1), false, true, 0);
  });
  AnsiString key;
  Expected([&] { t.xbGetKey(xbRecTop, key); });
  Expected([&] { t.xbGetKey(xbRecNext, key); });
  Expected([&] {
    if (t.xbSetRange("B", "K", true, false, true)) Walk(t, xbRecTop, xbRecNext);
    t.xbResetRange();
  });
}

// The tags of the open file, at most kMaxTags.
std::set<AnsiString> TagNames(XBO_dBHandler& t) {
  std::set<AnsiString> names;
  for (int i = 1; i <= kMaxTags; ++i)
    if (XBobjIndexTag* tag = t.xbIndexPointer(i)) names.insert(tag->TagName());
  return names;
}

void ReadOnly(const std::string& index, bool shared) {
  Expected([&] {
    XBO_dBHandler t(Fixture().table, "", false, shared);
    t.xbIndexRoute(index);
    for (const AnsiString& name : TagNames(t))
      Expected([&] {
        t.xbSetTagTo(name, false);
        WalkBothWays(t);
        Seek(t);
      });
  });
  if (platform::ReadFileBytes(Fixture().table) != Fixture().image) Finding("a read-only table changed");
}

// A tag just rebuilt from the table holds every record once (those its
// FOR condition passes, one of each key when unique), and reads the same
// both ways.
void CheckRebuilt(XBO_dBHandler& t, const AnsiString& name) {
  t.xbSetTagTo(name, false);
  std::vector<int> down, up;
  for (t.xbGetRec(xbRecTop); t.xbvRecRead() && down.size() <= kMaxSteps; t.xbGetRec(xbRecNext))
    down.push_back(t.RecNumber());
  for (t.xbGetRec(xbRecBottom); t.xbvRecRead() && up.size() <= kMaxSteps; t.xbGetRec(xbRecPrior))
    up.push_back(t.RecNumber());
  if (std::set<int>(down.begin(), down.end()).size() != down.size()) Finding("a rebuilt tag holds a record twice");
  if (!std::equal(down.begin(), down.end(), up.rbegin(), up.rend())) Finding("a rebuilt tag reads otherwise upwards");
  const XBobjIndexTag* tag = t.IndexMaster();
  if (tag && !tag->KeyIsUnique() && !tag->Conditional() && static_cast<int>(down.size()) != t.NumRecs())
    Finding("a rebuilt tag lacks records");
}

void ReadWrite(const std::string& index, bool shared, std::set<int>& written) {
  Expected([&] {
    XBO_dBHandler t(Fixture().table, "", true, shared);
    t.xbIndexRoute(index);
    int turn = 0;
    for (const AnsiString& name : TagNames(t)) {
      ++turn;
      Expected([&] {
        t.xbSetTagTo(name, false);
        t.xbBlank();
        t.xbStringPutN(1, "Z" + std::to_string(turn));
        t.xbNumberPutN(2, -turn);
        t.xbStringPutN(3, "Name A" + std::to_string(turn));
        written.insert(t.NumRecs() + 1);
        t.xbAppend();
      });
      Expected([&] {
        const int r = 2 * turn;
        t.xbGetRec(r);
        written.insert(r);
        t.xbStringPutN(1, "C" + std::to_string(turn));
        t.xbNumberPutN(2, 100 + turn);
        t.xbStringPutN(3, "Name Q");
        t.xbNumberPutN(5, turn);
        t.xbPutRec(r);
      });
      Expected([&] {
        const int r = 2 * turn + 1;
        t.xbGetRec(r);
        written.insert(r);
        t.xbDeleteRec();
      });
      WalkBothWays(t);
    }
    Expected([&] {
      t.xbReIndex();
      for (const AnsiString& name : TagNames(t)) Expected([&] { CheckRebuilt(t, name); });
    });
    // A tag deleted from the file; the others still read.
    Expected([&] {
      const std::set<AnsiString> names = TagNames(t);
      if (names.empty() || t.xbIndexTagRemove(index, *names.begin()) != 0) return;
      for (const AnsiString& name : TagNames(t)) Expected([&] {
          t.xbSetTagTo(name, false);
          WalkBothWays(t);
        });
    });
  });
}

// The records the harness did not write must be as they were.
void CheckUntouched(const std::set<int>& written) {
  const TFixture& f = Fixture();
  const std::string now = platform::ReadFileBytes(f.table);
  if (now.size() < f.headerLen + kRecords * f.recLen) Finding("the table lost records");
  if (now.compare(32, f.headerLen - 32, f.image, 32, f.headerLen - 32) != 0) Finding("the field descriptors changed");
  for (int r = 1; r <= kRecords; ++r) {
    if (written.count(r)) continue;
    const size_t at = f.headerLen + static_cast<size_t>(r - 1) * f.recLen;
    if (now.compare(at, f.recLen, f.image, at, f.recLen) != 0) Finding("a record the harness did not write changed");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const TFixture& f = Fixture();
  const bool shared = data[0] & 4;
  const std::string index = f.folder + "/t" + kExtensions[data[0] & 3];
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  platform::WriteFileBytes(f.table, f.image);
  platform::WriteFileBytes(index, bytes);
  ReadOnly(index, shared);
  platform::WriteFileBytes(index, bytes);
  std::set<int> written;
  ReadWrite(index, shared, written);
  CheckUntouched(written);
  platform::DeleteFile(index);
  return 0;
}
