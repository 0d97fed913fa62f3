#include "xbase/index/ntx_format.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "platform/Numbers.h"
#include "xbase/base/byte_order.h"
#include "xbase/base/dates.h"
#include "xbase/base/errors.h"
#include "xbase/base/utilities.h"
#include "xbase/expr/functions.h"
#include "xbase/index/stored_keys.h"

namespace xbase {

namespace {

constexpr int kPage = XBobjNTXFile::PageSize;
constexpr int kKeyExprAt = 22;
constexpr int kUniqueAt = 278;
constexpr int kDescendAt = 279;
constexpr int kDescendAltAt = 280;
constexpr int kForExprAt = 282;
constexpr int kExprField = 256;
constexpr uint16_t kSignature = 6;
constexpr uint16_t kSignatureFor = 7;
constexpr uint16_t kSignatureOld = 3;
constexpr int kMaxCounter = 32767;
// The search key of the empty date: blanks, which the empty date is
// stored as (an empty search text would begin every key).
constexpr char kBlankKey[] = " ";
// The key of a node's pointer-only entry on the rightmost path: never
// compared, as the last entry of a node is always descended into.
constexpr char kSentinel[] = "\xFF";

int MaxKeysFor(int keyLength) { return 2 * ((1020 / (keyLength + 10) - 1) / 2); }

// Where item `i` of a page is written.
int ItemOffset(int maxKeys, int entryLength, int i) { return (maxKeys + 2) * 2 + i * entryLength; }

// A page of no keys: count 0 and the offset table.
void EmptyPageImage(uint8_t* b, int maxKeys, int entryLength) {
  std::memset(b, 0, kPage);
  for (int i = 0; i <= maxKeys; ++i) PutLE16(b + 2 + 2 * i, static_cast<uint16_t>(ItemOffset(maxKeys, entryLength, i)));
}

// Copies `text` (at most 255 bytes) into an expression field, zero-filled.
void PutExpression(uint8_t* field, const AnsiString& text) {
  std::memset(field, 0, kExprField);
  std::memcpy(field, text.data(), std::min(text.size(), static_cast<size_t>(kExprField - 1)));
}

// The text of a zero-terminated expression field; false without the zero.
bool GetExpression(const uint8_t* field, AnsiString& text) {
  const void* end = std::memchr(field, 0, kExprField);
  if (!end) return false;
  text.assign(reinterpret_cast<const char*>(field), static_cast<size_t>(static_cast<const uint8_t*>(end) - field));
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// The tree builder
//
// Each level keeps the items of the page it is filling, laid out as page
// items (child, record, key). Level 0 holds leaf keys; a level above holds
// separators, each with the page before it as its child. A leaf that has
// `fill` keys is written when the next key comes, and that key goes up as
// its separator. A node level that holds the maximum items is written when
// the next item comes: its last item's child becomes the node's rightmost
// child and its key goes up. The very last key never goes up, so no key
// can end as a bare pointer; at the end every level is written with the
// page below as its rightmost child.

struct TxbNTXTreeBuilder::Rep {
  TPageSink& sink;
  const int keyLength, entry, maxKeys;
  int fill;
  struct TLevel {
    std::vector<uint8_t> items;
    int count = 0;
  };
  TLevel levels[MaxLevels];
  int top = -1;
  std::vector<uint8_t> last;  // the key held back: it may be the last one
  uint32_t lastRec = 0;
  bool haveLast = false;
  uint8_t page[kPage];

  Rep(TPageSink& s, int kl, int mk, int64_t expected) : sink(s), keyLength(kl), entry(kl + 8), maxKeys(mk) {
    const int64_t pages = expected / maxKeys + 1;
    fill = static_cast<int>(std::clamp<int64_t>((expected + pages - 1) / pages, 1, maxKeys));
    last.resize(static_cast<size_t>(keyLength));
  }

  uint8_t* Item(int level, int i) { return levels[level].items.data() + static_cast<size_t>(i) * entry; }

  void Append(int level, const uint8_t* key, uint32_t rec, uint32_t child) {
    if (level >= MaxLevels) throw EXBaseError("An index tree deeper than 32 levels cannot be built");
    TLevel& l = levels[level];
    if (l.items.empty()) l.items.resize(static_cast<size_t>(maxKeys + 1) * entry);
    uint8_t* it = Item(level, l.count++);
    PutLE32(it, child);
    PutLE32(it + 4, rec);
    std::memcpy(it + 8, key, static_cast<size_t>(keyLength));
    top = std::max(top, level);
  }

  // Writes `keys` items of `level` as a page, with `right` as the rightmost
  // child of a node (0 for a leaf).
  int Write(int level, int keys, uint32_t right) {
    EmptyPageImage(page, maxKeys, entry);
    PutLE16(page, static_cast<uint16_t>(keys));
    // The items go to their slots in order, one after another.
    if (keys > 0) std::memcpy(page + ItemOffset(maxKeys, entry, 0), Item(level, 0), static_cast<size_t>(keys) * entry);
    if (right) {
      uint8_t* it = page + ItemOffset(maxKeys, entry, keys);
      PutLE32(it, right);
      std::memset(it + 8, ' ', static_cast<size_t>(keyLength));
    }
    const int at = sink.NewPage();
    sink.WritePage(at, page);
    return at;
  }

  void PushLeaf(const uint8_t* key, uint32_t rec) {
    if (levels[0].count == fill) {
      const int at = Write(0, levels[0].count, 0);
      levels[0].count = 0;
      PushNode(1, key, rec, static_cast<uint32_t>(at));
      return;
    }
    Append(0, key, rec, 0);
  }

  void PushNode(int level, const uint8_t* key, uint32_t rec, uint32_t child) {
    if (level < MaxLevels && levels[level].count == maxKeys) {
      TLevel& l = levels[level];
      const uint8_t* lastItem = Item(level, l.count - 1);
      std::vector<uint8_t> up(lastItem + 8, lastItem + 8 + keyLength);
      const uint32_t upRec = GetLE32(lastItem + 4);
      const int at = Write(level, l.count - 1, GetLE32(lastItem));
      l.count = 0;
      PushNode(level + 1, up.data(), upRec, static_cast<uint32_t>(at));
    }
    Append(level, key, rec, child);
  }
};

TxbNTXTreeBuilder::TxbNTXTreeBuilder(TPageSink& sink, int keyLength, int maxKeys, int64_t expected)
    : rep_(std::make_unique<Rep>(sink, keyLength, maxKeys, expected)) {}

TxbNTXTreeBuilder::~TxbNTXTreeBuilder() = default;

void TxbNTXTreeBuilder::Add(const uint8_t* key, uint32_t rec) {
  Rep& r = *rep_;
  if (r.haveLast) r.PushLeaf(r.last.data(), r.lastRec);
  std::memcpy(r.last.data(), key, static_cast<size_t>(r.keyLength));
  r.lastRec = rec;
  r.haveLast = true;
}

int TxbNTXTreeBuilder::Finish() {
  Rep& r = *rep_;
  if (!r.haveLast) {
    EmptyPageImage(r.page, r.maxKeys, r.entry);
    const int at = r.sink.NewPage();
    r.sink.WritePage(at, r.page);
    return at;
  }
  Rep::TLevel& leaf = r.levels[0];
  if (leaf.count == r.maxKeys) {
    // A full leaf: its own last key goes up, and the last key starts a leaf.
    const uint8_t* it = r.Item(0, leaf.count - 1);
    std::vector<uint8_t> up(it + 8, it + 8 + r.keyLength);
    const uint32_t upRec = GetLE32(it + 4);
    const int at = r.Write(0, leaf.count - 1, 0);
    leaf.count = 0;
    r.PushNode(1, up.data(), upRec, static_cast<uint32_t>(at));
  }
  r.Append(0, r.last.data(), r.lastRec, 0);
  r.haveLast = false;
  int below = 0;
  for (int level = 0;; ++level) {
    below = r.Write(level, r.levels[level].count, level == 0 ? 0 : static_cast<uint32_t>(below));
    r.levels[level].count = 0;
    if (level == r.top) {
      r.top = -1;
      return below;
    }
  }
}

// ---------------------------------------------------------------------------
// The sorter

XBobjSortNTX::XBobjSortNTX(int keyLength, bool unique, bool ascending, size_t memoryBudget,
                           const std::string& tempDir)
    : TxbSort(keyLength, unique, true, nullptr, memoryBudget, tempDir, XBobjNTXTag::MaxKeyLength),
      descending_(!ascending),
      bytes_(static_cast<size_t>(keyLength)) {}

void XBobjSortNTX::AddNtxKey(const TxbVariant& key, int rec) {
  // The stored form, as bytes: blanks compare as the byte they are.
  PutSortForm(key, descending_, bytes_);
  AddForm(bytes_.data(), bytes_.size(), rec);
}

bool XBobjSortNTX::NextNtxKey(const uint8_t*& key, int& rec) {
  const uint8_t* form;
  size_t n;
  int32_t tag;
  if (!GetNextForm(form, n, tag)) return false;
  key = StoredOfSortForm(form, descending_, bytes_);
  rec = tag;
  return true;
}

// ---------------------------------------------------------------------------
// The tag

XBobjNTXTag::XBobjNTXTag(XBobjNTXFile* owner) : XBobjIndexTag(owner) {
  TagSig_ = "NTX";
  DefaultLen_ = 1;
  TagBlock_ = 0;
  TagName_ = FileBaseName(owner->IndexName()).substr(0, 16);
}

XBobjNTXTag::~XBobjNTXTag() { CloseOnDestroy(); }

XBobjNTXFile* XBobjNTXTag::File() const { return static_cast<XBobjNTXFile*>(Owner()); }

void XBobjNTXTag::AdjustValue(TxbVariant& AKey, bool DoTrim) {
  switch (KeyType_) {
    case 'N': {
      double v;
      if (AKey.TypeVar() == xbvtText) {
        // Text that is a number becomes its key; any other text is taken
        // as a key already in its stored form.
        const std::string_view text(reinterpret_cast<const char*>(AKey.VarBuf()), static_cast<size_t>(AKey.SizeVar()));
        const char *from = text.data(), *end = from + text.size();
        while (from != end && *from == ' ') ++from;
        if (from == end) break;
        while (end[-1] == ' ') --end;
        // A search text of plain digits -- what a find is given -- is its
        // key without a round trip through a double.
        const char* digit = from;
        while (digit != end && *digit >= '0' && *digit <= '9') ++digit;
        if (digit == end && end - from <= 15) {
          while (from != end - 1 && *from == '0') ++from;
          char form[MaxKeyLength];
          if (const size_t n = WholeNumberKey(std::string_view(from, static_cast<size_t>(end - from)), false, form)) {
            AKey.PutString(std::string_view(form, n));
            break;
          }
        }
        if (!platform::TryStrToFloat(text, v)) break;
      } else {
        v = AKey.IsEmpty() ? 0.0 : AKey.GetFloat();
      }
      char form[MaxKeyLength];
      AKey.PutString(std::string_view(form, NumberKey(v, form)));
      break;
    }
    case 'D':
      if (AKey.TypeVar() == xbvtDate || AKey.TypeVar() == xbvtFloat) {
        const int32_t day = AKey.GetDate();
        AKey.PutString(day > 0 ? xbDBFDate().DTOS(day) : AnsiString(kBlankKey));
      } else if (AKey.TypeVar() == xbvtText && TrimmedLength(AKey.VarBuf(), AKey.SizeVar()) == 0) {
        AKey.PutString(kBlankKey);  // the empty date, not a part of every date
      }
      break;
    default:
      if (AKey.TypeVar() != xbvtText) AKey.PutString(AKey.GetString());
      break;
  }
  if (AKey.TypeVar() != xbvtText) AKey.PutString(AKey.GetString());
  // No key is longer than the tag's: a longer search text is cut as the
  // stored keys are.
  if (AKey.SizeVar() > KeyLength_ && KeyLength_ > 0) AKey.Reserve(xbvtText, KeyLength_, KeyLength_);
  if (DoTrim) AKey.TrimR();
}

size_t XBobjNTXTag::WholeNumberKey(std::string_view digits, bool negative, char* form) const {
  const int width = KeyLength_, dec = std::clamp(KeyDecimals_, 0, KeyLength_);
  const size_t used = digits.size() + (dec > 0 ? static_cast<size_t>(dec) + 1 : 0);
  if (digits.empty() || used > static_cast<size_t>(width)) return 0;
  std::memset(form, '0', static_cast<size_t>(width));
  std::memcpy(form + width - used, digits.data(), digits.size());
  if (dec > 0) form[width - dec - 1] = '.';
  if (negative)
    for (char* c = form; c != form + width; ++c)
      if (*c != '.') *c = static_cast<char>(44 - (*c - '0'));
  return static_cast<size_t>(width);
}

size_t XBobjNTXTag::NumberKey(double v, char* form) const {
  const double a = std::fabs(v);
  // Whole numbers -- the common key -- are written straight from their
  // digits: every record of a build makes one.
  if (a < 1e15 && a == std::floor(a)) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<uint64_t>(a)).ptr;
    const size_t n = WholeNumberKey(std::string_view(digits, static_cast<size_t>(end - digits)), v < 0, form);
    if (n > 0) return n;
  }
  AnsiString s;
  const int width = KeyLength_, dec = std::clamp(KeyDecimals_, 0, KeyLength_);
  const bool fits = xbStrNumber(a, width, dec, s);
  std::memcpy(form, s.data(), s.size());
  if (!fits) return s.size();
  for (char* c = form; c != form + s.size(); ++c) {
    if (*c == ' ') *c = '0';
    if (v < 0 && *c >= '0' && *c <= '9') *c = static_cast<char>(44 - (*c - '0'));
  }
  return s.size();
}

void XBobjNTXTag::SetKeyForm() {
  KeyDecimals_ = 0;
  KeyFormOfExpression(18, 8);
  if (KeyType_ != 'N') return;
  KeyDecimals_ = 4;
  // A key that is a field takes the field's width; any other number (a
  // field with 1 added, say) may outgrow it.
  const size_t from = KeyExpr_.find_first_not_of(' ');
  const AnsiString name =
      from == AnsiString::npos ? AnsiString() : KeyExpr_.substr(from, KeyExpr_.find_last_not_of(' ') + 1 - from);
  XBobjIndexOwner* table = Owner()->Owner();
  int length, decimals;
  if (table && name.find(' ') == AnsiString::npos && table->IndexFieldSize(name, length, decimals)) {
    KeyLength_ = length;
    KeyDecimals_ = decimals;
  }
}

bool XBobjNTXTag::IndexTagNew(const AnsiString&, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
                              bool Uniq) {
  // The header keeps each expression in 256 bytes with its terminator;
  // another program reading a longer FOR condition from its place would
  // read garbage after it.
  if (KeyExp.size() > MaxExpression) XBRaise(xbmArgumentMustBe, {"the key expression", "at most 255 bytes"});
  if (ForExp.size() > MaxExpression) XBRaise(xbmArgumentMustBe, {"the FOR expression", "at most 255 bytes"});
  XBobjIndexTag::IndexTagNew(TagName_, KeyExp, ForExp, Ascnd, Uniq);
  InvertCmpr_ = !Ascnd;
  SetKeyForm();
  if (KeyLength_ < 1 || KeyLength_ > MaxKeyLength) XBRaise(xbmSortKeyLength, {MaxKeyLength, KeyLength_});
  EntryLength_ = KeyLength_ + 8;
  MaxKeys_ = MaxKeysFor(KeyLength_);
  MinKeys_ = 1;

  uint8_t zeros[kPage] = {};
  TagBlock_ = Owner()->GetAvailPage();
  if (!Owner()->PageWrite(TagBlock_, zeros, kPage)) RaiseCorrupted();
  DoIndex();
  return true;
}

void XBobjNTXTag::DoIndex() {
  XBobjNTXFile* file = File();
  XBobjIndexOwner* table = file->Owner();
  XBobjSortNTX sorter(KeyLength_, UniqueKey_, AscendKey_, file->SortBudget(),
                      table ? table->IndexTempDir() : std::string());
  if (table) sorter.Expect(table->IndexRecordCount(), static_cast<size_t>(KeyLength_));
  XBobjIndexKeyData key(KeyLength_ + 1);
  ForEachRecordKey(key, [&](const XBobjIndexKeyData& k, int rec) { sorter.AddNtxKey(k, rec); });

  class TFileSink : public TxbNTXTreeBuilder::TPageSink {
   public:
    explicit TFileSink(XBobjNTXTag& tag) : tag_(tag) {}
    int NewPage() override { return tag_.Owner()->GetAvailPage(); }
    void WritePage(int offset, const uint8_t* page) override {
      if (!tag_.Owner()->PageWrite(offset, page, kPage)) tag_.RaiseCorrupted();
    }

   private:
    XBobjNTXTag& tag_;
  } sink(*this);
  TxbNTXTreeBuilder tree(sink, KeyLength_, MaxKeys_, sorter.Count());
  const uint8_t* bytes;
  int rec;
  while (sorter.NextNtxKey(bytes, rec)) tree.Add(bytes, static_cast<uint32_t>(rec));
  RootBlock_ = tree.Finish();
  TagChanged_ = true;
  TagStore();
}

void XBobjNTXTag::MakeEmpty() {
  TagClose();
  uint8_t b[kPage];
  EmptyPageImage(b, MaxKeys_, EntryLength_);
  RootBlock_ = kPage;
  if (!Owner()->PageWrite(RootBlock_, b, kPage)) RaiseCorrupted();
  TagChanged_ = true;
  TagStore();
}

bool XBobjNTXTag::KeyAdd(XBobjIndexKeyData& Key) {
  if (Key.TypeVar() == xbvtText && Key.SizeVar() > KeyLength_) Key.Reserve(xbvtText, KeyLength_, KeyLength_);
  Key.Xtra = Key.Tag;
  return XBobjIndexTag::KeyAdd(Key);
}

int XBobjNTXTag::GetTagRoot() {
  uint8_t h[kPage];
  if (!Owner()->PageRead(TagBlock_, h, kPage)) return RootBlock_;
  return static_cast<int>(std::min<uint32_t>(GetLE32(h + 4), INT_MAX));
}

void XBobjNTXTag::TagLoad() {
  uint8_t h[kPage];
  if (!Owner()->PageRead(TagBlock_, h, kPage)) RaiseCorrupted();
  uint16_t signature = GetLE16(h);
  if (signature == kSignatureOld) signature = kSignature;
  const uint32_t root = GetLE32(h + 4);
  const int entryLength = GetLE16(h + 12);
  const int keyLength = GetLE16(h + 14);
  const int maxKeys = GetLE16(h + 18);
  const int64_t size = Owner()->FileSize();
  AnsiString keyExpr, forExpr;
  // Checked before anything is read by them: every item of a full page
  // must lie in the page, and the root must be a page of the file.
  if ((signature != kSignature && signature != kSignatureFor) || keyLength < 1 || keyLength > MaxKeyLength ||
      entryLength != keyLength + 8 || maxKeys < 2 || 2 + (maxKeys + 1) * (keyLength + 10) > kPage ||
      root < static_cast<uint32_t>(kPage) || root % kPage != 0 || root > size - kPage ||
      !GetExpression(h + kKeyExprAt, keyExpr) ||
      (signature == kSignatureFor && !GetExpression(h + kForExprAt, forExpr)))
    RaiseCorrupted();
  File()->SetChangeCounter(GetLE16(h + 2));
  RootBlock_ = static_cast<int>(root);
  EntryLength_ = entryLength;
  KeyLength_ = keyLength;
  KeyDecimals_ = GetLE16(h + 16);
  MaxKeys_ = maxKeys;
  MinKeys_ = 1;
  UniqueKey_ = h[kUniqueAt] != 0;
  AscendKey_ = h[kDescendAt] == 0 && h[kDescendAltAt] == 0;
  InvertCmpr_ = !AscendKey_;
  SetExpressions(keyExpr, forExpr);

  // The header says nothing of the key's type: the expression does.
  TxbVariant sample(256);
  const char type = SampledKeyType(sample);
  KeyType_ = type ? type : 'C';
  TagChanged_ = false;
}

void XBobjNTXTag::TagStore() {
  if (!TagChanged_) return;
  XBobjIndexFile* file = Owner();
  uint8_t h[kPage] = {};
  // Fields of other writers beyond ours stay as they are.
  if (file->FileSize() >= kPage && !file->PageRead(TagBlock_, h, kPage)) std::memset(h, 0, kPage);
  PutLE16(h, Conditional_ ? kSignatureFor : kSignature);
  PutLE16(h + 2, static_cast<uint16_t>(File()->ChangeCounter()));
  PutLE32(h + 4, static_cast<uint32_t>(RootBlock_));
  PutLE32(h + 8, 0);
  PutLE16(h + 12, static_cast<uint16_t>(EntryLength_));
  PutLE16(h + 14, static_cast<uint16_t>(KeyLength_));
  PutLE16(h + 16, static_cast<uint16_t>(KeyDecimals_));
  PutLE16(h + 18, static_cast<uint16_t>(MaxKeys_));
  PutLE16(h + 20, static_cast<uint16_t>(MinKeys_));
  PutExpression(h + kKeyExprAt, KeyExpr_);
  h[kUniqueAt] = UniqueKey_ ? 1 : 0;
  // Both places: readers look at one or the other.
  h[kDescendAt] = h[kDescendAltAt] = AscendKey_ ? 0 : 1;
  h[kDescendAltAt + 1] = 0;
  PutExpression(h + kForExprAt, Conditional_ ? ForExpr_ : AnsiString());
  if (!file->PageWrite(TagBlock_, h, kPage)) RaiseCorrupted();
  TagChanged_ = false;
}

void XBobjNTXTag::PageLoad(int PN, XBobjIndexKey& PIK) {
  const uint8_t* b = PN >= kPage && PN % kPage == 0 ? Owner()->PageView(PN, kPage) : nullptr;
  if (!b) RaiseCorrupted();
  const int k = GetLE16(b);
  if (k > MaxKeys_) RaiseCorrupted();
  const int el = EntryLength_;
  const int tableEnd = 2 + (MaxKeys_ + 1) * 2;
  auto item = [&](int i) {
    const int at = GetLE16(b + 2 + 2 * i);
    if (at < tableEnd || at > kPage - el) RaiseCorrupted();
    return b + at;
  };
  const bool node = GetLE32(item(0)) != 0;
  PIK.Page = PN;
  PIK.IsRoot = PN == RootBlock_;
  PIK.PageType = node ? (PIK.IsRoot ? XBsetPageType::Root : XBsetPageType::Node)
                      : (PIK.IsRoot ? XBsetPageType::RootLeaf : XBsetPageType::Leaf);
  auto childOf = [&](const uint8_t* it) {
    const uint32_t child = GetLE32(it);
    if (node ? (child < static_cast<uint32_t>(kPage) || child % kPage != 0 || child > INT_MAX) : child != 0)
      RaiseCorrupted();
    return static_cast<int>(child);
  };
  for (int i = 0; i < k; ++i) {
    const uint8_t* it = item(i);
    const int child = childOf(it);
    XBobjIndexKeyData* e = PIK.AppendEntry();
    e->Xtra = static_cast<int>(GetLE32(it + 4));
    e->Tag = node ? child : e->Xtra;
    const int n = TrimmedLength(it + 8, KeyLength_);
    uint8_t* key = e->Reserve(xbvtText, n);
    if (n > 0) std::memcpy(key, it + 8, static_cast<size_t>(n));
  }

  // The entry the framework expects last: the separator that follows this
  // page in the tree, held by the parent (none after the rightmost leaf).
  const XBobjIndexKey* parent = PIK.Owner;
  const XBobjIndexKeyData* separator =
      parent && !OnRightmostPath(PIK) && parent->CurKey >= 0 && parent->CurKey < parent->Count() ? parent->Items(parent->CurKey)
                                                                                           : nullptr;
  if (node) {
    XBobjIndexKeyData* e = PIK.AppendEntry();
    e->Tag = childOf(item(k));
    if (separator) {
      e->AssignValue(*separator);
      e->Xtra = separator->Xtra;
    } else {
      e->PutString(kSentinel);
    }
  } else if (separator) {
    XBobjIndexKeyData* e = PIK.AppendEntry();
    e->AssignValue(*separator);
    e->Tag = e->Xtra = separator->Xtra;
  }
}

bool XBobjNTXTag::StoresNoKey(const XBobjIndexKey& PIK) const {
  return PIK.Count() <= (PIK.IsLeaf() && OnRightmostPath(PIK) ? 0 : 1);
}

void XBobjNTXTag::PageStore(XBobjIndexKey& PIK) {
  for (;;) {
    const int n = PIK.Count();
    // A page stores its entries but the last, which its parent holds --
    // except the rightmost leaf, which has no separator after it.
    const int stored = PIK.IsLeaf() && OnRightmostPath(PIK) ? n : n - 1;
    if (stored <= MaxKeys_) break;
    SplitOff(PIK, std::min((n + 1) / 2, MaxKeys_ + 1), Owner()->GetAvailPage());
  }
  StorePiece(PIK);
}

void XBobjNTXTag::PageWriteImage(XBobjIndexKey& PIK) {
  // A page split off another has neither parent nor the root's place: it
  // is never on the rightmost path.
  WriteImage(PIK, (PIK.Owner || PIK.IsRoot) && OnRightmostPath(PIK));
}

void XBobjNTXTag::WriteImage(const XBobjIndexKey& page, bool rightmost) {
  uint8_t b[kPage];
  EmptyPageImage(b, MaxKeys_, EntryLength_);
  const int n = page.Count();
  const bool node = !page.IsLeaf() && n > 0;
  const int keys = node ? n - 1 : rightmost ? n : std::max(n - 1, 0);
  if (keys > MaxKeys_) RaiseCorrupted();
  PutLE16(b, static_cast<uint16_t>(keys));
  for (int i = 0; i < keys; ++i) {
    const XBobjIndexKeyData& e = *page.Items(i);
    uint8_t* it = b + ItemOffset(MaxKeys_, EntryLength_, i);
    PutLE32(it, node ? static_cast<uint32_t>(e.Tag) : 0);
    PutLE32(it + 4, static_cast<uint32_t>(node ? e.Xtra : e.Tag));
    PutPaddedKey(it + 8, e, KeyLength_);
  }
  if (node) {
    uint8_t* it = b + ItemOffset(MaxKeys_, EntryLength_, keys);
    PutLE32(it, static_cast<uint32_t>(page.Items(n - 1)->Tag));
    std::memset(it + 8, ' ', static_cast<size_t>(KeyLength_));
  }
  if (!Owner()->PageWrite(page.Page, b, kPage)) RaiseCorrupted();
}

// ---------------------------------------------------------------------------
// The file

XBobjNTXFile::XBobjNTXFile(XBobjIndexOwner* PDB, const std::string& FN, bool ReadWrite, bool Shared, bool Create,
                           bool Overwrite)
    : XBobjIndexFile(PDB) {
  SetCachePage(PageSize);
  if (!IndexFileOpen(FN, ".ntx", ReadWrite, Shared, Create, Overwrite)) return;
  if (FileCreated()) {
    NextAvail_ = 0;
    Counter_ = 1;
  } else {
    AddLoadedTag(std::make_unique<XBobjNTXTag>(this));
    ResetAvailPage();
  }
  CreateOK_ = true;
}

XBobjNTXFile::~XBobjNTXFile() { WriteOutOnDestroy(); }

XBobjNTXTag* XBobjNTXFile::Tag() const { return static_cast<XBobjNTXTag*>(TagByNumber(0)); }

bool XBobjNTXFile::AddTag(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
                          bool Uniq) {
  XBobjIndexTag* tag = ReplaceOnlyTag(std::make_unique<XBobjNTXTag>(this));
  Counter_ = 1;
  return tag->IndexTagNew(ITN, KeyExp, ForExp, Ascnd, Uniq);
}

int XBobjNTXFile::GetAvailPage() { return TakeAvail(PageSize, INT_MAX); }

void XBobjNTXFile::ResetAvailPage() {
  const int64_t end = (FileSize() + PageSize - 1) / PageSize * PageSize;
  NextAvail_ = static_cast<int>(std::min<int64_t>(std::max<int64_t>(end, HighWater_), INT_MAX));
}

bool XBobjNTXFile::TagUpdate(int AKey, bool IsAppend) {
  if (XBobjNTXTag* tag = Tag()) {
    Counter_ = Counter_ >= kMaxCounter ? 1 : Counter_ + 1;
    tag->SetTagChanged();
    tag->TagStore();
  }
  return XBobjIndexFile::TagUpdate(AKey, IsAppend);
}

void XBobjNTXFile::Reload() {
  if (XBobjNTXTag* tag = Tag()) tag->TagLoad();
}

void XBobjNTXFile::Zap() {
  if (!DiskFile() || !Tag()) return;
  TWholeFileLock lock(*this);
  ZapLocked();
}

void XBobjNTXFile::ZapLocked() {
  XBobjNTXTag* tag = Tag();
  tag->TagClose();
  DiscardCache();
  DiskFile()->xbTruncate(2 * PageSize);
  Counter_ = 1;
  NextAvail_ = 2 * PageSize;
  HighWater_ = NextAvail_;
  tag->MakeEmpty();
}

void XBobjNTXFile::Reindex() {
  XBobjNTXTag* tag = Tag();
  if (!DiskFile() || !tag) return;
  TWholeFileLock lock(*this);
  ZapLocked();
  // The build writes over the empty root.
  NextAvail_ = PageSize;
  HighWater_ = PageSize;
  tag->DoIndex();
}

}  // namespace xbase
