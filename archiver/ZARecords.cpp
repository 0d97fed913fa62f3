// Byte-exact readers and writers of the zip records (layout: ZARecords.h).
#include "archiver/ZARecords.h"

namespace archiver {

namespace {

// Walks a record field by field, so that each Load and Store reads as the
// layout table does and no offset is written twice by hand.
class Reader {
 public:
  explicit Reader(const uint8_t* p) : p_(p) {}
  template <class T>
  Reader& operator()(T& v) {
    if constexpr (sizeof(T) == 1) v = p_[0];
    else if constexpr (sizeof(T) == 2) v = ZAGetU16(p_);
    else if constexpr (sizeof(T) == 4) v = ZAGetU32(p_);
    else v = ZAGetU64(p_);
    p_ += sizeof(T);
    return *this;
  }

 private:
  const uint8_t* p_;
};

class Writer {
 public:
  explicit Writer(uint8_t* p) : p_(p) {}
  template <class T>
  Writer& operator()(T v) {
    if constexpr (sizeof(T) == 1) p_[0] = v;
    else if constexpr (sizeof(T) == 2) ZAPutU16(p_, v);
    else if constexpr (sizeof(T) == 4) ZAPutU32(p_, v);
    else ZAPutU64(p_, v);
    p_ += sizeof(T);
    return *this;
  }

