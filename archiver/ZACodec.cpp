#include "archiver/ZACodec.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>

#include "archiver/ZACryptoTransform.h"
#include "archiver/ZAExcept.h"
#include "archiver/ZAOptions.h"
#include "archiver/ZARecords.h"
#include "archiver/ZAStreams.h"
#include "archiver/ZAZlib.h"

namespace archiver {

namespace {

// A window read starts with small reads of compressed input and doubles them
// up to ZADecompressChunk: a book's head of a few kilobytes needs a few
// kilobytes of input, not a megabyte.
constexpr int64_t kWindowFirstChunk = 16384;
constexpr int64_t kInflateOutput = 1048576;

using Bytes = std::unique_ptr<uint8_t[]>;

Bytes NewBytes(int64_t n) { return std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(n)); }

// A buffer that grows on demand and never shrinks.
class TBuffer {
 public:
  uint8_t* Reserve(int64_t n) {
    if (n > cap_) {
      data_ = NewBytes(n);
      cap_ = n;
    }
    return data_.get();
  }
  uint8_t* Data() const { return data_.get(); }

 private:
  Bytes data_;
  int64_t cap_ = 0;
};

// Raw deflate (no zlib header or trailer): zip item data is exactly that.
class TDeflater {
 public:
  explicit TDeflater(int level) : zs_(ZAZlibNewStream()) {
    CompressCheck(deflateInit2(&zs_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY));
  }
  ~TDeflater() {
    if (!ended_) deflateEnd(&zs_);
  }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;
  z_stream* operator->() { return &zs_; }
  z_stream* get() { return &zs_; }
  // Ends the stream and checks the result (a finished stream ends cleanly).
  void Finish() {
    ended_ = true;
    CompressCheck(deflateEnd(&zs_));
  }

 private:
  z_stream zs_;
  bool ended_ = false;
};

class TInflater {
 public:
  TInflater() : zs_(ZAZlibNewStream()), ok_(inflateInit2(&zs_, -MAX_WBITS) == Z_OK) {}
  ~TInflater() {
    if (ok_) inflateEnd(&zs_);
  }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;
  bool Ok() const { return ok_; }
  z_stream* operator->() { return &zs_; }
  z_stream* get() { return &zs_; }

 private:
  z_stream zs_;
  bool ok_;
};

// State of one codec call: the host, its settings, its progress state and
// the write path.
class TCodecCall {
 public:
  explicit TCodecCall(TZACodecHost& host)
      : host_(host), settings_(host.CodecSettings()), p_(host.CodecProgress()),
        onDiskFull_([&host](int volume, const std::string& file, bool& cancel) {
          host.CodecDiskFull(volume, file, cancel);
        }) {}

  TZACodecHost& Host() const { return host_; }
  const TZACodecSettings& Settings() const { return settings_; }
  TZAProgressState& P() const { return p_; }

  // Writes with the disk-full retry; false when the user gave up (the
  // FProgressCancel is then set).
  bool Write(platform::TStream& dest, const uint8_t* p, int64_t n) {
    return ZAWriteWithDiskFullRetry(dest, p, n, settings_.ArchiveFileName, onDiskFull_,
                                    p_.FProgressCancel);
  }

  // Fires the file and overall progress events for FProgress when progress
  // is enabled; false (FProgressCancel set) when a handler cancelled.
  bool Progress(const std::string& name, TZAProcessOperation op, double overallPercent) {
    if (!p_.FProgressEnabled) return true;
    const double max = p_.FProgressMax > 0 ? static_cast<double>(p_.FProgressMax) : 1.0;
    bool cancel = false;
    host_.CodecFileProgress(name, static_cast<double>(p_.FProgress) / max * 100.0, op, cancel);
    if (!cancel) host_.CodecOverallProgress(overallPercent, op, cancel);
    if (cancel) p_.FProgressCancel = true;
    return !cancel;
  }

