#include "archiver/crypto/ZAhmac.h"

#include <cstring>

#include "archiver/crypto/ZADecUtil.h"

namespace archiver::crypto {

void HmacInit(THMAC_Context& Context, const THashDesc* Desc, const void* Key, size_t KeyLen) {
  std::memset(&Context, 0, sizeof Context);
  Context.phashd = Desc;
  if (Desc == nullptr) return;
  const size_t block = Desc->HBlockLen;
  if (KeyLen <= block) {
    if (KeyLen > 0) std::memcpy(Context.hmacbuf, Key, KeyLen);
  } else {
    THashDigest d;
    HashFull(*Desc, d, Key, KeyLen);
    std::memcpy(Context.hmacbuf, d.data(), Desc->HDigestlen);
    ProtectMemory(d.data(), d.size());
  }
  for (size_t i = 0; i < block; ++i) Context.hmacbuf[i] ^= 0x36;
  Desc->HInit(Context.hashctx);
  Desc->HUpdateXL(Context.hashctx, Context.hmacbuf, block);
}

void HmacUpdate(THMAC_Context& Context, const void* Msg, size_t Len) {
  if (Context.phashd != nullptr) Context.phashd->HUpdateXL(Context.hashctx, Msg, Len);
}

void HmacFinal(THMAC_Context& Context, THashDigest& Digest) {
  const THashDesc* desc = Context.phashd;
  if (desc == nullptr) {
    Digest.fill(0);
    return;
  }
  THashDigest inner;
  desc->HFinal(Context.hashctx, inner);
  // 0x36 xor 0x6A = 0x5C: the inner pad becomes the outer one.
  for (size_t i = 0; i < desc->HBlockLen; ++i) Context.hmacbuf[i] ^= 0x6A;
  desc->HInit(Context.hashctx);
  desc->HUpdateXL(Context.hashctx, Context.hmacbuf, desc->HBlockLen);
  desc->HUpdateXL(Context.hashctx, inner.data(), desc->HDigestlen);
  desc->HFinal(Context.hashctx, Digest);
  ProtectMemory(inner.data(), inner.size());
  ProtectMemory(&Context, sizeof Context);
}

}  // namespace archiver::crypto
