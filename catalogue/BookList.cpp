#include "catalogue/BookList.h"

#include <chrono>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "archiver/ZipArchiver.h"
#include "catalogue/AppState.h"
#include "catalogue/BookTable.h"
#include "catalogue/Fb2Reader.h"
#include "catalogue/Func.h"
#include "catalogue/InpxReader.h"
#include "dataaccess/Fields.h"
#include "platform/Files.h"
#include "platform/Streams.h"
#include "xbase/xb_create.h"
#include "xbase/xb_dataset.h"

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

// The two tables of a build in the work folder: the author table, kept in
// the engine's dataset and indexed by upper-cased name, and the book table,
// written raw while reading and opened as a dataset for the walk.
class TStagingTables final : public TAuthorTable {
 public:
  // createTables: both tables made from their field lines, the author
  // table opened with its index, the book table opened for raw writing.
  explicit TStagingTables(const std::string& workDir) : workDir_(workDir) {
    const std::string bo = platform::JoinPath(workDir, "bo.dbf");
    for (const auto& [path, lines] : {std::pair{bo, &kBookFieldLines},
                                      std::pair{platform::JoinPath(workDir, "au.dbf"), &kAuthorFieldLines}}) {
      if (!xbase::CreateTableFromFieldList(path, "", kDBaseIII, *lines))
        throw platform::EFileError("Cannot create table " + path, 0);
    }
    OpenWorkTable(authors_, workDir, "AU.DBF", false);
    IndexWorkTable(authors_, "AU", "upper(NA)");
    authorID_ = &authors_.FieldByName("ID");
    authorName_ = &authors_.FieldByName("NA");
    bookWriter_.emplace(bo);
  }

  // The author numbers are the ones the author table's own lookup (first,
  // FindKey on the upper-cased name, append when missing) would give;
  // the map in front saves the index seek of every book.
  uint32_t getAuthorID(const AnsiString& name) override {
    auto [it, added] = ids_.try_emplace(platform::AnsiUpperCase(name), lastID_ + 1);
    if (!added) return it->second;
    try {
      authors_.Append();
      authorID_->SetAsInteger(static_cast<int32_t>(lastID_ + 1));
      authorName_->SetAsString(name);
      authors_.Post();
    } catch (...) {
      ids_.erase(it);
      throw;
    }
    return ++lastID_;
  }

  TBookTableWriter& BookWriter() { return *bookWriter_; }

  // The book table is complete: its count is written and the raw file
  // closed; the table opens as a dataset, its records indexed by author,
  // deleted ones shown.
  void FinishBooks() {
    bookWriter_->Finish();
    bookWriter_.reset();
    OpenWorkTable(books_, workDir_, "BO.DBF", true);
    IndexWorkTable(books_, "BO", "AU");
    for (int k = 0; k < kBookFieldCount - 1; ++k) bookFields_[k] = &books_.FieldByName(kBookFieldNames[k]);
  }

  xbase::TXBaseDataSet& Authors() { return authors_; }
  const TField& AuthorID() const { return *authorID_; }
  const TField& AuthorName() const { return *authorName_; }

  // Hands every book record of author `id` to `add`, in record order.
  template <class Add>
  void AuthorBooks(int32_t id, Add&& add) {
    const AnsiString key = std::to_string(id);
    books_.SetRange(key, key);
    TBookFields fields;
    AnsiString text[kBookFieldCount - 1];
    for (; !books_.Eof(); books_.Next()) {
      for (int k = 0; k < kBookFieldCount - 1; ++k) {
        text[k] = bookFields_[k]->AsString();
        fields[k] = text[k];
      }
      fields[bfDuplicate] = books_.IsDeleted() ? "Y" : "N";
      add(fields);
    }
  }

 private:
  // The book-line fields in the table, in line order.
  static constexpr const char* kBookFieldNames[kBookFieldCount - 1] = {"NA", "SB", "FI", "SZ",
                                                                       "GE", "DT", "LN"};

