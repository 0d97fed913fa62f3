// The directory in memory: entries, the entry array with its name index, and
// the directory manager of one archive.
#include "archiver/ZADirectory.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "archiver/ZAExcept.h"
#include "archiver/ZAPaths.h"

namespace archiver {

// --- TDirItem --------------------------------------------------------------------

uint64_t TDirItem::UncompressedSize() const {
  return CentralDir.unCompSize == ZA_SENTINEL32 ? Zip64ExtInfo.uncompSize : CentralDir.unCompSize;
}

uint64_t TDirItem::CompressedSize() const {
  return CentralDir.compSize == ZA_SENTINEL32 ? Zip64ExtInfo.compSize : CentralDir.compSize;
}

uint64_t TDirItem::LocalHeaderOffset() const {
  return CentralDir.relOffsetLH == ZA_SENTINEL32 ? Zip64ExtInfo.relOffsetLH
                                                 : CentralDir.relOffsetLH;
}

uint32_t TDirItem::DiskNumberStart() const {
  return CentralDir.diskNumberStart == ZA_SENTINEL16 ? Zip64ExtInfo.diskNumberStart
                                                     : CentralDir.diskNumberStart;
}

bool TDirItem::IsDirectory() const {
  if (!Name.empty() && (Name.back() == '/' || Name.back() == '\\')) return true;
  return (CentralDir.externalAttr & ZA_ATTR_DIRECTORY) != 0 && UncompressedSize() == 0;
}

uint32_t TDirItem::Attributes() const {
  return (CentralDir.externalAttr & ~ZA_ATTR_DIRECTORY) | (IsDirectory() ? ZA_ATTR_DIRECTORY : 0);
}

void TDirItem::SetLocalHeaderOffset(uint64_t offset) {
  if (offset < ZA_SENTINEL32) {
    CentralDir.relOffsetLH = static_cast<uint32_t>(offset);
  } else {
    bHugeFile = true;
    Zip64ExtInfo.relOffsetLH = offset;
    CentralDir.relOffsetLH = ZA_SENTINEL32;
  }
}

namespace {

void SetSize(TDirItem& item, uint64_t size, uint32_t& field, uint64_t& wide) {
  if (field == ZA_SENTINEL32 || size >= ZA_SENTINEL32) {
    item.bHugeFile = true;
    field = ZA_SENTINEL32;
    wide = size;
  } else {
    field = static_cast<uint32_t>(size);
  }
}

}  // namespace

void TDirItem::SetCompressedSize(uint64_t size) { SetSize(*this, size, CentralDir.compSize, Zip64ExtInfo.compSize); }

void TDirItem::SetUncompressedSize(uint64_t size) {
  SetSize(*this, size, CentralDir.unCompSize, Zip64ExtInfo.uncompSize);
}

void TDirItem::MoveLocalHeaderOffset(int64_t delta) {
  // An entry whose offset is already in its zip64 values stays zip64.
  if (CentralDir.relOffsetLH == ZA_SENTINEL32)
    Zip64ExtInfo.relOffsetLH += static_cast<uint64_t>(delta);
  else
    SetLocalHeaderOffset(CentralDir.relOffsetLH + static_cast<uint64_t>(delta));
}

void TDirItem::SetNewStoredName(bool oemFileNames) {
  std::string stored;
  const bool utf8 = ZANameToStoredAnsi(Name, stored, oemFileNames);
  StoredName = std::move(stored);
  if (utf8)
    CentralDir.genPurposeFlag |= ZA_FLAG_UTF8_NAME;
  else
    CentralDir.genPurposeFlag &= static_cast<uint16_t>(~ZA_FLAG_UTF8_NAME);
}

void ZAAppendCentralEntry(std::string& out, TDirItem& item, bool oemFileNames) {
  if (!item.StoredName) item.SetNewStoredName(oemFileNames);
  TZAZipCentralDir& cd = item.CentralDir;
  const TZAZip64Presence zip64 = TZAZip64Presence::OfCentral(cd);
  const size_t extraLength = (zip64.Any() ? 4u + zip64.DataSize() : 0u) +
                             ZAExtraFieldsSize(item.ExtraFields, /*skipZip64=*/true);
  if (item.StoredName->size() > 0xFFFF)
    throw EZAException(ZA_ERR_FILE_NAME_TOO_LONG, {}, {item.Name});
  if (extraLength > 0xFFFF || item.Comment.size() > 0xFFFF)
    throw EZAException(ZA_ERR_STREAM_WRITE);
  cd.nameLength = static_cast<uint16_t>(item.StoredName->size());
  cd.extraLength = static_cast<uint16_t>(extraLength);
  cd.commentLength = static_cast<uint16_t>(item.Comment.size());

  out.reserve(out.size() + TZAZipCentralDir::Size + cd.nameLength + extraLength +
              cd.commentLength);
  ZAAppendRecord(out, cd);
  out += *item.StoredName;
  // The rebuilt zip64 field takes the place of the entry's own (an entry
  // written back keeps its fields in their order), else it comes first.
  const TZAExtraFields& fields = item.ExtraFields;
  const auto own = std::find_if(fields.begin(), fields.end(),
                                [](const TZAExtraFieldDataBlock& f) { return f.headerID == ZA_EXTRA_ZIP64; });
  if (own == fields.end()) ZAAppendZip64Field(out, zip64, item.Zip64ExtInfo);
  for (auto f = fields.begin(); f != fields.end(); ++f) {
    if (f == own) {
      ZAAppendZip64Field(out, zip64, item.Zip64ExtInfo);
    } else if (f->headerID != ZA_EXTRA_ZIP64) {
      uint8_t head[4];
      ZAPutU16(head, f->headerID);
      ZAPutU16(head + 2, f->dataSize());
      out.append(reinterpret_cast<const char*>(head), sizeof head);
      out.append(reinterpret_cast<const char*>(f->Data.data()), f->Data.size());
    }
  }
  out += item.Comment;
}

// --- TZADirArray -----------------------------------------------------------------

std::string ZANameKey(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c + 32);
    else if (c == '\\')
      c = '/';
  }
  return key;
}

