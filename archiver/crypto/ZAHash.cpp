#include "archiver/crypto/ZAHash.h"

#include <cstring>
#include <mutex>

#include "archiver/crypto/ZADecUtil.h"
#include "archiver/crypto/ZAsha1.h"

namespace archiver::crypto {

namespace {

struct HashRegistry {
  std::mutex lock;
  const THashDesc* slots[MaxHashAlgId + 1] = {};
  HashRegistry() { slots[_SHA1] = &SHA1Desc(); }
};

HashRegistry& Registry() {
  static HashRegistry r;
  return r;
}

bool ValidDesc(const THashDesc* d, uint8_t AlgId) {
  return d != nullptr && d->HSig == C_HashSig && d->HDVersion == C_HashVers && d->HDSize == C_HashDSize &&
         d->HAlgNum == AlgId && d->HBlockLen <= sizeof(THashContext::Buffer) &&
         d->HDigestlen <= std::tuple_size_v<THashDigest>;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

void RegisterHashDesc(uint8_t AlgId, const THashDesc* Desc) {
  if (AlgId > MaxHashAlgId || !ValidDesc(Desc, AlgId)) return;
  HashRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  r.slots[AlgId] = Desc;
}

const THashDesc* FindHashDescById(uint8_t AlgId) {
  if (AlgId > MaxHashAlgId) return nullptr;
  HashRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  const THashDesc* d = r.slots[AlgId];
  return ValidDesc(d, AlgId) ? d : nullptr;
}

const THashDesc* FindHashDescByName(std::string_view Name) {
  constexpr size_t kMaxName = 19;
  Name = Name.substr(0, kMaxName);
  HashRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  for (const THashDesc* d : r.slots) {
    if (d == nullptr) continue;
    const std::string_view n(d->HName, strnlen(d->HName, kMaxName));
    if (n.size() != Name.size()) continue;
    size_t i = 0;
    while (i < n.size() && AsciiUpper(n[i]) == AsciiUpper(Name[i])) ++i;
    if (i == n.size()) return d;
  }
  return nullptr;
}

void HashFull(const THashDesc& Desc, THashDigest& Digest, const void* Msg, size_t Len) {
  THashContext ctx;
  Desc.HInit(ctx);
  Desc.HUpdateXL(ctx, Msg, Len);
  Desc.HFinal(ctx, Digest);
  ProtectMemory(&ctx, sizeof ctx);
}

}  // namespace archiver::crypto
