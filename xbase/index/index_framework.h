// The index framework: what every index format of the engine shares.
//
// An index orders the records of one table by a key computed from each
// record (an xBase expression such as "upper(NA)"), optionally only the
// records that meet a FOR condition. Every format (NDX, NTX, MDX, CDX and
// the index kept in memory) is a B-tree of fixed-size pages; here are the
// parts they have in common:
//
//   XBobjIndexKeyData  one key value with its links (record or child page)
//   XBobjIndexKey      one page in memory: its entries in order
//   XBobjIndexTag      one index order: seeking, reading in order, adding
//                      and deleting keys, the path of loaded pages
//   XBobjIndexFile     one index file holding one or more tags: opening,
//                      the index lock, page input and output with the
//                      table's scrambling, and the block cache
//
// A format derives from XBobjIndexTag and XBobjIndexFile and overrides only
// the virtual operations that read and write its pages and headers; the
// tree algorithms here never look at page bytes.
//
// The tree in memory. A leaf holds record entries (key, Tag = record
// number); a node holds child entries (key, Tag = child page), the key of
// each being the last key of its child's subtree, so a search descends into
// the first child whose key is not below the search key, or the last child.
// The last entry of a node may carry a format's sentinel key (above every
// real key) where the page stores only a pointer. The loaded pages always
// form one path from the root to the current leaf: each page holds at most
// one child object, and moving elsewhere releases the old child, which
// stores it when it changed. A page is split only when it is stored, by the
// format's PageStore; the root's page number never changes when the tree
// grows, because a root that splits hands its entries to a new page and
// becomes the node above it.
//
// What the framework promises: keys compare with TxbVariant::Compare, the
// search key first (a shorter text search key that matches counts as equal
// when partial, as smaller when whole); equal keys keep the order in which
// they were added unless the file orders them by record number; damaged
// pages raise EXBaseError 65141 before they are used, and a descent deeper
// than 64 levels (a cycle of child pointers) raises it too.
//
// The block cache. A file opened exclusively keeps the page images it reads
// and writes (unscrambled) in a bounded cache and writes a changed one only
// when it leaves the cache, at Flush and at CloseFile: no one else can see
// the file in between, and its bytes after a flush or close are those that
// writing each page in turn would have left. A shared file reads every page
// from the file each time and writes it when it is stored.
//
// Changes of the whole file (a rebuild, a tag added to or removed from a
// compound file) are made on a copy beside it (XBobjIndexFile::TRewrite),
// so that a failure part-way leaves the file byte-identical.
//
// An index object has one user at a time; it is not thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CodePage.h"
#include "xbase/base/disk_file.h"
#include "xbase/base/utilities.h"
#include "xbase/base/variant.h"
#include "xbase/table/lock_protocols.h"

namespace platform {
class TReplaceFile;
}

namespace xbase {

using platform::AnsiString;

class TxbExpHandler;
class TxbExpUserLink;
class XBobjIndexFile;
class XBobjIndexTag;

// What an index needs of the table it orders. The table handler implements
// it; an index file keeps a pointer to it and owns nothing of the table.
class XBobjIndexOwner {
 public:
  virtual ~XBobjIndexOwner();

  // Full path of the table file: index names without a folder go beside it.
  virtual std::string IndexTableFileName() const = 0;
  // The link that key and FOR expressions are compiled against (the
  // table's fields and table-bound functions), and the table's alias.
  virtual TxbExpUserLink* IndexExpLink() = 0;
  virtual AnsiString IndexAlias() const = 0;
  // Records in the table, and the one in the record buffer (0 for none).
  virtual int IndexRecordCount() = 0;
  virtual int IndexRecNumber() const = 0;
  // Finds compare whole keys (the table's xbvExactMatch).
  virtual bool IndexExactMatch() const = 0;
  // The passwords pages are read and written with; empty for a table that
  // is not scrambled.
  virtual const AnsiString& IndexPasswordIn() const = 0;
  virtual const AnsiString& IndexPasswordOut() const = 0;
  // Reads record `n` (1..IndexRecordCount) into the record buffer that key
  // and FOR expressions read.
  virtual void IndexReadRecord(int n) = 0;
  // The length and decimals of the table's field `name` (case ignored);
  // false when the table has none of that name (here: always).
  virtual bool IndexFieldSize(std::string_view name, int& length, int& decimals) const;
  // Progress of a bulk build (the table's status operation).
  virtual void IndexStatus(int stat1, int stat2, int stat3) = 0;
  // Key upkeep on a record write: whether the record buffer differs from
  // the record as it stands in the file, and switching the record buffer
  // that expressions read to that stored record (true) and back (false).
  virtual bool IndexRecModified() const = 0;
  virtual void IndexUseOrigRec(bool on) = 0;
  // Folder for the key sorter's work file ("" for the system's).
  virtual std::string IndexTempDir() const = 0;
  // Points the record buffer that expressions read at stored record `n`
  // (1..IndexRecordCount) without disturbing the table's own buffer and
  // position, for checks made while a write is being prepared; 0 points it
  // back. By default the record is simply read.
  virtual void IndexViewRecord(int n) {
    if (n > 0) IndexReadRecord(n);
  }
  // An index file carrying the table's base name is its production index:
  // a table open read-write sets the flag in its header (when clear) and
  // writes the header. Nothing by default.
  virtual void IndexMarkProduction() {}
};

enum class XBsetPageType : uint8_t { Unknown, Root, Node, Leaf, RootLeaf };

// One key value (a TxbVariant) with the links an index entry carries.
class XBobjIndexKeyData : public TxbVariant {
 public:
  explicit XBobjIndexKeyData(int size = 0) : TxbVariant(size) {}

