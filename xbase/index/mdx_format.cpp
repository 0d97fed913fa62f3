#include "xbase/index/mdx_format.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "platform/CodePage.h"
#include "platform/Numbers.h"
#include "xbase/base/byte_order.h"
#include "xbase/base/dates.h"
#include "xbase/base/errors.h"
#include "xbase/base/utilities.h"
#include "xbase/index/stored_keys.h"

namespace xbase {

namespace {

constexpr int kBlock = XBobjMDXFile::Block;
constexpr int kFirstPageBlock = XBobjMDXFile::HeaderArea / kBlock;
constexpr int kEntriesAt = 8;
constexpr int kTagTableAt = 512;
constexpr int kTagEntry = 32;
constexpr int kTagNameField = 11;
constexpr int kKeyExprAt = 24;
constexpr int kForFlagAt = 245;
constexpr int kForExprAt = 762;
constexpr int kNumberKey = 12;
constexpr int kDateKey = 8;
constexpr int kDigitBytes = kNumberKey - 2;
constexpr int kSignificant = 15;
constexpr uint8_t kOptionBase = 0x10, kOptionDescending = 0x08, kOptionUnique = 0x40;

int EntryLengthFor(int keyLength) { return (keyLength + 4 + 3) / 4 * 4; }

// The text of a zero-terminated field of `n` bytes; false without the
// zero.
bool GetTerminated(const uint8_t* field, int n, AnsiString& text) {
  const void* end = n > 0 ? std::memchr(field, 0, static_cast<size_t>(n)) : nullptr;
  if (!end) return false;
  text.assign(reinterpret_cast<const char*>(field), static_cast<size_t>(static_cast<const uint8_t*>(end) - field));
  return true;
}

// `text` into a field of `n` bytes, zero-filled (at most n - 1 bytes kept).
void PutTerminated(uint8_t* field, int n, const AnsiString& text) {
  std::memset(field, 0, static_cast<size_t>(n));
  std::memcpy(field, text.data(), std::min(text.size(), static_cast<size_t>(n - 1)));
}

// A tag name as the table lists it: upper case, blanks around it dropped,
// at most 10 characters.
AnsiString TagNameOf(const AnsiString& name) {
  const size_t from = name.find_first_not_of(' ');
  if (from == AnsiString::npos) return {};
  const AnsiString trimmed = name.substr(from, name.find_last_not_of(' ') + 1 - from);
  return platform::AnsiUpperCase(trimmed.substr(0, kTagNameField - 1));
}

}  // namespace

// ---------------------------------------------------------------------------
// Packed decimals

void MdxPackDecimal(double value, uint8_t* out) {
  std::memset(out, 0, kNumberKey);
  out[0] = 52;
  out[1] = 1;
  if (std::isnan(value) || value == 0) return;
  const bool negative = value < 0;
  char digits[kSignificant + 1];
  int n = kSignificant, exponent;
  const double a = std::fabs(value);
  if (std::isinf(a)) {
    std::memset(digits, '9', kSignificant);
    exponent = 203;
  } else {
    // d.dddddddddddddde+x: the value is 0.d... * 10^(x + 1).
    char buf[48];
    const auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, kSignificant - 1);
    const char* e = std::find(buf, r.ptr, 'e');
    digits[0] = buf[0];
    std::memcpy(digits + 1, buf + 2, kSignificant - 1);
    int x = 0;
    std::from_chars(e + 1 + (e[1] == '+'), r.ptr, x);
    exponent = x + 1;
    if (exponent < -52) return;  // below what the exponent byte shows: zero
    if (exponent > 203) {
      std::memset(digits, '9', kSignificant);
      exponent = 203;
    }
  }
  while (n > 0 && digits[n - 1] == '0') --n;
  out[0] = static_cast<uint8_t>(52 + exponent);
  for (int i = 0; i < n; ++i) out[2 + i / 2] |= static_cast<uint8_t>((digits[i] - '0') << (i % 2 == 0 ? 4 : 0));
  const int bytes = (n + 1) / 2;
  out[1] = static_cast<uint8_t>(bytes * 2 * 4 + 1 + (negative ? 0x80 : 0));
}

