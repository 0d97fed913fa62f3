// A settings file in the Windows INI format: "[section]" lines, "key=value"
// lines below them, ";" comment lines.
//
// The file is read whole when the object is made, changed in memory and
// written back whole by UpdateFile(). Sections, keys, comments and blank
// lines keep their order and spelling; a new key goes to the end of its
// section, a new section to the end of the file. Text is UTF-8 (a leading
// byte-order mark is skipped); a file that is not valid UTF-8 was written in
// the Windows code page and is read as Windows-1251 (UpdateFile then writes
// it as UTF-8). A file that is not text (control characters other than
// line breaks and blanks) reads as empty and is replaced whole by
// UpdateFile(). Lookups ignore the letter case of section and
// key names and the blanks around names and values; of two equal keys in one
// section the first counts. A value that begins or ends with a blank, or is
// wrapped in double quotes, is written in double quotes, which reading
// removes again, so every value comes back as it was written.
//
// Values are one line: CR and LF in a value are written as blanks, so a
// value can never add keys or sections to the file. Section and key names
// are the caller's constants and must not contain '=', ']' or line breaks.
//
// An object is not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class TIniFile {
 public:
  // Reads `fileName` when it exists; a missing file reads as empty. Raises
  // EFileError when the file exists but cannot be read.
  explicit TIniFile(std::string fileName);
  ~TIniFile();
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  const std::string& FileName() const;

  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  // The keys of `section` in file order, spelled as the file spells them; a
  // key given twice is listed once (the first counts, as for reading).
  // Empty when the section is absent.
  std::vector<std::string> ReadSection(const std::string& section) const;

  // The value, or `def` when the key is absent.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  // The value as a decimal integer (optional sign, 32 bits); `def` when the
  // key is absent or its value is not such a number.
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
  // True for any non-zero integer, false for 0; `def` when absent or not an
  // integer.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);
  // Written as "1" or "0".
  void WriteBool(const std::string& section, const std::string& key, bool value);

  // The file's text as UpdateFile() would write it.
  std::string Text() const;
  // Writes the text to the file through a temporary file in its folder
  // renamed over it, so a failure leaves the old file whole. A read-only
  // file (FileIsReadOnly: one this process may not write) is not replaced:
  // the rename would write over it where writing it in place is refused.
  // Raises EFileError on failure (EACCES for a read-only file).
  void UpdateFile() const;

 private:
  struct Rep;
  std::unique_ptr<Rep> rep_;
};

}  // namespace platform
