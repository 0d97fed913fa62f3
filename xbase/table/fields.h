// Field access: typed reads and writes of the fields of a table's current
// record, and the names by which expressions reach the table.
//
// Field layout inside a record (byte 0 is the deletion flag; each field
// stands at its descriptor's dbFieldOffset, in descriptor order, without
// separators):
//
//   type   bytes            stored as
//   C      length byte      text, left-aligned, blank-padded; a C field's
//          + 256 × decimals length runs to 65,535 (the decimals byte is the
//          byte                high byte of its length)
//   N, F   length byte      number text, right-aligned, '.' as the decimal
//                           point; blanks alone mean 0
//   D      8                "yyyymmdd"; 8 blanks for no date
//   L      1                T t Y y J j true, anything else false
//   M B G  10               memo block number, right-aligned text; 0 or
//                           blanks: no memo
//   other  length byte      text, right-aligned
//
// Visual FoxPro tables (version 0x30) store these binary, little-endian:
//   I M G  4  signed integer (M, G: the memo block); four blanks read as 0
//   B      8  IEEE double
//   Y      8  signed integer of ten-thousandths (currency)
//   T      8  Julian day (4), then milliseconds since midnight (4); all
//             zero for no value
// (A binary field left all blank by another writer reads as 0.)
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/DBValues.h"
#include "xbase/expr/expression.h"
#include "xbase/table/table_file.h"

namespace xbase {

class XBO_dBaseFld;
class XBobjMemo;

// One field of an open table, as the table lists it (FDBFFieldList).
struct TxbDBFFields {
  XBO_dBaseFld* DataTable = nullptr;
  AnsiString FFieldName;
  uint8_t FFieldLen = 0;  // the descriptor's length byte
  uint8_t FFieldDec = 0;  // the descriptor's decimals byte
  char FFieldType = 0;
  int FFieldNo = 0;
  int FFieldOffset = 0;
  TxbUserDefFieldVar* FFieldVar = nullptr;  // the field's variable, owned by the table's user link

  // The field as a field line of table creation: "NAME;T;length;decimals".
  // A C field gives its whole length and 0 decimals, which builds the same
  // field again.
  AnsiString FieldDescriptor() const;
};

// A table with typed access to the fields of its current record (CurRecord).
//
// Fields are numbered from 1; by-name operations find the field by its name
// (case and trailing blanks ignored) and raise 65167 "There is no field name
// %s" when the table has none; by-number operations answer 0, "" or false for
// a number outside 1..NumFields. Every put marks the field's changed flag and
// RecModified; nothing reaches the file until the record is written
// (xbPutRec, xbAppend) -- except xbDeleteRec and xbUndelete, which write at
// once, and memo texts, which go to the memo file when put.
//
// The table's user link (DBFExpLink) knows every field by its name and by
// "ALIAS.NAME" (the alias in upper case), and the table-bound functions
// RECNO, DELETED, BOF, EOF, TYPE, LEN and FIELDNO; an expression compiled
// against it evaluates on whatever record CurRecord holds.
//
// Gets and puts allocate nothing per call except where they return a new
// string; xbStringGetNInto fills a caller's string, reusing its capacity.
// One user at a time; not thread-safe.
class XBO_dBaseFld : public XBO_dBaseDBF {
 public:
  // Opens the table (XBO_dBaseDBF), then lists its fields and registers its
  // field variables and table-bound functions on its user link.
  XBO_dBaseFld(const std::string& fname, const AnsiString& password, bool readWrite, bool shared);
  ~XBO_dBaseFld() override;

  // Reads as the table does, then clears every changed flag.
  void xbGetRec(int RecNum) override;

  // --- Finding fields ---
  // 1-based number of the field `name`; 0 when absent.
  int xbFieldNo(std::string_view name) const;
  // The descriptor of field `name`; 65167 when absent.
  const XBR_DBFField& xbAnalyzeField(std::string_view name) const;
  // As xbAnalyzeField; a field of another type than `typ` raises 65137
  // "Field %s is the incorrect type", except that G accepts B and M fields
  // and N accepts B, F, G, I and M fields.
  const XBR_DBFField& xbCheckField(std::string_view name, char typ) const;
  // The table's fields with their numbers, offsets and variables.
  const std::vector<TxbDBFFields>& FDBFFieldList() const { return fieldList_; }
  // The user link of the table's field variables and functions.
  TxbExpUserLink* DBFExpLink() const { return DBFExpLink_.get(); }

