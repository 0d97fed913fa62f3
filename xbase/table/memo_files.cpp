#include "xbase/table/memo_files.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/Files.h"
#include "xbase/base/byte_order.h"
#include "xbase/base/errors.h"
#include "xbase/base/scrambling.h"
#include "xbase/base/utilities.h"

namespace xbase {

namespace {

constexpr int64_t kMaxBlock = 0xFFFFFFFFLL;  // block numbers are 32-bit in the headers
constexpr int kChunk = 1 << 20;
// The largest hole a dBase IV free chain may have a new memo leave past
// the end of the file, when the file itself is smaller (64 MB).
constexpr int64_t kMaxHole = int64_t{1} << 26;

int64_t CeilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

bool IsFoxVersion(uint8_t v) { return v == 0x30 || v == 0xF5; }

}  // namespace

std::string XBobjMemo::MemoFileName(const std::string& tableName, uint8_t dbVer) {
  std::string ext;
  if (dbVer == 0x83 || dbVer == 0x8B) ext = ".dbt";
  else if (IsFoxVersion(dbVer)) ext = ".fpt";
  else return {};
  // Other programs on a case-sensitive file system look for the memo file
  // in the case of the table's extension: BOOKS.DBF has BOOKS.DBT.
  const std::string tableExt = platform::ExtractFileExt(tableName);
  const bool upper = std::any_of(tableExt.begin(), tableExt.end(), [](char c) { return c >= 'A' && c <= 'Z'; }) &&
                     std::none_of(tableExt.begin(), tableExt.end(), [](char c) { return c >= 'a' && c <= 'z'; });
  if (upper) std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
  return platform::ChangeFileExt(tableName, ext);
}

std::string XBobjMemo::MemoTitle(const std::string& fileName) {
  std::string title = platform::Utf8ToAnsi(FileBaseName(fileName)).substr(0, 8);
  title.resize(9, '\0');
  return title;
}

std::unique_ptr<XBobjMemo> XBobjMemo::Open(const std::string& tableName, const AnsiString& password,
                                           bool readWrite, bool shared, uint8_t dbVer) {
  const std::string memoPath = MemoFileName(tableName, dbVer);
  return memoPath.empty() ? nullptr : OpenFile(memoPath, password, readWrite, shared, dbVer);
}

std::unique_ptr<XBobjMemo> XBobjMemo::OpenFile(const std::string& memoPath, const AnsiString& password,
                                               bool readWrite, bool shared, uint8_t dbVer) {
  if (dbVer == 0x83) return std::unique_ptr<XBobjMemo>(new XBobjMemo(memoPath, password, readWrite, shared, dbVer));
  if (dbVer == 0x8B) return std::make_unique<XBobjMemo4>(memoPath, password, readWrite, shared, dbVer);
  if (IsFoxVersion(dbVer)) return std::make_unique<XBobjFXMemo20>(memoPath, password, readWrite, shared, dbVer);
  return nullptr;
}

XBobjMemo::XBobjMemo(const std::string& memoPath, const AnsiString& password, bool readWrite, bool shared,
                     uint8_t dbVer)
    : XBO_DiskFile(memoPath, readWrite, shared),
      TypeMemo_(dbVer),
      IsEncrypted_(!password.empty()),
      PasswordIn_(password),
      PasswordOut_(password) {
  regions_ = XBLockRegionsOf(dfLockStyle_);
  xbReset();
}

void XBobjMemo::SetEncryption(bool isEncrypted, const AnsiString& passwordIn, const AnsiString& passwordOut) {
  IsEncrypted_ = isEncrypted;
  PasswordIn_ = passwordIn;
  PasswordOut_ = passwordOut;
}

void XBobjMemo::moSetLockProtocol(XBsetLokProtocol p) {
  dfLockStyle_ = p;
  regions_ = XBLockRegionsOf(p);
}

void XBobjMemo::RaiseBad() const { XBRaise(xbmBadMemoRecord, {FileName()}); }

uint32_t XBobjMemo::ReadWord(int64_t pos, bool bigEndian) {
  uint8_t b[4] = {};
  LinkRead(pos, b, 4);
  return bigEndian ? GetBE32(b) : GetLE32(b);
}

void XBobjMemo::WriteWord(int64_t pos, uint32_t v, bool bigEndian) {
  uint8_t b[4];
  if (bigEndian)
    PutBE32(b, v);
  else
    PutLE32(b, v);
  LinkWrite(pos, b, 4);
}

void XBobjMemo::LinkRead(int64_t pos, uint8_t* bytes, int size) {
  const int got = xbRead(pos, bytes, size);
  if (got < size) std::memset(bytes + std::max(got, 0), 0, static_cast<size_t>(size - std::max(got, 0)));
  for (const THeldWrite& w : held_) {
    const int64_t from = std::max(pos, w.pos);
    const int64_t to = std::min(pos + size, w.pos + static_cast<int64_t>(w.bytes.size()));
    if (from < to) std::memcpy(bytes + (from - pos), w.bytes.data() + (from - w.pos), static_cast<size_t>(to - from));
  }
}

void XBobjMemo::LinkWrite(int64_t pos, const uint8_t* bytes, int size) {
  if (holding_)
    held_.push_back({pos, std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size))});
  else
    xbWrite(pos, bytes, size);
}