  // The record number kept with a key where the format's nodes carry one
  // (files whose KeyWithRec is set).
  int Xtra = 0;
  // In a leaf entry the record number; in a node entry the child page.
  int Tag = 0;

  // This value becomes a copy of `source`'s (reusing the buffer).
  void AssignValue(const TxbVariant& source);
  // Value, Tag and Xtra of `source`.
  void AssignLinks(const XBobjIndexKeyData& source);
  std::unique_ptr<XBobjIndexKeyData> CloneLinks() const;
};

// One page in memory: its entries in order. Formats fill it from their
// bytes (PageLoad) and write it back (PageStore); the framework moves within
// it and changes it. A page object is reused: entries it lets go of are kept
// as spares for the next load.
class XBobjIndexKey : public TxbCollection<XBobjIndexKeyData> {
 public:
  explicit XBobjIndexKey(XBobjIndexTag* tag) : TagParent(tag) {}
  ~XBobjIndexKey() override;

  // Page number as the format counts (NDX: block); 0 for one not placed.
  int Page = 0;
  // Sibling pages where a format has them (-1 when unknown).
  int Left = -1, Right = -1;
  // The parent page (nullptr for the root) and the one child loaded below.
  XBobjIndexKey* Owner = nullptr;
  std::unique_ptr<XBobjIndexKey> Child;
  XBobjIndexTag* TagParent;
  XBsetPageType PageType = XBsetPageType::Unknown;
  // Current entry; a page loaded afresh has no position (NoPosition).
  static constexpr int NoPosition = -9;
  int CurKey = NoPosition;
  // Entries changed since the page was loaded or last stored.
  bool Changed = false;
  // The root this page made above itself when it split without a parent;
  // owned here until it is stored, right after this page.
  std::unique_ptr<XBobjIndexKey> NewRoot;
  // Set by the format's load when the page is its tag's root.
  bool IsRoot = false;
  bool LastEntry = false, Reload = false;
  // The compact leaf of CDX.
  uint16_t Space = 0;
  uint32_t RNMask = 0;
  uint8_t DCMask = 0, TCMask = 0, RNBits = 0, DCBits = 0, TCBits = 0, ReqByte = 0;
  // Whether the current entry is the first / last of the whole tag.
  bool ChkBOF = false, ChkEOF = false;
  // Depth on the path: the root is 1.
  int Level = 1;
  // The block-cache slot the page was read from and the stamp of the bytes
  // it held then (0: not read from the cache), so that a page that has not
  // changed can be known to be what the file holds.
  int SourceSlot = -1;
  uint64_t SourceStamp = 0;

  bool IsLeaf() const { return PageType == XBsetPageType::Leaf || PageType == XBsetPageType::RootLeaf; }
  // A new entry at `index` (Count() appends), taken from the spares.
  XBobjIndexKeyData* InsertEntry(int index);
  XBobjIndexKeyData* AppendEntry() { return InsertEntry(Count()); }
  // Removes the entry at `index`, keeping it as a spare.
  void RemoveEntry(int index);
  // Moves the first `n` entries to the end of `target`.
  void MoveFirstEntries(int n, XBobjIndexKey& target);
  // Empties the page and clears every link and flag, for a fresh load.
  void Reset(XBobjIndexTag* tag);

 protected:
  void FreeItem(std::unique_ptr<XBobjIndexKeyData> item) override;

 private:
  // Spares kept at most (a full page of the usual formats); an entry let
  // go past them is freed.
  static constexpr size_t MaxSpares = 1024;
  std::vector<std::unique_ptr<XBobjIndexKeyData>> spare_;
};

// One index order over the table. The handler opens it, seeks, reads in
// order and keeps it in step with record writes; the format overrides how
// its pages and header are read and written.
class XBobjIndexTag {
 public:
  // Seek positions: after every key equal to the search key, and any record.
  static constexpr int AfterEqual = 0x7FFFFFFF;
  static constexpr int AnyRecord = -1;
  // The IfPartial argument of key comparisons.
  static constexpr int Partial = 0;
  static constexpr int Whole = -1;
  // Descents deeper than this are a cycle of child pointers.
  static constexpr int MaxDepth = 64;
  // Pages kept decoded per tag: 2^DecodedBits, one per hash of the page
  // number.
  static constexpr int DecodedBits = 10;

  explicit XBobjIndexTag(XBobjIndexFile* owner);
  // Releases the path and stores a changed header, swallowing errors
  // (TagClose raises them). A format's destructor closes the tag first,
  // while its page operations still reach the format.
  virtual ~XBobjIndexTag();
  XBobjIndexTag(const XBobjIndexTag&) = delete;
  XBobjIndexTag& operator=(const XBobjIndexTag&) = delete;

  // --- The format's operations ---

