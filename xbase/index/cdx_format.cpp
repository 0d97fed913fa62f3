#include "xbase/index/cdx_format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>
#include <numeric>
#include <vector>

#include "platform/Collation.h"
#include "platform/Numbers.h"
#include "xbase/base/byte_order.h"
#include "xbase/base/errors.h"
#include "xbase/base/utilities.h"

namespace xbase {

namespace {

constexpr int kNode = 512;
constexpr int kHeader = 1024;
// Interior entries start after the 12-byte node head and may fill 500 bytes.
constexpr int kNodeData = 12;
constexpr int kInteriorRoom = 500;
// Leaf entries start after the 24-byte leaf head; keys fill the rest.
constexpr int kLeafData = 24;
constexpr int kLeafRoom = kNode - kLeafData;
// A leaf that no longer fits hands this many bytes of entries to a new node.
constexpr int kSplitBytes = 250;
constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr int kNameLength = 10;
constexpr int kRightLink = 8;
constexpr int kLeftLink = 4;
constexpr int kCounterAt = 8;
constexpr uint8_t kDirectoryOptions = 0xE0;
constexpr uint8_t kTagOptions = 0x60;
constexpr char kGeneral[8] = {'G', 'E', 'N', 'E', 'R', 'A', 'L', 0};
constexpr char kMachine[8] = {'M', 'A', 'C', 'H', 'I', 'N', 'E', 0};
constexpr int kExprPool = 512;

uint32_t MaskOf(int bits) { return bits >= 32 ? kNone : (uint32_t{1} << bits) - 1; }

// The layout of a leaf's entries.
struct TLeafParams {
  int req = 0;  // bytes per entry
  int rnBits = 0, dcBits = 0, tcBits = 0;
  uint32_t rnMask = 0;
};

// The narrowest entries from `req` bytes up whose record field holds
// `maxRec`; each count takes as many bits as the key length needs.
TLeafParams LeafParams(int keyLength, uint32_t maxRec, int req) {
  TLeafParams p;
  p.dcBits = p.tcBits = std::bit_width(static_cast<unsigned>(keyLength));
  p.req = req;
  p.rnBits = 8 * req - 2 * p.dcBits;
  while (maxRec > MaskOf(p.rnBits)) {
    ++p.req;
    p.rnBits += 8;
  }
  p.rnMask = MaskOf(p.rnBits);
  return p;
}

// The length of `len` bytes without the pad bytes at their end.
int Trimmed(const uint8_t* key, int len, uint8_t pad) {
  while (len > 0 && key[len - 1] == pad) --len;
  return len;
}

// Packs keys into a compact leaf (or only measures them, without a node).
class TLeafPacker {
 public:
  TLeafPacker(int keyLength, uint8_t pad, const TLeafParams& p, uint8_t* node)
      : kl_(keyLength), pad_(pad), p_(p), node_(node), prev_(static_cast<size_t>(keyLength), pad) {}

  // What the key (its pad bytes trimmed) takes after the keys added so far.
  int Cost(const uint8_t* key, int len) const { return p_.req + len - Dup(key, len); }
  int Free() const { return keyEnd_ - (kLeafData + n_ * p_.req); }
  bool Fits(int cost) const { return Free() >= cost; }
  int Count() const { return n_; }

  void Add(const uint8_t* key, int len, uint32_t rec) {
    const int dup = Dup(key, len);
    const int stored = len - dup;
    const int trail = kl_ - len;
    if (node_) {
      const uint64_t e = uint64_t{rec & p_.rnMask} | uint64_t(dup) << p_.rnBits |
                         uint64_t(trail) << (p_.rnBits + p_.dcBits);
      uint8_t* at = node_ + kLeafData + n_ * p_.req;
      for (int b = 0; b < p_.req; ++b) at[b] = static_cast<uint8_t>(e >> (8 * b));
      if (stored > 0) std::memcpy(node_ + keyEnd_ - stored, key + dup, static_cast<size_t>(stored));
    }
    keyEnd_ -= stored;
    if (stored > 0) std::memcpy(prev_.data() + dup, key + dup, static_cast<size_t>(stored));
    std::fill(prev_.begin() + len, prev_.end(), pad_);
    ++n_;
  }

  // The leaf's head: attributes, count, siblings, free bytes, layout.
  void WriteHead(int attributes, int left, int right) const {
    PutLE16(node_, static_cast<uint16_t>(attributes));
    PutLE16(node_ + 2, static_cast<uint16_t>(n_));
    PutLE32(node_ + kLeftLink, left < 0 ? kNone : static_cast<uint32_t>(left));
    PutLE32(node_ + kRightLink, right < 0 ? kNone : static_cast<uint32_t>(right));
    PutLE16(node_ + 12, static_cast<uint16_t>(Free()));
    PutLE32(node_ + 14, p_.rnMask);
    node_[18] = static_cast<uint8_t>(MaskOf(p_.dcBits));
    node_[19] = static_cast<uint8_t>(MaskOf(p_.tcBits));
    node_[20] = static_cast<uint8_t>(p_.rnBits);
    node_[21] = static_cast<uint8_t>(p_.dcBits);
    node_[22] = static_cast<uint8_t>(p_.tcBits);
    node_[23] = static_cast<uint8_t>(p_.req);
  }

 private:
  // The first key of a leaf shares nothing; a later one its common prefix
  // with the previous key (padded), at most its own length.
  int Dup(const uint8_t* key, int len) const {
    if (n_ == 0) return 0;
    int d = 0;
    while (d < len && key[d] == prev_[static_cast<size_t>(d)]) ++d;
    return d;
  }

