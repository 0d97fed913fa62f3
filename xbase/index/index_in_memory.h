// The index kept in memory: an index file without a file.
//
// Its tags are CDX tags (index/cdx_format.h) whose nodes live in memory buffers, one
// buffer per 512-byte node, the node's offset being its buffer's index
// times 512; a tag header takes two buffers as in a file. Nothing is ever
// written to disk, and everything is gone when the object is freed: it
// serves the table handler's temporary orders. There is no tag directory,
// change counter or lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "xbase/index/cdx_format.h"

namespace xbase {

// One node's bytes; none until it is first written.
struct XBobjMemBufr {
  int BufSize = 0;
  std::unique_ptr<uint8_t[]> BufPntr;
};

class XBobjMIXFile : public XBobjIndexFile {
 public:
  // An empty in-memory index of table `PDB` named `FN` (upper-cased).
  XBobjMIXFile(XBobjIndexOwner* PDB, const std::string& FN);
  ~XBobjMIXFile() override;

  // A new tag (a same-named one is dropped first), built from the table and
  // closed; the collation is the one set for new tags.
  bool AddTag(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
              bool Uniq) override;
  // Builds every tag anew from the table in fresh buffers.
  void Reindex() override;
  // Appends an empty buffer; its index times 512.
  int GetAvailPage() override;
  void ResetAvailPage() override;
  // False for a buffer that does not exist, or (reading) holds fewer than
  // `Size` bytes; a write into a smaller buffer replaces it by one of
  // `Size` bytes.
  bool PageRead(int64_t Blok, uint8_t* Page, int Size) override;
  bool PageWrite(int64_t Blok, const uint8_t* Page, int Size) override;

  void SetNewTagCollation(XBcdxCollation c) { NewTagCollation_ = c; }
  XBobjCDXTag* Tag(int n) const { return static_cast<XBobjCDXTag*>(TagByNumber(n)); }
  int BufferCount() const { return static_cast<int>(MemColl_.size()); }

 private:
  // The buffer at byte offset `Blok`, nullptr when there is none.
  XBobjMemBufr* Buffer(int64_t Blok);

  std::vector<XBobjMemBufr> MemColl_;
  XBcdxCollation NewTagCollation_ = XBcdxCollation::Machine;
};

}  // namespace xbase