  // Overall progress while compressing: the operation's bytes done.
  double CompressOverall() const {
    if (p_.FProcessedFilesTotalSize == 0) return 50.0;
    return static_cast<double>(p_.FProcessedFilesSize + p_.FProgress) /
           static_cast<double>(p_.FProcessedFilesTotalSize) * 100.0;
  }
  // Overall progress while extracting: items done plus this item's share.
  double ExtractOverall() const {
    const double max = p_.FProgressMax > 0 ? static_cast<double>(p_.FProgressMax) : 1.0;
    const double count = p_.FProcessedFileCount > 0 ? p_.FProcessedFileCount : 1;
    return (static_cast<double>(p_.FProgress) / max + p_.FProcessedFileNo) / count * 100.0;
  }

 private:
  TZACodecHost& host_;
  TZACodecSettings settings_;
  TZAProgressState& p_;
  TZADiskFullHandler onDiskFull_;
};

// --- Compression ------------------------------------------------------------------

struct TCompressCounts {
  int64_t bytesRead = 0;
  int64_t written = 0;  // compressed total, encryption header included
  uint32_t crc = 0xFFFFFFFF;
};

// The CRC of the whole source, read ahead so that the encryption header can
// carry its check bytes before any data is written.
uint32_t PrepassCrc(platform::TStream& source, int64_t size, uint8_t* buffer, int64_t chunk) {
  uint32_t crc = 0xFFFFFFFF;
  for (int64_t done = 0; done < size;) {
    const int64_t want = std::min(chunk, size - done);
    const int64_t got = ZAReadFully(source, buffer, want);
    ZAUpdateCrc32(buffer, got, crc);
    if (got < want) break;
    done += got;
  }
  source.SetPosition(0);
  return crc;
}

void InternalCompress(TCodecCall& call, platform::TStream& source, platform::TStream& dest,
                      const TDirItem& item, int64_t srcSize, TZACryptoTransform* aes, TCompressCounts& c) {
  TZAProgressState& p = call.P();
  const bool deflate = item.CompressionMethod != ZA_METHOD_STORED;
  const bool classic = !item.Password.empty() && !aes;
  const int64_t chunk = ZABufferSizeByMode(item.CompressionMode);
  const int64_t inCap = std::max<int64_t>(1, std::min(srcSize, chunk));
  // Big enough for one chunk's worst-case output, so one deflate call
  // normally suffices; the drain loop below copes either way.
  const int64_t outCap = (inCap + inCap / 10 + 12 + 255) / 256 * 256;
  Bytes in = NewBytes(inCap);
  Bytes out = deflate ? NewBytes(outCap) : nullptr;
  std::unique_ptr<TDeflater> z;
  if (deflate && srcSize > 0) z = std::make_unique<TDeflater>(item.CompressionMode);

  ZAZipCryptKeys keys;
  if (classic) {
    c.crc = PrepassCrc(source, srcSize, in.get(), inCap);
    uint8_t header[ZAZipCryptHeaderSize];
    ZAZipCryptMakeHeader(~c.crc, header);
    ZAZipCryptInitKeys(ZAPasswordBytes(item.Password), keys);
    ZAZipCryptEncryptBuffer(ZAZipCryptHeaderSize, 0, header, keys);
    if (!call.Write(dest, header, ZAZipCryptHeaderSize)) return;
    c.written += ZAZipCryptHeaderSize;
  }
  if (aes) {
    aes->Initialize(TCryptoTransformMode::Encryption, item);
    aes->GenerateKey(item.Password);
    const std::vector<uint8_t> start = aes->GetFileStorageStartBlock();
    if (!call.Write(dest, start.data(), static_cast<int64_t>(start.size()))) return;
    c.written += static_cast<int64_t>(start.size());
  }
  // Encrypts output in place, with whichever cipher the item has.
  const auto encrypt = [&](uint8_t* data, int64_t n) {
    if (classic) ZAZipCryptEncryptBuffer(n, 0, data, keys);
    if (aes) aes->EncryptBuffer(data, 0, n, data, 0);
  };

  p.FProgressMax = srcSize;
  bool finished = srcSize == 0;
  while (c.bytesRead < srcSize) {
    p.FProgress = c.bytesRead;
    if (!call.Progress(item.SrcFileName, item.Operation, call.CompressOverall())) break;

    const int64_t want = std::min(chunk, srcSize - c.bytesRead);
    const int64_t got = ZAReadFully(source, in.get(), want);
    if (got < want) break;
    if (!classic) ZAUpdateCrc32(in.get(), got, c.crc);
    const bool last = c.bytesRead + got == srcSize;

    bool ok = true;
    if (!deflate) {
      encrypt(in.get(), got);
      ok = call.Write(dest, in.get(), got);
      if (ok) c.written += got;
    } else {
      (*z)->next_in = in.get();
      (*z)->avail_in = static_cast<uInt>(got);
      do {
        (*z)->next_out = out.get();
        (*z)->avail_out = static_cast<uInt>(outCap);
        const int rc = ::deflate(z->get(), last ? Z_FINISH : Z_NO_FLUSH);
        // Z_BUF_ERROR only says that this call had nothing left to do.
        if (rc != Z_BUF_ERROR) CompressCheck(rc);
        const int64_t have = outCap - (*z)->avail_out;
        encrypt(out.get(), have);
        ok = call.Write(dest, out.get(), have);
        if (ok) c.written += have;
      } while (ok && (*z)->avail_out == 0);
    }
    if (!ok) break;
    c.bytesRead += got;
    finished = last;
  }
  p.FProcessedFilesSize += srcSize;
  // An unfinished stream (cancel, short source) ends without complaint: the
  // caller reports the short count instead.
  if (z && finished) z->Finish();
  if (aes && finished) {
    const std::vector<uint8_t> code = aes->GetFileStorageEndBlock();
    if (call.Write(dest, code.data(), static_cast<int64_t>(code.size())))
      c.written += static_cast<int64_t>(code.size());
  }
}

// Puts `block` in place of the field of its ID, or at the end.
void SetExtraField(TZAExtraFields& fields, TZAExtraFieldDataBlock block) {
  for (TZAExtraFieldDataBlock& f : fields)
    if (f.headerID == block.headerID) {
      f = std::move(block);
      return;
    }
  fields.push_back(std::move(block));
}

// --- Decompression ------------------------------------------------------------

// Reads an item's stored bytes, going on into the following volumes of a set.
class TItemReader {
 public:
  TItemReader(TCodecCall& call, platform::TStream& source, const TDirItem& item)
      : call_(call), stream_(&source) {
    const TZADirManager* dir = call.Settings().Directory;
    const bool zip64 = dir && dir->FZip64;
    volume_ = item.CentralDir.diskNumberStart;
    if (volume_ == ZA_SENTINEL16) volume_ = zip64 ? static_cast<int64_t>(item.Zip64ExtInfo.diskNumberStart) : 0;
    if (dir) {
      last_ = dir->CentralDirEnd.diskNumber;
      if (last_ == ZA_SENTINEL16)
        last_ = zip64 ? int64_t{dir->Zip64CentralDirEndLocator.totalNumberOfDisks} - 1 : 0;
    }
  }