std::string_view ZANamePartKey(std::string_view key) {
  if (!key.empty() && key.back() == '/') key.remove_suffix(1);
  const size_t slash = key.rfind('/');
  if (slash != std::string_view::npos) key.remove_prefix(slash + 1);
  if (!key.empty() && key.back() == '.') key.remove_suffix(1);
  return key;
}

TZADirArray::TZADirArray()
    : namePartIndex_([this](int32_t i) { return ZANamePartKey(itemNamesList_.Strings(i)); },
                     /*foldAZ=*/false) {}

TZADirArray::~TZADirArray() = default;

void TZADirArray::CheckIndex(int index, int code) const {
  if (index < 0 || index >= itemCount_) throw EZAException(code);
}

void TZADirArray::SetCount(int n) {
  if (n < 0) n = 0;
  if (n > allocItemCount_) {
    allocBy_ = std::min(allocBy_ * 2, MaxAllocBy);
    allocItemCount_ = allocItemCount_ + allocBy_ > n ? allocItemCount_ + allocBy_ : n;
    items_.resize(static_cast<size_t>(allocItemCount_));  // new slots are cleared
  } else if (n == 0) {
    std::vector<TDirItem>().swap(items_);
    allocItemCount_ = 0;
    itemNamesList_.Clear();
    namePartIndex_.Release();
  } else if (n < itemCount_) {
    // Dropped slots are cleared and lose their names: a lookup must never
    // find an entry beyond the count.
    for (int i = n; i < itemCount_; ++i) items_[static_cast<size_t>(i)] = TDirItem();
    itemNamesList_.Truncate(n);
    namePartIndex_.Release();
  }
  itemCount_ = n;
}

void TZADirArray::Clear() {
  for (int i = 0; i < itemCount_; ++i) items_[static_cast<size_t>(i)] = TDirItem();
  itemCount_ = 0;
  itemNamesList_.Clear();
  namePartIndex_.Release();
}

