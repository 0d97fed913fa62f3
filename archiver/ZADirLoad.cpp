// Loading the central directory of an archive, and rebuilding it from the
// local headers when there is none to load.
//
// Archives come from anywhere, so nothing read from one is trusted before it
// is checked against the stream: the directory must lie inside the stream
// and before its end record, every entry and its variable parts inside the
// directory, every item inside the stream. A check that fails raises
// EZAException 57 ("Archive is damaged"), or, when the owner allows opening
// damaged archives, sends the archive to the rebuild. No value read from the
// archive decides an allocation larger than the stream itself.
//
// Where the directory is found (single file):
//   ... | central entries | [zip64 end (56+)] [locator (20)] | end (22) | comment
//   The directory ends where the zip64 end record (or the end record) begins
//   and starts its size before that; its recorded offset is not used, so bytes
//   put in front of an archive (a self-extracting stub) do not disturb it.
#include <algorithm>
#include <cstring>
#include <memory>

#include "archiver/ZADirectory.h"
#include "archiver/ZAExcept.h"
#include "archiver/ZAPaths.h"
#include "archiver/ZAStreams.h"
#include "archiver/ZAZipCrypt.h"
#include "platform/CodePage.h"

namespace archiver {

namespace {

// Extra fields only Unix tools write: "UX", "Ux", "ux" and PKWARE's Unix.
bool IsUnixExtraField(uint16_t id) { return id == 0x5855 || id == 0x7855 || id == 0x7875 || id == 0x000D; }

bool IsCentralSignature(uint32_t signature) {
  return signature == ZA_SIG_CENTRAL_DIR || signature == ZA_SIG_CENTRAL_DIR_NZ;
}

// A local header of either flavour.
bool IsLocalHeader(const TZALocalFileHeader& lh) {
  return lh.signature == ZA_SIG_LOCAL_HEADER || lh.signature == ZA_SIG_LOCAL_HEADER_NZ;
}

[[noreturn]] void Damaged(const TZADirOwner& owner) {
  throw EZAException(57, owner.ComponentName());
}

// Takes from an entry's parsed extra fields what the archiver interprets:
// the zip64 values (those `zip64` says are present), the Unicode name (which
// replaces `name`) and, for a zip entry, the AES strength and real method.
void ApplyExtraFields(TDirItem& item, const TZAZip64Presence& zip64, std::string& name) {
  const bool nonZipEntry = item.CentralDir.extractVersion >= ZA_VERSION_NZ;
  for (const TZAExtraFieldDataBlock& block : item.ExtraFields) {
    switch (block.headerID) {
      case ZA_EXTRA_ZIP64:
        ZAReadZip64ExtendedInfo(block, zip64, item.Zip64ExtInfo);
        item.bHugeFile = true;
        break;
      case ZA_EXTRA_UNICODE_NAME: {
        TUnicodeExtendedInfo info;
        if (info.Load(block.Data.data(), static_cast<int64_t>(block.Data.size()))) name = info.Name();
        break;
      }
      case ZA_EXTRA_AES: {
        TZAAESExtraInfo aes;
        if (nonZipEntry || !aes.Load(block)) break;
        if (aes.strength == 1) item.ZAEncryptionAlgorithm = caAES_128;
        if (aes.strength == 2) item.ZAEncryptionAlgorithm = caAES_192;
        if (aes.strength == 3) item.ZAEncryptionAlgorithm = caAES_256;
        item.CompressionMethod = aes.actualMethod;
        break;
      }
      default:
        break;
    }
  }
}

// The most entries a directory of `size` bytes can hold.
uint64_t MaxEntries(uint64_t size) { return size / TZAZipCentralDir::Size; }

// Growing the array doubles it (never past what the directory can hold), so
// a count read from the archive never decides the allocation by itself.
constexpr int kInitialEntries = 65536;

}  // namespace

bool ZAIsDosHost(int host) { return host == 0 || host == 11 || host == 14; }

std::string ZADecodeEntryName(std::string_view stored, uint16_t genPurposeFlag,
                              uint16_t versionMadeBy, bool oemNames) {
  if (!platform::HasNonAscii(stored)) return std::string(stored);
  if (genPurposeFlag & ZA_FLAG_UTF8_NAME) return ZADecodeStoredName(stored, false);
  // Linux and other tools store the raw UTF-8 of the file system without the
  // flag. DOS hosts keep the OEM reading: Cyrillic in 866 is often valid
  // UTF-8 by accident.
  if (!ZAIsDosHost(versionMadeBy >> 8) && platform::IsValidUtf8(stored)) return std::string(stored);
  return ZADecodeStoredName(stored, oemNames);
}

bool TZADirManager::OemNamesApply() const {
  return CentralDirEnd.signature == ZA_SIG_CENTRAL_DIR_END && FArc->OEMFileNames();
}

bool TZADirManager::FindEndRecordOfAnyFlavour(TZAZipCentralDirEnd& record, int64_t& offset) {
  if (FArc->isZIPFormat()) return FindCentralDirEnd(record, offset, ZA_SIG_CENTRAL_DIR_END);
  return FindCentralDirEnd(record, offset, ZA_SIG_CENTRAL_DIR_END_NZ) ||
         FindCentralDirEnd(record, offset, ZA_SIG_CENTRAL_DIR_END);
}

void TZADirManager::LoadDir() {
  ResetCentralDirEnd();
  StubSize = 0;
  FZip64 = false;
  Zip64CentralDirEnd = TZAZip64CentralDirEnd();
  Zip64CentralDirEndLocator = TZAZip64CentralDirEndLocator();
  CentralDirOffset = 0;
  if (!FCompressedStream) throw EZAException(ZA_ERR_NIL_POINTER, FArc->ComponentName());

  TZAZipCentralDirEnd end;
  int64_t endOffset = -1;
  if (!FindEndRecordOfAnyFlavour(end, endOffset)) {
    RebuildDirFromLocalHeaders();
    return;
  }
  CentralDirEnd = end;
  bool walked = false;
  try {
    const TDirLocation loc = LocateDirectory(end, endOffset);
    walked = loc.walk;
    // The last volume of a set read as a single file: its items lie in other
    // files, which only a volume layer can reach.
    if (loc.lastVolume > 0 && !VolumeLayer().MultiVolume())
      throw EZAException(ZA_ERR_OPEN_ABORTED, FArc->ComponentName());
    if (VolumeLayer().MultiVolume())
      ReadEntriesFromVolumes(loc);
    else
      ReadEntries(loc);
    if (!VolumeLayer().MultiVolume()) {
      // The compressed data of all items cannot exceed the stream.
      if (!FArc->OpenCorruptedArchives()) {
        uint64_t total = 0;
        const uint64_t size = static_cast<uint64_t>(FCompressedStream->Size());
        for (int i = 0; i < CDir.Count(); ++i) {
          total += CDir[i].CompressedSize();
          if (total > size) Damaged(*FArc);
        }
      }
      if (loc.lastVolume == 0) DetermineStubSize(loc);
      CheckItemsInsideStream();
    }
    MarkOverlappingItems();
  } catch (const std::exception&) {
    // An end record with all-ones values and no zip64 records is believed
    // only as far as its directory parses; past that it is not an end record.
    if (!FArc->OpenCorruptedArchives() && !walked) throw;
    RebuildDirFromLocalHeaders();
  }
}

TZADirManager::TDirLocation TZADirManager::LocateDirectory(const TZAZipCentralDirEnd& end,
                                                           int64_t endOffset) {
  platform::TStream& s = *FCompressedStream;
  TDirLocation loc;
  loc.endOffset = endOffset;
  loc.dirEnd = endOffset;
  FZip64 = false;

  if (endOffset >= static_cast<int64_t>(TZAZip64CentralDirEndLocator::Size)) {
    TZAZip64CentralDirEndLocator locator;
    s.SetPosition(endOffset - static_cast<int64_t>(TZAZip64CentralDirEndLocator::Size));
    if (ZAReadRecord(s, locator) && locator.signature == ZA_SIG_ZIP64_LOCATOR) {
      FZip64 = true;
      Zip64CentralDirEndLocator = locator;
      loc.dirEnd -= static_cast<int64_t>(TZAZip64CentralDirEndLocator::Size);
    }
  }

  if (FZip64) {
    // The zip64 end record is where the locator says; when that does not
    // hold one (a stub put in front without adjusting the offsets), directly
    // before the locator, where writers without extensible data put it.
    const int64_t recordSize = static_cast<int64_t>(TZAZip64CentralDirEnd::Size);
    const uint64_t stated = Zip64CentralDirEndLocator.offsetStartDirEnd;
    int64_t candidates[2] = {-1, loc.dirEnd - recordSize};
    if (stated <= static_cast<uint64_t>(loc.dirEnd - recordSize) && loc.dirEnd >= recordSize)
      candidates[0] = static_cast<int64_t>(stated);
    int64_t found = -1;
    for (int64_t c : candidates) {
      if (c < 0) continue;
      TZAZip64CentralDirEnd z;
      s.SetPosition(c);
      if (ZAReadRecord(s, z) && z.signature == ZA_SIG_ZIP64_CENTRAL_DIR_END) {
        Zip64CentralDirEnd = z;
        found = c;
        break;
      }
    }
    if (found < 0) throw EZAException(ZA_ERR_NO_ZIP64_DIR_END, FArc->ComponentName());
    loc.dirEnd = found;
    loc.count = Zip64CentralDirEnd.entriesCentralDir;
    loc.dirSize = Zip64CentralDirEnd.centralDirSize;
    loc.offsetStartDir = Zip64CentralDirEnd.offsetStartDir;
  } else {
    loc.count = end.entriesCentralDir;
    loc.dirSize = end.centralDirSize;
    loc.offsetStartDir = end.offsetStartDir;
    // Without zip64 records an all-ones field may still be the true value
    // (a writer stores 65,535 entries that way): the directory is walked up to
    // its size and the count comes from the walk.
    const bool sizeUnknown = end.centralDirSize == ZA_SENTINEL32;
    if (end.entriesCentralDir == ZA_SENTINEL16 || sizeUnknown) loc.walk = true;
    if (sizeUnknown) {
      if (end.offsetStartDir == ZA_SENTINEL32 ||
          end.offsetStartDir > static_cast<uint64_t>(loc.dirEnd))
        Damaged(*FArc);
      loc.dirSize = static_cast<uint64_t>(loc.dirEnd) - end.offsetStartDir;
    }
  }

  loc.startVolume = end.startDiskNumber != ZA_SENTINEL16
                        ? end.startDiskNumber
                        : (FZip64 ? static_cast<int>(Zip64CentralDirEnd.startDiskNumber & 0x7FFFFFFF) : 0);
  loc.lastVolume = end.diskNumber != ZA_SENTINEL16
                       ? end.diskNumber
                       : (FZip64 && Zip64CentralDirEndLocator.totalNumberOfDisks > 0
                              ? static_cast<int>((Zip64CentralDirEndLocator.totalNumberOfDisks - 1) & 0x7FFFFFFF)
                              : 0);

  if (!loc.walk && loc.count > static_cast<uint64_t>(INT32_MAX)) Damaged(*FArc);
  if (!VolumeLayer().MultiVolume()) {
    if (loc.dirSize > static_cast<uint64_t>(loc.dirEnd)) Damaged(*FArc);
    // More entries than the directory's bytes can hold: a lenient open
    // walks what is there.
    if (!loc.walk && loc.count > MaxEntries(loc.dirSize)) {
      if (!FArc->OpenCorruptedArchives()) Damaged(*FArc);
      loc.walk = true;
    }
    loc.dirStart = loc.dirEnd - static_cast<int64_t>(loc.dirSize);
  } else if (loc.walk || loc.count > MaxEntries(loc.dirSize)) {
    // A volume set is read entry by entry; it needs a true count.
    Damaged(*FArc);
  }
  return loc;
}

size_t TZADirManager::LoadEntry(int index, const uint8_t* p, size_t avail) {
  if (avail < TZAZipCentralDir::Size) Damaged(*FArc);
  TDirItem& item = CDir[index];
  TZAZipCentralDir& cd = item.CentralDir;
  cd.Load(p);
  if (!IsCentralSignature(cd.signature)) Damaged(*FArc);
  const size_t total = TZAZipCentralDir::Size + size_t{cd.nameLength} + cd.extraLength + cd.commentLength;
  if (total > avail) Damaged(*FArc);

  item.ZAEncryptionAlgorithm = caPkzipClassic;
  item.CompressionMethod = cd.compMethod;
  const char* name = reinterpret_cast<const char*>(p + TZAZipCentralDir::Size);
  item.StoredName.emplace(name, cd.nameLength);
  std::string decoded = ZADecodeEntryName(*item.StoredName, cd.genPurposeFlag, cd.versionMadeBy,
                                          OemNamesApply());

  if (cd.extraLength > 0) {
    item.bHugeFile = false;
    item.ExtraFields = ZAParseExtraFields(p + TZAZipCentralDir::Size + cd.nameLength, cd.extraLength);
    ApplyExtraFields(item, TZAZip64Presence::OfCentral(cd), decoded);
  }
  if (cd.commentLength > 0)
    item.Comment.assign(name + cd.nameLength + cd.extraLength, cd.commentLength);
  CDir.SetItemName(index, std::move(decoded));
  return total;
}

void TZADirManager::ReadEntries(const TDirLocation& loc) {
  platform::TStream& s = *FCompressedStream;
  CentralDirOffset = loc.dirStart;
  // The directory is bounded by the stream (checked above), so it is read
  // whole: one read instead of three per entry.
  const size_t dirSize = static_cast<size_t>(loc.dirSize);
  const auto dir = std::make_unique_for_overwrite<uint8_t[]>(dirSize);
  s.SetPosition(loc.dirStart);
  if (ZAReadFully(s, dir.get(), static_cast<int64_t>(dirSize)) != static_cast<int64_t>(dirSize)) Damaged(*FArc);

  // The count and the size of the directory should agree. When they do not
  // (entries beyond the count, or fewer than it), a lenient open believes
  // the size and walks the entries that are there, as other readers do; a
  // strict one refuses the archive.
  const bool lenient = FArc->OpenCorruptedArchives();
  const uint64_t maxEntries = MaxEntries(loc.dirSize);
  bool walk = loc.walk;
  CDir.SetCount(0);
  // A count that fits the directory's bytes (checked above) is taken as it
  // is: one allocation of the right size. A walk grows as it goes.
  CDir.SetCount(static_cast<int>(walk ? std::min<uint64_t>(maxEntries, kInitialEntries) : loc.count));
  size_t pos = 0;
  int n = 0;
  for (;;) {
    if (walk ? pos >= dirSize : static_cast<uint64_t>(n) >= loc.count) {
      const bool moreEntries = !walk && dirSize - pos >= 4 && IsCentralSignature(ZAGetU32(dir.get() + pos));
      if (!moreEntries) break;
      if (!lenient) Damaged(*FArc);
      walk = true;
      continue;
    }
    if (!walk && pos >= dirSize) {  // the entries ran out before the count
      if (!lenient) Damaged(*FArc);
      break;
    }
    if (static_cast<uint64_t>(n) >= maxEntries || n == INT32_MAX) Damaged(*FArc);
    if (n == CDir.Count())
      CDir.SetCount(static_cast<int>(std::min<uint64_t>(maxEntries, uint64_t{2} * static_cast<uint64_t>(n))));
    pos += LoadEntry(n, dir.get() + pos, dirSize - pos);
    ++n;
  }
  CDir.SetCount(n);
  if (walk && dirSize > 0 && n == 0) Damaged(*FArc);
}

void TZADirManager::ReadEntriesFromVolumes(const TDirLocation& loc) {
  TZAVolumeLayer& volumes = VolumeLayer();
  if (platform::TStream* v = volumes.OpenVolumeForReading(loc.startVolume, loc.lastVolume))
    FCompressedStream = v;
  FCompressedStream->SetPosition(static_cast<int64_t>(loc.offsetStartDir));
  // Reads on into the following volumes where one ends: a writer may cut an
  // entry anywhere (most keep entries whole, so a volume usually ends
  // between two of them).
  const auto read = [&](uint8_t* p, int64_t n) {
    int64_t got = ZAReadFully(*FCompressedStream, p, n);
    while (got < n) {
      platform::TStream* v = volumes.OpenNextVolumeForReading();
      if (!v) return false;
      FCompressedStream = v;
      v->SetPosition(0);
      got += ZAReadFully(*v, p + got, n - got);
    }
    return true;
  };
  CDir.SetCount(0);
  CDir.SetCount(static_cast<int>(std::min<uint64_t>(loc.count, kInitialEntries)));
  std::vector<uint8_t> entry;
  for (uint64_t i = 0; i < loc.count; ++i) {
    const int n = static_cast<int>(i);
    if (n == CDir.Count())
      CDir.SetCount(static_cast<int>(std::min<uint64_t>(loc.count, uint64_t{2} * i)));
    entry.resize(TZAZipCentralDir::Size);
    if (!read(entry.data(), 4)) Damaged(*FArc);
    if (i == 0) CentralDirOffset = std::max<int64_t>(FCompressedStream->Position() - 4, 0);
    if (!read(entry.data() + 4, TZAZipCentralDir::Size - 4)) Damaged(*FArc);
    const size_t rest = size_t{ZAGetU16(&entry[28])} + ZAGetU16(&entry[30]) + ZAGetU16(&entry[32]);
    entry.resize(TZAZipCentralDir::Size + rest);
    if (!read(entry.data() + TZAZipCentralDir::Size, static_cast<int64_t>(rest))) Damaged(*FArc);
    LoadEntry(n, entry.data(), entry.size());
  }
  CDir.SetCount(static_cast<int>(loc.count));
}

void TZADirManager::CheckItemsInsideStream() {
  const uint64_t size = static_cast<uint64_t>(FCompressedStream->Size());
  for (int i = 0; i < CDir.Count(); ++i) {
    const TDirItem& item = CDir[i];
    const uint64_t offset = item.LocalHeaderOffset();
    if (offset >= size || item.CompressedSize() > size - offset) Damaged(*FArc);
  }
}

int64_t TZADirManager::SearchSignature(uint32_t signature, int64_t from, int64_t window) {
  platform::TStream& s = *FCompressedStream;
  const int64_t size = s.Size();
  uint8_t sig[4];
  ZAPutU32(sig, signature);
  int64_t pos = std::max<int64_t>(from, 0);
  if (pos >= size) return -1;
  // The next header is usually close: the reads start small and grow to the
  // full window, so a rebuild reads each byte about once instead of a whole
  // window per header.
  int64_t chunk = std::min<int64_t>(window, 4096);
  const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(std::min(window, size - pos)));
  while (pos < size) {
    const int64_t n = std::min(chunk, size - pos);
    chunk = std::min(chunk * 2, window);
    s.SetPosition(pos);
    const int64_t got = ZAReadFully(s, buffer.get(), n);
    if (got < 4) return -1;
    const uint8_t* base = buffer.get();
    const uint8_t* end = base + got - 3;
    for (const uint8_t* p = base; p < end;) {
      p = static_cast<const uint8_t*>(std::memchr(p, sig[0], static_cast<size_t>(end - p)));
      if (!p) break;
      if (std::memcmp(p, sig, 4) == 0) return pos + (p - base);
      ++p;
    }
    if (pos + got >= size) return -1;
    pos += got - 3;  // windows overlap so a signature across the seam is seen
  }
  return -1;
}

