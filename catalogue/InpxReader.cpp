#include "catalogue/InpxReader.h"

#include <vector>

#include "archiver/ZipArchiver.h"

namespace catalogue {

namespace {

constexpr size_t kFieldsUsed = 12;
constexpr int64_t kSmallestMember = 3333;  // smaller members are read only when named ".inp"
constexpr size_t kSizeDigits = 8;          // the size field's width: larger sizes are capped
constexpr int kMemberAttributes = 0x1EF;   // everything but folders
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsInpName(const std::string& name) {
  if (name.size() < 4) return false;
  const std::string_view ext = std::string_view(name).substr(name.size() - 4);
  return ext[0] == '.' && (ext[1] | 0x20) == 'i' && (ext[2] | 0x20) == 'n' && (ext[3] | 0x20) == 'p';
}

// The pieces of `field` between separators `sep`, each cleaned of controls
// and blanks after "," became a blank. Calls take(piece, isLast).
template <class Take>
void ForEachPiece(std::string_view field, char sep, AnsiString& piece, Take take) {
  size_t start = 0;
  while (true) {
    const size_t end = field.find(sep, start);
    const std::string_view raw = field.substr(start, end == std::string_view::npos ? end : end - start);
    assignClean(piece, raw);
    bool commas = false;
    for (char& c : piece) {
      if (c == ',') c = ' ', commas = true;
    }
    if (commas) assignClean(piece, AnsiString(piece));
    take(raw, piece, end == std::string_view::npos);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

// Size text: ASCII digits without leading zeros, capped; false when the
// text is not a number (the size is then "0").
bool NormaliseSize(AnsiString& size) {
  if (size.empty()) {
    size.assign(1, '0');
    return true;
  }
  for (char c : size) {
    if (c < '0' || c > '9') {
      size.assign(1, '0');
      return false;
    }
  }
  size.erase(0, std::min(size.find_first_not_of('0'), size.size() - 1));
  if (size.size() > kSizeDigits) size.assign(kSizeDigits, '9');
  return true;
}

}  // namespace

TInpLine parseInpLine(std::string_view line, TBOOK& book) {
  book.Clear();
  std::string_view f[kFieldsUsed];
  size_t n = 0;
  for (size_t start = 0; n < kFieldsUsed;) {
    const size_t sep = line.find('\x04', start);
    if (sep == std::string_view::npos) {
      // The last field; a line ending in 0x04 has none after it.
      if (start < line.size()) f[n++] = line.substr(start);
      break;
    }
    f[n++] = line.substr(start, sep - start);
    start = sep + 1;
  }
  if (n < kFieldsUsed) return TInpLine::ilShort;

  AnsiString piece;
  // Trimmed as a whole first, so that only a field ending in ":" has an
  // empty last piece.
  AnsiString authors;
  assignClean(authors, f[0]);
  ForEachPiece(authors, ':', piece, [&](std::string_view raw, const AnsiString& name, bool last) {
    if (raw.empty() && last) return;
    book.author.push_back(name.empty() ? unknownAuthorName() : name);
  });
  ForEachPiece(f[1], ':', piece, [&](std::string_view, const AnsiString& id, bool) {
    if (!id.empty()) book.genre.push_back(id);
  });
  assignClean(book.bookName, f[2]);
  if (book.bookName.empty()) book.bookName = "???";
  assignClean(book.seria, f[3]);
  if (!book.seria.empty()) {
    assignClean(piece, f[4]);
    if (piece != "0") appendSeriesNumber(book.seria, piece);
  }
  assignClean(book.fname, f[5]);
  assignClean(book.fsize, f[6]);
  const bool sizeRead = NormaliseSize(book.fsize);
  assignClean(piece, f[8]);
  book.del = piece == "1";
  assignClean(book.lang, f[11]);
  return sizeRead ? TInpLine::ilBook : TInpLine::ilBadSize;
}

int readInpx(const std::string& path, TJobHost& host, TBookSink& sink) {
  archiver::TZipArchiver zip;
  zip.SetFileName(path);
  zip.OpenArchive(archiver::ZAModeRead);
  host.showSB("Чтение файла", " ", " ");

  TBOOK book;
  AnsiString raw;
  std::vector<std::string_view> lines;
  archiver::TZAArchiveItem F;
  int members = 0;
  for (bool found = zip.FindFirst("*.*", F, kMemberAttributes, ""); found; found = zip.FindNext(F)) {
    if (F.UncompressedSize < kSmallestMember && !IsInpName(F.FileName)) continue;
    zip.ExtractToString(F.StoredPath + F.FileName, raw);
    if (IsInpName(F.FileName)) ++members;
    host.showSB("", F.FileName, "");

    // The byte-order mark goes as bytes: a first character that 1251 lacks
    // stays a "?".
    std::string_view utf8(raw);
    if (utf8.starts_with(kUtf8Bom)) utf8.remove_prefix(kUtf8Bom.size());
    const AnsiString text = platform::Utf8ToAnsi(utf8);

    lines.clear();
    for (size_t pos = 0; pos < text.size();) {
      size_t end = pos;
      while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
      lines.emplace_back(text.data() + pos, end - pos);
      if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
      pos = end + 1;
    }

    for (size_t i = 0; i < lines.size(); ++i) {
      switch (parseInpLine(lines[i], book)) {
        case TInpLine::ilShort:
          sink.readError();
          break;
        case TInpLine::ilBadSize:
          sink.readError();
          sink.appendBook(book, book.fname);
          break;
        case TInpLine::ilBook:
          sink.appendBook(book, book.fname);
          break;
      }
      if (i % 10 == 0) host.showSB("", "", std::to_string(((i + 1) * 200 + lines.size()) / (2 * lines.size())) + "%");
      if (host.StopRequested()) return members;
    }
    host.showSB("", "", "100%");
  }
  return members;
}

}  // namespace catalogue