  int kl_;
  uint8_t pad_;
  TLeafParams p_;
  uint8_t* node_;
  std::vector<uint8_t> prev_;
  int n_ = 0;
  int keyEnd_ = kNode;
};

void WriteInteriorHead(uint8_t* node, int attributes, int n, int left, int right) {
  PutLE16(node, static_cast<uint16_t>(attributes));
  PutLE16(node + 2, static_cast<uint16_t>(n));
  PutLE32(node + kLeftLink, left < 0 ? kNone : static_cast<uint32_t>(left));
  PutLE32(node + kRightLink, right < 0 ? kNone : static_cast<uint32_t>(right));
}

// Numbers as bytes whose order is numeric order: the big-endian double, its
// sign bit set when not negative, every bit inverted when negative;
// trailing zero bytes dropped. The length.
int EncodeNumber(double v, uint8_t* out) {
  if (v == 0) v = 0.0;  // -0 and 0 are one key
  uint64_t bits = std::bit_cast<uint64_t>(v);
  bits = bits >> 63 ? ~bits : bits | uint64_t{1} << 63;
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  int n = 8;
  while (n > 0 && out[n - 1] == 0) --n;
  return n;
}

// The GENERAL weights of each byte: primary (rank in the fixed collation,
// case ignored) and diacritic (0xF0, or 0xF1 for an upper-case letter).
struct TGeneralWeights {
  uint8_t primary[256];
  uint8_t diacritic[256];
};

const TGeneralWeights& GeneralWeights() {
  static const TGeneralWeights w = [] {
    TGeneralWeights t{};
    auto one = [](int b) { return std::string(1, static_cast<char>(b)); };
    std::array<int, 256> order;
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return platform::AnsiCompareText(one(a), one(b)) < 0; });
    int rank = 0;
    for (size_t i = 0; i < order.size(); ++i) {
      if (i > 0 && platform::AnsiCompareText(one(order[i - 1]), one(order[i])) != 0) ++rank;
      t.primary[order[i]] = static_cast<uint8_t>(rank);
    }
    for (int b = 0; b < 256; ++b) {
      bool upper = false;
      for (int c = 0; c < 256 && !upper; ++c)
        upper = t.primary[c] == t.primary[b] && platform::AnsiCompareStr(one(b), one(c)) > 0;
      t.diacritic[b] = static_cast<uint8_t>(0xF0 | (upper ? 1 : 0));
    }
    return t;
  }();
  return w;
}

void CheckExpression(const AnsiString& text, const char* what) {
  if (static_cast<int>(text.size()) > XBobjCDXTag::MaxExpression)
    XBRaise(xbmArgumentMustBe, {what, "at most 255 bytes"});
}

AnsiString TagNameOf(const AnsiString& ITN) {
  AnsiString name = platform::AnsiUpperCase(ITN);
  name.erase(0, std::min(name.find_first_not_of(' '), name.size()));
  if (name.size() > kNameLength) name.resize(kNameLength);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

}  // namespace

AnsiString CdxGeneralKey(const AnsiString& text, int textLength, int keyLength, bool full) {
  const TGeneralWeights& w = GeneralWeights();
  AnsiString out;
  const int n = full ? textLength : static_cast<int>(text.size());
  out.reserve(static_cast<size_t>(full ? 2 * n : n));
  auto at = [&](int i) { return static_cast<uint8_t>(i < static_cast<int>(text.size()) ? text[static_cast<size_t>(i)] : ' '); };
  for (int i = 0; i < n; ++i) out += static_cast<char>(w.primary[at(i)]);
  if (full)
    for (int i = 0; i < n; ++i) out += static_cast<char>(w.diacritic[at(i)]);
  if (static_cast<int>(out.size()) > keyLength) out.resize(static_cast<size_t>(std::max(keyLength, 0)));
  // Lower case and non-letters weigh nothing beyond their primary weights.
  if (full)
    while (!out.empty() && static_cast<uint8_t>(out.back()) == 0xF0) out.pop_back();
  return out;
}

// ---------------------------------------------------------------------------
// The tag

XBobjCDXTag::XBobjCDXTag(XBobjIndexFile* owner, int headerOffset, bool directory)
    : XBobjIndexTag(owner), Directory_(directory) {
  TagSig_ = "CDX";
  DefaultLen_ = 10;
  TagBlock_ = headerOffset;
  if (directory) {
    KeyType_ = 'C';
    KeyLength_ = kNameLength;
    Collation_ = XBcdxCollation::None;
  }
}

XBobjCDXTag::~XBobjCDXTag() { CloseOnDestroy(); }

void XBobjCDXTag::AdjustValue(TxbVariant& AKey, bool DoTrim) {
  try {
    if (KeyType_ == 'N' || KeyType_ == 'D') {
      if (AKey.TypeVar() == xbvtBinary) return;  // the stored form already
      double v;
      if (KeyType_ == 'N') {
        v = AKey.IsEmpty() ? 0.0 : AKey.GetFloat();
      } else {
        v = AKey.TypeVar() == xbvtFloat ? AKey.GetFloat() : AKey.IsEmpty() ? 0.0 : AKey.GetDate();
      }
      uint8_t b[8];
      AKey.PutBinary(b, static_cast<size_t>(EncodeNumber(v, b)));
      return;
    }
  } catch (const platform::EConvertError&) {
    // A search key or range limit given as text that is no number or date.
    XBRaise(xbmValueInvalid, {KeyType_ == 'D' ? "Date" : "Number"});
  }
  if (AKey.TypeVar() != xbvtText) AKey.PutString(AKey.GetString());
  if (Collation_ == XBcdxCollation::General && !Directory_) {
    // A partial search key matches by its primary weights: case and
    // diacritics are not looked at.
    const bool full = DoTrim || Owner()->Exact() || TagUpdating_;
    AKey.PutString(CdxGeneralKey(AKey.GetString(), TextLength_, KeyLength_, full));
  }
  if (KeyLength_ > 0 && AKey.SizeVar() > KeyLength_) AKey.Reserve(xbvtText, KeyLength_, KeyLength_);
  if (DoTrim) AKey.TrimR();
}

void XBobjCDXTag::SetKeyForm() {
  KeyFormOfExpression(8, 8);
  if (KeyType_ != 'C') return;
  TextLength_ = KeyLength_;
  const int length = Collation_ == XBcdxCollation::General ? 2 * TextLength_ : TextLength_;
  // Longer keys are cut: a node must hold two of them.
  KeyLength_ = std::min(length, MaxKeyLength);
  if (KeyLength_ < 1) XBRaise(xbmSortKeyLength, {MaxKeyLength, KeyLength_});
}

