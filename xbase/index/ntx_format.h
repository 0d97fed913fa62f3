// The NTX index format: one tag per file, a B-tree of 1024-byte pages in
// which every key is stored exactly once -- interior pages hold real keys
// with their records -- and every key is text.
//
// Pages are addressed by byte offset (a multiple of 1024). Integers are
// little-endian.
//
//   Header (offset 0, 1024 bytes)
//     offset  size
//          0     2  signature: 6, or 7 when the tag has a FOR condition
//                   (3 is read as 6)
//          2     2  change counter (1 after 32767)
//          4     4  offset of the root page
//          8     4  0
//         12     2  entry length = key length + 8
//         14     2  key length (1-256)
//         16     2  key decimals
//         18     2  maximum keys per page = 2 * ((1020 div (key + 10) - 1)
//                   div 2)
//         20     2  1 (other writers store half the maximum; not read)
//         22   256  key expression, zero-terminated
//        278     1  1 for a unique tag
//        279     1  1 for a descending tag
//        280     1  1 for a descending tag (where other writers keep it)
//        282   256  FOR expression, zero-terminated
//        538     .  other writers' fields, kept as they are
//
//   Page
//          0     2  number of keys k
//          2     .  (maximum + 1) 2-byte offsets of the items in the page;
//                   written afresh as (maximum + 2) * 2 + i * entry length
//          .     .  items of the entry length:
//                     +0 4  child page offset (0 in a leaf)
//                     +4 4  record number
//                     +8 .  key, blank-padded to the key length
//
// A page is a node when item 0 has a child: its k keys lie between k + 1
// children, the last in item k (written with record 0 and a blank key).
// Keys in child i are below key i, which is below those in child i + 1.
//
// Keys (text of the key length):
//   C  the text;
//   D  "yyyymmdd"; the empty date blank;
//   N  the absolute value as STR writes it in the key length with the key
//      decimals, blanks made "0"; a negative value has every digit d made
//      the character 44 - d ("0" ",", "9" "#"), so negative values sort
//      below the others and larger magnitudes lower. A value too wide is
//      all "*".
// Keys compare as blank-padded bytes; a descending tag stores them in
// descending order. Equal keys lie in the order they were added (record
// order after a build), in either direction.
//
// In memory a page follows the framework's rule that a node's entry holds
// the last key below it: a node's pointer-only item k carries its parent's
// separator (a sentinel on the rightmost path), and every leaf but the
// rightmost ends with a copy of the separator that follows it, so a walk of
// the leaves meets every key once. Storing drops the copies again.
//
// Pages are never reused; a deleted key leaves room in its page only, and
// a page below the root that would keep no key leaves the tree (its keys
// are added again), as other programs take a keyless page as damage.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xbase/base/key_sorter.h"
#include "xbase/index/index_framework.h"

namespace xbase {

class XBobjNTXFile;

// Lays out a tree from keys that arrive in order, bottom-up: leaves filled
// to an even share of the maximum, each key that follows a full leaf passed
// up as the separator, nodes filled to the maximum items, and every level's
// last page hung under the level above at the end. No key is lost, no node
// is keyless or holds more than the maximum. Where the pages go is the
// sink's.
class TxbNTXTreeBuilder {
 public:
  static constexpr int PageSize = 1024;
  // Levels of the tree: enough for 2^31 keys at two keys per page.
  static constexpr int MaxLevels = 32;

  class TPageSink {
   public:
    virtual ~TPageSink() = default;
    // The offset of a new page.
    virtual int NewPage() = 0;
    // Writes the 1024 bytes of the page at `offset`.
    virtual void WritePage(int offset, const uint8_t* page) = 0;
  };

  // A tree of keys of `keyLength` bytes (1-256), `maxKeys` to a page (at
  // least 2), for about `expected` keys (sets how full the leaves are).
  TxbNTXTreeBuilder(TPageSink& sink, int keyLength, int maxKeys, int64_t expected);
  ~TxbNTXTreeBuilder();
  TxbNTXTreeBuilder(const TxbNTXTreeBuilder&) = delete;
  TxbNTXTreeBuilder& operator=(const TxbNTXTreeBuilder&) = delete;

  // The next key in order (keyLength bytes) with its record.
  void Add(const uint8_t* key, uint32_t rec);
  // Writes what the levels hold; the offset of the root (an empty page
  // when no key came).
  int Finish();

 private:
  struct Rep;
  std::unique_ptr<Rep> rep_;
};

// The key sorter of a bulk build: keys in their stored form (text blank-
// padded or cut to the key length, up to 256 bytes) come back in the tag's
// order -- descending too -- with equal keys in record order.
class XBobjSortNTX : public TxbSort {
 public:
  XBobjSortNTX(int keyLength, bool unique, bool ascending, size_t memoryBudget, const std::string& tempDir);