  // Converts a computed or given key to the form the tag stores and
  // compares (DoTrim: text loses its trailing blanks). Nothing here.
  virtual void AdjustValue(TxbVariant& AKey, bool DoTrim);
  // Makes the tag anew: name, key and FOR expressions, order, uniqueness.
  virtual bool IndexTagNew(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp,
                           bool Ascnd, bool Uniq);
  // Adds `Key` (its Tag the record number) in order and positions on it;
  // false when a unique tag already holds an equal key (nothing added).
  // Within a key update (KeyUpdate) the tag is left without a position and
  // the changed pages stay on the path, for the update to store.
  virtual bool KeyAdd(XBobjIndexKeyData& Key);
  // The root page as the file states it.
  virtual int GetTagRoot();
  // Reads page `PN` into `PIK` (emptied by the caller; its Owner and Level
  // already say where it hangs, the owner's CurKey on the entry that leads
  // to it), raising 65141 for a page that cannot be valid.
  virtual void PageLoad(int PN, XBobjIndexKey& PIK);
  // Stores a changed page: splits one that holds too many entries (passing
  // separators up, AddNodeKey) and writes the pieces (StorePiece).
  virtual void PageStore(XBobjIndexKey& PIK);
  // Reads and writes the tag's header (both clear TagChanged here).
  virtual void TagLoad();
  virtual void TagStore();
  // Compile KeyExpr / ForExpr against the table (the old handler is freed).
  virtual void PostTagExpression();
  virtual void PostTagFilter();
  // Takes the key and FOR expressions (a blank FOR: none) and compiles both.
  void SetExpressions(const AnsiString& keyExpr, const AnsiString& forExpr);
  // Evaluates the key on the record buffer into AVar; false without a key
  // expression. Chg := true.
  virtual bool SolveExpression(TxbVariant& AVar, bool& Chg);
  // True only when the FOR condition evaluates to a logical true.
  virtual bool SolveFilter();
  // Writes the bytes of a stored page (its entries as they stand, no
  // splitting). Nothing here.
  virtual void PageWriteImage(XBobjIndexKey& PIK);
  // Whether `PIK`, a page below the root, would be stored without a key
  // (other programs take such a page as damage, or skip what lies below
  // it). A delete then takes the page out of the tree with its entry in
  // the parent and adds the keys it still led to again. False here.
  virtual bool StoresNoKey(const XBobjIndexKey& PIK) const;
  // Whether a node stores keys of its own, all but its last entry's: a
  // delete that leaves another entry last on the rightmost path, where no
  // separator above holds it, adds that key again. False here.
  virtual bool NodesHoldKeys() const;
  // Whether `page` lies on the rightmost path of the tree.
  static bool OnRightmostPath(const XBobjIndexKey& page);
  // Whether PageLoad makes a page from its bytes (and the tag's header)
  // alone, not from the path above it: then a page released unchanged is
  // kept decoded, and loading it again while the block cache holds the
  // same bytes takes it without reading them. False here.
  virtual bool DecodesPagesAlone() const;

  // --- Opening and closing ---

  // Closes the tag and loads its root: Posn 2 no positioning, 0 the top
  // key (KeyRead(-3)), 1 the key of the table's current record (the top
  // when the record has none). A root the format does not recognise is
  // read again from the header; then it raises 65141 "Index file
  // <tag>-><file> is corrupted". On a file no one else writes, a path
  // whose pages did not change and are still what the block cache holds is
  // kept instead, without a position: the next descent passes through its
  // pages again rather than reading them anew.
  void TagOpen(int Posn);
  // Releases the path (storing changed pages), stores a changed header, no
  // current record.
  void TagClose();
  // Stores the changed pages of the path and a changed header, and stays
  // on the current key.
  void TagFlush();
  bool IsOpen() const { return RootPage_ != nullptr; }

  // --- Reading in order (the path's leaf entry becomes current) ---

  bool ReadTopKey();
  bool ReadBottomKey();
  bool ReadNextKey();
  bool ReadPreviousKey();
  bool ReadCurrentKey();
  // Scans the whole tag in order for the entry of record `RecNum`.
  bool SeekRecNum(int RecNum);
  // Seeks `Key` from the root: 0 found at the current leaf entry, -1 at
  // the first greater key, 1 past the end of the leaf reached. RecNum:
  // AnyRecord, AfterEqual, or a record whose entry is wanted.
  int SeekKey(int RecNum, const TxbVariant& Key, int IfPartial);
  // Positions on the entry of `Key` for record `Key.Tag` (over every equal
  // key, whichever leaves they span), else on the entry of that record
  // anywhere (SeekRecNum); false when there is none.
  bool SeekEntry(const XBobjIndexKeyData& Key);
  // Positions on the entry of `Key` for record `Key.Tag` among the keys
  // equal to it; false when none is that record's (the tag then stands
  // after them).
  bool SeekKeyRecord(const XBobjIndexKeyData& Key);
  // Removes the current leaf entry (the tag then stands on no key).
  void DeleteCurrentKey();

  // --- What the table handler asks ---