void TMemoJournal::Undo(XBO_DiskFile& file) {
  for (auto w = saved_.rbegin(); w != saved_.rend(); ++w)
    file.XBO_DiskFile::xbWrite(w->pos, w->bytes.data(), static_cast<int>(w->bytes.size()));
  saved_.clear();
  if (size_ >= 0 && file.xbFileSize() > size_) file.xbTruncate(size_);
}

void XBobjMemo::moKeepJournal(TMemoJournal* journal) {
  journal_ = journal;
  if (journal_ && journal_->size_ < 0) journal_->size_ = xbFileSize();
}

int XBobjMemo::xbWrite(int64_t blk, const void* dat, int len) {
  if (journal_) {
    const int64_t below = std::min<int64_t>(blk + len, journal_->size_) - blk;
    if (below > 0) {
      std::string was(static_cast<size_t>(below), '\0');
      XBO_DiskFile::xbRead(blk, was.data(), static_cast<int>(below));
      journal_->saved_.push_back({blk, std::move(was)});
      // What was not written is not put back: a write refused past a size
      // limit would be refused again.
      int done = 0;
      try {
        done = XBO_DiskFile::xbWrite(blk, dat, len);
      } catch (...) {
        journal_->saved_.pop_back();
        throw;
      }
      if (done < below) journal_->saved_.back().bytes.resize(static_cast<size_t>(std::max(done, 0)));
      return done;
    }
  }
  return XBO_DiskFile::xbWrite(blk, dat, len);
}