bool XBobjCDXTag::IndexTagNew(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp,
                              bool Ascnd, bool Uniq) {
  CheckExpression(KeyExp, "the key expression");
  CheckExpression(ForExp, "the FOR expression");
  XBobjIndexTag::IndexTagNew(ITN, KeyExp, ForExp, Ascnd, Uniq);
  InvertCmpr_ = false;
  InvertRead_ = !Ascnd;
  if (Directory_) {
    KeyType_ = 'C';
    KeyLength_ = kNameLength;
  } else {
    SetKeyForm();
    if (KeyType_ != 'C') Collation_ = XBcdxCollation::Machine;
  }
  EntryLength_ = KeyLength_ + 8;
  MaxKeys_ = kInteriorRoom / EntryLength_;
  const uint8_t zeros[kHeader] = {};
  WriteHeader(zeros);
  if (Directory_) {
    WriteEmptyRoot();
  } else {
    DoIndex();
  }
  TagChanged_ = true;
  TagStore();
  WeightsChecked_ = 1;
  return true;
}

void XBobjCDXTag::Rebuild() {
  TagClose();
  TagBlock_ = Owner()->GetAvailPage();
  Owner()->GetAvailPage();
  const AnsiString name = TagName_, key = KeyExpr_, cond = ForExpr_;
  IndexTagNew(name, key, cond, !InvertRead_, UniqueKey_);
  TagClose();
}

void XBobjCDXTag::WriteEmptyRoot() {
  RootBlock_ = Owner()->GetAvailPage();
  uint8_t node[kNode] = {};
  TLeafPacker packer(KeyLength_, PadByte(), LeafParams(KeyLength_, 0, 3), node);
  packer.WriteHead(3, -1, -1);
  if (!Owner()->PageWrite(RootBlock_, node, kNode)) RaiseCorrupted();
}

void XBobjCDXTag::DoIndex() {
  XBobjIndexFile* file = Owner();
  XBobjIndexOwner* table = file->Owner();
  const int records = table ? table->IndexRecordCount() : 0;
  if (records <= 0) {
    WriteEmptyRoot();
    TagChanged_ = true;
    return;
  }
  XBobjSortCDX sorter(*this, file->SortBudget(), table->IndexTempDir());
  XBobjIndexKeyData key(KeyLength_ + 1);
  ForEachRecordKey(key, [&](const XBobjIndexKeyData& k, int rec) { sorter.AddRecord(k, rec); });
  RootBlock_ = sorter.WriteTree();
  TagChanged_ = true;
}

bool XBobjCDXTag::KeyAdd(XBobjIndexKeyData& Key) {
  if (KeyType_ == 'C' && Key.TypeVar() == xbvtText && Key.SizeVar() > KeyLength_)
    Key.Reserve(xbvtText, KeyLength_, KeyLength_);
  const int xtra = Key.Xtra;
  Key.Xtra = Key.Tag;
  try {
    const bool added = XBobjIndexTag::KeyAdd(Key);
    Key.Xtra = xtra;
    return added;
  } catch (...) {
    Key.Xtra = xtra;
    throw;
  }
}

void XBobjCDXTag::ReadHeader(uint8_t* h) {
  // In two nodes' pieces, so that the header goes through the block cache.
  if (!Owner()->PageRead(TagBlock_, h, kNode) || !Owner()->PageRead(TagBlock_ + kNode, h + kNode, kNode))
    RaiseCorrupted();
}

void XBobjCDXTag::WriteHeader(const uint8_t* h) {
  if (!Owner()->PageWrite(TagBlock_, h, kNode) || !Owner()->PageWrite(TagBlock_ + kNode, h + kNode, kNode))
    RaiseCorrupted();
}

int XBobjCDXTag::GetTagRoot() {
  uint8_t h[kNode];
  if (!Owner()->PageRead(TagBlock_, h, kNode)) return RootBlock_;
  return static_cast<int>(GetLE32(h));
}

void XBobjCDXTag::TagLoad() {
  uint8_t h[kHeader];
  ReadHeader(h);
  const uint32_t root = GetLE32(h);
  const int keyLength = GetLE16(h + 12);
  const uint8_t options = Directory_ ? kDirectoryOptions : h[14];
  const int keyPool = GetLE16(h + 504);
  const int forPool = GetLE16(h + 506);
  // Checked before anything is read by them: the root must be a node of
  // the file, the key fit a node twice, the expressions the header.
  const int64_t size = Owner()->FileSize();
  if (root % kNode != 0 || root < kNode || int64_t{root} + kNode > size || keyLength < 1 ||
      keyLength > MaxKeyLength || keyPool > kExprPool || forPool > kExprPool || keyPool + forPool > kExprPool)
    RaiseCorrupted();
  const char* pool = reinterpret_cast<const char*>(h + kHeader - kExprPool);
  const size_t keyLen = keyPool > 0 ? strnlen(pool, static_cast<size_t>(keyPool)) : 0;
  const size_t forLen = forPool > 0 ? strnlen(pool + keyPool, static_cast<size_t>(forPool)) : 0;
  KeyExpr_.assign(pool, Directory_ ? 0 : keyLen);
  ForExpr_.assign(pool + keyPool, Directory_ ? 0 : forLen);
  if (!Directory_ && KeyExpr_.find_first_not_of(' ') == AnsiString::npos) RaiseCorrupted();
  RootBlock_ = static_cast<int>(root);
  KeyLength_ = keyLength;
  EntryLength_ = keyLength + 8;
  MaxKeys_ = kInteriorRoom / EntryLength_;
  UniqueKey_ = (options & 1) != 0;
  Conditional_ = !ForExpr_.empty() && ForExpr_.find_first_not_of(' ') != AnsiString::npos;
  InvertCmpr_ = false;
  InvertRead_ = !Directory_ && GetLE16(h + 502) != 0;
  AscendKey_ = !InvertRead_;
  Collation_ = XBcdxCollation::None;
  if (!Directory_ && options < 128 && std::memcmp(h + 494, kGeneral, 8) == 0) {
    Collation_ = XBcdxCollation::General;
  } else if (std::memcmp(h + 494, kMachine, 8) == 0) {
    Collation_ = XBcdxCollation::Machine;
  }
  WeightsChecked_ = 0;
  KeyType_ = 'C';
  TextLength_ = Collation_ == XBcdxCollation::General ? std::max(1, keyLength / 2) : keyLength;
  if (Directory_) {
    TagChanged_ = false;
    return;
  }
  PostTagExpression();
  PostTagFilter();
  // The header does not say what the key is: the key expression does.
  TxbVariant sample(256);
  if (const char type = SampledKeyType(sample)) {
    if (type != 'C') {
      KeyType_ = type;
      if (keyLength != 8) RaiseCorrupted();
    } else if (sample.TypeVar() == xbvtText && Collation_ == XBcdxCollation::General) {
      TextLength_ = sample.SizeVar();
    }
  }
  TagChanged_ = false;
}

