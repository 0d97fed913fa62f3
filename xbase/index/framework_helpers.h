// Small helpers the index framework's .cpp parts share (index_tag.cpp,
// index_tag_requests.cpp, index_file.cpp); not part of its interface.
#pragma once

#include "xbase/index/index_framework.h"

namespace xbase::index_helpers {

// Sets a flag for the life of the object and puts it back after.
class TFlagScope {
 public:
  TFlagScope(bool& flag, bool value) : flag_(flag), old_(flag) { flag = value; }
  ~TFlagScope() { flag_ = old_; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& flag_;
  bool old_;
};

}  // namespace xbase::index_helpers