// Sets the name-index string of entry `index`: replaced, or appended when the
// entry is the next one the index has not seen. An index with a gap before
// `index` raises `code`.
void TZADirArray::SetIndexedName(int index, const std::string& name, int code) {
  std::string key = ZANameKey(name);
  if (index < itemNamesList_.Count()) {
    namePartIndex_.Erase(index);
    itemNamesList_.Update(index, std::move(key));
  } else if (index == itemNamesList_.Count()) {
    itemNamesList_.Add(std::move(key));
  } else {
    throw EZAException(code);
  }
  namePartIndex_.Insert(index);
}

void TZADirArray::SetItem(int index, const TDirItem& item) {
  CheckIndex(index, 1);
  SetIndexedName(index, item.Name, ZA_ERR_HASHED_LIST_INVALID);
  items_[static_cast<size_t>(index)] = item;
}

TDirItem TZADirArray::GetItem(int index) const {
  CheckIndex(index, 2);
  return items_[static_cast<size_t>(index)];
}

TDirItem* TZADirArray::ItemPtr(int index) {
  CheckIndex(index, 3);
  return &items_[static_cast<size_t>(index)];
}

const TDirItem* TZADirArray::ItemPtr(int index) const {
  CheckIndex(index, 3);
  return &items_[static_cast<size_t>(index)];
}

void TZADirArray::Assign(const TZADirArray& da) {
  if (&da == this) return;
  Clear();
  SetCount(da.Count());
  for (int i = 0; i < da.Count(); ++i) SetItem(i, da.items_[static_cast<size_t>(i)]);
}

void TZADirArray::Append(const TZADirArray& da) {
  const int base = itemCount_;
  const int n = da.Count();
  SetCount(base + n);
  for (int i = 0; i < n; ++i) SetItem(base + i, da.items_[static_cast<size_t>(i)]);
}

void TZADirArray::DeleteItem(int index) {
  CheckIndex(index, 4);
  // The entry's own name string goes, not the one a lookup of its name would
  // find: with duplicate names those differ.
  if (index < itemNamesList_.Count()) {
    namePartIndex_.Erase(index);
    namePartIndex_.ShiftDownAbove(index);
    itemNamesList_.Delete(index);
  }
  auto first = items_.begin() + index;
  auto end = items_.begin() + itemCount_;
  std::move(first + 1, end, first);
  items_[static_cast<size_t>(itemCount_ - 1)] = TDirItem();  // releases an owned stream too
  --itemCount_;
}

void TZADirArray::ClearTags() {
  for (int i = 0; i < itemCount_; ++i) items_[static_cast<size_t>(i)].Tagged = false;
}

bool TZADirArray::FileExists(const std::string& fileName, int& itemNo) {
  itemNo = itemNamesList_.IndexOf(fileName.find('\\') == std::string::npos ? fileName : ZANameKey(fileName));
  return itemNo >= 0;
}

int TZADirArray::FindExactName(const std::string& name) {
  // The name index folds A-Z and the separators, so it only narrows the
  // search.
  int index = -1;
  if (!FileExists(name, index)) return -1;
  if ((*this)[index].Name == name) return index;
  for (int i = Count() - 1; i >= 0; --i)
    if ((*this)[i].Name == name) return i;
  return -1;
}

std::span<const int32_t> TZADirArray::FindByNamePart(std::string_view part) {
  if (!namePartIndex_.Built()) namePartIndex_.Build(itemNamesList_.Count());
  return namePartIndex_.Find(part);
}

void TZADirArray::SetItemName(int index, std::string name) {
  CheckIndex(index, 1);
  SetIndexedName(index, name, 59);
  items_[static_cast<size_t>(index)].Name = std::move(name);
}

// --- TZADirManager ---------------------------------------------------------------

namespace {

TZADirOwner& DefaultOwner() {
  static TZADirOwner owner;
  return owner;
}

}  // namespace

