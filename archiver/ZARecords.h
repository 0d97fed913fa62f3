// Zip records: the fixed-layout structures of a zip archive, their byte-exact
// readers and writers, and the extra fields the archiver understands.
//
// On-disk layout. All integers little-endian, unsigned; records packed.
// An archive is, in file order:
//   [stub]  any bytes before the first local header (self-extracting archive)
//   per item: local header (30) + name + local extra fields + [encryption
//             header] + data [+ data descriptor (16), never written by us]
//   central directory: one entry (46) + name + extra fields + comment per item
//   [zip64 end record (56)] [zip64 locator (20)]   only when needed
//   end of central directory (22) + archive comment
//
// Local header, 30 bytes                Central directory entry, 46 bytes
//   0  4 signature 0x04034B50             0  4 signature 0x02014B50
//   4  2 extractVersion                   4  2 versionMadeBy
//   6  2 genPurposeFlag                   6  2 extractVersion
//   8  2 compMethod                       8  2 genPurposeFlag
//  10  2 lastModTime (DOS)               10  2 compMethod
//  12  2 lastModDate (DOS)               12  2 lastModTime
//  14  4 crc32                           14  2 lastModDate
//  18  4 compSize                        16  4 crc32
//  22  4 unCompSize                      20  4 compSize
//  26  2 nameLength                      24  4 unCompSize
//  28  2 extraLength                     28  2 nameLength
//                                        30  2 extraLength
// Data descriptor, 16 bytes              32  2 commentLength
//   0  4 signature 0x08074B50            34  2 diskNumberStart
//   4  4 crc32                           36  2 internalAttr
//   8  4 compSize                        38  4 externalAttr
//  12  4 unCompSize                      42  4 relOffsetLH
//
// End of central directory, 22 bytes    Zip64 end of central directory, 56 bytes
//   0  4 signature 0x06054B50             0  4 signature 0x06064B50
//   4  2 diskNumber                       4  8 centralDirEndSize (44)
//   6  2 startDiskNumber                 12  2 versionMadeBy (45)
//   8  2 entriesOnDisk                   14  2 versionNeededToExtract (45)
//  10  2 entriesCentralDir               16  4 diskNumber
//  12  4 centralDirSize                  20  4 startDiskNumber
//  16  4 offsetStartDir                  24  8 entriesOnDisk
//  20  2 commentLength                   32  8 entriesCentralDir
//                                        40  8 centralDirSize
// Zip64 locator, 20 bytes                48  8 offsetStartDir
//   0  4 signature 0x07064B50
//   4  4 startDiskNumber (volume of the zip64 end record)
//   8  8 offsetStartDirEnd
//  16  4 totalNumberOfDisks
//
// The private non-zip flavour differs only in four signatures (local
// 0x05045C61, central 0x03025C61, end 0x06054141; the zip64 records and the
// data descriptor share the zip ones) and in the versions written.
//
// Extra fields: a list of blocks, each headerID (2) + dataSize (2) + data.
//   0x0001 zip64: in this order and only for the header fields holding their
//          all-ones sentinel: unCompSize (8), compSize (8), relOffsetLH (8),
//          diskNumberStart (4). No field at all when no sentinel is set.
//   0x554E Unicode name: "NUCX", length in UTF-16 units (int32), UTF-16LE.
//   0x9901 AES: version (2), vendor "AE" (2), strength (1), method (2).
// Every other ID is kept as opaque bytes and written back unchanged.
//
// Records are read and written by explicit byte assembly, never by casting
// a buffer to a struct, so alignment and host byte order do not matter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Streams.h"