  std::string workDir_;
  xbase::TXBaseDataSet authors_;
  xbase::TXBaseDataSet books_;
  TField* authorID_ = nullptr;
  TField* authorName_ = nullptr;
  TField* bookFields_[kBookFieldCount - 1] = {};
  std::optional<TBookTableWriter> bookWriter_;
  std::unordered_map<AnsiString, uint32_t> ids_;
  uint32_t lastID_ = 0;
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

// readArchives: every book of the collection into the tables.
void readArchives(TJobHost& host, TBuildSession& s, TStagingTables& tables) {
  host.ClearStopRequest();
  TBookAppender appender(tables, tables.BookWriter());
  if (s.useInp) {
    readInpx(s.inpFile, host, appender);
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
  }
  tables.FinishBooks();
  s.books = appender.Books();
  s.duplicates = appender.Duplicates();
  s.readErrors = appender.ReadErrors();
  showReadErrors(host, s.readErrors);
}

// buildBookList, up to packing: the authors in the order of their
// upper-cased names, each with its books, into "a.txt", the block files and
// "inf.txt" of the work folder.
void buildBookList(TJobHost& host, TBuildSession& s, TStagingTables& tables) {
  host.ClearStopRequest();
  TCatalogueWriter writer([&s](const std::string& member, const AnsiString& bytes) {
    platform::WriteFileBytes(platform::JoinPath(s.workDir, member), bytes);
  });
  xbase::TXBaseDataSet& authors = tables.Authors();
  authors.DBFHandle()->xbResetRange();
  authors.First();
  const int64_t total = authors.RecordCount();
  host.showSB("Создание списка книг", " ", " ");
  while (!authors.Eof()) {
    writer.AddAuthor(tables.AuthorName().AsString());
    tables.AuthorBooks(tables.AuthorID().AsInteger(), [&writer](const TBookFields& f) { writer.AddBook(f); });
    authors.Next();
    const int64_t written = writer.AuthorsWritten();
    if (written % kProgressAuthors == 0)
      host.showSB("", std::to_string(std::llrint(written * 100.0 / total)) + "%", "");
    if (host.StopRequested()) break;
  }
  s.authors = writer.AuthorsWritten();
  s.cutAuthors = writer.CutAuthors();
  writer.Finish({s.authors, s.books, s.duplicates});
  host.showSB("", "100%", "");
}

// The files of the work folder into a new catalogue archive, which takes
// the old one's place only once it is complete.
void packCatalogue(TJobHost& host, const TBuildSession& s) {
  host.showSB("Архивация...", " ", " ");
  platform::TReplaceFile out(s.dbzPath);
  std::unique_ptr<platform::TStream> wrapped;
  if (s.packStream) wrapped = s.packStream(out.Stream());
  archiver::TZipArchiver zip;
  // A member that cannot be written (a full disk) ends the build: a
  // catalogue without it would pass for a complete one.
  std::string failure;
  zip.OnProcessFileFailure = [&failure](archiver::TZABaseArchiver&, const std::string&, archiver::TZAProcessOperation,
                                        int, int, const std::string& message, archiver::TZAAction& action) {
    if (failure.empty()) failure = message;
    action = archiver::fxaAbort;
  };
  zip.OpenArchive(wrapped ? *wrapped : out.Stream(), true);
  zip.SetBaseDir(s.workDir);
  // The catalogue's members are all at its root.
  zip.Options().SetRecurse(false);
  const int queued = zip.AddFiles("*.txt", kPackAttributes, "");
  const int written = failure.empty() ? zip.FileCount() : -1;
  zip.CloseArchive();
  if (failure.empty() && written != queued) failure = "not every member was written";
  if (failure.empty()) failure = zip.LastCloseError();
  if (!failure.empty()) throw platform::EStreamError(s.dbzPath + ": " + failure);
  wrapped.reset();
  out.Commit();
}

std::string FinalMessage(const TBuildSession& s) {
  return "Создание списка книг завершено\nАвторов " + std::to_string(s.authors) + "\nКниг " +
         std::to_string(s.books) + " [" + std::to_string(s.duplicates) + "]";
}

}  // namespace

TBuildSession NewBuildSession(const TAppState& state, const TSettings& settings) {
  TBuildSession s;
  s.dataDir = state.dataDir;
  s.workDir = state.workDir;
  s.dbzPath = state.dbzPath;
  s.useInp = settings.useInp;
  s.inpFile = absPath(settings.inpFile);
  s.libDir = absPath(settings.libDir);
  s.expDir = absPath(settings.expDir);
  if (state.dataDirWritable) s.iniPath = state.iniPath;
  s.settings = settings;
  return s;
}

bool createBookList(TJobHost& host, TBuildSession& s) {
  if (!host.AskYesNo("Пересоздать список книг ?\n\nЭто может занять определенное время...", "Подтверждение"))
    return false;
  s.authors = s.books = s.duplicates = s.readErrors = s.seconds = 0;
  s.cutAuthors.clear();
  const auto start = std::chrono::steady_clock::now();
  {
    TJobScope job(host);
    TWorkFolder work(s);
    {
      TStagingTables tables(s.workDir);
      readArchives(host, s, tables);
      buildBookList(host, s, tables);
    }
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
      host.ShowMessage("Не удалось сохранить настройки в файл " + s.iniPath + ":\n" + e.what(), "");
    }
  }
  host.Beep();
  host.ShowMessage(FinalMessage(s), "время работы " + std::to_string(s.seconds) + " сек.");
  return true;
}

}  // namespace catalogue