void XBobjCDXTag::TagStore() {
  if (!TagChanged_) return;
  uint8_t h[kHeader];
  ReadHeader(h);
  PutLE32(h, static_cast<uint32_t>(RootBlock_));
  PutLE16(h + 12, static_cast<uint16_t>(KeyLength_));
  const bool general = Collation_ == XBcdxCollation::General && !Directory_;
  h[14] = Directory_ ? kDirectoryOptions
                     : static_cast<uint8_t>(kTagOptions | (UniqueKey_ ? 1 : 0) | (Conditional_ ? 8 : 0));
  h[15] = general ? 2 : 1;
  std::memset(h + 494, 0, 8);
  if (general) std::memcpy(h + 494, kGeneral, 8);
  PutLE16(h + 502, InvertRead_ ? 1 : 0);
  const AnsiString cond = Conditional_ ? ForExpr_ : AnsiString();
  const int keyPool = static_cast<int>(KeyExpr_.size()) + 1;
  PutLE16(h + 504, static_cast<uint16_t>(keyPool));
  PutLE16(h + 506, static_cast<uint16_t>(cond.size() + 1));
  PutLE16(h + 510, static_cast<uint16_t>(KeyExpr_.empty() ? 1 : keyPool));
  uint8_t* pool = h + kHeader - kExprPool;
  std::memset(pool, 0, kExprPool);
  std::memcpy(pool, KeyExpr_.data(), KeyExpr_.size());
  std::memcpy(pool + keyPool, cond.data(), cond.size());
  WriteHeader(h);
  TagChanged_ = false;
}

uint32_t XBobjCDXTag::RecordBound() const {
  XBobjIndexFile* file = Owner();
  if (Directory_) {
    // Header offsets: up to the end of the file, or a tag being added.
    const auto* cdx = static_cast<const XBobjCDXFile*>(file);
    return static_cast<uint32_t>(std::max<int64_t>(file->FileSize(), cdx->HighWater_));
  }
  XBobjIndexOwner* table = file->Owner();
  return table ? static_cast<uint32_t>(std::max(0, table->IndexRecordCount())) : 0;
}

void XBobjCDXTag::PageLoad(int PN, XBobjIndexKey& PIK) {
  // A file's node is read in place; an index in memory copies it.
  if (PN < kNode || PN % kNode != 0) RaiseCorrupted();
  uint8_t copy[kNode];
  const uint8_t* b = Owner()->DiskFile() ? Owner()->PageView(PN, kNode) : nullptr;
  if (!b) {
    if (!Owner()->PageRead(PN, copy, kNode)) RaiseCorrupted();
    b = copy;
  }
  const int attributes = GetLE16(b);
  const int n = GetLE16(b + 2);
  if (attributes > 3) RaiseCorrupted();
  const bool leaf = (attributes & 2) != 0;
  PIK.Page = PN;
  PIK.IsRoot = (attributes & 1) != 0;
  PIK.PageType = leaf ? (PIK.IsRoot ? XBsetPageType::RootLeaf : XBsetPageType::Leaf)
                      : (PIK.IsRoot ? XBsetPageType::Root : XBsetPageType::Node);
  const uint32_t left = GetLE32(b + kLeftLink), right = GetLE32(b + kRightLink);
  PIK.Left = left == kNone || left > INT32_MAX ? -1 : static_cast<int>(left);
  PIK.Right = right == kNone || right > INT32_MAX ? -1 : static_cast<int>(right);
  const int kl = KeyLength_;
  const uint8_t pad = PadByte();
  const TxbVariantType type = KeyType_ == 'C' ? xbvtText : xbvtBinary;

  if (!leaf) {
    if (kNodeData + n * (kl + 8) > kNode) RaiseCorrupted();
    for (int i = 0; i < n; ++i) {
      const uint8_t* entry = b + kNodeData + i * (kl + 8);
      const uint32_t child = GetBE32(entry + kl + 4);
      if (child % kNode != 0 || child < kNode || child > INT32_MAX) RaiseCorrupted();
      XBobjIndexKeyData* e = PIK.AppendEntry();
      const int len = Trimmed(entry, kl, pad);
      uint8_t* key = e->Reserve(type, len);
      if (len > 0) std::memcpy(key, entry, static_cast<size_t>(len));
      e->Xtra = static_cast<int>(GetBE32(entry + kl) & 0x7FFFFFFF);
      e->Tag = static_cast<int>(child);
    }
    return;
  }

  PIK.Space = GetLE16(b + 12);
  PIK.RNMask = GetLE32(b + 14);
  PIK.DCMask = b[18];
  PIK.TCMask = b[19];
  PIK.RNBits = b[20];
  PIK.DCBits = b[21];
  PIK.TCBits = b[22];
  PIK.ReqByte = b[23];
  const int req = PIK.ReqByte;
  if (req < 2 || PIK.RNBits + PIK.DCBits + PIK.TCBits != 8 * req || PIK.DCBits + PIK.TCBits > 16 ||
      PIK.RNBits > 32 || PIK.RNMask != MaskOf(PIK.RNBits) || PIK.DCMask != MaskOf(PIK.DCBits) ||
      PIK.TCMask != MaskOf(PIK.TCBits) || kLeafData + n * req > kNode)
    RaiseCorrupted();
  uint8_t prev[MaxKeyLength];
  std::memset(prev, pad, static_cast<size_t>(kl));
  int keyEnd = kNode;
  const int entriesEnd = kLeafData + n * req;
  for (int i = 0; i < n; ++i) {
    const uint8_t* at = b + kLeafData + i * req;
    uint64_t e = 0;
    for (int k = 0; k < req; ++k) e |= uint64_t{at[k]} << (8 * k);
    const uint32_t rec = static_cast<uint32_t>(e) & PIK.RNMask;
    const int dup = static_cast<int>((e >> PIK.RNBits) & PIK.DCMask);
    const int trail = static_cast<int>((e >> (PIK.RNBits + PIK.DCBits)) & PIK.TCMask);
    // The first key has no previous one to share bytes with.
    if ((i == 0 && dup > 0) || dup + trail > kl || rec > INT32_MAX) RaiseCorrupted();
    const int stored = kl - dup - trail;
    if (keyEnd - stored < entriesEnd) RaiseCorrupted();
    keyEnd -= stored;
    std::memcpy(prev + dup, b + keyEnd, static_cast<size_t>(stored));
    std::memset(prev + dup + stored, pad, static_cast<size_t>(trail));
    XBobjIndexKeyData* entry = PIK.AppendEntry();
    const int len = Trimmed(prev, dup + stored, pad);
    uint8_t* key = entry->Reserve(type, len);
    if (len > 0) std::memcpy(key, prev, static_cast<size_t>(len));
    entry->Tag = entry->Xtra = static_cast<int>(rec);
  }
}