namespace archiver {

// --- Signatures and fixed values --------------------------------------------

inline constexpr uint32_t ZA_SIG_LOCAL_HEADER = 0x04034B50;
inline constexpr uint32_t ZA_SIG_CENTRAL_DIR = 0x02014B50;
inline constexpr uint32_t ZA_SIG_CENTRAL_DIR_END = 0x06054B50;
inline constexpr uint32_t ZA_SIG_LOCAL_HEADER_NZ = 0x05045C61;
inline constexpr uint32_t ZA_SIG_CENTRAL_DIR_NZ = 0x03025C61;
inline constexpr uint32_t ZA_SIG_CENTRAL_DIR_END_NZ = 0x06054141;
inline constexpr uint32_t ZA_SIG_ZIP64_CENTRAL_DIR_END = 0x06064B50;
inline constexpr uint32_t ZA_SIG_ZIP64_LOCATOR = 0x07064B50;
inline constexpr uint32_t ZA_SIG_DATA_DESCRIPTOR = 0x08074B50;

// Extra-field IDs the archiver interprets.
inline constexpr uint16_t ZA_EXTRA_ZIP64 = 0x0001;
inline constexpr uint16_t ZA_EXTRA_UNICODE_NAME = 0x554E;
// Info-ZIP's Unicode path: version 1, the CRC-32 of the stored name it
// stands for, the name in UTF-8.
inline constexpr uint16_t ZA_EXTRA_UNICODE_PATH = 0x7075;
inline constexpr uint16_t ZA_EXTRA_AES = 0x9901;

// genPurposeFlag bits.
inline constexpr uint16_t ZA_FLAG_ENCRYPTED = 0x0001;
inline constexpr uint16_t ZA_FLAG_DATA_DESCRIPTOR = 0x0008;
inline constexpr uint16_t ZA_FLAG_UTF8_NAME = 0x0800;

// externalAttr bits (DOS attributes in the low byte).
inline constexpr uint32_t ZA_ATTR_DIRECTORY = 0x10;
inline constexpr uint32_t ZA_ATTR_ARCHIVE = 0x20;

// compMethod values.
inline constexpr uint16_t ZA_METHOD_STORED = 0;
inline constexpr uint16_t ZA_METHOD_DEFLATE = 8;
inline constexpr uint16_t ZA_METHOD_DEFLATE64 = 9;
inline constexpr uint16_t ZA_METHOD_AES = 99;

// Version fields written. "Made by" and "needed" of a new entry: 20 with OEM
// names, 0x0B14 (host 11, version 2.0) without; the non-zip flavour needs
// 0x4114. An item written with zip64 sizes needs 45 (non-zip: 0x412D).
// extractVersion 0x4114 and above marks a non-zip entry when reading.
inline constexpr uint16_t ZA_VERSION_OEM = 20;
inline constexpr uint16_t ZA_VERSION_ANSI = 0x0B14;
inline constexpr uint16_t ZA_VERSION_NZ = 0x4114;
inline constexpr uint16_t ZA_VERSION_ZIP64 = 45;
inline constexpr uint16_t ZA_VERSION_ZIP64_NZ = 0x412D;

// All-ones sentinels: the real value is in the zip64 records.
inline constexpr uint16_t ZA_SENTINEL16 = 0xFFFF;
inline constexpr uint32_t ZA_SENTINEL32 = 0xFFFFFFFF;

// The end-record search reads at most this many bytes from the end.
inline constexpr int64_t ZA_END_SEARCH_WINDOW = 65600;

// --- Little-endian byte helpers -----------------------------------------------

inline uint16_t ZAGetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t ZAGetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t ZAGetU64(const uint8_t* p) {
  return static_cast<uint64_t>(ZAGetU32(p)) | (static_cast<uint64_t>(ZAGetU32(p + 4)) << 32);
}
inline void ZAPutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void ZAPutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void ZAPutU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// --- Fixed records --------------------------------------------------------------
// Each record has Size (its bytes on disk), Load (from Size bytes) and Store
// (into Size bytes). A value-initialised record is all zeros.

// The local header in front of an item's data.
struct TZALocalFileHeader {
  static constexpr size_t Size = 30;
  uint32_t signature = 0;
  uint16_t extractVersion = 0;
  uint16_t genPurposeFlag = 0;
  uint16_t compMethod = 0;
  uint16_t lastModTime = 0;
  uint16_t lastModDate = 0;
  uint32_t crc32 = 0;
  uint32_t compSize = 0;
  uint32_t unCompSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;

  void Load(const uint8_t* p);
  void Store(uint8_t* p) const;
  bool operator==(const TZALocalFileHeader&) const = default;
};

// The data descriptor that follows the data when flag bit 3 is set.
struct TZADataDescriptor {
  static constexpr size_t Size = 16;
  uint32_t signature = 0;
  uint32_t crc32 = 0;
  uint32_t compSize = 0;
  uint32_t unCompSize = 0;

  void Load(const uint8_t* p);
  void Store(uint8_t* p) const;
  bool operator==(const TZADataDescriptor&) const = default;
};

// One central directory entry (without its name, extra fields and comment).
struct TZAZipCentralDir {
  static constexpr size_t Size = 46;
  uint32_t signature = 0;
  uint16_t versionMadeBy = 0;
  uint16_t extractVersion = 0;
  uint16_t genPurposeFlag = 0;
  uint16_t compMethod = 0;
  uint16_t lastModTime = 0;
  uint16_t lastModDate = 0;
  uint32_t crc32 = 0;
  uint32_t compSize = 0;
  uint32_t unCompSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  uint16_t commentLength = 0;
  uint16_t diskNumberStart = 0;
  uint16_t internalAttr = 0;
  uint32_t externalAttr = 0;
  uint32_t relOffsetLH = 0;