bool MdxUnpackDecimal(const uint8_t* in, double& value) {
  const int positions = (in[1] & 0x7F) >> 2;
  if (positions > 2 * kDigitBytes) return false;
  char buf[48] = "0.";
  int at = 2;
  uint64_t whole = 0;
  int digits = 0;  // in `whole`, trailing zeros left out
  for (int i = 0; i < positions; ++i) {
    const int d = (in[2 + i / 2] >> (i % 2 == 0 ? 4 : 0)) & 15;
    if (d > 9) return false;
    buf[at++] = static_cast<char>('0' + d);
  }
  while (at > 2 && buf[at - 1] == '0') --at;
  if (at == 2) {
    value = 0;
    return true;
  }
  // The value is whole * 10^scale. While both are exact doubles (at most
  // 15 digits, |scale| at most 22), one multiplication or division rounds
  // as reading the text would; the text is read otherwise.
  static constexpr double kTens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                     1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  for (int i = 2; i < at; ++i, ++digits) whole = whole * 10 + static_cast<uint64_t>(buf[i] - '0');
  const int scale = static_cast<int>(in[0]) - 52 - digits;
  if (digits <= 15 && scale >= -22 && scale <= 22) {
    const double w = static_cast<double>(whole);
    const double v = scale >= 0 ? w * kTens[scale] : w / kTens[-scale];
    value = (in[1] & 0x80) ? -v : v;
    return true;
  }
  buf[at++] = 'e';
  const auto r = std::to_chars(buf + at, buf + sizeof buf, static_cast<int>(in[0]) - 52);
  double v = 0;
  if (std::from_chars(buf, r.ptr, v).ec != std::errc()) return false;
  value = (in[1] & 0x80) ? -v : v;
  return true;
}

// ---------------------------------------------------------------------------
// The sorter

XBobjSortMDX::XBobjSortMDX(char keyType, int keyLength, bool unique, bool ascending, size_t memoryBudget,
                           const std::string& tempDir)
    : TxbSort(keyType == 'C' ? keyLength : 8, unique, true, nullptr, memoryBudget, tempDir),
      text_(keyType == 'C'),
      keyLength_(keyLength),
      descending_(!ascending),
      bytes_(static_cast<size_t>(keyLength)),
      work_(keyLength + 8) {}

void XBobjSortMDX::AddMdxKey(const TxbVariant& key, int rec) {
  if (text_) {
    // Blank-padded bytes, as the keys compare.
    PutSortForm(key, descending_, bytes_);
    AddForm(bytes_.data(), bytes_.size(), rec);
    return;
  }
  // Numbers and dates: descending is the ascending order of the negated
  // value.
  const double v = key.GetFloat();
  work_.PutFloat(descending_ ? -v : v);
  AddKey(work_, rec);
}

bool XBobjSortMDX::NextMdxKey(TxbVariant& key, int& rec) {
  int32_t tag;
  if (!text_) {
    if (!GetNextKey(work_, tag)) return false;
    rec = tag;
    const double v = work_.GetFloat();
    key.PutFloat(descending_ ? -v : v);
    return true;
  }
  const uint8_t* form;
  size_t formLength;
  if (!GetNextForm(form, formLength, tag)) return false;
  rec = tag;
  const uint8_t* stored = StoredOfSortForm(form, descending_, bytes_);
  const int n = TrimmedLength(stored, keyLength_);
  uint8_t* p = key.Reserve(xbvtText, n);
  if (n > 0) std::memcpy(p, stored, static_cast<size_t>(n));
  return true;
}

// ---------------------------------------------------------------------------
// The tag

XBobjMDXTag::XBobjMDXTag(XBobjMDXFile* owner, const AnsiString& name, int block) : XBobjIndexTag(owner) {
  TagSig_ = "MDX";
  DefaultLen_ = 1;
  TagBlock_ = block;
  TagName_ = name;
}

XBobjMDXTag::~XBobjMDXTag() { CloseOnDestroy(); }

XBobjMDXFile* XBobjMDXTag::File() const { return static_cast<XBobjMDXFile*>(Owner()); }

void XBobjMDXTag::AdjustValue(TxbVariant& AKey, bool DoTrim) {
  try {
    switch (KeyType_) {
      case 'N': {
        double v = AKey.IsEmpty() ? 0.0 : AKey.GetFloat();
        uint8_t packed[kNumberKey];
        MdxPackDecimal(v, packed);
        MdxUnpackDecimal(packed, v);
        AKey.PutFloat(v);
        break;
      }
      case 'D': PutDateKey(AKey); break;
      default:
        if (AKey.TypeVar() != xbvtText) AKey.PutString(AKey.GetString());
        if (AKey.SizeVar() > KeyLength_ && KeyLength_ > 0) AKey.Reserve(xbvtText, KeyLength_, KeyLength_);
        if (DoTrim) AKey.TrimR();
        break;
    }
  } catch (const platform::EConvertError&) {
    // A search key or range limit given as text that is no number or date.
    XBRaise(xbmValueInvalid, {KeyType_ == 'D' ? "Date" : "Number"});
  }
}