  // Seeks `Key` (its Tag: -1 for any record, else that record's entry):
  // whole keys when the table asks for exact matches (or during a key
  // update), else a key that begins with it. The record found, or 0: not
  // found (the tag stands on the next greater key; TagEOF when there is
  // none or it lies above the range), or found outside the range (TagEOF).
  // A tag read backwards (InvertRead) finds the first match in reading
  // order and else stands on the next key in that order.
  int KeyFind(const XBobjIndexKeyData& Key);
  // The search key of the last KeyFind in the form the tag compares
  // (AdjustValue without trimming).
  const XBobjIndexKeyData& SearchKey() const { return SearchKey_; }
  // Moves: -1 next, -2 previous, -3 top, -4 bottom (of the range when one
  // is set), -5 the current key again; any other value reads nothing. The
  // record reached, or 0 with TagBOF / TagEOF set when a move ran out of
  // the tag or the range.
  int KeyRead(int TypRead);
  // ATag when it is the current record; else the tag is reopened on the
  // table's current record: the record it stands on.
  int KeySync(int ATag);
  // Keeps the tag in step with the write of record `AKey` (the record
  // buffer holds the new record, the table's stored record the old one):
  // adds, moves or removes its key as the key and the FOR condition say.
  // True when the tag changed.
  bool KeyUpdate(int AKey, bool IsAppend);
  bool KeyUpdated() const { return KeyUpdated_; }
  // The record holding a key equal to `Key` (whole keys, the range not
  // counted), 0 for none; the tag stays where it was.
  int HuntDuplicate(const XBobjIndexKeyData& Key);
  // Sets in `FilterSet` (cleared first) the record of every key that
  // stands to `Key` as the operator says (in value, whatever the tag's
  // order), whole keys compared: 129 "=",
  // 131 ">", 132 "<", 133 ">=", 134 "<=". 0, or -1 when the tag has no root.
  int KeyFilter(int argOperator, const TxbVariant& Key, TxbHugeSet& FilterSet);
  // Limits the keys read to those from RLo to RHi (an empty value: no
  // limit on that side), the limits themselves counted when LoIn / HiIn;
  // Partial compares the high limit over its own length only. Then reads
  // the first key of the range. True.
  bool SetRange(const TxbVariant& RLo, bool LoIn, const TxbVariant& RHi, bool HiIn, bool Partial);
  void GetRange(TxbVariant& RLo, TxbVariant& RHi) const;
  bool GetRangeActive() const { return !RangeLo_.IsEmpty() || !RangeHi_.IsEmpty(); }
  // Where the current key stands to the range: 0 inside (also while no
  // range is set, or during a key update), -1 above the high limit (or
  // equal to a high limit not counted, or TagBOF), 1 equal to a low limit
  // not counted (or TagEOF), 2 below the low limit.
  int KeyInRange() const;
  // Keys in the range (or passing the FOR condition); without either, the
  // table's record count. The tag stays on its key.
  int GetRangeCount();
  // The current key's place in the tag from 0 to 1: by the path (fast,
  // approximate) or, exact or with a range, by counting the keys before
  // record `rnum`'s.
  double GetKeyPercent(int rnum, bool exact);
  // Moves to the key at that place (at most 0.001: the top; above 0.999:
  // the bottom); the record reached.
  int SetKeyPercent(double APct, bool exact);

  // --- State ---

  const AnsiString& TagSig() const { return TagSig_; }
  const AnsiString& TagName() const { return TagName_; }
  const AnsiString& KeyExpr() const { return KeyExpr_; }
  const AnsiString& ForExpr() const { return ForExpr_; }
  // The expression text as compiled ("" without one).
  AnsiString GetIndexExpression() const;
  int KeyLength() const { return KeyLength_; }
  int EntryLength() const { return EntryLength_; }
  int MaxKeys() const { return MaxKeys_; }
  char KeyType() const { return KeyType_; }
  bool KeyIsAscending() const { return AscendKey_; }
  bool KeyIsUnique() const { return UniqueKey_; }
  bool Conditional() const { return Conditional_; }
  int RootBlock() const { return RootBlock_; }
  int TagBlock() const { return TagBlock_; }
  bool TagChanged() const { return TagChanged_; }
  void SetTagChanged() { TagChanged_ = true; }
  // The current key; its Tag is the current record (0 for none).
  const XBobjIndexKeyData& CurKeyInfo() const { return CurKeyInfo_; }
  int CurKeyPage() const { return CurKeyPage_; }
  bool TagBOF() const { return TagBOF_; }
  bool TagEOF() const { return TagEOF_; }
  XBobjIndexFile* Owner() const { return Owner_; }
  // The file's index lock (LockOwner).
  bool LockOwner();
  // Pages on the path, root first (for tests of the tree's shape).
  int PathDepth() const;

 protected:
  // The compare of every key: `key` against `entry`, negated by InvertCmpr.
  int CompareKey(const TxbVariant& key, const TxbVariant& entry, int ifPartial) const;

  // The path.
  XBobjIndexKey* RootPage() const { return RootPage_.get(); }
  XBobjIndexKey* LeafPage() const;
  // The path ends in a leaf standing on one of its entries.
  bool OnLeafEntry() const;
  // Loads page `block` below `page` (whose old child must be released).
  XBobjIndexKey* LoadChild(XBobjIndexKey& page, int block);
  // Releases `page`'s child and everything below it.
  void ReleaseChild(XBobjIndexKey& page);
  // The one place that copies a leaf entry to CurKeyInfo: 1 when it is the
  // first key of the tag, plus 2 when it is the last.
  int RetrieveKey();

