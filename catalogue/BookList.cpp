#include "catalogue/BookList.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>

#include "archiver/ZAExcept.h"
#include "archiver/ZipArchiver.h"
#include "catalogue/AppState.h"
#include "catalogue/BookSinkThread.h"
#include "catalogue/BookTable.h"
#include "catalogue/Export.h"
#include "catalogue/FailureText.h"
#include "catalogue/Fb2Reader.h"
#include "catalogue/Func.h"
#include "catalogue/InpxReader.h"
#include "dataaccess/Fields.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Streams.h"
#include "xbase/dataset/create_table.h"
#include "xbase/dataset/dataset.h"

namespace catalogue {

namespace {

using dataaccess::TField;

constexpr int kDBaseIII = 0;
constexpr int kPackAttributes = 10431;  // files of every kind, no folders
constexpr int kProgressAuthors = 100;

const std::vector<AnsiString> kBookFieldLines = {"AU;N;10;0", "NA;C;250;0", "SB;C;150;0", "FI;C;8;0",
                                                 "SZ;N;8;0",  "GE;C;8;0",   "DT;C;4;0",   "LN;C;2;0"};
const std::vector<AnsiString> kAuthorFieldLines = {"ID;N;10;0", "NA;C;120;0"};

// Opens a table of the work folder as the build uses it: unshared, so the
// engine takes no locks, and without code-page translation.
void OpenWorkTable(xbase::TXBaseDataSet& ds, const std::string& workDir, const std::string& table,
                   bool useDeleted) {
  ds.SetDatabaseName(workDir);
  ds.SetTableName(table);
  ds.SetExclusive(true);
  ds.SetTranslateASCII(false);
  ds.SetUseDeleted(useDeleted);
  ds.Open();
}

// Builds the index file `name`.NDX (tag `name`) on `key` over the table and
// makes it the dataset's order.
void IndexWorkTable(xbase::TXBaseDataSet& ds, const std::string& name, const AnsiString& key) {
  ds.IndexOn(name, name, key, "", xbase::XBsetIndexUnique::Duplicates, xbase::XBsetSortStatus::Ascending);
  ds.IndexFileInclude(name + ".NDX");
  ds.SetIndexName(name);
}

// Author numbers by upper-cased name. Every book line asks for its authors'
// numbers, so the lookup is a chained hash table of fixed size whose heads
// are made with the tables, with entries and names in pieces that never
// move: a node-based map costs a cache miss or two per lookup more. The
// pieces stay below the size malloc serves by mmap, and nothing grows by
// reallocating: the staging thread's allocations then take the same room in
// every build, and a second build peaks where the first did.
class TAuthorNumbers {
 public:
  TAuthorNumbers() : heads_(kBuckets, 0) {}

  // The number stored for `key`; 0 when there is none.
  uint32_t Find(std::string_view key) const {
    const uint32_t h = Hash(key);
    for (uint32_t id = heads_[h & (kBuckets - 1)]; id != 0;) {
      const TEntry& e = At(id);
      if (e.hash == h && std::string_view(e.key, e.size) == key) return id;
      id = e.next;
    }
    return 0;
  }

  // Stores the next number (1, 2, 3 ...) for `key`, which Find did not know.
  uint32_t Add(std::string_view key) {
    if (key.size() > kKeyBytes) throw std::logic_error("TAuthorNumbers: name too long");
    if (count_ % kEntriesPerPiece == 0) entries_.push_back(std::make_unique<TEntry[]>(kEntriesPerPiece));
    if (keys_.empty() || kKeyBytes - keysUsed_ < key.size()) {
      keys_.push_back(std::make_unique<char[]>(kKeyBytes));
      keysUsed_ = 0;
    }
    char* stored = keys_.back().get() + keysUsed_;
    std::copy(key.begin(), key.end(), stored);
    keysUsed_ += key.size();
    const uint32_t id = ++count_, h = Hash(key);
    uint32_t& head = heads_[h & (kBuckets - 1)];
    At(id) = {stored, static_cast<uint32_t>(key.size()), h, head};
    head = id;
    return id;
  }