void XBobjMDXTag::SetKeyForm() {
  KeyFormOfExpression(kNumberKey, kDateKey);
  // A build sorts key length + 1 bytes; longer keys would also leave pages
  // of fewer than three keys.
  if (KeyLength_ < 1 || KeyLength_ > MaxTextKey) XBRaise(xbmSortKeyLength, {MaxTextKey, KeyLength_});
  EntryLength_ = EntryLengthFor(KeyLength_);
  MaxKeys_ = (File()->PageSize() - kEntriesAt) / EntryLength_ - 1;
}

bool XBobjMDXTag::IndexTagNew(const AnsiString&, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
                              bool Uniq) {
  XBobjIndexTag::IndexTagNew(TagName_, KeyExp, ForExp, Ascnd, Uniq);
  InvertCmpr_ = !Ascnd;
  SetKeyForm();
  Rebuild();
  return true;
}

void XBobjMDXTag::Rebuild() {
  TagClose();
  TagBlock_ = Owner()->GetAvailPage();
  std::vector<uint8_t> zeros(static_cast<size_t>(File()->PageSize()));
  if (!Owner()->PageWrite(TagBlock_, zeros.data(), File()->PageSize())) RaiseCorrupted();
  FirstPage_ = LastPage_ = 0;
  DoIndex();
}

void XBobjMDXTag::StoreKey(const TxbVariant& e, uint8_t* p) const {
  switch (KeyType_) {
    case 'N': MdxPackDecimal(e.GetFloat(), p); break;
    case 'D': PutLEDouble(p, e.GetFloat()); break;
    default: PutPaddedKey(p, e, KeyLength_);
  }
}

bool XBobjMDXTag::LoadKey(const uint8_t* p, XBobjIndexKeyData& e) const {
  switch (KeyType_) {
    case 'N': {
      double v;
      if (!MdxUnpackDecimal(p, v)) return false;
      e.PutFloat(v);
      return true;
    }
    case 'D': e.PutFloat(GetLEDouble(p)); return true;
    default: {
      const int n = TrimmedLength(p, KeyLength_);
      uint8_t* key = e.Reserve(xbvtText, n);
      if (n > 0) std::memcpy(key, p, static_cast<size_t>(n));
      return true;
    }
  }
}

void XBobjMDXTag::PutSentinel(XBobjIndexKeyData& e) const {
  if (KeyType_ == 'C') {
    e.PutString(AscendKey_ ? "\xFF" : "");
  } else {
    e.PutFloat(AscendKey_ ? kSentinelNumber : -kSentinelNumber);
  }
}

namespace {

// The level buffers of a bulk build: one page image per level, filled from
// the left; a full level is written when the next entry comes and its last
// key goes up as the level above's entry; at the end each level is written
// and its last key joins the level above without the full rule, so that no
// node is written without a key.
class TMdxLevels {
 public:
  static constexpr int kLevels = 32;

  TMdxLevels(XBobjMDXTag& tag, XBobjIndexFile& file, int pageSize, int entry, int keyLength, int maxKeys)
      : tag_(tag), file_(file), page_(pageSize), el_(entry), keyLength_(keyLength), max_(maxKeys) {}

  void Add(const TxbVariant& key, int rec) {
    std::vector<uint8_t>& k = key_;
    k.assign(static_cast<size_t>(keyLength_), 0);
    tag_.StoreKey(key, k.data());
    Put(0, k.data(), static_cast<uint32_t>(rec), true);
    ++keys_;
  }

  // Writes what the levels hold; the root block. `first` gets the first
  // page written.
  int Finish(int& first) {
    if (keys_ == 0) {
      std::vector<uint8_t> empty(static_cast<size_t>(page_));
      const int root = Write(empty.data());
      first = first_;
      return root;
    }
    for (int level = 0;; ++level) {
      const std::vector<uint8_t> last(LastKey(level), LastKey(level) + keyLength_);
      const int block = WriteLevel(level);
      if (level == top_) {
        first = first_;
        return block;
      }
      Put(level + 1, last.data(), static_cast<uint32_t>(block), false);
    }
  }