void XBobjCDXTag::PageWriteImage(XBobjIndexKey& PIK) {
  uint8_t node[kNode] = {};
  const int n = PIK.Count();
  const int kl = KeyLength_;
  const uint8_t pad = PadByte();
  const int attributes = (PIK.IsLeaf() ? 2 : 0) | (PIK.IsRoot ? 1 : 0);
  if (!PIK.IsLeaf()) {
    if (kNodeData + n * (kl + 8) > kNode) RaiseCorrupted();
    WriteInteriorHead(node, attributes, n, PIK.Left, PIK.Right);
    for (int i = 0; i < n; ++i) {
      const XBobjIndexKeyData& e = *PIK.Items(i);
      uint8_t* entry = node + kNodeData + i * (kl + 8);
      const int len = std::min(e.SizeVar(), kl);
      if (len > 0) std::memcpy(entry, e.VarBuf(), static_cast<size_t>(len));
      std::memset(entry + len, pad, static_cast<size_t>(kl - len));
      PutBE32(entry + kl, static_cast<uint32_t>(e.Xtra));
      PutBE32(entry + kl + 4, static_cast<uint32_t>(e.Tag));
    }
  } else {
    uint32_t maxRec = RecordBound();
    for (int i = 0; i < n; ++i) maxRec = std::max(maxRec, static_cast<uint32_t>(PIK.Items(i)->Tag));
    TLeafPacker packer(kl, pad, LeafParams(kl, maxRec, 2), node);
    for (int i = 0; i < n; ++i) {
      const XBobjIndexKeyData& e = *PIK.Items(i);
      const int len = Trimmed(e.VarBuf(), std::min(e.SizeVar(), kl), pad);
      // PageStore split the leaf so that its keys fit.
      if (!packer.Fits(packer.Cost(e.VarBuf(), len))) RaiseCorrupted();
      packer.Add(e.VarBuf(), len, static_cast<uint32_t>(e.Tag));
    }
    packer.WriteHead(attributes, PIK.Left, PIK.Right);
  }
  if (!Owner()->PageWrite(PIK.Page, node, kNode)) RaiseCorrupted();
}

void XBobjCDXTag::PatchLink(int offset, int at, int value, int expect) {
  uint8_t b[kNode];
  if (offset < kNode || offset % kNode != 0 || !Owner()->PageRead(offset, b, kNode)) return;
  // Only a sibling that names this node back is changed: a damaged link
  // must not make us write into some other node.
  if (GetLE32(b + at) != static_cast<uint32_t>(expect)) return;
  PutLE32(b + at, value < 0 ? kNone : static_cast<uint32_t>(value));
  Owner()->PageWrite(offset, b, kNode);
}

void XBobjCDXTag::SplitOff(XBobjIndexKey& PIK, int first) {
  auto piece = NewPage();
  PIK.MoveFirstEntries(first, *piece);
  PIK.CurKey = std::max(0, PIK.CurKey - first);
  piece->PageType = PIK.IsLeaf() ? XBsetPageType::Leaf : XBsetPageType::Node;
  piece->Page = Owner()->GetAvailPage();
  XBobjIndexKeyData separator;
  separator.AssignLinks(*piece->Items(piece->Count() - 1));
  separator.Tag = piece->Page;
  // A root that splits moves to a new node of its own here.
  AddNodeKey(PIK, separator);
  piece->Left = PIK.Left;
  piece->Right = PIK.Page;
  if (PIK.Left >= 0) PatchLink(PIK.Left, kRightLink, piece->Page, PIK.Page);
  PIK.Left = piece->Page;
  StoreNewPiece(std::move(piece));
}

void XBobjCDXTag::SplitNode(XBobjIndexKey& PIK) {
  while (PIK.Count() > MaxKeys_) {
    const int n = PIK.Count();
    SplitOff(PIK, std::min(n - n / 2, MaxKeys_));
  }
}

