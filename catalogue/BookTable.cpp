#include "catalogue/BookTable.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>

#include "catalogue/Func.h"
#include "platform/Streams.h"

namespace catalogue {

namespace {

constexpr size_t kBytesPerWrite = size_t{1} << 20;  // about a megabyte per write call
constexpr size_t kAuthorWidth = 120;
constexpr int64_t kPseudoAuthorBooks = 500;

// Field offsets and widths of the record (see the layout in BookTable.h).
constexpr size_t kAU = 1, kNA = 11, kSB = 261, kFI = 411, kSZ = 419, kGE = 427, kDT = 435, kLN = 439;

// padRight into place: the first `width` bytes of s, then blanks.
void PutLeft(char* at, size_t width, std::string_view s) {
  const size_t n = std::min(width, s.size());
  std::memcpy(at, s.data(), n);
  std::memset(at + n, ' ', width - n);
}

// padLeft into place: blanks, then s; its last `width` bytes when longer.
void PutRight(char* at, size_t width, std::string_view s) {
  if (s.size() >= width) {
    std::memcpy(at, s.data() + s.size() - width, width);
  } else {
    std::memset(at, ' ', width - s.size());
    std::memcpy(at + width - s.size(), s.data(), s.size());
  }
}

// The decimal digits of `n`.
std::string_view Digits(uint32_t n, char (&buf)[12]) {
  return std::string_view(buf, static_cast<size_t>(std::to_chars(buf, buf + sizeof buf, n).ptr - buf));
}

uint32_t GetLE32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool IsUnknownAuthor(const AnsiString& name) {
  static const AnsiString upper = platform::AnsiUpperCase(unknownAuthorName());
  if (name.size() != upper.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (platform::AnsiUpperChar(static_cast<unsigned char>(name[i])) != static_cast<unsigned char>(upper[i]))
      return false;
  }
  return true;
}

}  // namespace

void formatBookRecord(TBookRecord& rec, const TBOOK& book, const AnsiString& file) {
  char* r = rec.data();
  r[0] = book.del ? '*' : ' ';
  PutLeft(r + kNA, kSB - kNA, book.bookName);
  PutLeft(r + kSB, kFI - kSB, book.seria);
  PutLeft(r + kFI, kSZ - kFI, file);
  PutRight(r + kSZ, kGE - kSZ, book.fsize);
  PutLeft(r + kGE, kDT - kGE, genresToCodes(book.genre));
  PutLeft(r + kDT, kLN - kDT, book.date);
  PutLeft(r + kLN, kBookRecordSize - kLN, book.lang);
  setRecordAuthor(rec, 0);
}

void setRecordAuthor(TBookRecord& rec, uint32_t authorID) {
  char digits[12];
  PutRight(rec.data() + kAU, kNA - kAU, Digits(authorID, digits));
}

void formatAuthorRecord(TAuthorRecord& rec, uint32_t id, std::string_view name) {
  rec[0] = ' ';
  char digits[12];
  PutRight(rec.data() + 1, 10, Digits(id, digits));
  PutLeft(rec.data() + 11, kAuthorRecordSize - 11, name);
}

// --- TRawTableWriter ----------------------------------------------------------

TRawTableWriter::TRawTableWriter(const std::string& path, size_t recordSize)
    : file_(std::make_unique<platform::TFileStream>(path, platform::fmOpenReadWrite |
                                                              platform::fmShareExclusive)),
      recordSize_(recordSize),
      buffer_(std::max<size_t>(1, kBytesPerWrite / recordSize) * recordSize) {
  unsigned char header[32];
  const int64_t size = file_->Size();
  if (size < static_cast<int64_t>(sizeof header)) throw platform::EStreamError(path + ": not a table");
  file_->ReadBuffer(header, sizeof header);
  const int64_t location = header[8] | (header[9] << 8);
  const size_t recordLen = header[10] | (header[11] << 8);
  unsigned char eof = 0;
  if (location == size - 1) {
    file_->SetPosition(location);
    file_->ReadBuffer(&eof, 1);
  }
  if (recordLen != recordSize || GetLE32(header + 4) != 0 || location != size - 1 || eof != 0x1A)
    throw platform::EStreamError(path + ": not a new staging table");
  // The first record overwrites the end-of-file byte.
  file_->SetPosition(location);
}

TRawTableWriter::~TRawTableWriter() = default;

void TRawTableWriter::Write(const char* rec) {
  if (!file_) throw std::logic_error("TRawTableWriter::Write after Finish");
  if (count_ == static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
    throw platform::EStreamError(file_->FileName() + ": too many records");
  if (used_ == buffer_.size()) Flush();
  std::memcpy(buffer_.data() + used_, rec, recordSize_);
  used_ += recordSize_;
  ++count_;
}

void TRawTableWriter::Flush() {
  file_->WriteBuffer(buffer_.data(), static_cast<int64_t>(used_));
  used_ = 0;
}

void TRawTableWriter::Finish() {
  if (!file_) throw std::logic_error("TRawTableWriter::Finish twice");
  Flush();
  const unsigned char count[4] = {static_cast<unsigned char>(count_), static_cast<unsigned char>(count_ >> 8),
                                  static_cast<unsigned char>(count_ >> 16),
                                  static_cast<unsigned char>(count_ >> 24)};
  file_->SetPosition(4);
  file_->WriteBuffer(count, sizeof count);
  file_.reset();
}

// --- TBookAppender ------------------------------------------------------------

TBookAppender::TBookAppender(TAuthorTable& authors, TBookTableWriter& table)
    : authors_(authors), table_(table) {}

void TBookAppender::appendBook(const TBOOK& book, const AnsiString& file) {
  ++books_;
  if (book.del) ++duplicates_;
  formatBookRecord(record_, book, file);
  if (book.author.empty()) {
    appendAuthor(unknownAuthorName());
    return;
  }
  for (const AnsiString& name : book.author) appendAuthor(name);
}

void TBookAppender::appendAuthor(const AnsiString& name) {
  AnsiString& stored = stored_;  // one buffer for every name
  if (IsUnknownAuthor(name)) {
    char number[24];
    std::snprintf(number, sizeof number, " #%03lld", static_cast<long long>(pseudoAuthors_ / kPseudoAuthorBooks));
    stored = unknownAuthorName() + number;
    ++pseudoAuthors_;
  } else {
    stored.assign(name, 0, kAuthorWidth);
    stored.erase(stored.find_last_not_of(' ') + 1);
    if (stored.empty()) stored = "???";
  }
  setRecordAuthor(record_, authors_.getAuthorID(stored));
  table_.Write(record_);
}

void showReadErrors(TJobHost& host, int64_t readErrors) {
  if (readErrors > 0) host.ShowMessage("Ошибки при чтении файлов\n" + std::to_string(readErrors), "");
}

}  // namespace catalogue
