#include "xbase/index/ndx_format.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/Numbers.h"
#include "xbase/base/byte_order.h"
#include "xbase/base/errors.h"
#include "xbase/base/key_sorter.h"
#include "xbase/base/utilities.h"
#include "xbase/index/stored_keys.h"

namespace xbase {

namespace {

constexpr int kBlock = 512;
// Entries start after the 4-byte count; a node's last pointer needs 4 more.
constexpr int kEntriesAt = 4;
constexpr int kExprAt = 24;

int EntryLengthFor(int keyLength) { return (keyLength + 8 + 3) / 4 * 4; }

}  // namespace

// ---------------------------------------------------------------------------
// The tag

XBobjNDXTag::XBobjNDXTag(XBobjNDXFile* owner) : XBobjIndexTag(owner) {
  TagSig_ = "NDX";
  DefaultLen_ = 1;
  TagBlock_ = 0;
  TagName_ = FileBaseName(owner->IndexName()).substr(0, 260);
}

XBobjNDXTag::~XBobjNDXTag() { CloseOnDestroy(); }

void XBobjNDXTag::AdjustValue(TxbVariant& AKey, bool DoTrim) {
  try {
    switch (KeyType_) {
      case 'N':
        if (AKey.TypeVar() != xbvtFloat) AKey.PutFloat(AKey.IsEmpty() ? 0.0 : AKey.GetFloat());
        break;
      case 'D': PutDateKey(AKey); break;
      default:
        if (AKey.TypeVar() != xbvtText) AKey.PutString(AKey.GetString());
        if (DoTrim) AKey.TrimR();
        break;
    }
  } catch (const platform::EConvertError&) {
    // A search key or range limit given as text that is no number or date.
    XBRaise(xbmValueInvalid, {KeyType_ == 'D' ? "Date" : "Number"});
  }
}

bool XBobjNDXTag::IndexTagNew(const AnsiString&, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
                              bool Uniq) {
  // The header cannot record a descending order, and the comparisons here
  // are ascending: a descending tag would be out of order at once.
  if (!Ascnd)
    throw EXBaseError("Index file " + Owner()->GetFileName() + " cannot hold a descending order");
  // Nor a FOR condition: the file reopened without it would take every
  // record from then on, and other programs would read it as covering all.
  if (!TrimBlanks(ForExp).empty())
    throw EXBaseError("Index file " + Owner()->GetFileName() + " cannot hold a FOR condition");
  XBobjIndexTag::IndexTagNew(TagName_, KeyExp, ForExp, Ascnd, Uniq);
  InvertCmpr_ = false;

  KeyFormOfExpression(12, 8);
  if (KeyLength_ < 1 || KeyLength_ > MaxTextKey) XBRaise(xbmSortKeyLength, {MaxTextKey, KeyLength_});
  EntryLength_ = EntryLengthFor(KeyLength_);
  MaxKeys_ = (kBlock - 8) / EntryLength_;

  CheckBuildable();

  const uint8_t zeros[kBlock] = {};
  TagBlock_ = Owner()->GetAvailPage();
  if (!Owner()->PageWrite(TagBlock_, zeros, kBlock)) RaiseCorrupted();
  XBobjIndexOwner* table = Owner()->Owner();
  if (table && table->IndexRecordCount() > 0) {
    DoIndex();
    return true;
  }
  RootBlock_ = Owner()->GetAvailPage();
  if (!Owner()->PageWrite(RootBlock_, zeros, kBlock)) RaiseCorrupted();
  TagChanged_ = true;
  TagStore();
  return true;
}

void XBobjNDXTag::CheckBuildable() {
  XBobjIndexOwner* table = Owner()->Owner();
  if (table && table->IndexRecordCount() > 0 && KeyLength_ + 1 > xbMaxSortKeyLength)
    XBRaise(xbmSortKeyLength, {xbMaxSortKeyLength, KeyLength_ + 1});
}

void XBobjNDXTag::MakeEmpty() {
  TagClose();
  RootBlock_ = 1;
  TagChanged_ = true;
  TagStore();
  const uint8_t zeros[kBlock] = {};
  if (!Owner()->PageWrite(RootBlock_, zeros, kBlock)) RaiseCorrupted();
}

namespace {

// The level buffers of a bulk build: one page image per level of the tree,
// filled from the left, each written out when full (or at the end) with its
// last key passed up to the level above.
class TNdxLevels {
 public:
  static constexpr int kLevels = 31;