 private:
  uint8_t* Entry(int level, int i) { return pages_[level].data() + kEntriesAt + i * el_; }
  const uint8_t* LastKey(int level) { return Entry(level, count_[level] - 1) + 4; }

  void Put(int level, const uint8_t* key, uint32_t link, bool feeding) {
    if (level >= kLevels) throw EXBaseError("An index tree deeper than 32 levels cannot be built");
    if (pages_[level].empty()) pages_[level].assign(static_cast<size_t>(page_ + el_), 0);
    if (feeding && count_[level] == max_) {
      const std::vector<uint8_t> last(LastKey(level), LastKey(level) + keyLength_);
      const int block = WriteLevel(level);
      Put(level + 1, last.data(), static_cast<uint32_t>(block), true);
    }
    uint8_t* e = Entry(level, count_[level]++);
    PutLE32(e, link);
    std::memcpy(e + 4, key, static_cast<size_t>(keyLength_));
    top_ = std::max(top_, level);
  }

  // A leaf stores its entries; a node one key fewer and the child of its
  // last entry alone.
  int WriteLevel(int level) {
    const int n = count_[level];
    std::vector<uint8_t>& out = out_;
    out.assign(static_cast<size_t>(page_), 0);
    const int keys = level == 0 ? n : n - 1;
    PutLE32(out.data(), static_cast<uint32_t>(keys));
    std::memcpy(out.data() + kEntriesAt, Entry(level, 0), static_cast<size_t>(keys * el_));
    if (level > 0) std::memcpy(out.data() + kEntriesAt + keys * el_, Entry(level, n - 1), 4);
    count_[level] = 0;
    return Write(out.data());
  }

  int Write(const uint8_t* page) {
    const int block = file_.GetAvailPage();
    if (first_ == 0) first_ = block;
    if (!file_.PageWrite(block, page, page_)) XBRaise(xbmIndexCorrupted, {file_.GetFileName()});
    return block;
  }

  XBobjMDXTag& tag_;
  XBobjIndexFile& file_;
  const int page_, el_, keyLength_, max_;
  // One spare entry: a node of the last pass may hold the maximum keys and
  // its pointer.
  std::vector<uint8_t> pages_[kLevels];
  int count_[kLevels] = {};
  int top_ = 0;
  int first_ = 0;
  int64_t keys_ = 0;
  std::vector<uint8_t> key_, out_;
};

}  // namespace

void XBobjMDXTag::DoIndex() {
  XBobjMDXFile* file = File();
  XBobjIndexOwner* table = file->Owner();
  TMdxLevels tree(*this, *file, file->PageSize(), EntryLength_, KeyLength_, MaxKeys_);
  if (table && table->IndexRecordCount() > 0) {
    XBobjSortMDX sorter(KeyType_, KeyLength_, UniqueKey_, AscendKey_, file->SortBudget(), table->IndexTempDir());
    XBobjIndexKeyData key(KeyLength_ + 8);
    ForEachRecordKey(key, [&](const XBobjIndexKeyData& k, int rec) { sorter.AddMdxKey(k, rec); });
    int rec;
    while (sorter.NextMdxKey(key, rec)) tree.Add(key, rec);
  }
  int first = 0;
  RootBlock_ = tree.Finish(first);
  FirstPage_ = first;
  LastPage_ = RootBlock_;
  TagChanged_ = true;
  TagStore();
}

bool XBobjMDXTag::KeyAdd(XBobjIndexKeyData& Key) {
  if (KeyType_ == 'C' && Key.TypeVar() == xbvtText && Key.SizeVar() > KeyLength_)
    Key.Reserve(xbvtText, KeyLength_, KeyLength_);
  return XBobjIndexTag::KeyAdd(Key);
}

int XBobjMDXTag::GetTagRoot() {
  std::vector<uint8_t> h(static_cast<size_t>(File()->PageSize()));
  if (!Owner()->PageRead(TagBlock_, h.data(), File()->PageSize())) return RootBlock_;
  return static_cast<int>(std::min<uint32_t>(GetLE32(h.data()), INT_MAX));
}