  void Clear() {
    std::vector<uint32_t>().swap(heads_);
    std::vector<std::unique_ptr<TEntry[]>>().swap(entries_);
    std::vector<std::unique_ptr<char[]>>().swap(keys_);
  }

 private:
  struct TEntry {
    const char* key;
    uint32_t size;
    uint32_t hash;
    uint32_t next;  // the bucket's entry added before; 0 for none
  };
  static constexpr size_t kBuckets = size_t{1} << 18;
  static constexpr size_t kEntriesPerPiece = 4096;
  static constexpr size_t kKeyBytes = 65536;

  static uint32_t Hash(std::string_view key) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : key) h = (h ^ c) * 1099511628211ull;
    return static_cast<uint32_t>(h ^ (h >> 32));
  }

  TEntry& At(uint32_t id) const { return entries_[(id - 1) / kEntriesPerPiece][(id - 1) % kEntriesPerPiece]; }

  std::vector<uint32_t> heads_;  // by hash bucket: its latest entry's number
  std::vector<std::unique_ptr<TEntry[]>> entries_;
  std::vector<std::unique_ptr<char[]>> keys_;
  size_t keysUsed_ = 0;
  uint32_t count_ = 0;
};

// The two tables of a build in the work folder. While reading, both are
// appended raw in runs (BookTable.h); once complete, the engine opens them
// and indexes the authors by upper-cased name and the books by author.
class TStagingTables final : public TAuthorTable {
 public:
  // createTables: both tables made from their field lines and opened for
  // raw writing.
  explicit TStagingTables(const std::string& workDir) : workDir_(workDir) {
    const std::string bo = platform::JoinPath(workDir, "bo.dbf"), au = platform::JoinPath(workDir, "au.dbf");
    for (const auto& [path, lines] : {std::pair{bo, &kBookFieldLines}, std::pair{au, &kAuthorFieldLines}}) {
      if (!xbase::CreateTableFromFieldList(path, "", kDBaseIII, *lines))
        throw platform::EFileError("Cannot create table " + path, 0);
    }
    bookWriter_.emplace(bo);
    authorWriter_.emplace(au, kAuthorRecordSize);
  }

  // The author numbers are the ones the author table's own lookup (first,
  // FindKey on the upper-cased name, append when missing) would give.
  uint32_t getAuthorID(const AnsiString& name) override {
    // Upper-cased into one buffer: most names were seen before.
    const auto& upperOf = platform::AnsiUpperTable();
    upper_.resize(name.size());
    for (size_t i = 0; i < name.size(); ++i) upper_[i] = static_cast<char>(upperOf[static_cast<unsigned char>(name[i])]);
    const uint32_t id = ids_.Find(upper_);
    if (id != 0) return id;
    formatAuthorRecord(authorRecord_, lastID_ + 1, name);
    authorWriter_->Write(authorRecord_.data());
    lastID_ = ids_.Add(upper_);
    return lastID_;
  }
  TBookTableWriter& BookWriter() { return *bookWriter_; }

  // Both tables are complete: their counts are written and the raw files
  // closed; the engine opens them and builds their indexes, the author
  // table's on upper(NA), the book table's (deleted records shown) on AU.
  void FinishTables() {
    ids_.Clear();
    for (TRawTableWriter* w : {static_cast<TRawTableWriter*>(&*bookWriter_), &*authorWriter_}) w->Finish();
    bookWriter_.reset();
    authorWriter_.reset();
    OpenWorkTable(authors_, workDir_, "AU.DBF", false);
    IndexWorkTable(authors_, "AU", "upper(NA)");
    OpenWorkTable(books_, workDir_, "BO.DBF", true);
    IndexWorkTable(books_, "BO", "AU");
  }

