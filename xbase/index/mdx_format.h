// The MDX multiple-index format: up to 47 tags of one table in one file, a
// header with a tag table, then per tag a header page and B-tree pages.
//
// The file is addressed in 512-byte blocks (byte position = block * 512).
// Integers are little-endian.
//
//   File header (block 0)
//     offset  size
//          0     1  2
//          1     3  creation date: year mod 100, month, day
//          4    16  the table's name without folder and extension, zero-
//                   terminated
//         20     2  blocks taken by each page (2 here; other writers 4)
//         22     2  page size in bytes: 1024 here (a multiple of 512, at
//                   most 4096 and at most offset 20 * 512)
//         24     1  1 (production index)
//         25     1  48 (the table's room; 47 entries fit before block 4)
//         26     2  32: length of a tag table entry
//         28     2  number of tags
//         32     4  next free block
//
//   Tag table: entry i (1-based) at byte 512 + 32 * i
//          0     4  block of the tag's header page
//          4    11  tag name (at most 10 characters, upper case), zero-
//                   terminated
//         17     1  number of the entry that follows (0 after the last;
//                   the slot at 512, before entry 1, holds 1)
//         19     1  2
//         20     1  key type: C, N or D
//   Entries are in name order. The header block and the table are the
//   header area, blocks 0-3; tag pages start at block 4.
//
//   Tag header (one page at its block)
//          0     4  root block
//          8     1  options: 0x10, +0x40 unique, +8 descending
//          9     1  key type
//         12     2  key length: text its length (1-239), N 12, D 8
//         14     2  maximum keys per page = (page - 8) div entry - 1
//         18     2  entry length = key length + 4, rounded up to 4
//         23     1  0x40 for a unique tag
//         24     .  key expression, zero-terminated (before 245)
//        245     1  1 when the tag has a FOR condition
//        246     1  1
//        248     4  first page of the tag
//        252     4  last page taken by the tag
//        762     .  FOR expression, zero-terminated (before the page's end)
//
//   Page
//          0     4  number of keys k
//          4     4  link (kept as it is)
//          8     .  entries: 4 bytes record (leaf) or child block (node),
//                   then the key
//   A page whose slot k (after the last key) holds a non-zero number is a
//   node of k + 1 children; that last slot is the pointer alone. A node's
//   key is the last key below it.
//
// Keys: text blank-padded; dates the 8-byte double of the Julian day (the
// empty date 1.0e100, after every date); numbers 12-byte packed decimals:
// byte 0 = 52 + the exponent (the value is 0.d1d2... * 10^exponent), byte 1
// = digit positions used * 4 + 1, plus 0x80 for a negative value, then the
// digits two to a byte, the first in the high half, at most 15 significant
// (positions count whole bytes; zero is 52, 1 and zeros). A descending tag
// stores its keys in descending order; equal keys lie in the order they
// were added (record order after a build), in either direction.
//
// Pages are never reused: a deleted key leaves room in its page only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "xbase/base/key_sorter.h"
#include "xbase/index/index_framework.h"

namespace xbase {

class XBobjMDXFile;

// A number as a 12-byte packed decimal (15 significant digits; zero for
// values too small to show, the largest 15 nines for ones too large), and
// back (false for a digit count over 20).
void MdxPackDecimal(double value, uint8_t* out);
bool MdxUnpackDecimal(const uint8_t* in, double& value);

// The key sorter of a bulk build: keys in their in-memory form (text, or
// the number a numeric or date key is) come back in the tag's order --
// descending too -- with equal keys in record order.
class XBobjSortMDX : public TxbSort {
 public:
  XBobjSortMDX(char keyType, int keyLength, bool unique, bool ascending, size_t memoryBudget,
               const std::string& tempDir);

  void AddMdxKey(const TxbVariant& key, int rec);
  // The next key (into `key`) and record; false at the end.
  bool NextMdxKey(TxbVariant& key, int& rec);

 private:
  bool text_;
  int keyLength_;
  bool descending_;
  std::vector<uint8_t> bytes_;
  TxbVariant work_;
};

class XBobjMDXTag : public XBobjIndexTag {
 public:
  // The longest text key: a build sorts key length + 1 bytes.
  static constexpr int MaxTextKey = 239;

  // A tag named `name` whose header page is at `block`.
  XBobjMDXTag(XBobjMDXFile* owner, const AnsiString& name, int block);
  ~XBobjMDXTag() override;