void XBobjCDXTag::SplitLeaf(XBobjIndexKey& PIK) {
  const int kl = KeyLength_;
  const uint8_t pad = PadByte();
  for (;;) {
    const int n = PIK.Count();
    uint32_t maxRec = RecordBound();
    for (int i = 0; i < n; ++i) maxRec = std::max(maxRec, static_cast<uint32_t>(PIK.Items(i)->Tag));
    TLeafPacker measure(kl, pad, LeafParams(kl, maxRec, 2), nullptr);
    int first = 0;  // entries that fit in the first kSplitBytes
    bool fits = true;
    for (int i = 0; i < n; ++i) {
      const XBobjIndexKeyData& e = *PIK.Items(i);
      const int len = Trimmed(e.VarBuf(), std::min(e.SizeVar(), kl), pad);
      const int cost = measure.Cost(e.VarBuf(), len);
      if (!measure.Fits(cost)) fits = false;
      measure.Add(e.VarBuf(), len, static_cast<uint32_t>(e.Tag));
      if (kLeafRoom - measure.Free() <= kSplitBytes) first = i + 1;
    }
    if (fits || n < 2) return;
    SplitOff(PIK, std::clamp(first, 1, n - 1));
  }
}

void XBobjCDXTag::PageStore(XBobjIndexKey& PIK) {
  if (PIK.Count() == 0 && !PIK.IsRoot) {
    // Its parent no longer points at it: take it out of the sibling chain.
    if (PIK.Left >= 0) PatchLink(PIK.Left, kRightLink, PIK.Right, PIK.Page);
    if (PIK.Right >= 0) PatchLink(PIK.Right, kLeftLink, PIK.Left, PIK.Page);
  } else if (PIK.IsLeaf()) {
    SplitLeaf(PIK);
  } else {
    SplitNode(PIK);
  }
  StorePiece(PIK);
}

bool XBobjCDXTag::WeightsAgree() {
  if (WeightsChecked_ != 0 || Collation_ != XBcdxCollation::General) return WeightsChecked_ >= 0;
  XBobjIndexOwner* table = Owner()->Owner();
  if (!table) return true;
  const int records = table->IndexRecordCount();
  bool agree = true;
  XBobjIndexKeyData key;
  bool changed;
  struct TView {
    XBobjIndexOwner& table;
    ~TView() { table.IndexViewRecord(0); }
  } view{*table};
  for (bool more = ReadTopKey(); more && agree; more = ReadNextKey()) {
    const int rec = CurKeyInfo_.Tag;
    if (rec < 1 || rec > records) {
      agree = false;
      break;
    }
    table->IndexViewRecord(rec);
    SolveExpression(key, changed);
    AdjustValue(key, true);
    agree = key.SizeVar() == CurKeyInfo_.SizeVar() &&
            std::memcmp(key.VarBuf(), CurKeyInfo_.VarBuf(), static_cast<size_t>(key.SizeVar())) == 0;
  }
  TagClose();
  WeightsChecked_ = agree ? 1 : -1;
  return agree;
}

// ---------------------------------------------------------------------------
// The bulk build

struct XBobjSortCDX::Rep {
  XBobjCDXTag& tag;
  XBobjIndexFile& file;
  const int kl;
  const uint8_t pad;
  const TLeafParams params;
  std::vector<uint8_t> padded;  // a key padded to the key length
  TxbVariant work;

  // One node being filled per level; level 0 is the leaves.
  struct TLevel {
    uint8_t node[kNode] = {};
    int offset = -1, left = -1, n = 0, written = 0;
    std::unique_ptr<TLeafPacker> packer;
    std::vector<uint8_t> last;  // its last key, padded
    uint32_t lastRec = 0;
  };
  std::vector<std::unique_ptr<TLevel>> levels;
  int64_t keyTot = 0;

  Rep(XBobjCDXTag& t, uint8_t padByte, uint32_t records)
      : tag(t),
        file(*t.Owner()),
        kl(t.KeyLength()),
        pad(padByte),
        params(LeafParams(kl, records, 3)),
        padded(static_cast<size_t>(kl)) {}

  int Take() {
    const int offset = file.GetAvailPage();
    if (offset < 0) XBRaise(xbmIndexCorrupted, {file.GetFileName()});
    return offset;
  }

  TLevel& Level(size_t i) {
    while (levels.size() <= i) levels.push_back(std::make_unique<TLevel>());
    return *levels[i];
  }

  void StartLeaf(TLevel& lv) {
    std::memset(lv.node, 0, kNode);
    lv.packer = std::make_unique<TLeafPacker>(kl, pad, params, lv.node);
  }

  // Writes the level's node, its right link `right`; its last key goes up.
  void Flush(size_t i, int right, bool root) {
    TLevel& lv = Level(i);
    const int attributes = (i == 0 ? 2 : 0) | (root ? 1 : 0);
    if (i == 0) {
      lv.packer->WriteHead(attributes, lv.left, right);
    } else {
      WriteInteriorHead(lv.node, attributes, lv.n, lv.left, right);
    }
    if (!file.PageWrite(lv.offset, lv.node, kNode)) XBRaise(xbmIndexCorrupted, {file.GetFileName()});
    ++lv.written;
    const int offset = lv.offset;
    lv.left = offset;
    lv.offset = right;
    lv.n = 0;
    if (!root) AddInterior(i + 1, lv.last.data(), lv.lastRec, offset);
  }

  void AddLeaf(const uint8_t* key, uint32_t rec) {
    TLevel& lv = Level(0);
    if (!lv.packer) StartLeaf(lv);
    const int len = Trimmed(key, kl, pad);
    if (lv.n > 0 && !lv.packer->Fits(lv.packer->Cost(key, len))) {
      Flush(0, Take(), false);
      StartLeaf(lv);
    }
    if (lv.offset < 0) lv.offset = Take();
    lv.packer->Add(key, len, rec);
    ++lv.n;
    lv.last.assign(key, key + kl);
    lv.lastRec = rec;
  }