  xbase::TXBaseDataSet& Authors() { return authors_; }
  xbase::TXBaseDataSet& Books() { return books_; }

 private:
  std::string workDir_;
  xbase::TXBaseDataSet authors_;
  xbase::TXBaseDataSet books_;
  std::optional<TBookTableWriter> bookWriter_;
  std::optional<TRawTableWriter> authorWriter_;
  TAuthorRecord authorRecord_{};
  AnsiString upper_;
  TAuthorNumbers ids_;
  uint32_t lastID_ = 0;
};

// The record numbers of a dataset's records in the order of its active tag,
// walked on the tag's keys alone: no record is read. The index file is
// closed afterwards, and the blocks its cache held are given back.
std::vector<uint32_t> RecordsInTagOrder(xbase::TXBaseDataSet& ds, const std::string& indexFile) {
  std::vector<uint32_t> order;
  order.reserve(static_cast<size_t>(ds.DBFHandle()->NumRecs()));
  xbase::XBobjIndexTag& tag = *ds.DBFHandle()->IndexMaster();
  for (int rn = tag.KeyRead(xbase::xbRecTop); rn > 0; rn = tag.KeyRead(xbase::xbRecNext))
    order.push_back(static_cast<uint32_t>(rn));
  ds.SetIndexName("");
  ds.IndexFileRemove(indexFile);
  return order;
}

// Calls visit(table) on every record of the dataset in file order, which
// the table's read-ahead cache turns into one read per 32 KB instead of one
// per record.
template <class Visit>
void ForEachRecordInFileOrder(xbase::TXBaseDataSet& ds, Visit&& visit) {
  ds.SetDBFCache(true);
  xbase::XBO_dBHandler& table = *ds.DBFHandle();
  for (table.xbGetRec(xbase::xbRecTop); !table.File_EOF(); table.xbGetRec(xbase::xbRecNext)) visit(table);
}

// Text kept in blocks of a megabyte that never move: views into it stay
// valid, and no growing copies it (a copy of tens of megabytes would be
// the build's peak, and where it lands decides whether the next build's
// peak is the same).
class TTextBlocks {
 public:
  // The block to append `size` bytes to, without its growing.
  AnsiString& Room(size_t size) {
    if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < size) {
      blocks_.emplace_back();
      blocks_.back().reserve(std::max(kBlockBytes, size));
    }
    return blocks_.back();
  }

 private:
  static constexpr size_t kBlockBytes = size_t{1} << 20;
  std::vector<AnsiString> blocks_;
};

