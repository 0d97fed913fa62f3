// Index definitions: the descriptions of the orders a dataset offers,
// filled by the dataset (TDataSet::UpdateIndexDefs) when they are out of
// date. A dataset that has indexes owns one TIndexDefs.
#pragma once

#include <string>
#include <vector>

#include "dataaccess/DBValues.h"

namespace dataaccess {

class TDataSet;

// ixExpression: Fields() holds a key expression rather than field names.
enum TIndexOption { ixExpression, ixUnique, ixDescending };
using TIndexOptions = TSet<TIndexOption>;

class TIndexDef {
 public:
  TIndexDef(AnsiString name, AnsiString fields, TIndexOptions options)
      : name_(std::move(name)), fields_(std::move(fields)), options_(options) {}
  const AnsiString& Name() const { return name_; }
  // The key's field names separated by ";", or the key expression.
  const AnsiString& Fields() const { return fields_; }
  // The key expression; empty unless ixExpression is among the options.
  AnsiString Expression() const { return options_.Contains(ixExpression) ? fields_ : AnsiString(); }
  TIndexOptions Options() const { return options_; }

 private:
  AnsiString name_;
  AnsiString fields_;
  TIndexOptions options_;
};

class TIndexDefs {
 public:
  explicit TIndexDefs(TDataSet& dataSet) : dataSet_(dataSet) {}
  TIndexDefs(const TIndexDefs&) = delete;
  TIndexDefs& operator=(const TIndexDefs&) = delete;

  void Clear() { defs_.clear(); }
  const TIndexDef& Add(const AnsiString& name, const AnsiString& fields, TIndexOptions options = {});
  int Count() const { return static_cast<int>(defs_.size()); }
  const TIndexDef& operator[](int index) const { return defs_[static_cast<size_t>(index)]; }
  // Copies the definitions and the Updated flag of `source` (its dataset
  // stays the one this object belongs to).
  void Assign(const TIndexDefs& source);

  // False when the definitions may no longer describe the dataset's
  // indexes; Update then has the dataset rebuild them (the dataset sets
  // Updated when it has).
  bool Updated() const { return updated_; }
  void SetUpdated(bool v) { updated_ = v; }
  void Update();

 private:
  TDataSet& dataSet_;
  std::vector<TIndexDef> defs_;
  bool updated_ = false;
};

}  // namespace dataaccess