  // Tree changes on the path, shared by every format.
  void InsertKey(XBobjIndexKey& page, const XBobjIndexKeyData& Key, bool After);
  void AddNodeKey(XBobjIndexKey& page, const XBobjIndexKeyData& Key);
  void SetRoot(XBobjIndexKey& page);
  void ReplaceNodeKey(XBobjIndexKey& page);
  void DeleteKey(XBobjIndexKey& page);
  void DeleteNodeKey(XBobjIndexKey& page);
  // Takes `page` (below the root) out of the tree, its keys kept for
  // adding again; CollectKeys gathers the keys of a page's subtree.
  void TakeOut(XBobjIndexKey& page);
  void CollectKeys(XBobjIndexKey& page, std::vector<std::unique_ptr<XBobjIndexKeyData>>& keys);
  // The first key after the subtree of `page` (reached through its
  // parents' current entries), nullptr when none follows.
  std::unique_ptr<XBobjIndexKeyData> KeyAfter(const XBobjIndexKey& page);
  void AddTakenOutKeys();

  // A piece of a stored page is complete: its image is written. A piece
  // that a split made is handed over and reused afterwards.
  void StorePiece(XBobjIndexKey& page);
  void StoreNewPiece(std::unique_ptr<XBobjIndexKey> piece);
  // The split of a page a format stores: its first `first` entries go to a
  // new page of the same kind at `block`, whose last key goes up to the
  // parent as the new page's separator (a root first gets a parent), and
  // the new page is stored.
  void SplitOff(XBobjIndexKey& page, int first, int block);
  // An empty page object of this tag (reused from the file's pool).
  std::unique_ptr<XBobjIndexKey> NewPage();

  // Raises 65141 for this tag's file.
  [[noreturn]] void RaiseCorrupted() const;
  // Closes the tag, swallowing errors: the first thing a format's
  // destructor does, while its page operations still reach the format.
  void CloseOnDestroy();
  // Sets the key type and length from the key expression's value on the
  // record buffer: text its own length, a logical one byte of text, a
  // number and a date the format's lengths. Raises 65145 without a key
  // expression or for any other value.
  void KeyFormOfExpression(int numberLength, int dateLength);
  // The key type of an opened tag as its key expression gives it on the
  // record buffer, the value left in `sample`: 'N' for a number, 'D' for a
  // date, 'C' for anything else; 0 when the file has no table or the tag no
  // key expression. A stored type that disagrees marks a damaged file: keys
  // of the expression's type could not be turned into it.
  char SampledKeyType(TxbVariant& sample);

  // The feed of a bulk build: for every record from the first to the
  // last that meets the FOR condition, its key computed into `key` and
  // adjusted (DoTrim), then `add(key, record)`; progress goes to the table's
  // status operation. Nothing without a table.
  void ForEachRecordKey(XBobjIndexKeyData& key, const std::function<void(const XBobjIndexKeyData&, int)>& add);

  // Fields the formats set and read.
  AnsiString TagSig_ = "UNK";
  AnsiString TagName_;
  AnsiString KeyExpr_;
  AnsiString ForExpr_;
  int KeyLength_ = 0;
  int DefaultLen_ = 0;
  int EntryLength_ = 0;
  int MaxKeys_ = 0;
  int MinKeys_ = 0;
  int TagBlock_ = 0;
  int RootBlock_ = 0;
  bool TagChanged_ = false;
  bool AscendKey_ = true;
  bool UniqueKey_ = false;
  bool Conditional_ = false;
  char KeyType_ = 'C';
  bool InvertCmpr_ = false;
  bool InvertRead_ = false;
  bool TagUpdating_ = false;
  // Keys a delete took out of the tree with their pages, to be added again
  // in their order: each run goes back before the key that followed it
  // (equal keys keep the order they were added in), or at the end.
  struct TTakenOut {
    std::vector<std::unique_ptr<XBobjIndexKeyData>> keys;
    std::unique_ptr<XBobjIndexKeyData> before;
  };
  std::vector<TTakenOut> Readd_;
  bool KeyUpdated_ = false;
  bool TagBOF_ = false;
  bool TagEOF_ = false;
  XBobjIndexKeyData CurKeyInfo_{256};
  XBobjIndexKeyData SearchKey_{256};
  int CurKeyPage_ = 0;
  XBobjIndexKeyData RangeLo_, RangeHi_;
  int RangeExtent_ = Partial;
  bool LoInRange_ = true, HiInRange_ = true;
  std::unique_ptr<TxbExpHandler> ExprHandlr_;
  std::unique_ptr<TxbExpHandler> FltrHandlr_;