// The walk's view of the staging tables, read in file order: the authors
// (number and name) in catalogue order, and each author's book lines in the
// order of the book index. The author table and the book index keep no one
// author's books together in the file, so reading them author by author
// would cost a read per book line.
class TWalkTables {
 public:
  explicit TWalkTables(xbase::TXBaseDataSet& authors, xbase::TXBaseDataSet& books) {
    // The orders, from the indexes' keys, before the tables leave them.
    authorOrder_ = RecordsInTagOrder(authors, "AU.NDX");
    const std::vector<uint32_t> bookOrder = RecordsInTagOrder(books, "BO.NDX");

    // The field values as the engine gives them: text without trailing
    // blanks, numbers without blanks.
    AnsiString value;
    const int id = authors.FieldByName("ID").FieldNo(), name = authors.FieldByName("NA").FieldNo();
    const size_t authorRecords = static_cast<size_t>(authors.DBFHandle()->NumRecs()) + 1;
    ids_.reserve(authorRecords);
    names_.reserve(authorRecords);
    ids_.push_back(0);
    names_.emplace_back();
    ForEachRecordInFileOrder(authors, [&](xbase::XBO_dBHandler& t) {
      ids_.push_back(NumberOf(t, id));
      t.xbStringGetNInto(name, value);
      AnsiString& block = text_.Room(value.size());
      names_.emplace_back(block.data() + block.size(), value.size());
      block += value;
    });

    // Every book record's line and author number, by record number.
    int fields[kBookFieldCount - 1];
    for (int k = 0; k < kBookFieldCount - 1; ++k) fields[k] = books.FieldByName(kBookFieldNames[k]).FieldNo();
    const int author = books.FieldByName("AU").FieldNo();
    const size_t bookRecords = static_cast<size_t>(books.DBFHandle()->NumRecs()) + 1;
    std::vector<uint32_t> authorOf;
    authorOf.reserve(bookRecords);
    lines_.reserve(bookRecords);
    authorOf.push_back(0);
    lines_.emplace_back();
    TBookFields f;
    AnsiString values[kBookFieldCount - 1];
    ForEachRecordInFileOrder(books, [&](xbase::XBO_dBHandler& t) {
      size_t size = kBookFieldCount;  // the TABs and the duplicate flag
      for (int k = 0; k < kBookFieldCount - 1; ++k) {
        t.xbStringGetNInto(fields[k], values[k]);
        f[k] = values[k];
        size += values[k].size();
      }
      f[bfDuplicate] = t.xbDelFlag() ? "Y" : "N";
      AnsiString& block = text_.Room(size);
      const size_t at = block.size();
      AppendBookLine(block, f);
      lines_.emplace_back(block.data() + at, block.size() - at);
      authorOf.push_back(NumberOf(t, author));
    });

    // Each author's lines are a run of the book index's order.
    const size_t authorIds = *std::max_element(ids_.begin(), ids_.end()) + size_t{1};
    firstBook_.assign(authorIds, 0);
    bookCount_.assign(authorIds, 0);
    bookOrder_.reserve(bookOrder.size());
    for (uint32_t rn : bookOrder) {
      const uint32_t a = rn < authorOf.size() ? authorOf[rn] : 0;
      if (a == 0 || a >= authorIds) continue;
      if (bookCount_[a]++ == 0) firstBook_[a] = static_cast<uint32_t>(bookOrder_.size());
      bookOrder_.push_back(rn);
    }
  }

  size_t AuthorCount() const { return authorOrder_.size(); }
  std::string_view AuthorName(size_t k) const { return At(names_, authorOrder_[k]); }

  // Hands every book line of the k-th author of the catalogue order to add,
  // as FormatBookLine gives it.
  template <class Add>
  void AuthorBooks(size_t k, Add&& add) const {
    const uint32_t a = authorOrder_[k] < ids_.size() ? ids_[authorOrder_[k]] : 0;
    if (a >= bookCount_.size()) return;
    for (uint32_t i = firstBook_[a], end = i + bookCount_[a]; i < end; ++i) add(At(lines_, bookOrder_[i]));
  }

 private:
  // The book-line fields in the table, in line order.
  static constexpr const char* kBookFieldNames[kBookFieldCount - 1] = {"NA", "SB", "FI", "SZ",
                                                                       "GE", "DT", "LN"};

  // An author number field's value; 0 (no author) for anything else.
  static uint32_t NumberOf(xbase::XBO_dBHandler& t, int field) {
    const double v = t.xbNumberGetN(field);
    return v >= 1 && v <= 4294967295.0 ? static_cast<uint32_t>(v) : 0;
  }

  static std::string_view At(const std::vector<std::string_view>& texts, uint32_t rn) {
    return rn < texts.size() ? texts[rn] : std::string_view();
  }

  TTextBlocks text_;                    // names and lines
  std::vector<uint32_t> authorOrder_;   // author record numbers, catalogue order
  std::vector<uint32_t> ids_;           // author number by record number
  std::vector<std::string_view> names_;  // author name by record number
  std::vector<std::string_view> lines_;  // book line by record number
  std::vector<uint32_t> bookOrder_;     // book record numbers, grouped by author
  std::vector<uint32_t> firstBook_;     // by author number: first in bookOrder_
  std::vector<uint32_t> bookCount_;     // by author number: its records
};

