// The dataset component: key ranges, seeks by key text, field values and
// key buffer, locate and lookup, master/detail links, and filters.
#include <algorithm>

#include "xbase/base/errors.h"
#include "xbase/base/variant.h"
#include "xbase/dataset/dataset.h"
#include "xbase/expr/expression.h"

namespace xbase {

using namespace dataaccess;

// --- Ranges and seeks ------------------------------------------------------------------------

AnsiString TXBaseDataSet::ToOem(const AnsiString& s) {
  AnsiString text = s.substr(0, 255);
  Translate(text.c_str(), text.data(), true);
  return text;
}

void TXBaseDataSet::SetRange(const AnsiString& RLo, const AnsiString& RHi) {
  CheckBrowseMode();
  // First reads the range's first record: the table need not read it before.
  if (FDBFHandle->xbSetRange(ToOem(RLo), ToOem(RHi), true, true, false, false)) First();
}

void TXBaseDataSet::SetRangeEx(const AnsiString& RLo, const AnsiString& RHi, bool LoIn, bool HiIn, bool Partial) {
  CheckBrowseMode();
  FDBFHandle->xbSetRange(ToOem(RLo), ToOem(RHi), LoIn, HiIn, Partial, false);
  First();
}

bool TXBaseDataSet::FindThisRecord(const AnsiString& ss, bool IsExact, bool IsNear) {
  XBO_dBHandler& t = *FDBFHandle;
  t.SetxbvExactMatch(IsExact);
  t.SetxbvFindNear(IsNear);
  return t.xbFind(ToOem(ss));
}

bool TXBaseDataSet::Find(const AnsiString& ss, bool IsExact, bool IsNear) {
  CheckBrowseMode();
  FAfterEOF = false;
  XBO_dBHandler& t = *FDBFHandle;
  if (!t.IndexMaster()) DataSetError(xbmNoIndexForFind);
  if (t.NumRecs() == 0) return false;
  DoBeforeScroll();
  CursorPosChanged();
  const bool found = FindThisRecord(ss, IsExact, IsNear);
  if (!found && !(IsNear && !t.File_EOF())) {
    Last();
    return false;
  }
  FBeforeBOF = FAfterEOF = false;
  Resync();
  DoAfterScroll();
  return found;
}

bool TXBaseDataSet::SeekValues(const std::vector<TVariant>& values, bool nearest) {
  CheckBrowseMode();
  XBO_dBHandler& t = *FDBFHandle;
  if (!t.IndexMaster()) DataSetError(xbmNoIndexForFind);
  const int was = GetRecNo();
  if (t.NumRecs() == 0 || was < 1 || !ActiveBuffer()) return false;
  DoBeforeScroll();
  CursorPosChanged();
  const AnsiString key = t.xbBuildKey(values, ActiveKeyExpr());
  const bool found = SeekKey(key, nearest);
  DoAfterScroll();
  return found;
}

bool TXBaseDataSet::SeekKey(const AnsiString& key, bool nearest) {
  XBO_dBHandler& t = *FDBFHandle;
  const bool found = FindThisRecord(key, false, nearest);
  if (found || (nearest && !t.File_EOF())) {
    FBeforeBOF = FAfterEOF = false;
    KeepFresh(t.CurRecord());
    Resync();
  } else if (nearest) {
    Last();
  } else {
    // The dataset stays on its record; the table goes back to it when the
    // cursor is next used (a lookup that fails is mostly followed by an
    // append, which needs no going back).
    CursorPosChanged();
  }
  return found;
}

bool TXBaseDataSet::FindKey(const std::vector<TVariant>& values) { return SeekValues(values, false); }

void TXBaseDataSet::FindNearest(const std::vector<TVariant>& values) { SeekValues(values, true); }

void TXBaseDataSet::SetKey() {
  CheckBrowseMode();
  FKeyBuffer.assign(static_cast<size_t>(FRecBufSize), 0);
  {
    TxbRecordPointer at(*FDBFHandle, FKeyBuffer.data());
    FDBFHandle->xbBlank();
  }
  SetState(dsSetKey);
}

void TXBaseDataSet::EditKey() {
  if (FKeyBuffer.empty()) return SetKey();
  CheckBrowseMode();
  SetState(dsSetKey);
}

bool TXBaseDataSet::GotoKeyBuffer(bool nearest) {
  CheckBrowseMode();
  if (FKeyBuffer.empty()) DataSetError(xbmNoIndexKey);
  XBO_dBHandler& t = *FDBFHandle;
  TxbExpHandler& expr = ActiveKeyExpr();
  if (t.NumRecs() == 0 || GetRecNo() < 1) return false;
  // The key fields' values in the key buffer, keyed as FindKey keys them.
  std::vector<TVariant> values;
  {
    TxbRecordPointer at(t, FKeyBuffer.data());
    const AnsiString names = expr.EnumerateType(etDataField);
    for (size_t from = 0; from < names.size();) {
      size_t to = names.find(';', from);
      if (to == AnsiString::npos) to = names.size();
      if (to > from) values.push_back(TVariant(t.xbStringGet(std::string_view(names).substr(from, to - from))));
      from = to + 1;
    }
  }
  const AnsiString key = t.xbBuildKey(values, expr);
  DoBeforeScroll();
  CursorPosChanged();
  const bool found = SeekKey(key, nearest);
  DoAfterScroll();
  return found;
}

bool TXBaseDataSet::GotoKey() { return GotoKeyBuffer(false); }

void TXBaseDataSet::GotoNearest() { GotoKeyBuffer(true); }

// --- Locate and lookup -----------------------------------------------------------------------

bool TXBaseDataSet::Locate(const AnsiString& KeyFields, const std::vector<TVariant>& KeyValues,
                           TLocateOptions Options) {
  return LocateNext(KeyFields, KeyValues, Options, 0);
}

bool TXBaseDataSet::LocateNext(const AnsiString& KeyFields, const std::vector<TVariant>& KeyValues,
                               TLocateOptions Options, int RecNum) {
  CheckBrowseMode();
  XBO_dBHandler& t = *FDBFHandle;
  const int was = GetRecNo();
  FAfterEOF = false;
  if (was > 0) t.xbGetRec(was);
  const bool found = t.xbLocateRecord(KeyFields, KeyValues, Options.Contains(loCaseInsensitive),
                                      Options.Contains(loPartialKey), RecNum == -1 ? was : RecNum);
  if (found) {
    DoBeforeScroll();
    FBeforeBOF = FAfterEOF = false;
    Resync();
    DoAfterScroll();
  } else if (was > 0) {
    t.xbGetRec(was);
  }
  return found;
}

std::vector<TVariant> TXBaseDataSet::Lookup(const AnsiString& KeyFields, const std::vector<TVariant>& KeyValues,
                                            const AnsiString& ResultFields) {
  CheckBrowseMode();
  XBO_dBHandler& t = *FDBFHandle;
  const int was = GetRecNo();
  std::vector<TVariant> result;
  const bool found = t.xbLocateRecord(KeyFields, KeyValues, false, false, 0);
  if (found) {
    const int rec = t.RecNumber();
    {
      TxbRecordPointer at(t, CalcBuffer());
      t.xbGetRec(rec);
    }
    GetCalcFields(CalcBuffer());
    const TDataSetState old = SetTempState(dsCalcFields);
    try {
      for (TField* f : GetFieldList(ResultFields)) result.push_back(f->Value());
    } catch (...) {
      RestoreState(old);
      throw;
    }
    RestoreState(old);
  }
  if (was > 0) t.xbGetRec(was);
  return result;
}

uint16_t TXBaseDataSet::SearchDBF(const AnsiString& s, uint16_t& FNum, int& fromrec, int toRec) {
  CheckBrowseMode();
  XBO_dBHandler& t = *FDBFHandle;
  // The search starts from the table's position: make it the dataset's.
  UpdateCursorPos();
  DoBeforeScroll();
  const uint16_t found = t.xbSearchDBF(s, FNum, fromrec, toRec);
  if (found) {
    FBeforeBOF = FAfterEOF = false;
    Resync();
  } else {
    CursorPosChanged();
  }
  DoAfterScroll();
  return found;
}

int TXBaseDataSet::HuntDuplicate(const AnsiString& st, const AnsiString& ky) {
  return FDBFHandle ? FDBFHandle->xbHuntDuplicate(st, ky) : -1;
}

}  // namespace xbase