 private:
  uint8_t* p_;
};

void AppendU16(std::string& out, uint16_t v) {
  uint8_t b[2];
  ZAPutU16(b, v);
  out.append(reinterpret_cast<const char*>(b), 2);
}
void AppendU32(std::string& out, uint32_t v) {
  uint8_t b[4];
  ZAPutU32(b, v);
  out.append(reinterpret_cast<const char*>(b), 4);
}
void AppendU64(std::string& out, uint64_t v) {
  uint8_t b[8];
  ZAPutU64(b, v);
  out.append(reinterpret_cast<const char*>(b), 8);
}

}  // namespace

// Each record lists its fields once; Load and Store share that list.
#define ZA_RECORD_IO(Type, FIELDS)                                   \
  void Type::Load(const uint8_t* p) { Reader{p} FIELDS; }            \
  void Type::Store(uint8_t* p) const { Writer{p} FIELDS; }

ZA_RECORD_IO(TZALocalFileHeader,
             (signature)(extractVersion)(genPurposeFlag)(compMethod)(lastModTime)(lastModDate)
             (crc32)(compSize)(unCompSize)(nameLength)(extraLength))

ZA_RECORD_IO(TZADataDescriptor, (signature)(crc32)(compSize)(unCompSize))

ZA_RECORD_IO(TZAZipCentralDir,
             (signature)(versionMadeBy)(extractVersion)(genPurposeFlag)(compMethod)(lastModTime)
             (lastModDate)(crc32)(compSize)(unCompSize)(nameLength)(extraLength)(commentLength)
             (diskNumberStart)(internalAttr)(externalAttr)(relOffsetLH))

ZA_RECORD_IO(TZAZipCentralDirEnd,
             (signature)(diskNumber)(startDiskNumber)(entriesOnDisk)(entriesCentralDir)
             (centralDirSize)(offsetStartDir)(commentLength))

ZA_RECORD_IO(TZAZip64CentralDirEnd,
             (signature)(centralDirEndSize)(versionMadeBy)(versionNeededToExtract)(diskNumber)
             (startDiskNumber)(entriesOnDisk)(entriesCentralDir)(centralDirSize)(offsetStartDir))

ZA_RECORD_IO(TZAZip64CentralDirEndLocator,
             (signature)(startDiskNumber)(offsetStartDirEnd)(totalNumberOfDisks))

#undef ZA_RECORD_IO

// --- Extra fields ----------------------------------------------------------------

TZAExtraFields ZAParseExtraFields(const uint8_t* p, size_t length) {
  TZAExtraFields fields;
  size_t pos = 0;
  while (length - pos >= 4) {
    TZAExtraFieldDataBlock block;
    block.headerID = ZAGetU16(p + pos);
    size_t size = ZAGetU16(p + pos + 2);
    pos += 4;
    if (size > length - pos) size = length - pos;
    block.Data.assign(p + pos, p + pos + size);
    pos += size;
    fields.push_back(std::move(block));
  }
  return fields;
}

size_t ZAExtraFieldsSize(const TZAExtraFields& fields, bool skipZip64) {
  size_t total = 0;
  for (const auto& f : fields)
    if (!(skipZip64 && f.headerID == ZA_EXTRA_ZIP64)) total += 4 + f.Data.size();
  return total;
}

void ZAAppendExtraFields(std::string& out, const TZAExtraFields& fields, bool skipZip64) {
  for (const auto& f : fields) {
    if (skipZip64 && f.headerID == ZA_EXTRA_ZIP64) continue;
    AppendU16(out, f.headerID);
    AppendU16(out, f.dataSize());
    out.append(reinterpret_cast<const char*>(f.Data.data()), f.Data.size());
  }
}

const TZAExtraFieldDataBlock* ZAFindExtraField(const TZAExtraFields& fields, uint16_t id) {
  for (const auto& f : fields)
    if (f.headerID == id) return &f;
  return nullptr;
}

TZAZip64Presence TZAZip64Presence::OfCentral(const TZAZipCentralDir& cd) {
  return {cd.unCompSize == ZA_SENTINEL32, cd.compSize == ZA_SENTINEL32,
          cd.relOffsetLH == ZA_SENTINEL32, cd.diskNumberStart == ZA_SENTINEL16};
}

TZAZip64Presence TZAZip64Presence::OfLocal(const TZALocalFileHeader& lh) {
  return {lh.unCompSize == ZA_SENTINEL32, lh.compSize == ZA_SENTINEL32, false, false};
}

uint16_t TZAZip64Presence::DataSize() const {
  return static_cast<uint16_t>((uncompSize ? 8 : 0) + (compSize ? 8 : 0) + (relOffsetLH ? 8 : 0) +
                               (diskNumberStart ? 4 : 0));
}

void ZAReadZip64ExtendedInfo(const uint8_t* data, size_t size, const TZAZip64Presence& present,
                             TZAZip64ExtendedInfo& info) {
  size_t pos = 0;
  auto take64 = [&](bool wanted, uint64_t& v) {
    if (!wanted) return;
    if (pos + 8 <= size) v = ZAGetU64(data + pos);
    pos += 8;
  };
  take64(present.uncompSize, info.uncompSize);
  take64(present.compSize, info.compSize);
  take64(present.relOffsetLH, info.relOffsetLH);
  if (present.diskNumberStart && pos + 4 <= size)
    info.diskNumberStart = ZAGetU32(data + pos) & 0xFFFF;
}

void ZAAppendZip64Field(std::string& out, const TZAZip64Presence& present,
                        const TZAZip64ExtendedInfo& info) {
  if (!present.Any()) return;
  AppendU16(out, ZA_EXTRA_ZIP64);
  AppendU16(out, present.DataSize());
  if (present.uncompSize) AppendU64(out, info.uncompSize);
  if (present.compSize) AppendU64(out, info.compSize);
  if (present.relOffsetLH) AppendU64(out, info.relOffsetLH);
  if (present.diskNumberStart) AppendU32(out, info.diskNumberStart);
}

TZAExtraFieldDataBlock ZAMakeZip64Block(const TZAZip64Presence& present,
                                        const TZAZip64ExtendedInfo& info) {
  std::string bytes;
  ZAAppendZip64Field(bytes, present, info);
  TZAExtraFieldDataBlock block;
  block.headerID = ZA_EXTRA_ZIP64;
  if (bytes.size() > 4) block.Data.assign(bytes.begin() + 4, bytes.end());
  return block;
}

bool TZAAESExtraInfo::Load(const TZAExtraFieldDataBlock& block) {
  if (block.Data.size() < Size) return false;
  Reader{block.Data.data()}(version)(vendor)(strength)(actualMethod);
  return true;
}

TZAExtraFieldDataBlock TZAAESExtraInfo::ToBlock() const {
  TZAExtraFieldDataBlock block;
  block.headerID = ZA_EXTRA_AES;
  block.Data.resize(Size);
  Writer{block.Data.data()}(version)(vendor)(strength)(actualMethod);
  return block;
}

// --- Variable-length parts ------------------------------------------------------

int64_t ZAReadFully(platform::TStream& s, void* buffer, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    int64_t got = s.Read(static_cast<uint8_t*>(buffer) + done, count - done);
    if (got <= 0) break;
    done += got;
  }
  return done;
}

