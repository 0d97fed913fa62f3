// The handler's filters, ranges and searches: the filter bitmap, built by
// reading the table or from the index tags; key ranges on the active tag;
// finds by key; locating and searching records by field values.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Numbers.h"
#include "xbase/base/dates.h"
#include "xbase/base/errors.h"
#include "xbase/base/system.h"
#include "xbase/base/utilities.h"
#include "xbase/expr/expression.h"
#include "xbase/expr/functions.h"
#include "xbase/handler/handler_index_locks.h"
#include "xbase/handler/table_handler.h"

namespace xbase {

namespace {

AnsiString UpperNoBlanks(std::string_view s) {
  AnsiString out;
  for (char c : s)
    if (c != ' ') out += c;
  return platform::AnsiUpperCase(out);
}

// The node under any parentheses.
TxbExpBaseObject* Unwrap(TxbExpBaseObject* node) {
  while (node && node->ExpType() == etContainer) node = node->ArgRight();
  return node;
}

// Whether a sub-tree gives the same value on every record: no field of the
// table and no table-bound function (RECNO, DELETED, ...) in it.
bool IsConstant(const TxbExpBaseObject* node) {
  if (!node) return true;
  if (node->ExpType() == etFieldVar) return node->ExpObjectType() != etDataField;
  if (node->ExpType() == etFunction) {
    const auto* f = static_cast<const TxbExpFunction*>(node);
    if (!f->UDF() || xbFunctionRegistry().Find(platform::AnsiUpperCase(f->FunctionName())) != f->UDF()) return false;
    for (int i = 0; i < f->ArgCount(); ++i)
      if (!IsConstant(f->Arg(i))) return false;
    return true;
  }
  return IsConstant(node->ArgLeft()) && IsConstant(node->ArgRight());
}

bool IsComparison(int op) { return op >= xboEqual && op <= xboLessEq; }

// The comparison that holds with the operands swapped.
int Mirrored(int op) {
  switch (op) {
    case xboGreater: return xboLess;
    case xboLess: return xboGreater;
    case xboGreaterEq: return xboLessEq;
    case xboLessEq: return xboGreaterEq;
    default: return op;
  }
}

// Sets the table's exact key comparison for one operation.
class TExactScope {
 public:
  TExactScope(XBO_dBaseDBF& t, bool exact) : t_(t), was_(t.xbvExactMatch()) { t.SetxbvExactMatch(exact); }
  ~TExactScope() { t_.SetxbvExactMatch(was_); }
  TExactScope(const TExactScope&) = delete;
  TExactScope& operator=(const TExactScope&) = delete;

 private:
  XBO_dBaseDBF& t_;
  bool was_;
};

// A number field's value from its text, blanks being 0; false when the
// text is no number.
bool NumberText(std::string_view field, double& v) {
  v = 0;
  const std::string_view t = TrimBlanks(field);
  return t.empty() || platform::TryStrToFloat(t, v);
}

// The text form of a value put into a field of type `type`.
dataaccess::TVariant FieldValue(const dataaccess::TVariant& v, char type) {
  switch (v.VarType()) {
    case dataaccess::varBoolean: return AnsiString(v.AsBoolean() ? "T" : "F");
    case dataaccess::varDate:
      if (type == 'D') {
        const dataaccess::TDateTimeParts d = dataaccess::DecodeDateTime(v.AsDateTime());
        return xbDBFDate().DTOS(xbDBFDate().MDY2Jul(d.Month, d.Day, d.Year));
      }
      return v;
    default: return v;
  }
}

}  // namespace

// Sets the active tag aside, or puts another in its place, and switches the
// cache as asked; both come back when the scope ends.
class XBO_dBHandler::TOrderScope {
 public:
  TOrderScope(XBO_dBHandler& h, XBobjIndexTag* tag, bool cache)
      : h_(h), master_(h.IndexMaster_), pending_(h.SyncPending_), cache_(h.CacheRead_) {
    if (tag != master_) {
      h.IndexMaster_ = tag;
      h.SyncPending_ = false;
    }
    h.xbSetDBFCache(cache);
  }
  ~TOrderScope() {
    if (h_.IndexMaster_ != master_) {
      h_.IndexMaster_ = master_;
      h_.SyncPending_ = pending_;
    }
    h_.xbSetDBFCache(cache_);
  }
  TOrderScope(const TOrderScope&) = delete;
  TOrderScope& operator=(const TOrderScope&) = delete;