  void AddInterior(size_t i, const uint8_t* key, uint32_t rec, int child) {
    TLevel& lv = Level(i);
    if (lv.n == tag.MaxKeys()) {
      Flush(i, Take(), false);
      std::memset(lv.node, 0, kNode);
    }
    if (lv.offset < 0) lv.offset = Take();
    uint8_t* entry = lv.node + kNodeData + lv.n * (kl + 8);
    std::memcpy(entry, key, static_cast<size_t>(kl));
    PutBE32(entry + kl, rec);
    PutBE32(entry + kl + 4, static_cast<uint32_t>(child));
    ++lv.n;
    lv.last.assign(key, key + kl);
    lv.lastRec = rec;
  }

  // The last node of each level is written; the level above the last one
  // that was ever full holds the root.
  int Finish() {
    for (size_t i = 0;; ++i) {
      TLevel& lv = Level(i);
      const bool root = lv.written == 0;
      const int offset = lv.offset;
      Flush(i, -1, root);
      if (root) return offset;
    }
  }
};

XBobjSortCDX::XBobjSortCDX(XBobjCDXTag& tag, size_t memoryBudget, const std::string& tempDir)
    : TxbSort(tag.KeyLength(), tag.KeyIsUnique(), true, nullptr, memoryBudget, tempDir) {
  XBobjIndexOwner* table = tag.Owner()->Owner();
  rep_ = std::make_unique<Rep>(tag, tag.PadByte(),
                               table ? static_cast<uint32_t>(std::max(0, table->IndexRecordCount())) : 0);
}

XBobjSortCDX::~XBobjSortCDX() = default;

int64_t XBobjSortCDX::KeyTot() const { return rep_->keyTot; }

void XBobjSortCDX::AddRecord(const TxbVariant& key, int rec) {
  // Fixed-length keys padded as the nodes pad them sort exactly as the
  // nodes compare them, whatever bytes they hold.
  Rep& r = *rep_;
  const int len = std::min(key.SizeVar(), r.kl);
  if (len > 0) std::memcpy(r.padded.data(), key.VarBuf(), static_cast<size_t>(len));
  std::memset(r.padded.data() + len, r.pad, static_cast<size_t>(r.kl - len));
  r.work.PutBinary(r.padded.data(), r.padded.size());
  AddKey(r.work, rec);
}

int XBobjSortCDX::WriteTree() {
  Rep& r = *rep_;
  TxbVariant key(r.kl);
  int32_t rec;
  for (bool more = GetFirstKey(key, rec); more; more = GetNextKey(key, rec)) {
    r.AddLeaf(key.VarBuf(), static_cast<uint32_t>(rec));
    ++r.keyTot;
  }
  if (r.keyTot == 0) {
    r.tag.WriteEmptyRoot();
    return r.tag.RootBlock();
  }
  return r.Finish();
}

// ---------------------------------------------------------------------------
// The file

XBobjCDXFile::XBobjCDXFile(XBobjIndexOwner* PDB, const std::string& FN, bool ReadWrite, bool Shared, bool Create,
                           bool Overwrite)
    : XBobjIndexFile(PDB) {
  KeyWithRec_ = true;
  SetCachePage(kNode);
  if (!IndexFileOpen(FN, ".cdx", ReadWrite, Shared, Create, Overwrite)) return;
  const int64_t size = FileCreated() ? 0 : DiskFile_->xbFileSize();
  try {
    if (size == 0) {
      if (DiskFile_->FileReadWrite()) MakeEmpty();
    } else if (size <= kNode || size > INT32_MAX) {
      Corrupted_ = true;
    } else {
      LoadDirectory();
    }
  } catch (const EXBaseError&) {
    if (FileCreated()) throw;
    Corrupted_ = true;
  }
  if (Corrupted_) {
    TagList().FreeAll();
  } else if (PDB && platform::AnsiUpperCase(FileBaseName(IndexName_)) ==
                        platform::AnsiUpperCase(FileBaseName(PDB->IndexTableFileName()))) {
    PDB->IndexMarkProduction();
  }
  CreateOK_ = !Corrupted_;
}

XBobjCDXFile::~XBobjCDXFile() {
  try {
    if (Directory_) Directory_->TagClose();
  } catch (...) {
    // Destruction cannot report; CloseFile raises these.
  }
  WriteOutOnDestroy();
  TagList().FreeAll();
  Directory_.reset();
}

void XBobjCDXFile::MakeEmpty() {
  NextAvail_ = 0;
  HighWater_ = 0;
  Directory_ = std::make_unique<XBobjCDXTag>(this, GetAvailPage(), true);
  GetAvailPage();
  Directory_->IndexTagNew("", "", "", true, false);
  Directory_->TagClose();
  Counter_ = 0;
}

void XBobjCDXFile::LoadDirectory() {
  ResetAvailPage();
  Directory_ = std::make_unique<XBobjCDXTag>(this, 0, true);
  Directory_->TagLoad();
  Counter_ = ReadCounter();
  const int64_t size = FileSize();
  for (bool more = Directory_->ReadTopKey(); more; more = Directory_->ReadNextKey()) {
    const int offset = Directory_->CurKeyInfo().Tag;
    if (offset < kNode || offset % kNode != 0 || int64_t{offset} + kHeader > size) RaiseCorrupted();
    auto tag = std::make_unique<XBobjCDXTag>(this, offset, false);
    tag->TagName_ = TagNameOf(Directory_->CurKeyInfo().GetString());
    tag->TagLoad();
    TagList().Add(std::move(tag));
  }
  Directory_->TagClose();
}

void XBobjCDXFile::InsertInNameOrder(std::unique_ptr<XBobjCDXTag> tag) {
  int at = 0;
  while (at < TagCount() && TagByNumber(at)->TagName() < tag->TagName()) ++at;
  TagList().Insert(at, std::move(tag));
}

void XBobjCDXFile::RemoveTag(XBobjIndexTag* tag) {
  tag->TagClose();
  XBobjIndexKeyData entry;
  entry.PutString(tag->TagName());
  entry.Tag = tag->TagBlock();
  Directory_->AdjustValue(entry, true);
  if (Directory_->SeekEntry(entry)) Directory_->DeleteCurrentKey();
  Directory_->TagClose();
  TagList().FreeOne(tag);
}