bool ZAReadBytes(platform::TStream& s, size_t count, std::string& out) {
  out.resize(count);
  int64_t got = ZAReadFully(s, out.data(), static_cast<int64_t>(count));
  out.resize(static_cast<size_t>(got));
  return static_cast<size_t>(got) == count;
}

bool ZAReadCentralEntry(platform::TStream& s, TZAZipCentralDir& cd, std::string& name,
                        TZAExtraFields& extra, std::string& comment) {
  if (!ZAReadRecord(s, cd)) return false;
  std::string extraBytes;
  if (!ZAReadBytes(s, cd.nameLength, name) || !ZAReadBytes(s, cd.extraLength, extraBytes) ||
      !ZAReadBytes(s, cd.commentLength, comment))
    return false;
  extra = ZAParseExtraFields(extraBytes);
  return true;
}

std::string ZALocalZip64Field(uint64_t uncompSize, uint64_t compSize) {
  uint8_t z[20];
  ZAPutU16(z, ZA_EXTRA_ZIP64);
  ZAPutU16(z + 2, 16);
  ZAPutU64(z + 4, uncompSize);
  ZAPutU64(z + 12, compSize);
  return std::string(reinterpret_cast<const char*>(z), sizeof z);
}

void ZASetLocalFromCentral(TZALocalFileHeader& lh, const TZAZipCentralDir& cd, uint64_t comp, uint64_t uncomp) {
  const bool zip64 = comp >= ZA_SENTINEL32 || uncomp >= ZA_SENTINEL32;
  lh.extractVersion = cd.extractVersion;
  lh.genPurposeFlag = cd.genPurposeFlag;
  lh.compMethod = cd.compMethod;
  lh.lastModTime = cd.lastModTime;
  lh.lastModDate = cd.lastModDate;
  lh.crc32 = cd.crc32;
  lh.compSize = zip64 ? ZA_SENTINEL32 : static_cast<uint32_t>(comp);
  lh.unCompSize = zip64 ? ZA_SENTINEL32 : static_cast<uint32_t>(uncomp);
}

std::string ZALocalPrefix(const TZALocalFileHeader& lh, const std::string& name, const std::string& extra) {
  std::string out;
  ZAAppendRecord(out, lh);
  out += name;
  out += extra;
  return out;
}

std::string ZADataDescriptorBytes(uint32_t crc, uint64_t comp, uint64_t uncomp) {
  const bool zip64 = comp >= ZA_SENTINEL32 || uncomp >= ZA_SENTINEL32;
  uint8_t d[24];
  ZAPutU32(d, ZA_SIG_DATA_DESCRIPTOR);
  ZAPutU32(d + 4, crc);
  if (zip64) {
    ZAPutU64(d + 8, comp);
    ZAPutU64(d + 16, uncomp);
  } else {
    ZAPutU32(d + 8, static_cast<uint32_t>(comp));
    ZAPutU32(d + 12, static_cast<uint32_t>(uncomp));
  }
  return std::string(reinterpret_cast<const char*>(d), zip64 ? 24 : 16);
}

}  // namespace archiver
