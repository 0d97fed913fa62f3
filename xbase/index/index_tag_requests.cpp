// The index framework's tags as the table handler uses them: ranges, finds
// and reads by the handler's codes, keeping a tag in step with a changed
// record, filters from keys, key counts and positions by percent, and
// adding keys (index_framework.h).
#include "xbase/index/index_framework.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "xbase/base/utilities.h"

namespace xbase {

// ---------------------------------------------------------------------------
// The tag: what the table handler asks

int XBobjIndexTag::RangeSide(const TxbVariant& key) const {
  if (!RangeHi_.IsEmpty()) {
    const int c = CompareKey(RangeHi_, key, RangeExtent_);
    if (c < 0 || (c == 0 && !HiInRange_)) return 1;
  }
  if (!RangeLo_.IsEmpty()) {
    const int d = CompareKey(RangeLo_, key, Partial);
    if (d > 0 || (d == 0 && !LoInRange_)) return -1;
  }
  return 0;
}

void XBobjIndexTag::RangeCheck() {
  if (TagUpdating_ || !GetRangeActive() || TagBOF_ || TagEOF_) return;
  const int side = RangeSide(CurKeyInfo_);
  TagEOF_ = side > 0;
  TagBOF_ = side < 0;
}

int XBobjIndexTag::KeyInRange() const {
  if (TagUpdating_ || !GetRangeActive()) return 0;
  if (TagEOF_) return 1;
  if (TagBOF_) return -1;
  if (!RangeHi_.IsEmpty()) {
    const int c = CompareKey(RangeHi_, CurKeyInfo_, RangeExtent_);
    if (c < 0 || (c == 0 && !HiInRange_)) return -1;
  }
  if (RangeLo_.IsEmpty()) return 0;
  const int d = CompareKey(RangeLo_, CurKeyInfo_, Partial);
  return d < 0 || (d == 0 && LoInRange_) ? 0 : d == 0 ? 1 : 2;
}

int XBobjIndexTag::KeyFind(const XBobjIndexKeyData& Key) {
  XBobjIndexOwner* table = Owner_->Owner();
  Owner_->SetExact(table == nullptr || table->IndexExactMatch());
  TagOpen(2);
  TagBOF_ = TagEOF_ = false;
  // The tag's own search key: its buffer is kept from find to find.
  XBobjIndexKeyData& key = SearchKey_;
  key.AssignLinks(Key);
  AdjustValue(key, false);
  const int mode = Owner_->Exact() || TagUpdating_ ? Whole : Partial;
  if (InvertRead_ && key.Tag <= 0) {
    // Read backwards, the first match is the last one stored: seek past the
    // keys equal to (or beginning with) the search key and step back. No
    // match leaves the tag on the next key in reading order.
    SeekKey(AfterEqual, key, mode);
    if (!ReadPreviousKey()) {
      TagEOF_ = true;
      return 0;
    }
    const int side = KeyInRange();
    if (CompareKey(key, CurKeyInfo_, mode) == 0) {
      if (side == 0) return CurKeyInfo_.Tag;
      TagEOF_ = true;
    } else if (side > 0) {
      TagEOF_ = true;
    }
    return 0;
  }
  const int c = SeekKey(key.Tag, key, mode);
  if (c == 1) {
    TagEOF_ = true;
    return 0;
  }
  RetrieveKey();
  if (c == 0) {
    if (KeyInRange() != 0) {
      TagEOF_ = true;
      return 0;
    }
    return CurKeyInfo_.Tag;
  }
  if (KeyInRange() == -1) TagEOF_ = true;
  return 0;
}

int XBobjIndexTag::KeyRead(int TypRead) {
  if (InvertRead_) {
    if (TypRead == -3 || TypRead == -4) TypRead = -7 - TypRead;
    if (TypRead == -1 || TypRead == -2) TypRead = -3 - TypRead;
  }
  CurKeyInfo_.Tag = 0;
  TagBOF_ = TagEOF_ = false;
  const bool ranged = GetRangeActive() && !TagUpdating_;
  switch (TypRead) {
    case -5:
      FollowChanges();
      TagEOF_ = TagBOF_ = !ReadCurrentKey();
      RangeCheck();
      break;
    case -3:
      TagOpen(2);
      if (!ranged || RangeLo_.IsEmpty()) {
        TagEOF_ = !ReadTopKey();
      } else if (SeekKey(LoInRange_ ? AnyRecord : AfterEqual, RangeLo_, Partial) == 1) {
        TagEOF_ = true;
      } else {
        RetrieveKey();
      }
      RangeCheck();
      TagBOF_ = TagEOF_ = TagBOF_ || TagEOF_;
      break;
    case -4: {
      TagOpen(2);
      bool on;
      if (!ranged || RangeHi_.IsEmpty()) {
        on = ReadBottomKey();
      } else if (SeekKey(HiInRange_ ? AfterEqual : AnyRecord, RangeHi_, RangeExtent_) == 1) {
        on = ReadBottomKey();
      } else {
        on = ReadPreviousKey();
      }
      // Back over keys above the range, should the seek have left any.
      while (on && ranged && RangeSide(CurKeyInfo_) > 0) on = ReadPreviousKey();
      TagBOF_ = !on;
      RangeCheck();
      TagBOF_ = TagEOF_ = TagBOF_ || TagEOF_;
      break;
    }
    case -1:
      FollowChanges();
      TagEOF_ = !ReadNextKey();
      RangeCheck();
      break;
    case -2:
      FollowChanges();
      TagBOF_ = !ReadPreviousKey();
      RangeCheck();
      break;
    default: break;
  }
  if (TagBOF_ || TagEOF_) {
    if (InvertRead_) std::swap(TagBOF_, TagEOF_);
    return 0;
  }
  return OnLeafEntry() ? CurKeyInfo_.Tag : 0;
}

int XBobjIndexTag::KeySync(int ATag) {
  if (RootPage_ && ATag != 0 && CurKeyInfo_.Tag == ATag && OnLeafEntry()) return ATag;
  TagOpen(1);
  return CurKeyInfo_.Tag;
}

bool XBobjIndexTag::SetRange(const TxbVariant& RLo, bool LoIn, const TxbVariant& RHi, bool HiIn, bool Partial) {
  RangeLo_.Clear();
  RangeHi_.Clear();
  if (!RLo.IsEmpty()) {
    RangeLo_.AssignValue(RLo);
    AdjustValue(RangeLo_, false);
  }
  if (!RHi.IsEmpty()) {
    RangeHi_.AssignValue(RHi);
    AdjustValue(RangeHi_, false);
  }
  RangeExtent_ = Partial ? XBobjIndexTag::Partial : Whole;
  LoInRange_ = LoIn;
  HiInRange_ = HiIn;
  KeyRead(-3);
  return true;
}

void XBobjIndexTag::GetRange(TxbVariant& RLo, TxbVariant& RHi) const {
  RLo.Assign(&RangeLo_);
  RHi.Assign(&RangeHi_);
}

namespace {

// Points the table's record buffer at its stored record while it lives.
class TOrigRecScope {
 public:
  explicit TOrigRecScope(XBobjIndexOwner& table) : table_(table) { table_.IndexUseOrigRec(true); }
  ~TOrigRecScope() { table_.IndexUseOrigRec(false); }
  TOrigRecScope(const TOrigRecScope&) = delete;
  TOrigRecScope& operator=(const TOrigRecScope&) = delete;