bool XBobjCDXFile::AddTag(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
                          bool Uniq) {
  CheckExpression(KeyExp, "the key expression");
  CheckExpression(ForExp, "the FOR expression");
  const AnsiString name = TagNameOf(ITN);
  if (name.empty()) XBRaise(xbmTagFieldEmpty);
  if (!DiskFile_ || !Directory_ || Corrupted_) XBRaise(xbmIndexCorrupted, {GetFileName()});
  TWholeFileLock lock(*this);
  if (XBobjIndexTag* old = TagByName(name)) RemoveTag(old);
  auto tag = std::make_unique<XBobjCDXTag>(this, GetAvailPage(), false);
  GetAvailPage();
  tag->SetCollation(NewTagCollation_);
  const bool built = tag->IndexTagNew(name, KeyExp, ForExp, Ascnd, Uniq);
  tag->TagClose();
  // Listed only once it is complete: a failed build leaves the directory
  // as it was.
  XBobjIndexKeyData entry;
  entry.PutString(name);
  entry.Tag = tag->TagBlock();
  Directory_->AdjustValue(entry, true);
  Directory_->KeyAdd(entry);
  Directory_->TagClose();
  InsertInNameOrder(std::move(tag));
  CountChange();
  return built;
}

bool XBobjCDXFile::DeleteTag(const AnsiString& ITN) {
  if (!DiskFile_) return false;
  TWholeFileLock lock(*this);
  XBobjIndexTag* tag = TagByName(TagNameOf(ITN));
  if (!tag) return false;
  RemoveTag(tag);
  if (TagCount() == 0) {
    Directory_.reset();
    DiscardCache();
    DiskFile_->xbTruncate(0);
    MakeEmpty();
  }
  CountChange();
  return true;
}

int XBobjCDXFile::GetAvailPage() {
  // Node offsets are ints: a file that would pass them is refused, not
  // wrapped.
  return TakeAvail(kNode, INT_MAX);
}

void XBobjCDXFile::ResetAvailPage() {
  // Whole nodes only: a file whose end is not on a node boundary grows
  // from the next one.
  // A file already past the largest node offset takes no more nodes
  // (GetAvailPage refuses INT_MAX) rather than a wrapped, negative one.
  const int64_t size = (FileSize() + kNode - 1) / kNode * kNode;
  NextAvail_ = static_cast<int>(std::min<int64_t>(std::max<int64_t>(size, HighWater_), INT_MAX));
}

void XBobjCDXFile::Reindex() {
  if (!DiskFile_ || !Directory_) return;
  TWholeFileLock lock(*this);
  const uint32_t counter = ReadCounter();
  for (int i = 0; i < TagCount(); ++i) TagByNumber(i)->TagClose();
  Directory_->TagClose();
  Directory_.reset();
  DiscardCache();
  DiskFile_->xbTruncate(0);
  MakeEmpty();
  for (int i = 0; i < TagCount(); ++i) {
    XBobjCDXTag* tag = Tag(i);
    tag->Rebuild();
    XBobjIndexKeyData entry;
    entry.PutString(tag->TagName());
    entry.Tag = tag->TagBlock();
    Directory_->AdjustValue(entry, true);
    Directory_->KeyAdd(entry);
    Directory_->TagClose();
  }
  Counter_ = counter;
  CountChange();
}

uint32_t XBobjCDXFile::ReadCounter() {
  uint8_t b[kNode];
  if (!PageRead(0, b, kNode)) RaiseCorrupted();
  return GetBE32(b + kCounterAt);
}

void XBobjCDXFile::WriteCounter() {
  uint8_t b[kNode];
  if (!PageRead(0, b, kNode)) RaiseCorrupted();
  PutBE32(b + kCounterAt, Counter_);
  if (!PageWrite(0, b, kNode)) RaiseCorrupted();
}

void XBobjCDXFile::CountChange() {
  // Counted on from what the file holds: another program may have counted
  // since we last looked.
  Counter_ = std::max(Counter_, ReadCounter()) + 1;
  WriteCounter();
}

bool XBobjCDXFile::TagUpdate(int AKey, bool IsAppend) {
  const bool changed = XBobjIndexFile::TagUpdate(AKey, IsAppend);
  if (changed && DiskFile_) CountChange();
  return changed;
}

void XBobjCDXFile::Reload() {
  const int64_t size = FileSize();
  std::vector<std::pair<AnsiString, int>> listed;
  if (size > 0) {
    if (size <= kNode || size > INT32_MAX) RaiseCorrupted();
    if (!Directory_) Directory_ = std::make_unique<XBobjCDXTag>(this, 0, true);
    Directory_->ForgetPath();
    Directory_->TagLoad();
    Counter_ = ReadCounter();
    for (bool more = Directory_->ReadTopKey(); more; more = Directory_->ReadNextKey()) {
      const int offset = Directory_->CurKeyInfo().Tag;
      if (offset < kNode || offset % kNode != 0 || int64_t{offset} + kHeader > size)
        RaiseCorrupted();
      listed.emplace_back(TagNameOf(Directory_->CurKeyInfo().GetString()), offset);
    }
    Directory_->TagClose();
  } else {
    // Emptied by another program: no tags until one is added.
    Directory_.reset();
  }
  Relist(listed, [this](const AnsiString& name, int offset) {
    auto tag = std::make_unique<XBobjCDXTag>(this, offset, false);
    tag->TagName_ = name;
    return tag;
  });
}

void XBobjCDXFile::CheckUpdatable() {
  for (int i = 0; i < TagCount(); ++i) {
    XBobjCDXTag* tag = Tag(i);
    if (!tag->WeightsAgree())
      throw EXBaseError("Index tag " + tag->TagName() + " of file " + GetFileName() +
                        " orders its keys by another program's collation: rebuild the index before writing");
  }
}

}  // namespace xbase
