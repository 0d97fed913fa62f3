// Whole-table work of the handler: the table password.
#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "platform/Files.h"
#include "xbase/base/errors.h"
#include "xbase/base/replace_files.h"
#include "xbase/base/scrambling.h"
#include "xbase/handler/table_handler.h"
#include "xbase/table/table_file.h"
#include "xbase/table/memo_files.h"

namespace xbase {

namespace {

// The 263-byte area a Visual FoxPro header carries behind its terminator.
constexpr int kVfpArea = 263;
// Records moved per transfer while the table is rewritten.
constexpr int kChunkBytes = 1 << 20;

}  // namespace

void XBO_dBHandler::RequireScramblable(const AnsiString& password) {
  if (password.empty()) return;
  const int areaLen = HeadLen() - 33 - (FileVers() == 0x30 ? kVfpArea : 0);
  std::vector<uint8_t> area(static_cast<size_t>(areaLen) + 1);
  if (XBO_DiskFile::xbRead(32, area.data(), areaLen + 1) < areaLen + 1) XBRaise(xbmReadError, {FileName()});
  if (xbvIsEncrypted()) CryptBuffer(xbvPasswordIn(), area.data(), area.data(), static_cast<size_t>(areaLen), false);
  std::vector<XBR_DBFField> fields;
  if (ReadDescriptors(area.data(), areaLen, RecLen(), FileVers(), true, fields)) return;
  // The field at fault, where one is.
  const size_t at = fields.size() * XBR_DBFField::Size;
  std::string why = "its fields do not fill its records";
  if (at + XBR_DBFField::Size <= static_cast<size_t>(areaLen) && area[at] != 0x0D) {
    XBR_DBFField f;
    f.Decode(area.data() + at);
    why = "its field " + f.Name() + " has a type (" + std::string(1, f.dbFieldType) +
          ") or a name that a scrambled table cannot hold";
  }
  throw EXBaseEncryption("Table " + FileName() + " cannot be scrambled: " + why);
}

void XBO_dBHandler::xbSetPassword(const AnsiString& APassword) {
  if (FileShared() || !FileReadWrite()) XBRaise(xbmFullAccessRequired, {"SetPassword", FileName()});
  const AnsiString old = xbvIsEncrypted() ? xbvPasswordIn() : AnsiString();
  if (old == APassword) return;
  RequireScramblable(APassword);

  // The table's own compound index follows its password whether or not
  // anyone has it open: it is opened for the change, closed after it.
  struct TOwnIndexes {
    XBO_dBHandler& table;
    std::vector<int> slots;
    ~TOwnIndexes() {
      for (int slot : slots) {
        try {
          if (table.IndexStack(slot)) table.CloseSlot(slot);
        } catch (const EXBaseError&) {
          // Nothing of it is owed: it was written whole by the change.
        }
      }
    }
  } own{*this, OpenOwnIndexFiles()};

  const dbFileState wasState = dState();
  const AnsiString tag = PrimaryTagName_;
  // What the index files owe goes out under the password they hold now.
  for (int slot : OpenIndexSlots()) IndexStack(slot)->Flush();
  SetdState(dbCopy);
  // Memos are read with the old password and written with the new one
  // while the records move; a failure puts the old one back.
  SetPasswords(old, APassword);
  XBobjMemo* memo = xbMemoObject();
  TMemoJournal journal;
  if (memo) memo->moKeepJournal(&journal);
  std::vector<int64_t> released;
  const auto restore = [&] {
    SetPasswords(old, old);
    SetdState(wasState);
  };
  try {
    std::unique_ptr<platform::TReplaceFile> out = NewFileBeside(FileName());
    platform::TFile& file = out->File();
    const auto put = [&](int64_t pos, const void* bytes, int64_t n) {
      try {
        file.WriteAt(pos, bytes, n);
      } catch (const platform::EFileError& e) {
        XBRaiseDiskError("Write", e.error, FileName(), pos);
      }
    };

    // The header, with the new scrambling flag and the count as it stands.
    XBR_DBFHeader head = HeadProlog();
    head.RecordCount = NumRecs();
    head.Encrypted = APassword.empty() ? 0 : 1;
    head.DBTableFlag = static_cast<uint8_t>(IndexFlag() | MemoFlag() | DBCFlag());
    uint8_t raw[XBR_DBFHeader::Size];
    head.Encode(raw);
    put(0, raw, sizeof raw);

    // The descriptors are scrambled like the records; the terminator and a
    // Visual FoxPro area behind it are copied as they are.
    const int area = HeadLen() - 33 - (FileVers() == 0x30 ? kVfpArea : 0);
    std::vector<uint8_t> bytes(static_cast<size_t>(HeadLen() - 32));
    if (XBO_DiskFile::xbRead(32, bytes.data(), HeadLen() - 32) < HeadLen() - 32) XBRaise(xbmReadError, {FileName()});
    CryptBuffer(old, bytes.data(), bytes.data(), static_cast<size_t>(area), false);
    CryptBuffer(APassword, bytes.data(), bytes.data(), static_cast<size_t>(area), true);
    put(32, bytes.data(), HeadLen() - 32);

    // The records, a run at a time; each passes through the record buffer,
    // where its memos are written anew.
    const int perChunk = std::max(1, kChunkBytes / RecLen());
    bytes.resize(static_cast<size_t>(perChunk) * static_cast<size_t>(RecLen()));
    const size_t len = static_cast<size_t>(RecLen());
    for (int first = 1; first <= NumRecs(); first += perChunk) {
      const int count = std::min(perChunk, NumRecs() - first + 1);
      const int64_t pos = int64_t{HeadLen()} + int64_t{first - 1} * RecLen();
      const int want = count * RecLen();
      if (XBO_DiskFile::xbRead(pos, bytes.data(), want) < want) XBRaise(xbmReadError, {FileName()});
      for (int i = 0; i < count; ++i) {
        uint8_t* rec = bytes.data() + static_cast<size_t>(i) * len;
        CryptBuffer(old, rec, rec, len, false);
        if (memo) {
          std::memcpy(CurRecord(), rec, len);
          xbRewriteMemoRecord(released);
          std::memcpy(rec, CurRecord(), len);
        }
        CryptBuffer(APassword, rec, rec, len, true);
      }
      put(pos, bytes.data(), want);
    }

    // Whatever follows the records (the end-of-file byte) as it is.
    const int64_t tail = int64_t{HeadLen()} + int64_t{NumRecs()} * RecLen();
    for (int64_t at = tail, size = xbFileSize(); at < size;) {
      const int n = XBO_DiskFile::xbRead(at, bytes.data(), static_cast<int>(std::min<int64_t>(size - at, kChunkBytes)));
      if (n <= 0) break;
      put(at, bytes.data(), n);
      at += n;
    }

    if (memo) memo->xbFlush();
    // The open index files are scrambled anew on copies, put in place with
    // the table.
    ChangeIndexFiles(OpenIndexSlots(), -1, [](XBobjIndexFile& f) { f.ixEncrypt(); }, [&] {
      try {
        out->Commit();
      } catch (const platform::EFileError&) {
        XBRaise(xbmCannotCreate, {FileName()});
      }
    });
  } catch (...) {
    // The memos written anew go, and the memo file is as it was.
    if (memo) {
      memo->moKeepJournal(nullptr);
      try {
        journal.Undo(*memo);
      } catch (const EXBaseError&) {
        // The failure on its way is the one to report.
      }
    }
    restore();
    if (RecNumber() > 0 && RecNumber() <= NumRecs()) ReadPhysical(RecNumber());
    if (!IndexMaster_) RestoreTag(tag);
    throw;
  }

  if (memo) memo->moKeepJournal(nullptr);
  // The new file stands in the old one's place: reopen it.
  CacheFirst_ = -1;
  XBO_DiskFile::xbCloseFile();
  xbReset();
  std::exception_ptr failure;
  // The old memos' texts are wiped while they can still be measured with
  // the password they were written with.
  try {
    for (int64_t blk : released) memo->moMemoWipe(blk);
  } catch (...) {
    failure = std::current_exception();
  }
  SetPasswords(APassword, APassword);
  SetEncrypted(!APassword.empty());
  SetdState(wasState);
  // The memos the records no longer point at go back to the memo file
  // (only the dBase IV format takes blocks back).
  if (memo && memo->TypeMemo() == 0x8B && !failure) {
    try {
      for (int64_t blk : released) memo->moMemoBlockRelease(blk);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (RecNumber() > 0 && RecNumber() <= NumRecs()) ReadPhysical(RecNumber());
  if (IndexMaster_ && RecNumber() > 0 && !failure) {
    SyncPending_ = false;
    IndexMaster_->KeySync(RecNumber());
  }
  if (failure) std::rethrow_exception(failure);
}

void XBO_dBHandler::xbRewriteMemoRecord(std::vector<int64_t>& released) {
  for (int n = 1; n <= NumFields(); ++n) {
    XBobjMemo* memo = xbMemoFieldCheck(n);
    if (!memo) continue;
    const double number = xbNumberGetN(n);
    if (!(number >= 1 && number < 0x1p53)) continue;
    const auto blk = static_cast<int64_t>(number);
    const AnsiString text = memo->moMemoGet(blk);
    // Written as a new memo: the old one stays whole for the table that
    // still points at it until the new table is in place.
    int64_t fresh = 0;
    memo->moMemoWrite(text.data(), fresh, static_cast<int64_t>(text.size()));
    xbNumberPutN(n, static_cast<double>(fresh));
    released.push_back(blk);
  }
}

}  // namespace xbase