void XBobjMemo::WriteMemoThenLinks(int64_t at, const std::string& image) {
  const int64_t oldSize = xbFileSize();
  const int64_t end = at + static_cast<int64_t>(image.size());
  // The blocks a memo takes inside the file (a dBase IV free run) begin
  // with a link of the free chain: a write cut short must not leave them
  // half overwritten.
  std::vector<THeldWrite> undo;  // what the writes replaced, in their order
  try {
    for (int64_t from = at; from < std::min(end, oldSize);) {
      const int part = static_cast<int>(std::min<int64_t>(std::min(end, oldSize) - from, 1 << 30));
      THeldWrite was{from, std::string(static_cast<size_t>(part), '\0')};
      was.bytes.resize(static_cast<size_t>(std::max(xbRead(from, was.bytes.data(), part), 0)));
      undo.push_back(std::move(was));
      from += part;
    }
    for (int64_t done = 0; done < static_cast<int64_t>(image.size());) {
      const int part = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(image.size()) - done, 1 << 30));
      xbWrite(at + done, image.data() + done, part);
      done += part;
    }
    for (const THeldWrite& w : held_) {
      if (w.pos < end && w.pos + static_cast<int64_t>(w.bytes.size()) > at) continue;
      THeldWrite was{w.pos, std::string(w.bytes.size(), '\0')};
      xbRead(w.pos, was.bytes.data(), static_cast<int>(was.bytes.size()));
      undo.push_back(std::move(was));
      xbWrite(w.pos, w.bytes.data(), static_cast<int>(w.bytes.size()));
    }
  } catch (...) {
    // Each put back on its own (a write refused past a size limit is
    // refused again, and what lies before it must still go back); the
    // first failure is the one to report.
    for (auto w = undo.rbegin(); w != undo.rend(); ++w) {
      try {
        xbWrite(w->pos, w->bytes.data(), static_cast<int>(w->bytes.size()));
      } catch (...) {
      }
    }
    try {
      // A shared file is not cut: the header's next free block still lies
      // before what was added, and the next memo goes past it.
      if (xbFileSize() > oldSize && FileFullyLocked()) xbTruncate(oldSize);
    } catch (...) {
    }
    held_.clear();
    throw;
  }
  held_.clear();
}

int64_t XBobjMemo::EndBlock() { return CeilDiv(xbFileSize(), BytesPerBlok_); }

void XBobjMemo::MemoLock() {
  if (!FileShared()) return;
  if (dfLockStyle_ == XBsetLokProtocol::DB4Lock)
    xbWaitLock(int64_t{regions_.Max} - 1, 2);
  else
    xbWaitLock(regions_.Min, 1);
}

void XBobjMemo::MemoUnlock() {
  if (!FileShared()) return;
  if (dfLockStyle_ == XBsetLokProtocol::DB4Lock)
    UnlockByteRange(int64_t{regions_.Max} - 1, 2);
  else
    UnlockByteRange(regions_.Min, 1);
}

// dBase III: the memo ends at its first 0x1A (or, scrambled, after the
// length stored before it). The scan is bounded by the file, not by a
// 64 KB cap: other writers store longer memos the same way.
XBobjMemo::Extent XBobjMemo::Measure(int64_t blk) {
  if (blk > kMaxBlock) RaiseBad();  // before it is multiplied: no overflow for any number
  const int64_t size = xbFileSize();
  const int64_t pos = blk * BytesPerBlok_;
  if (pos >= size) RaiseBad();
  Extent e;
  if (ReadScrambled()) {
    uint8_t b[4];
    if (xbRead(pos, b, 4) < 4) RaiseBad();
    e.dataLen = GetLE32(b);
    if (e.dataLen > size - pos - 4) RaiseBad();
    e.dataPos = pos + 4;
    e.blocks = CeilDiv(4 + e.dataLen + 1, BytesPerBlok_);
  } else {
    std::string buf(kChunk, '\0');
    int64_t at = pos;
    e.dataLen = -1;
    while (at < size && e.dataLen < 0) {
      const int n = xbRead(at, buf.data(), static_cast<int>(std::min<int64_t>(kChunk, size - at)));
      if (n <= 0) break;
      const void* hit = std::memchr(buf.data(), 0x1A, static_cast<size_t>(n));
      if (hit) e.dataLen = at - pos + (static_cast<const char*>(hit) - buf.data());
      at += n;
    }
    if (e.dataLen < 0) e.dataLen = std::min(at, size) - pos;  // no terminator: up to the end
    e.dataPos = pos;
    // The terminator's byte counts as occupied; a second one may not fit
    // (other writers end a memo of 512*k - 1 bytes with a single 0x1A).
    e.blocks = CeilDiv(e.dataLen + 1, BytesPerBlok_);
  }
  e.stored = e.dataLen;
  return e;
}

int64_t XBobjMemo::moMemoSpaceUsed(int64_t blk) {
  if (blk == 0) return 0;
  if (blk < 0) RaiseBad();
  return Measure(blk).stored;
}

