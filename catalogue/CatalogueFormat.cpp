#include "catalogue/CatalogueFormat.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "catalogue/Func.h"

namespace catalogue {

namespace {

constexpr char CR = '\r';
constexpr char LF = '\n';
constexpr char TAB = '\t';

// Appends `s` with every byte of `bad` (control characters all) turned into
// a blank.
void AppendClean(AnsiString& out, std::string_view s, std::string_view bad) {
  const size_t from = out.size();
  out.append(s);
  for (size_t i = from; i < out.size(); ++i) {
    if (static_cast<unsigned char>(out[i]) < 0x20 && bad.find(out[i]) != std::string_view::npos) out[i] = ' ';
  }
}


}  // namespace

std::string BlockMemberName(int32_t block) { return std::to_string(block) + ".txt"; }

// --- "a.txt" ---------------------------------------------------------------

std::vector<AnsiString> ParseAuthorList(std::string_view text) {
  std::vector<AnsiString> names;
  AnsiString name;
  for (char c : text) {
    if (c == CR) {
      if (!name.empty()) names.push_back(std::move(name));
      name.clear();
    } else if (c != LF) {
      name.push_back(c);
    }
  }
  return names;
}

// --- "inf.txt" -------------------------------------------------------------

AnsiString FormatCatalogueInfo(const TCatalogueInfo& info) {
  AnsiString s = platform::Utf8ToAnsi("Авторов:");
  s += "\t\t" + std::to_string(info.authors) + LF;
  s += platform::Utf8ToAnsi("Книг:");
  s += "\t\t" + std::to_string(info.books) + LF;
  s += platform::Utf8ToAnsi("Дублей книг:");
  s += TAB + std::to_string(info.duplicates);
  return s;
}

// --- book lines ------------------------------------------------------------

void AppendBookLine(AnsiString& out, const TBookFields& fields) {
  for (int i = 0; i < kBookFieldCount; ++i) {
    if (i > 0) out += TAB;
    AppendClean(out, fields[i], "\t\r\n");
  }
}

AnsiString FormatBookLine(const TBookFields& fields) {
  size_t size = kBookFieldCount - 1;
  for (std::string_view f : fields) size += f.size();
  AnsiString line;
  line.reserve(size);
  AppendBookLine(line, fields);
  return line;
}

TBookFields SplitBookLine(std::string_view line) {
  TBookFields f{};
  size_t pos = 0;
  for (int i = 0; i < kBookFieldCount; ++i) {
    const size_t tab = i + 1 < kBookFieldCount ? line.find(TAB, pos) : std::string_view::npos;
    if (tab == std::string_view::npos) {
      f[i] = line.substr(pos);
      break;
    }
    f[i] = line.substr(pos, tab - pos);
    pos = tab + 1;
  }
  return f;
}

// --- block files: reading --------------------------------------------------

TCatalogueBlock::TCatalogueBlock(AnsiString bytes) : bytes_(std::move(bytes)) {
  const std::string_view b(bytes_);
  if (b.empty()) return;

  // Header: only whole entries that are actually there.
  const size_t declared = charsToWord(b);
  const size_t present = b.size() >= 2 ? (b.size() - 2) / 4 : 0;
  const size_t entries = std::min(declared, present);
  const size_t linesAt = 3 + 4 * declared;
  damaged_ = declared > kAuthorsPerBlock || b.size() < linesAt || b[linesAt - 1] != CR;

  counts_.reserve(entries);
  firstLine_.reserve(entries + 1);
  size_t sum = 0;
  firstLine_.push_back(0);
  for (size_t j = 0; j < entries; ++j) {
    const std::string_view entry = b.substr(2 + 4 * j, 4);
    if (charsToWord(entry) != static_cast<uint16_t>(sum)) damaged_ = true;
    const uint16_t count = charsToWord(entry.substr(2));
    counts_.push_back(count);
    sum += count;
    firstLine_.push_back(sum);
  }

  // Lines: CR, LF or CR LF each end one line; a last line without an end
  // still counts.
  if (linesAt < b.size()) {
    // The counts may be garbage; a book line takes at least 8 bytes.
    lines_.reserve(std::min(sum, (b.size() - linesAt) / 8 + 1));
    size_t start = linesAt;
    for (size_t i = linesAt; i < b.size(); ++i) {
      const char c = b[i];
      if (c != CR && c != LF) continue;
      lines_.push_back({start, i - start});
      if (c == CR && i + 1 < b.size() && b[i + 1] == LF) ++i;
      start = i + 1;
    }
    if (start < b.size()) lines_.push_back({start, b.size() - start});
  }
  if (lines_.size() != sum) damaged_ = true;
}

TLineRange TCatalogueBlock::AuthorLines(int32_t entry) const {
  if (entry < 0 || entry >= AuthorCount()) return {};
  const size_t first = std::min(firstLine_[entry], lines_.size());
  const size_t end = std::min(firstLine_[entry + 1], lines_.size());
  return {first, end - first};
}

uint16_t TCatalogueBlock::StoredCount(int32_t entry) const {
  return entry >= 0 && entry < AuthorCount() ? counts_[entry] : 0;
}

// --- the whole catalogue: writing ------------------------------------------

TCatalogueWriter::TCatalogueWriter(TMemberSink sink) : sink_(std::move(sink)) {}

void TCatalogueWriter::AddAuthor(std::string_view name) {
  if (BlockOfAuthor(authorsWritten_) > block_) FlushBlock();
  if (name.empty()) name = "???";
  AppendClean(authorList_, name, "\r\n");
  authorList_ += "\r\n";
  counts_.push_back(0);
  ++authorsWritten_;
}

bool TCatalogueWriter::AddBook(const TBookFields& fields) {
  if (!TakeLine()) return false;
  AppendBookLine(lines_, fields);
  lines_ += CR;
  return true;
}

bool TCatalogueWriter::AddBookLine(std::string_view line) {
  if (!TakeLine()) return false;
  lines_ += line;
  lines_ += CR;
  return true;
}

bool TCatalogueWriter::TakeLine() {
  if (counts_.empty()) throw std::logic_error("TCatalogueWriter::AddBook before AddAuthor");
  uint16_t& count = counts_.back();
  if (count == kMaxAuthorLines) {
    const int32_t author = authorsWritten_ - 1;
    if (cut_.empty() || cut_.back().authorIndex != author) cut_.push_back({author, 0});
    ++cut_.back().droppedLines;
    return false;
  }
  ++count;
  return true;
}

void TCatalogueWriter::FlushBlock() {
  if (!counts_.empty()) {
    AnsiString bytes;
    bytes.reserve(3 + 4 * counts_.size() + lines_.size());
    bytes += wordToChars(static_cast<uint16_t>(counts_.size()));
    uint16_t start = 0;  // wraps past 65,535 as the format stores it
    for (uint16_t count : counts_) {
      bytes += wordToChars(start);
      bytes += wordToChars(count);
      start = static_cast<uint16_t>(start + count);
    }
    bytes += CR;
    bytes += lines_;
    sink_(BlockMemberName(block_), bytes);
  }
  block_ = BlockOfAuthor(authorsWritten_);
  counts_.clear();
  lines_.clear();
}

void TCatalogueWriter::Finish(const TCatalogueInfo& info) {
  FlushBlock();
  sink_(kAuthorListMember, authorList_);
  sink_(kInfoMember, FormatCatalogueInfo(info));
}

}  // namespace catalogue
