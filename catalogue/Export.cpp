#include "catalogue/Export.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <utility>

#include "archiver/ZAExcept.h"
#include "archiver/ZipArchiver.h"
#include "catalogue/AppState.h"
#include "catalogue/FailureText.h"
#include "catalogue/Func.h"
#include "catalogue/ReaderDevice.h"
#include "platform/Files.h"
#include "platform/Numbers.h"
#include "platform/Process.h"
#include "platform/Streams.h"

namespace catalogue {

namespace {

constexpr const char* kStylesFile = "default_styles.sini";

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The number formed by the leading decimal digits of `s`; empty when `s`
// does not begin with a digit or the number does not fit.
std::optional<int64_t> LeadingNumber(std::string_view s) {
  int64_t value = 0;
  if (!platform::ScanDigits(s, value)) return std::nullopt;
  return value;
}

std::string NamePart(std::string_view storedName) {
  const size_t slash = storedName.find_last_of("/\\");
  return std::string(slash == std::string_view::npos ? storedName : storedName.substr(slash + 1));
}

// The stored name of the book `wanted` ("N.fb2") in the open archive: the
// root item of that name, else the first item in a sub-folder with it.
std::string FindBookMember(archiver::TZipArchiver& zip, const std::string& wanted) {
  const archiver::TZADirArray& items = zip.DMHandle()->CDir;
  std::string nested;
  for (int i = 0; i < items.Count(); ++i) {
    const std::string& name = items[i].Name;
    if (name.empty() || name.back() == '/') continue;  // a folder
    if (EqualsIgnoringAsciiCase(name, wanted)) return name;
    if (nested.empty() && EqualsIgnoringAsciiCase(NamePart(name), wanted)) nested = name;
  }
  return nested;
}

constexpr const char* kStagingPrefix = ".tomeshelf-";
// Inside a staging folder: locked for as long as the folder is in use.
constexpr const char* kStagingLock = ".lock";

// A fresh private folder inside `parent`, removed with what is left in it.
// The converter writes into it under the final name, and only a complete
// result is moved out, so a failure never costs an earlier copy. Its lock
// file keeps other programs sharing the folder (RemoveStagingLeftovers)
// off it while it is in use.
class TStagingFolder {
 public:
  explicit TStagingFolder(const std::string& parent) {
    try {
      path_ = platform::CreateTempFolder(parent, kStagingPrefix);
      lock_ =
          platform::TFile(*this / kStagingLock, platform::fmCreate | platform::fmShareExclusive);
    } catch (const platform::EFileError& e) {
      platform::DeleteTree(path_);
      throw platform::EFileError("Не удалось создать временный каталог в " + parent, e.error, parent);
    }
  }
  ~TStagingFolder() { platform::DeleteTree(path_); }
  TStagingFolder(const TStagingFolder&) = delete;
  TStagingFolder& operator=(const TStagingFolder&) = delete;

  std::string operator/(const std::string& name) const { return platform::JoinPath(path_, name); }

