#include "xbase/index/index_framework.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/CodePage.h"
#include "xbase/base/errors.h"
#include "xbase/base/scrambling.h"
#include "xbase/expr/expression.h"

namespace xbase {

namespace {

// Sets a flag for the life of the object and puts it back after.
class TFlagScope {
 public:
  TFlagScope(bool& flag, bool value) : flag_(flag), old_(flag) { flag = value; }
  ~TFlagScope() { flag_ = old_; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& flag_;
  bool old_;
};

int Sign(int64_t v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

bool IsBlank(const AnsiString& s) { return s.find_first_not_of(' ') == AnsiString::npos; }

}  // namespace

XBobjIndexOwner::~XBobjIndexOwner() = default;

bool XBobjIndexOwner::IndexFieldSize(std::string_view, int&, int&) const { return false; }

// ---------------------------------------------------------------------------
// Keys and pages

void XBobjIndexKeyData::AssignValue(const TxbVariant& source) {
  if (&source == this) return;
  const int n = source.SizeVar();
  uint8_t* p = Reserve(source.TypeVar(), n);
  if (n > 0) std::memcpy(p, source.VarBuf(), static_cast<size_t>(n));
}

void XBobjIndexKeyData::AssignLinks(const XBobjIndexKeyData& source) {
  AssignValue(source);
  Tag = source.Tag;
  Xtra = source.Xtra;
}

std::unique_ptr<XBobjIndexKeyData> XBobjIndexKeyData::CloneLinks() const {
  auto copy = std::make_unique<XBobjIndexKeyData>();
  copy->AssignLinks(*this);
  return copy;
}

XBobjIndexKey::~XBobjIndexKey() { FreeAll(); }

XBobjIndexKeyData* XBobjIndexKey::InsertEntry(int index) {
  std::unique_ptr<XBobjIndexKeyData> entry;
  if (!spare_.empty()) {
    entry = std::move(spare_.back());
    spare_.pop_back();
  } else {
    entry = std::make_unique<XBobjIndexKeyData>();
  }
  entry->Tag = entry->Xtra = 0;
  return Insert(index, std::move(entry));
}

void XBobjIndexKey::RemoveEntry(int index) { FreeItem(Extract(index)); }

void XBobjIndexKey::MoveFirstEntries(int n, XBobjIndexKey& target) {
  for (int i = 0; i < n; ++i) target.Add(Extract(0));
}

void XBobjIndexKey::FreeItem(std::unique_ptr<XBobjIndexKeyData> item) {
  // Splits hand entries from one page object to another, so that the
  // spares of pooled objects would grow by about one entry per key added.
  if (spare_.size() < MaxSpares) spare_.push_back(std::move(item));
}

void XBobjIndexKey::Reset(XBobjIndexTag* tag) {
  // From the back, so that the list keeps its room for the next load.
  while (Count() > 0) RemoveEntry(Count() - 1);
  Page = 0;
  Left = Right = -1;
  Owner = nullptr;
  Child.reset();
  NewRoot.reset();
  TagParent = tag;
  PageType = XBsetPageType::Unknown;
  CurKey = NoPosition;
  SourceSlot = -1;
  SourceStamp = 0;
  Changed = IsRoot = LastEntry = Reload = ChkBOF = ChkEOF = false;
  Space = 0;
  RNMask = 0;
  DCMask = TCMask = RNBits = DCBits = TCBits = ReqByte = 0;
  Level = 1;
}

// ---------------------------------------------------------------------------
// The tag: opening, the path, reading

XBobjIndexTag::XBobjIndexTag(XBobjIndexFile* owner) : Owner_(owner) {}

XBobjIndexTag::~XBobjIndexTag() {
  try {
    TagClose();
    TagStore();
  } catch (...) {
    // Destruction cannot report; TagClose and CloseFile raise these.
  }
}

void XBobjIndexTag::AdjustValue(TxbVariant&, bool) {}

bool XBobjIndexTag::IndexTagNew(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp,
                                bool Ascnd, bool Uniq) {
  TagName_ = ITN;
  AscendKey_ = Ascnd;
  UniqueKey_ = Uniq;
  SetExpressions(KeyExp, ForExp);
  return true;
}

void XBobjIndexTag::SetExpressions(const AnsiString& keyExpr, const AnsiString& forExpr) {
  KeyExpr_ = keyExpr;
  ForExpr_ = forExpr;
  Conditional_ = !IsBlank(forExpr);
  PostTagExpression();
  PostTagFilter();
}

int XBobjIndexTag::GetTagRoot() { return RootBlock_; }

void XBobjIndexTag::PageLoad(int, XBobjIndexKey&) { RaiseCorrupted(); }

void XBobjIndexTag::PageStore(XBobjIndexKey& PIK) { StorePiece(PIK); }

void XBobjIndexTag::TagLoad() { TagChanged_ = false; }

void XBobjIndexTag::TagStore() { TagChanged_ = false; }

void XBobjIndexTag::PageWriteImage(XBobjIndexKey&) {}

bool XBobjIndexTag::StoresNoKey(const XBobjIndexKey&) const { return false; }

bool XBobjIndexTag::NodesHoldKeys() const { return false; }

bool XBobjIndexTag::OnRightmostPath(const XBobjIndexKey& page) {
  for (const XBobjIndexKey* p = &page; p->Owner; p = p->Owner)
    if (p->Owner->CurKey != p->Owner->Count() - 1) return false;
  return true;
}

std::unique_ptr<TxbExpHandler> XBobjIndexTag::Compile(const AnsiString& text) {
  XBobjIndexOwner* table = Owner_->Owner();
  return std::make_unique<TxbExpHandler>(table ? table->IndexExpLink() : nullptr, text,
                                         table ? table->IndexAlias() : AnsiString());
}

void XBobjIndexTag::PostTagExpression() {
  ExprHandlr_.reset();
  if (!IsBlank(KeyExpr_)) ExprHandlr_ = Compile(KeyExpr_);
}

void XBobjIndexTag::PostTagFilter() {
  FltrHandlr_.reset();
  if (!IsBlank(ForExpr_)) FltrHandlr_ = Compile(ForExpr_);
}

bool XBobjIndexTag::SolveExpression(TxbVariant& AVar, bool& Chg) {
  Chg = true;
  if (!ExprHandlr_) return false;
  ExprHandlr_->ExpressionAsVariant(AVar);
  return true;
}

bool XBobjIndexTag::SolveFilter() {
  if (!FltrHandlr_) return false;
  TxbExpValue v;
  FltrHandlr_->ExpressionResult(v);
  return v.Kind() == TxbExpValue::vkBoolean && v.Boolean();
}

AnsiString XBobjIndexTag::GetIndexExpression() const { return ExprHandlr_ ? ExprHandlr_->Expression() : AnsiString(); }

bool XBobjIndexTag::LockOwner() { return Owner_->IndexLock(); }

void XBobjIndexTag::ForEachRecordKey(XBobjIndexKeyData& key,
                                     const std::function<void(const XBobjIndexKeyData&, int)>& add) {
  XBobjIndexOwner* table = Owner_->Owner();
  const int records = table ? table->IndexRecordCount() : 0;
  if (records <= 0) return;
  bool changed;
  table->IndexStatus(0, records, 0);
  for (int rec = 1; rec <= records; ++rec) {
    table->IndexReadRecord(rec);
    // The FOR condition holds for a built tag as for one kept by adds.
    if (Conditional_ && !SolveFilter()) continue;
    SolveExpression(key, changed);
    AdjustValue(key, true);
    add(key, rec);
    if (rec % 4096 == 0) table->IndexStatus(rec, records, 0);
  }
  table->IndexStatus(records, records, 0);
}

void XBobjIndexTag::RaiseCorrupted() const { XBRaise(xbmIndexCorrupted, {Owner_->GetFileName()}); }

void XBobjIndexTag::CloseOnDestroy() {
  try {
    TagClose();
  } catch (...) {
    // Destruction cannot report; TagClose and CloseFile raise these.
  }
}

void XBobjIndexTag::KeyFormOfExpression(int numberLength, int dateLength) {
  TxbVariant sample(256);
  bool changed;
  if (!SolveExpression(sample, changed)) XBRaise(xbmNoIndexKey);
  switch (sample.TypeVar()) {
    case xbvtText:
      KeyType_ = 'C';
      KeyLength_ = sample.SizeVar();
      break;
    case xbvtBoolean:
      KeyType_ = 'C';
      KeyLength_ = 1;
      break;
    case xbvtFloat:
      KeyType_ = 'N';
      KeyLength_ = numberLength;
      break;
    case xbvtDate:
      KeyType_ = 'D';
      KeyLength_ = dateLength;
      break;
    default: XBRaise(xbmNoIndexKey);
  }
}

char XBobjIndexTag::SampledKeyType(TxbVariant& sample) {
  bool changed;
  if (!Owner_->Owner() || !SolveExpression(sample, changed)) return 0;
  return sample.TypeVar() == xbvtFloat ? 'N' : sample.TypeVar() == xbvtDate ? 'D' : 'C';
}

int XBobjIndexTag::CompareKey(const TxbVariant& key, const TxbVariant& entry, int ifPartial) const {
  int endPos;
  const int c = key.Compare(&entry, endPos, ifPartial);
  return InvertCmpr_ ? -c : c;
}

std::unique_ptr<XBobjIndexKey> XBobjIndexTag::NewPage() { return Owner_->NewPageObject(this); }

bool XBobjIndexTag::DecodesPagesAlone() const { return false; }

size_t XBobjIndexTag::DecodedSlot(int block) {
  return static_cast<uint32_t>(block) * 2654435761u >> (32 - DecodedBits);
}

std::unique_ptr<XBobjIndexKey> XBobjIndexTag::LoadPage(int block, XBobjIndexKey* owner) {
  std::unique_ptr<XBobjIndexKey> page;
  if (!Decoded_.empty()) {
    std::unique_ptr<XBobjIndexKey>& kept = Decoded_[DecodedSlot(block)];
    if (kept && kept->Page == block && Owner_->SourceUnchanged(*kept)) page = std::move(kept);
  }
  if (page) {
    page->Owner = owner;
    page->Level = owner ? owner->Level + 1 : 1;
    return page;
  }
  page = NewPage();
  // A format may read its page by the parent's entry that leads to it.
  page->Owner = owner;
  page->Level = owner ? owner->Level + 1 : 1;
  try {
    Owner_->BeginPageLoad();
    PageLoad(block, *page);
  } catch (...) {
    Owner_->Recycle(std::move(page));
    throw;
  }
  Owner_->EndPageLoad(*page);
  return page;
}

void XBobjIndexTag::KeepDecoded(std::unique_ptr<XBobjIndexKey> page) {
  if (Decoded_.empty()) Decoded_.resize(size_t{1} << DecodedBits);
  page->Owner = nullptr;
  page->CurKey = XBobjIndexKey::NoPosition;
  std::unique_ptr<XBobjIndexKey>& slot = Decoded_[DecodedSlot(page->Page)];
  if (slot) Owner_->Recycle(std::move(slot));
  slot = std::move(page);
}

void XBobjIndexTag::DropDecoded() {
  for (auto& page : Decoded_)
    if (page) Owner_->Recycle(std::move(page));
}

void XBobjIndexTag::ReleasePage(std::unique_ptr<XBobjIndexKey> page) {
  if (page->Child) ReleasePage(std::move(page->Child));
  if (page->Changed) {
    PageStore(*page);
    page->Changed = false;
  } else if (page->SourceStamp != 0 && DecodesPagesAlone()) {
    // Unchanged since it was read from bytes that the cache still holds:
    // the next load of the page takes it as it is.
    KeepDecoded(std::move(page));
    return;
  }
  std::unique_ptr<XBobjIndexKey> root = std::move(page->NewRoot);
  Owner_->Recycle(std::move(page));
  // A root made above the page by its split is stored after it.
  if (root) {
    root->Owner = nullptr;
    ReleasePage(std::move(root));
  }
}

void XBobjIndexTag::ReleaseChild(XBobjIndexKey& page) {
  if (page.Child) ReleasePage(std::move(page.Child));
}

XBobjIndexKey* XBobjIndexTag::LoadChild(XBobjIndexKey& page, int block) {
  ReleaseChild(page);
  if (page.Level >= MaxDepth) RaiseCorrupted();
  auto child = LoadPage(block, &page);
  child->CurKey = XBobjIndexKey::NoPosition;
  page.Child = std::move(child);
  return page.Child.get();
}

XBobjIndexKey* XBobjIndexTag::LeafPage() const {
  XBobjIndexKey* page = RootPage_.get();
  while (page && page->Child) page = page->Child.get();
  return page;
}

int XBobjIndexTag::PathDepth() const {
  int n = 0;
  for (XBobjIndexKey* page = RootPage_.get(); page; page = page->Child.get()) ++n;
  return n;
}

bool XBobjIndexTag::PathReusable() const {
  // Only the block cache of a file no one else writes can tell that a page
  // is still what the file holds.
  if (!Owner_->Caching()) return false;
  for (const XBobjIndexKey* p = RootPage_.get(); p; p = p->Child.get())
    if (p->Changed || p->NewRoot || !Owner_->SourceUnchanged(*p)) return false;
  return true;
}

XBobjIndexKey* XBobjIndexTag::Descend(XBobjIndexKey& page, int block, bool reuse) {
  if (reuse && page.Child && page.Child->Page == block) {
    page.Child->CurKey = XBobjIndexKey::NoPosition;
    return page.Child.get();
  }
  return LoadChild(page, block);
}

void XBobjIndexTag::TagOpen(int Posn) {
  if (RootPage_ && RootPage_->IsRoot && RootPage_->Page == RootBlock_ && PathReusable()) {
    // No one else writes the file and nothing on the path changed: its
    // pages are what the file holds, and the next descent goes through
    // them again instead of reading them anew. Only the position goes.
    for (XBobjIndexKey* p = RootPage_.get(); p; p = p->Child.get()) p->CurKey = XBobjIndexKey::NoPosition;
    TagStore();
    CurKeyInfo_.Tag = 0;
  } else {
    OpenRoot();
  }
  RootPage_->Owner = nullptr;
  RootPage_->Level = 1;
  RootPage_->CurKey = XBobjIndexKey::NoPosition;
  if (Posn == 0) {
    KeyRead(-3);
  } else if (Posn == 1) {
    XBobjIndexOwner* table = Owner_->Owner();
    const int rec = table ? table->IndexRecNumber() : 0;
    if (ExprHandlr_ && rec >= 1 && rec <= table->IndexRecordCount() && RootPage_->Count() > 0) {
      XBobjIndexKeyData key;
      bool changed;
      SolveExpression(key, changed);
      AdjustValue(key, true);
      key.Tag = key.Xtra = rec;
      SeekKeyRecord(key);
      if (KeyRead(-5) != 0) return;
    }
    KeyRead(-3);
  }
}

void XBobjIndexTag::OpenRoot() {
  TagClose();
  RootPage_ = LoadPage(RootBlock_);
  if (!RootPage_->IsRoot) {
    Owner_->Recycle(std::move(RootPage_));
    RootBlock_ = GetTagRoot();
    RootPage_ = LoadPage(RootBlock_);
    if (!RootPage_->IsRoot) {
      Owner_->Recycle(std::move(RootPage_));
      XBRaise(xbmIndexCorrupted, {TagName_ + "->" + Owner_->IndexName()});
    }
  }
}

void XBobjIndexTag::TagClose() {
  if (RootPage_) ReleasePage(std::move(RootPage_));
  TagStore();
  CurKeyInfo_.Tag = 0;
}

void XBobjIndexTag::TagFlush() {
  if (RootPage_) {
    XBobjIndexKeyData current;
    current.AssignLinks(CurKeyInfo_);
    const bool bof = TagBOF_, eof = TagEOF_;
    ReleasePage(std::move(RootPage_));
    Restore(current, bof, eof);
  }
  TagStore();
}

int XBobjIndexTag::RetrieveKey() {
  XBobjIndexKey* leaf = LeafPage();
  const XBobjIndexKeyData& e = *leaf->Items(leaf->CurKey);
  CurKeyInfo_.AssignValue(e);
  CurKeyInfo_.Tag = e.Tag;
  CurKeyInfo_.Xtra = e.Xtra;
  CurKeyPage_ = leaf->Page;
  bool first = true, last = true;
  for (XBobjIndexKey* p = RootPage_.get(); p; p = p->Child.get()) {
    p->ChkBOF = p->CurKey == 0;
    p->ChkEOF = p->CurKey == p->Count() - 1;
    first = first && p->ChkBOF;
    last = last && p->ChkEOF;
  }
  return (first ? 1 : 0) + (last ? 2 : 0);
}

bool XBobjIndexTag::DescendEdge(XBobjIndexKey* page, bool forward) {
  const bool reuse = PathReusable();
  for (;;) {
    const int n = page->Count();
    if (page->IsLeaf() || n == 0) {
      if (reuse) ReleaseChild(*page);
      page->CurKey = forward ? 0 : n - 1;
      return n > 0 && page->IsLeaf();
    }
    if (!reuse) ReleaseChild(*page);
    page->CurKey = forward ? 0 : page->Count() - 1;
    page = Descend(*page, page->Items(page->CurKey)->Tag, reuse);
  }
}

bool XBobjIndexTag::StepLeaf(bool forward) {
  XBobjIndexKey* leaf = LeafPage();
  for (;;) {
    XBobjIndexKey* p = leaf->Owner;
    while (p && (forward ? p->CurKey + 1 >= p->Count() : p->CurKey <= 0)) p = p->Owner;
    if (!p) {
      leaf->CurKey = forward ? leaf->Count() : -1;
      return false;
    }
    // Releasing the old subtree may split it, which inserts separators
    // before the current entry and moves CurKey along with them.
    ReleaseChild(*p);
    p->CurKey += forward ? 1 : -1;
    XBobjIndexKey* child = LoadChild(*p, p->Items(p->CurKey)->Tag);
    if (DescendEdge(child, forward)) return true;
    leaf = LeafPage();  // an empty leaf: step on from it
  }
}

bool XBobjIndexTag::ReadTopKey() {
  if (!RootPage_) TagOpen(2);
  if (!DescendEdge(RootPage_.get(), true) && !StepLeaf(true)) return false;
  RetrieveKey();
  return true;
}

bool XBobjIndexTag::ReadBottomKey() {
  if (!RootPage_) TagOpen(2);
  if (!DescendEdge(RootPage_.get(), false) && !StepLeaf(false)) return false;
  RetrieveKey();
  return true;
}

bool XBobjIndexTag::ReadNextKey() {
  XBobjIndexKey* leaf = LeafPage();
  if (!leaf || !leaf->IsLeaf() || leaf->CurKey == XBobjIndexKey::NoPosition) return ReadTopKey();
  if (leaf->CurKey + 1 < leaf->Count()) {
    ++leaf->CurKey;
  } else if (!StepLeaf(true)) {
    return false;
  }
  RetrieveKey();
  return true;
}

bool XBobjIndexTag::ReadPreviousKey() {
  XBobjIndexKey* leaf = LeafPage();
  if (!leaf || !leaf->IsLeaf() || leaf->CurKey == XBobjIndexKey::NoPosition) return ReadBottomKey();
  if (leaf->CurKey > 0 && leaf->CurKey - 1 < leaf->Count()) {
    --leaf->CurKey;
  } else {
    // A changed page of the path splits when it is stored, and the keys
    // before the current one may then stand in a page inserted before it:
    // store the path first and stand on the key again.
    for (XBobjIndexKey* p = RootPage_.get(); p; p = p->Child.get())
      if (p->Changed) {
        TagFlush();
        return ReadPreviousKey();
      }
    if (!StepLeaf(false)) return false;
  }
  RetrieveKey();
  return true;
}

bool XBobjIndexTag::OnLeafEntry() const {
  const XBobjIndexKey* leaf = LeafPage();
  return leaf && leaf->IsLeaf() && leaf->CurKey >= 0 && leaf->CurKey < leaf->Count();
}

bool XBobjIndexTag::ReadCurrentKey() {
  if (!OnLeafEntry()) return false;
  RetrieveKey();
  return true;
}

bool XBobjIndexTag::SeekRecNum(int RecNum) {
  for (bool more = ReadTopKey(); more; more = ReadNextKey())
    if (CurKeyInfo_.Tag == RecNum) return true;
  return false;
}

int XBobjIndexTag::SeekKey(int RecNum, const TxbVariant& Key, int IfPartial) {
  if (!RootPage_) TagOpen(2);
  const bool withRec = Owner_->KeyWithRec();
  // Releasing a changed child may store it and so change its parent: then
  // each page is released below before its entries are read. A path of
  // unchanged pages keeps the ones the seek passes through again.
  const bool reuse = PathReusable();
  XBobjIndexKey* page = RootPage_.get();
  for (;;) {
    if (!reuse || page->Count() == 0) ReleaseChild(*page);
    const int n = page->Count();
    page->CurKey = 0;
    if (n == 0) return 1;
    for (int i = 0;; ++i) {
      const XBobjIndexKeyData& e = *page->Items(i);
      const bool last = i == n - 1;
      int c = CompareKey(Key, e, IfPartial);
      if (c == 0 && RecNum == AfterEqual) {
        c = 1;
      } else if (c == 0 && RecNum != AnyRecord && withRec) {
        c = Sign(int64_t{RecNum} - e.Xtra);
      }
      if (c > 0 && !last) continue;
      page->CurKey = i;
      if (!page->IsLeaf()) {
        page = Descend(*page, e.Tag, reuse);
        break;
      }
      if (c == 0 && RecNum != AnyRecord) {
        const int d = withRec ? Sign(int64_t{RecNum} - e.Tag) : (e.Tag == RecNum ? 0 : 1);
        if (d > 0 && !last) continue;
        if (d > 0) {
          page->CurKey = n;
          return 1;
        }
        if (d < 0) return -1;
      }
      if (c > 0) {
        page->CurKey = i + 1;
        return 1;
      }
      return c;
    }
  }
}

bool XBobjIndexTag::SeekKeyRecord(const XBobjIndexKeyData& Key) {
  if (Owner_->KeyWithRec()) {
    if (SeekKey(Key.Tag, Key, Whole) != 0) return false;
    RetrieveKey();
    return true;
  }
  if (SeekKey(AnyRecord, Key, Whole) != 0) return false;
  // Equal keys keep the order they were added in and may run over several
  // leaves: walk them for the record.
  RetrieveKey();
  do {
    if (CurKeyInfo_.Tag == Key.Tag) return true;
  } while (ReadNextKey() && CompareKey(Key, CurKeyInfo_, Whole) == 0);
  return false;
}

bool XBobjIndexTag::SeekEntry(const XBobjIndexKeyData& Key) { return SeekKeyRecord(Key) || SeekRecNum(Key.Tag); }

// ---------------------------------------------------------------------------
// The tag: changing the tree

void XBobjIndexTag::InsertKey(XBobjIndexKey& page, const XBobjIndexKeyData& Key, bool After) {
  const int pos = std::clamp(page.CurKey + (After ? 1 : 0), 0, page.Count());
  page.InsertEntry(pos)->AssignLinks(Key);
  page.CurKey = pos;
  page.Changed = true;
  if (page.Owner && pos == page.Count() - 1) ReplaceNodeKey(page);
}

void XBobjIndexTag::ReplaceNodeKey(XBobjIndexKey& page) {
  XBobjIndexKey* owner = page.Owner;
  // The separator stands for the last key: its record number too, where
  // nodes order equal keys by it.
  const XBobjIndexKeyData& last = *page.Items(page.Count() - 1);
  XBobjIndexKeyData& separator = *owner->Items(owner->CurKey);
  separator.AssignValue(last);
  separator.Xtra = last.Xtra;
  owner->Changed = true;
  if (owner->Owner && owner->CurKey == owner->Count() - 1) ReplaceNodeKey(*owner);
}

void XBobjIndexTag::SetRoot(XBobjIndexKey& page) {
  auto root = NewPage();
  root->Page = page.Page;
  root->PageType = XBsetPageType::Root;
  root->IsRoot = true;
  root->Level = page.Level - 1;
  page.Page = Owner_->GetAvailPage();
  page.IsRoot = false;
  page.PageType = page.IsLeaf() ? XBsetPageType::Leaf : XBsetPageType::Node;
  XBobjIndexKeyData* e = root->AppendEntry();
  if (page.Count() > 0) {
    e->AssignLinks(*page.Items(page.Count() - 1));
  } else {
    e->PutString("");
  }
  e->Tag = page.Page;
  root->CurKey = 0;
  root->Changed = true;
  page.Owner = root.get();
  page.NewRoot = std::move(root);
}

void XBobjIndexTag::AddNodeKey(XBobjIndexKey& page, const XBobjIndexKeyData& Key) {
  if (!page.Owner) SetRoot(page);
  XBobjIndexKey& parent = *page.Owner;
  parent.InsertEntry(parent.CurKey)->AssignLinks(Key);
  ++parent.CurKey;
  parent.Changed = true;
}

void XBobjIndexTag::DeleteKey(XBobjIndexKey& page) {
  const int i = page.CurKey;
  page.RemoveEntry(i);
  page.Changed = true;
  if (page.Owner && StoresNoKey(page)) {
    TakeOut(page);
    return;
  }
  if (page.Owner && i == page.Count()) {
    if (page.Count() == 0) {
      DeleteNodeKey(*page.Owner);  // frees `page`
      return;
    }
    ReplaceNodeKey(page);
  }
}

void XBobjIndexTag::DeleteNodeKey(XBobjIndexKey& page) {
  const int i = page.CurKey;
  // The emptied child is stored as it stands; no parent points at it any
  // more, and blocks are never reused.
  ReleaseChild(page);
  page.RemoveEntry(i);
  page.Changed = true;
  page.CurKey = XBobjIndexKey::NoPosition;
  if (NodesHoldKeys() && i == page.Count() && i > 0 && OnRightmostPath(page)) {
    // The new last entry's key is stored nowhere now: add it again.
    TTakenOut run;
    run.keys.push_back(page.Items(i - 1)->CloneLinks());
    run.keys.back()->Tag = run.keys.back()->Xtra;
    Readd_.push_back(std::move(run));
  }
  if (page.Owner && StoresNoKey(page)) {
    TakeOut(page);
    return;
  }
  if (page.Count() == 0) {
    if (page.Owner) {
      // A node without entries would read back as a leaf: remove it from
      // its parent in turn.
      DeleteNodeKey(*page.Owner);  // frees `page`
    } else {
      page.PageType = XBsetPageType::RootLeaf;
    }
    return;
  }
  if (page.Owner && i == page.Count()) ReplaceNodeKey(page);
}

void XBobjIndexTag::TakeOut(XBobjIndexKey& page) {
  TTakenOut run;
  CollectKeys(page, run.keys);
  if (!run.keys.empty()) {
    run.before = KeyAfter(page);
    Readd_.push_back(std::move(run));
  }
  DeleteNodeKey(*page.Owner);  // frees `page`
}

void XBobjIndexTag::CollectKeys(XBobjIndexKey& page, std::vector<std::unique_ptr<XBobjIndexKeyData>>& keys) {
  for (int j = 0; j < page.Count(); ++j) {
    if (page.IsLeaf()) {
      keys.push_back(page.Items(j)->CloneLinks());
      continue;
    }
    // A child read by its entry: a format may give it the separator that
    // follows it, a key this page's removal takes along.
    page.CurKey = j;
    std::unique_ptr<XBobjIndexKey> child = LoadPage(page.Items(j)->Tag, &page);
    CollectKeys(*child, keys);
    Owner_->Recycle(std::move(child));
  }
}

std::unique_ptr<XBobjIndexKeyData> XBobjIndexTag::KeyAfter(const XBobjIndexKey& page) {
  for (XBobjIndexKey* q = page.Owner; q; q = q->Owner) {
    if (q->CurKey + 1 >= q->Count()) continue;
    // The leftmost key below the next entry of the nearest parent that has one.
    const int was = q->CurKey;
    q->CurKey = was + 1;
    std::vector<std::unique_ptr<XBobjIndexKey>> path;
    path.push_back(LoadPage(q->Items(was + 1)->Tag, q));
    while (!path.back()->IsLeaf() && path.back()->Count() > 0 && path.size() < MaxDepth) {
      path.back()->CurKey = 0;
      path.push_back(LoadPage(path.back()->Items(0)->Tag, path.back().get()));
    }
    std::unique_ptr<XBobjIndexKeyData> first =
        path.back()->IsLeaf() && path.back()->Count() > 0 ? path.back()->Items(0)->CloneLinks() : nullptr;
    while (!path.empty()) {
      Owner_->Recycle(std::move(path.back()));
      path.pop_back();
    }
    q->CurKey = was;
    return first;
  }
  return nullptr;
}

void XBobjIndexTag::AddTakenOutKeys() {
  std::vector<TTakenOut> runs = std::move(Readd_);
  Readd_.clear();
  TFlagScope updating(TagUpdating_, true);
  // The last run taken out first: an earlier run's following key may lie
  // in a later one. The path is stored after each key, as after any add,
  // so that a page splits while it is one key over.
  for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
    for (const auto& key : run->keys) {
      OpenRoot();
      if (run->before && SeekEntry(*run->before)) {
        InsertKey(*LeafPage(), *key, false);
      } else {
        KeyAdd(*key);
      }
    }
  }
  OpenRoot();
  RootPage_->CurKey = XBobjIndexKey::NoPosition;
}

void XBobjIndexTag::DeleteCurrentKey() {
  if (!OnLeafEntry()) return;
  DeleteKey(*LeafPage());
  ReleaseChild(*RootPage_);
  RootPage_->CurKey = XBobjIndexKey::NoPosition;
  CurKeyInfo_.Tag = 0;
  if (!Readd_.empty()) AddTakenOutKeys();
}

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
      if (Owner_->ExternalChange()) TagOpen(1);
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
      if (Owner_->ExternalChange()) TagOpen(1);
      TagEOF_ = !ReadNextKey();
      RangeCheck();
      break;
    case -2:
      if (Owner_->ExternalChange()) TagOpen(1);
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
    TFlagScope updating(TagUpdating_, true);
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
  if (Owner_->ExternalChange()) TagOpen(1);
  XBobjIndexKeyData current;
  current.AssignLinks(CurKeyInfo_);
  const bool bof = TagBOF_, eof = TagEOF_;
  int found;
  {
    // Exact and without the range: a unique tag must not hold the key
    // anywhere.
    TFlagScope updating(TagUpdating_, true);
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

// ---------------------------------------------------------------------------
// The file

XBobjIndexFile::XBobjIndexFile(XBobjIndexOwner* PDB) : Owner_(PDB) {
  Exact_ = PDB == nullptr || PDB->IndexExactMatch();
  Regions_ = XBLockRegionsOf(dfLockStyle_);
}

XBobjIndexFile::~XBobjIndexFile() {
  WriteOutOnDestroy();
  TagList_.FreeAll();
  Pool_.clear();
}

void XBobjIndexFile::WriteOutOnDestroy() {
  try {
    if (DiskFile_ && DiskFile_->FileFound()) {
      for (int i = 0; i < TagList_.Count(); ++i) TagList_[i]->TagClose();
      WriteBackAll();
    }
  } catch (...) {
    // Destruction cannot report; CloseFile raises these.
  }
}

int XBobjIndexFile::TakeAvail(int step, int limit) {
  if (NextAvail_ == -1) ResetAvailPage();
  if (NextAvail_ > limit - step) XBRaise(xbmFileSizeError, {GetFileName()});
  const int at = NextAvail_;
  NextAvail_ += step;
  HighWater_ = std::max(HighWater_, NextAvail_);
  return at;
}

XBobjIndexTag* XBobjIndexFile::AddLoadedTag(std::unique_ptr<XBobjIndexTag> tag) {
  XBobjIndexTag* added = TagList_.Add(std::move(tag));
  added->TagLoad();
  return added;
}

XBobjIndexTag* XBobjIndexFile::ReplaceOnlyTag(std::unique_ptr<XBobjIndexTag> tag) {
  if (XBobjIndexTag* old = TagByNumber(0)) old->TagClose();
  DiscardCache();
  TagList_.FreeAll();
  NextAvail_ = 0;
  HighWater_ = 0;
  return TagList_.Add(std::move(tag));
}

bool XBobjIndexFile::AddTag(const AnsiString&, const AnsiString&, const AnsiString&, bool, bool) { return false; }

bool XBobjIndexFile::DeleteTag(const AnsiString&) { return false; }

int XBobjIndexFile::GetAvailPage() { return -1; }

void XBobjIndexFile::ResetAvailPage() { NextAvail_ = -1; }

void XBobjIndexFile::Reindex() {}

bool XBobjIndexFile::ExternalChange() { return false; }

bool XBobjIndexFile::TagUpdate(int AKey, bool IsAppend) {
  NextAvail_ = -1;
  bool changed = false;
  for (int i = 0; i < TagList_.Count(); ++i) changed = TagList_[i]->KeyUpdate(AKey, IsAppend) || changed;
  return changed;
}

void XBobjIndexFile::ixEncrypt() {
  if (!DiskFile_ || !DiskFile_->FileFound()) return;
  for (int i = 0; i < TagList_.Count(); ++i) TagList_[i]->TagClose();
  // Blocks the cache has not written yet go out as the file holds the
  // others: under the read password.
  for (size_t slot = 0; slot < Slots_.size(); ++slot)
    if (Slots_[slot].dirty)
      DiskWrite(Slots_[slot].index * CachePage_, SlotBytes(static_cast<int>(slot)), CachePage_, PasswordIn());
  DiscardCache();
  const int64_t blocks = DiskFile_->xbFileSize() / 512;
  uint8_t block[512];
  for (int64_t b = 0; b < blocks; ++b) {
    if (!DiskRead(b * 512, block, 512)) RaiseCorrupted();
    DiskWrite(b * 512, block, 512);
  }
}

void XBobjIndexFile::ixSetLockProtocol(XBsetLokProtocol LokProtocol) {
  dfLockStyle_ = LokProtocol;
  Regions_ = XBLockRegionsOf(LokProtocol);
}

bool XBobjIndexFile::PageRead(int64_t Blok, uint8_t* Page, int Size) {
  if (!DiskFile_ || !DiskFile_->FileFound() || Blok < 0 || Size < 0) return false;
  if (!Cacheable(Blok, Size)) {
    Uncache(Blok, Size);
    return DiskRead(Blok, Page, Size);
  }
  const uint8_t* bytes = PageView(Blok, Size);
  if (!bytes) return false;
  std::memcpy(Page, bytes, static_cast<size_t>(Size));
  return true;
}

const uint8_t* XBobjIndexFile::PageView(int64_t Blok, int Size) {
  if (!DiskFile_ || !DiskFile_->FileFound() || Blok < 0 || Size < 0) return nullptr;
  if (!Cacheable(Blok, Size)) {
    Uncache(Blok, Size);
    ++Views_;
    LastView_ = -1;
    ViewBuf_.resize(static_cast<size_t>(Size));
    return DiskRead(Blok, ViewBuf_.data(), Size) ? ViewBuf_.data() : nullptr;
  }
  const int64_t index = Blok / CachePage_;
  int slot = FindSlot(index);
  if (slot < 0) {
    // Read before a slot is taken: a damaged page number far past the end
    // of the file must not size the cache's map of pages.
    const int pages = ReadAheadPages(index);
    MissBuf_.resize(static_cast<size_t>(pages) * static_cast<size_t>(Size));
    const int got = DiskReadPages(Blok, MissBuf_.data(), pages);
    if (got < 1) return nullptr;
    slot = TakeSlot(index);
    std::memcpy(SlotBytes(slot), MissBuf_.data(), static_cast<size_t>(Size));
    // The blocks read with it wait their turn unreferenced: a seek that
    // needed none of them loses nothing of what it used before.
    for (int k = 1; k < got; ++k) {
      const int ahead = TakeSlot(index + k);
      Slots_[static_cast<size_t>(ahead)].referenced = false;
      std::memcpy(SlotBytes(ahead), MissBuf_.data() + static_cast<size_t>(k) * static_cast<size_t>(Size),
                  static_cast<size_t>(Size));
    }
  }
  Slots_[static_cast<size_t>(slot)].referenced = true;
  ++Views_;
  LastView_ = slot;
  return SlotBytes(slot);
}

bool XBobjIndexFile::PageWrite(int64_t Blok, const uint8_t* Page, int Size) {
  if (!DiskFile_ || !DiskFile_->FileFound() || Blok < 0 || Size < 0) return false;
  if (!Cacheable(Blok, Size)) {
    Uncache(Blok, Size);
    return DiskWrite(Blok, Page, Size);
  }
  const int64_t index = Blok / CachePage_;
  int slot = FindSlot(index);
  if (slot < 0) slot = TakeSlot(index);
  CacheSlot& s = Slots_[static_cast<size_t>(slot)];
  s.referenced = s.dirty = true;
  s.stamp = NextStamp_++;
  std::memcpy(SlotBytes(slot), Page, static_cast<size_t>(Size));
  CacheEnd_ = std::max(CacheEnd_, Blok + Size);
  return true;
}

const AnsiString& XBobjIndexFile::PasswordIn() const {
  static const AnsiString none;
  return Owner_ ? Owner_->IndexPasswordIn() : none;
}

const AnsiString& XBobjIndexFile::PasswordOut() const {
  static const AnsiString none;
  return Owner_ ? Owner_->IndexPasswordOut() : none;
}

bool XBobjIndexFile::DiskRead(int64_t Blok, uint8_t* Page, int Size) {
  if (DiskFile_->xbRead(Blok, Page, Size) != Size) return false;
  const AnsiString& password = PasswordIn();
  if (!password.empty())
    for (int at = 0; at < Size; at += 512)
      CryptBuffer(password, Page + at, Page + at, static_cast<size_t>(std::min(512, Size - at)), false);
  return true;
}

int XBobjIndexFile::ReadAheadPages(int64_t index) const {
  // A walk in key order reads the pages of a bulk-built index in file
  // order: a miss takes the blocks after it in the same read, up to the
  // first one the cache holds (it may be newer than the file), and never so
  // many that they would push each other out of the cache.
  const size_t limit = std::max(MinCachedPages, CacheBudget_ / static_cast<size_t>(CachePage_));
  const int most = static_cast<int>(std::min<size_t>(std::max(1, ReadAheadBytes / CachePage_), limit / 8));
  int pages = 1;
  while (pages < most && FindSlot(index + pages) < 0) ++pages;
  return pages;
}

int XBobjIndexFile::DiskReadPages(int64_t Blok, uint8_t* bytes, int pages) {
  const int got = DiskFile_->xbRead(Blok, bytes, pages * CachePage_) / CachePage_;
  const AnsiString& password = PasswordIn();
  if (!password.empty())
    for (int at = 0; at < got * CachePage_; at += 512)
      CryptBuffer(password, bytes + at, bytes + at, static_cast<size_t>(std::min(512, got * CachePage_ - at)), false);
  return got;
}

bool XBobjIndexFile::DiskWrite(int64_t Blok, const uint8_t* Page, int Size) {
  return DiskWrite(Blok, Page, Size, PasswordOut());
}

bool XBobjIndexFile::DiskWrite(int64_t Blok, const uint8_t* Page, int Size, const AnsiString& password) {
  const uint8_t* out = Page;
  if (!password.empty()) {
    CryptBuf_.resize(static_cast<size_t>(Size));
    for (int at = 0; at < Size; at += 512)
      CryptBuffer(password, Page + at, CryptBuf_.data() + at, static_cast<size_t>(std::min(512, Size - at)), true);
    out = CryptBuf_.data();
  }
  // The disk file raises a failed write; a short one means a full disk.
  if (DiskFile_->xbWrite(Blok, out, Size) != Size)
    throw EXBaseError(XBDiskErrorText("Write", ENOSPC, DiskFile_->FileName(), Blok));
  return true;
}

namespace {

// An index's own file: at engine shutdown the index stores its changed
// pages and headers before the handle is closed under it.
class TIndexDiskFile final : public XBO_DiskFile {
 public:
  TIndexDiskFile(const std::string& name, bool readWrite, bool shared, XBobjIndexFile& index)
      : XBO_DiskFile(name, readWrite, shared), index_(index) {}
  void xbBeforeShutdown() override { index_.Flush(); }

 private:
  XBobjIndexFile& index_;
};

}  // namespace

XBO_DiskFile* XBobjIndexFile::IndexFileOpen(const std::string& FN, const std::string& EX, bool ReadWrite,
                                            bool Shared, bool Create, bool Overwrite) {
  std::string name = DefaultFileExt(FN, EX);
  const size_t slash = name.rfind('/');
  IndexName_ = slash == std::string::npos ? name : name.substr(slash + 1);
  if (slash == std::string::npos && Owner_) {
    const std::string table = Owner_->IndexTableFileName();
    const size_t dir = table.rfind('/');
    if (dir != std::string::npos) name = table.substr(0, dir + 1) + name;
  }
  DiskFile_.reset();
  std::unique_ptr<XBO_DiskFile> file = std::make_unique<TIndexDiskFile>(name, ReadWrite, Shared, *this);
  FileCreated_ = Create && (Overwrite || !file->FileExist());
  if (FileCreated_) {
    file = std::make_unique<TIndexDiskFile>(name, true, false, *this);
    file->xbReWrite();
  } else {
    if (!file->FileExist()) return nullptr;
    file->xbReset();
  }
  DiscardCache();
  DiskFile_ = std::move(file);
  return DiskFile_.get();
}

bool XBobjIndexFile::IndexLock() {
  if (!DiskFile_ || !DiskFile_->FileShared()) return true;
  switch (dfLockStyle_) {
    case XBsetLokProtocol::DB4Lock: DiskFile_->xbWaitLock(int64_t{Regions_.Max} - 1, 2, true); break;
    case XBsetLokProtocol::ClipLock: DiskFile_->xbWaitLock(Regions_.Min, 1, true); break;
    case XBsetLokProtocol::Default:
    case XBsetLokProtocol::FoxLock: DiskFile_->xbWaitLock(Regions_.Max, 1, true); break;
  }
  return true;
}

void XBobjIndexFile::IndexUnlock() {
  if (DiskFile_ && DiskFile_->FileShared()) DiskFile_->xbUnLock();
}

XBobjIndexFile::TWholeFileLock::TWholeFileLock(XBobjIndexFile& file) : file_(file) {
  XBO_DiskFile* disk = file_.DiskFile();
  if (!disk || !disk->FileShared()) return;
  disk->xbWaitLock(0, 0x7FFFFFFF, true);
  if (file_.dfLockStyle() == XBsetLokProtocol::DB4Lock) {
    try {
      disk->xbWaitLock(int64_t{file_.LockRegions().Max} - 1, 2, false);
    } catch (...) {
      disk->xbUnLock();
      throw;
    }
    db4_ = true;
  }
  held_ = true;
}

XBobjIndexFile::TWholeFileLock::~TWholeFileLock() {
  if (!held_) return;
  XBO_DiskFile* disk = file_.DiskFile();
  try {
    if (db4_) disk->UnlockByteRange(int64_t{file_.LockRegions().Max} - 1, 2);
    disk->xbUnLock();
  } catch (...) {
    // Closing the file releases what could not be released here.
  }
}

bool XBobjIndexFile::Rename(const std::string& NewName) {
  if (!DiskFile_) return false;
  std::string name = NewName;
  const size_t slash = name.rfind('/');
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) name.resize(dot);
  const size_t oldDot = IndexName_.rfind('.');
  if (oldDot != std::string::npos) name += IndexName_.substr(oldDot);
  if (name.find('/') == std::string::npos) {
    const std::string& current = DiskFile_->FileName();
    name = current.substr(0, current.rfind('/') + 1) + name;
  }
  DiskFile_->xbRename(name);
  const size_t at = name.rfind('/');
  IndexName_ = at == std::string::npos ? name : name.substr(at + 1);
  return true;
}

void XBobjIndexFile::Flush() {
  for (int i = 0; i < TagList_.Count(); ++i) TagList_[i]->TagFlush();
  WriteBackAll();
  if (DiskFile_ && DiskFile_->FileFound()) DiskFile_->xbFlush();
}

void XBobjIndexFile::CloseFile() {
  if (!DiskFile_ || !DiskFile_->FileFound()) return;
  for (int i = 0; i < TagList_.Count(); ++i) TagList_[i]->TagClose();
  Flush();
  DiscardCache();
  DiskFile_->xbCloseFile();
}

XBobjIndexTag* XBobjIndexFile::TagByName(const AnsiString& ITN) const {
  const AnsiString want = platform::AnsiUpperCase(ITN);
  for (int i = 0; i < TagList_.Count(); ++i)
    if (platform::AnsiUpperCase(TagList_[i]->TagName()) == want) return TagList_[i];
  return nullptr;
}

XBobjIndexTag* XBobjIndexFile::TagByNumber(int n) const {
  return n >= 0 && n < TagList_.Count() ? TagList_[n] : nullptr;
}

XBobjIndexTag* XBobjIndexFile::KeyByName(const AnsiString& AKey, bool AFor) const {
  const AnsiString want = platform::AnsiUpperCase(AKey);
  for (int i = 0; i < TagList_.Count(); ++i) {
    XBobjIndexTag* tag = TagList_[i];
    if (AFor && tag->Conditional()) continue;
    if (platform::AnsiUpperCase(tag->KeyExpr()) == want) return tag;
  }
  return nullptr;
}

bool XBobjIndexFile::IsFileName(const std::string& IName) const {
  const size_t slash = IName.rfind('/');
  const std::string part = slash == std::string::npos ? IName : IName.substr(slash + 1);
  return platform::AnsiUpperCase(part) == platform::AnsiUpperCase(IndexName_);
}

std::string XBobjIndexFile::GetFileName() const { return DiskFile_ ? DiskFile_->FileName() : IndexName_; }

void XBobjIndexFile::RaiseCorrupted() const { XBRaise(xbmIndexCorrupted, {GetFileName()}); }

// ---------------------------------------------------------------------------
// Page objects and the cache

std::unique_ptr<XBobjIndexKey> XBobjIndexFile::NewPageObject(XBobjIndexTag* tag) {
  if (Pool_.empty()) return std::make_unique<XBobjIndexKey>(tag);
  auto page = std::move(Pool_.back());
  Pool_.pop_back();
  page->TagParent = tag;
  return page;
}

void XBobjIndexFile::BeginPageLoad() {
  LastView_ = -1;
  Views_ = 0;
}

void XBobjIndexFile::EndPageLoad(XBobjIndexKey& page) const {
  // Only a page made from one view of a cached block can be known to stay
  // what that block holds.
  if (Views_ == 1 && LastView_ >= 0) {
    page.SourceSlot = LastView_;
    page.SourceStamp = Slots_[static_cast<size_t>(LastView_)].stamp;
  }
}

bool XBobjIndexFile::SourceUnchanged(const XBobjIndexKey& page) const {
  return page.SourceSlot >= 0 && static_cast<size_t>(page.SourceSlot) < Slots_.size() &&
         page.SourceStamp != 0 && Slots_[static_cast<size_t>(page.SourceSlot)].stamp == page.SourceStamp;
}

void XBobjIndexFile::Recycle(std::unique_ptr<XBobjIndexKey> page) {
  page->Reset(nullptr);
  if (Pool_.size() < 128) Pool_.push_back(std::move(page));
}

int64_t XBobjIndexFile::FileSize() const {
  const int64_t disk = DiskFile_ && DiskFile_->FileFound() ? DiskFile_->xbFileSize() : 0;
  return std::max(disk, CacheEnd_);
}

void XBobjIndexFile::SetCacheBudget(size_t bytes) {
  CacheBudget_ = bytes;
  // Slots above the new bound go; the clock picks which blocks stay.
  const size_t limit = CachePage_ > 0 ? std::max(MinCachedPages, bytes / static_cast<size_t>(CachePage_)) : 0;
  if (Slots_.size() <= limit) return;
  for (size_t slot = limit; slot < Slots_.size(); ++slot)
    if (Slots_[slot].index >= 0) FreeSlot(static_cast<int>(slot));
  Slots_.resize(limit);
  Arena_.resize(limit * static_cast<size_t>(CachePage_));
  std::erase_if(FreeSlots_, [&](int slot) { return static_cast<size_t>(slot) >= limit; });
  Hand_ = 0;
}

int XBobjIndexFile::FindSlot(int64_t index) const {
  return static_cast<size_t>(index) < SlotOf_.size() ? SlotOf_[static_cast<size_t>(index)] : -1;
}

int XBobjIndexFile::TakeSlot(int64_t index) {
  int slot;
  if (!FreeSlots_.empty()) {
    slot = FreeSlots_.back();
    FreeSlots_.pop_back();
  } else if (const size_t limit = std::max(MinCachedPages, CacheBudget_ / static_cast<size_t>(CachePage_));
             Slots_.size() < limit) {
    if (Slots_.empty()) {
      // Room for the whole budget at once: growing would copy the blocks.
      Slots_.reserve(limit);
      Arena_.reserve(limit * static_cast<size_t>(CachePage_));
    }
    slot = static_cast<int>(Slots_.size());
    Slots_.emplace_back();
    Arena_.resize(Slots_.size() * static_cast<size_t>(CachePage_));
  } else {
    // The clock: a block used since the hand last passed gets another round.
    for (;;) {
      if (Hand_ >= Slots_.size()) Hand_ = 0;
      CacheSlot& s = Slots_[Hand_];
      if (!s.referenced) break;
      s.referenced = false;
      ++Hand_;
    }
    slot = static_cast<int>(Hand_++);
    FreeSlot(slot);
    FreeSlots_.pop_back();
  }
  if (static_cast<size_t>(index) >= SlotOf_.size())
    SlotOf_.resize(std::max(static_cast<size_t>(index) + 1, SlotOf_.size() * 2), -1);
  SlotOf_[static_cast<size_t>(index)] = slot;
  Slots_[static_cast<size_t>(slot)] = CacheSlot{index, false, true, NextStamp_++};
  return slot;
}

bool XBobjIndexFile::DirtyAt(int64_t index) const {
  const int slot = index >= 0 ? FindSlot(index) : -1;
  return slot >= 0 && Slots_[static_cast<size_t>(slot)].dirty;
}

void XBobjIndexFile::WriteBack(int slot) {
  const CacheSlot& s = Slots_[static_cast<size_t>(slot)];
  if (!s.dirty) return;
  // The changed blocks beside it go in the same write: a run of blocks
  // costs one system call rather than one each.
  int64_t first = s.index, last = s.index;
  while (last - first + 1 < MaxRunPages && DirtyAt(first - 1)) --first;
  while (last - first + 1 < MaxRunPages && DirtyAt(last + 1)) ++last;
  if (first == last) {
    DiskWrite(s.index * CachePage_, SlotBytes(slot), CachePage_);
  } else {
    const size_t page = static_cast<size_t>(CachePage_);
    RunBuf_.resize(static_cast<size_t>(last - first + 1) * page);
    for (int64_t index = first; index <= last; ++index)
      std::memcpy(RunBuf_.data() + static_cast<size_t>(index - first) * page, SlotBytes(FindSlot(index)), page);
    DiskWrite(first * CachePage_, RunBuf_.data(), static_cast<int>(RunBuf_.size()));
  }
  for (int64_t index = first; index <= last; ++index) Slots_[static_cast<size_t>(FindSlot(index))].dirty = false;
}

void XBobjIndexFile::FreeSlot(int slot) {
  WriteBack(slot);
  CacheSlot& s = Slots_[static_cast<size_t>(slot)];
  SlotOf_[static_cast<size_t>(s.index)] = -1;
  s = CacheSlot{};
  FreeSlots_.push_back(slot);
}

void XBobjIndexFile::Uncache(int64_t pos, int size) {
  if (Slots_.size() == FreeSlots_.size() || CachePage_ <= 0) return;
  const int64_t first = pos / CachePage_, last = (pos + std::max(size, 1) - 1) / CachePage_;
  for (int64_t index = first; index <= last; ++index) {
    const int slot = FindSlot(index);
    if (slot >= 0) FreeSlot(slot);
  }
}

void XBobjIndexFile::WriteBackAll() {
  // In file order: the disk sees one forward sweep.
  std::vector<std::pair<int64_t, int>> dirty;
  for (size_t slot = 0; slot < Slots_.size(); ++slot)
    if (Slots_[slot].dirty) dirty.emplace_back(Slots_[slot].index, static_cast<int>(slot));
  std::sort(dirty.begin(), dirty.end());
  // A block that is still changed begins a run (those before it are
  // written): the runs go forward from it.
  for (const auto& [index, slot] : dirty) WriteBack(slot);
}

void XBobjIndexFile::DropCache() {
  WriteBackAll();
  DiscardCache();
}

void XBobjIndexFile::DiscardCache() {
  // Pages decoded from the blocks would never be taken again.
  for (int i = 0; i < TagList_.Count(); ++i) TagList_[i]->DropDecoded();
  SlotOf_.clear();
  Slots_.clear();
  FreeSlots_.clear();
  Arena_.clear();
  Hand_ = 0;
  CacheEnd_ = 0;
}

}  // namespace xbase