  // Reads up to n bytes; fewer only when the item's data ends first.
  int64_t ReadSome(uint8_t* p, int64_t n) {
    int64_t got = ZAReadFully(*stream_, p, n);
    while (got < n) {
      if (!call_.Settings().MultiVolume || volume_ >= last_) break;
      ++volume_;
      platform::TStream* next =
          call_.Host().CodecOpenVolume(static_cast<int>(volume_), static_cast<int>(last_));
      if (!next) break;
      stream_ = next;
      stream_->SetPosition(0);
      const int64_t more = ZAReadFully(*stream_, p + got, n - got);
      if (more == 0) break;
      got += more;
    }
    return got;
  }
  // Reads exactly n bytes; false when the item's data ends first.
  bool Read(uint8_t* p, int64_t n) { return ReadSome(p, n) == n; }

 private:
  TCodecCall& call_;
  platform::TStream* stream_;
  int64_t volume_ = 0;  // the volume being read
  int64_t last_ = 0;
};

// Receives the item's bytes in order: keeps the CRC (whole reads) and
// passes on the part that lies in the window.
class TItemSink {
 public:
  TItemSink(TCodecCall& call, platform::TStream& dest, int32_t count, int64_t start)
      : call_(call), dest_(dest), whole_(count <= 0),
        start_(whole_ ? 0 : static_cast<uint64_t>(start)),
        end_(whole_ ? std::numeric_limits<uint64_t>::max()
                    : static_cast<uint64_t>(start) + static_cast<uint64_t>(count)) {}

