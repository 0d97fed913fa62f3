// The handler's hold on the index locks of its open index files, shared
// by the handler's own units (not part of its interface).
#pragma once

#include <vector>

#include "xbase/base/errors.h"
#include "xbase/handler/table_handler.h"

namespace xbase {

// Holds the index lock of every open index file while it lives: taken all
// or none (those taken are released when one cannot be had), released on
// every exit unless kept.
class XBO_dBHandler::TIndexLocks {
 public:
  TIndexLocks(const XBO_dBHandler& h, bool take) {
    if (!take || h.IndexCount_ == 0) return;
    try {
      for (int slot : h.InLockOrder(h.OpenIndexSlots())) {
        // An exclusive file needs no lock: no one else can open it.
        XBobjIndexFile* f = h.IndexStack(slot);
        if (f->DiskFile() && f->DiskFile()->FileShared()) {
          f->IndexLock();
          taken_.push_back(f);
        }
      }
    } catch (...) {
      Release();
      throw;
    }
  }
  ~TIndexLocks() { Release(); }
  TIndexLocks(const TIndexLocks&) = delete;
  TIndexLocks& operator=(const TIndexLocks&) = delete;

  // The locks stay held after this object.
  void Keep() { taken_.clear(); }

 private:
  void Release() {
    for (XBobjIndexFile* f : taken_) {
      try {
        f->IndexUnlock();
      } catch (const EXBaseError&) {
        // Closing the file releases the range in any case.
      }
    }
    taken_.clear();
  }
  std::vector<XBobjIndexFile*> taken_;
};

}  // namespace xbase