 private:
  XBO_dBHandler& h_;
  XBobjIndexTag* master_;
  bool pending_;
  bool cache_;
};

// --- The filter ---

void XBO_dBHandler::xbSetFilterActive(bool Value) {
  FFilterLive_ = Value;
  FFilterOn_ = FFilterLive_ && FFilterHndlr_ && FFilterSet_ && FFilterHndlr_->ArgCount() > 0;
}

void XBO_dBHandler::xbRefreshFilter() {
  if (FFilterHndlr_) xbSetFilterExpr(FFilterExpr_, FFilterHndlr_->CaseInsensitive(), FFilterHndlr_->UseWildCards(), true);
}

void XBO_dBHandler::xbSetFilterExpr(const AnsiString& FiltExpr, bool Insensitive, bool Wildcards, bool Refresh) {
  // The same filter again (the dataset switching it off and on) keeps its
  // bitmap: writes have kept it in step.
  if (!Refresh && FFilterHndlr_ && FFilterSet_ && FiltExpr == FFilterExpr_ &&
      FFilterHndlr_->CaseInsensitive() == Insensitive && FFilterHndlr_->UseWildCards() == Wildcards) {
    xbSetFilterActive(FFilterLive_);
    return;
  }
  FFilterSet_.reset();
  xbFilterTime_ = 0;
  FFilterOn_ = false;
  if (TrimBlanks(FiltExpr).empty()) {
    FFilterHndlr_.reset();
    FFilterExpr_.clear();
    xbSetFilterActive(FFilterLive_);
    return;
  }
  if (Refresh && FFilterHndlr_) {
    FFilterHndlr_->SetCaseInsensitive(Insensitive);
    FFilterHndlr_->SetUseWildCards(Wildcards);
  } else {
    // A text that fails leaves no filter behind, so that setting it again
    // fails again.
    FFilterExpr_.clear();
    FFilterHndlr_ = std::make_unique<TxbExpHandler>(DBFExpLink(), AnsiString(), dAlias());
    try {
      FFilterHndlr_->SetCaseInsensitive(Insensitive);
      FFilterHndlr_->SetUseWildCards(Wildcards);
      FFilterHndlr_->SetExpression(FiltExpr);
      TxbExpValue v;
      FFilterHndlr_->ExpressionResult(v);
      if (FFilterHndlr_->ResultType() != rtBoolean) XBRaise(xbmFilterNotBoolean);
    } catch (...) {
      FFilterHndlr_.reset();
      throw;
    }
    FFilterExpr_ = FiltExpr;
  }

  const uint64_t start = platform::GetTickCount64();
  const int was = RecNumber();
  try {
    if (!FOptimizeFilter_ || xbSetFastFilterParse() != 2) {
      auto set = std::make_unique<TxbHugeSet>();
      ScanFilter(*set);
      FFilterSet_ = std::move(set);
    }
  } catch (...) {
    FFilterHndlr_.reset();
    FFilterExpr_.clear();
    FFilterSet_.reset();
    ReturnTo(was);
    throw;
  }
  xbFilterTime_ = static_cast<int>(std::min<uint64_t>(platform::GetTickCount64() - start, INT32_MAX));
  if (was >= 1 && was <= NumRecs())
    xbGetRec(was);
  else
    xbGetRec(xbRecTop);
  xbSetFilterActive(FFilterLive_);
}

void XBO_dBHandler::ScanFilter(TxbHugeSet& set) {
  // Every physical record gets its bit, whatever the deletion flag, range
  // or order: switching those later needs no rebuild.
  TOrderScope order(*this, IndexMaster_, true);
  TxbExpValue v;
  const int n = NumRecs();
  for (int rec = 1; rec <= n; ++rec) {
    ReadPhysical(rec);
    FFilterHndlr_->ExpressionResult(v);
    if (v.Boolean()) set.ChangeBit(static_cast<uint32_t>(rec), 1);
  }
}

bool XBO_dBHandler::xbSetFastFilterExpr(const AnsiString& FiltExpr, bool Insensitive, bool Wildcards) {
  if (!FFilterHndlr_ || FiltExpr != FFilterExpr_ || FFilterHndlr_->CaseInsensitive() != Insensitive ||
      FFilterHndlr_->UseWildCards() != Wildcards)
    return false;
  return xbSetFastFilterParse() == 2;
}

int XBO_dBHandler::xbSetFastFilterParse() {
  if (!FFilterHndlr_ || !FFilterHndlr_->ObjExpression() || IndexCount_ == 0) return 0;
  auto set = std::make_unique<TxbHugeSet>();
  try {
    if (!FastFilterSet(FFilterHndlr_->ObjExpression(), *set)) return 0;
  } catch (const EXBaseError&) {
    return 0;  // the scan meets the same value and reports it
  } catch (const EXBaseExpression&) {
    return 0;
  }
  FFilterSet_ = std::move(set);
  return 2;
}

bool XBO_dBHandler::FastFilterSet(TxbExpBaseObject* node, TxbHugeSet& set) {
  node = Unwrap(node);
  if (!node || node->ExpType() != etOperator) return false;
  auto& op = static_cast<TxbExpOperator&>(*node);
  switch (op.Operator()) {
    case xboAnd:
    case xboOr: {
      TxbHugeSet right;
      if (!FastFilterSet(op.ArgLeft(), set) || !FastFilterSet(op.ArgRight(), right)) return false;
      if (op.Operator() == xboAnd)
        set.ANDSet(right);
      else
        set.ORSet(right);
      return true;
    }
    case xboNot:
      if (!FastFilterSet(op.ArgRight(), set)) return false;
      set.NegateSet(static_cast<uint32_t>(NumRecs()));
      return true;
    default: return IsComparison(op.Operator()) && FastComparison(op, set);
  }
}

// A comparison of a tag's key expression with a constant, served by the
// tag only where the tag's order answers exactly what the expression
// would: a numeric key all six ways; a date key "=" and "<>" (the tag puts
// empty dates last, the expression reads them as 0); a text key "=" and
// "<>" when the comparison is case-sensitive and the constant, on the
// right, is no wildcard pattern (the expression compares by a collation
// that is equal only on equal bytes, the tag by bytes). The tag must hold
// every record: no FOR condition, no unique keys.
bool XBO_dBHandler::FastComparison(TxbExpOperator& op, TxbHugeSet& set) {
  TxbExpBaseObject* left = Unwrap(op.ArgLeft());
  TxbExpBaseObject* right = Unwrap(op.ArgRight());
  if (!left || !right) return false;
  auto keyed = [](const TxbExpBaseObject* n) {
    return n->ExpType() == etFunction || (n->ExpType() == etFieldVar && n->ExpObjectType() == etDataField);
  };
  int code = op.Operator() == xboExactEqual ? xboEqual : op.Operator();
  bool mirrored = false;
  if (!(keyed(left) && IsConstant(right))) {
    if (!(keyed(right) && IsConstant(left))) return false;
    std::swap(left, right);
    code = Mirrored(code);
    mirrored = true;
  }

  // The tag whose key is this operand.
  const AnsiString operand = UpperNoBlanks(left->ExpRebuildExpression());
  XBobjIndexTag* tag = nullptr;
  for (int i = 0;; ++i) {
    XBobjIndexTag* t = i == 0 ? IndexMaster_ : xbIndexPointer(i);
    if (i > 0 && !t) break;
    if (t && !t->Conditional() && !t->KeyIsUnique() && UpperNoBlanks(t->GetIndexExpression()) == operand) {
      tag = t;
      break;
    }
  }
  if (!tag) return false;

  TxbExpValue value;
  TxbExpResultType type = rtUnknown;
  right->ExpParse(value, type);
  XBobjIndexKeyData key(256);
  const bool equality = code == xboEqual || code == xboNotEqual;
  switch (tag->KeyType()) {
    case 'N':
      if (!IsNumericResult(type)) return false;
      key.PutFloat(value.Float());
      break;
    case 'D':
      // The tag keeps the empty date as a day far above all others, and
      // reads a day below 0.1 as it; the expression reads an empty field as
      // 0 (and CTOD("") as that far day, which no field then equals).
      if (!equality || !IsNumericResult(type) ||
          !(value.Float() == 0 || (value.Float() >= 1 && value.Float() < xbEmptyDate)))
        return false;
      key.PutFloat(value.Float());
      break;
    default: {
      if (!equality || mirrored || type != rtText || FFilterHndlr_->CaseInsensitive()) return false;
      const std::string_view text = TrimBlanksRight(value.Text());
      if (text.empty() || static_cast<int>(text.size()) > tag->KeyLength()) return false;
      const char all = FFilterHndlr_->WildCardAll();
      if (FFilterHndlr_->UseWildCards() && (text.front() == all || text.back() == all)) return false;
      // Keys cut to the key length would make longer values equal.
      TxbExpValue sample;
      TxbExpResultType sampleType = rtUnknown;
      left->ExpParse(sample, sampleType);
      if (sampleType != rtText || static_cast<int>(sample.Text().size()) != tag->KeyLength()) return false;
      key.PutString(text);
      break;
    }
  }

  static constexpr struct {
    int code, tagOp;
    bool negate;
  } kServed[] = {{xboEqual, 129, false},  {xboNotEqual, 129, true}, {xboGreater, 131, false},
                 {xboLess, 132, false},   {xboGreaterEq, 133, false}, {xboLessEq, 134, false}};
  for (const auto& s : kServed) {
    if (s.code != code) continue;
    if (tag->KeyFilter(s.tagOp, key, set) != 0) return false;
    if (s.negate) set.NegateSet(static_cast<uint32_t>(NumRecs()));
    return true;
  }
  return false;
}

// --- Ranges ---

bool XBO_dBHandler::xbSetRange(const AnsiString& RLo, const AnsiString& RHi, bool LoIn, bool HiIn, bool Partial,
                               bool GoTop) {
  if (!IndexMaster_) return false;
  TxbVariant lo(256), hi(256);
  if (!TrimBlanks(RLo).empty()) lo.PutString(RLo);
  if (!TrimBlanks(RHi).empty()) hi.PutString(RHi);
  SyncPending_ = false;
  IndexMaster_->SetRange(lo, LoIn, hi, HiIn, Partial);
  if (!GoTop) return true;
  xbGetRec(xbRecTop);
  if (File_TOF()) BlankBuffer();
  return true;
}

void XBO_dBHandler::xbResetRange() {
  if (!IndexMaster_ || !IndexMaster_->GetRangeActive()) return;
  IndexMaster_->SetRange(TxbVariant(), true, TxbVariant(), true, false);
  SyncPending_ = false;
  if (RecNumber() >= 1 && RecNumber() <= NumRecs()) IndexMaster_->KeySync(RecNumber());
}

// --- Finds ---

bool XBO_dBHandler::xbFind(const AnsiString& st) {
  FindKey_.PutString(st);
  FindKey_.Tag = XBobjIndexTag::AnyRecord;
  return FindKeyValue(FindKey_);
}

void XBO_dBHandler::FindFailed() {
  xbGetRec(xbRecBottom);
  SetFile_EOF(true);
}

void XBO_dBHandler::PassHidden() {
  while (xbvRecRead_ && !Shown()) xbGetRec(xbRecNext);
}

bool XBO_dBHandler::FindKeyValue(XBobjIndexKeyData& key) {
  xbvFound_ = false;
  if (NumRecs() == 0) return false;
  TIndexLocks locks(*this, UseReadLockIndex());
  if (!IndexMaster_) {
    FindFailed();
    return false;
  }
  XBobjIndexTag& tag = *IndexMaster_;
  SyncPending_ = false;
  const int rn = tag.KeyFind(key);
  if (rn == 0) {
    const int next = tag.CurKeyInfo().Tag;
    if (!xbvFindNear_ || tag.TagEOF() || next <= 0) {
      FindFailed();
      return false;
    }
    xbGetRec(next);
    PassHidden();
    if (!xbvRecRead_) FindFailed();
    return false;
  }
  xbGetRec(rn);
  PassHidden();
  if (!xbvRecRead_) return false;
  // The key as the tag sought it, not converted a second time.
  const XBobjIndexKeyData& sought = tag.SearchKey();
  int endPos = 0;
  const int c = sought.Compare(&tag.CurKeyInfo(), endPos, XBobjIndexTag::Whole);
  // A shorter text finds the first key that begins with it unless the
  // match must be exact.
  xbvFound_ = c == 0 || (!xbvExactMatch() && sought.TypeVar() == xbvtText && endPos > sought.SizeVar());
  if (!xbvFound_ && !xbvFindNear_) FindFailed();
  return xbvFound_;
}

int XBO_dBHandler::xbHuntDuplicate(const AnsiString& st, const AnsiString& ky) {
  XBobjIndexTag* tag = nullptr;
  for (int slot = 1; slot <= MaxIndexFiles && !tag; ++slot)
    if (XBobjIndexFile* f = IndexStack(slot)) tag = f->TagByName(AnsiString(TrimBlanks(st)));
  if (!tag) return -1;
  TExactScope exact(*this, true);
  XBobjIndexKeyData key(256);
  key.PutString(ky);
  return tag->HuntDuplicate(key);
}

AnsiString XBO_dBHandler::xbBuildKey(std::span<const dataaccess::TVariant> Values, TxbExpHandler& Expr) {
  AnsiString names = Expr.EnumerateType(etDataField);
  // As many names as values; the values are put into the fields by the
  // fields' own rules.
  std::vector<dataaccess::TVariant> values;
  AnsiString used;
  size_t from = 0;
  for (const dataaccess::TVariant& v : Values) {
    const size_t to = names.find(';', from);
    if (to == AnsiString::npos) break;
    const AnsiString name = names.substr(from, to - from);
    from = to + 1;
    const int n = xbFieldNo(name);
    values.push_back(FieldValue(v, n > 0 ? xbFieldType(n) : 'C'));
    used += name + ';';
  }
  KeyRecord_.assign(static_cast<size_t>(RecLen()) + 1, ' ');
  xbStuffABuffer(KeyRecord_.data(), used, values);
  TxbRecordPointer at(*this, KeyRecord_.data());
  Expr.ExpressionAsVariant(FindKey_);
  return FindKey_.GetString();
}

// --- Locating ---

XBobjIndexTag* XBO_dBHandler::xbIndexExpressionFind(const AnsiString& Value, bool Partial, bool UseConditional) {
  const AnsiString want = platform::AnsiUpperCase(TrimBlanks(Value));
  for (int i = 0;; ++i) {
    XBobjIndexTag* t = i == 0 ? IndexMaster_ : xbIndexPointer(i);
    if (i > 0 && !t) return nullptr;
    if (!t || (t->Conditional() && !UseConditional)) continue;
    AnsiString expr = platform::AnsiUpperCase(TrimBlanks(t->KeyExpr()));
    if (Partial && expr.size() > want.size()) expr.resize(want.size());
    if (expr == want) return t;
  }
}

XBobjIndexTag* XBO_dBHandler::LocateTag(const AnsiString& KeyFields, bool IsInsensitive, bool IsPartial) {
  // A case-insensitive search has no tag to ask; a tag without every
  // record (FOR condition, unique keys) could miss the record searched.
  if (IsInsensitive || (IndexMaster_ && IndexMaster_->GetRangeActive())) return nullptr;
  AnsiString fields = UpperNoBlanks(KeyFields);
  if (fields.empty() || fields.back() != ';') fields += ';';
  for (int i = 0;; ++i) {
    XBobjIndexTag* t = i == 0 ? IndexMaster_ : xbIndexPointer(i);
    if (i > 0 && !t) return nullptr;
    if (!t || t->Conditional() || t->KeyIsUnique()) continue;
    AnsiString expr = UpperNoBlanks(t->KeyExpr());
    std::replace(expr.begin(), expr.end(), '+', ';');
    std::replace(expr.begin(), expr.end(), '-', ';');
    expr += ';';
    // A key of more fields serves only a partial search: the fields after
    // the searched ones may hold anything. A partial search needs text.
    const bool same = expr == fields;
    if ((same || (IsPartial && expr.compare(0, fields.size(), fields) == 0)) && (!IsPartial || t->KeyType() == 'C'))
      return t;
  }
}

bool XBO_dBHandler::xbLocateRecord(const AnsiString& KeyFields, std::span<const dataaccess::TVariant> KeyValues,
                                   bool IsInsensitive, bool IsPartial, int RecNum) {
  xbGetRec(xbRecCurrent);
  if (File_TOF()) return false;

  // The fields and what each must hold.
  struct TWant {
    int field;
    char type;
    AnsiString text;  // a D field's "yyyymmdd" when compared by value
    double number = 0;
    bool byValue = false;
  };
  std::vector<TWant> wants;
  AnsiString names;
  {
    size_t from = 0;
    for (size_t i = 0; i < KeyValues.size() && from <= KeyFields.size(); ++i) {
      size_t to = KeyFields.find(';', from);
      if (to == AnsiString::npos) to = KeyFields.size();
      const AnsiString name(TrimBlanks(std::string_view(KeyFields).substr(from, to - from)));
      from = to + 1;
      const XBR_DBFField& f = xbAnalyzeField(name);
      const dataaccess::TVariant& v = KeyValues[i];
      TWant w{f.dbFieldNum, f.dbFieldType, {}};
      const bool last = i + 1 == KeyValues.size() || from > KeyFields.size();
      if (f.dbFieldType == 'D' && v.VarType() == dataaccess::varDate) {
        const dataaccess::TDateTimeParts d = dataaccess::DecodeDateTime(v.AsDateTime());
        w.text = xbDBFDate().DTOS(xbDBFDate().MDY2Jul(d.Month, d.Day, d.Year));
        w.byValue = true;
      } else if ((f.dbFieldType == 'N' || f.dbFieldType == 'F') && !(IsPartial && last) &&
                 (v.VarType() == dataaccess::varInt64 || v.VarType() == dataaccess::varDouble)) {
        w.number = v.AsDouble();
        w.byValue = true;
      } else {
        w.text = FieldValue(v, f.dbFieldType).AsString();
        if (!(IsPartial && last)) w.text = AnsiString(TrimBlanksRight(w.text));
        if (IsInsensitive) w.text = platform::AnsiUpperCase(w.text);
      }
      wants.push_back(std::move(w));
      names += name + ';';
    }
  }

  if (XBobjIndexTag* tag = RecNum == 0 ? LocateTag(names, IsInsensitive, IsPartial) : nullptr) {
    std::vector<dataaccess::TVariant> values;
    for (size_t i = 0; i < wants.size(); ++i) values.push_back(FieldValue(KeyValues[i], wants[i].type));
    KeyRecord_.assign(static_cast<size_t>(RecLen()) + 1, ' ');
    xbStuffABuffer(KeyRecord_.data(), names, values);
    {
      TxbRecordPointer at(*this, KeyRecord_.data());
      bool changed = false;
      tag->SolveExpression(FindKey_, changed);
    }
    // A partial text key seeks what its values begin with: without the
    // blanks that pad the last one.
    tag->AdjustValue(FindKey_, IsPartial);
    FindKey_.Tag = XBobjIndexTag::AnyRecord;
    bool found;
    {
      TOrderScope order(*this, tag, CacheRead_);
      TValueScope<bool> near(xbvFindNear_, false);
      TExactScope exact(*this, !IsPartial);
      found = FindKeyValue(FindKey_);
    }
    if (found) xbGetRec(RecNumber());
    return found;
  }

  // By reading the records: in natural order, or within the active tag's
  // range.
  const bool ranged = IndexMaster_ && IndexMaster_->GetRangeActive();
  int found = 0;
  {
    TOrderScope order(*this, ranged ? IndexMaster_ : nullptr, ranged ? CacheRead_ : true);
    AnsiString text;
    auto matches = [&] {
      for (size_t i = 0; i < wants.size(); ++i) {
        const TWant& w = wants[i];
        if (w.byValue) {
          double v;
          if (w.type == 'D' ? xbFieldView(w.field) != w.text : !NumberText(xbFieldView(w.field), v) || v != w.number)
            return false;
          continue;
        }
        xbStringGetNInto(w.field, text);
        if (IsInsensitive) text = platform::AnsiUpperCase(text);
        if (IsPartial && i + 1 == wants.size() ? text.compare(0, w.text.size(), w.text) != 0 : text != w.text)
          return false;
      }
      return true;
    };
    if (RecNum == 0) {
      xbGetRec(xbRecTop);
    } else {
      xbGetRec(RecNum);
      xbGetRec(xbRecNext);
    }
    for (; xbvRecRead_; xbGetRec(xbRecNext)) {
      if (matches()) {
        found = RecNumber();
        break;
      }
    }
  }
  if (found) xbGetRec(found);
  return found != 0;
}

// --- Searching field texts ---

uint16_t XBO_dBHandler::xbSearchDBF(const AnsiString& s, uint16_t& FNum, int& fromrec, int torec) {
  if (s.empty() || FNum > NumFields()) return 0;
  const uint16_t mode = SearchMode_;
  const bool upper = mode & 1;
  const bool wild = mode & 4;

  // The pattern and where it may stand.
  AnsiString pat = upper ? platform::AnsiUpperCase(s) : s;
  bool anywhere = !(mode & 32), tailFree = true, prefix = mode & 2, anyChar = false;
  if (wild) {
    const bool lead = !pat.empty() && pat.front() == '*';
    if (lead) pat.erase(0, 1);
    const bool trail = !pat.empty() && pat.back() == '*';
    if (trail) pat.pop_back();
    anywhere = lead;
    tailFree = trail;
    anyChar = !lead && pat.find('?') != AnsiString::npos;
    if (lead || trail || anyChar) prefix = false;
  }
  auto matchAt = [&](std::string_view field, size_t at) {
    for (size_t i = 0; i < pat.size(); ++i)
      if (!(anyChar && pat[i] == '?') && field[at + i] != pat[i]) return false;
    return true;
  };
  // The 1-based position of the pattern in a text field, 0 for none.
  auto textMatch = [&](std::string_view field) -> size_t {
    if (pat.size() > field.size()) return 0;
    if (prefix) return matchAt(field, 0) ? 1 : 0;
    if (!tailFree) {
      // The match must end where the field's text ends.
      const size_t len = TrimBlanksRight(field).size();
      if (len < pat.size() || (!anywhere && len != pat.size())) return 0;
      return matchAt(field, len - pat.size()) ? len - pat.size() + 1 : 0;
    }
    const size_t last = anywhere ? field.size() - pat.size() : 0;
    for (size_t at = 0; at <= last; ++at)
      if (matchAt(field, at)) return at + 1;
    return 0;
  };

  // The typed forms of the text.
  const std::string_view plain = TrimBlanks(s);
  double number = 0;
  const bool isNumber = platform::TryStrToFloat(plain, number);
  AnsiString date;
  if (std::isdigit(static_cast<unsigned char>(s[0]))) {
    try {
      if (const int32_t d = xbDBFDate().CTOD(plain)) date = xbDBFDate().DTOS(d);
    } catch (const platform::EConvertError&) {
    }
  }
  const bool logical = xbTrueChars.find(s[0]) != std::string_view::npos;

  AnsiString fieldText, memo;
  auto fieldMatch = [&](int n) -> size_t {
    const std::string_view raw = xbFieldView(n);
    switch (xbFieldType(n)) {
      case 'C':
        if (!upper) return textMatch(raw);
        fieldText = platform::AnsiUpperCase(raw);
        return textMatch(fieldText);
      case 'N':
      case 'F': {
        double v;
        return isNumber && NumberText(raw, v) && v == number ? 1 : 0;
      }
      case 'D': return !date.empty() && raw == date ? 1 : 0;
      case 'L': return FNum != 0 && (xbTrueChars.find(raw[0]) != std::string_view::npos) == logical ? 1 : 0;
      case 'M': {
        xbStringGetNInto(n, memo);
        if (memo.size() < pat.size() || memo.size() > INT32_MAX || pat.empty()) return 0;
        const int at = upper ? BoyerMooreSearchNoCase(pat.data(), memo.data(), 0, static_cast<int>(memo.size()),
                                                      static_cast<int>(pat.size()))
                             : BoyerMooreSearch(pat.data(), memo.data(), 0, static_cast<int>(memo.size()),
                                                static_cast<int>(pat.size()));
        return at < 0 ? 0 : static_cast<size_t>(at) + 1;
      }
      default: return 0;
    }
  };

  const int start = RecNumber();
  const bool raw = !(mode & 8) && UseDeletedRec();
  XBobjIndexTag* const order = mode & 16 ? IndexMaster_ : nullptr;
  int hitRec = 0, hitField = 0;
  size_t hitPos = 0;
  {
    TOrderScope scope(*this, order, order ? CacheRead_ : true);
    const int total = NumRecs();
    // The next record of the scan, 0 at the end.
    auto step = [&](bool first) -> int {
      if (raw && !order) {
        const int n = first ? fromrec + 1 : RecNumber() + 1;
        if (n < 1 || n > total) return 0;
        ReadPhysical(n);
        return n;
      }
      if (raw) {  // every key of the tag, its record whatever it holds
        SyncMaster();
        SyncPending_ = false;
        int n;
        if (first && fromrec > 0) {
          ReadPhysical(fromrec);
          order->KeySync(fromrec);
          n = order->KeyRead(xbRecNext);
        } else {
          n = order->KeyRead(first ? xbRecTop : xbRecNext);
        }
        if (n <= 0) return 0;
        ReadPhysical(n);
        return n;
      }
      if (first && fromrec > 0) {
        xbGetRec(fromrec);
        xbGetRec(xbRecNext);
      } else {
        xbGetRec(first ? xbRecTop : xbRecNext);
      }
      return xbvRecRead_ ? RecNumber() : 0;
    };
    xbStatusUpdate(0, total, 0);
    for (int rec = step(true); rec > 0; rec = step(false)) {
      xbStatusUpdate(rec, total, 0);
      for (int n = FNum ? FNum : 1; n <= (FNum ? FNum : NumFields()); ++n) {
        if (const size_t at = fieldMatch(n)) {
          hitRec = rec, hitField = n, hitPos = at;
          break;
        }
      }
      if (hitRec || rec == torec || (torec > 0 && !order && rec > torec)) break;
    }
    xbStatusUpdate(total, total, 0);
  }
  if (!hitRec) {
    if (start >= 1 && start <= NumRecs())
      xbGetRec(start);
    else
      ReturnTo(start);
    return 0;
  }
  xbGetRec(hitRec);
  FNum = static_cast<uint16_t>(hitField);
  fromrec = hitRec;
  return static_cast<uint16_t>(std::min<size_t>(hitPos, 65535));
}

}  // namespace xbase