// Empties the work folder when made and when destroyed, so that neither a
// build's leftovers nor files of an earlier one end up in the catalogue.
class TWorkFolder {
 public:
  explicit TWorkFolder(const TBuildSession& s) : s_(s) { Clear(); }
  ~TWorkFolder() { Clear(); }
  TWorkFolder(const TWorkFolder&) = delete;
  TWorkFolder& operator=(const TWorkFolder&) = delete;

 private:
  void Clear() { clearWorkFolder(s_.workDir, s_.dataDir); }
  const TBuildSession& s_;
};

// Why a build read no book, for the user.
std::string NoBooksReason(const TBuildSession& s, int64_t sourcesFound) {
  std::string why;
  if (s.stopped)
    why = "Создание списка книг прервано до того, как была прочитана хоть одна книга.";
  else if (s.useInp && sourcesFound == 0)
    why = "В файле " + s.inpFile + " нет списков книг (.inp): возможно, выбран не тот файл.";
  else if (s.useInp)
    why = "В списках книг файла " + s.inpFile + " нет ни одной книги.";
  else if (sourcesFound == 0)
    why = "В папке " + s.libDir + " нет архивов .zip с книгами .fb2.";
  else
    why = "Ни одна книга .fb2 в архивах папки " + s.libDir + " не прочитана: в их заголовках нет названия.";
  return why + "\nПрежний список книг не изменён.";
}

// readArchives: every book of the collection into the tables. Raises
// ENoBooksRead when there was none.
void readArchives(TJobHost& host, TBuildSession& s, TStagingTables& tables) {
  host.ClearStopRequest();
  TBookAppender appender(tables, tables.BookWriter());
  int64_t sourcesFound = 0;  // ".inp" members or FB2 members met
  if (s.useInp) {
    // Staged on a second thread while the index file is read.
    TBookSinkThread staging(appender);
    sourcesFound = readInpx(s.inpFile, host, staging);
    staging.Finish();
  } else {
    TFb2Reader reader(host, appender);
    // The log of what was read goes to the export folder however the
    // reading ended.
    struct TSaveLog {
      const TFb2Reader& reader;
      const std::string& dir;
      ~TSaveLog() { reader.saveLog(dir); }
    } saveLog{reader, s.expDir};
    reader.readFb2Archives(s.libDir);
    sourcesFound = reader.MembersFound();
  }
  // Noted before the walk clears the request.
  s.stopped = host.StopRequested();
  s.books = appender.Books();
  s.duplicates = appender.Duplicates();
  s.readErrors = appender.ReadErrors();
  // An empty catalogue in place of a full one is nobody's wish: a build
  // that read nothing is a failure, as a missing folder is.
  // (Its reason covers the lines or heads that could not be read.)
  if (s.books == 0) throw ENoBooksRead(NoBooksReason(s, sourcesFound));
  showReadErrors(host, s.readErrors);
  tables.FinishTables();
}

// buildBookList, up to packing: the authors in the order of their
// upper-cased names, each with its books, into "a.txt", the block files and
// "inf.txt" of the work folder.
void buildBookList(TJobHost& host, TBuildSession& s, TStagingTables& tables) {
  host.ClearStopRequest();
  TCatalogueWriter writer([&s](const std::string& member, const AnsiString& bytes) {
    platform::WriteFileBytes(platform::JoinPath(s.workDir, member), bytes);
  });
  host.showSB("Создание списка книг", " ", " ");
  const TWalkTables walk(tables.Authors(), tables.Books());
  const size_t total = walk.AuthorCount();
  for (size_t k = 0; k < total; ++k) {
    writer.AddAuthor(walk.AuthorName(k));
    walk.AuthorBooks(k, [&writer](std::string_view line) { writer.AddBookLine(line); });
    if (writer.CutAuthors().size() > s.cutAuthorNames.size()) s.cutAuthorNames.emplace_back(walk.AuthorName(k));
    const int64_t written = writer.AuthorsWritten();
    if (written % kProgressAuthors == 0)
      host.showSB("", std::to_string(std::llrint(written * 100.0 / static_cast<double>(total))) + "%", "");
    if (host.StopRequested()) {
      s.stopped = s.stopped || k + 1 < total;
      break;
    }
  }
  s.authors = writer.AuthorsWritten();
  s.cutAuthors = writer.CutAuthors();
  writer.Finish({s.authors, s.books, s.duplicates});
  host.showSB("", "100%", "");
}