 private:
  std::string path_;
  platform::TFile lock_;
};

// The two programs of the settings, as their boxes name them.
constexpr const char* kConverterName = "программу конвертации в LRF";
constexpr const char* kReaderName = "программу чтения FB2";

// A program of the settings that is there but cannot be started: named
// with the reason, as a missing one is told.
std::string ProgramNotRunMessage(const char* program, const std::string& path, const std::string& why) {
  return std::string("Не удалось запустить ") + program + ":\n" + path + "\n" + why +
         ".\nПроверьте правильность имени программы в настройках.";
}

// Why a program file could not be executed (the errno of its start).
std::string StartErrorReason(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return "Нет прав на её запуск";
    case ENOEXEC:
      return "Файл не является программой";
    case ENOENT:
      return "Не найден интерпретатор, указанный в файле";
    default:
      return "Ошибка " + std::to_string(error);
  }
}

// What keeps the program `path` from being tried, in the box to show: empty
// when a file is there (its start tells the rest), `missing` (the text for
// no program at all) when nothing is there, not even a link.
std::string ProgramFileProblem(const char* program, const std::string& path, const char* missing) {
  if (platform::FileExists(path)) return {};
  platform::TFileInfo info;
  if (path.empty() || !platform::GetFileInfo(path, info)) return missing;
  const char* why = info.isDir                                        ? "Это каталог, а не программа"
                    : info.isLink && platform::RealPath(path).empty() ? "Ссылка ведёт к несуществующему файлу"
                                                                      : "Файл не является программой";
  return ProgramNotRunMessage(program, path, why);
}

// A book that could not be written where it was copied to, told apart from
// an archive that could not be read.
class ENotWritten : public platform::EFileError {
 public:
  using EFileError::EFileError;
};

[[noreturn]] void ThrowNotWritten(const std::string& to, int err) {
  throw ENotWritten("Не удалось записать файл " + to, err, to);
}

// The work folder, made when missing; raises ENotWritten naming it when it
// cannot be (a file in its place, no permission).
void ForceWorkFolder(const std::string& dir) {
  if (platform::ForceDirectories(dir)) return;
  const int err = errno;
  platform::TFileInfo info;
  const std::string path = platform::ExcludeTrailingPathDelimiter(dir);
  if (platform::GetFileInfo(path, info) && !info.isDir) {
    const bool dangling = info.isLink && platform::RealPath(path).empty();
    throw ENotWritten((dangling ? "Ссылка ведёт к несуществующему каталогу: " : "Это файл, а не каталог: ") + dir,
                      EEXIST, dir);
  }
  throw ENotWritten("Не удалось создать каталог " + dir, err, dir);
}

// The last lines a converter wrote on its error output, fit for a box:
// valid UTF-8 (else read as the system's ANSI text), carriage returns as
// line ends, no blank lines nor control characters, each line cut short.
std::string LastErrorLines(std::string bytes) {
  constexpr size_t kLines = 5, kLineLength = 200;
  // Cut from a longer output: its first line is a piece of one, or, in a
  // single long line, the first character may be.
  if (bytes.size() >= platform::kErrorOutputKept) {
    const size_t eol = bytes.find('\n');
    if (eol != std::string::npos)
      bytes.erase(0, eol + 1);
    else
      for (int k = 0; k < 3 && !bytes.empty() && (static_cast<unsigned char>(bytes[0]) & 0xC0) == 0x80; ++k)
        bytes.erase(0, 1);
  }
  const std::string text = platform::IsValidUtf8(bytes) ? bytes : platform::AnsiToUtf8(bytes);
  std::vector<std::string> lines(1);
  for (size_t pos = 0; pos < text.size();) {
    const char32_t c = platform::DecodeUtf8(text, pos);
    if (c == '\n' || c == '\r') {
      if (!lines.back().empty()) lines.emplace_back();
    } else if (c >= 0x20 && c != 0x7F && platform::Utf8Length(lines.back()) < kLineLength) {
      platform::AppendUtf8(lines.back(), c);
    } else if (c == '\t') {
      lines.back() += ' ';
    }
  }
  if (lines.back().empty()) lines.pop_back();
  std::string out;
  for (size_t k = lines.size() > kLines ? lines.size() - kLines : 0; k < lines.size(); ++k)
    out += (out.empty() ? "" : "\n") + lines[k];
  return out;
}

// A converter that ran and did not convert the book: named with its exit
// code and the end of its error output.
std::string ConverterFailedMessage(const std::string& path, const std::string& fb2Name,
                                   const std::string& lrfName, int code, const std::string& said) {
  std::string text = "Программа конвертации в LRF не преобразовала книгу " + fb2Name + ":\n" + path +
                     "\nКод завершения: " + std::to_string(code);
  if (code == 0) text += ", но файл " + lrfName + " не создан";
  if (!said.empty()) text += "\nСообщения программы:\n" + said;
  return text;
}

// `text` with every `what` replaced by "*".
std::string Masked(std::string text, const std::string& what) {
  for (size_t pos = 0; !what.empty() && (pos = text.find(what, pos)) != std::string::npos; pos += 1)
    text.replace(pos, what.size(), "*");
  return text;
}

// The archive `path` opened for reading; `lenient` rebuilds a damaged
// directory from the items' own headers, so that every book left in it can
// still be read.
std::unique_ptr<archiver::TZipArchiver> OpenBookArchive(const std::string& path, bool lenient) {
  auto zip = std::make_unique<archiver::TZipArchiver>();
  zip->SetOpenCorruptedArchives(lenient);
  zip->SetFileName(path);
  zip->OpenArchive(archiver::ZAModeRead);
  return zip;
}

// Why the archive `path` could not be opened: a folder in its place is
// said to be one (to the archiver it is no file, so not found).
std::string ArchiveFailureReason(const std::exception& e, const std::string& path) {
  platform::TFileInfo info;
  if (platform::GetFileInfo(path, info) && info.isDir) return "Это каталог, а не файл: " + path;
  return FailureReason(e, path);
}

// findArchiveOfFile's lookup. When the book is found and `open` is given,
// the archive holding it is handed back still open, so that the caller
// extracts from it without reading its directory a second time.
TBookSource FindBook(const std::vector<TBookArchive>& archives, const std::string& folder,
                     const AnsiString& file, std::unique_ptr<archiver::TZipArchiver>* open) {
  const std::optional<int64_t> number = fileNumberValue(file);
  if (!number) return {};
  const std::string wanted = platform::AnsiToUtf8(file) + ".fb2";
  TBookSource source{TBookLookup::NotCovered, {}, {}, {}};
  for (const TBookArchive& archive : archives) {
    if (*number < archive.first || *number > archive.last) continue;
    if (source.result == TBookLookup::NotCovered) source.result = TBookLookup::NotInArchive;
    const std::string path = platform::JoinPath(folder, archive.name);
    // Opened strictly first, so that a sound archive is read once whatever
    // the answer; only a damaged one is read again, leniently.
    std::unique_ptr<archiver::TZipArchiver> zip;
    std::string damage, member;
    try {
      zip = OpenBookArchive(path, false);
    } catch (const std::exception& e) {
      damage = ArchiveFailureReason(e, path);
    }
    try {
      if (!zip) zip = OpenBookArchive(path, true);
      member = FindBookMember(*zip, wanted);
    } catch (const std::exception& e) {
      // Not a zip archive, cut short or unreadable: the next one may hold
      // the book; if none does, this one is why it was not found.
      if (source.result != TBookLookup::ArchiveUnreadable)
        source = {TBookLookup::ArchiveUnreadable, archive.name, {}, ArchiveFailureReason(e, path)};
      continue;
    }
    if (!member.empty()) {
      if (open) *open = std::move(zip);
      return {TBookLookup::Found, archive.name, member, {}};
    }
    // A directory rebuilt from what is left of a damaged archive (one cut
    // short, say) may lack the book: then the damage is the answer.
    if (!damage.empty() && source.result != TBookLookup::ArchiveUnreadable)
      source = {TBookLookup::ArchiveUnreadable, archive.name, {}, std::move(damage)};
  }
  return source;
}

// What the user is told about book `fb2Name` that could not be read from
// `archive` (its file name), and why.
std::string NotReadText(const std::string& fb2Name, const std::string& archive, const std::string& reason) {
  return "Не удалось прочитать книгу " + fb2Name + " из архива " + archive + ":\n" + reason;
}

// extractZipMember from an archive already open.
void ExtractMember(archiver::TZipArchiver& zip, const std::string& member,
                   const std::string& destFolder, const std::string& newName) {
  const std::string name = newName.empty() ? NamePart(member) : newName;
  // Written beside the target and renamed over it (an earlier copy) only
  // when complete.
  const std::string target = platform::JoinPath(destFolder, name);
  try {
    platform::TReplaceFile out(target);
    // A write that fails is told with the file written and its reason, not
    // as the archiver's error about the archive read.
    TWriteReasonStream to(out.Stream());
    try {
      zip.ExtractToStream(member, to);
    } catch (...) {
      if (to.Error() != 0) ThrowNotWritten(target, to.Error());
      throw;
    }
    if (to.Error() != 0) ThrowNotWritten(target, to.Error());
    out.Commit();
  } catch (const platform::EFileError& e) {
    ThrowNotWritten(target, e.error);
  }
}

// What every book of one export shares, resolved once.
struct TExportRun {
  TJobHost& host;
  int32_t kind;
  std::string libDir;
  std::vector<TBookArchive> archives;
  std::string destDir;  // export folder or the device's books folder
  std::string workDir;
  std::string converter;
  std::string archive;  // the archive of the current book, once found
  TExportCounts counts;
  // The converter failures told so far, each with the book's own names
  // masked: a converter that fails every book the same way is told once.
  std::vector<std::string> toldFailures;
};

// Exports one book; false when it is not exported. Read and write errors
// raise.
bool ExportBook(TExportRun& run, const AnsiString& file) {
  if (run.kind != ekFB2) {
    if (const std::string problem = ProgramFileProblem(kConverterName, run.converter, kMsgNoConverter);
        !problem.empty()) {
      run.host.ShowMessage(problem, "");
      return false;
    }
  }
  std::unique_ptr<archiver::TZipArchiver> zip;
  const TBookSource source = FindBook(run.archives, run.libDir, file, &zip);
  const std::string fb2Name = platform::AnsiToUtf8(file) + ".fb2";
  if (source.result == TBookLookup::ArchiveUnreadable) {
    std::vector<TExportCounts::TUnreadArchive>& unread = run.counts.unreadArchives;
    auto it = std::find_if(unread.begin(), unread.end(), [&](const auto& u) { return u.reason == source.reason; });
    if (it == unread.end()) it = unread.insert(unread.end(), {source.reason, {}});
    it->books.push_back(fb2Name);
    return false;
  }
  if (source.result != TBookLookup::Found) {
    run.counts.notFound.push_back(fb2Name);
    return false;
  }
  run.archive = platform::JoinPath(run.libDir, source.archive);

  if (run.kind == ekFB2) {
    ExtractMember(*zip, source.member, run.destDir, fb2Name);
    return true;
  }

  ForceWorkFolder(run.workDir);
  const std::string input = platform::JoinPath(run.workDir, fb2Name);
  ExtractMember(*zip, source.member, run.workDir, fb2Name);
  zip.reset();  // not held open while the converter runs
  struct TRemoveInput {
    const std::string& path;
    ~TRemoveInput() { platform::DeleteFile(path); }
  } removeInput{input};

  const std::string lrfName = platform::AnsiToUtf8(file) + ".lrf";
  TStagingFolder staging(run.destDir);
  const std::string output = staging / lrfName;
  const std::string styles =
      platform::JoinPath(platform::ExtractFilePath(run.converter), kStylesFile);
  TJobHost& host = run.host;
  int startError = 0;
  std::string errorOutput;
  // Stop is looked at while the converter runs: one that hangs must not
  // hold the export.
  const int code = platform::RunAndWait(
      run.converter, {"-s", styles, "-i", input, "-o", output},
      [&host] {
        host.showSB("", "", "");
        return !host.StopRequested();
      },
      std::chrono::milliseconds(20), &startError, &errorOutput);
  if (code == platform::kStoppedExitCode) {
    run.counts.stopped = true;  // what it wrote goes with the staging folder
    return false;
  }
  if (startError != 0) {
    host.ShowMessage(ProgramNotRunMessage(kConverterName, run.converter, StartErrorReason(startError)), "");
    return false;
  }
  // A converter that says it succeeded but wrote nothing has not exported
  // the book either.
  if (code != 0 || !platform::FileExists(output)) {
    const std::string said = LastErrorLines(std::move(errorOutput));
    std::string kind = std::to_string(code) + "\n" + said;
    for (const std::string& own : {output, input, lrfName, fb2Name}) kind = Masked(std::move(kind), own);
    if (std::find(run.toldFailures.begin(), run.toldFailures.end(), kind) == run.toldFailures.end()) {
      run.toldFailures.push_back(std::move(kind));
      host.ShowMessage(ConverterFailedMessage(run.converter, fb2Name, lrfName, code, said), "");
    }
    return false;
  }
  const std::string target = platform::JoinPath(run.destDir, lrfName);
  if (!platform::RenameOver(output, target)) ThrowNotWritten(target, errno);
  return true;
}

constexpr size_t kBooksNamed = 10;     // more would not fit a box
constexpr size_t kArchivesNamed = 5;

// " a, b, c и ещё <n>": the first kBooksNamed of `books`.
std::string BookNames(const std::vector<std::string>& books) {
  std::string text;
  for (size_t k = 0; k < books.size() && k < kBooksNamed; ++k) text += (k ? ", " : " ") + books[k];
  if (books.size() > kBooksNamed) text += " и ещё " + std::to_string(books.size() - kBooksNamed);
  return text;
}

void ReportCounts(TJobHost& host, const TExportCounts& counts, size_t total) {
  std::string text;
  if (counts.stopped)
    text += "Экспорт прерван: обработано файлов " + std::to_string(counts.succeeded + counts.failed) + " из " +
            std::to_string(total) + "\n";
  if (counts.succeeded > 0) text += kMsgExported + std::to_string(counts.succeeded) + "\n";
  if (counts.failed > 0) text += kMsgNotExported + std::to_string(counts.failed);
  if (!counts.notFound.empty()) text += "\nНе найдены в архивах книг:" + BookNames(counts.notFound);
  // Apart from the books not found: these may well be in the archive, which
  // the user has to replace.
  const auto& unread = counts.unreadArchives;
  for (size_t k = 0; k < unread.size() && k < kArchivesNamed; ++k)
    text += "\nНе прочитаны книги" + BookNames(unread[k].books) + ":\n" + unread[k].reason;
  if (unread.size() > kArchivesNamed)
    text += "\nи ещё не прочитанных архивов: " + std::to_string(unread.size() - kArchivesNamed);
  if (!text.empty()) host.ShowMessage(text, "");
}

}  // namespace