  // --- Descriptors by number ---
  int xbFieldDecimals(int n) const;  // 0 for type C
  int xbFieldLength(int n) const;    // type C with its high byte
  int xbFieldOffset(int n) const;
  AnsiString xbFieldName(int n) const;
  char xbFieldType(int n) const;  // 0 for a bad number

  // --- Raw bytes ---
  // The field's bytes as they stand, untrimmed.
  AnsiString xbFieldGet(std::string_view name) const;
  AnsiString xbFieldGetN(int n) const;
  // The same without a copy; valid until CurRecord changes.
  std::string_view xbFieldView(int n) const;
  // Stores `s` as it is: blank-filled, left-aligned in C, D and L fields
  // and right-aligned in the others; a longer text keeps its leftmost bytes.
  bool xbFieldPut(std::string_view name, std::string_view s);
  bool xbFieldPutN(int n, std::string_view s);

  // --- Text ---
  // The field as text: C and other types without trailing blanks; N and F
  // trimmed, "0" when blank; D in the date layer's short format ("" when
  // empty); L "T" or "F"; M the memo's text; B and G "--BINARY--" and
  // "-GENERAL--" when they hold a memo, else in lower case. Visual FoxPro
  // binary fields as their values: I and B as numbers, Y with 4 decimals,
  // T as date and "hh:mm:ss".
  AnsiString xbStringGet(std::string_view name);
  AnsiString xbStringGetN(int n);
  void xbStringGetNInto(int n, AnsiString& out);
  // Stores text by the field's type: C left-aligned; N and F as the number
  // the text holds (blank: 0; not a number: 65164; too wide: 65165); D
  // through the date layer's text-to-date (not a date: 65136 "Date"); L from
  // its first character (T t Y y J j true, F f N n false, blank false, else
  // a number, non-zero true; otherwise 65136 "Logical"); M written to the
  // memo file; Visual FoxPro I, B, Y, G as numbers and T as date and time;
  // others right-aligned as they are.
  bool xbStringPut(std::string_view name, std::string_view s);
  bool xbStringPutN(int n, std::string_view s);

  // --- Numbers ---
  // The field's value: N, F and other text fields read as numbers (blank:
  // 0; not a number: 65164 naming the table, field and text); memo fields
  // give their block number; Visual FoxPro binary fields their value (T in
  // milliseconds: (day - 1721425) * 86,400,000 + ms). C, D and L fields
  // raise 65137.
  double xbNumberGet(std::string_view name);
  double xbNumberGetN(int n);
  // Stores `v` into a B, F, G, M or N field (Visual FoxPro also I, T, Y;
  // others raise 65137): as text right-aligned in the field's width with
  // its decimals, or binary in a Visual FoxPro table (I, G, M, T rounded
  // to whole units, Y to ten-thousandths, halves to even). A value that
  // does not fit, or is not finite, raises 65165 "numeric value too big in
  // field %s".
  bool xbNumberPut(std::string_view name, double v);
  bool xbNumberPutN(int n, double v);

  // --- Dates (Julian day numbers, 0 = empty) ---
  // The field's text through the date layer's text-to-date; a text that is
  // no date raises 65166. A Visual FoxPro T field gives its day. By name
  // the field must be D (65137).
  int32_t xbDateGet(std::string_view name);
  int32_t xbDateGetN(int n);
  // Stores the "yyyymmdd" of `d` (8 blanks for 0); false when the field is
  // not D. A day the calendar cannot hold (below 0, or outside 0001-01-01
  // .. 9999-12-31) raises 65136 "Invalid Date value for field %s".
  bool xbDatePut(std::string_view name, int32_t d);
  bool xbDatePutN(int n, int32_t d);

