// The central directory of an open archive, in memory.
//
// TDirItem is one directory entry: the central record as read or to be
// written, its name, comment and extra fields, and the state of a pending
// update. TZADirArray is a growable array of entries with a name index
// (TZAHashedStringList) kept index for index with the entries, so name
// lookups cost O(1) on average. TZADirManager holds the directory of one
// archive (CDir), its rollback copy (RBCDir), the end records and the
// archive comment.
//
// Invariants of TZADirArray:
//  - name string i is the key of entry i's Name (A-Z lower-cased, '\' taken
//    as '/', so both separators name the same item), for every entry that
//    has received a name; entries beyond the name list's count have none; no
//    name string exists for an index at or beyond Count();
//  - among entries with equal names a lookup finds the highest index;
//  - the name-part index (built on the first FindByNamePart) holds every
//    named entry under the key of its last name component, and is kept up
//    to date with the names.
// Change an entry's Name only through SetItemName (ItemPtr gives in-place
// access to everything else).
//
// Stored names. TDirItem::StoredName holds the name bytes exactly as the
// item's local header on disk holds them (and the central entry read with
// it), with the entry's flag bit 11 as read. It is empty (std::nullopt) for
// an item whose local header has not been written yet. Whoever writes a new
// local header (new, updated, moved, renamed items) calls
// SetNewStoredName, which applies the name rule; every other entry keeps its
// bytes, so the central directory always agrees with the local headers.
//
// Nothing here is thread-safe; the archive component serialises access.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archiver/ZAHashedList.h"
#include "archiver/ZARecords.h"
#include "archiver/ZAVolumes.h"
#include "platform/Streams.h"

namespace archiver {

enum TZACryptoAlgorithm { caPkzipClassic, caAES_128, caAES_192, caAES_256 };

enum TZAProcessOperation {
  poAdd, poMove, poDelete, poUpdate, poExtract, poTest, poRename, poChangeAttr,
  poChangeComment, poMakeSFX, poMerge
};

// One directory entry. A plain value: copying copies its strings and extra
// fields; a source stream is shared between copies (see Stream).
struct TDirItem {
  TZAZipCentralDir CentralDir;
  std::string Name;      // UTF-8, separators as stored ('/')
  std::string OldName;   // name before a pending rename
  std::string Comment;   // raw comment bytes, never converted
  // Every extra field of the central entry in file order, 0x0001, 0x554E,
  // 0x9901 and foreign ones alike.
  TZAExtraFields ExtraFields;
  // Name bytes as on disk; see the header comment.
  std::optional<std::string> StoredName;
  TZACryptoAlgorithm ZAEncryptionAlgorithm = caPkzipClassic;
  bool bHugeFile = false;  // the entry carries zip64 values
  TZAZip64ExtendedInfo Zip64ExtInfo;
  bool Modified = false;
  std::string Password;  // ANSI bytes
  // Source data of an item added from a stream. When bDestroyStream is set
  // the archive owns the stream and releases it with the entry; otherwise
  // the pointer refers to a caller's stream (held with a no-op deleter).
  // For a raw copy from another archive (Operation poMerge) it is that
  // archive's stream, lent until the commit.
  std::shared_ptr<platform::TStream> Stream;
  bool bDestroyStream = false;
  int64_t Position = 0;
  // Bytes of Stream the item holds, from Position on; 0: the whole stream
  // from its start. For a raw copy: where its local record starts, and the
  // bytes the record may span from there (0: none, it cannot be copied).
  int64_t Count = 0;
  bool Tagged = false;
  std::string SrcFileName;
  uint16_t CompressionMethod = 0;  // from compMethod or the AES field
  uint8_t CompressionMode = 0;
  TZAProcessOperation Operation = poAdd;
  bool UseOldRijndael = false;
  // The entry's offset holds no local header of its own: none at all, or
  // one that names another entry at that offset and not this one (found by
  // ZAConfirmLocalHeaders, once some record conflicts with another). Such an
  // entry claims no bytes: it refuses no other item and is never read.
  bool NoLocalHeader = false;
  // Where the item's bytes may lie, worked out whenever the directory is
  // read or written (TZADirManager::MarkOverlappingItems). Overlaps: the
  // item's local header and data lie over another item's, or run into the
  // central directory; such an item is never read (entries that share bytes
  // make a small archive inflate to gigabytes). DataLimit: the first byte
  // its data may not reach (the next item's local header in its volume, or
  // the central directory); UINT64_MAX when nothing follows it there.
  bool Overlaps = false;
  uint64_t DataLimit = UINT64_MAX;
  // A streamed record (flag bit 3) found without its data descriptor, the
  // file cut inside it or the descriptor damaged (set by the rebuild from
  // the local headers): its CRC and uncompressed size are unknown. Its data
  // are the bytes up to the next header or the end of the file; it never
  // reads as whole, and what inflate gives of it is passed on only where
  // damaged items are read (ExtractCorruptedFiles). Its CRC is 0xFFFFFFFF,
  // that of no empty item, so that an entry written from it never passes
  // for a whole empty one.
  bool DescriptorMissing = false;
  // The host system ("version made by", high byte) a new item is written
  // with instead of this system's own; -1: this system's. An item written
  // anew from another archive keeps its host, because its attributes only
  // mean what they meant there (Unix permission bits in the high word).
  int KeptHost = -1;
  // The UTF-8 name an Info-ZIP Unicode path field (0x7075) gave an item
  // written anew from another archive; the new item carries such a field
  // for the name it is stored under, so that peers that read the field show
  // the name they showed there. Empty: none.
  std::string KeptUnicodePath;

