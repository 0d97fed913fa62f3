#include "xbase/table/table_builders.h"

#include <cstring>
#include <exception>
#include <vector>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "xbase/base/errors.h"
#include "xbase/base/replace_files.h"
#include "xbase/base/scrambling.h"
#include "xbase/table/memo_files.h"

namespace xbase {

namespace {

constexpr int kMaxWord = 65535;

void PutLE32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(v >> (8 * i));
}

}  // namespace

XBO_DBFBuild::XBO_DBFBuild(const std::string& fileName)
    : FileName_(DefaultFileExt(fileName, ".DBF")),
      uncaught_(std::uncaught_exceptions()) {}

XBO_DBFBuild::~XBO_DBFBuild() { FinishOnDestroy(); }

void XBO_DBFBuild::FinishOnDestroy() noexcept {
  // A builder abandoned by an exception writes nothing: its field list may
  // be incomplete.
  if (!dFile_ && std::uncaught_exceptions() == uncaught_) {
    try {
      Complete();
    } catch (const std::exception&) {
      // A destructor cannot report; an explicit Complete does.
    }
  }
}

void XBO_DBFBuild::InsertField(const AnsiString& name, std::string_view typ, int len, int dec) {
  if (name.empty()) return;
  auto refuse = [this] {
    GoodToGo_ = false;
    XBRaise(xbmInvalidFieldList);
  };
  if (typ.empty()) refuse();
  auto f = std::make_unique<XBR_DBFField>();
  const AnsiString upper = platform::AnsiUpperCase(name).substr(0, 10);
  std::memcpy(f->dbFieldName, upper.data(), upper.size());
  f->dbFieldType = static_cast<char>(platform::AnsiUpperChar(static_cast<unsigned char>(typ[0])));
  // A blank, control or non-ASCII type letter makes a table that no reader
  // (this engine's open included) accepts.
  if (f->dbFieldType < 0x21 || f->dbFieldType > 0x7E) refuse();
  int length = len;
  switch (f->dbFieldType) {
    case 'M': case 'B': case 'G':
      length = 10;
      dec = 0;
      hasMemo_ = true;
      break;
    case 'C':
      if (len < 0 || len > kMaxWord) refuse();
      dec = len / 256;
      len %= 256;
      break;
    case 'D': length = 8; dec = 0; break;
    case 'L': length = 1; dec = 0; break;
    default:
      if (len < 0 || len > 255 || dec < 0 || dec > 255) refuse();
  }
  f->dbFieldLgth = static_cast<uint8_t>(f->dbFieldType == 'C' ? len : length);
  f->dbFieldDec = static_cast<uint8_t>(dec);
  // The record length must fit its header word with every field so far.
  if (dbRecLen_ + length > kMaxWord || 32 * (Count() + 1) + 33 > kMaxWord) refuse();
  dbRecLen_ += length;
  Add(std::move(f));
}

void XBO_DBFBuild::Complete() {
  if (!GoodToGo_) return;
  if (!password_.empty()) {
    const std::string image = TableImage();
    std::vector<XBR_DBFField> fields;
    if (!ReadDescriptors(reinterpret_cast<const uint8_t*>(image.data()) + 32, 32 * Count(), dbRecLen_,
                         static_cast<uint8_t>(image[0]), true, fields)) {
      GoodToGo_ = false;
      XBRaise(xbmInvalidFieldList);
    }
  }
  const std::string name = ExistingOrGiven(XBO_DiskFile::ExpandName(FileName_));
  // A table another program holds open is not replaced under it.
  std::unique_ptr<XBO_DiskFile> held;
  if (platform::FileExists(name)) {
    held = std::make_unique<XBO_DiskFile>(name, true, false);
    held->xbReset();
  }
  std::unique_ptr<platform::TReplaceFile> table = NewFileBeside(name);
  try {
    dFile_ = std::make_unique<XBO_DiskFile>(table->TempPath(), true, false);
    dFile_->SetShownName(name);
    dFile_->xbReset();
    WriteDBF();
    dFile_->xbCloseFile();
    if (hasMemo_) WriteDBT();
    if (held) held->xbCloseFile();
    std::string keptTable, keptMemo;
    PutTableInPlace(*table, memo_.get(), false, keptTable, keptMemo);
  } catch (...) {
    dFile_.reset();
    memo_.reset();
    throw;
  }
  memo_.reset();
}