  void Load(const uint8_t* p);
  void Store(uint8_t* p) const;
  bool operator==(const TZAZipCentralDir&) const = default;
};

// The end of central directory record (without the archive comment).
struct TZAZipCentralDirEnd {
  static constexpr size_t Size = 22;
  uint32_t signature = 0;
  uint16_t diskNumber = 0;
  uint16_t startDiskNumber = 0;
  uint16_t entriesOnDisk = 0;
  uint16_t entriesCentralDir = 0;
  uint32_t centralDirSize = 0;
  uint32_t offsetStartDir = 0;
  uint16_t commentLength = 0;

  void Load(const uint8_t* p);
  void Store(uint8_t* p) const;
  bool operator==(const TZAZipCentralDirEnd&) const = default;
};

// The zip64 end of central directory record. We write no extensible data
// after it; extensible data of a record read from an archive is ignored.
struct TZAZip64CentralDirEnd {
  static constexpr size_t Size = 56;
  uint32_t signature = 0;
  uint64_t centralDirEndSize = 0;
  uint16_t versionMadeBy = 0;
  uint16_t versionNeededToExtract = 0;
  uint32_t diskNumber = 0;
  uint32_t startDiskNumber = 0;
  uint64_t entriesOnDisk = 0;
  uint64_t entriesCentralDir = 0;
  uint64_t centralDirSize = 0;
  uint64_t offsetStartDir = 0;

  void Load(const uint8_t* p);
  void Store(uint8_t* p) const;
  bool operator==(const TZAZip64CentralDirEnd&) const = default;
};

// The zip64 end of central directory locator.
struct TZAZip64CentralDirEndLocator {
  static constexpr size_t Size = 20;
  uint32_t signature = 0;
  uint32_t startDiskNumber = 0;
  uint64_t offsetStartDirEnd = 0;
  uint32_t totalNumberOfDisks = 0;

  void Load(const uint8_t* p);
  void Store(uint8_t* p) const;
  bool operator==(const TZAZip64CentralDirEndLocator&) const = default;
};

// Reads up to `count` bytes, going on after short reads; returns the number
// read (less than count only at the end of the stream).
int64_t ZAReadFully(platform::TStream& s, void* buffer, int64_t count);

// Reads a record at the stream's position. False (record untouched) when
// the stream holds fewer than R::Size bytes there.
template <class R>
bool ZAReadRecord(platform::TStream& s, R& r) {
  uint8_t buf[R::Size];
  if (ZAReadFully(s, buf, R::Size) != static_cast<int64_t>(R::Size)) return false;
  r.Load(buf);
  return true;
}
// Writes a record at the stream's position; a short write raises EStreamError.
template <class R>
void ZAWriteRecord(platform::TStream& s, const R& r) {
  uint8_t buf[R::Size];
  r.Store(buf);
  s.WriteBuffer(buf, R::Size);
}
// Appends a record's bytes to a byte string.
template <class R>
void ZAAppendRecord(std::string& out, const R& r) {
  uint8_t buf[R::Size];
  r.Store(buf);
  out.append(reinterpret_cast<const char*>(buf), R::Size);
}

// --- Extra fields ------------------------------------------------------------------

// One extra field as held in a directory entry. The data is a private copy
// owned by the block (copying the block copies the data).
struct TZAExtraFieldDataBlock {
  uint16_t headerID = 0;
  std::vector<uint8_t> Data;