  void AddNtxKey(const TxbVariant& key, int rec);
  // The next key's bytes (valid until the next call) and record; false at
  // the end.
  bool NextNtxKey(const uint8_t*& key, int& rec);

 private:
  bool descending_;
  std::vector<uint8_t> bytes_;
};

class XBobjNTXTag : public XBobjIndexTag {
 public:
  static constexpr int MaxKeyLength = 256;
  // Key and FOR expressions: 256-byte fields with their terminator.
  static constexpr int MaxExpression = 255;

  explicit XBobjNTXTag(XBobjNTXFile* owner);
  // Stores what the open path changed (errors are swallowed here).
  ~XBobjNTXTag() override;

  // A key in its stored text form (see the layout); DoTrim drops trailing
  // blanks. Text given to a numeric tag is read as a number when it is one
  // (else taken as a stored form), to a date tag taken as "yyyymmdd".
  void AdjustValue(TxbVariant& AKey, bool DoTrim) override;
  // The tag's name is the file's. The key is evaluated once for its type
  // and length: text and logical C, dates D of 8, numbers N of the field's
  // length and decimals when the expression names a field, else 18 and 4.
  // Raises 65178 for an expression over 255 bytes and 65162 for a key over
  // 256 bytes before anything is written; then builds the tag from the
  // table's records.
  bool IndexTagNew(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
                   bool Uniq) override;
  // Adds with the record as Xtra (nodes keep it); text is cut to the key
  // length.
  bool KeyAdd(XBobjIndexKeyData& Key) override;
  // The root offset stated in the header.
  int GetTagRoot() override;
  void PageLoad(int PN, XBobjIndexKey& PIK) override;
  // A page over the maximum keys hands its first half to a new page, whose
  // last key goes up as its separator.
  void PageStore(XBobjIndexKey& PIK) override;
  // Reads and checks the header (65141 for one that cannot be valid) and
  // compiles the expressions; the key type comes from evaluating the key.
  void TagLoad() override;
  // Writes the header when the tag changed (other writers' fields kept).
  void TagStore() override;
  void PageWriteImage(XBobjIndexKey& PIK) override;
  // A leaf stores its keys but the separator copy it ends with in memory
  // (the rightmost leaf has none); a node all keys but its last entry's.
  bool StoresNoKey(const XBobjIndexKey& PIK) const override;
  bool NodesHoldKeys() const override { return true; }

  // Builds the tree bottom-up from every record's key (those that meet the
  // FOR condition), from the file's next free page on; an empty root when
  // there is none.
  void DoIndex();
  // The empty tree of a zapped file: root at 1024.
  void MakeEmpty();

  int KeyDecimals() const { return KeyDecimals_; }

 private:
  XBobjNTXFile* File() const;
  // The stored key of the number `v` into `form` (KeyLength bytes); its
  // length: the key length, or all "*" as wide as STR gives them.
  size_t NumberKey(double v, char* form) const;
  // The stored key of the whole number written by `digits` (no leading
  // zeros), negated when `negative`, into `form`: the key length, or 0 when
  // it does not fit.
  size_t WholeNumberKey(std::string_view digits, bool negative, char* form) const;
  void WriteImage(const XBobjIndexKey& page, bool rightmost);
  // Sets key type, length and decimals from the key expression's value.
  void SetKeyForm();

  int KeyDecimals_ = 0;
};

class XBobjNTXFile : public XBobjIndexFile {
 public:
  static constexpr int PageSize = TxbNTXTreeBuilder::PageSize;

  // Opens (or with Create, creates) the index file `FN` of table `PDB`
  // (".ntx" when the name has none). An existing file's tag is read at
  // once: a header that cannot be valid raises 65141. CreateOK tells
  // whether there is a file.
  XBobjNTXFile(XBobjIndexOwner* PDB, const std::string& FN, bool ReadWrite, bool Shared, bool Create,
               bool Overwrite);
  ~XBobjNTXFile() override;

  // Makes the file's one tag anew.
  bool AddTag(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
              bool Uniq) override;
  // Page offsets: the next free one is taken (the file's end when unknown).
  int GetAvailPage() override;
  void ResetAvailPage() override;
  // Empties the index and builds it anew from the table. A shared file is
  // locked whole meanwhile.
  void Reindex() override;
  // Counts the change in the header (other programs see it), then keeps
  // the tag in step with the write of record `AKey`.
  bool TagUpdate(int AKey, bool IsAppend) override;
  // Empties the index: 2048 bytes, root at 1024, counter 1. A shared file
  // is locked whole meanwhile.
  virtual void Zap();

  XBobjNTXTag* Tag() const;
  // The change counter as this file last wrote or read it.
  int ChangeCounter() const { return Counter_; }
  void SetChangeCounter(int v) { Counter_ = v; }

 protected:
  // The header: its counter and root move with every change.
  int StampBytes() const override { return PageSize; }
  void Reload() override;

 private:
  void ZapLocked();

  int Counter_ = 1;
};

}  // namespace xbase