  // The 64-bit values, taken from Zip64ExtInfo where the 32-bit (16-bit)
  // header field holds its sentinel.
  uint64_t UncompressedSize() const;
  uint64_t CompressedSize() const;
  uint64_t LocalHeaderOffset() const;
  uint32_t DiskNumberStart() const;
  // A folder: a name that ends in a separator, or an item without data
  // that carries the folder attribute. An item with data is a file whatever
  // its attributes say (some tools set the folder bit on files).
  bool IsDirectory() const;
  // The external attributes with the folder bit as IsDirectory decides it.
  uint32_t Attributes() const;
  // The DOS date in the high half, the time in the low half: later
  // date-times compare greater.
  uint32_t DosDateTime() const { return (uint32_t{CentralDir.lastModDate} << 16) | CentralDir.lastModTime; }

  // Sets the local header offset; an offset of 0xFFFFFFFF or more goes into
  // the zip64 values (relOffsetLH := sentinel, bHugeFile := true).
  void SetLocalHeaderOffset(uint64_t offset);
  // Moves the local header offset by `delta` bytes (see SetLocalHeaderOffset).
  void MoveLocalHeaderOffset(int64_t delta);
  // Set the sizes; a field already in its zip64 form, or a size that does not
  // fit 32 bits, takes the zip64 value.
  void SetCompressedSize(uint64_t size);
  void SetUncompressedSize(uint64_t size);

  // Applies the name rule (ZANameToStoredAnsi) for a new local header: Name
  // in ANSI (OEM when oemFileNames) with flag bit 11 clear, or whole in UTF-8
  // with bit 11 set when the code page cannot hold it. A stored name longer
  // than 65535 bytes raises EZAException code 61.
  void SetNewStoredName(bool oemFileNames);
};

// Appends the complete central entry of `item`: the 46-byte record, the
// stored name, the zip64 field rebuilt from the entry's current values (only
// for the header fields holding their sentinel), every other extra field
// unchanged in array order, and the comment. The record's nameLength,
// extraLength and commentLength are updated in the item. An item without a
// StoredName gets one by the name rule first. Raises EZAException code 61 for
// a name, and 46 for extra fields or a comment, that does not fit its 16-bit
// length.
void ZAAppendCentralEntry(std::string& out, TDirItem& item, bool oemFileNames);

// The key an item is indexed by: its name with A-Z lower-cased and '\' as
// '/'.
std::string ZANameKey(std::string_view name);
// The name-part key of a name key: one trailing '/' dropped, the last
// component, one trailing '.' dropped ("a/b/c.fb2/" gives "c.fb2"; "x/y."
// gives "y"). Every name that a mask without wildcards matches, as a whole or
// by its name part, has the name-part key of that mask (so the index gives a
// superset of the matches, which the search then checks).
std::string_view ZANamePartKey(std::string_view key);

// A growable array of directory entries with its name index.
class TZADirArray {
 public:
  TZADirArray();
  ~TZADirArray();
  TZADirArray(const TZADirArray&) = delete;
  TZADirArray& operator=(const TZADirArray&) = delete;

  int Count() const { return itemCount_; }
  // Growing above the capacity adds AllocBy slots (AllocBy doubling from 500
  // up to 10000 each time: steps of 1000, 2000, 4000, 8000, then 10000), or
  // exactly n when that is more; new slots are cleared. 0 releases the
  // storage and the names. Shrinking clears the dropped slots and their
  // names, so no lookup can find an entry beyond the count.
  void SetCount(int n);
  int Capacity() const { return allocItemCount_; }