bool TZADirManager::CheckLocalHeader(int64_t offset) {
  platform::TStream& s = *FCompressedStream;
  const int64_t saved = s.Position();
  bool ok = false;
  if (s.Size() - offset >= static_cast<int64_t>(TZALocalFileHeader::Size)) {
    TZALocalFileHeader lh;
    std::string name;
    s.SetPosition(offset);
    if (ZAReadRecord(s, lh) && ZAReadBytes(s, lh.nameLength, name) &&
        IsLocalHeader(lh)) {
      if (offset == 0) {
        ok = true;
      } else {
        const TZAZipCentralDir& cd = CDir[0].CentralDir;
        // With a data descriptor the local header holds no CRC and sizes;
        // a zip64 header holds its sizes in its extra field. The name is
        // compared, the version needed is not: writers give the two headers
        // different ones (zip -fz: 45 and 10).
        const bool descriptor = lh.genPurposeFlag & ZA_FLAG_DATA_DESCRIPTOR;
        auto same = [&](uint32_t local, uint32_t central) {
          return descriptor || local == ZA_SENTINEL32 || central == ZA_SENTINEL32 || local == central;
        };
        ok = CDir[0].StoredName && name == *CDir[0].StoredName && lh.compMethod == cd.compMethod &&
             lh.lastModTime == cd.lastModTime && lh.lastModDate == cd.lastModDate &&
             (descriptor || lh.crc32 == cd.crc32) && same(lh.compSize, cd.compSize) &&
             same(lh.unCompSize, cd.unCompSize);
      }
    }
  }
  s.SetPosition(saved);
  return ok;
}