 private:
  friend class XBobjIndexFile;
  // Loads page `block` as a child of `owner` (nullptr: the root).
  std::unique_ptr<XBobjIndexKey> LoadPage(int block, XBobjIndexKey* owner = nullptr);
  // The decoded pages kept for the next loads.
  static size_t DecodedSlot(int block);
  void KeepDecoded(std::unique_ptr<XBobjIndexKey> page);
  void DropDecoded();
  void ReleasePage(std::unique_ptr<XBobjIndexKey> page);
  // Descends from `page` to a leaf by the first (forward) or last entries;
  // false when it meets an empty leaf.
  bool DescendEdge(XBobjIndexKey* page, bool forward);
  // Moves to the next / previous leaf that holds entries; false at the end
  // (the path then stays where it was).
  bool StepLeaf(bool forward);
  std::unique_ptr<TxbExpHandler> Compile(const AnsiString& text);
  // Closes the tag and loads its root from the file.
  void OpenRoot();
  // Whether the pages on the path may be gone through again as they stand:
  // none of them changed, and the block cache still holds the bytes each
  // was read from.
  bool PathReusable() const;
  // The child of `page` at `block`: the one loaded when `reuse` allows and
  // it is that block (without a position), else loaded afresh.
  XBobjIndexKey* Descend(XBobjIndexKey& page, int block, bool reuse);
  // Where `key` stands to the range: 1 above it, -1 below it, 0 inside.
  int RangeSide(const TxbVariant& key) const;
  // After a move: TagEOF above the range, TagBOF below it.
  void RangeCheck();
  // The current key again (after the tag was closed for other work).
  void Restore(const XBobjIndexKeyData& current, bool bof, bool eof);
  // Counts the keys from the top to the end of the range (or all).
  int CountKeys();

  XBobjIndexFile* Owner_;
  std::unique_ptr<XBobjIndexKey> RootPage_;
  std::vector<std::unique_ptr<XBobjIndexKey>> Decoded_;
};

// One index file: its disk file, its tags, the index lock and the block
// cache.
class XBobjIndexFile {
 public:
  // Memory the block cache of an exclusive file may use by default.
  static constexpr size_t DefaultCacheBudget = size_t{64} << 20;

  // An index file of table `PDB` (may be nullptr: then names are taken from
  // the current folder, keys need no table, and finds are exact).
  explicit XBobjIndexFile(XBobjIndexOwner* PDB);
  // Closes the tags and the file; errors are swallowed here (CloseFile
  // raises them). A format's destructor calls WriteOutOnDestroy first.
  virtual ~XBobjIndexFile();
  XBobjIndexFile(const XBobjIndexFile&) = delete;
  XBobjIndexFile& operator=(const XBobjIndexFile&) = delete;

  // --- The format's operations ---

  virtual bool AddTag(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
                      bool Uniq);
  virtual bool DeleteTag(const AnsiString& ITN);
  // The next free page, taken; -1 here.
  virtual int GetAvailPage();
  virtual void ResetAvailPage();
  // Reads / writes `Size` bytes at byte position `Blok`, unscrambled /
  // scrambled per 512 bytes with the table's passwords; false when not all
  // bytes moved (or there is no file). Formats that count pages convert
  // their page numbers and call these.
  virtual bool PageRead(int64_t Blok, uint8_t* Page, int Size);
  virtual bool PageWrite(int64_t Blok, const uint8_t* Page, int Size);
  // PageRead without a copy: the bytes at byte position `Blok`, valid until
  // the next page operation of the file; nullptr when not all could be read.
  const uint8_t* PageView(int64_t Blok, int Size);
  virtual void Reindex();
  // Renames the file (keeping its extension); true.
  virtual bool Rename(const std::string& NewName);
  // Keeps every tag in step with the write of record `AKey`; the next
  // free page is counted again first. True when a tag changed.
  virtual bool TagUpdate(int AKey, bool IsAppend);
  virtual bool ExternalChange();
  virtual void ixSetLockProtocol(XBsetLokProtocol LokProtocol);
  // Before a record write: raises when a tag could not take its keys
  // (nothing here).
  virtual void CheckUpdatable() {}
  // After the table's password changed: every whole 512-byte block of the
  // file is unscrambled with the read password and scrambled anew with the
  // write password.
  virtual void ixEncrypt();

  // --- Opening ---

  // Opens or creates the disk file: `EX` is the default extension; a name
  // without a folder goes beside the table. Creating without Overwrite
  // opens an existing file instead. Opening gives nullptr for a missing
  // file; creating makes it empty, read-write and exclusive.
  XBO_DiskFile* IndexFileOpen(const std::string& FN, const std::string& EX, bool ReadWrite, bool Shared,
                              bool Create, bool Overwrite);

  // --- Changing the whole file ---

 protected:
  class TWholeFileLock;

 public:
  // A change of the whole file (a rebuild, a tag added or removed) made on a
  // copy beside it, so that the file stays byte-identical until the change
  // is complete and written. While the object lives, the file's pages go to
  // the copy; Commit puts the copy in the file's place: renamed over a file
  // held exclusively, written over a shared one (which other programs hold
  // open by its handle), and written back as it was should that fail.
  // Dropped without a Commit, the copy is deleted and the index file object
  // is left closed: its tags may hold the unfinished change, so its owner
  // opens the file again.
  class TRewrite {
   public:
    // Writes out what the file owes (raising what fails: the change has not
    // begun), then starts the copy with the file's first `keep` bytes (all
    // of them when `keep` is negative). A shared file stays locked whole
    // until the end.
    TRewrite(XBobjIndexFile& file, int64_t keep);
    ~TRewrite();
    TRewrite(const TRewrite&) = delete;
    TRewrite& operator=(const TRewrite&) = delete;