  // False when a write failed (the user cancelled a full disk).
  bool Put(const uint8_t* p, int64_t n) {
    if (n <= 0) return true;
    if (whole_) ZAUpdateCrc32(p, n, crc_);
    const uint64_t from = std::max(produced_, start_);
    const uint64_t to = std::min(produced_ + static_cast<uint64_t>(n), end_);
    produced_ += static_cast<uint64_t>(n);
    if (from >= to) return true;
    return call_.Write(dest_, p + (from - (produced_ - static_cast<uint64_t>(n))),
                       static_cast<int64_t>(to - from));
  }

  bool Whole() const { return whole_; }
  bool WindowDone() const { return !whole_ && produced_ >= end_; }
  uint64_t WindowEnd() const { return end_; }
  uint64_t Produced() const { return produced_; }
  uint32_t Crc() const { return ~crc_; }

 private:
  TCodecCall& call_;
  platform::TStream& dest_;
  bool whole_;
  uint64_t start_, end_;
  uint64_t produced_ = 0;
  uint32_t crc_ = 0xFFFFFFFF;
};

// What one item's extraction works with.
struct TItemRead {
  const TDirItem& item;
  TItemReader& reader;
  TItemSink& sink;
  uint64_t compSize;       // the data, without the encryption blocks
  uint64_t declared;       // uncompressed size from the directory (UINT64_MAX: not known)
  ZAZipCryptKeys* keys = nullptr;       // traditional keys when so encrypted
  TZACryptoTransform* aes = nullptr;    // the AES transform when so encrypted
  uint64_t consumed = 0;   // data bytes read so far
};

// The next input chunk size: whole reads take the full chunk at once.
int64_t NextChunk(const TItemSink& sink, int64_t previous) {
  if (sink.Whole()) return ZADecompressChunk;
  return previous == 0 ? kWindowFirstChunk : std::min(previous * 2, ZADecompressChunk);
}

// Reads and decrypts up to n bytes of data; fewer only where the item's
// data ends early (what was read is still decoded and passed on: a damaged
// item keeps what lies before its damage).
int64_t ReadInput(TItemRead& r, uint8_t* p, int64_t n) {
  const int64_t got = r.reader.ReadSome(p, n);
  r.consumed += static_cast<uint64_t>(got);
  if (r.keys) ZAZipCryptDecryptBuffer(p, got, *r.keys);
  if (r.aes) r.aes->DecryptBuffer(p, 0, got, p, 0);
  return got;
}

bool CopyStored(TCodecCall& call, TItemRead& r) {
  // Stored data whose two sizes disagree cannot pass a whole read; the
  // bytes present, up to the declared size, are still passed on.
  const bool sizesAgree = r.compSize == r.declared;
  const uint64_t limit =
      r.sink.Whole() ? std::min(r.compSize, r.declared) : std::min(r.compSize, r.sink.WindowEnd());
  TBuffer buffer;
  int64_t chunk = 0;
  for (uint64_t consumed = 0; consumed < limit;) {
    chunk = NextChunk(r.sink, chunk);
    const int64_t want = static_cast<int64_t>(std::min<uint64_t>(static_cast<uint64_t>(chunk), limit - consumed));
    uint8_t* p = buffer.Reserve(want);
    const int64_t n = ReadInput(r, p, want);
    for (int64_t done = 0; done < n;) {
      const int64_t block = std::min(ZAStoredBlock, n - done);
      call.P().FProgress = static_cast<int64_t>(consumed) + done;
      if (!call.Progress(r.item.Name, r.item.Operation, call.ExtractOverall())) return false;
      if (!r.sink.Put(p + done, block)) return false;
      done += block;
    }
    if (n < want) return false;
    consumed += static_cast<uint64_t>(n);
  }
  return sizesAgree || !r.sink.Whole();
}

bool Inflate(TCodecCall& call, TItemRead& r) {
  // Nothing stored: only an empty item can be that (the size check decides).
  if (r.compSize == 0) return true;
  TInflater z;
  if (!z.Ok()) return false;
  // Output stops at the window's end, or one byte past the declared size:
  // that byte, if it comes, proves the item inflates beyond its header.
  const uint64_t pastDeclared =
      r.declared == std::numeric_limits<uint64_t>::max() ? r.declared : r.declared + 1;
  const uint64_t stopAt = r.sink.Whole() ? pastDeclared : std::min(r.sink.WindowEnd(), pastDeclared);
  const int64_t outCap = static_cast<int64_t>(std::min<uint64_t>(stopAt, kInflateOutput));
  Bytes out = NewBytes(std::max<int64_t>(outCap, 1));
  TBuffer in;
  int64_t chunk = 0;
  uint64_t consumed = 0;
  bool inputEnded = false;  // the data ends before its stored size
  for (;;) {
    if (z->avail_in == 0 && consumed < r.compSize && !inputEnded) {
      chunk = NextChunk(r.sink, chunk);
      const int64_t want =
          static_cast<int64_t>(std::min<uint64_t>(static_cast<uint64_t>(chunk), r.compSize - consumed));
      uint8_t* p = in.Reserve(want);
      const int64_t n = ReadInput(r, p, want);
      inputEnded = n < want;
      consumed += static_cast<uint64_t>(n);
      z->next_in = p;
      z->avail_in = static_cast<uInt>(n);
    }
    call.P().FProgress = static_cast<int64_t>(r.sink.Produced());
    if (!call.Progress(r.item.Name, r.item.Operation, call.ExtractOverall())) return false;

    z->next_out = out.get();
    z->avail_out = static_cast<uInt>(std::min<uint64_t>(static_cast<uint64_t>(outCap), stopAt - r.sink.Produced()));
    const int rc = ::inflate(z.get(), Z_NO_FLUSH);
    // What was inflated before damage or the declared size is passed on
    // before the item fails: a damaged item keeps its readable part.
    const uint64_t have = static_cast<uint64_t>(z->next_out - out.get());
    const uint64_t room = r.declared - r.sink.Produced();
    if (!r.sink.Put(out.get(), static_cast<int64_t>(std::min(have, room)))) return false;
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return false;  // damaged data
    if (have > room) return false;                                             // past its size
    if (rc == Z_STREAM_END || r.sink.WindowDone()) return true;
    // No progress possible and no input left: the stream was cut short.
    if (rc == Z_BUF_ERROR && z->avail_in == 0 && (consumed >= r.compSize || inputEnded)) return false;
  }
}

bool CheckHeaderBytes(const uint8_t stored[ZAZipCryptHeaderSize], const std::string& password,
                      ZAZipCryptKeys& keys, uint32_t crc32, uint16_t lastModTime, uint16_t flags) {
  uint8_t header[ZAZipCryptHeaderSize];
  std::copy(stored, stored + ZAZipCryptHeaderSize, header);
  ZAZipCryptInitDecrypt(ZAPasswordBytes(password), keys, header);
  return ZAZipCryptCheckHeader(header, flags, lastModTime, crc32);
}

// Finds the item's password: the component's, or what the password event
// gives, until `accepts` takes one or the user skips.
template <class TAccepts>
bool AcceptPassword(TCodecCall& call, const TDirItem& item, TAccepts accepts) {
  TZACodecHost& host = call.Host();
  for (;;) {
    const std::string password = host.CodecPassword();
    if (!password.empty() && accepts(password)) return true;
    // A password test must not ask; the refused password fails the item.
    if (call.P().FSuppressPasswordEvent) return false;
    bool skip = false;
    host.CodecAskPassword(item.Name, skip);
    if (skip) {
      call.P().FSkipFile = true;
      return false;
    }
  }
}

// The transform that reads an AES item, or null when its 0x9901 field is
// missing or unusable; `actualMethod` receives the data's method.
std::unique_ptr<TAESCryptoTransform> AESReader(const TDirItem& item, uint16_t& actualMethod) {
  TZAAESExtraInfo info;
  if (!ZAReadAESExtraField(item, info)) return nullptr;
  actualMethod = info.actualMethod;
  auto t = std::make_unique<TAESCryptoTransform>(64 + 64 * info.strength, info.version, info.actualMethod);
  t->Initialize(TCryptoTransformMode::Decryption, item);
  return t;
}

// Reads `n` bytes of an encryption block through the item's reader, as a
// stream for the transform.
bool ReadBlock(TItemRead& r, int n, platform::TStringStream& block) {
  std::string bytes(static_cast<size_t>(n), '\0');
  if (!r.reader.Read(reinterpret_cast<uint8_t*>(bytes.data()), n)) return false;
  block.WriteBuffer(bytes.data(), n);
  block.SetPosition(0);
  return true;
}

bool InternalDecompress(TCodecCall& call, TItemRead& r, const TZALocalFileHeader& lh, bool encrypted,
                        uint16_t method) {
  ZAZipCryptKeys keys;
  if (r.aes) {
    platform::TStringStream start;
    if (!ReadBlock(r, r.aes->GetFileStorageStartBlockSize(), start) ||
        !r.aes->LoadFileStorageStartBlock(start, 0))
      return false;
    if (!AcceptPassword(call, r.item,
                        [&](const std::string& password) { return r.aes->CheckPassword(password, r.item); }))
      return false;
  } else if (encrypted) {
    if (r.compSize < ZAZipCryptHeaderSize) return false;
    r.compSize -= ZAZipCryptHeaderSize;
    uint8_t stored[ZAZipCryptHeaderSize];
    if (!r.reader.Read(stored, ZAZipCryptHeaderSize)) return false;
    if (!AcceptPassword(call, r.item, [&](const std::string& password) {
          return CheckHeaderBytes(stored, password, keys, lh.crc32, lh.lastModTime, lh.genPurposeFlag);
        }))
      return false;
    r.keys = &keys;
  }
  return method == ZA_METHOD_STORED ? CopyStored(call, r) : Inflate(call, r);
}

// After a whole AES item: the rest of its data (a deflate stream may end
// before it) still counts for the authentication code, which follows.
bool CheckAESItem(TItemRead& r, uint32_t crc) {
  TBuffer buffer;
  while (r.consumed < r.compSize) {
    const int64_t n = static_cast<int64_t>(std::min<uint64_t>(ZADecompressChunk, r.compSize - r.consumed));
    if (ReadInput(r, buffer.Reserve(n), n) < n) return false;
  }
  platform::TStringStream end;
  return ReadBlock(r, r.aes->GetFileStorageEndBlockSize(), end) && r.aes->LoadFileStorageEndBlock(end, 0) &&
         !r.aes->IsDirItemCorrupted(r.item, crc);
}

}  // namespace

