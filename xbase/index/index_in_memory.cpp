#include "xbase/index/index_in_memory.h"

#include <cstring>

#include "platform/CodePage.h"

namespace xbase {

namespace {
constexpr int kNode = 512;
}

XBobjMIXFile::XBobjMIXFile(XBobjIndexOwner* PDB, const std::string& FN) : XBobjIndexFile(PDB) {
  IndexName_ = platform::AnsiUpperCase(FN);
  KeyWithRec_ = true;
  NextAvail_ = 0;
  CreateOK_ = true;
}

XBobjMIXFile::~XBobjMIXFile() {
  // The tags store their paths while the buffers are still here.
  TagList().FreeAll();
}

bool XBobjMIXFile::AddTag(const AnsiString& ITN, const AnsiString& KeyExp, const AnsiString& ForExp, bool Ascnd,
                          bool Uniq) {
  if (XBobjIndexTag* old = TagByName(ITN)) TagList().FreeOne(old);
  auto tag = std::make_unique<XBobjCDXTag>(this, GetAvailPage(), false);
  GetAvailPage();
  tag->SetCollation(NewTagCollation_);
  const bool built = tag->IndexTagNew(platform::AnsiUpperCase(ITN), KeyExp, ForExp, Ascnd, Uniq);
  tag->TagClose();
  TagList().Add(std::move(tag));
  return built;
}

void XBobjMIXFile::Reindex() {
  for (int i = 0; i < TagCount(); ++i) Tag(i)->TagClose();
  MemColl_.clear();
  for (int i = 0; i < TagCount(); ++i) Tag(i)->Rebuild();
}

int XBobjMIXFile::GetAvailPage() {
  MemColl_.emplace_back();
  NextAvail_ = BufferCount();
  return (BufferCount() - 1) * kNode;
}

void XBobjMIXFile::ResetAvailPage() { NextAvail_ = BufferCount(); }

XBobjMemBufr* XBobjMIXFile::Buffer(int64_t Blok) {
  if (Blok < 0 || Blok % kNode != 0 || Blok / kNode >= BufferCount()) return nullptr;
  return &MemColl_[static_cast<size_t>(Blok / kNode)];
}

bool XBobjMIXFile::PageRead(int64_t Blok, uint8_t* Page, int Size) {
  XBobjMemBufr* b = Buffer(Blok);
  if (!b || Size < 0 || Size > b->BufSize) return false;
  std::memcpy(Page, b->BufPntr.get(), static_cast<size_t>(Size));
  return true;
}

bool XBobjMIXFile::PageWrite(int64_t Blok, const uint8_t* Page, int Size) {
  XBobjMemBufr* b = Buffer(Blok);
  if (!b || Size < 0) return false;
  if (b->BufSize < Size) {
    b->BufPntr = std::make_unique<uint8_t[]>(static_cast<size_t>(Size));
    b->BufSize = Size;
  }
  std::memcpy(b->BufPntr.get(), Page, static_cast<size_t>(Size));
  return true;
}

}  // namespace xbase