// --- finding a book -------------------------------------------------------------

bool isSafeFileNumber(std::string_view file) {
  if (file.empty() || file.find("..") != std::string_view::npos) return false;
  for (const char c : file) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return false;
    if (c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"') return false;
  }
  return true;
}

std::optional<int64_t> fileNumberValue(std::string_view file) {
  if (!isSafeFileNumber(file)) return std::nullopt;
  const std::string_view digits = file.substr(0, file.find('.'));
  if (digits.empty()) return std::nullopt;
  for (const char c : digits)
    if (c < '0' || c > '9') return std::nullopt;
  return LeadingNumber(digits);
}

std::optional<TBookArchive> archiveRange(const std::string& name) {
  if (name.size() < 4 || !EqualsIgnoringAsciiCase(std::string_view(name).substr(name.size() - 4), ".zip"))
    return std::nullopt;
  const std::string_view stem = std::string_view(name).substr(0, name.size() - 4);
  const size_t dash1 = stem.find('-');
  if (dash1 == std::string_view::npos) return std::nullopt;
  const size_t dash2 = stem.find('-', dash1 + 1);
  if (dash2 == std::string_view::npos) return std::nullopt;
  const std::optional<int64_t> first = LeadingNumber(stem.substr(dash1 + 1, dash2 - dash1 - 1));
  const std::optional<int64_t> last = LeadingNumber(stem.substr(dash2 + 1));
  if (!first || !last) return std::nullopt;
  return TBookArchive{name, *first, *last};
}

