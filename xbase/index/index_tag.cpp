// The index framework's tags: key entries and page objects, opening a
// tag, its path from the root to a leaf, reading keys in order, seeking,
// and inserting and deleting keys in the tree (index_framework.h).
#include "xbase/index/index_framework.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "xbase/base/errors.h"
#include "xbase/base/utilities.h"
#include "xbase/expr/expression.h"

namespace xbase {

namespace {

int Sign(int64_t v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

bool IsBlank(const AnsiString& s) { return s.find_first_not_of(' ') == AnsiString::npos; }

}  // namespace

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

void XBobjIndexTag::RaiseCorrupted() const {
  XBRaise<EXBaseIndexCorrupted>(xbmIndexCorrupted, {Owner_->GetFileName()});
}

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
  } else {
    // A walk steps on to the pages after this one: a block it misses brings
    // the blocks after it along (a seek's miss reads its block alone).
    TValueScope<bool> walking(Owner_->Walking_, true);
    if (!StepLeaf(true)) return false;
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
  // A damaged page may lead back up the tree: no deeper than a walk goes.
  if (!page.IsLeaf() && page.Level >= MaxDepth) RaiseCorrupted();
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
  TValueScope<bool> updating(TagUpdating_, true);
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

}  // namespace xbase
