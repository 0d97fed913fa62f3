// HMAC (RFC 2104) over any hash descriptor.
//
// HmacInit, HmacUpdate as often as needed, HmacFinal. The context holds the
// key pad until HmacFinal, which wipes it.
#pragma once

#include "archiver/crypto/ZAHash.h"

namespace archiver::crypto {

struct THMAC_Context {
  THashContext hashctx;
  uint8_t hmacbuf[128];     // the key block, xored with the inner pad
  const THashDesc* phashd;  // nullptr: nothing is computed
};

// Starts an HMAC with Key. A key longer than the hash's block is replaced
// by its digest. With Desc null the context stays empty.
void HmacInit(THMAC_Context& Context, const THashDesc* Desc, const void* Key, size_t KeyLen);
void HmacUpdate(THMAC_Context& Context, const void* Msg, size_t Len);
// Writes the code (HDigestlen bytes; all zero without a descriptor) and
// wipes the context.
void HmacFinal(THMAC_Context& Context, THashDigest& Digest);

}  // namespace archiver::crypto