int64_t XBobjMemo::moMemoSize(int64_t blk) {
  if (blk == 0) return 0;
  if (blk < 0) RaiseBad();
  return Measure(blk).dataLen;
}

int64_t XBobjMemo::moMemoRead(void* buf, int64_t blk, int64_t room) {
  if (blk < 0) RaiseBad();
  MemoLocation_ = blk;
  MemoBloksUsed_ = 0;
  if (blk == 0) {
    if (room > 0) static_cast<char*>(buf)[0] = 0;
    return 0;
  }
  const Extent e = Measure(blk);
  MemoBloksUsed_ = e.blocks;
  const int64_t n = std::max<int64_t>(0, std::min(room, e.dataLen));
  auto* out = static_cast<uint8_t*>(buf);
  for (int64_t done = 0; done < n;) {
    const int part = static_cast<int>(std::min<int64_t>(n - done, 1 << 30));
    if (xbRead(e.dataPos + done, out + done, part) < part) RaiseBad();
    done += part;
  }
  if (ReadScrambled()) CryptBuffer(PasswordIn_, out, out, static_cast<size_t>(n), false);
  return n;
}

AnsiString XBobjMemo::moMemoGet(int64_t blk) {
  const int64_t len = moMemoSize(blk);
  AnsiString text(static_cast<size_t>(len), '\0');
  if (len > 0) text.resize(static_cast<size_t>(moMemoRead(text.data(), blk, len)));
  return text;
}

std::string XBobjMemo::BlockHeader(int64_t cb, const Extent&) {
  if (!WriteScrambled()) return {};
  std::string h(4, '\0');
  PutLE32(reinterpret_cast<uint8_t*>(h.data()), static_cast<uint32_t>(cb));
  return h;
}

void XBobjMemo::ReleaseRun(int64_t, int64_t) {}

void XBobjMemo::moHuntAvailBlock(int64_t need) { AppendAtNextFree(need, false); }

void XBobjMemo::AppendAtNextFree(int64_t need, bool bigEndian) {
  const int64_t next = ReadWord(0, bigEndian);
  const int64_t size = xbFileSize();
  // The header's next free block is believed unless data stands beyond it
  // (more than the end-of-file byte): a damaged header must not send a new
  // memo over an old one. Nor past the end of the file: a memo written far
  // beyond it leaves a hole that a memo without its terminator before it
  // then reads as data, the file growing each time such a memo is put back.
  const int64_t end = CeilDiv(size, BytesPerBlok_);
  const int64_t start = next >= 1 && next * BytesPerBlok_ + 1 >= size && next <= end ? next : end;
  if (start + need > kMaxBlock) RaiseBad();
  WriteWord(0, static_cast<uint32_t>(start + need), bigEndian);
  MemoLocation_ = start;
}

int64_t XBobjMemo::HighestBlockNamed(int64_t limit) {
  if (highestNamed_ < 0) highestNamed_ = named_ ? std::max<int64_t>(named_(limit), 0) : 0;
  return highestNamed_;
}

void XBobjMemo::moMemoBlockRelease(int64_t blk) {
  if (blk <= 0) return;
  MemoLock();
  try {
    const Extent e = Measure(blk);
    ReleaseRun(blk, e.blocks);
  } catch (...) {
    MemoUnlock();
    throw;
  }
  MemoUnlock();
}

void XBobjMemo::moMemoWipe(int64_t blk) {
  if (blk <= 0) return;
  MemoLock();
  try {
    const Extent e = Measure(blk);
    const std::string zeros(static_cast<size_t>(std::min<int64_t>(e.dataLen, kChunk)), '\0');
    for (int64_t done = 0; done < e.dataLen;) {
      const int part = static_cast<int>(std::min<int64_t>(e.dataLen - done, kChunk));
      xbWrite(e.dataPos + done, zeros.data(), part);
      done += part;
    }
  } catch (...) {
    MemoUnlock();
    throw;
  }
  MemoUnlock();
}