TZADirManager::TZADirManager(platform::TStream* stream, bool bCreate, TZADirOwner* owner)
    : FCompressedStream(stream),
      FCreate(bCreate),
      FArc(owner ? owner : &DefaultOwner()) {
  FIsCustomStream = stream != FArc->ArchiveStream();
  ResetCentralDirEnd();
  if (!bCreate) return;
  FArc->SelectFirstVolume();
  const std::string stubName = FArc->SFXStub();
  if (stubName.empty()) return;
  if (!FCompressedStream) throw EZAException(ZA_ERR_NIL_POINTER, FArc->ComponentName());
  platform::TFileStream stub(stubName, platform::fmOpenRead | platform::fmShareDenyNone);
  const int64_t stubSize = stub.Size();
  const int64_t limit = FArc->FirstVolumeSizeLimit();
  if (limit >= 0 && stubSize > limit)
    throw EZAException(ZA_ERR_SFX_VOLUME_TOO_SMALL, FArc->ComponentName());
  FCompressedStream->SetSize(0);
  FCompressedStream->SetPosition(0);
  stub.SetPosition(0);
  if (stubSize > 0) FCompressedStream->CopyFrom(stub, stubSize);
  StubSize = stubSize;
}

TZADirManager::~TZADirManager() = default;

void TZADirManager::ResetCentralDirEnd() {
  CDir.SetCount(0);
  CentralDirEnd = TZAZipCentralDirEnd();
  CentralDirEnd.signature = FArc->isZIPFormat() ? ZA_SIG_CENTRAL_DIR_END : ZA_SIG_CENTRAL_DIR_END_NZ;
}

bool TZADirManager::IsEncrypted() const {
  return CDir.Count() > 0 && (CDir[0].CentralDir.genPurposeFlag & ZA_FLAG_ENCRYPTED) != 0;
}

bool TZADirManager::IsSFXArchive() const {
  return CDir.Count() > 0 && CDir[0].LocalHeaderOffset() != 0;
}

void TZADirManager::ApplyStubOffset() {
  // Folder entries have local headers too; leaving them unmoved would point
  // them into the stub.
  for (int i = 0; i < CDir.Count(); ++i) CDir[i].MoveLocalHeaderOffset(StubSize);
}

void ZAMarkOverlappingItems(TZADirArray& dir, std::span<const int> which, uint64_t dirStart, bool byVolume) {
  struct TExtent {
    uint32_t volume;
    uint64_t start, end;
    int index;
  };
  std::vector<TExtent> extents;
  extents.reserve(which.size());
  const auto sat = [](uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; };
  bool ordered = true;
  for (const int i : which) {
    const TDirItem& item = dir[i];
    const uint64_t start = item.LocalHeaderOffset();
    // The local header's own name and extra lengths are not known here
    // (reading every header would cost a seek per item on each open), and
    // the entry's may be longer than the record's: measured with them, a
    // sound record that follows one whose local name is shorter would seem
    // to lie over it. The extent is the least the record can span; whatever
    // runs further is caught where the record is read, whose data may not
    // pass DataLimit.
    const TExtent e{byVolume ? item.DiskNumberStart() : 0, start,
                    sat(sat(start, TZALocalFileHeader::Size), item.CompressedSize()), i};
    if (!extents.empty()) {
      const TExtent& a = extents.back();
      ordered = ordered && (a.volume < e.volume || (a.volume == e.volume && a.start < e.start));
    }
    extents.push_back(e);
  }
  // Writers put items in offset order; only odd archives need the sort.
  if (!ordered)
    std::sort(extents.begin(), extents.end(), [](const TExtent& a, const TExtent& b) {
      return a.volume != b.volume ? a.volume < b.volume : a.start != b.start ? a.start < b.start : a.index < b.index;
    });
  uint64_t reach = 0;  // the furthest end of the earlier items of the volume
  for (size_t k = 0; k < extents.size(); ++k) {
    const TExtent& e = extents[k];
    const bool samePrev = k > 0 && extents[k - 1].volume == e.volume;
    const bool sameNext = k + 1 < extents.size() && extents[k + 1].volume == e.volume;
    if (!samePrev) reach = 0;
    const uint64_t limit = sameNext ? extents[k + 1].start : dirStart;
    TDirItem& item = dir[e.index];
    item.DataLimit = limit;
    item.Overlaps = (samePrev && e.start < reach) || e.end > limit;
    reach = std::max(reach, e.end);
  }
}

