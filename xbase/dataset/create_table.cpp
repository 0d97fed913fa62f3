#include "xbase/dataset/create_table.h"

#include <memory>
#include <set>

#include "xbase/base/errors.h"
#include "xbase/table/table_builders.h"

namespace xbase {

namespace {

// A whole number as the lines write it: leading blanks, an optional sign,
// digits, nothing after them.
bool ToInt(std::string_view s, int& out) {
  size_t i = s.find_first_not_of(' ');
  if (i == std::string_view::npos) return false;
  bool negative = false;
  if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
  if (i == s.size()) return false;
  long long v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
    if (v > 1'000'000'000) return false;
  }
  out = static_cast<int>(negative ? -v : v);
  return true;
}

AnsiString TrimLineEnd(const AnsiString& line) {
  const size_t end = line.find_last_not_of(" ;");
  return end == AnsiString::npos ? AnsiString() : line.substr(0, end + 1);
}

// Whether the builder can store the field as given. It fixes the sizes of
// D, L and memo fields itself; the others keep LEN and DEC, which must fit
// their descriptor bytes (a C field's length takes two).
bool SizesFit(const TxbFieldSpec& f) {
  switch (platform::AnsiUpperChar(static_cast<unsigned char>(f.Type))) {
    case 'D': case 'L': case 'M': case 'B': case 'G': return true;
    case 'C': return f.Length >= 1 && f.Length <= 65535 && f.Decimals >= 0 && f.Decimals <= 255;
    default: return f.Length >= 1 && f.Length <= 255 && f.Decimals >= 0 && f.Decimals <= 255;
  }
}

[[noreturn]] void InvalidList() { XBRaise(xbmInvalidFieldList); }

}  // namespace

bool ParseFieldSpec(const AnsiString& line, TxbFieldSpec& spec) {
  const AnsiString s = TrimLineEnd(line);
  const size_t p1 = s.find(';');
  if (p1 == AnsiString::npos || p1 == 0) return false;
  const size_t p2 = s.find(';', p1 + 1);
  if (p2 == AnsiString::npos || p2 - p1 - 1 != 1) return false;
  size_t p3 = s.find(';', p2 + 1);
  const std::string_view len = std::string_view(s).substr(p2 + 1, p3 == AnsiString::npos ? AnsiString::npos : p3 - p2 - 1);
  const std::string_view dec = p3 == AnsiString::npos ? std::string_view() : std::string_view(s).substr(p3 + 1, 3);
  TxbFieldSpec f;
  f.Name = s.substr(0, p1);
  f.Type = s[p1 + 1];
  if (!ToInt(len, f.Length) || !ToInt(dec, f.Decimals)) return false;
  spec = std::move(f);
  return true;
}

bool CreateTableFromFieldList(const std::string& FileName, const AnsiString& Password, int TableType,
                              const std::vector<AnsiString>& Fields) {
  std::vector<TxbFieldSpec> specs;
  std::set<AnsiString> names;
  for (const AnsiString& line : Fields) {
    if (TrimLineEnd(line).empty()) continue;
    TxbFieldSpec f;
    if (!ParseFieldSpec(line, f) || !SizesFit(f)) InvalidList();
    // The table keeps 10 characters of a name, upper-cased: two names equal
    // there would be two fields of one name.
    if (!names.insert(platform::AnsiUpperCase(f.Name).substr(0, 10)).second) InvalidList();
    specs.push_back(std::move(f));
  }
  if (specs.empty()) InvalidList();

  std::unique_ptr<XBO_DBFBuild> builder;
  switch (TableType) {
    case 2: builder = std::make_unique<XBO_DB4Build>(FileName); break;
    case 3: builder = std::make_unique<XBO_DBFoxBuild>(FileName); break;
    default: builder = std::make_unique<XBO_DBFBuild>(FileName); break;
  }
  for (const TxbFieldSpec& f : specs) builder->InsertField(f.Name, std::string_view(&f.Type, 1), f.Length, f.Decimals);
  // Written scrambled at once, as the password set on the empty table
  // would leave it: a table it replaces stays whole should either fail.
  builder->SetPassword(Password);
  builder->Complete();
  return builder->Completed();
}

}  // namespace xbase