void XBobjMemo::moMemoWrite(const void* buf, int64_t& blk, int64_t cb) {
  if (cb < 0) throw std::invalid_argument("negative memo length");
  if (cb == 0 && blk == 0) return;
  if (blk < 0) RaiseBad();
  MemoLock();
  try {
    Extent old;
    MemoLocation_ = blk;
    MemoBloksUsed_ = 0;
    if (blk > 0) {
      old = Measure(blk);
      MemoBloksUsed_ = old.blocks;
    }
    if (cb == 0) {
      MemoUnlock();
      blk = 0;
      return;
    }
    const std::string head = BlockHeader(cb, old);
    const std::string tail = moMemoPutLast();
    const int64_t need = CeilDiv(static_cast<int64_t>(head.size()) + cb + static_cast<int64_t>(tail.size()),
                                 BytesPerBlok_);
    // The place is chosen with its bookkeeping held back: the header and
    // free chain move on only once the new memo is written.
    held_.clear();
    holding_ = true;
    try {
      moHuntAvailBlock(need);
    } catch (...) {
      holding_ = false;
      held_.clear();
      throw;
    }
    holding_ = false;
    std::string image(static_cast<size_t>(need * BytesPerBlok_), '\0');
    std::memcpy(image.data(), head.data(), head.size());
    uint8_t* data = reinterpret_cast<uint8_t*>(image.data()) + head.size();
    if (WriteScrambled())
      CryptBuffer(PasswordOut_, buf, data, static_cast<size_t>(cb), true);
    else
      std::memcpy(data, buf, static_cast<size_t>(cb));
    std::memcpy(data + cb, tail.data(), tail.size());
    WriteMemoThenLinks(MemoLocation_ * BytesPerBlok_, image);
    MemoBloksUsed_ = need;
  } catch (...) {
    MemoUnlock();
    throw;
  }
  MemoUnlock();
  blk = MemoLocation_;
}

void XBobjMemo::moMemoZap() {
  const bool fox = IsFoxVersion(TypeMemo_);
  const int64_t first = fox ? CeilDiv(512, BytesPerBlok_) : 1;
  // Cut first: a header written over a file still long would send the next
  // memo -- or a dBase IV free-chain walk -- into the old data.
  xbTruncate(first * BytesPerBlok_);
  WriteWord(0, static_cast<uint32_t>(first), fox);
}

std::string XBobjMemo::moZappedImage() {
  const bool fox = IsFoxVersion(TypeMemo_);
  const int64_t first = fox ? CeilDiv(512, BytesPerBlok_) : 1;
  std::string image(static_cast<size_t>(first * BytesPerBlok_), '\0');
  xbRead(0, image.data(), static_cast<int>(image.size()));
  uint8_t* h = reinterpret_cast<uint8_t*>(image.data());
  if (fox)
    PutBE32(h, static_cast<uint32_t>(first));
  else
    PutLE32(h, static_cast<uint32_t>(first));
  return image;
}

bool XBobjMemo::moRename(const std::string& newTableName) {
  const std::string oldName = FileName();
  const std::string target = MemoFileName(ExpandName(newTableName), TypeMemo_);
  if (!(TypeMemo_ == 0x83 || TypeMemo_ == 0x8B) || !FileReadWrite()) return xbRename(target);
  xbRename(target);
  std::string oldTitle;
  try {
    oldTitle.resize(9, '\0');
    oldTitle.resize(static_cast<size_t>(std::max(xbRead(8, oldTitle.data(), 9), 0)));
    const std::string title = MemoTitle(target);
    xbWrite(8, title.data(), static_cast<int>(title.size()));
  } catch (...) {
    // The file goes back to the name its table keeps, its header as it
    // was (the part of the new name written, at least).
    try {
      xbWrite(8, oldTitle.data(), static_cast<int>(oldTitle.size()));
    } catch (const EXBaseError&) {
    }
    xbRename(oldName);
    throw;
  }
  return true;
}

// --- dBase IV ---