std::pair<uint64_t, uint64_t> ZALeastExtent(const TDirItem& item) {
  const uint64_t start = item.LocalHeaderOffset(), header = TZALocalFileHeader::Size;
  const uint64_t least = header + std::min(item.CompressedSize(), UINT64_MAX - header);
  const uint64_t room = item.DataLimit > start ? item.DataLimit - start : 0;
  return {start, start + std::min({room, least, UINT64_MAX - start})};
}

void TZADirManager::MarkOverlappingItems() {
  std::vector<int> which;
  which.reserve(static_cast<size_t>(CDir.Count()));
  for (int i = 0; i < CDir.Count(); ++i) {
    TDirItem& item = CDir[i];
    if (!item.NoLocalHeader) {
      which.push_back(i);
      continue;
    }
    item.Overlaps = true;
    item.DataLimit = item.LocalHeaderOffset();
  }
  // In a single file the directory follows the items, and every entry is
  // read at its offset whatever volume it names: entries that name other
  // volumes must not escape being measured against one another (twenty
  // entries on one record, each naming its own volume, would each read it
  // whole). In a volume set the directory's offset says nothing about the
  // items' volumes.
  const bool singleFile = !VolumeLayer().MultiVolume();
  const uint64_t dirStart = singleFile && CentralDirOffset > 0 ? static_cast<uint64_t>(CentralDirOffset) : UINT64_MAX;
  ZAMarkOverlappingItems(CDir, which, dirStart, !singleFile);
}

bool ZAConfirmLocalHeaders(platform::TStream& s, TZADirArray& dir, std::span<const int> which) {
  std::vector<std::pair<uint64_t, int>> byOffset;
  byOffset.reserve(which.size());
  for (const int i : which) byOffset.emplace_back(dir[i].LocalHeaderOffset(), i);
  std::sort(byOffset.begin(), byOffset.end());
  const int64_t saved = s.Position();
  const int64_t size = s.Size();
  bool marked = false;
  for (size_t k = 0; k < byOffset.size();) {
    const uint64_t offset = byOffset[k].first;
    size_t next = k;
    while (next < byOffset.size() && byOffset[next].first == offset) ++next;
    TZALocalFileHeader lh;
    bool header = false;
    if (offset < static_cast<uint64_t>(size)) {
      s.SetPosition(static_cast<int64_t>(offset));
      header = ZAReadRecord(s, lh) && (lh.signature == ZA_SIG_LOCAL_HEADER || lh.signature == ZA_SIG_LOCAL_HEADER_NZ);
    }
    // Of entries sharing a header, the ones it names own it; when it names
    // none of them, none is preferred. The name is read only where an
    // entry's is as long (so no more is read than the directory holds).
    std::string name;
    bool named = false;
    for (size_t j = k; header && next - k > 1 && j < next; ++j) {
      const std::optional<std::string>& stored = dir[byOffset[j].second].StoredName;
      if (!stored || stored->size() != lh.nameLength) continue;
      if (name.size() != lh.nameLength && !ZAReadBytes(s, lh.nameLength, name)) break;
      named = named || *stored == name;
    }
    for (size_t j = k; j < next; ++j) {
      TDirItem& item = dir[byOffset[j].second];
      if (header && !(named && (!item.StoredName || *item.StoredName != name))) continue;
      marked = marked || !item.NoLocalHeader;
      item.NoLocalHeader = true;
    }
    k = next;
  }
  s.SetPosition(saved);
  return marked;
}

bool TZADirManager::ConfirmLocalHeaders() {
  if (FHeadersConfirmed || !FCompressedStream || VolumeLayer().MultiVolume()) return false;
  FHeadersConfirmed = true;
  std::vector<int> all(static_cast<size_t>(CDir.Count()));
  for (int i = 0; i < CDir.Count(); ++i) all[static_cast<size_t>(i)] = i;
  if (!ZAConfirmLocalHeaders(*FCompressedStream, CDir, all)) return false;
  MarkOverlappingItems();
  return true;
}

bool TZADirManager::HasCentralDirEnd() {
  TZAZipCentralDirEnd record;
  int64_t offset = -1;
  const bool found = FindCentralDirEnd(
      record, offset, FArc->isZIPFormat() ? ZA_SIG_CENTRAL_DIR_END : ZA_SIG_CENTRAL_DIR_END_NZ);
  return FArc->OpenCorruptedArchives() || found;
}

