// The CDX compound index: several tags in one file of 512-byte nodes.
//
// Offsets are byte positions in the file, multiples of 512. Integers are
// little-endian except where marked BE.
//
//   Tag header (1024 bytes at the tag's offset; the tag directory's at 0)
//     offset  size
//          0     4  offset of the root node
//          4     4  0 (another writer may keep a free-node list here: kept)
//          8     4  BE change counter (the directory's header only)
//         12     2  key length, 1-240
//         14     1  options: 0x60, +1 unique, +8 FOR condition; 0xE0 for
//                   the tag directory
//         15     1  1, or 2 for the GENERAL collation
//        494     8  "GENERAL" for that collation, else zeros
//        502     2  1 for a descending tag
//        504     2  key expression length + 1
//        506     2  FOR expression length + 1, or 1 without one
//        510     2  key expression length + 1, or 1 without one
//        512     .  key expression, 0, FOR expression, 0
//
//   Node (512 bytes)
//          0     2  attributes: bit 0 root, bit 1 leaf
//          2     2  number of keys n
//          4     4  left sibling  (0xFFFFFFFF: none)
//          8     4  right sibling (0xFFFFFFFF: none)
//
//   Interior node, from 12: n entries of key length + 8 bytes: the key
//   (blank-padded text, zero-padded binary), BE record number, BE offset
//   of the child whose last key this is.
//
//   Leaf node (compact)
//         12     2  free bytes (488 in an empty leaf)
//         14     4  record-number mask      18  1  duplicate-count mask
//         19     1  trailing-count mask     20  1  record-number bits
//         21     1  duplicate-count bits    22  1  trailing-count bits
//         23     1  bytes per entry R
//         24     .  n entries of R bytes; read as a little-endian number E:
//                   record = E & mask (low bits), then the duplicate count,
//                   then the trailing count in the top bits
//   Key bytes fill the node from its end backwards, the first entry's
//   last: each key is the first duplicate-count bytes of the previous key,
//   its stored bytes, then trailing-count pad bytes (blanks for text,
//   zeros otherwise).
//
// The tag directory is a tag whose keys are the tag names (upper case, at
// most 10 characters) and whose record numbers are the offsets of the
// tags' headers; it lists them in name order.
//
// Keys. Text keys are their bytes; in a GENERAL tag the text padded to the
// tag's text length is replaced by its primary weights (rank in the fixed
// 1251 collation, case ignored, blank weighing 0x20), followed by one
// diacritic weight per character (0xF0, 0xF1 for an upper-case letter),
// trailing 0xF0 cut and the whole cut to 240 bytes, so byte order is
// collation order and a key sorts before its extensions. Numbers are the
// big-endian double with the sign bit set for values not below zero and
// every bit inverted for negative ones; dates are their Julian day as such
// a number. Trailing zero bytes of numbers and dates and trailing blanks of
// text are not stored. Equal keys are kept in record order; a descending
// tag is stored ascending and read backwards.
//
// Nodes are never reused: new ones are taken at the end of the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "xbase/base/key_sorter.h"
#include "xbase/index/index_framework.h"

namespace xbase {

class XBobjCDXFile;

// The order of a tag's text keys.
enum class XBcdxCollation : uint8_t { None = 0, Machine = 1, General = 2 };

// One tag of a CDX file (or of an index in memory, which keeps its nodes
// in memory buffers through the same page operations). The tag directory
// of a CDX file is such a tag as well.
class XBobjCDXTag : public XBobjIndexTag {
 public:
  // The longest key a node may hold.
  static constexpr int MaxKeyLength = 240;
  // The longest key or FOR expression the header holds.
  static constexpr int MaxExpression = 255;

  // A tag whose header is at byte `headerOffset`; `directory` makes the tag
  // directory (no expression, names as keys).
  XBobjCDXTag(XBobjIndexFile* owner, int headerOffset, bool directory);
  ~XBobjCDXTag() override;

  // Text: cut to the key length (DoTrim: without trailing blanks); under
  // GENERAL the weights, primary weights only for a partial search key
  // (DoTrim false and the file not asking for whole keys). Numbers and
  // dates: their stored bytes, as a binary value (kept when already so).
  void AdjustValue(TxbVariant& AKey, bool DoTrim) override;
  // Sets the tag up from the key evaluated once, writes a zeroed header at
  // the tag's offset and builds the tree from the table (DoIndex).
  bool IndexTagNew(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
                   bool Uniq) override;
  // Adds with Xtra set to the record number, so equal keys go in record
  // order.
  bool KeyAdd(XBobjIndexKeyData& Key) override;
  int GetTagRoot() override;
  // Reads and checks a node: 65141 for one whose counts, masks or key bytes
  // cannot be valid.
  void PageLoad(int PN, XBobjIndexKey& PIK) override;
  // Splits an interior node over the maximum keys, or a leaf whose packed
  // entries do not fit, into a new node on its left, keeping the sibling
  // links; a node left empty is taken out of the sibling chain.
  void PageStore(XBobjIndexKey& PIK) override;
  // Reads and checks the header (65141 for one that cannot be valid) and
  // compiles the expressions; the key type comes from evaluating the key.
  void TagLoad() override;
  // Writes the header fields when the tag changed, keeping the header's
  // other bytes.
  void TagStore() override;
  void PageWriteImage(XBobjIndexKey& PIK) override;

  // Builds the tree bottom-up from every record's key (those meeting the
  // FOR condition), taken in order from the key sorter; no key gives an
  // empty root leaf. Nodes are taken from the file's next free offset.
  void DoIndex();
  // Takes a new header and builds the tag there again with its own name,
  // expressions, order and collation (the file is being rebuilt).
  void Rebuild();