bool ZACompressItem(TZACodecHost& host, platform::TStream& source, platform::TStream& dest,
                    TDirItem& item) {
  TCodecCall call(host);
  const TZACodecSettings& s = call.Settings();
  const bool encrypted = !item.Password.empty();

  TZAZipCentralDir cd = item.CentralDir;
  // The method written is the one the data has: stored or deflate.
  item.CompressionMethod = item.CompressionMethod == ZA_METHOD_STORED ? ZA_METHOD_STORED : ZA_METHOD_DEFLATE;
  cd.compMethod = item.CompressionMethod;
  source.SetPosition(0);
  const int64_t srcSize = source.Size();

  std::unique_ptr<TAESCryptoTransform> aes;
  const int aesBits = encrypted && s.ZipFormat ? ZAAESKeyBits(s.EncryptionMethod) : 0;
  if (aesBits > 0)
    aes = TAESCryptoTransform::CreateAESEncryption(aesBits, ZAAESWrittenVersion,
                                                   srcSize == 0 ? ZA_METHOD_STORED : item.CompressionMethod);

  TCompressCounts c;
  if (s.ZipFormat) InternalCompress(call, source, dest, item, srcSize, aes.get(), c);

  if (c.bytesRead != srcSize || call.P().FProgressCancel) {
    if (call.P().FProgressCancel) return false;
    throw EZAException(ZA_ERR_INVALID_COMPRESSED_SIZE, s.ComponentName, {srcSize, c.bytesRead});
  }
  // A size that does not fit 32 bits goes into the zip64 values.
  const auto setSize = [&](uint64_t value, uint32_t& field, uint64_t& wide) {
    if (value >= ZA_SENTINEL32 || s.Zip64Always) {
      item.bHugeFile = true;
      field = ZA_SENTINEL32;
      wide = value;
    } else {
      field = static_cast<uint32_t>(value);
    }
  };
  setSize(static_cast<uint64_t>(c.written), cd.compSize, item.Zip64ExtInfo.compSize);
  setSize(static_cast<uint64_t>(srcSize), cd.unCompSize, item.Zip64ExtInfo.uncompSize);
  // An AES item rests on its authentication code; the CRC of a short one
  // would give its content away (a few bytes fall to a search), so it is
  // left out, as other tools do.
  cd.crc32 = aes && srcSize < ZAAESMinCrcSize ? 0 : ~c.crc;
  if (item.bHugeFile && !s.Zip64Allowed)
    throw EZAException(ZA_ERR_ZIP64_NOT_ENABLED, s.ComponentName, {item.SrcFileName});
  if (srcSize == 0 && s.ZipFormat) {
    item.CompressionMethod = ZA_METHOD_STORED;
    cd.compMethod = ZA_METHOD_STORED;
  }
  item.ZAEncryptionAlgorithm = aes ? s.EncryptionMethod : caPkzipClassic;
  if (aes) {
    // Even an empty item stays an AES item: as a stored one it would read
    // as traditionally encrypted.
    cd.compMethod = ZA_METHOD_AES;
    TZAExtraFieldDataBlock field;
    aes->GetExtraFieldData(field);
    SetExtraField(item.ExtraFields, std::move(field));
  }
  item.CentralDir = cd;
  return true;
}