void TZADirManager::DetermineStubSize(const TDirLocation& loc) {
  StubSize = 0;
  if (CDir.Count() == 0) {
    StubSize = loc.dirStart;
    return;
  }
  const uint32_t sig = FArc->isZIPFormat() ? ZA_SIG_LOCAL_HEADER : ZA_SIG_LOCAL_HEADER_NZ;
  const int64_t size = FCompressedStream->Size();
  const uint64_t first = CDir[0].LocalHeaderOffset();
  int64_t pos = first < static_cast<uint64_t>(size) ? static_cast<int64_t>(first) : size;
  while (pos < size) {
    const int64_t m = SearchSignature(sig, pos, 10000);
    if (m < 0) break;
    if (CheckLocalHeader(m)) {
      StubSize = m;
      break;
    }
    pos = m + 1;
  }
  if (StubSize == 0) return;

  // The offsets need the stub added only when they do not count it yet: the
  // first item with data (of an archive of empty items, the first item) is
  // not where the directory says, and is a stub's length further on. Its
  // own local header (its name) decides, not the size of the offset: a stub
  // shorter than the items before it leaves offsets that are larger than
  // the stub and still short of it.
  const auto headerOf = [&](const TDirItem& item, uint64_t at) {
    TZALocalFileHeader lh;
    std::string name;
    FCompressedStream->SetPosition(static_cast<int64_t>(at));
    return ZAReadRecord(*FCompressedStream, lh) && IsLocalHeader(lh) &&
           ZAReadBytes(*FCompressedStream, lh.nameLength, name) && item.StoredName && name == *item.StoredName;
  };
  int decides = 0;
  while (decides < CDir.Count() && CDir[decides].CompressedSize() == 0) ++decides;
  const TDirItem& item = CDir[decides < CDir.Count() ? decides : 0];
  const uint64_t offset = item.LocalHeaderOffset();
  if (offset > static_cast<uint64_t>(size) || headerOf(item, offset) ||
      !headerOf(item, offset + static_cast<uint64_t>(StubSize)))
    return;
  ApplyStubOffset();
}