    // Writes the change out to the copy and closes it (raising what fails).
    void Complete();
    // Puts the completed copy in the file's place; the object goes on with
    // the file. Raises (the file as it was) when that cannot be done. With
    // `keepOld` (a file held exclusively) a second name of the old file is
    // kept until the object goes, for Restore.
    void Commit(bool keepOld = false);
    // Puts the old file back over the copy after a Commit(true), for work
    // after it that failed; true when it is back (its owner then opens it
    // again: the object holds the copy).
    bool Restore();

   private:
    void CopyBack();

    XBobjIndexFile& file_;
    std::unique_ptr<platform::TReplaceFile> copy_;
    std::string kept_;  // the old file's second name
    std::unique_ptr<XBO_DiskFile> original_;
    std::unique_ptr<TWholeFileLock> lock_;
    bool completed_ = false;
    bool committed_ = false;
  };

  // --- Locks (shared files only; an exclusive file is always locked) ---

  // Waits for the protocol's index-lock bytes (65198 "Can not Lock file"
  // when they cannot be had); true.
  bool IndexLock();
  // Releases one count of the index lock.
  void IndexUnlock();

  // --- Writing out and closing ---

  // Stores every tag's changed pages and header and writes the changed
  // blocks the cache holds, so that the file on disk is complete; the tags
  // stay where they are.
  void Flush();
  // Flush, then closes the disk file (raising what closing raises).
  void CloseFile();

  // --- Tags ---

  XBobjIndexTag* TagByName(const AnsiString& ITN) const;
  // 0-based; nullptr outside.
  XBobjIndexTag* TagByNumber(int n) const;
  int TagCount() const { return TagList_.Count(); }
  // The first tag whose key expression is `AKey` (case ignored); with AFor
  // tags with a FOR condition are passed over.
  XBobjIndexTag* KeyByName(const AnsiString& AKey, bool AFor) const;
  // The file's name part equals IName's, case ignored.
  bool IsFileName(const std::string& IName) const;
  // The disk file's full name; while the file is being made beside its
  // name, the name it is made for.
  std::string GetFileName() const;
  // The name GetFileName gives (and errors name, the disk file's too)
  // while the file is made on a new file beside `name`; "" for the disk
  // file's own.
  void SetShownName(const std::string& name) {
    ShownName_ = name;
    if (DiskFile_) DiskFile_->SetShownName(name);
  }

  // --- State ---

  const std::string& IndexName() const { return IndexName_; }
  XBobjIndexOwner* Owner() const { return Owner_; }
  XBO_DiskFile* DiskFile() const { return DiskFile_.get(); }
  bool KeyWithRec() const { return KeyWithRec_; }
  bool Exact() const { return Exact_; }
  void SetExact(bool v) { Exact_ = v; }
  int NextAvail() const { return NextAvail_; }
  bool CreateOK() const { return CreateOK_; }
  bool Corrupted() const { return Corrupted_; }
  XBsetLokProtocol dfLockStyle() const { return dfLockStyle_; }
  const XBLockRegions& LockRegions() const { return Regions_; }
  // Whether blocks are kept in the cache (the file is open exclusively).
  bool Caching() const { return CachePage_ > 0 && DiskFile_ && !DiskFile_->FileShared(); }
  // Bounds the cache's memory (it always keeps a few blocks).
  void SetCacheBudget(size_t bytes);
  // Blocks the cache holds now.
  int CachedPages() const { return static_cast<int>(Slots_.size() - FreeSlots_.size()); }
  // The file's size, counting blocks the cache has not written yet.
  int64_t FileSize() const;
  // Memory the key sorter of a bulk build may hold before it spills runs
  // to its work file.
  size_t SortBudget() const { return SortBudget_; }
  void SetSortBudget(size_t bytes) { SortBudget_ = bytes; }

 protected:
  // The tags, owned.
  TxbCollection<XBobjIndexTag>& TagList() { return TagList_; }
  // The format's page size: reads and writes of whole pages go through the
  // cache (0: none).
  void SetCachePage(int size) { CachePage_ = size; }
  // Writes the changed blocks of the cache, then forgets it (before the
  // file is rewritten behind it: rebuilds, zap, new passwords).
  void DropCache();
  // Forgets the cache without writing (the file is being made anew).
  void DiscardCache();
  // IndexFileOpen made the file (rather than opening one).
  bool FileCreated() const { return FileCreated_; }
  // Holds a shared file locked whole while it is emptied and rebuilt (the
  // index lock's bytes would not let it be truncated); under DB4Lock those
  // bytes lie above the whole-file range and are taken as well, so that no
  // program that locks them alone slips in. Nothing for an exclusive file.
  class TWholeFileLock {
   public:
    explicit TWholeFileLock(XBobjIndexFile& file);
    ~TWholeFileLock();
    TWholeFileLock(const TWholeFileLock&) = delete;
    TWholeFileLock& operator=(const TWholeFileLock&) = delete;