void XBO_DBFBuild::WriteDBF() {
  std::string image = TableImage();
  if (!password_.empty()) {
    image[15] = 1;
    CryptBuffer(password_, image.data() + 32, image.data() + 32, static_cast<size_t>(32 * Count()), true);
  }
  dFile_->xbWrite(0, image.data(), static_cast<int>(image.size()));
}

std::string XBO_DBFBuild::TableImage() const {
  const int n = Count();
  std::string image(static_cast<size_t>(32 * n + 34), '\0');
  XBR_DBFHeader h;
  h.DBType = hasMemo_ ? dbTypeMemo : dbTypeNoMo;
  const platform::TSystemTime t = platform::LocalTimeOf(platform::WallClockMs());
  h.Year = static_cast<uint8_t>(t.year % 100);
  h.Month = static_cast<uint8_t>(t.month);
  h.Day = static_cast<uint8_t>(t.day);
  h.Location = static_cast<uint16_t>(32 * n + 33);
  h.RecordLen = static_cast<uint16_t>(dbRecLen_);
  auto* bytes = reinterpret_cast<uint8_t*>(image.data());
  h.Encode(bytes);
  for (int i = 0; i < n; ++i) Items(i)->Encode(bytes + 32 * (i + 1));
  image[static_cast<size_t>(32 * (n + 1))] = 0x0D;
  image[static_cast<size_t>(32 * (n + 1) + 1)] = 0x1A;
  return image;
}

void XBO_DBFBuild::WriteMemoFile(const std::string& name, const std::string& bytes) {
  memo_ = NewFileBeside(ExistingOrGiven(XBO_DiskFile::ExpandName(name)));
  XBO_DiskFile memo(memo_->TempPath(), true, false);
  memo.SetShownName(memo_->Target());
  memo.xbReset();
  memo.xbWrite(0, bytes.data(), static_cast<int>(bytes.size()));
  memo.xbCloseFile();
}

void XBO_DBFBuild::WriteDBT() {
  std::string image(513, '\0');
  PutLE32(image.data(), 1);
  const std::string title = XBobjMemo::MemoTitle(FileName());
  image.replace(8, title.size(), title);
  image[512] = 0x1A;
  WriteMemoFile(XBobjMemo::MemoFileName(FileName(), dbTypeMemo), image);
}

XBO_DB4Build::XBO_DB4Build(const std::string& fileName) : XBO_DBFBuild(fileName) { dbTypeMemo = 0x8B; }

XBO_DB4Build::~XBO_DB4Build() { FinishOnDestroy(); }

void XBO_DB4Build::WriteDBT() {
  std::string image(24, '\0');
  PutLE32(image.data(), 1);
  const std::string title = XBobjMemo::MemoTitle(FileName());
  image.replace(8, title.size(), title);
  image[18] = 2;
  image[19] = 1;
  image[20] = 0x00;  // block size 512, little-endian
  image[21] = 0x02;
  WriteMemoFile(XBobjMemo::MemoFileName(FileName(), dbTypeMemo), image);
}

XBO_DBFoxBuild::XBO_DBFoxBuild(const std::string& fileName) : XBO_DBFBuild(fileName) { dbTypeMemo = 0xF5; }

XBO_DBFoxBuild::~XBO_DBFoxBuild() { FinishOnDestroy(); }

void XBO_DBFoxBuild::WriteDBT() {
  std::string image(512, '\0');
  image[3] = 8;  // next free block, big-endian: the header fills blocks 0-7
  image[7] = 64;  // block size, big-endian
  WriteMemoFile(XBobjMemo::MemoFileName(FileName(), dbTypeMemo), image);
}

bool CreateDBF(const std::string& fname, char ftype, const dbInsertFieldProc& fproc, const AnsiString& password) {
  try {
    std::unique_ptr<XBO_DBFBuild> b;
    switch (ftype) {
      case '3': case 'C': b = std::make_unique<XBO_DBFBuild>(fname); break;
      case '4': case '5': b = std::make_unique<XBO_DB4Build>(fname); break;
      case 'F': b = std::make_unique<XBO_DBFoxBuild>(fname); break;
      default: return false;
    }
    for (int i = 1;; ++i) {
      AnsiString s;
      char t = 0;
      int l = 0, d = 0;
      if (!fproc(i, s, t, l, d)) {
        b->SetGoodToGo(false);
        return false;
      }
      if (s.empty()) break;
      b->InsertField(s, std::string_view(&t, 1), l, d);
    }
    b->SetPassword(password);
    b->Complete();
    return b->Completed();
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace xbase