void XBobjMDXTag::TagLoad() {
  const int page = File()->PageSize();
  std::vector<uint8_t> buf(static_cast<size_t>(page));
  uint8_t* h = buf.data();
  if (!Owner()->PageRead(TagBlock_, h, page)) RaiseCorrupted();
  const uint32_t root = GetLE32(h);
  const char type = static_cast<char>(h[9]);
  const int keyLength = GetLE16(h + 12);
  const int maxKeys = GetLE16(h + 14);
  const int entryLength = GetLE16(h + 18);
  const int64_t blocks = Owner()->FileSize() / kBlock;
  AnsiString keyExpr, forExpr;
  const bool conditional = h[kForFlagAt] != 0;
  // Checked before anything is read by them: a full node's pointer lies in
  // the page, and the root is a page of the file past its header area.
  if ((type != 'C' && type != 'N' && type != 'D') || (type == 'N' && keyLength != kNumberKey) ||
      (type == 'D' && keyLength != kDateKey) || keyLength < 1 || entryLength != EntryLengthFor(keyLength) ||
      maxKeys < 1 || kEntriesAt + maxKeys * entryLength + 4 > page || root < kFirstPageBlock ||
      int64_t{root} + page / kBlock > blocks || !GetTerminated(h + kKeyExprAt, kForFlagAt - kKeyExprAt, keyExpr) ||
      (conditional && !GetTerminated(h + kForExprAt, page - kForExprAt, forExpr)))
    RaiseCorrupted();
  RootBlock_ = static_cast<int>(root);
  KeyType_ = type;
  KeyLength_ = keyLength;
  EntryLength_ = entryLength;
  MaxKeys_ = maxKeys;
  UniqueKey_ = (h[8] & kOptionUnique) != 0 || h[23] != 0;
  AscendKey_ = (h[8] & kOptionDescending) == 0;
  InvertCmpr_ = !AscendKey_;
  FirstPage_ = static_cast<int>(std::min<uint32_t>(GetLE32(h + 248), INT_MAX));
  LastPage_ = static_cast<int>(std::min<uint32_t>(GetLE32(h + 252), INT_MAX));
  SetExpressions(keyExpr, forExpr);
  TxbVariant sample(256);
  const char sampled = SampledKeyType(sample);
  if (sampled && sampled != type) RaiseCorrupted();
  TagChanged_ = false;
}

void XBobjMDXTag::TagStore() {
  if (TagChanged_) {
    const int page = File()->PageSize();
    std::vector<uint8_t> buf(static_cast<size_t>(page));
    uint8_t* h = buf.data();
    // Bytes of other writers stay as they are.
    if (!Owner()->PageRead(TagBlock_, h, page)) std::fill(buf.begin(), buf.end(), 0);
    PutLE32(h, static_cast<uint32_t>(RootBlock_));
    h[8] = static_cast<uint8_t>(kOptionBase | (UniqueKey_ ? kOptionUnique : 0) | (AscendKey_ ? 0 : kOptionDescending));
    h[9] = static_cast<uint8_t>(KeyType_);
    PutLE16(h + 12, static_cast<uint16_t>(KeyLength_));
    PutLE16(h + 14, static_cast<uint16_t>(MaxKeys_));
    PutLE16(h + 18, static_cast<uint16_t>(EntryLength_));
    h[23] = UniqueKey_ ? kOptionUnique : 0;
    PutTerminated(h + kKeyExprAt, kForFlagAt - kKeyExprAt, KeyExpr_);
    h[kForFlagAt] = Conditional_ ? 1 : 0;
    h[kForFlagAt + 1] = 1;
    PutLE32(h + 248, static_cast<uint32_t>(FirstPage_));
    PutLE32(h + 252, static_cast<uint32_t>(LastPage_));
    PutTerminated(h + kForExprAt, page - kForExprAt, Conditional_ ? ForExpr_ : AnsiString());
    if (!Owner()->PageWrite(TagBlock_, h, page)) RaiseCorrupted();
    TagChanged_ = false;
  }
  File()->StoreHeaderIfChanged();
}