 private:
  XBobjIndexOwner& table_;
};

}  // namespace

bool XBobjIndexTag::KeyUpdate(int AKey, bool IsAppend) {
  KeyUpdated_ = false;
  XBobjIndexOwner* table = Owner_->Owner();
  // An appended record always brings its key; a rewrite changes nothing
  // that its key could depend on unless the record was modified.
  if (!table || (!IsAppend && !Conditional_ && !table->IndexRecModified())) return false;
  const bool wasOpen = RootPage_ != nullptr;
  {
    TValueScope<bool> updating(TagUpdating_, true);
    bool changed;
    XBobjIndexKeyData fresh;
    SolveExpression(fresh, changed);
    AdjustValue(fresh, true);
    fresh.Tag = fresh.Xtra = AKey;
    const bool forOK = !Conditional_ || SolveFilter();
    if (IsAppend) {
      if (forOK) KeyUpdated_ = KeyAdd(fresh);
    } else {
      XBobjIndexKeyData old;
      bool oldForOK;
      {
        TOrigRecScope stored(*table);
        SolveExpression(old, changed);
        oldForOK = !Conditional_ || SolveFilter();
      }
      AdjustValue(old, true);
      old.Tag = old.Xtra = AKey;
      // A record the FOR condition kept out has no entry to hunt for
      // through the whole tag.
      const bool found = oldForOK ? SeekEntry(old) : SeekKeyRecord(old);
      if (CompareKey(old, fresh, Whole) == 0 && (!Conditional_ || forOK)) {
        if (!found) KeyUpdated_ = KeyAdd(fresh);
      } else {
        if (found) {
          DeleteCurrentKey();
          KeyUpdated_ = true;
        }
        if (forOK && KeyAdd(fresh)) KeyUpdated_ = true;
      }
    }
  }
  if (wasOpen) {
    TagOpen(2);
  } else {
    TagClose();
  }
  return KeyUpdated_;
}

void XBobjIndexTag::Restore(const XBobjIndexKeyData& current, bool bof, bool eof) {
  TagOpen(2);
  if (current.Tag != 0) SeekEntry(current);
  TagBOF_ = bof;
  TagEOF_ = eof;
}

int XBobjIndexTag::HuntDuplicate(const XBobjIndexKeyData& Key) {
  FollowChanges();
  XBobjIndexKeyData current;
  current.AssignLinks(CurKeyInfo_);
  const bool bof = TagBOF_, eof = TagEOF_;
  int found;
  {
    // Exact and without the range: a unique tag must not hold the key
    // anywhere.
    TValueScope<bool> updating(TagUpdating_, true);
    XBobjIndexKeyData key;
    key.AssignLinks(Key);
    key.Tag = AnyRecord;
    found = KeyFind(key);
  }
  Restore(current, bof, eof);
  return found;
}

int XBobjIndexTag::KeyFilter(int argOperator, const TxbVariant& Key, TxbHugeSet& FilterSet) {
  FilterSet.Clear();
  if (RootBlock_ <= 0) return -1;
  XBobjIndexKeyData key;
  key.AssignValue(Key);
  AdjustValue(key, false);
  TagOpen(2);
  // A tag stored in descending order (its comparison inverted) holds the
  // keys above `Key` where an ascending one holds those below it.
  if (InvertCmpr_) {
    static constexpr int kMirror[] = {129, 0, 132, 131, 134, 133};  // 129..134
    if (argOperator >= 129 && argOperator <= 134) argOperator = kMirror[argOperator - 129];
  }
  // From where the keys begin to pass, while they pass.
  bool on = false;
  auto passes = [&] {
    const int c = CompareKey(key, CurKeyInfo_, Whole);
    switch (argOperator) {
      case 129: return c == 0;
      case 132: return c > 0;
      case 134: return c >= 0;
      default: return true;  // 131 and 133 run to the end
    }
  };
  switch (argOperator) {
    case 129:
    case 133:
      on = SeekKey(AnyRecord, key, Whole) != 1;
      break;
    case 131: on = SeekKey(AfterEqual, key, Whole) != 1; break;
    case 132:
    case 134: on = ReadTopKey(); break;
    default: return 0;
  }
  if (on && (argOperator == 129 || argOperator == 131 || argOperator == 133)) RetrieveKey();
  for (; on && passes(); on = ReadNextKey())
    if (CurKeyInfo_.Tag > 0) FilterSet.ChangeBit(static_cast<uint32_t>(CurKeyInfo_.Tag), 1);
  return 0;
}

int XBobjIndexTag::CountKeys() {
  int n = 0;
  for (int rec = KeyRead(-3); rec != 0; rec = KeyRead(-1)) ++n;
  return n;
}

int XBobjIndexTag::GetRangeCount() {
  XBobjIndexOwner* table = Owner_->Owner();
  if (!Conditional_ && !GetRangeActive() && table) return table->IndexRecordCount();
  XBobjIndexKeyData current;
  current.AssignLinks(CurKeyInfo_);
  const bool bof = TagBOF_, eof = TagEOF_;
  const int n = CountKeys();
  Restore(current, bof, eof);
  return n;
}

double XBobjIndexTag::GetKeyPercent(int rnum, bool exact) {
  if (!exact && !GetRangeActive()) {
    if (!OnLeafEntry()) return 0;
    double pos = 0, scale = 1;
    for (XBobjIndexKey* p = RootPage_.get(); p; p = p->Child.get()) {
      const int n = std::max(1, p->Count());
      pos += scale * p->CurKey / n;
      scale /= n;
    }
    return InvertRead_ ? 1 - pos : pos;
  }
  XBobjIndexKeyData current;
  current.AssignLinks(CurKeyInfo_);
  const bool bof = TagBOF_, eof = TagEOF_;
  int n = 0, at = -1;
  for (int rec = KeyRead(-3); rec != 0; rec = KeyRead(-1), ++n)
    if (rec == rnum && at < 0) at = n;
  Restore(current, bof, eof);
  return n == 0 || at < 0 ? 0 : static_cast<double>(at) / n;
}

int XBobjIndexTag::SetKeyPercent(double APct, bool exact) {
  if (APct <= 0.001) return KeyRead(-3);
  if (APct > 0.999) return KeyRead(-4);
  if (!exact && !GetRangeActive()) {
    TagOpen(2);
    TagBOF_ = TagEOF_ = false;
    double pct = InvertRead_ ? 1 - APct : APct;
    XBobjIndexKey* page = RootPage_.get();
    for (;;) {
      ReleaseChild(*page);
      const int n = page->Count();
      if (n == 0) return KeyRead(-3);
      const int i = std::clamp(static_cast<int>(pct * n), 0, n - 1);
      pct = pct * n - i;
      page->CurKey = i;
      if (page->IsLeaf()) break;
      page = LoadChild(*page, page->Items(i)->Tag);
    }
    RetrieveKey();
    return CurKeyInfo_.Tag;
  }
  const int count = CountKeys();
  const int n = static_cast<int>(std::lround(count * APct));
  if (n <= 0) return KeyRead(-3);
  if (n >= count) return KeyRead(-4);
  int rec = KeyRead(-3);
  for (int i = 0; i < n && rec != 0; ++i) rec = KeyRead(-1);
  return rec;
}

bool XBobjIndexTag::KeyAdd(XBobjIndexKeyData& Key) {
  if (!RootPage_) TagOpen(2);
  if (UniqueKey_ && SeekKey(AnyRecord, Key, Whole) == 0) return false;
  const bool withRec = Owner_->KeyWithRec();
  const int c = SeekKey(withRec ? Key.Tag : AfterEqual, Key, Whole);
  if (!(c == 0 && withRec)) {
    // Past the end of the leaf reached is after the last key of the tag.
    InsertKey(*LeafPage(), Key, false);
    // A key update closes or reopens the tag after its adds: storing the
    // path here and finding the key again would be thrown away.
    if (TagUpdating_) return true;
    TagOpen(2);
  }
  if (TagUpdating_) return true;
  // Stand on the new key: with record order it is found by key and record;
  // otherwise it is the last of its equal keys (inverted comparisons too:
  // equal keys keep the order of adding in either direction).
  if (withRec) {
    SeekEntry(Key);
  } else {
    SeekKey(AfterEqual, Key, Whole);
    ReadPreviousKey();
  }
  const int flags = OnLeafEntry() ? RetrieveKey() : 0;
  TagBOF_ = (flags & (InvertRead_ ? 2 : 1)) != 0;
  TagEOF_ = (flags & (InvertRead_ ? 1 : 2)) != 0;
  return true;
}

void XBobjIndexTag::StorePiece(XBobjIndexKey& page) { PageWriteImage(page); }

void XBobjIndexTag::SplitOff(XBobjIndexKey& page, int first, int block) {
  auto piece = NewPage();
  piece->PageType = page.IsLeaf() ? XBsetPageType::Leaf : XBsetPageType::Node;
  piece->Page = block;
  XBobjIndexKeyData separator;
  separator.AssignLinks(*page.Items(first - 1));
  separator.Tag = block;
  AddNodeKey(page, separator);
  page.MoveFirstEntries(first, *piece);
  if (page.CurKey >= first) page.CurKey -= first;
  StoreNewPiece(std::move(piece));
}

void XBobjIndexTag::StoreNewPiece(std::unique_ptr<XBobjIndexKey> piece) {
  PageWriteImage(*piece);
  Owner_->Recycle(std::move(piece));
}

}  // namespace xbase
