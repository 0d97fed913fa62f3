// Memo files: the text of memo fields, which hold only a block number.
//
// Block n starts at byte n * block size; block 0 is the header, so block
// number 0 in a field means "no memo". Integers are little-endian in the
// .dbt files and big-endian in the .fpt file.
//
// dBase III ".dbt" (table version 0x83), blocks of 512:
//   0   4  next free block (a new file: 1)
//   8   9  table base name, at most 8 characters, zero-filled
//   512 1  0x1A in a new file (513 bytes)
//   A memo is its bytes, then 0x1A 0x1A, in whole blocks; no length is
//   stored: it ends at the first 0x1A. (A scrambled memo starts with its
//   length in 4 plain bytes, then the scrambled data.)
//
// dBase IV ".dbt" (0x8B):
//   0   4  head of the chain of free runs (a new file: 1)
//   8   9  table base name, at most 8 characters, zero-filled
//   18  1  2       19  1  1       20  2  block size (512 in a new file)
//   A memo block: FF FF, 08 00, LenMemo (4: data length + 8), the data.
//   A free run: next free run (4), blocks in the run (4). The last link
//   of the chain points at the end of the file.
//
// FoxPro ".fpt" (0x30, 0xF5):
//   0   4  next free block (big-endian)
//   6   2  block size (big-endian; 64 in a new file, which is 512 bytes)
//   A memo block: type (4, big-endian: 1 text, 0 picture), data length
//   (4, big-endian), the data. Every write goes to the next free block.
//
// A memo is never written over the one it replaces: a record names its
// old memo until the record itself is written, so a write cut short, or an
// edit given up, leaves the record's memo whole. The replaced blocks stay
// as they are (dBase III, FoxPro) or go back to the free chain once the
// record no longer names them (dBase IV).
//
// Every length and block number read from a file is checked against the
// file's size before anything is sized or read by it (65138 otherwise), so a
// damaged memo file raises instead of allocating or running away.
//
// One user at a time; not thread-safe. Writers on a shared memo file
// serialise through the memo lock of the table's protocol; readers take none.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "xbase/base/disk_file.h"
#include "xbase/table/lock_protocols.h"

namespace xbase {

using platform::AnsiString;

// What a memo file asks of the table whose records name its memos: the
// highest block a record names in a memo field, deleted records included,
// among the blocks up to `limit`; 0 when none.
using TMemoBlocksNamed = std::function<int64_t(int64_t limit)>;

// What a piece of work replaced in a memo file, to put the file back as it
// was should the work fail after its memos were written (a password
// change writing every memo anew, a pack giving the deleted records'
// blocks back). A memo object keeping one saves, before each write, the
// bytes it replaces below the size the file had when the journal began.
class TMemoJournal {
 public:
  // Puts the saved bytes back, last first, and cuts the file to the size
  // it had (raising what fails).
  void Undo(XBO_DiskFile& file);

 private:
  friend class XBobjMemo;
  struct TSaved {
    int64_t pos;
    std::string bytes;
  };
  int64_t size_ = -1;
  std::vector<TSaved> saved_;
};

// The dBase III memo format; the base of the dBase IV and FoxPro ones.
class XBobjMemo : public XBO_DiskFile {
 public:
  // Opens the memo file of table `tableName` for table version `dbVer`:
  // the table's name with ".dbt" (0x83, 0x8B) or ".fpt" (0x30, 0xF5), in
  // the case of the table's extension (upper case for "BOOKS.DBF"), found
  // in any case. A missing file raises 65199, an unusable header 65138.
  // Memos are scrambled when a password is given.
  static std::unique_ptr<XBobjMemo> Open(const std::string& tableName, const AnsiString& password,
                                         bool readWrite, bool shared, uint8_t dbVer);
  // The same for the memo file `memoPath` itself, whatever its name (a
  // memo file written beside its final name until it is complete).
  static std::unique_ptr<XBobjMemo> OpenFile(const std::string& memoPath, const AnsiString& password,
                                             bool readWrite, bool shared, uint8_t dbVer);
  // The memo file name of a table for its version ("" for one without); its
  // extension is upper case when the table's is, lower case otherwise.
  static std::string MemoFileName(const std::string& tableName, uint8_t dbVer);
  // The 9 bytes of the dBase headers' name field at offset 8: the base name
  // of `fileName` in the ANSI code page, cut to 8 characters, zero-filled.
  static std::string MemoTitle(const std::string& fileName);