  TNdxLevels(XBobjIndexFile& file, int entryLength, int keyBytes, int maxKeys, char keyType)
      : file_(file), el_(entryLength), keyBytes_(keyBytes), max_(maxKeys), text_(keyType == 'C') {}

  // A key in order, with its record.
  void Add(const TxbVariant& key, int rec) {
    uint8_t bytes[kBlock];
    if (text_) {
      PutPaddedKey(bytes, key, keyBytes_);
    } else {
      PutLEDouble(bytes, key.GetFloat());
    }
    Put(0, bytes, static_cast<uint32_t>(rec), true);
    ++keys_;
  }

  // Writes what the levels hold; the root block.
  int Finish() {
    if (keys_ == 0) {
      const uint8_t zeros[kBlock] = {};
      const int root = file_.GetAvailPage();
      Write(root, zeros);
      return root;
    }
    for (int level = 0;; ++level) {
      const int block = file_.GetAvailPage();
      WriteLevel(level, block);
      if (level == top_) return block;
      // The level above already holds entries: this page joins them, and a
      // node may so hold the maximum keys beside its pointer.
      Put(level + 1, LastKey(level), static_cast<uint32_t>(block), false);
    }
  }

 private:
  uint8_t* Entry(int level, int i) { return pages_[level] + kEntriesAt + i * el_; }
  const uint8_t* LastKey(int level) { return Entry(level, count_[level] - 1) + 8; }

  void Put(int level, const uint8_t* key, uint32_t link, bool feeding) {
    if (level >= kLevels) XBRaise(xbmIndexCorrupted, {file_.GetFileName()});
    if (feeding && count_[level] == max_) {
      const int block = file_.GetAvailPage();
      WriteLevel(level, block);
      Put(level + 1, LastKey(level), static_cast<uint32_t>(block), true);
      count_[level] = 0;
    }
    uint8_t* e = Entry(level, count_[level]++);
    PutLE32(e, level == 0 ? 0 : link);
    PutLE32(e + 4, level == 0 ? link : 0);
    std::memcpy(e + 8, key, static_cast<size_t>(text_ ? keyBytes_ : 8));
    top_ = std::max(top_, level);
  }

  // A leaf stores its k entries; a node k - 1 keyed entries and the child
  // of the last one alone.
  void WriteLevel(int level, int block) {
    const int n = count_[level];
    uint8_t out[kBlock] = {};
    const int keyed = level == 0 ? n : n - 1;
    PutLE32(out, static_cast<uint32_t>(keyed));
    std::memcpy(out + kEntriesAt, pages_[level] + kEntriesAt, static_cast<size_t>(keyed * el_));
    if (level > 0) std::memcpy(out + kEntriesAt + keyed * el_, Entry(level, n - 1), 4);
    Write(block, out);
  }

  void Write(int block, const uint8_t* bytes) {
    if (!file_.PageWrite(block, bytes, kBlock)) XBRaise(xbmIndexCorrupted, {file_.GetFileName()});
  }