namespace xbase {

// --- Master/detail -------------------------------------------------------------------------

void TXBaseDataSet::SetMasterSource(TDataSource* v) { FMasterLink.SetDataSource(v); }

void TXBaseDataSet::SetMasterFields(const AnsiString& v) { FMasterLink.SetFieldNames(v); }

AnsiString TXBaseDataSet::MasterKey() {
  XBO_dBHandler& t = *FDBFHandle;
  if (!t.IndexMaster()) DataSetError(xbmMasterNoIndex, {FTableName});
  TxbExpHandler& expr = ActiveKeyExpr();
  const std::vector<TField*>& fields = FMasterLink.Fields();
  const AnsiString names = expr.EnumerateType(etDataField);
  if (static_cast<size_t>(std::count(names.begin(), names.end(), ';')) < fields.size())
    DataSetError(xbmMasterMismatch, {FTableName});
  TDataSet* master = FMasterLink.DataSet();
  if (master && master->State() == dsInsert) return {};
  std::vector<TVariant> values;
  for (TField* f : fields) values.push_back(TVariant(f->AsString()));
  return t.xbBuildKey(values, expr);
}

void TXBaseDataSet::MasterChanged() {
  TDataSet* master = FMasterLink.DataSet();
  if (!FDBFHandle || !master || !master->Active() || master->IsEmpty()) return;
  CheckBrowseMode();
  const AnsiString key = MasterKey();
  if (key.find_first_not_of(' ') != AnsiString::npos) SetRangeEx(key, key, true, true, !FExactDetail);
}

void TXBaseDataSet::ApplyMasterRange() {
  TDataSet* master = FMasterLink.DataSet();
  if (!FMasterLink.Active() || !master || !master->Active() || master->IsEmpty()) return;
  const AnsiString key = MasterKey();
  if (key.find_first_not_of(' ') != AnsiString::npos) FDBFHandle->xbSetRange(ToOem(key), ToOem(key), true, true, !FExactDetail);
}

// --- Filters -------------------------------------------------------------------------------

void TXBaseDataSet::ApplyFilter() {
  XBO_dBHandler& t = *FDBFHandle;
  t.xbSetFilterActive(true);
  t.xbSetFilterExpr(Filter(), FilterOptions().Contains(foCaseInsensitive),
                    !FilterOptions().Contains(foNoPartialCompare), false);
}

void TXBaseDataSet::SetFiltered(bool v) {
  if (!Active()) return TDataSet::SetFiltered(v);
  CheckBrowseMode();
  TDataSet::SetFiltered(v);
  if (v)
    ApplyFilter();
  else
    FDBFHandle->xbSetFilterActive(false);
  First();
}

void TXBaseDataSet::SetFilterText(const AnsiString& v) {
  TDataSet::SetFilterText(v);
  if (!Active() || !Filtered()) return;
  CheckBrowseMode();
  ApplyFilter();
  First();
}

void TXBaseDataSet::SetFilterOptions(TFilterOptions v) {
  TDataSet::SetFilterOptions(v);
  if (!Active() || !Filtered()) return;
  CheckBrowseMode();
  ApplyFilter();
  First();
}

}  // namespace xbase