void XBobjMDXTag::PageLoad(int PN, XBobjIndexKey& PIK) {
  const int page = File()->PageSize();
  const uint8_t* b = PN >= kFirstPageBlock ? Owner()->PageView(int64_t{PN} * kBlock, page) : nullptr;
  if (!b) RaiseCorrupted();
  const uint32_t k = GetLE32(b);
  if (k > static_cast<uint32_t>(MaxKeys_)) RaiseCorrupted();
  const int el = EntryLength_;
  const int n = static_cast<int>(k);
  const bool node = GetLE32(b + kEntriesAt + n * el) != 0;
  PIK.Page = PN;
  PIK.Left = static_cast<int>(GetLE32(b + 4));
  PIK.IsRoot = PN == RootBlock_;
  PIK.PageType = node ? (PIK.IsRoot ? XBsetPageType::Root : XBsetPageType::Node)
                      : (PIK.IsRoot ? XBsetPageType::RootLeaf : XBsetPageType::Leaf);
  auto link = [&](const uint8_t* e) {
    const uint32_t v = GetLE32(e);
    if (node && (v < static_cast<uint32_t>(kFirstPageBlock) || v > INT_MAX)) RaiseCorrupted();
    return static_cast<int>(v);
  };
  for (int i = 0; i < n; ++i) {
    const uint8_t* entry = b + kEntriesAt + i * el;
    XBobjIndexKeyData* e = PIK.AppendEntry();
    e->Tag = link(entry);
    if (!LoadKey(entry + 4, *e)) RaiseCorrupted();
  }
  if (node) {
    XBobjIndexKeyData* e = PIK.AppendEntry();
    e->Tag = link(b + kEntriesAt + n * el);
    PutSentinel(*e);
  }
}

void XBobjMDXTag::PageStore(XBobjIndexKey& PIK) {
  const int n = PIK.Count();
  if (n > MaxKeys_ + (PIK.IsLeaf() ? 0 : 1)) {
    LastPage_ = Owner()->GetAvailPage();
    if (FirstPage_ == 0) FirstPage_ = LastPage_;
    TagChanged_ = true;
    SplitOff(PIK, (n + 1) / 2, LastPage_);
  }
  StorePiece(PIK);
}

void XBobjMDXTag::PageWriteImage(XBobjIndexKey& PIK) {
  const int page = File()->PageSize();
  std::vector<uint8_t> buf(static_cast<size_t>(page));
  uint8_t* b = buf.data();
  const int n = PIK.Count();
  const bool node = !PIK.IsLeaf() && n > 0;
  const int keys = node ? n - 1 : n;
  const int el = EntryLength_;
  if (kEntriesAt + keys * el + (node ? 4 : 0) > page) RaiseCorrupted();
  PutLE32(b, static_cast<uint32_t>(keys));
  PutLE32(b + 4, static_cast<uint32_t>(std::max(PIK.Left, 0)));
  for (int i = 0; i < keys; ++i) {
    uint8_t* entry = b + kEntriesAt + i * el;
    const XBobjIndexKeyData& e = *PIK.Items(i);
    PutLE32(entry, static_cast<uint32_t>(e.Tag));
    StoreKey(e, entry + 4);
  }
  if (node) PutLE32(b + kEntriesAt + keys * el, static_cast<uint32_t>(PIK.Items(n - 1)->Tag));
  if (!Owner()->PageWrite(PIK.Page, b, page)) RaiseCorrupted();
}

// ---------------------------------------------------------------------------
// The file

XBobjMDXFile::XBobjMDXFile(XBobjIndexOwner* PDB, const std::string& FN, bool ReadWrite, bool Shared, bool Create,
                           bool Overwrite)
    : XBobjIndexFile(PDB) {
  if (!IndexFileOpen(FN, ".mdx", ReadWrite, Shared, Create, Overwrite)) return;
  try {
    if (DiskFile_->xbFileSize() <= kBlock) {
      if (!DiskFile_->FileReadWrite()) RaiseCorrupted();
      MakeEmpty();
    } else {
      LoadHeader();
    }
  } catch (...) {
    // The tags reach this file as an MDX file while they go.
    TagList().FreeAll();
    throw;
  }
  SetCachePage(PageSize_);
  if (PDB && platform::AnsiUpperCase(FileBaseName(IndexName_)) ==
                 platform::AnsiUpperCase(FileBaseName(PDB->IndexTableFileName())))
    PDB->IndexMarkProduction();
  CreateOK_ = true;
}

XBobjMDXFile::~XBobjMDXFile() {
  WriteOutOnDestroy();
  // The tags reach this file as an MDX file while they go.
  TagList().FreeAll();
}