std::vector<TBookArchive> listBookArchives(const std::string& folder) {
  std::vector<TBookArchive> archives;
  // A folder so named is listed too: it stands where the archive of its
  // books should be, and is told as an archive that cannot be read.
  for (const platform::TFileInfo& entry : platform::ListFolder(folder)) {
    if (std::optional<TBookArchive> archive = archiveRange(entry.name))
      archives.push_back(std::move(*archive));
  }
  return archives;
}

TBookSource findArchiveOfFile(const std::vector<TBookArchive>& archives, const std::string& folder,
                              const AnsiString& file) {
  return FindBook(archives, folder, file, nullptr);
}

std::string archiveFolder() {
  const std::string& dir = AppState().libDir;
  return dir.empty() ? std::string() : absPath(dir);
}

std::string archiveFolderProblem() {
  const std::string folder = archiveFolder();
  if (folder.empty()) return kMsgArchiveDirNotSet;
  if (!platform::DirectoryExists(folder)) return kMsgNoArchiveDir + folder;
  return {};
}

namespace {

// FindBook in the archive folder of the settings.
TBookSource FindBookInArchiveFolder(const AnsiString& file,
                                    std::unique_ptr<archiver::TZipArchiver>* open) {
  if (!fileNumberValue(file)) return {};
  const std::string folder = archiveFolder();
  return FindBook(listBookArchives(folder), folder, file, open);
}

}  // namespace

