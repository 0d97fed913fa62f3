// The staging tables of the book-list build, written without the engine.
//
// Book records go straight into "bo.dbf" as fixed-width images, one per
// author of a book, behind the header that the engine's table builder wrote
// from the field lines AU;N;10;0 NA;C;250;0 SB;C;150;0 FI;C;8;0 SZ;N;8;0
// GE;C;8;0 DT;C;4;0 LN;C;2;0; author records likewise into "au.dbf" (ID;N;10;0
// NA;C;120;0: deleted flag " ", the number right-aligned in blanks, the name
// left-aligned and blank-padded; 131 bytes). Both are appended in runs of
// about a megabyte, a write call per run, not per record; the engine reads
// them back and indexes them once they are complete. The book table (dBase
// III, integers little-endian):
//
//   offset  size        content
//   0       32          header: byte 0 version 0x03; 4 record count (int32);
//                       8 header length 289 (uint16); 10 record length 441
//   32      8 x 32      the field descriptors
//   288     1           0x0D
//   289     441 x N     the records; a new table has one 0x1A here instead
//                       (290 bytes), which the first record overwrites.
//                       Nothing follows the last record.
//
// Record (441 bytes):
//   0    1    deleted flag: "*" for a book flagged deleted, else " "
//   1    10   AU  author number, decimal, right-aligned in blanks
//   11   250  NA  title, left-aligned, blank-padded, cut to 250
//   261  150  SB  series, likewise
//   411  8    FI  file number, likewise
//   419  8    SZ  size, right-aligned (its last 8 characters when longer)
//   427  8    GE  genre codes (genresToCodes), left-aligned
//   435  4    DT  date, left-aligned
//   439  2    LN  language, left-aligned
//
// The record count at offset 4 is written once, after the last record: a
// build that fails part-way leaves a table of no records, never one whose
// count promises records that are not there. The same holds for the author
// table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/BookSink.h"
#include "catalogue/Job.h"

namespace platform {
class TFileStream;
}

namespace catalogue {

constexpr size_t kBookRecordSize = 441;
constexpr size_t kBookTableHeaderSize = 289;
constexpr size_t kAuthorRecordSize = 131;
using TBookRecord = std::array<char, kBookRecordSize>;
using TAuthorRecord = std::array<char, kAuthorRecordSize>;

// Fills every field of `rec` from `book` (`file` standing for its file
// number) except the author number, which setRecordAuthor puts in.
void formatBookRecord(TBookRecord& rec, const TBOOK& book, const AnsiString& file);
void setRecordAuthor(TBookRecord& rec, uint32_t authorID);
// The author table's record of author `id` named `name` (at most 120 bytes).
void formatAuthorRecord(TAuthorRecord& rec, uint32_t id, std::string_view name);

// Appends record images to a new staging table. Not copyable; one thread.
class TRawTableWriter {
 public:
  // Opens the table `path` (UTF-8) for reading and writing, exclusively. It
  // must be as the table builder left it: records of `recordSize` bytes,
  // none yet, the end-of-file byte at the header's end. Raises
  // platform::EStreamError (EFOpenError when it cannot be opened) otherwise.
  TRawTableWriter(const std::string& path, size_t recordSize);
  // Closes the file. Without Finish the record count stays 0.
  ~TRawTableWriter();
  TRawTableWriter(const TRawTableWriter&) = delete;
  TRawTableWriter& operator=(const TRawTableWriter&) = delete;

  // Appends one record of the table's record size (buffered). Raises
  // platform::EStreamError when the buffer cannot be written (a full disk, a
  // file size limit).
  void Write(const char* rec);
  // Records appended so far.
  uint32_t Count() const { return count_; }
  // Writes what is buffered, then the record count at offset 4, and closes
  // the file. Raises platform::EStreamError on failure; the count is then
  // not written. Write and Finish may not follow.
  void Finish();

 private:
  void Flush();

  std::unique_ptr<platform::TFileStream> file_;
  size_t recordSize_;
  std::vector<char> buffer_;
  size_t used_ = 0;
  uint32_t count_ = 0;
};

class TBookTableWriter : public TRawTableWriter {
 public:
  explicit TBookTableWriter(const std::string& path) : TRawTableWriter(path, kBookRecordSize) {}
  void Write(const TBookRecord& rec) { TRawTableWriter::Write(rec.data()); }
};

// The author table as appendBook needs it; the build's driver keeps it in
// the engine's dataset.
class TAuthorTable {
 public:
  virtual ~TAuthorTable() = default;
  // The number of the author `name` (1 to 120 bytes, no trailing blank):
  // the number given to the first name with the same upper case
  // (platform::AnsiUpperCase), else the next number from 1, the new author
  // being stored as spelled here.
  virtual uint32_t getAuthorID(const AnsiString& name) = 0;
};

// The sink that stages books for the catalogue: counts them, gives books of
// unknown authors to pseudo-authors of 500 books each ("Неизвестный автор
// #000", "#001", ...), looks every author up in the author table and writes
// one record per author to the book table. Nothing here is swallowed: a
// failure of either table ends the build. Borrows both tables.
class TBookAppender final : public TBookSink {
 public:
  TBookAppender(TAuthorTable& authors, TBookTableWriter& table);

  // A book without authors is filed under "Неизвестный автор". Each name is
  // cut to 120 bytes without trailing blanks ("???" when nothing is left).
  void appendBook(const TBOOK& book, const AnsiString& file) override;
  void readError() override { ++readErrors_; }

  int64_t Books() const { return books_; }
  int64_t Duplicates() const { return duplicates_; }
  int64_t ReadErrors() const { return readErrors_; }

 private:
  void appendAuthor(const AnsiString& name);

  TAuthorTable& authors_;
  TBookTableWriter& table_;
  TBookRecord record_{};
  AnsiString stored_;
  int64_t books_ = 0;
  int64_t duplicates_ = 0;
  int64_t readErrors_ = 0;
  int64_t pseudoAuthors_ = 0;  // author entries given to pseudo-authors so far
};

// The message at the end of reading when the readers skipped anything:
// "Ошибки при чтении файлов" with the count on a second line, no caption.
// Shows nothing for 0.
void showReadErrors(TJobHost& host, int64_t readErrors);

}  // namespace catalogue