void XBobjMDXFile::MakeEmpty() {
  std::vector<uint8_t> area(HeaderArea);
  uint8_t* h = area.data();
  h[0] = 2;
  int month, day, year;
  xbDBFDate().Jul2MDY(xbDBFDate().Date(), month, day, year);
  h[1] = static_cast<uint8_t>(year % 100);
  h[2] = static_cast<uint8_t>(month);
  h[3] = static_cast<uint8_t>(day);
  const std::string table = Owner() ? FileBaseName(Owner()->IndexTableFileName()) : std::string();
  PutTerminated(h + 4, 16, table.substr(0, table.rfind('.')));
  PageSize_ = 1024;
  Unit_ = 2;
  PutLE16(h + 20, static_cast<uint16_t>(Unit_));
  PutLE16(h + 22, static_cast<uint16_t>(PageSize_));
  h[24] = 1;
  h[25] = MaxTags + 1;
  PutLE16(h + 26, kTagEntry);
  NextAvail_ = kFirstPageBlock;
  HighWater_ = NextAvail_;
  PutLE32(h + 32, static_cast<uint32_t>(NextAvail_));
  std::memcpy(Header_, h, kBlock);
  if (!XBobjIndexFile::PageWrite(0, h, HeaderArea)) RaiseCorrupted();
  HeaderChanged_ = false;
}

std::vector<std::pair<AnsiString, int>> XBobjMDXFile::ReadHeaderArea() {
  std::vector<uint8_t> area(HeaderArea);
  uint8_t* h = area.data();
  const int64_t size = DiskFile_->xbFileSize();
  if (size < HeaderArea || !XBobjIndexFile::PageRead(0, h, HeaderArea)) RaiseCorrupted();
  const int unit = GetLE16(h + 20);
  const int page = GetLE16(h + 22);
  const int count = GetLE16(h + 28);
  if (h[0] != 2 || page < kBlock || page > 4096 || page % kBlock != 0 || page > unit * kBlock ||
      count > MaxTags || count > h[25])
    RaiseCorrupted();
  std::vector<std::pair<AnsiString, int>> tags;
  const int64_t blocks = size / kBlock;
  for (int i = 1; i <= count; ++i) {
    const uint8_t* e = h + kTagTableAt + kTagEntry * i;
    const uint32_t block = GetLE32(e);
    AnsiString name;
    const char type = static_cast<char>(e[20]);
    if (block < kFirstPageBlock || int64_t{block} + page / kBlock > blocks ||
        !GetTerminated(e + 4, kTagNameField, name) || (type != 'C' && type != 'N' && type != 'D'))
      RaiseCorrupted();
    tags.emplace_back(platform::AnsiUpperCase(name), static_cast<int>(block));
  }
  Unit_ = unit;
  PageSize_ = page;
  std::memcpy(Header_, h, kBlock);
  HeaderChanged_ = false;
  return tags;
}

void XBobjMDXFile::LoadHeader() {
  for (const auto& [name, block] : ReadHeaderArea())
    AddLoadedTag(std::make_unique<XBobjMDXTag>(this, name, block));
  ResetAvailPage();
}

void XBobjMDXFile::Reload() {
  Relist(ReadHeaderArea(), [this](const AnsiString& name, int block) {
    return std::make_unique<XBobjMDXTag>(this, name, block);
  });
}

void XBobjMDXFile::StoreHeaderArea() {
  std::vector<uint8_t> area(HeaderArea);
  uint8_t* h = area.data();
  std::memcpy(h, Header_, kBlock);
  PutLE16(h + 28, static_cast<uint16_t>(TagCount()));
  if (NextAvail_ == -1) ResetAvailPage();
  PutLE32(h + 32, static_cast<uint32_t>(NextAvail_));
  // The tag table, whole: the slot before entry 1 links to it.
  if (TagCount() > 0) h[kTagTableAt + 17] = 1;
  for (int i = 1; i <= TagCount(); ++i) {
    uint8_t* e = h + kTagTableAt + kTagEntry * i;
    const XBobjMDXTag* tag = Tag(i - 1);
    PutLE32(e, static_cast<uint32_t>(tag->TagBlock()));
    PutTerminated(e + 4, kTagNameField, tag->TagName());
    e[17] = static_cast<uint8_t>(i < TagCount() ? i + 1 : 0);
    e[19] = 2;
    e[20] = static_cast<uint8_t>(tag->KeyType());
  }
  std::memcpy(Header_, h, kBlock);
  if (!XBobjIndexFile::PageWrite(0, h, HeaderArea)) RaiseCorrupted();
  HeaderChanged_ = false;
}

void XBobjMDXFile::StoreHeaderIfChanged() {
  if (!HeaderChanged_ || !DiskFile_) return;
  // Another program may have changed the rest of the block.
  uint8_t h[kBlock];
  if (!XBobjIndexFile::PageRead(0, h, kBlock)) RaiseCorrupted();
  std::memcpy(h + 32, Header_ + 32, 4);
  if (!XBobjIndexFile::PageWrite(0, h, kBlock)) RaiseCorrupted();
  std::memcpy(Header_, h, kBlock);
  HeaderChanged_ = false;
}