  uint16_t dataSize() const { return static_cast<uint16_t>(Data.size()); }
  bool operator==(const TZAExtraFieldDataBlock&) const = default;
};
using TZAExtraFields = std::vector<TZAExtraFieldDataBlock>;

// Splits an extra area into its blocks, in file order. A block whose dataSize
// runs past the area is cut to the bytes left; a tail of fewer than 4 bytes
// (too short for a block header, e.g. alignment padding) is dropped.
TZAExtraFields ZAParseExtraFields(const uint8_t* p, size_t length);
inline TZAExtraFields ZAParseExtraFields(const std::string& bytes) {
  return ZAParseExtraFields(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Bytes the blocks take on disk (4 + dataSize each); with skipZip64 the
// 0x0001 blocks are not counted.
size_t ZAExtraFieldsSize(const TZAExtraFields& fields, bool skipZip64);
// Appends the blocks' bytes in array order; with skipZip64 the 0x0001 blocks
// are left out (they are rebuilt from the entry's current values instead).
void ZAAppendExtraFields(std::string& out, const TZAExtraFields& fields, bool skipZip64);
// The first block with this ID, or nullptr.
const TZAExtraFieldDataBlock* ZAFindExtraField(const TZAExtraFields& fields, uint16_t id);
// The zip64 field of a local header: ID, size 16, the uncompressed and the
// compressed size (20 bytes).
std::string ZALocalZip64Field(uint64_t uncompSize, uint64_t compSize);
// Makes `lh` say of its item what the central entry `cd` says (versions,
// flags, method, date, CRC), with the sizes `comp` and `uncomp`; both
// all-ones when either needs 64 bits (the values then go into a zip64
// field, ZALocalZip64Field).
void ZASetLocalFromCentral(TZALocalFileHeader& lh, const TZAZipCentralDir& cd, uint64_t comp, uint64_t uncomp);
// A local header's bytes followed by its name and extra bytes.
std::string ZALocalPrefix(const TZALocalFileHeader& lh, const std::string& name, const std::string& extra);
// A data descriptor with its signature: the CRC and the sizes, 8 bytes each
// when either needs 64 bits (24 bytes in all), 4 otherwise (16).
std::string ZADataDescriptorBytes(uint32_t crc, uint64_t comp, uint64_t uncomp);

// The 64-bit values of an entry held in its zip64 extra field.
struct TZAZip64ExtendedInfo {
  uint64_t uncompSize = 0;
  uint64_t compSize = 0;
  uint64_t relOffsetLH = 0;
  uint32_t diskNumberStart = 0;
  bool operator==(const TZAZip64ExtendedInfo&) const = default;
};

// Which values a zip64 field holds: those whose header field is a sentinel.
struct TZAZip64Presence {
  bool uncompSize = false;
  bool compSize = false;
  bool relOffsetLH = false;
  bool diskNumberStart = false;

  static TZAZip64Presence OfCentral(const TZAZipCentralDir& cd);
  static TZAZip64Presence OfLocal(const TZALocalFileHeader& lh);
  bool Any() const { return uncompSize || compSize || relOffsetLH || diskNumberStart; }
  // dataSize of the field: 8 per present 64-bit value, 4 for the volume.
  uint16_t DataSize() const;
};

// Takes from a zip64 field's data the present values, in order, each only
// when all its bytes are in the data (a short field yields the values that
// fit). The volume number is kept as its low 16 bits, as the 16-bit header
// field it stands for. Values not present in the data are left as they are.
void ZAReadZip64ExtendedInfo(const uint8_t* data, size_t size, const TZAZip64Presence& present,
                             TZAZip64ExtendedInfo& info);
inline void ZAReadZip64ExtendedInfo(const TZAExtraFieldDataBlock& block,
                                    const TZAZip64Presence& present, TZAZip64ExtendedInfo& info) {
  ZAReadZip64ExtendedInfo(block.Data.data(), block.Data.size(), present, info);
}
// Appends a whole zip64 field (header and the present values). Nothing is
// appended when no value is present.
void ZAAppendZip64Field(std::string& out, const TZAZip64Presence& present,
                        const TZAZip64ExtendedInfo& info);
// The zip64 field as a block (empty Data when no value is present).
TZAExtraFieldDataBlock ZAMakeZip64Block(const TZAZip64Presence& present,
                                        const TZAZip64ExtendedInfo& info);

// The AES extra field (0x9901), 7 data bytes.
struct TZAAESExtraInfo {
  static constexpr size_t Size = 7;
  uint16_t version = 0;       // 1 or 2
  uint16_t vendor = 0;        // the bytes "AE" read little-endian: 0x4541
  uint8_t strength = 0;       // 1, 2, 3 for 128-, 192-, 256-bit keys
  uint16_t actualMethod = 0;  // compression method of the data

  // False (record untouched) when the block holds fewer than 7 bytes.
  bool Load(const TZAExtraFieldDataBlock& block);
  TZAExtraFieldDataBlock ToBlock() const;
  bool operator==(const TZAAESExtraInfo&) const = default;
};
inline constexpr uint16_t ZA_AES_VENDOR = 0x4541;  // "AE"

// --- Variable-length parts ------------------------------------------------------

// Reads `count` bytes at the stream's position into `out`; false (out
// holding what was there) when the stream ends first.
bool ZAReadBytes(platform::TStream& s, size_t count, std::string& out);

// Reads one central entry at the stream's position: the 46-byte record, then
// its name, extra and comment bytes, raw. False when the stream ends first.
bool ZAReadCentralEntry(platform::TStream& s, TZAZipCentralDir& cd, std::string& name,
                        TZAExtraFields& extra, std::string& comment);

}  // namespace archiver