void TZADirManager::MergeWith(TZADirManager& other) {
  CDir.ClearTags();
  const int base = CDir.Count();
  CDir.Append(other.CDir);
  for (int i = base; i < CDir.Count(); ++i) {
    TDirItem& item = CDir[i];
    if (!item.Tagged) continue;
    item.Tagged = false;
    item.MoveLocalHeaderOffset(CentralDirOffset);
  }
}

bool TZADirManager::FindCentralDirEnd(TZAZipCentralDirEnd& record, int64_t& offset,
                                      uint32_t signature) {
  offset = -1;
  ArchiveComment.clear();
  record = TZAZipCentralDirEnd();
  if (!FCompressedStream) return false;
  const int64_t size = FCompressedStream->Size();
  const int64_t n = std::min(size, ZA_END_SEARCH_WINDOW);
  if (n < static_cast<int64_t>(TZAZipCentralDirEnd::Size)) return false;
  std::vector<uint8_t> window(static_cast<size_t>(n));
  FCompressedStream->SetPosition(size - n);
  FCompressedStream->ReadBuffer(window.data(), n);

  // A candidate counts only when its comment length reaches exactly the end
  // of the stream, which rejects a signature inside the comment. When two
  // candidates pass, the later one lies inside the earlier one's comment (an
  // archive stored as another's comment): the earlier record is the
  // archive's own, provided it stands behind a directory: the one it
  // describes fits before it and begins with a central entry (or zip64
  // records stand between them). One that does not is a signature inside an
  // item's data whose bytes happen to reach the end, and the record written
  // behind the directory wins over it. Sizes at their sentinel and volume
  // sets are not judged here.
  const auto signatureAt = [&](uint64_t at) {
    uint8_t bytes[4];
    FCompressedStream->SetPosition(static_cast<int64_t>(at));
    return ZAReadFully(*FCompressedStream, bytes, 4) == 4 ? ZAGetU32(bytes) : 0;
  };
  const auto standsBehindDirectory = [&](const uint8_t* p, size_t i) {
    TZAZipCentralDirEnd r;
    r.Load(p);
    if (r.diskNumber != 0 || r.startDiskNumber != 0 || r.centralDirSize == ZA_SENTINEL32 ||
        r.offsetStartDir == ZA_SENTINEL32)
      return true;
    const uint64_t at = static_cast<uint64_t>(size - n) + i;
    if (uint64_t{r.offsetStartDir} + r.centralDirSize > at) return false;
    if (r.centralDirSize == 0 || (at >= 20 && signatureAt(at - 20) == ZA_SIG_ZIP64_LOCATOR)) return true;
    const uint32_t first = signatureAt(at - r.centralDirSize);
    return first == ZA_SIG_CENTRAL_DIR || first == ZA_SIG_CENTRAL_DIR_NZ;
  };
  const size_t last = window.size() - TZAZipCentralDirEnd::Size;
  size_t found = SIZE_MAX;
  for (size_t i = 0; i <= last; ++i) {
    const uint8_t* p = window.data() + i;
    if (ZAGetU32(p) != signature) continue;
    if (ZAGetU16(p + 20) != window.size() - i - TZAZipCentralDirEnd::Size) continue;
    if (found == SIZE_MAX) found = i;
    if (standsBehindDirectory(p, i)) {
      found = i;
      break;
    }
  }
  if (found == SIZE_MAX) return false;
  const uint8_t* p = window.data() + found;
  const size_t following = window.size() - found - TZAZipCentralDirEnd::Size;
  record.Load(p);
  offset = size - n + static_cast<int64_t>(found);
  ArchiveComment.assign(reinterpret_cast<const char*>(p + TZAZipCentralDirEnd::Size), following);
  return true;
}

TZAVolumeLayer& TZADirOwner::Volumes() {
  static TZASingleFileVolumes single;
  return single;
}

TZAVolumeLayer& TZADirManager::VolumeLayer() const {
  static TZASingleFileVolumes single;
  return FIsCustomStream ? single : FArc->Volumes();
}

}  // namespace archiver