  ~XBobjMemo() override = default;

  // Reads the memo at `blk` into `buf`, at most `room` bytes; returns the
  // bytes delivered. Block 0 delivers nothing. Sets MemoBloksUsed.
  int64_t moMemoRead(void* buf, int64_t blk, int64_t room);
  // The whole memo at `blk` ("" for block 0).
  AnsiString moMemoGet(int64_t blk);
  // The length as stored: dBase IV LenMemo, FoxPro data + 8, dBase III the
  // data length. 0 for block 0.
  int64_t moMemoSpaceUsed(int64_t blk);
  // The memo's data length.
  int64_t moMemoSize(int64_t blk);
  // Writes `cb` bytes as the memo that was at `blk` (0 for a new one) and
  // stores in `blk` the block where it now lives (0 for an empty memo). The
  // old memo is measured (a damaged one raises 65138) but left as it is,
  // in every format: the record still names it until the record is
  // written, and an edit given up keeps it. Its blocks are given back only
  // then (moMemoBlockRelease). On a shared file this waits for the memo
  // lock (65198). The new memo's blocks are written before the header and
  // free chain say so: a failure leaves `blk` and the file as they were (a
  // shared file may keep blocks added at its end, which nothing names).
  void moMemoWrite(const void* buf, int64_t& blk, int64_t cb);
  // Gives the blocks of the memo at `blk` back for reuse, once no record
  // names it (dBase IV only; the others never reuse blocks).
  void moMemoBlockRelease(int64_t blk);
  // Overwrites the data of the memo at `blk` with zeros, its blocks' headers
  // kept: for a memo nothing points at any more whose text must not stay
  // readable in the file (the old memos of a table that took a new
  // password). The memo is measured with the passwords it was written with.
  void moMemoWipe(int64_t blk);
  // Empties the memo file: it ends after its header, which names the
  // first block after itself as the next free one (block 1; FoxPro: the
  // block after its 512 bytes). Needs the file fully locked (xbTruncate).
  void moMemoZap();
  // The bytes moMemoZap leaves the file with (for a zap that writes the
  // file anew beside it).
  std::string moZappedImage();
  // Keeps `journal` of what the writes from now on replace (nullptr: no
  // longer).
  void moKeepJournal(TMemoJournal* journal);
  int xbWrite(int64_t blk, const void* dat, int len) override;
  // How to ask the table which blocks its records name. A file without
  // one (opened on its own) trusts its header and free chain.
  void moSetBlocksNamed(TMemoBlocksNamed named) { named_ = std::move(named); }
  // Takes the table's lock protocol (the memo lock's place).
  void moSetLockProtocol(XBsetLokProtocol p);
  // Follows a table renamed to `newTableName`: the memo file keeps its own
  // extension, and a dBase header's name field is rewritten. When that
  // write fails the file keeps its old name and header.
  bool moRename(const std::string& newTableName);
  // Whether memos are scrambled, and with which passwords they are read
  // and written (the table's, which differ while it changes its password).
  void SetEncryption(bool isEncrypted, const AnsiString& passwordIn, const AnsiString& passwordOut);

  uint8_t TypeMemo() const { return TypeMemo_; }
  int BytesPerBlok() const { return BytesPerBlok_; }
  // The block and block count of the memo last read, measured or written.
  int64_t MemoLocation() const { return MemoLocation_; }
  int64_t MemoBloksUsed() const { return MemoBloksUsed_; }
  // Bytes of block header before a memo's data: 0 dBase III, 8 the others.
  int moMemoOffSet() const { return moMemoOffSet_; }
  bool IsEncrypted() const { return IsEncrypted_; }

 protected:
  XBobjMemo(const std::string& memoPath, const AnsiString& password, bool readWrite, bool shared,
            uint8_t dbVer);