TBookSource findArchiveOfFile(const AnsiString& file) {
  return FindBookInArchiveFolder(file, nullptr);
}

void extractZipMember(const std::string& zipPath, const std::string& member,
                      const std::string& destFolder, const std::string& newName) {
  archiver::TZipArchiver zip;
  zip.SetFileName(zipPath);
  zip.OpenArchive(archiver::ZAModeRead);
  ExtractMember(zip, member, destFolder, newName);
}

// --- reading -------------------------------------------------------------------------

bool readBook(TJobHost& host, const AnsiString& file) {
  const std::string reader = AppState().readerProgram.empty() ? std::string() : programPath(AppState().readerProgram);
  if (const std::string problem = ProgramFileProblem(kReaderName, reader, kMsgNoReader); !problem.empty()) {
    host.ShowMessage(problem, "");
    return false;
  }
  if (const std::string problem = archiveFolderProblem(); !problem.empty()) {
    host.ShowMessage(problem, "");
    return false;
  }
  const std::string fb2Name = platform::AnsiToUtf8(file) + ".fb2";
  std::unique_ptr<archiver::TZipArchiver> zip;
  const TBookSource source = FindBookInArchiveFolder(file, &zip);
  if (source.result == TBookLookup::BadFileNumber) {
    host.ShowMessage("Недопустимое имя файла книги: «" + platform::AnsiToUtf8(file) + "».", "");
    return false;
  }
  if (source.result == TBookLookup::ArchiveUnreadable) {
    host.ShowMessage(NotReadText(fb2Name, source.archive, source.reason), "");
    return false;
  }
  if (source.result != TBookLookup::Found) {
    host.ShowMessage("Книга " + fb2Name + " не найдена в архивах книг.", "");
    return false;
  }

  const std::string workDir = AppState().workDir;
  try {
    ForceWorkFolder(workDir);
    ExtractMember(*zip, source.member, workDir, fb2Name);
    zip.reset();
  } catch (const ENotWritten& e) {
    host.ShowMessage("Не удалось записать книгу " + fb2Name + " в рабочий каталог:\n" + FailureReason(e), "");
    return false;
  } catch (const std::exception& e) {
    host.ShowMessage(
        NotReadText(fb2Name, source.archive, FailureReason(e, platform::JoinPath(archiveFolder(), source.archive))),
        "");
    return false;
  }
  const std::string copy = platform::JoinPath(workDir, fb2Name);
  if (const int error = platform::StartDetached(reader, {copy}); error != 0) {
    platform::DeleteFile(copy);  // no reader has it
    host.ShowMessage(ProgramNotRunMessage(kReaderName, reader, StartErrorReason(error)), "");
    return false;
  }
  return true;
}