  // Frees the entries in use and the names; the storage stays allocated.
  void Clear();

  // Copies `item` into slot `index` (0..Count()-1, else code 1) and names it:
  // a slot without a name string must be the next to get one (else code 58).
  void SetItem(int index, const TDirItem& item);
  // A copy of entry `index` (code 2 out of range).
  TDirItem GetItem(int index) const;
  // In-place access (code 3 out of range). Do not change Name through it.
  TDirItem* ItemPtr(int index);
  const TDirItem* ItemPtr(int index) const;
  TDirItem& operator[](int index) { return *ItemPtr(index); }
  const TDirItem& operator[](int index) const { return *ItemPtr(index); }

  // Replaces the content by a copy of `da`.
  void Assign(const TZADirArray& da);
  // Appends a copy of `da`'s entries.
  void Append(const TZADirArray& da);
  // Removes entry `index` (code 4 out of range) with its own name string;
  // later entries move down by one.
  void DeleteItem(int index);
  void ClearTags();

  // Index of the entry named `fileName` (A-Z folded, either separator; the
  // highest index among equal names), or -1.
  bool FileExists(const std::string& fileName, int& itemNo);
  // Index of the entry named exactly `name` (byte for byte; the highest
  // index among equal names), or -1.
  int FindExactName(const std::string& name);
  // The entries, ascending, whose name part has the key `part` (see
  // ZANamePartKey; `part` must be such a key). Valid until the directory
  // changes.
  std::span<const int32_t> FindByNamePart(std::string_view part);
  // Renames entry `index` and its name string. The entry must have a name
  // string or be the next to get one (else code 59).
  void SetItemName(int index, std::string name);

  int AllocBy() const { return allocBy_; }
  static constexpr int InitialAllocBy = 500;
  static constexpr int MaxAllocBy = 10000;

 private:
  void CheckIndex(int index, int code) const;
  void SetIndexedName(int index, const std::string& name, int code);

  std::vector<TDirItem> items_;  // size() is the capacity
  TZAHashedStringList itemNamesList_;
  TZAKeyIndex namePartIndex_;
  int allocBy_ = InitialAllocBy;
  int allocItemCount_ = 0;
  int itemCount_ = 0;
};

// What the directory manager asks of the archive component that owns it.
// The defaults describe a plain zip file with the component's default
// options, so a manager can work without a component (tests, tools).
class TZADirOwner {
 public:
  virtual ~TZADirOwner() = default;
  // Zip flavour (true) or the private non-zip flavour.
  virtual bool isZIPFormat() const { return true; }
  virtual bool OpenCorruptedArchives() const { return false; }
  virtual bool OEMFileNames() const { return true; }
  // The component's own archive stream (a manager over any other stream
  // works on a custom stream).
  virtual const platform::TStream* ArchiveStream() const { return nullptr; }
  // The self-extracting stub file to place at the start of a new archive.
  virtual std::string SFXStub() const { return {}; }
  // In spanning or splitting mode with a fixed first-volume size: that size;
  // otherwise -1.
  virtual int64_t FirstVolumeSizeLimit() const { return -1; }
  // Makes the component's volume information name the first volume.
  virtual void SelectFirstVolume() {}
  // The component's name, for error messages (may be empty).
  virtual std::string ComponentName() const { return {}; }
  // The volume layer the directory is read through and written to (a plain
  // single file by default).
  virtual TZAVolumeLayer& Volumes();
};

// The directory of one archive. Borrows the stream and the owner.
class TZADirManager {
 public:
  // Works on `stream`. With bCreate (a new archive) the owner's volume
  // information is set to the first volume and the owner's SFX stub, when it
  // names a file, is copied to the start of the stream (code 47 when the
  // stub does not fit a fixed-size first volume). `owner` may be nullptr
  // (a plain zip file, default options).
  TZADirManager(platform::TStream* stream, bool bCreate, TZADirOwner* owner);
  ~TZADirManager();
  TZADirManager(const TZADirManager&) = delete;
  TZADirManager& operator=(const TZADirManager&) = delete;

  platform::TStream* FCompressedStream;
  bool FCreate;
  bool FIsCustomStream;
  TZADirOwner* FArc;
  TZADirArray RBCDir;  // rollback copy of CDir, taken when an update begins
  TZADirArray CDir;    // the directory
  std::string ArchiveComment;  // raw bytes
  TZAZip64CentralDirEndLocator Zip64CentralDirEndLocator;
  TZAZip64CentralDirEnd Zip64CentralDirEnd;
  TZAZipCentralDirEnd CentralDirEnd;  // its signature fixes the flavour
  int64_t StubSize = 0;               // bytes before the first local header
  bool FZip64 = false;
  bool Aborted = false;
  int64_t CentralDirOffset = 0;  // position of the first central entry

