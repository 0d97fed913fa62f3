// The NDX index format: one tag per file, a B-tree of 512-byte blocks.
//
// Block n starts at byte n * 512. Integers are little-endian; keys of
// numeric and date tags are 8-byte IEEE doubles, little-endian.
//
//   Header (block 0)
//     offset  size
//          0     4  root block
//          4     4  next free block
//          8     4  0
//         12     2  key length: a text key's length; 8 for numeric and date
//         14     2  maximum keys per page = 504 div entry length
//         16     2  1 for numeric and date keys, else 0
//         18     2  entry length = in-memory key length + 8, rounded up to a
//                   multiple of 4 (text: key length + 8; numeric 20; date 16)
//         20     3  0
//         23     1  1 for a unique tag
//         24     .  key expression, zero-terminated; zeros to byte 511
//
//   Page (any other block)
//          0     4  number of keys k (the low 16 bits count)
//          4     .  entries of the entry length:
//                     +0 4  child block (0 in a leaf)
//                     +4 4  record number (0 in a node)
//                     +8 .  key: text blank-padded to the key length, or
//                           the double; zeros to the entry's end
//
// A page whose first child is not 0 is a node: k keyed entries, then one
// more that holds only the child for keys above the last key (k + 1
// children). That last pointer is 4 bytes at 4 + k * entry length: a node
// that holds the maximum keys has no room for a whole entry there. A page
// whose first child is 0 is a leaf of k entries.
//
// In memory a text key has no trailing blanks; a numeric key is the double,
// a date key the double of its Julian day (the empty date 1.0e100, so it
// sorts after every real date). The pointer-only entry of a node carries a
// key above every real one (text: the byte 0xFF; numbers: 1.7e308). Keys
// compare byte by byte (text, blank-padded) or by value; equal keys stay in
// the order they were added. Other writers use entry length 16 for numeric
// keys: the entry length is always taken from offset 18.
//
// Blocks are never reused: a deleted key leaves room inside its page only.
#pragma once

#include <string>

#include "xbase/index/index_framework.h"

namespace xbase {

class XBobjNDXFile;

class XBobjNDXTag : public XBobjIndexTag {
 public:
  // The longest text key: a page must hold a key beside a child pointer.
  static constexpr int MaxTextKey = 244;

  explicit XBobjNDXTag(XBobjNDXFile* owner);
  // Stores what the open path changed (errors are swallowed here).
  ~XBobjNDXTag() override;

  // Text keys as text (DoTrim: without trailing blanks); numeric keys as
  // doubles (text is read as a number); date keys as the double of the day
  // number, the empty date 1.0e100.
  void AdjustValue(TxbVariant& AKey, bool DoTrim) override;
  // The tag's name is the file's; ITN is not used. The key is evaluated once
  // on the record buffer for its type and length. A descending order, a FOR
  // condition (the header has room for neither) and text keys longer than
  // 244 bytes (65162) are refused before anything is written.
  bool IndexTagNew(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
                   bool Uniq) override;
  // Adds with Xtra cleared (nodes carry no record numbers); a text key is cut
  // to the key length. A tag whose pages hold fewer than 2 keys raises 65162.
  bool KeyAdd(XBobjIndexKeyData& Key) override;
  // A leaf without entries, or a node holding only its last pointer, has
  // no key: other programs skip what lies below such a node.
  bool StoresNoKey(const XBobjIndexKey& PIK) const override { return PIK.Count() <= (PIK.IsLeaf() ? 0 : 1); }
  // The root block stated in the header.
  int GetTagRoot() override;
  void PageLoad(int PN, XBobjIndexKey& PIK) override;
  // A page over the maximum keys hands its first ceil(n / 2) entries to a
  // new block, whose last key goes up as its separator.
  void PageStore(XBobjIndexKey& PIK) override;
  // Reads and checks the header (65141 for one that cannot be valid) and
  // compiles the key expression; the key type comes from evaluating it.
  void TagLoad() override;
  // Writes the header when the tag changed.
  void TagStore() override;
  void PageWriteImage(XBobjIndexKey& PIK) override;
  // A page is its block's bytes alone.
  bool DecodesPagesAlone() const override;

  // Builds the tree bottom-up from every record's key (those that meet the
  // FOR condition), taken in order from the key sorter: leaves filled to
  // the maximum keys, each level's last key passed up to the next, the
  // highest level the root. Equal keys stay in record order. No key at all
  // gives an empty root leaf. Starts at the file's next free block.
  void DoIndex();
  // 65162 unless the key sorter can take this tag's keys (key length + 1 at
  // most 240), when the table has records to sort.
  void CheckBuildable();
  // The empty tree of a zapped file: root block 1, next free block 2.
  void MakeEmpty();

 private:
  // The key length the header states (8 for numeric and date keys).
  int StoredKeyLength() const { return KeyType_ == 'C' ? KeyLength_ : 8; }
};

class XBobjNDXFile : public XBobjIndexFile {
 public:
  // Opens (or with Create, creates) the index file `FN` of table `PDB`
  // (".ndx" when the name has none). An existing file's tag is read at
  // once: a header that cannot be valid raises 65141. CreateOK tells
  // whether there is a file.
  XBobjNDXFile(XBobjIndexOwner* PDB, const std::string& FN, bool ReadWrite, bool Shared, bool Create,
               bool Overwrite);
  ~XBobjNDXFile() override;

  // Makes the file's one tag anew (the free-block counter starts at 0).
  bool AddTag(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
              bool Uniq) override;
  // Block numbers: the next free one is taken (counted from the file's
  // size when unknown); pages never return to the free list.
  int GetAvailPage() override;
  void ResetAvailPage() override;
  // `Blok` is a block number here: byte position Blok * 512.
  bool PageRead(int64_t Blok, uint8_t* Page, int Size) override;
  bool PageWrite(int64_t Blok, const uint8_t* Page, int Size) override;
  // Empties the index (1,024 bytes: the header and an empty root), then
  // builds it anew from the table. Nothing is written when the build could
  // not run (65162).
  void Reindex() override;
  // Empties the index: 1,024 bytes, root block 1, next free block 2. A
  // shared file is locked whole meanwhile.
  virtual void Zap();

  XBobjNDXTag* Tag() const;

 protected:
  // The header: its root and next free block move with every change of
  // the tree's shape.
  int StampBytes() const override { return 512; }
  void Reload() override;

 private:
  friend class XBobjNDXTag;
  void ZapLocked();
};

}  // namespace xbase