// --- export ------------------------------------------------------------------------------

int RemoveStagingLeftovers(const std::string& folder) {
  int removed = 0;
  for (const std::string& name : platform::FindTempNames(folder, kStagingPrefix)) {
    const std::string path = platform::JoinPath(folder, name);
    platform::TFileInfo info;
    if (!platform::GetFileInfo(path, info) || info.isLink || !info.isDir) continue;
    try {
      // Refused while an export holds it; missing while one is making it.
      const platform::TFile lock(platform::JoinPath(path, kStagingLock),
                                 platform::fmOpenReadWrite | platform::fmShareExclusive);
      platform::DeleteTree(path);
      ++removed;
    } catch (const platform::EFileError&) {
    }
  }
  return removed;
}

TExportCounts expFiles(TJobHost& host, const std::vector<AnsiString>& files, int32_t kind) {
  if (kind != ekFB2 && kind != ekLRF && kind != ekReaderDevice) return {};
  if (files.empty()) {
    host.ShowMessage(kMsgNothingSelected, "");
    return {};
  }
  TAppState& app = AppState();
  std::string destDir;
  if (kind == ekReaderDevice) {
    app.deviceDir = findReaderBooksDir();
    if (app.deviceDir.empty()) {
      host.ShowMessage(kMsgNoDevice, "");
      return {};
    }
    destDir = app.deviceDir;
  } else {
    destDir = app.expDir.empty() ? std::string() : absPath(app.expDir);
    if (destDir.empty() || !platform::DirectoryExists(destDir)) {
      host.ShowMessage(kMsgNoExportDir, "");
      return {};
    }
  }
  // Without it every book would count as missing from the archives.
  if (const std::string problem = archiveFolderProblem(); !problem.empty()) {
    host.ShowMessage(problem, "");
    return {};
  }

  // What a conversion cut short by a crash left (on the device, say).
  if (kind != ekFB2) RemoveStagingLeftovers(destDir);

  TJobScope job(host);
  host.ClearStopRequest();
  TExportRun run{host, kind, archiveFolder(), {}, destDir, app.workDir, {}, {}, {}, {}};
  run.archives = listBookArchives(run.libDir);
  if (!app.converterProgram.empty()) run.converter = programPath(app.converterProgram);

  TExportCounts& counts = run.counts;
  const std::string total = std::to_string(files.size());
  for (size_t k = 0; k < files.size(); ++k) {
    if (host.StopRequested()) {
      counts.stopped = true;
      break;
    }
    const std::string name = platform::AnsiToUtf8(files[k]) + ".fb2";
    // Which book is being exported and how far the export is: a conversion
    // can take a while per book.
    host.showSB("Экспорт файла...", name, std::to_string(k + 1) + " из " + total);
    run.archive.clear();
    try {
      const bool exported = ExportBook(run, files[k]);
      if (counts.stopped) break;  // stopped within the book: not processed
      ++(exported ? counts.succeeded : counts.failed);
    } catch (const std::exception& e) {
      // Reading or writing failed: what follows would most likely fail the
      // same way, so the export ends here, says why, and that it ended
      // before its last book.
      ++counts.failed;
      counts.stopped = k + 1 < files.size();
      host.ShowMessage("Ошибка при экспорте книги " + name + ":\n" + FailureReason(e, run.archive), "");
      break;
    }
  }
  host.showSB(" ", " ", " ");
  ReportCounts(host, counts, files.size());
  return counts;
}

}  // namespace catalogue