   private:
    XBobjIndexFile& file_;
    bool held_ = false;
    bool db4_ = false;
  };
  [[noreturn]] void RaiseCorrupted() const;
  // Closes the tags and writes what is owed, swallowing errors: the first
  // thing a format's destructor does, while its page operations still
  // reach the format.
  void WriteOutOnDestroy();
  // The free space at the end of the file, counted in the format's units
  // (blocks or bytes) by NextAvail_: takes `step` units and gives where
  // they start, counting the end anew first when NextAvail_ is -1. Raises
  // 65195 rather than count past `limit` units.
  int TakeAvail(int step, int limit);
  // Reads the header of `tag` and lists it; the tag is returned.
  XBobjIndexTag* AddLoadedTag(std::unique_ptr<XBobjIndexTag> tag);
  // A format whose file holds one tag makes a new one: the old tag is
  // closed and dropped with the cache, the file's pages count from its
  // start again, and `tag` is listed and returned.
  XBobjIndexTag* ReplaceOnlyTag(std::unique_ptr<XBobjIndexTag> tag);

  std::string IndexName_;
  std::string ShownName_;
  std::unique_ptr<XBO_DiskFile> DiskFile_;
  bool KeyWithRec_ = false;
  bool Dictionary_ = false;
  int NextAvail_ = -1;
  // The furthest NextAvail_ has reached: pages taken but not written yet
  // are beyond the file's end, and a recount must not hand them out again.
  int HighWater_ = 0;
  bool Exact_ = true;
  bool CreateOK_ = false;
  bool Corrupted_ = false;
  bool FileCreated_ = false;
  XBsetLokProtocol dfLockStyle_ = XBsetLokProtocol::Default;
  XBLockRegions Regions_;

 private:
  friend class XBobjIndexTag;
  struct CacheSlot {
    int64_t index = -1;  // position div page size; -1 when free
    bool dirty = false;
    bool referenced = false;
    uint64_t stamp = 0;  // new whenever the bytes change; 0 when free
  };
  // The cache keeps at least this many blocks whatever its budget.
  static constexpr size_t MinCachedPages = 16;
  // The most blocks one write-back puts in one write.
  static constexpr int64_t MaxRunPages = 256;
  // The most bytes a missed block brings in with it.
  static constexpr int ReadAheadBytes = 32 << 10;

  // Page objects are reused: a released one waits here for the next load.
  std::unique_ptr<XBobjIndexKey> NewPageObject(XBobjIndexTag* tag);
  void Recycle(std::unique_ptr<XBobjIndexKey> page);
  // Around a format's PageLoad: the page learns the slot and stamp of the
  // cached block it was made from, when it was made from just one.
  void BeginPageLoad();
  void EndPageLoad(XBobjIndexKey& page) const;
  // The block a page was made from still holds the same bytes.
  bool SourceUnchanged(const XBobjIndexKey& page) const;

  // The file's bytes, scrambled on the way with the table's passwords (or
  // with `password`).
  bool DiskRead(int64_t pos, uint8_t* bytes, int size);
  // Cache blocks to read at a miss of block `index` while a walk steps
  // forwards (1 or more).
  int ReadAheadPages(int64_t index) const;
  // Reads up to `pages` blocks at `pos`; the whole blocks read (0 when not
  // even the first could be).
  int DiskReadPages(int64_t pos, uint8_t* bytes, int pages);
  bool DiskWrite(int64_t pos, const uint8_t* bytes, int size);
  bool DiskWrite(int64_t pos, const uint8_t* bytes, int size, const AnsiString& password);
  const AnsiString& PasswordIn() const;
  const AnsiString& PasswordOut() const;
  // The cache: a whole aligned page, or nothing.
  bool Cacheable(int64_t pos, int size) const { return Caching() && size == CachePage_ && pos % CachePage_ == 0; }
  uint8_t* SlotBytes(int slot) { return Arena_.data() + static_cast<size_t>(slot) * static_cast<size_t>(CachePage_); }
  int FindSlot(int64_t index) const;
  // A slot for page `index` (evicting one when the cache is full).
  int TakeSlot(int64_t index);
  // Writes the block of `slot` when it changed, together with the changed
  // blocks the cache holds on either side of it.
  void WriteBack(int slot);
  bool DirtyAt(int64_t index) const;
  void FreeSlot(int slot);
  // Writes back and frees the cached blocks over [pos, pos + size).
  void Uncache(int64_t pos, int size);
  void WriteBackAll();

  XBobjIndexOwner* Owner_;
  TxbCollection<XBobjIndexTag> TagList_;
  int CachePage_ = 0;
  size_t CacheBudget_ = DefaultCacheBudget;
  size_t SortBudget_ = size_t{32} << 20;
  std::vector<int32_t> SlotOf_;  // page index -> slot, -1 for none
  std::vector<CacheSlot> Slots_;
  std::vector<int> FreeSlots_;
  std::vector<uint8_t> Arena_;  // the slots' bytes, CachePage_ each
  size_t Hand_ = 0;             // the clock hand over Slots_
  int64_t CacheEnd_ = 0;        // end of the furthest block written to the cache
  bool Walking_ = false;        // a tag's walk steps forwards: misses read ahead
  std::vector<std::unique_ptr<XBobjIndexKey>> Pool_;
  std::vector<uint8_t> CryptBuf_;
  std::vector<uint8_t> ViewBuf_;  // PageView of a page that is not cached
  std::vector<uint8_t> MissBuf_;  // a cacheable page on its way into the cache
  std::vector<uint8_t> RunBuf_;  // a run of blocks on its way to the file
  uint64_t NextStamp_ = 1;
  int Views_ = 0;      // views since BeginPageLoad
  int LastView_ = -1;  // the slot of the last view, -1 when it was not cached
};

}  // namespace xbase