  // Empties CDir and zeroes the end record, signed for the owner's flavour.
  void ResetCentralDirEnd();
  // The archive is of the non-zip flavour (its end record says so).
  bool IsNonZipFlavour() const { return CentralDirEnd.signature == ZA_SIG_CENTRAL_DIR_END_NZ; }

  // Entry 0 exists and is encrypted.
  bool IsEncrypted() const;
  // Entry 0 exists and its local header is not at offset 0.
  bool IsSFXArchive() const;
  // Moves every entry's local header offset by StubSize (folder entries
  // included); an offset that reaches 0xFFFFFFFF makes the entry zip64.
  void ApplyStubOffset();
  // Sets every entry's Overlaps and DataLimit (ZAMarkOverlappingItems) from
  // the offsets and sizes of all entries but those with NoLocalHeader (which
  // get Overlaps, and a DataLimit at their offset) and CentralDirOffset. In
  // a single file every entry is measured against all others, whatever
  // volume it names: the file is read at the offset all the same. In a
  // volume set entries are compared within their volume.
  void MarkOverlappingItems();
  // Checks, once per directory loaded, the local header at the offset of
  // every entry (ZAConfirmLocalHeaders) and marks again when an entry turns
  // out to have none of its own; true when the marks changed. For when a
  // record is refused or cut short by another: a damaged offset must not
  // cost its neighbours their data, and sound archives, which have no such
  // conflict, are never read for it. Nothing for a volume set, and not to
  // be called while the directory holds pending changes. The stream's
  // position is kept.
  bool ConfirmLocalHeaders();
  // Searches the stream for an end record of the owner's flavour (reloading
  // ArchiveComment); with OpenCorruptedArchives the result is always true.
  bool HasCentralDirEnd();
  // Appends `other`'s directory to this one: own entries lose their tags;
  // appended tagged entries lose theirs and have their offsets moved by
  // CentralDirOffset (where the other archive's data goes), becoming zip64
  // when the moved offset is 0xFFFFFFFF or more.
  void MergeWith(TZADirManager& other);

  // The end-record search: scans the last 65600 bytes for `signature` and
  // accepts the candidate whose commentLength reaches exactly the end of the
  // stream (of several, the outermost that stands behind the directory it
  // describes: the others lie in its comment; the outermost when none
  // does). On
  // success fills `record`, `offset` and ArchiveComment; otherwise `record`
  // is zeroed, offset is -1 and ArchiveComment is empty.
  bool FindCentralDirEnd(TZAZipCentralDirEnd& record, int64_t& offset, uint32_t signature);

  // Reads the directory of the stream into CDir with the end records, the
  // archive comment, StubSize and CentralDirOffset (see ZADirLoad.cpp).
  // Every header value is checked against the stream before it is used. An
  // archive without an end record, and with the owner's
  // OpenCorruptedArchives any damaged one, gets a directory rebuilt from its
  // local headers. Raises EZAException: 57 for a damaged directory, 40 for a
  // missing zip64 end record, 35 when a rebuild finds no local header, 44
  // when a volume set would need a rebuild.
  void LoadDir();
  // Rebuilds CDir from the local headers of the stream (what LoadDir does
  // for an archive without a usable directory): every header with plausible
  // fields becomes an entry (one whose compressed size the whole stream
  // could not hold only when no entry follows it: a file cut inside its
  // last item). After a record that is known to be whole (what
  // follows its data is another record, or the stream's end, or its stored
  // data match their CRC) the search goes on behind it; after any other it
  // goes on inside it. A streamed record whose descriptor is gone is
  // marked DescriptorMissing. EZAException 35 when no local header, or none
  // whole up to its extra field, is there; 44 for a volume set.
  void RebuildDirFromLocalHeaders();
  // Writes CDir, the zip64 end records when needed, the end record and
  // ArchiveComment (see ZADirSave.cpp). With RecreateCDirEnd the directory is
  // written at `at`, or appended at the end of the stream when `at` is -1;
  // otherwise it replaces the directory that is there (the same entries with
  // a new comment, or after a stub was put in front). A single file ends
  // where the records end: it is cut there once they are written. A
  // non-null `stream` becomes the manager's stream first. Lengths that do
  // not fit their fields raise EZAException (61, 46) before the stream is
  // touched.
  void SaveDir(bool RecreateCDirEnd, platform::TStream* stream = nullptr, int64_t at = -1);