  XBobjIndexFile& file_;
  const int el_, keyBytes_, max_;
  const bool text_;
  // One spare entry: a node of the last pass may hold the maximum keys
  // and its pointer.
  uint8_t pages_[kLevels][kBlock + kBlock] = {};
  int count_[kLevels] = {};
  int top_ = 0;
  int64_t keys_ = 0;
};

}  // namespace

void XBobjNDXTag::DoIndex() {
  XBobjIndexFile* file = Owner();
  XBobjIndexOwner* table = file->Owner();
  TNdxLevels tree(*file, EntryLength_, StoredKeyLength(), MaxKeys_, KeyType_);
  if (table && table->IndexRecordCount() > 0) {
    TxbSort sorter(KeyLength_ + 1, UniqueKey_, AscendKey_, nullptr, file->SortBudget(), table->IndexTempDir());
    XBobjIndexKeyData key(KeyLength_ + 1);
    ForEachRecordKey(key, [&](const XBobjIndexKeyData&, int rec) {
      if (KeyType_ == 'C' && key.SizeVar() > KeyLength_) key.Reserve(xbvtText, KeyLength_, KeyLength_);
      sorter.AddKey(key, rec);
    });
    int32_t rec;
    for (bool more = sorter.GetFirstKey(key, rec); more; more = sorter.GetNextKey(key, rec)) tree.Add(key, rec);
  }
  RootBlock_ = tree.Finish();
  TagChanged_ = true;
  TagStore();
}

bool XBobjNDXTag::KeyAdd(XBobjIndexKeyData& Key) {
  if (MaxKeys_ < 2) XBRaise(xbmSortKeyLength, {MaxTextKey, KeyLength_});
  if (KeyType_ == 'C' && Key.TypeVar() == xbvtText && Key.SizeVar() > KeyLength_)
    Key.Reserve(xbvtText, KeyLength_, KeyLength_);
  const int xtra = Key.Xtra;
  Key.Xtra = 0;
  try {
    const bool added = XBobjIndexTag::KeyAdd(Key);
    Key.Xtra = xtra;
    return added;
  } catch (...) {
    Key.Xtra = xtra;
    throw;
  }
}

int XBobjNDXTag::GetTagRoot() {
  uint8_t h[kBlock];
  if (!Owner()->PageRead(TagBlock_, h, kBlock)) return RootBlock_;
  return static_cast<int>(GetLE32(h));
}

void XBobjNDXTag::TagLoad() {
  uint8_t h[kBlock];
  if (!Owner()->PageRead(TagBlock_, h, kBlock)) RaiseCorrupted();
  const uint32_t root = GetLE32(h);
  const int keyLength = GetLE16(h + 12);
  const int maxKeys = GetLE16(h + 14);
  const bool numeric = GetLE16(h + 16) != 0;
  const int entryLength = GetLE16(h + 18);
  // Checked before anything is read by them: a page must hold its entries,
  // a key must fit its entry (a number needs 8 bytes), and the root must be
  // a block of the file other than the header.
  const int64_t blocks = Owner()->FileSize() / kBlock;
  if (entryLength < 12 || entryLength > kBlock - 8 || keyLength < 1 || keyLength > entryLength - 8 ||
      (numeric && entryLength < 16) || maxKeys < 1 || root < 1 || root >= blocks)
    RaiseCorrupted();
  EntryLength_ = entryLength;
  MaxKeys_ = std::min(maxKeys, (kBlock - 8) / entryLength);
  RootBlock_ = static_cast<int>(root);
  UniqueKey_ = h[23] != 0;
  AscendKey_ = true;
  const uint8_t* expr = h + kExprAt;
  KeyExpr_.assign(reinterpret_cast<const char*>(expr),
                  strnlen(reinterpret_cast<const char*>(expr), static_cast<size_t>(kBlock - kExprAt)));
  PostTagExpression();

  // The header does not say whether a numeric key is a number or a date:
  // the key expression does.
  KeyType_ = numeric ? 'N' : 'C';
  TxbVariant sample(256);
  if (const char type = SampledKeyType(sample)) {
    if ((type != 'C') != numeric) RaiseCorrupted();
    KeyType_ = type;
  }
  KeyLength_ = KeyType_ == 'N' ? 12 : KeyType_ == 'D' ? 8 : keyLength;
  TagChanged_ = false;
}

void XBobjNDXTag::TagStore() {
  if (!TagChanged_) return;
  XBobjIndexFile* file = Owner();
  if (file->NextAvail() == -1) file->ResetAvailPage();
  uint8_t h[kBlock] = {};
  PutLE32(h, static_cast<uint32_t>(RootBlock_));
  PutLE32(h + 4, static_cast<uint32_t>(file->NextAvail()));
  PutLE16(h + 12, static_cast<uint16_t>(StoredKeyLength()));
  PutLE16(h + 14, static_cast<uint16_t>(MaxKeys_));
  PutLE16(h + 16, KeyType_ == 'C' ? 0 : 1);
  PutLE16(h + 18, static_cast<uint16_t>(EntryLength_));
  h[23] = UniqueKey_ ? 1 : 0;
  const size_t n = std::min(KeyExpr_.size(), static_cast<size_t>(kBlock - kExprAt - 1));
  std::memcpy(h + kExprAt, KeyExpr_.data(), n);
  if (!file->PageWrite(TagBlock_, h, kBlock)) RaiseCorrupted();
  TagChanged_ = false;
}

void XBobjNDXTag::PageLoad(int PN, XBobjIndexKey& PIK) {
  const uint8_t* b = PN < 1 ? nullptr : Owner()->PageView(int64_t{PN} * kBlock, kBlock);
  if (!b) RaiseCorrupted();
  const int k = GetLE16(b);
  const int el = EntryLength_;
  const bool node = GetLE32(b + kEntriesAt) != 0;
  if (k > MaxKeys_ || kEntriesAt + k * el + (node ? 4 : 0) > kBlock) RaiseCorrupted();
  PIK.Page = PN;
  PIK.IsRoot = PN == RootBlock_;
  PIK.PageType = node ? (PIK.IsRoot ? XBsetPageType::Root : XBsetPageType::Node)
                      : (PIK.IsRoot ? XBsetPageType::RootLeaf : XBsetPageType::Leaf);
  const int keyBytes = StoredKeyLength();
  for (int i = 0; i < k; ++i) {
    const uint8_t* entry = b + kEntriesAt + i * el;
    const uint32_t child = GetLE32(entry);
    if (node && child == 0) RaiseCorrupted();
    XBobjIndexKeyData* e = PIK.AppendEntry();
    e->Tag = static_cast<int>(node ? child : GetLE32(entry + 4));
    const uint8_t* key = entry + 8;
    if (KeyType_ == 'C') {
      const int n = TrimmedLength(key, keyBytes);
      uint8_t* to = e->Reserve(xbvtText, n);
      if (n > 0) std::memcpy(to, key, static_cast<size_t>(n));  // a blank key is empty
    } else {
      e->PutFloat(GetLEDouble(key));
    }
  }
  if (node) {
    const uint32_t child = GetLE32(b + kEntriesAt + k * el);
    if (child == 0) RaiseCorrupted();
    XBobjIndexKeyData* e = PIK.AppendEntry();
    e->Tag = static_cast<int>(child);
    if (KeyType_ == 'C') {
      e->PutString("\xFF");
    } else {
      e->PutFloat(kSentinelNumber);
    }
  }
}

bool XBobjNDXTag::DecodesPagesAlone() const { return true; }

void XBobjNDXTag::PageStore(XBobjIndexKey& PIK) {
  const int n = PIK.Count();
  if (n > MaxKeys_) SplitOff(PIK, (n + 1) / 2, Owner()->GetAvailPage());
  StorePiece(PIK);
}

void XBobjNDXTag::PageWriteImage(XBobjIndexKey& PIK) {
  uint8_t b[kBlock] = {};
  const int n = PIK.Count();
  const bool node = !PIK.IsLeaf() && n > 0;
  const int keyed = node ? n - 1 : n;
  const int el = EntryLength_;
  const int keyBytes = StoredKeyLength();
  if (kEntriesAt + keyed * el + (node ? 4 : 0) > kBlock) RaiseCorrupted();
  PutLE32(b, static_cast<uint32_t>(keyed));
  for (int i = 0; i < keyed; ++i) {
    uint8_t* entry = b + kEntriesAt + i * el;
    const XBobjIndexKeyData& e = *PIK.Items(i);
    PutLE32(entry + (node ? 0 : 4), static_cast<uint32_t>(e.Tag));
    uint8_t* key = entry + 8;
    if (KeyType_ == 'C') {
      PutPaddedKey(key, e, keyBytes);
    } else {
      PutLEDouble(key, e.GetFloat());
    }
  }
  if (node) PutLE32(b + kEntriesAt + keyed * el, static_cast<uint32_t>(PIK.Items(n - 1)->Tag));
  if (!Owner()->PageWrite(PIK.Page, b, kBlock)) RaiseCorrupted();
}

// ---------------------------------------------------------------------------
// The file

XBobjNDXFile::XBobjNDXFile(XBobjIndexOwner* PDB, const std::string& FN, bool ReadWrite, bool Shared, bool Create,
                           bool Overwrite)
    : XBobjIndexFile(PDB) {
  SetCachePage(kBlock);
  if (!IndexFileOpen(FN, ".ndx", ReadWrite, Shared, Create, Overwrite)) return;
  if (FileCreated()) {
    NextAvail_ = 0;
  } else {
    AddLoadedTag(std::make_unique<XBobjNDXTag>(this));
    ResetAvailPage();
  }
  CreateOK_ = true;
}

XBobjNDXFile::~XBobjNDXFile() { WriteOutOnDestroy(); }

XBobjNDXTag* XBobjNDXFile::Tag() const { return static_cast<XBobjNDXTag*>(TagByNumber(0)); }

bool XBobjNDXFile::AddTag(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
                          bool Uniq) {
  return ReplaceOnlyTag(std::make_unique<XBobjNDXTag>(this))->IndexTagNew(ITN, KeyExp, ForExp, Ascnd, Uniq);
}

int XBobjNDXFile::GetAvailPage() {
  const int block = TakeAvail(1, INT_MAX);
  // The header states the next free block: keep it true for other readers.
  if (XBobjIndexTag* tag = TagByNumber(0)) tag->SetTagChanged();
  return block;
}

void XBobjNDXFile::ResetAvailPage() {
  NextAvail_ = static_cast<int>(std::max<int64_t>(FileSize() / kBlock, HighWater_));
}

void XBobjNDXFile::Reload() {
  if (XBobjNDXTag* tag = Tag()) tag->TagLoad();
}

void XBobjNDXFile::Zap() {
  if (!DiskFile() || !Tag()) return;
  TWholeFileLock lock(*this);
  ZapLocked();
}

void XBobjNDXFile::ZapLocked() {
  XBobjNDXTag* tag = Tag();
  tag->TagClose();
  DiscardCache();
  DiskFile()->xbTruncate(2 * kBlock);
  NextAvail_ = 2;
  HighWater_ = 2;
  tag->MakeEmpty();
}

void XBobjNDXFile::Reindex() {
  XBobjNDXTag* tag = Tag();
  if (!DiskFile() || !tag) return;
  tag->CheckBuildable();
  TWholeFileLock lock(*this);
  ZapLocked();
  NextAvail_ = 1;
  HighWater_ = 1;
  tag->DoIndex();
}

bool XBobjNDXFile::PageRead(int64_t Blok, uint8_t* Page, int Size) {
  return XBobjIndexFile::PageRead(Blok * kBlock, Page, Size);
}

bool XBobjNDXFile::PageWrite(int64_t Blok, const uint8_t* Page, int Size) {
  return XBobjIndexFile::PageWrite(Blok * kBlock, Page, Size);
}

}  // namespace xbase
