#include "platform/IniFile.h"

#include <cerrno>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/FileAttributes.h"
#include "platform/Files.h"
#include "platform/Numbers.h"

namespace platform {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view s) {
  const size_t b = s.find_first_not_of(kBlanks);
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(kBlanks) - b + 1);
}

// Names compare without regard to letter case, as Windows does.
std::string NameKey(std::string_view name) { return Utf8Upper(Trim(name)); }

// The value of a "key=value" line as the caller sees it.
std::string Unquote(std::string_view v) {
  v = Trim(v);
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return std::string(v);
}

// The value as it must be written to read back unchanged.
std::string Quote(std::string v) {
  for (char& c : v) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  const bool needsQuotes =
      !v.empty() && (kBlanks.find(v.front()) != std::string_view::npos ||
                     kBlanks.find(v.back()) != std::string_view::npos ||
                     (v.size() >= 2 && v.front() == '"' && v.back() == '"'));
  return needsQuotes ? '"' + v + '"' : v;
}

// Whether `bytes` can be the text of a settings file: no control character
// but the line and blank ones. Anything else (a binary file in the
// settings' place) reads as empty, so the next write replaces it whole
// instead of appending to it.
bool IsText(std::string_view bytes) {
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\v' && b != '\f') return false;
  }
  return true;
}

}  // namespace

struct TIniFile::Rep {
  // One line of the file. Entries keep their original text until written.
  struct TLine {
    std::string text;  // the line as it stands (regenerated when an entry changes)
    std::string key;   // NameKey of an entry's key; empty for other lines
    std::string value;
  };
  struct TSection {
    std::string key;  // NameKey of the name; the part before the first header is ""
    std::string header;
    std::vector<TLine> lines;
  };

  std::string fileName;
  std::vector<TSection> sections;  // [0] holds the lines before the first header

  const TSection* FindSection(const std::string& name) const {
    const std::string k = NameKey(name);
    for (size_t i = 1; i < sections.size(); ++i) {
      if (sections[i].key == k) return &sections[i];
    }
    return nullptr;
  }
  TSection* FindSection(const std::string& name) {
    return const_cast<TSection*>(std::as_const(*this).FindSection(name));
  }
  static const TLine* FindEntry(const TSection& s, const std::string& key) {
    const std::string k = NameKey(key);
    for (const TLine& l : s.lines) {
      if (!l.key.empty() && l.key == k) return &l;
    }
    return nullptr;
  }
  const TLine* Find(const std::string& section, const std::string& key) const {
    const TSection* s = FindSection(section);
    return s ? FindEntry(*s, key) : nullptr;
  }

  void Parse(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    sections.assign(1, TSection{});
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find_first_of("\r\n", pos);
      if (end == std::string_view::npos) end = text.size();
      AddLine(text.substr(pos, end - pos));
      pos = end;
      if (pos < text.size() && text[pos] == '\r') ++pos;
      if (pos < text.size() && text[pos] == '\n') ++pos;
    }
  }

  void AddLine(std::string_view line) {
    const std::string_view t = Trim(line);
    if (!t.empty() && t.front() == '[') {
      const size_t close = t.find(']');
      const std::string_view name = t.substr(1, close == std::string_view::npos ? t.npos : close - 1);
      sections.push_back({NameKey(name), std::string(line), {}});
      return;
    }
    TLine l{std::string(line), {}, {}};
    const size_t eq = t.find('=');
    if (!t.empty() && t.front() != ';' && eq != std::string_view::npos && eq > 0) {
      l.key = NameKey(t.substr(0, eq));
      l.value = Unquote(t.substr(eq + 1));
    }
    sections.back().lines.push_back(std::move(l));
  }

  void Write(const std::string& section, const std::string& key, const std::string& value) {
    TSection* s = FindSection(section);
    if (!s) {
      // A blank line before the new section, unless the file is empty or
      // already ends in one.
      const TSection& last = sections.back();
      const bool empty = sections.size() == 1 && last.lines.empty();
      const bool endsBlank = !last.lines.empty() && Trim(last.lines.back().text).empty();
      if (!empty && !endsBlank) sections.back().lines.push_back({});
      sections.push_back({NameKey(section), "[" + section + "]", {}});
      s = &sections.back();
    }
    const std::string k = NameKey(key);
    const std::string text = key + "=" + Quote(value);
    for (TLine& l : s->lines) {
      if (!l.key.empty() && l.key == k) {
        l.text = text;
        l.value = Unquote(Quote(value));
        return;
      }
    }
    // After the section's last non-blank line, so blank lines keep separating
    // it from the next section.
    size_t at = s->lines.size();
    while (at > 0 && Trim(s->lines[at - 1].text).empty()) --at;
    s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(at),
                    TLine{text, k, Unquote(Quote(value))});
  }
};

TIniFile::TIniFile(std::string fileName) : rep_(std::make_unique<Rep>()) {
  rep_->fileName = std::move(fileName);
  const std::string existing = FindExistingFile(rep_->fileName);
  std::string text = existing.empty() ? std::string() : ReadFileBytes(existing);
  if (!IsText(text))
    text.clear();
  else if (!IsValidUtf8(text))
    text = AnsiToUtf8(text);  // written by a Windows program: Windows-1251
  rep_->Parse(text);
}

TIniFile::~TIniFile() = default;

const std::string& TIniFile::FileName() const { return rep_->fileName; }

bool TIniFile::SectionExists(const std::string& section) const {
  return rep_->FindSection(section) != nullptr;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  return rep_->Find(section, key) != nullptr;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
  std::vector<std::string> keys;
  const Rep::TSection* s = rep_->FindSection(section);
  if (!s) return keys;
  for (const Rep::TLine& l : s->lines) {
    if (l.key.empty() || Rep::FindEntry(*s, l.key) != &l) continue;
    const std::string_view t = Trim(l.text);
    keys.emplace_back(Trim(t.substr(0, t.find('='))));
  }
  return keys;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  const Rep::TLine* l = rep_->Find(section, key);
  return l ? l->value : def;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                              int32_t def) const {
  const Rep::TLine* l = rep_->Find(section, key);
  if (!l) return def;
  int32_t n = 0;
  return TryStrToInt(l->value, n) ? n : def;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  rep_->Write(section, key, value);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  rep_->Write(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  rep_->Write(section, key, value ? "1" : "0");
}

std::string TIniFile::Text() const {
  std::string out;
  for (const Rep::TSection& s : rep_->sections) {
    if (!s.header.empty()) out += s.header + '\n';
    for (const Rep::TLine& l : s.lines) out += l.text + '\n';
  }
  return out;
}

void TIniFile::UpdateFile() const {
  if (FileIsReadOnly(rep_->fileName))
    throw EFileError("Cannot write the read-only file " + rep_->fileName, EACCES, rep_->fileName);
  WriteFileAtomic(rep_->fileName, Text());
}

}  // namespace platform
