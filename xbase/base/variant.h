// The engine's typed value: every index key and every intermediate value of
// the expression language.
//
// A TxbVariant holds one value of a type (text, float, date, boolean,
// binary) as bytes in a buffer it owns:
//   text     the characters, Windows-1251, no terminator, SizeVar of them
//   float    8-byte IEEE double (host byte order)
//   date     32-bit signed Julian day number (0 = empty date)
//   boolean  1 byte, 0 false, anything else true
//   binary   raw bytes
// Puts reuse the buffer while the new value fits and otherwise allocate
// exactly the new length, so a key buffer sized once is never reallocated.
//
// Compare is the comparison behind every index key: text compares byte by
// byte as unsigned values, a missing character counting as a blank, so
// "AB" equals "AB  "; a search key that is a proper prefix of the target
// gives the caller's IfPartial. Index comparisons pass no collate table
// (raw byte order).
//
// A value is not thread-safe; one owner uses it at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/CodePage.h"

namespace xbase {

using platform::AnsiString;

enum TxbVariantType : uint8_t {
  xbvtUnknown = 0,
  xbvtText = 1,
  xbvtFloat = 2,
  xbvtDate = 3,
  xbvtBoolean = 4,
  xbvtBinary = 5,
};

// The characters that read as true and as false in a logical field; the
// first of each is what a boolean value writes.
inline constexpr std::string_view xbTrueChars = "TtYyJj";
inline constexpr std::string_view xbFalseChars = "FfNn";

class TxbVariant {
 public:
  // An unknown, empty value with `size` bytes allocated.
  explicit TxbVariant(int size = 0);
  virtual ~TxbVariant();
  TxbVariant(const TxbVariant&) = delete;
  TxbVariant& operator=(const TxbVariant&) = delete;

  TxbVariantType TypeVar() const { return TypeVar_; }
  // The value's bytes (SizeVar of them) and the bytes allocated.
  const uint8_t* VarBuf() const { return VarBuf_.get(); }
  int SizeVar() const { return SizeVar_; }
  int SizeBuf() const { return SizeBuf_; }
  // No buffer or length 0.
  bool IsEmpty() const { return SizeVar_ == 0; }

  // Frees the buffer: unknown type, nothing allocated.
  void Clear();
  // Clears, then copies the source's bytes, length and type (allocating what
  // the source has allocated). A null source leaves this cleared; false.
  bool Assign(const TxbVariant* source);

  void PutString(std::string_view text);
  void PutFloat(double value);
  void PutDate(int32_t julian);
  void PutBoolean(bool value);
  void PutBinary(const void* data, size_t length);
  // Append to a text or binary value; the result is text. An empty text
  // does nothing; any other type raises EXBaseError 65159.
  void AppendString(std::string_view text);
  // Appends bytes (nothing for none); the result is binary.
  void AppendBinary(const void* data, size_t length);

  // The value as each type; an empty value gives 0, False or "". Text reads
  // as a number by platform::StrToFloat (raising platform::EConvertError)
  // and as a date by CTOD; a float reads as a date when it rounds to an
  // existing day, else 0; binary bytes are reinterpreted (the first 8 as a
  // double, 4 as a day number, 1 as a boolean, zeros where shorter).
  AnsiString GetString() const;
  double GetFloat() const;
  int32_t GetDate() const;
  bool GetBoolean() const;
  // Copies at most `length` bytes of the value into `buffer`; returns
  // `buffer`, or nullptr for an empty value.
  void* GetBinary(void* buffer, size_t length) const;
  // "41 42 43": each byte as two upper-case hexadecimal digits, blank-separated.
  AnsiString GetHex() const;

  // Text values only (others are left as they are). PadL right-aligns in
  // `len` characters, PadR pads with blanks; a `len` below the length
  // changes nothing. TrimR drops trailing blanks. The case functions use the
  // engine's one ANSI case table.
  void PadL(int len);
  void PadR(int len);
  void TrimR();
  void UpperCase();
  void LowerCase();

  // -1, 0 or 1: this value against `target`.
  //  - An unknown value is 0 against a null or empty target, else -1; a null
  //    target, or one of no type, is below any known value (equal to an
  //    empty one). EndPos is then 0.
  //  - Types must agree, except that a binary value on either side takes
  //    the other side's type; else EXBaseError 65160.
  //  - An empty side is below a non-empty one, except in text, where an
  //    empty value is all blanks as any text past its end.
  //  - Text: byte by byte (through `collate`, 256 entries, when given), the
  //    target read as blanks past its end; EndPos is the number of positions
  //    compared (the value's length + 1 when it all matched). A value that
  //    matched whole and is shorter than the target: 0 when the rest of the
  //    target is blanks, else `ifPartial` (0 lets a prefix count as equal,
  //    -1 as smaller).
  //  - Float, date: by value; boolean: false below true; binary: raw bytes
  //    over the shorter length, then the shorter first.
  int Compare(const TxbVariant* target, int& endPos, int ifPartial,
              const uint8_t* collate = nullptr) const;
  // The same, except that a float value is compared by its bytes (index
  // formats that store numbers in a byte-sortable form).
  int CompareBin(const TxbVariant* target, int& endPos, int ifPartial,
                 const uint8_t* collate = nullptr) const;

  // Makes room for a value of `length` bytes by the sizing rule, keeping
  // the first `keep` bytes, and sets the type and length; returns the buffer
  // for the caller to fill (index formats that build keys in place).
  uint8_t* Reserve(TxbVariantType type, int length, int keep = 0);

 private:
  int CompareImpl(const TxbVariant* target, int& endPos, int ifPartial, const uint8_t* collate,
                  bool floatAsBytes) const;

  std::unique_ptr<uint8_t[]> VarBuf_;
  int SizeBuf_ = 0;
  int SizeVar_ = 0;
  TxbVariantType TypeVar_ = xbvtUnknown;
};

}  // namespace xbase