  XBcdxCollation Collation() const { return Collation_; }
  // The order of a tag yet to be made (IndexTagNew).
  void SetCollation(XBcdxCollation c) { Collation_ = c; }
  bool IsDirectory() const { return Directory_; }
  bool Descending() const { return InvertRead_; }
  // Characters weighed in a GENERAL key.
  int TextLength() const { return TextLength_; }

  // A GENERAL tag takes keys only when it orders them as we do: true when
  // this session made the tag, or when every stored key equals the key we
  // compute for its record (checked once, viewing every record without
  // moving the table).
  bool WeightsAgree();

 private:
  friend class XBobjSortCDX;
  friend class XBobjCDXFile;
  // The largest record number a leaf may have to hold.
  uint32_t RecordBound() const;
  uint8_t PadByte() const { return KeyType_ == 'C' ? ' ' : 0; }
  void ReadHeader(uint8_t* h);
  void WriteHeader(const uint8_t* h);
  // Sets the link at byte `at` of the node at `offset` to `value`, when it
  // holds `expect` (the node being changed).
  void PatchLink(int offset, int at, int value, int expect);
  void SplitLeaf(XBobjIndexKey& PIK);
  void SplitNode(XBobjIndexKey& PIK);
  // Hands the first `first` entries of PIK to a new node on its left, with
  // their separator to the parent.
  void SplitOff(XBobjIndexKey& PIK, int first);
  // Sets key type and lengths from the key expression's value.
  void SetKeyForm();
  void WriteEmptyRoot();

  bool Directory_;
  XBcdxCollation Collation_ = XBcdxCollation::Machine;
  int TextLength_ = 0;
  // 1: the weights of a GENERAL tag were found to agree; -1: not; 0: not
  // checked yet.
  int WeightsChecked_ = 0;
};

// The key sorter of a CDX bulk build, which then writes the tree: leaves
// packed full from the left, each level's last keys going up as the next
// level's entries, siblings linked, the topmost level the root.
class XBobjSortCDX : public TxbSort {
 public:
  XBobjSortCDX(XBobjCDXTag& tag, size_t memoryBudget, const std::string& tempDir);
  ~XBobjSortCDX() override;

  // Adds the (adjusted) key of record `rec`.
  void AddRecord(const TxbVariant& key, int rec);
  // Writes the tree from the sorted keys; the root's offset.
  int WriteTree();

  // Keys written.
  int64_t KeyTot() const;

 private:
  struct Rep;
  std::unique_ptr<Rep> rep_;
};

class XBobjCDXFile : public XBobjIndexFile {
 public:
  // Opens (or with Create, creates) the index file `FN` of table `PDB`
  // (".cdx" when the name has none). An existing file's directory and tags
  // are read at once; a header or directory that cannot be valid leaves
  // Corrupted set and CreateOK clear. A file carrying the table's base
  // name marks the table's production index.
  XBobjCDXFile(XBobjIndexOwner* PDB, const std::string& FN, bool ReadWrite, bool Shared, bool Create,
               bool Overwrite);
  ~XBobjCDXFile() override;

  // A tag of the same name (cut to 10 characters, case ignored) is removed
  // first; the new tag is built and listed in name order. Expressions over
  // 255 bytes raise 65178 before anything is written.
  bool AddTag(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
              bool Uniq) override;
  // Removes the tag; when none remains the file is made empty. A shared
  // file is locked whole meanwhile. False when there is no such tag.
  bool DeleteTag(const AnsiString& ITN) override;
  // Byte offsets: the next 512 bytes at the end of the file.
  int GetAvailPage() override;
  void ResetAvailPage() override;
  // Empties the file and builds every tag anew with its name, expressions,
  // order and collation. A shared file is locked whole meanwhile.
  void Reindex() override;
  // After the tags' keys: a change counts up the directory's counter.
  bool TagUpdate(int AKey, bool IsAppend) override;

  // Raises a clear error naming the file and the tag when a GENERAL tag
  // orders its keys otherwise than we do.
  void CheckUpdatable() override;

  // The collation new tags get (the caller's choice of order).
  void SetNewTagCollation(XBcdxCollation c) { NewTagCollation_ = c; }
  XBcdxCollation NewTagCollation() const { return NewTagCollation_; }
  XBobjCDXTag* Directory() const { return Directory_.get(); }
  XBobjCDXTag* Tag(int n) const { return static_cast<XBobjCDXTag*>(TagByNumber(n)); }
  uint32_t ChangeCounter() const { return Counter_; }

 protected:
  // The directory's header: its root and change counter.
  int StampBytes() const override { return 512; }
  // The directory and the tags it now lists.
  void Reload() override;

 private:
  friend class XBobjCDXTag;
  void LoadDirectory();
  void MakeEmpty();
  void RemoveTag(XBobjIndexTag* tag);
  void InsertInNameOrder(std::unique_ptr<XBobjCDXTag> tag);
  uint32_t ReadCounter();
  void WriteCounter();
  // Counts a change of the file's keys or tags up, for others to see.
  void CountChange();

  std::unique_ptr<XBobjCDXTag> Directory_;
  XBcdxCollation NewTagCollation_ = XBcdxCollation::Machine;
  uint32_t Counter_ = 0;
};

// Builds GENERAL weights: `full` the whole key of `textLength` characters
// (primary weights, then diacritic weights), else primary weights of the
// text as given; cut to `keyLength`. Exposed for the tests of the order.
AnsiString CdxGeneralKey(const AnsiString& text, int textLength, int keyLength, bool full);

}  // namespace xbase