  TZADirOwner& Owner() const { return *FArc; }
  // The volumes this directory is read through and written to: the owner's,
  // or a plain single file when the manager works on a stream of its own.
  TZAVolumeLayer& VolumeLayer() const;

 private:
  // Where the directory described by an end record lies.
  struct TDirLocation {
    int64_t endOffset = 0;  // of the 22-byte end record
    int64_t dirEnd = 0;     // first byte after the last central entry
    int64_t dirStart = 0;   // first central entry (single file)
    uint64_t dirSize = 0;
    uint64_t count = 0;     // entries, unless walking
    bool walk = false;      // count unknown: entries up to dirSize
    uint64_t offsetStartDir = 0;  // as recorded (volume sets)
    int startVolume = 0;
    int lastVolume = 0;
  };
  TDirLocation LocateDirectory(const TZAZipCentralDirEnd& end, int64_t endOffset);
  void ReadEntries(const TDirLocation& loc);
  void ReadEntriesFromVolumes(const TDirLocation& loc);
  size_t LoadEntry(int index, const uint8_t* p, size_t avail);
  void CheckItemsInsideStream();
  void DetermineStubSize(const TDirLocation& loc);
  bool CheckLocalHeader(int64_t offset);
  // The rebuild's pieces: the data descriptor of an item with flag bit 3
  // (its values taken into the entry; returns its length, 0 when none is
  // found), and whether the record [.., end) is known to be whole.
  int64_t TakeDataDescriptor(TDirItem& item, int64_t dataStart);
  bool RecordConfirmed(const TDirItem& item, int64_t dataStart, int64_t end);
  int64_t SearchSignature(uint32_t signature, int64_t from, int64_t window);
  bool FindEndRecordOfAnyFlavour(TZAZipCentralDirEnd& record, int64_t& offset);
  bool OemNamesApply() const;

  bool FHeadersConfirmed = false;  // ConfirmLocalHeaders ran on this directory
};

// Sets Overlaps and DataLimit of the entries `which` of `dir` (indexes),
// measured against one another. An entry's extent is taken as the least its
// record can span: the 30 bytes of a local header and its compressed size
// (the header's name and extra fields, which need not be the entry's, are
// measured when the record is read). DataLimit is where the next entry
// starts, or for the last one `dirStart` (UINT64_MAX: nothing follows);
// Overlaps is set where an extent starts inside an earlier one or passes
// its limit. With `byVolume` entries are compared only within the volume
// they name. Reads nothing; costs one sort of the entries by offset (none
// when they are in order already).
void ZAMarkOverlappingItems(TZADirArray& dir, std::span<const int> which, uint64_t dirStart, bool byVolume);
// The bytes of the file `item` is read from at the least, [first, second):
// from its offset, its extent as ZAMarkOverlappingItems takes it, cut at its
// DataLimit. Those of the entries one marking measured lie over none of the
// others (each ends by the next one's start).
std::pair<uint64_t, uint64_t> ZALeastExtent(const TDirItem& item);

// Sets NoLocalHeader on those of the entries `which` of `dir` whose offset
// in `s` holds no local header of their own: none at all, or one whose name
// is the stored name of another of them at that offset and not theirs.
// Reads one header per offset, in offset order (its name only where
// entries share it); the stream's position is kept. True when it set any.
bool ZAConfirmLocalHeaders(platform::TStream& s, TZADirArray& dir, std::span<const int> which);

// Hosts (high byte of versionMadeBy) whose tools write names in a DOS or
// Windows code page: FAT, NTFS as this archiver writes it, VFAT. Names of
// entries from any other host are read as UTF-8 where they are valid UTF-8,
// so entries written for such a host keep a name outside ASCII in UTF-8.
bool ZAIsDosHost(int host);

// Decodes the stored name bytes of an entry. Bit 11 set: UTF-8. Bit 11
// clear: names written on a host that is not DOS or Windows (high byte of
// versionMadeBy other than 0, 11, 14) that are valid UTF-8 are taken as
// UTF-8, as Linux tools write them; all others go through
// ZADecodeStoredName (OEM to ANSI first when `oemNames`, then the UTF-8 test).
std::string ZADecodeEntryName(std::string_view stored, uint16_t genPurposeFlag,
                              uint16_t versionMadeBy, bool oemNames);

}  // namespace archiver