int64_t TZADirManager::TakeDataDescriptor(TDirItem& item, int64_t dataStart) {
  // The first descriptor whose compressed size is its own distance from the
  // data start; 8-byte sizes when the local header has a zip64 field. A
  // signature inside the data is passed over.
  platform::TStream& s = *FCompressedStream;
  const bool zip64 = ZAFindExtraField(item.ExtraFields, ZA_EXTRA_ZIP64) != nullptr;
  const int64_t length = zip64 ? 24 : 16;
  for (int64_t d = SearchSignature(ZA_SIG_DATA_DESCRIPTOR, dataStart, 65535); d >= 0;
       d = SearchSignature(ZA_SIG_DATA_DESCRIPTOR, d + 1, 65535)) {
    uint8_t b[24];
    s.SetPosition(d);
    if (ZAReadFully(s, b, length) != length) return 0;
    const uint64_t comp = zip64 ? ZAGetU64(b + 8) : ZAGetU32(b + 8);
    if (comp != static_cast<uint64_t>(d - dataStart)) continue;
    TZAZipCentralDir& cd = item.CentralDir;
    cd.crc32 = ZAGetU32(b + 4);
    const uint64_t uncomp = zip64 ? ZAGetU64(b + 16) : ZAGetU32(b + 12);
    if (zip64) {
      cd.compSize = cd.unCompSize = ZA_SENTINEL32;
      item.Zip64ExtInfo.compSize = comp;
      item.Zip64ExtInfo.uncompSize = uncomp;
      item.bHugeFile = true;
    } else {
      cd.compSize = static_cast<uint32_t>(comp);
      cd.unCompSize = static_cast<uint32_t>(uncomp);
    }
    return length;
  }
  return 0;
}