  // Text as text (DoTrim: without trailing blanks), cut to the key
  // length; dates the number of their day (the empty date 1.0e100);
  // numbers through the packed decimal and back.
  void AdjustValue(TxbVariant& AKey, bool DoTrim) override;
  // Sets the tag up from the key evaluated once (text over 239 bytes:
  // 65162), writes a zeroed header page and builds the tree.
  bool IndexTagNew(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
                   bool Uniq) override;
  // Adds with text cut to the key length.
  bool KeyAdd(XBobjIndexKeyData& Key) override;
  int GetTagRoot() override;
  void PageLoad(int PN, XBobjIndexKey& PIK) override;
  // A page over the maximum keys hands its first ceil(n / 2) entries to a
  // new page (the tag's last page), whose last key goes up.
  void PageStore(XBobjIndexKey& PIK) override;
  // Reads and checks the tag's header page (65141 for one that cannot be
  // valid) and compiles the expressions.
  void TagLoad() override;
  // Writes the header page's fields when the tag changed (its other bytes
  // kept), and the file header when an allocation changed it.
  void TagStore() override;
  void PageWriteImage(XBobjIndexKey& PIK) override;

  // Builds the tree bottom-up from every record's key (those meeting the
  // FOR condition), from the file's next free block; an empty root page
  // when there is none.
  void DoIndex();
  // The tag anew in the file being rebuilt: a new header page, the tree
  // built again.
  void Rebuild();

  int FirstPage() const { return FirstPage_; }
  int LastPage() const { return LastPage_; }
  // A key (in memory) as the page stores it: key length bytes at `p`.
  void StoreKey(const TxbVariant& e, uint8_t* p) const;

 private:
  XBobjMDXFile* File() const;
  // Sets key type and length from the key expression's value.
  void SetKeyForm();
  // The key of a node's pointer-only entry: above every key in the tag's
  // order.
  void PutSentinel(XBobjIndexKeyData& e) const;
  // The key at `p` (key length bytes) into `e`; false for one that cannot
  // be valid.
  bool LoadKey(const uint8_t* p, XBobjIndexKeyData& e) const;

  int FirstPage_ = 0;
  int LastPage_ = 0;
};

class XBobjMDXFile : public XBobjIndexFile {
 public:
  static constexpr int Block = 512;
  // The header block and the tag table.
  static constexpr int HeaderArea = 2048;
  static constexpr int MaxTags = 47;

  // Opens (or with Create, creates) the index file `FN` of table `PDB`
  // (".mdx" when the name has none). A new file, or one of 512 bytes or
  // less opened read-write, gets an empty header area; an existing file's
  // header and tags are read at once (65141 for ones that cannot be
  // valid). A file carrying the table's base name marks the table's
  // production index.
  XBobjMDXFile(XBobjIndexOwner* PDB, const std::string& FN, bool ReadWrite, bool Shared, bool Create,
               bool Overwrite);
  ~XBobjMDXFile() override;

  // A tag of the same name (cut to 10 characters, case ignored) is removed
  // first; the new tag is built and listed in name order. An empty name
  // raises 65143, a 48th tag 65171, long expressions 65178, all before
  // anything is written.
  bool AddTag(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
              bool Uniq) override;
  // Removes the tag from the table (its pages stay); when none remains the
  // file is the header area alone. A shared file is locked whole
  // meanwhile. False when there is no such tag.
  bool DeleteTag(const AnsiString& ITN) override;
  // Blocks: the next free one is taken, then the allocation unit skipped.
  int GetAvailPage() override;
  void ResetAvailPage() override;
  // `Blok` is a block number: byte position Blok * 512.
  bool PageRead(int64_t Blok, uint8_t* Page, int Size) override;
  bool PageWrite(int64_t Blok, const uint8_t* Page, int Size) override;
  // Truncates the file to its header area and builds every tag anew. A
  // shared file is locked whole meanwhile.
  void Reindex() override;

  XBobjMDXTag* Tag(int n) const { return static_cast<XBobjMDXTag*>(TagByNumber(n)); }
  int PageSize() const { return PageSize_; }
  int AllocationUnit() const { return Unit_; }

  // Writes the header block when an allocation changed its next free
  // block.
  void StoreHeaderIfChanged();

 protected:
  // The header and the tag table.
  int StampBytes() const override { return HeaderArea; }
  // The header and the tags the table now lists.
  void Reload() override;

 private:
  void MakeEmpty();
  void LoadHeader();
  // Reads and checks the header area (65141 for one that cannot be valid):
  // the tags it lists, by name and header block.
  std::vector<std::pair<AnsiString, int>> ReadHeaderArea();
  // Writes the header block and the tag table from the tag list.
  void StoreHeaderArea();
  void RemoveTag(XBobjIndexTag* tag);

  int PageSize_ = 1024;
  int Unit_ = 2;
  bool HeaderChanged_ = false;
  uint8_t Header_[Block] = {};
};

}  // namespace xbase