  // --- Logicals ---
  bool xbLogicGet(std::string_view name);
  bool xbLogicGetN(int n);
  // Stores "T" or "F"; a field that is not L raises 65136 "Logical".
  bool xbLogicPut(std::string_view name, bool b);
  bool xbLogicPutN(int n, bool b);

  // --- Memos ---
  // xbCheckField(name, 'G'); opens the memo file; the field's number.
  int xbMemoFieldNumber(std::string_view name);
  // The memo file for a memo field (B, G, M; not a Visual FoxPro B, which
  // is a number); nullptr for any other field or a table without one.
  XBobjMemo* xbMemoFieldCheck(int n);
  // The length of field n's memo (0 for none).
  int64_t xbMemoSize(std::string_view name);
  int64_t xbMemoSizeN(int n);
  // Reads field n's memo into `buffer`, at most `size` bytes; `size` becomes
  // the bytes delivered.
  void xbMemoLoad(std::string_view name, void* buffer, int64_t& size);
  void xbMemoLoadN(int n, void* buffer, int64_t& size);
  // Writes `size` bytes as field n's memo and stores the block it now lives
  // in (an empty memo leaves the field blank, or 0 when it is binary). A memo field of a table without a memo file
  // raises 65137. Returns the bytes written.
  int64_t xbMemoSave(std::string_view name, const void* buffer, int64_t size);
  int64_t xbMemoSaveN(int n, const void* buffer, int64_t size);

  // --- Whole record ---
  // Blanks CurRecord: every byte a blank, then numeric fields "0" right-
  // aligned with their decimals (and Visual FoxPro binary fields 0); every
  // changed flag set, RecModified, dbRecordChange.
  void xbBlank();
  // Marks CurRecord deleted ("*") or live (blank) and writes it at once
  // (xbPutRec of RecNumber); nothing when the flag already says so.
  void xbDeleteRec();
  void xbUndelete();
  void xbClearFldChanged();
  // Builds a search record in `Buffer` (RecLen + 1 bytes): blanked as
  // xbBlank does, then value i put as text (xbStringPut; null as "") into
  // the i-th of the ';'-separated KeyFields; values beyond the names are
  // ignored. CurRecord, its changed flags and RecModified are left as they
  // were.
  void xbStuffABuffer(uint8_t* Buffer, std::string_view KeyFields, std::span<const dataaccess::TVariant> KeyValues);

 private:
  const XBR_DBFField* FieldN(int n) const {
    return n >= 1 && n <= NumFields() ? &Fields(n - 1) : nullptr;
  }
  // A Visual FoxPro field stored binary (of its binary width).
  bool VfpBinary(const XBR_DBFField& f) const;
  uint8_t* FieldBytes(const XBR_DBFField& f) const { return CurRecord() + f.dbFieldOffset; }
  void Push(const XBR_DBFField& f, std::string_view s);
  void Changed(const XBR_DBFField& f);
  // The field's number in CurRecord, or in the record image `record`.
  double NumberOf(const XBR_DBFField& f, const uint8_t* record = nullptr);
  void PutNumberText(const XBR_DBFField& f, std::string_view text);
  void PutBinary(const XBR_DBFField& f, double v);
  int64_t MemoBlock(const XBR_DBFField& f, XBobjMemo& memo, const uint8_t* record = nullptr);
  // A record write replaced `was`: the dBase IV memo blocks it named and
  // the new record does not go back to the memo file.
  void RecordReplaced(const uint8_t* was) noexcept override;
  int64_t HighestMemoBlockNamed(int64_t limit) override;
  // Sets the deletion flag and writes the record, unless it has the flag.
  void WriteDeletionFlag(uint8_t flag);
  [[noreturn]] void RaiseNoField(std::string_view name) const;
  [[noreturn]] void RaiseWrongType(const XBR_DBFField& f) const;

  std::unique_ptr<TxbExpUserLink> DBFExpLink_;
  std::vector<TxbDBFFields> fieldList_;
  std::vector<AnsiString> upperNames_;  // field names upper-cased, by number - 1
  bool vfp_ = false;
};

}  // namespace xbase