bool TZADirManager::RecordConfirmed(const TDirItem& item, int64_t dataStart, int64_t end) {
  platform::TStream& s = *FCompressedStream;
  const int64_t size = s.Size();
  if (end > size) return false;
  if (end == size) return true;
  // What follows is a record of a zip archive...
  uint8_t b[4] = {};
  s.SetPosition(end);
  if (end + 4 <= size && ZAReadFully(s, b, 4) == 4) {
    switch (ZAGetU32(b)) {
      case ZA_SIG_LOCAL_HEADER:
      case ZA_SIG_LOCAL_HEADER_NZ:
      case ZA_SIG_CENTRAL_DIR:
      case ZA_SIG_CENTRAL_DIR_NZ:
      case ZA_SIG_ZIP64_CENTRAL_DIR_END:
      case ZA_SIG_CENTRAL_DIR_END:
      case ZA_SIG_CENTRAL_DIR_END_NZ:
        return true;
      default:
        break;
    }
  }
  // ... or the data, stored as they are, match their CRC (whatever follows).
  const TZAZipCentralDir& cd = item.CentralDir;
  if (cd.compMethod != ZA_METHOD_STORED || (cd.genPurposeFlag & ZA_FLAG_ENCRYPTED) ||
      item.CompressedSize() != item.UncompressedSize())
    return false;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(end - dataStart, 1 << 20)));
  uint32_t crc = 0xFFFFFFFF;
  s.SetPosition(dataStart);
  for (int64_t done = dataStart; done < end;) {
    const int64_t n = std::min<int64_t>(end - done, static_cast<int64_t>(buffer.size()));
    if (ZAReadFully(s, buffer.data(), n) != n) return false;
    ZAUpdateCrc32(buffer.data(), n, crc);
    done += n;
  }
  return ~crc == cd.crc32;
}