  // Where a memo stands, as measured from its block.
  struct Extent {
    int64_t dataPos = 0;   // byte position of its data
    int64_t dataLen = 0;   // bytes of data
    int64_t stored = 0;    // moMemoSpaceUsed
    int64_t blocks = 0;    // blocks it occupies
    uint32_t type = 1;     // FoxPro block type
  };
  // Measures the memo at `blk` (> 0), checking it against the file size.
  virtual Extent Measure(int64_t blk);
  // Chooses MemoLocation for `need` blocks, never those of a memo in use.
  virtual void moHuntAvailBlock(int64_t need);
  // Gives a measured run back (dBase IV).
  virtual void ReleaseRun(int64_t blk, int64_t blocks);
  // Block header before the data (8 bytes for dBase IV and FoxPro) for a
  // memo of `cb` bytes; the dBase III one is the plain length when scrambled.
  virtual std::string BlockHeader(int64_t cb, const Extent& old);
  // Bytes after the data: dBase III 0x1A 0x1A.
  virtual std::string moMemoPutLast() { return std::string("\x1A\x1A", 2); }

  // Reading and writing the header's words and the links of free runs;
  // while a memo write is being planned the writes are held back (and
  // reads see them), to be made only once the memo's own blocks are
  // written. File size helpers.
  uint32_t ReadWord(int64_t pos, bool bigEndian);
  void WriteWord(int64_t pos, uint32_t v, bool bigEndian);
  void LinkRead(int64_t pos, uint8_t* bytes, int size);
  void LinkWrite(int64_t pos, const uint8_t* bytes, int size);
  int64_t EndBlock();  // first block past the end of the file (rounded up)
  // MemoLocation := the header's next free block, which moves `need` on.
  void AppendAtNextFree(int64_t need, bool bigEndian);
  [[noreturn]] void RaiseBad() const;
  // The highest block the table's records name up to `limit` (0 for none,
  // and without a table), asked of the table once per open: a whole
  // table's read, for damaged files only.
  int64_t HighestBlockNamed(int64_t limit);
  bool ReadScrambled() const { return IsEncrypted_ && !PasswordIn_.empty(); }
  bool WriteScrambled() const { return IsEncrypted_ && !PasswordOut_.empty(); }

  uint8_t TypeMemo_ = 0;
  int64_t MemoLocation_ = 0;
  int64_t MemoBloksUsed_ = 0;
  int BytesPerBlok_ = 512;
  int moMemoOffSet_ = 0;

 private:
  void MemoLock();
  void MemoUnlock();
  // Writes a memo's blocks `image` at byte `at`, then the link writes held
  // back while its place was chosen (those under the memo's blocks are
  // superseded by them); on a failure every byte written is put back and
  // the file cut to its old size, and the failure raised.
  void WriteMemoThenLinks(int64_t at, const std::string& image);

  struct THeldWrite {
    int64_t pos;
    std::string bytes;
  };
  TMemoJournal* journal_ = nullptr;
  TMemoBlocksNamed named_;
  int64_t highestNamed_ = -1;  // not asked yet
  bool holding_ = false;
  std::vector<THeldWrite> held_;

  bool IsEncrypted_ = false;
  AnsiString PasswordIn_, PasswordOut_;
  XBsetLokProtocol dfLockStyle_ = XBsetLokProtocol::Default;
  XBLockRegions regions_;
};

// The dBase IV format: runs of freed blocks are reused.
class XBobjMemo4 : public XBobjMemo {
 public:
  XBobjMemo4(const std::string& memoPath, const AnsiString& password, bool readWrite, bool shared,
             uint8_t dbVer);

 protected:
  Extent Measure(int64_t blk) override;
  void moHuntAvailBlock(int64_t need) override;
  void ReleaseRun(int64_t blk, int64_t blocks) override;
  std::string BlockHeader(int64_t cb, const Extent& old) override;
  std::string moMemoPutLast() override { return {}; }

 private:
  // Whether the file shows what a record naming a block past its end
  // comes with: the chain's last link not at the end, a last block cut
  // short, or a memo block inside the header's block (a file of smaller
  // blocks whose header says larger ones).
  bool EndLooksDamaged(int64_t chainEnd);

  int headerHoldsMemo_ = -1;  // not looked at yet
};

// The FoxPro format: every write appends.
class XBobjFXMemo20 : public XBobjMemo {
 public:
  XBobjFXMemo20(const std::string& memoPath, const AnsiString& password, bool readWrite, bool shared,
                uint8_t dbVer);

 protected:
  Extent Measure(int64_t blk) override;
  void moHuntAvailBlock(int64_t need) override;
  std::string BlockHeader(int64_t cb, const Extent& old) override;
  std::string moMemoPutLast() override { return {}; }
};

}  // namespace xbase
