// The dataset component: index files and tags, key ranges, seeks, locate
// and lookup, master/detail links, filters, and table creation.
#include <algorithm>
#include <cstring>

#include "platform/Files.h"
#include "xbase/base/errors.h"
#include "xbase/base/utilities.h"
#include "xbase/base/variant.h"
#include "xbase/dataset/dataset.h"
#include "xbase/expr/expression.h"
#include "xbase/index/index_framework.h"
#include "xbase/table/table_builders.h"

namespace xbase {

using namespace dataaccess;

namespace {

// The field names of a key expression without function calls: "AU+NA" and
// "AU - NA" give "AU;NA".
AnsiString KeyFieldsText(const AnsiString& expr) {
  AnsiString out;
  for (char c : expr) {
    if (c == ' ') continue;
    out += c == '+' || c == '-' ? ';' : c;
  }
  return out;
}

}  // namespace

XBO_dBHandler& TXBaseDataSet::Table() {
  CheckActive();
  return *FDBFHandle;
}

// --- Index files ---------------------------------------------------------------------------

void TXBaseDataSet::IndexOn(const std::string& IName, const AnsiString& tag, const AnsiString& keyexp,
                            const AnsiString& forexp, XBsetIndexUnique uniq, XBsetSortStatus ascnd) {
  CheckBrowseMode();
  XBO_dBHandler& t = *FDBFHandle;
  FIndexDefs.SetUpdated(false);
  {
    ActivityGuard busy(*this, aIndexing);
    // Building closes every open index file: the active tag goes with them.
    FIndexName.clear();
    FIndexDefs.Clear();
    FKeyExpr.reset();
    t.xbIndexTo(IName, tag, keyexp, forexp, uniq, ascnd);
  }
  First();
}

void TXBaseDataSet::IndexFileInclude(const std::string& IName) {
  XBO_dBHandler& t = Table();
  FIndexDefs.SetUpdated(false);
  t.xbIndexRoute(IName);
}

void TXBaseDataSet::IndexFileRemove(const std::string& IName) {
  XBO_dBHandler& t = Table();
  FIndexDefs.SetUpdated(false);
  t.xbIndexFileRemove(IName);
  SyncIndexName();
}

void TXBaseDataSet::IndexTagRemove(const std::string& IName, const AnsiString& Tag) {
  XBO_dBHandler& t = Table();
  FIndexDefs.SetUpdated(false);
  t.xbIndexTagRemove(IName, Tag);
  SyncIndexName();
}

void TXBaseDataSet::SyncIndexName() {
  // Removing the active tag's file leaves natural order.
  if (FDBFHandle && !FDBFHandle->IndexMaster()) FIndexName.clear();
}

void TXBaseDataSet::SetIndexFiles(const std::vector<std::string>& v) {
  FIndexFiles = v;
  if (FDBFHandle && !Loading() && !FRenaming) {
    OpenIndexFiles(false);
    if (Active()) First();
  }
}

void TXBaseDataSet::Index(const std::string& IName, const AnsiString& Tag) {
  std::vector<std::string> names;
  std::string name;
  bool quoted = false;
  auto flush = [&] {
    std::string n(TrimBlanks(name));
    // Only the file's own name is upper-cased (its case is matched loosely
    // when it is opened); a folder is looked for as it is written.
    const size_t base = n.rfind('/') + 1;
    if (!n.empty()) names.push_back(n.substr(0, base) + platform::Utf8Upper(n.substr(base)));
    name.clear();
  };
  for (char c : IName) {
    if (c == '"') {
      quoted = !quoted;
    } else if ((c == ',' || c == ';') && !quoted) {
      flush();
    } else {
      name += c;
    }
  }
  flush();
  FIndexName = Tag;
  SetIndexFiles(names);
}

void TXBaseDataSet::OpenIndexFiles(bool opening) {
  XBO_dBHandler& t = *FDBFHandle;
  FIndexDefs.SetUpdated(false);
  t.xbIndexClear();
  FKeyExpr.reset();
  const std::string dir = ResolvedDirectory();
  for (const std::string& entry : FIndexFiles) {
    std::string name = entry;
    if (name.empty()) continue;
    if (platform::ExtractFileExt(name).empty()) name += ".NDX";
    if (name.find('/') == std::string::npos) name = dir + name;
    if (platform::FindExistingFile(name).empty()) DataSetError(xbmCannotFindFile, {name});
    const int r = t.xbIndexRoute(name);
    if (r == -1 && !opening) DataSetError(xbmIndexAlreadyOpen, {name});
    if (r != 0 && r != -1) DataSetError(xbmErrorGetting, {name});
  }
  if (!FIndexName.empty()) t.xbSetTagTo(FIndexName, true);
}

void TXBaseDataSet::SetTagTo(const AnsiString& TName) {
  CheckActive();
  SetIndexName(TName);
}

void TXBaseDataSet::SetIndexName(const AnsiString& v) {
  if (!FDBFHandle) {
    FIndexName = v;
    return;
  }
  XBO_dBHandler& t = *FDBFHandle;
  t.xbSetTagTo(v, false);  // an unknown tag raises and the old one stays
  FIndexName = v;
  if (!Active()) return;
  const int rec = !IsEmpty() && !Eof() && !Bof() ? GetRecNo() : 0;
  // Read the record again through the new order; it stays current when
  // the order holds it.
  if (rec > 0) t.xbGetRec(rec);
  ApplyMasterRange();
  if (rec <= 0 || t.ResyncIndex() || t.File_EOF() || t.File_TOF()) {
    First();
    return;
  }
  FBeforeBOF = FAfterEOF = false;
  Resync();
  DoAfterScroll();
}

void TXBaseDataSet::Reindex() {
  CheckBrowseMode();
  FDBFHandle->xbReIndex();
  First();
}

bool TXBaseDataSet::MemoryIndexAdd(const AnsiString& tag, const AnsiString& keyexpr, const AnsiString& forexpr,
                                   XBsetIndexUnique uniq, XBsetSortStatus ascnd) {
  XBO_dBHandler& t = Table();
  FIndexDefs.SetUpdated(false);
  FKeyExpr.reset();
  const bool ok = t.xbMemoryIndexAdd(tag, keyexpr, forexpr, uniq, ascnd);
  FIndexName = t.PrimaryTagName();
  First();
  return ok;
}

// --- Index descriptions ----------------------------------------------------------------------

void TXBaseDataSet::UpdateIndexDefs() {
  if (!FDBFHandle) return;
  FUpdatingIndexDesc = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{FUpdatingIndexDesc};
  FIndexDefs.Clear();
  for (int n = 1; XBobjIndexTag* tag = FDBFHandle->xbIndexPointer(n); ++n) {
    const AnsiString expr(TrimBlanks(tag->KeyExpr()));
    TIndexOptions options;
    if (tag->KeyIsUnique()) options.Include(ixUnique);
    if (!tag->KeyIsAscending()) options.Include(ixDescending);
    if (expr.find('(') != AnsiString::npos) {
      options.Include(ixExpression);
      FIndexDefs.Add(tag->TagName(), expr, options);
    } else {
      FIndexDefs.Add(tag->TagName(), KeyFieldsText(expr), options);
    }
  }
  FIndexDefs.SetUpdated(true);
}

bool TXBaseDataSet::GetIsIndexField(const TField& Field) {
  if (!FDBFHandle || !FDBFHandle->IndexMaster()) return false;
  const AnsiString name = platform::AnsiUpperCase(Field.FieldName());
  const AnsiString fields = ActiveKeyExpr().EnumerateType(etDataField);
  size_t from = 0;
  while (from < fields.size()) {
    size_t to = fields.find(';', from);
    if (to == AnsiString::npos) to = fields.size();
    if (platform::AnsiUpperCase(fields.substr(from, to - from)) == name) return true;
    from = to + 1;
  }
  return false;
}

TxbExpHandler& TXBaseDataSet::ActiveKeyExpr() {
  XBO_dBHandler& t = *FDBFHandle;
  XBobjIndexTag* tag = t.IndexMaster();
  if (!tag) DataSetError(xbmNoIndexForFind);
  // A tag freed and another made in its place may share its address.
  if (!FKeyExpr || FKeyTag != tag || FKeyText != tag->KeyExpr()) {
    FKeyExpr = std::make_unique<TxbExpHandler>(t.DBFExpLink(), tag->KeyExpr(), t.dAlias());
    FKeyTag = tag;
    FKeyText = tag->KeyExpr();
  }
  return *FKeyExpr;
}

int TXBaseDataSet::IndexCount() {
  if (!FDBFHandle) return 0;
  int n = 0;
  while (FDBFHandle->xbIndexPointer(n + 1)) ++n;
  return n;
}

AnsiString TXBaseDataSet::IndexCurrent() {
  return FDBFHandle && FDBFHandle->IndexMaster() ? FDBFHandle->IndexMaster()->TagName() : AnsiString();
}

int TXBaseDataSet::IndexCurrentOrder() {
  if (!FDBFHandle || !FDBFHandle->IndexMaster()) return 0;
  for (int n = 1; XBobjIndexTag* tag = FDBFHandle->xbIndexPointer(n); ++n)
    if (tag == FDBFHandle->IndexMaster()) return n;
  return 0;
}

XBobjIndexTag* TXBaseDataSet::TagN(int n) { return FDBFHandle ? FDBFHandle->xbIndexPointer(n) : nullptr; }

AnsiString TXBaseDataSet::IndexExpression(int n) {
  XBobjIndexTag* t = TagN(n);
  return t ? t->KeyExpr() : AnsiString();
}
AnsiString TXBaseDataSet::IndexFilter(int n) {
  XBobjIndexTag* t = TagN(n);
  return t ? t->ForExpr() : AnsiString();
}
int TXBaseDataSet::IndexKeyLength(int n) {
  XBobjIndexTag* t = TagN(n);
  return t ? t->KeyLength() : 0;
}
bool TXBaseDataSet::IndexUnique(int n) {
  XBobjIndexTag* t = TagN(n);
  return t && t->KeyIsUnique();
}
bool TXBaseDataSet::IndexAscending(int n) {
  XBobjIndexTag* t = TagN(n);
  return !t || t->KeyIsAscending();
}
std::string TXBaseDataSet::IndexFileName(int n) {
  XBobjIndexTag* t = TagN(n);
  return t ? t->Owner()->GetFileName() : std::string();
}
AnsiString TXBaseDataSet::IndexTagName(int n) {
  XBobjIndexTag* t = TagN(n);
  return t ? t->TagName() : AnsiString();
}

AnsiString TXBaseDataSet::IndexKeyValue(int n) {
  if (!FDBFHandle || !TagN(n)) return {};
  TRecordBuffer rec = GetActiveRecBuf();
  TxbRecordPointer at(*FDBFHandle, rec ? rec : FDBFHandle->CurRecord());
  TxbVariant v;
  if (!FDBFHandle->xbIndexKeyValue(n, v)) return {};
  return v.GetString();
}

void TXBaseDataSet::IndexIsProduction(bool tf) {
  XBO_dBHandler& t = Table();
  t.SetIndexFlag(tf ? 1 : 0);
  t.xbHdrWrite(true);
}

void TXBaseDataSet::GetIndexTagList(std::vector<AnsiString>& List) {
  List.clear();
  const bool wasOpen = Active();
  if (!wasOpen) Open();
  for (int n = 1; XBobjIndexTag* tag = FDBFHandle->xbIndexPointer(n); ++n) List.push_back(tag->TagName());
  if (!wasOpen) Close();
}

// --- Creating tables ------------------------------------------------------------------------

bool TXBaseDataSet::CreateDBF(const std::string& fname, const AnsiString& apassword, char ftype,
                              const dbInsertFieldProc& fproc) {
  return xbase::CreateDBF(fname, ftype, fproc, apassword);
}

}  // namespace xbase