bool ZADecompressItem(TZACodecHost& host, platform::TStream& source, platform::TStream& dest,
                      TDirItem& item, int32_t count, int64_t startPosition) {
  TCodecCall call(host);
  const TZACodecSettings& s = call.Settings();
  const TZAZipCentralDir& cd = item.CentralDir;
  const bool encrypted = (cd.genPurposeFlag & ZA_FLAG_ENCRYPTED) != 0;
  // The archive's flavour decides what is checked, never a field of one
  // entry: an entry claiming the other flavour's version must not escape
  // the CRC check.
  const bool zipFlavour = s.Directory ? !s.Directory->IsNonZipFlavour() : s.ZipFormat;
  startPosition = std::max<int64_t>(startPosition, 0);

  // Bytes shared with another item, or with the directory, are not this
  // item's: reading them is how a small archive inflates to gigabytes. Only
  // its own bytes, up to the next item's, may be read of a damaged one.
  if (item.Overlaps && !s.ReadDamaged) return false;
  // Method 99 is AES and nothing else: without its field and the encryption
  // flag the data is neither decrypted another way nor copied out as plain.
  uint16_t method = cd.compMethod;
  std::unique_ptr<TAESCryptoTransform> aes;
  if (zipFlavour && method == ZA_METHOD_AES) {
    aes = AESReader(item, method);
    if (!aes || !encrypted) return false;
  }
  TItemReader reader(call, source, item);
  TZALocalFileHeader lh;
  if (!ZAReadRecord(source, lh)) return false;
  if (lh.signature != ZA_SIG_LOCAL_HEADER && lh.signature != ZA_SIG_LOCAL_HEADER_NZ) return false;
  source.Seek(int64_t{lh.nameLength} + lh.extraLength, platform::soCurrent);

  uint64_t compSize = item.CompressedSize();
  const uint64_t declared = item.UncompressedSize();
  // A streamed record without its descriptor has no size to stop at unless
  // its header gave one.
  const uint64_t outputLimit = item.DescriptorMissing && declared == 0 ? UINT64_MAX : declared;
  // The data must end before the next item (or the directory) begins; an
  // item that runs past that is read no further (and fails), so that what
  // lies before is still passed on.
  const uint64_t dataStart = static_cast<uint64_t>(source.Position());
  if (item.DataLimit != UINT64_MAX && dataStart > item.DataLimit) return false;
  const bool runsOn = item.DataLimit != UINT64_MAX && compSize > item.DataLimit - dataStart;
  const bool cutShort = runsOn || item.Overlaps || item.DescriptorMissing;
  if (cutShort) {
    // The authentication code of an AES item is at its end: nothing of it
    // can be trusted.
    if (aes) return false;
    if (runsOn) compSize = item.DataLimit - dataStart;
  }
  if (aes) {
    const uint64_t blocks =
        static_cast<uint64_t>(aes->GetFileStorageStartBlockSize() + aes->GetFileStorageEndBlockSize());
    if (compSize < blocks) return false;
    compSize -= blocks;
  }

  TZAProgressState& p = call.P();
  const int64_t windowEnd = count <= 0 ? 0
                           : startPosition > std::numeric_limits<int64_t>::max() - count
                               ? std::numeric_limits<int64_t>::max()
                               : startPosition + count;
  p.FProgressMax = windowEnd != 0 ? windowEnd : static_cast<int64_t>(declared);
  if (p.FProgressMax == 0) p.FProgressMax = 2;
  p.FSkipFile = false;

  if (method == ZA_METHOD_DEFLATE64) throw EZAException(ZA_ERR_DEFLATE64, s.ComponentName);
  if (method != ZA_METHOD_STORED && method != ZA_METHOD_DEFLATE) return false;

  TItemSink sink(call, dest, count, startPosition);
  TItemRead r{item, reader, sink, compSize, outputLimit};
  r.aes = aes.get();
  if (!InternalDecompress(call, r, lh, encrypted, method) || cutShort) return false;
  if (!sink.Whole() || p.FSkipFile) return true;
  if (sink.Produced() != declared) return false;
  if (aes) return CheckAESItem(r, sink.Crc());
  return !zipFlavour || sink.Crc() == cd.crc32;
}

bool ZACheckAESPassword(platform::TStream& stream, const TDirItem& item, const std::string& password) {
  uint16_t method = 0;
  const std::unique_ptr<TAESCryptoTransform> aes = AESReader(item, method);
  return aes && aes->LoadFileStorageStartBlock(stream, 0) && aes->CheckPassword(password, item);
}

bool ZACheckClassicPassword(platform::TStream& stream, const std::string& password,
                            ZAZipCryptKeys& keys, uint32_t crc32, uint16_t lastModTime,
                            uint16_t flags) {
  uint8_t stored[ZAZipCryptHeaderSize];
  if (ZAReadFully(stream, stored, ZAZipCryptHeaderSize) != ZAZipCryptHeaderSize) return false;
  return CheckHeaderBytes(stored, password, keys, crc32, lastModTime, flags);
}

}  // namespace archiver
