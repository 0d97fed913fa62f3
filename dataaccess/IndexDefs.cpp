#include "dataaccess/IndexDefs.h"

#include "dataaccess/DataSet.h"

namespace dataaccess {

const TIndexDef& TIndexDefs::Add(const AnsiString& name, const AnsiString& fields, TIndexOptions options) {
  defs_.emplace_back(name, fields, options);
  return defs_.back();
}

void TIndexDefs::Assign(const TIndexDefs& source) {
  if (&source == this) return;
  defs_ = source.defs_;
  updated_ = source.updated_;
}

void TIndexDefs::Update() {
  if (!updated_) dataSet_.UpdateIndexDefs();
}

}  // namespace dataaccess