// The files of the work folder into a new catalogue archive, which takes
// the old one's place only once it is complete.
//
// Every failure names the catalogue archive, not the temporary file it is
// written as, and keeps the system's reason where there is one: the
// archiver tells a failed write only as its own "disk is full".
void packCatalogue(TJobHost& host, const TBuildSession& s) {
  host.showSB("Архивация...", " ", " ");
  platform::TReplaceFile out(s.dbzPath, platform::TReplaceFile::FollowLink);
  std::unique_ptr<platform::TStream> wrapped;
  if (s.packStream) wrapped = s.packStream(out.Stream());
  TWriteReasonStream target(wrapped ? *wrapped : out.Stream());
  archiver::TZipArchiver zip;
  // A member that cannot be written (a full disk) ends the build: a
  // catalogue without it would pass for a complete one.
  std::string failure;
  int nativeError = 0;
  zip.OnProcessFileFailure = [&](archiver::TZABaseArchiver&, const std::string&, archiver::TZAProcessOperation,
                                 int native, int, const std::string& message, archiver::TZAAction& action) {
    if (failure.empty()) failure = message, nativeError = native;
    action = archiver::fxaAbort;
  };
  try {
    zip.OpenArchive(target, true);
    zip.SetBaseDir(s.workDir);
    // The catalogue's members are all at its root.
    zip.Options().SetRecurse(false);
    const int queued = zip.AddFiles("*.txt", kPackAttributes, "");
    const int written = failure.empty() ? zip.FileCount() : -1;
    zip.CloseArchive();
    if (failure.empty() && written != queued) failure = "not every member was written";
    if (failure.empty()) failure = zip.LastCloseError(), nativeError = zip.LastCloseNativeError();
  } catch (const archiver::EZAException& e) {
    if (failure.empty()) failure = e.what(), nativeError = e.NativeError;
  } catch (const platform::EStreamError& e) {
    // A failed write of the catalogue is told below; any other failure
    // names its own file.
    if (target.Error() == 0) throw;
    if (failure.empty()) failure = e.what();
  }
  if (!failure.empty()) {
    const int error = target.Error() != 0 ? target.Error() : ErrnoOfArchiverError(nativeError);
    throw platform::EStreamError(s.dbzPath + ": " + failure, error, s.dbzPath);
  }
  wrapped.reset();
  try {
    out.Commit();
  } catch (const platform::EFileError& e) {
    throw platform::EFileError(e.what(), e.error, s.dbzPath);
  }
}

// What the build reads must be set and be there before anything is
// touched; the archiver's and the reader's own errors about an empty or
// wrong path would not say which setting is wrong.
void CheckBuildSettings(const TBuildSession& s) {
  static constexpr char kOrNoIndex[] =
      "Укажите его в настройках или снимите там флажок «Использовать inpx для создания содержания».";
  if (s.useInp) {
    if (s.inpFile.empty()) throw EBuildNotSetUp(std::string("Файл списка книг не задан. ") + kOrNoIndex);
    if (!platform::FileExists(s.inpFile))
      throw EBuildNotSetUp("Файл списка книг не найден: " + s.inpFile + "\n" + kOrNoIndex);
  } else {
    if (s.libDir.empty()) throw EBuildNotSetUp(kMsgArchiveDirNotSet);
    if (!platform::DirectoryExists(s.libDir))
      throw EBuildNotSetUp(kMsgNoArchiveDir + s.libDir + "\nУкажите его в настройках.");
  }
}