void TZADirManager::RebuildDirFromLocalHeaders() {
  CDir.SetCount(0);
  FZip64 = false;
  if (VolumeLayer().MultiVolume()) throw EZAException(ZA_ERR_OPEN_ABORTED, FArc->ComponentName());
  platform::TStream& s = *FCompressedStream;
  const int64_t size = s.Size();
  const uint32_t sig = FArc->isZIPFormat() ? ZA_SIG_LOCAL_HEADER : ZA_SIG_LOCAL_HEADER_NZ;
  constexpr int64_t kWindow = 65535;
  const int64_t headerSize = static_cast<int64_t>(TZALocalFileHeader::Size);

  int64_t pos = SearchSignature(sig, 0, kWindow);
  if (pos < 0 || size - pos < headerSize)
    throw EZAException(ZA_ERR_INVALID_ARCHIVE, FArc->ComponentName());

  const bool oemNames = OemNamesApply();
  int n = 0;
  // A header whose compressed size the whole stream could not hold is no
  // header's, unless no item follows it: a file cut inside its last item
  // (or its only one) keeps that item, to be read as far as it goes. The
  // first such header after the last item is gone back to at the end.
  int64_t cutTail = -1, takeCutAt = -1;
  for (;;) {
    if (pos < 0 || size - pos < headerSize) {
      if (cutTail < 0 || takeCutAt >= 0) break;
      pos = takeCutAt = cutTail;
    }
    TZALocalFileHeader lh;
    s.SetPosition(pos);
    // A zip64 header's sizes are in its extra field; they are checked below.
    // A compressed size past the stream's end is checked below, once the
    // zip64 field and the data descriptor have had their say.
    if (ZAReadRecord(s, lh) && lh.extraLength < 261 && size - s.Position() >= lh.nameLength) {
      if (n == CDir.Count()) CDir.SetCount(std::max(2 * n, 1000));
      TDirItem& item = CDir[n];
      TZAZipCentralDir& cd = item.CentralDir;
      cd.signature = lh.signature == ZA_SIG_LOCAL_HEADER_NZ ? ZA_SIG_CENTRAL_DIR_NZ : ZA_SIG_CENTRAL_DIR;
      cd.versionMadeBy = lh.extractVersion;
      cd.extractVersion = lh.extractVersion;
      cd.genPurposeFlag = lh.genPurposeFlag;
      cd.compMethod = lh.compMethod;
      cd.lastModTime = lh.lastModTime;
      cd.lastModDate = lh.lastModDate;
      cd.crc32 = lh.crc32;
      cd.compSize = lh.compSize;
      cd.unCompSize = lh.unCompSize;
      cd.nameLength = lh.nameLength;
      cd.extraLength = lh.extraLength;
      item.CompressionMethod = lh.compMethod;
      item.SetLocalHeaderOffset(static_cast<uint64_t>(pos));

      // A header whose name runs past the end of the stream was never
      // finished: it is not taken.
      std::string name, extra;
      ZAReadBytes(s, lh.nameLength, name);
      item.StoredName = name;
      if (!ZAReadBytes(s, lh.extraLength, extra)) extra.clear();
      cd.extraLength = static_cast<uint16_t>(extra.size());
      item.ExtraFields = ZAParseExtraFields(extra);
      // A local header does not say which host wrote it; a Unix extra field
      // does, and with it how the name is to be read.
      uint16_t host = cd.versionMadeBy;
      for (const TZAExtraFieldDataBlock& block : item.ExtraFields)
        if (IsUnixExtraField(block.headerID)) host = static_cast<uint16_t>((3 << 8) | (host & 0xFF));
      // Kept in the entry: a directory written from it must be read the same.
      cd.versionMadeBy = host;
      std::string decoded = ZADecodeEntryName(name, cd.genPurposeFlag, host, oemNames);
      ApplyExtraFields(item, TZAZip64Presence::OfLocal(lh), decoded);
      const int64_t dataStart = pos + headerSize + lh.nameLength + static_cast<int64_t>(extra.size());
      const int64_t descriptor =
          (lh.genPurposeFlag & ZA_FLAG_DATA_DESCRIPTOR) ? TakeDataDescriptor(item, dataStart) : 0;
      // A streamed record whose header gives no sizes and whose descriptor
      // is not there: what it holds is known once the next header is.
      item.DescriptorMissing =
          (lh.genPurposeFlag & ZA_FLAG_DATA_DESCRIPTOR) && descriptor == 0 && item.CompressedSize() == 0;
      const bool pastEnd = item.CompressedSize() >= static_cast<uint64_t>(size);
      if (pastEnd && pos != takeCutAt) {
        if (cutTail < 0) cutTail = pos;
        CDir[n] = TDirItem();
        pos = SearchSignature(sig, pos + 4, kWindow);
        continue;
      }
      // A folder is a name ending in '/' with nothing in it; an empty file
      // stays a file.
      const bool folder = !decoded.empty() && decoded.back() == '/' && item.UncompressedSize() == 0;
      cd.externalAttr = folder ? ZA_ATTR_DIRECTORY : ZA_ATTR_ARCHIVE;
      CDir.SetItemName(n, decoded);
      ++n;
      cutTail = -1;
      // A record known to be whole is not searched for more headers: the
      // data of a stored archive inside it holds headers of its own.
      const int64_t end = pastEnd ? size + 1 : dataStart + static_cast<int64_t>(item.CompressedSize()) + descriptor;
      if (RecordConfirmed(item, dataStart, end)) {
        pos = SearchSignature(sig, end, kWindow);
        continue;
      }
    }
    pos = SearchSignature(sig, pos + 4, kWindow);
  }
  CDir.SetCount(n);
  // A local header cut inside its name or extra field is no item; a file
  // with no other is no archive (as one cut before the header ends).
  if (n == 0) throw EZAException(ZA_ERR_INVALID_ARCHIVE, FArc->ComponentName());
  // A streamed record without its descriptor holds the bytes up to the next
  // header or the end of the file. Its CRC and size are not known: its CRC
  // becomes that of no empty item, so that an entry written from it never
  // passes for a whole empty one. Nothing at all between it and the next
  // record is an empty item, whole as it is.
  for (int i = 0; i < n; ++i) {
    TDirItem& item = CDir[i];
    if (!item.DescriptorMissing) continue;
    const TZAZipCentralDir& cd = item.CentralDir;
    const uint64_t dataStart = item.LocalHeaderOffset() + TZALocalFileHeader::Size + cd.nameLength + cd.extraLength;
    const uint64_t next = i + 1 < n ? CDir[i + 1].LocalHeaderOffset() : static_cast<uint64_t>(size);
    if (i + 1 < n && next == dataStart) {
      item.DescriptorMissing = false;
      continue;
    }
    item.SetCompressedSize(next > dataStart ? next - dataStart : 0);
    item.CentralDir.crc32 = 0xFFFFFFFF;
  }
  CentralDirOffset = size;
  MarkOverlappingItems();
}

}  // namespace archiver