XBobjMemo4::XBobjMemo4(const std::string& memoPath, const AnsiString& password, bool readWrite, bool shared,
                       uint8_t dbVer)
    : XBobjMemo(memoPath, password, readWrite, shared, dbVer) {
  uint8_t h[24] = {};
  xbRead(0, h, sizeof h);
  BytesPerBlok_ = h[20] | h[21] << 8;
  // A block must hold a free run's 8-byte link.
  if (BytesPerBlok_ < 8) RaiseBad();
  moMemoOffSet_ = 8;
  const int64_t size = xbFileSize();
  if (FileReadWrite() && size < BytesPerBlok_) {
    const std::string pad(static_cast<size_t>(BytesPerBlok_ - size), '\0');
    xbWrite(size, pad.data(), static_cast<int>(pad.size()));
  }
}

XBobjMemo::Extent XBobjMemo4::Measure(int64_t blk) {
  if (blk > kMaxBlock) RaiseBad();
  const int64_t size = xbFileSize();
  const int64_t pos = blk * BytesPerBlok_;
  uint8_t h[8];
  if (pos + 8 > size || xbRead(pos, h, 8) < 8) RaiseBad();
  if (h[0] != 0xFF || h[1] != 0xFF) RaiseBad();
  Extent e;
  e.stored = GetLE32(h + 4);
  if (e.stored < 8 || e.stored > size - pos) RaiseBad();
  e.dataPos = pos + 8;
  e.dataLen = e.stored - 8;
  e.blocks = CeilDiv(e.stored, BytesPerBlok_);
  return e;
}

std::string XBobjMemo4::BlockHeader(int64_t cb, const Extent&) {
  if (cb > kMaxBlock - 8) RaiseBad();
  std::string h(8, '\0');
  auto* p = reinterpret_cast<uint8_t*>(h.data());
  p[0] = p[1] = 0xFF;
  p[2] = 8;
  PutLE32(p + 4, static_cast<uint32_t>(cb + 8));
  return h;
}

void XBobjMemo4::ReleaseRun(int64_t blk, int64_t blocks) {
  if (blk <= 0 || blocks <= 0) return;
  uint8_t run[8];
  PutLE32(run, ReadWord(0, false));
  PutLE32(run + 4, static_cast<uint32_t>(blocks));
  LinkWrite(blk * BytesPerBlok_, run, 8);
  WriteWord(0, static_cast<uint32_t>(blk), false);
  WriteWord(4, 0, false);
}

// The chain is walked for the first run that is large enough (the old
// memo's blocks are not among them: its record still names them). A run is
// checked before it is believed: within the file, at least one block, not
// a memo's block, and the walk no longer than the file has blocks (a cycle
// in a damaged chain).
void XBobjMemo4::moHuntAvailBlock(int64_t need) {
  const int64_t end = EndBlock();
  const int64_t size = xbFileSize();
  int64_t predPos = 0;  // where the link to `cur` is stored: the header's first word, or a run's
  int64_t cur = ReadWord(0, false);
  for (int64_t steps = 0; cur >= 1 && cur < end; ++steps) {
    if (steps > end) RaiseBad();
    uint8_t run[8];
    if (cur * BytesPerBlok_ + 8 > size) RaiseBad();
    LinkRead(cur * BytesPerBlok_, run, 8);
    const int64_t next = GetLE32(run);
    const int64_t count = GetLE32(run + 4);
    // A memo's block header read as a link (a chain into a live memo) names
    // a next run far past the end, where only a file cut short has one.
    const bool memoBlock = run[0] == 0xFF && run[1] == 0xFF && next > end;
    if (count < 1 || cur + count > end || memoBlock) RaiseBad();
    if (count >= need) {
      int64_t successor = next;
      if (count > need) {
        successor = cur + need;
        uint8_t rest[8];
        PutLE32(rest, static_cast<uint32_t>(next));
        PutLE32(rest + 4, static_cast<uint32_t>(count - need));
        LinkWrite(successor * BytesPerBlok_, rest, 8);
      }
      WriteWord(predPos, static_cast<uint32_t>(successor), false);
      MemoLocation_ = cur;
      return;
    }
    predPos = cur * BytesPerBlok_;
    cur = next;
  }
  // The last link names the end of the file. One past the end says the file
  // went on further: records of a file cut short may still name blocks
  // there, and a memo put at the end would become theirs (and be given
  // back when they are rewritten). The new memo goes where the link says
  // -- unless the hole it leaves would dwarf the file, which only damage
  // makes.
  const int64_t holeBlocks = std::max(size, kMaxHole) / BytesPerBlok_;
  int64_t at = end;
  if (cur > end && cur - end <= holeBlocks) at = cur;
  // Nor may it become the memo of a record that names a block past the
  // end: that record's rewrite would give it back while another record
  // names it. A sound file names none there, so only a file that shows
  // damage has its records read.
  if (EndLooksDamaged(cur)) at = std::max(at, HighestBlockNamed(end + holeBlocks) + 1);
  if (at + need > kMaxBlock) RaiseBad();
  WriteWord(predPos, static_cast<uint32_t>(at + need), false);
  MemoLocation_ = at;
}