int XBobjMDXFile::GetAvailPage() {
  const int block = TakeAvail(std::max(Unit_, PageSize_ / kBlock), INT_MAX / kBlock);
  // Other writers take their page count from the header: keep it true.
  PutLE32(Header_ + 32, static_cast<uint32_t>(NextAvail_));
  HeaderChanged_ = true;
  return block;
}

void XBobjMDXFile::ResetAvailPage() {
  const int64_t blocks = (FileSize() + kBlock - 1) / kBlock;
  NextAvail_ = static_cast<int>(std::min<int64_t>(std::max<int64_t>(blocks, HighWater_), INT_MAX / kBlock));
}

bool XBobjMDXFile::PageRead(int64_t Blok, uint8_t* Page, int Size) {
  return XBobjIndexFile::PageRead(Blok * kBlock, Page, Size);
}

bool XBobjMDXFile::PageWrite(int64_t Blok, const uint8_t* Page, int Size) {
  return XBobjIndexFile::PageWrite(Blok * kBlock, Page, Size);
}

void XBobjMDXFile::RemoveTag(XBobjIndexTag* tag) {
  tag->TagClose();
  TagList().FreeOne(tag);
}

bool XBobjMDXFile::AddTag(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
                          bool Uniq) {
  const AnsiString name = TagNameOf(ITN);
  if (name.empty()) XBRaise(xbmTagFieldEmpty);
  // The header page keeps the key expression before byte 245 and the FOR
  // condition from byte 762 to the page's end, each with its terminator.
  if (KeyExp.size() > static_cast<size_t>(kForFlagAt - kKeyExprAt - 1))
    XBRaise(xbmArgumentMustBe, {"the key expression", "at most 220 bytes"});
  if (ForExp.size() > static_cast<size_t>(PageSize_ - kForExprAt - 1))
    XBRaise(xbmArgumentMustBe, {"the FOR expression", "at most " + std::to_string(PageSize_ - kForExprAt - 1) + " bytes"});
  if (!DiskFile_) RaiseCorrupted();
  XBobjIndexTag* old = TagByName(name);
  // Entry 48 would lie over the first tag's header.
  if (TagCount() - (old ? 1 : 0) >= MaxTags) XBRaise(xbmAccessDenied, {GetFileName()});
  if (old) RemoveTag(old);
  auto tag = std::make_unique<XBobjMDXTag>(this, name, 0);
  const bool built = tag->IndexTagNew(name, KeyExp, ForExp, Ascnd, Uniq);
  tag->TagClose();
  int at = 0;
  while (at < TagCount() && TagByNumber(at)->TagName() <= name) ++at;
  TagList().Insert(at, std::move(tag));
  StoreHeaderArea();
  return built;
}

bool XBobjMDXFile::DeleteTag(const AnsiString& ITN) {
  if (!DiskFile_) return false;
  TWholeFileLock lock(*this);
  XBobjIndexTag* tag = TagByName(TagNameOf(ITN));
  if (!tag) return false;
  RemoveTag(tag);
  if (TagCount() == 0) {
    DiscardCache();
    DiskFile_->xbTruncate(HeaderArea);
    NextAvail_ = kFirstPageBlock;
    HighWater_ = NextAvail_;
  }
  StoreHeaderArea();
  return true;
}

void XBobjMDXFile::Reindex() {
  if (!DiskFile_) return;
  // Every tag must be buildable before the file is emptied.
  for (int i = 0; i < TagCount(); ++i)
    if (Tag(i)->KeyLength() > XBobjMDXTag::MaxTextKey)
      XBRaise(xbmSortKeyLength, {XBobjMDXTag::MaxTextKey, Tag(i)->KeyLength()});
  TWholeFileLock lock(*this);
  for (int i = 0; i < TagCount(); ++i) Tag(i)->TagClose();
  DiscardCache();
  DiskFile_->xbTruncate(HeaderArea);
  NextAvail_ = kFirstPageBlock;
  HighWater_ = NextAvail_;
  for (int i = 0; i < TagCount(); ++i) {
    Tag(i)->Rebuild();
    Tag(i)->TagClose();
  }
  StoreHeaderArea();
}

}  // namespace xbase