constexpr size_t kCutAuthorsNamed = 10;  // more would not fit a box

std::string FinalMessage(const TBuildSession& s) {
  std::string text = s.stopped ? "Создание списка книг прервано\nСписок книг неполный"
                               : "Создание списка книг завершено";
  text += "\nАвторов " + std::to_string(s.authors) + "\nКниг " + std::to_string(s.books) + " [" +
          std::to_string(s.duplicates) + "]";
  if (!s.cutAuthors.empty()) {
    // The catalogue cannot hold more lines for one author; the user should
    // know whose books are missing from the list.
    text += "\n\nВ список вошли только первые 65535 книг авторов:";
    for (size_t k = 0; k < s.cutAuthors.size() && k < kCutAuthorsNamed; ++k)
      text += "\n" + platform::AnsiToUtf8(s.cutAuthorNames[k]) + " (не вошло " +
              std::to_string(s.cutAuthors[k].droppedLines) + ")";
    if (s.cutAuthors.size() > kCutAuthorsNamed)
      text += "\nи ещё авторов: " + std::to_string(s.cutAuthors.size() - kCutAuthorsNamed);
  }
  return text;
}

}  // namespace

EBuildAborted::EBuildAborted()
    : std::runtime_error(
          "Программа закрывается: создание списка книг прервано.\n"
          "Прежний список книг не изменён.") {}

TBuildSession NewBuildSession(const TAppState& state, const TSettings& settings) {
  TBuildSession s;
  s.dataDir = state.dataDir;
  s.workDir = state.workDir;
  s.dbzPath = state.dbzPath;
  s.useInp = settings.useInp;
  // A path not set is not the program folder.
  const auto set = [](const std::string& path) { return path.empty() ? std::string() : absPath(path); };
  s.inpFile = set(settings.inpFile);
  s.libDir = set(settings.libDir);
  s.expDir = absPath(settings.expDir);
  // A read-only settings file was told about at start.
  if (state.dataDirWritable && !SettingsFileReadOnly(state.iniPath)) s.iniPath = state.iniPath;
  s.settings = settings;
  return s;
}

bool createBookList(TJobHost& host, TBuildSession& s) {
  CheckBuildSettings(s);
  if (!host.AskYesNo("Пересоздать список книг ?\n\nЭто может занять определенное время...", "Подтверждение"))
    return false;
  s.authors = s.books = s.duplicates = s.readErrors = s.seconds = 0;
  s.stopped = false;
  s.cutAuthors.clear();
  s.cutAuthorNames.clear();
  const auto start = std::chrono::steady_clock::now();
  {
    // However the build ends, the memory it held goes back to the system:
    // the next build then peaks where this one did.
    struct TReleaseMemory {
      ~TReleaseMemory() { platform::ReleaseFreeMemory(); }
    } release;
    TJobScope job(host);
    TWorkFolder work(s);
    {
      TStagingTables tables(s.workDir);
      readArchives(host, s, tables);
      buildBookList(host, s, tables);
    }
    if (host.Closing()) throw EBuildAborted();
    packCatalogue(host, s);
  }
  s.seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  host.showSB(" ", " ", " ");
  if (!s.iniPath.empty()) {
    // The catalogue is in place; settings that cannot be saved are worth a
    // word, not the build.
    try {
      WriteSettings(s.iniPath, s.settings);
    } catch (const std::exception& e) {
      host.ShowMessage("Не удалось сохранить настройки в файл " + s.iniPath + ":\n" + FailureReason(e), "");
    }
  }
  host.Beep();
  host.ShowMessage(FinalMessage(s), "время работы " + std::to_string(s.seconds) + " сек.");
  return true;
}

}  // namespace catalogue