bool XBobjMemo4::EndLooksDamaged(int64_t chainEnd) {
  if (chainEnd != EndBlock() || xbFileSize() % BytesPerBlok_ != 0) return true;
  if (headerHoldsMemo_ < 0) {
    // The header's block is unused past its fields; a memo block header at
    // an 8-byte boundary there belongs to a file of smaller blocks.
    std::string head(static_cast<size_t>(BytesPerBlok_), '\0');
    head.resize(static_cast<size_t>(std::max(xbRead(0, head.data(), BytesPerBlok_), 0)));
    headerHoldsMemo_ = 0;
    for (size_t at = 24; at + 4 <= head.size() && !headerHoldsMemo_; at += 8)
      headerHoldsMemo_ = head.compare(at, 4, "\xFF\xFF\x08\x00", 4) == 0;
  }
  return headerHoldsMemo_ != 0;
}

// --- FoxPro ---

XBobjFXMemo20::XBobjFXMemo20(const std::string& memoPath, const AnsiString& password, bool readWrite,
                             bool shared, uint8_t dbVer)
    : XBobjMemo(memoPath, password, readWrite, shared, dbVer) {
  uint8_t h[32] = {};
  xbRead(0, h, sizeof h);
  BytesPerBlok_ = h[6] << 8 | h[7];
  if (BytesPerBlok_ < 1) RaiseBad();
  moMemoOffSet_ = 8;
}

XBobjMemo::Extent XBobjFXMemo20::Measure(int64_t blk) {
  if (blk > kMaxBlock) RaiseBad();
  const int64_t size = xbFileSize();
  const int64_t pos = blk * BytesPerBlok_;
  uint8_t h[8];
  if (pos + 8 > size || xbRead(pos, h, 8) < 8) RaiseBad();
  Extent e;
  e.type = GetBE32(h);
  if (e.type > 1) RaiseBad();
  e.dataLen = GetBE32(h + 4);
  if (e.dataLen > size - pos - 8) RaiseBad();
  e.dataPos = pos + 8;
  e.stored = e.dataLen + 8;
  e.blocks = CeilDiv(e.stored, BytesPerBlok_);
  return e;
}

std::string XBobjFXMemo20::BlockHeader(int64_t cb, const Extent& old) {
  if (cb > kMaxBlock) RaiseBad();
  std::string h(8, '\0');
  auto* p = reinterpret_cast<uint8_t*>(h.data());
  PutBE32(p, old.blocks > 0 ? old.type : 1);  // a picture stays a picture
  PutBE32(p + 4, static_cast<uint32_t>(cb));
  return h;
}

void XBobjFXMemo20::moHuntAvailBlock(int64_t need) { AppendAtNextFree(need, true); }

}  // namespace xbase
