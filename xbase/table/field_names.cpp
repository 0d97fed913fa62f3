#include "xbase/table/field_names.h"

#include "xbase/table/fields.h"

namespace xbase {

namespace {

// Reads the field of the table's current record.
class TxblDBFFieldVars : public TxbUserDefFieldVar {
 public:
  TxblDBFFieldVars(std::string_view names, XBO_dBaseFld& table, int n)
      : TxbUserDefFieldVar(names, table.xbFieldLength(n)), FTable(table), FFieldNo(n) {
    const char t = table.xbFieldType(n);
    switch (t) {
      case 'C': FKind = kText; break;
      case 'D': FKind = kDate; break;
      case 'F': case 'I': case 'N': case 'Y': FKind = kNumber; break;
      case 'L': FKind = kLogical; break;
      case 'M': FKind = kMemo; break;
      // A Visual FoxPro B field is a double, not a binary memo.
      case 'B': FKind = table.FileVers() == 0x30 && table.xbFieldLength(n) == 8 ? kNumber : kRaw; break;
      default: FKind = kRaw;
    }
  }

  int FieldVarType() const override { return etDataField; }

  void FieldVarResult(TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    switch (FKind) {
      case kText:
        BufVar.PutText(FTable.xbFieldView(FFieldNo));
        ExpResult = rtText;
        return;
      case kDate:
        BufVar.PutFloat(FTable.xbDateGetN(FFieldNo));
        ExpResult = rtDate;
        return;
      case kNumber:
        BufVar.PutFloat(FTable.xbNumberGetN(FFieldNo));
        ExpResult = rtFloat;
        return;
      case kLogical:
        BufVar.PutBoolean(FTable.xbLogicGetN(FFieldNo));
        ExpResult = rtBoolean;
        return;
      case kMemo:
        FTable.xbStringGetNInto(FFieldNo, BufVar.TextBuf());
        ExpResult = rtText;
        return;
      case kRaw:
        BufVar.PutText(FTable.xbFieldView(FFieldNo));
        ExpResult = rtMemo;
        return;
    }
  }

 private:
  enum TKind : uint8_t { kText, kDate, kNumber, kLogical, kMemo, kRaw };
  XBO_dBaseFld& FTable;
  int FFieldNo;
  TKind FKind = kRaw;
};

// The base of the table-bound functions: the table they read.
class TxblDBFFunction : public TxbUserDefFunction {
 public:
  explicit TxblDBFFunction(XBO_dBaseFld& table) : FTable(table) {}

 protected:
  // The field named by argument 1 (a text; case and trailing blanks do not
  // matter); 0 when the table has none.
  int FieldArg(TxbExpFunction& Caller, TxbExpValue& BufVar) {
    TxbExpResultType type = rtUnknown;
    Caller.FetchArg(0, BufVar, rtText, type);
    return FTable.xbFieldNo(BufVar.Text());
  }
  // As FieldArg; a name the table lacks raises 65167.
  const XBR_DBFField& NamedField(TxbExpFunction& Caller, TxbExpValue& BufVar) {
    const int n = FieldArg(Caller, BufVar);
    return n ? FTable.Fields(n - 1) : FTable.xbAnalyzeField(platform::AnsiUpperCase(BufVar.Text()));
  }

  XBO_dBaseFld& FTable;
};

class TxblDBFRecNo : public TxblDBFFunction {
 public:
  using TxblDBFFunction::TxblDBFFunction;
  AnsiString FunctionName() const override { return "RECNO"; }
  void FunctionResult(TxbExpFunction&, TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar.PutFloat(FTable.RecNumber());
    ExpResult = rtFloat;
  }
};

class TxblDBFDeleted : public TxblDBFFunction {
 public:
  using TxblDBFFunction::TxblDBFFunction;
  AnsiString FunctionName() const override { return "DELETED"; }
  void FunctionResult(TxbExpFunction&, TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar.PutBoolean(FTable.xbDelFlag());
    ExpResult = rtBoolean;
  }
};

class TxblDBFBOF : public TxblDBFFunction {
 public:
  using TxblDBFFunction::TxblDBFFunction;
  AnsiString FunctionName() const override { return "BOF"; }
  void FunctionResult(TxbExpFunction&, TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar.PutBoolean(FTable.File_TOF());
    ExpResult = rtBoolean;
  }
};

class TxblDBFEOF : public TxblDBFFunction {
 public:
  using TxblDBFFunction::TxblDBFFunction;
  AnsiString FunctionName() const override { return "EOF"; }
  void FunctionResult(TxbExpFunction&, TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar.PutBoolean(FTable.File_EOF());
    ExpResult = rtBoolean;
  }
};

class TxblDBFType : public TxblDBFFunction {
 public:
  using TxblDBFFunction::TxblDBFFunction;
  AnsiString FunctionName() const override { return "TYPE"; }
  void FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    const char type = NamedField(Caller, BufVar).dbFieldType;
    BufVar.TextBuf().assign(1, type);
    ExpResult = rtText;
  }
};

// The descriptor's length byte: a C field longer than 255 gives its low byte.
class TxblDBFLen : public TxblDBFFunction {
 public:
  using TxblDBFFunction::TxblDBFFunction;
  AnsiString FunctionName() const override { return "LEN"; }
  void FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar.PutFloat(NamedField(Caller, BufVar).dbFieldLgth);
    ExpResult = rtFloat;
  }
};

class TxblDBFFieldNo : public TxblDBFFunction {
 public:
  using TxblDBFFunction::TxblDBFFunction;
  AnsiString FunctionName() const override { return "FIELDNO"; }
  void FunctionResult(TxbExpFunction& Caller, TxbExpValue& BufVar, TxbExpResultType& ExpResult) override {
    BufVar.PutFloat(FieldArg(Caller, BufVar));
    ExpResult = rtFloat;
  }
};

}  // namespace

void xbRegisterTableFunctions(XBO_dBaseFld& table, TxbExpUserLink& link) {
  link.RegisterFunction(std::make_unique<TxblDBFRecNo>(table));
  link.RegisterFunction(std::make_unique<TxblDBFDeleted>(table));
  link.RegisterFunction(std::make_unique<TxblDBFBOF>(table));
  link.RegisterFunction(std::make_unique<TxblDBFEOF>(table));
  link.RegisterFunction(std::make_unique<TxblDBFType>(table));
  link.RegisterFunction(std::make_unique<TxblDBFLen>(table));
  link.RegisterFunction(std::make_unique<TxblDBFFieldNo>(table));
}

std::unique_ptr<TxbUserDefFieldVar> xbMakeFieldVar(XBO_dBaseFld& table, int n, std::string_view names) {
  return std::make_unique<TxblDBFFieldVars>(names, table, n);
}

}  // namespace xbase
