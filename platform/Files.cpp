// Files, folders and paths: path text helpers, existence checks, the
// case-insensitive lookup of existing inputs, folder listing and clearing,
// whole-file reads and writes, and the user's data folder.
//
// Invariants: nothing here deletes or overwrites a file by surprise — the
// case-insensitive lookup is only for opening existing inputs, folder
// clearing never recurses or follows links into other folders, RenameFile
// refuses an existing target, and a whole-file rewrite goes through a
// temporary file in the same folder so the old content survives any failure.
#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/CodePage.h"
#include "platform/Random.h"
#include "platform/Streams.h"

namespace platform {
namespace {

[[noreturn]] void ThrowFile(const std::string& what, const std::string& path, int err) {
  throw EFileError(what + " \"" + path + "\": " + std::strerror(err), err, path);
}

// An open folder listing, closed on every exit.
struct Dir {
  DIR* d;
  explicit Dir(const std::string& path) : d(::opendir(path.empty() ? "." : path.c_str())) {}
  ~Dir() {
    if (d) ::closedir(d);
  }
  // The next entry's name other than "." and ".."; false at the end.
  bool Next(std::string& name) {
    while (dirent* e = d ? ::readdir(d) : nullptr) {
      name = e->d_name;
      if (name != "." && name != "..") return true;
    }
    return false;
  }
};

// The folder is what the failure is about: the user can do something about
// its permissions or its disk, not about a random name.
[[noreturn]] void ThrowTemporary(const std::string& path, int err) {
  throw EFileError("Cannot create a temporary file \"" + path + "\": " + std::strerror(err), err,
                   ExtractFilePath(path));
}

// The random part of a temporary name: kNoiseLength of these characters.
constexpr char kNoiseChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr size_t kNoiseLength = 8;

// Makes a fresh name `base` + random letters and digits + `suffix` and lets
// `create` try to make the entry (O_EXCL or mkdir): it returns false with
// errno EEXIST when the name is taken, which means another try.
template <class Create>
std::string MakeUnique(const std::string& base, const std::string& suffix, Create create) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char noise[kNoiseLength];
    RandomBytes(noise, sizeof noise);
    std::string path = base;
    for (unsigned char c : noise) path += kNoiseChars[c % (sizeof kNoiseChars - 1)];
    path += suffix;
    if (create(path)) return path;
    if (errno != EEXIST) ThrowTemporary(path, errno);
  }
  ThrowTemporary(base, EEXIST);
}

// The leading part of a file name that is kept in the name of its
// replacement: short enough that the whole stays under the system's limit,
// and cut between characters, not inside one.
std::string NameStem(const std::string& name) {
  constexpr size_t kMax = 64;
  if (name.size() <= kMax) return name;
  size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

std::string HomeDir() {
  const char* home = std::getenv("HOME");
  std::string h = home && *home ? home : "";
  if (h.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid())) h = pw->pw_dir;
  }
  return h;
}

// An XDG base folder: the variable when it holds an absolute path (relative
// values are to be ignored, as the XDG rules say), else `fallback` in home.
std::string XdgDir(const char* variable, const char* fallback) {
  const char* xdg = std::getenv(variable);
  if (xdg && xdg[0] == PathDelim) return xdg;
  return JoinPath(HomeDir(), fallback);
}

}  // namespace

std::string ProgramPath() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) throw EFileError("Cannot find the program's own file: " + ec.message(), ec.value());
  return p.string();
}

std::string ProgramDir() { return ExtractFilePath(ProgramPath()); }

std::string JoinPath(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  if (IsAbsolutePath(b)) return b;
  return IncludeTrailingPathDelimiter(a) + b;
}

std::string IncludeTrailingPathDelimiter(const std::string& p) {
  // An empty path stays empty: making it "/" would turn "this folder" into
  // the root folder.
  if (p.empty() || p.back() == PathDelim) return p;
  return p + PathDelim;
}

std::string ExcludeTrailingPathDelimiter(const std::string& p) {
  size_t end = p.find_last_not_of(PathDelim);
  if (end == std::string::npos) return p.empty() ? p : std::string(1, PathDelim);
  return p.substr(0, end + 1);
}

std::string ExtractFileName(const std::string& p) { return p.substr(p.rfind(PathDelim) + 1); }

std::string ExtractFilePath(const std::string& p) {
  size_t slash = p.rfind(PathDelim);
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

std::string ExtractFileExt(const std::string& p) {
  size_t dot = p.rfind('.');
  size_t slash = p.rfind(PathDelim);
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return p.substr(dot);
}

std::string ChangeFileExt(const std::string& p, const std::string& ext) {
  return p.substr(0, p.size() - ExtractFileExt(p).size()) + ext;
}

bool IsAbsolutePath(const std::string& p) { return !p.empty() && p[0] == PathDelim; }

std::string NormalizePath(std::string_view p) {
  const bool absolute = !p.empty() && p.front() == PathDelim;
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start < p.size()) {
    size_t end = p.find(PathDelim, start);
    if (end == std::string_view::npos) end = p.size();
    const std::string_view part = p.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out = absolute ? std::string(1, PathDelim) : std::string();
  for (const std::string_view part : parts) {
    out += part;
    out += PathDelim;
  }
  // The trailing '/' of the last part stays only where the path had one.
  if (!parts.empty() && p.back() != PathDelim) out.pop_back();
  return out;
}

bool FileExists(const std::string& p) {
  struct stat st {};
  return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& p) {
  struct stat st {};
  return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FindExistingFile(const std::string& p) {
  if (FileExists(p)) return p;
  const std::string dir = ExtractFilePath(p), name = ExtractFileName(p);
  if (name.empty()) return {};
  const std::string key = Utf8Upper(name);
  // The smallest matching name wins, so the choice is the same every time.
  std::string best, entry;
  for (Dir d(dir); d.Next(entry);) {
    if ((best.empty() || entry < best) && Utf8Upper(entry) == key && FileExists(dir + entry))
      best = entry;
  }
  return best.empty() ? std::string() : dir + best;
}

bool ForceDirectories(const std::string& p) {
  if (p.empty()) {
    errno = ENOENT;
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(p, ec);
  if (DirectoryExists(p)) return true;
  errno = ec ? ec.value() : ENOTDIR;
  return false;
}

bool IsWritableDirectory(const std::string& p) {
  return DirectoryExists(p) && ::access(p.c_str(), W_OK | X_OK) == 0;
}

int DeleteFilesInFolder(const std::string& dir) {
  if (dir.empty()) return 0;
  const std::string base = IncludeTrailingPathDelimiter(dir);
  int deleted = 0;
  std::string entry;
  for (Dir d(dir); d.Next(entry);) {
    struct stat st {};
    const std::string path = base + entry;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if ((S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) && ::unlink(path.c_str()) == 0) ++deleted;
  }
  return deleted;
}

bool DeleteFile(const std::string& p) { return !p.empty() && ::unlink(p.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // The file system cannot refuse a replacement itself: check first.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RenameOver(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::string ReadFileBytes(const std::string& p) {
  std::string found = FindExistingFile(p);
  const std::string& path = found.empty() ? p : found;
  TFile f(::open(path.c_str(), O_RDONLY | O_CLOEXEC), p);
  if (!f.IsOpen()) ThrowFile("Cannot open", p, errno);
  std::string bytes;
  char buf[64 * 1024];
  while (const int64_t n = f.Read(buf, sizeof buf)) bytes.append(buf, static_cast<size_t>(n));
  return bytes;
}

void WriteFileBytes(const std::string& p, const std::string& bytes) {
  TFile f(::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666), p);
  if (!f.IsOpen()) ThrowFile("Cannot create", p, errno);
  f.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
  f.Close();
}

void WriteFileAtomic(const std::string& p, const std::string& bytes) {
  TReplaceFile out(p, TReplaceFile::FollowLink);
  out.File().WriteAt(0, bytes.data(), static_cast<int64_t>(bytes.size()));
  out.Commit();
}

TFile CreateTempFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                     unsigned perms) {
  int fd = -1;
  std::string path = MakeUnique(IncludeTrailingPathDelimiter(dir) + prefix, suffix, [&](const std::string& p) {
    fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(perms));
    return fd >= 0;
  });
  return TFile(fd, std::move(path));
}

std::string CreateTempFileName(const std::string& dir, const std::string& prefix) {
  TFile f = CreateTempFile(dir, prefix);
  std::string path = f.Path();
  f.Close();
  return path;
}

std::string CreateTempFolder(const std::string& dir, const std::string& prefix) {
  return MakeUnique(IncludeTrailingPathDelimiter(dir) + prefix, {},
                    [](const std::string& p) { return ::mkdir(p.c_str(), 0700) == 0; });
}

std::vector<std::string> FindTempNames(const std::string& dir, const std::string& prefix,
                                       const std::string& suffix) {
  const auto isNoise = [](char c) { return c != '\0' && std::strchr(kNoiseChars, c) != nullptr; };
  std::vector<std::string> found;
  std::string entry;
  for (Dir d(dir); d.Next(entry);) {
    if (entry.size() != prefix.size() + kNoiseLength + suffix.size() ||
        entry.compare(0, prefix.size(), prefix) != 0 ||
        entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    if (std::all_of(entry.begin() + static_cast<ptrdiff_t>(prefix.size()),
                    entry.end() - static_cast<ptrdiff_t>(suffix.size()), isNoise))
      found.push_back(entry);
  }
  std::sort(found.begin(), found.end());
  return found;
}

// The folder and name prefix of the files made beside `target`: hidden,
// and named after it so that a leftover tells what it was for.
static std::string BesidePrefix(const std::string& target, std::string& dir) {
  dir = ExtractFilePath(target);
  if (dir.empty()) dir = "./";
  return "." + NameStem(ExtractFileName(target)) + ".";
}

// Where a chain of symbolic links at `p` ends: `p` itself when it is no
// link, else the path the last link names (a relative link read from its
// own folder), whether or not a file is there. A chain that does not end
// (a loop) is followed as far as the system's own limit of 40 links.
static std::string FollowLinks(const std::string& p) {
  std::string path = p;
  char to[PATH_MAX];
  for (int hops = 0; hops < 40; ++hops) {
    const ssize_t n = ::readlink(path.c_str(), to, sizeof to);
    if (n <= 0 || static_cast<size_t>(n) == sizeof to) break;  // no link (or a name no call takes)
    const std::string next(to, static_cast<size_t>(n));
    path = IsAbsolutePath(next) ? next : JoinPath(ExtractFilePath(path), next);
  }
  return path;
}

int DeleteReplacementLeftovers(const std::string& target) {
  std::vector<std::string> files = {target};
  if (std::string replaced = FollowLinks(target); replaced != target)
    files.push_back(std::move(replaced));
  int deleted = 0;
  for (const std::string& file : files) {
    std::string dir;
    const std::string prefix = BesidePrefix(file, dir);
    for (const std::string& name : FindTempNames(dir, prefix, ".tmp")) {
      // Files only: what a replacement makes.
      struct stat st {};
      const std::string path = IncludeTrailingPathDelimiter(dir) + name;
      if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0)
        ++deleted;
    }
  }
  return deleted;
}

std::string CreateTempLink(const std::string& p) {
  std::string dir;
  const std::string prefix = BesidePrefix(p, dir);
  try {
    return MakeUnique(IncludeTrailingPathDelimiter(dir) + prefix, ".tmp",
                      [&](const std::string& path) { return ::link(p.c_str(), path.c_str()) == 0; });
  } catch (const EFileError& e) {
    // Only a file system without hard links (or with too many) gets a copy.
    if (e.error != EPERM && e.error != ENOTSUP && e.error != EMLINK) throw;
  }
  TFile reserved = CreateTempFile(dir, prefix, ".tmp");
  const std::string path = reserved.Path();
  reserved.Close();
  if (!CopyFile(p, path, false)) {
    const int err = errno;
    ::unlink(path.c_str());
    ThrowFile("Cannot copy", p, err ? err : EIO);
  }
  return path;
}

// --- TReplaceFile ------------------------------------------------------------

TReplaceFile::TReplaceFile(const std::string& target, TLinks links)
    : target_(links == FollowLink ? FollowLinks(target) : target) {
  std::string dir;
  const std::string prefix = BesidePrefix(target_, dir);
  TFile file;
  try {
    // 0666 less the umask, as a new target would be created.
    file = CreateTempFile(dir, prefix, ".tmp", 0666);
  } catch (const EFileError& e) {
    throw EFileError("Cannot create a new file for \"" + target + "\": " + std::strerror(e.error),
                     e.error, e.path);
  }
  temp_ = file.Path();
  // Every failure of the new file is told with the name the user knows.
  file = TFile(file.Release(), target);
  struct stat st {};
  if (::lstat(target_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    // The owner first: a change of owner clears the set-id bits. Only the
    // superuser gives a file away, and only to a group it belongs to does
    // another user; what is refused stays the process's own.
    if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
        ::fchown(file.Handle(), st.st_uid, st.st_gid) != 0)
      (void)::fchown(file.Handle(), static_cast<uid_t>(-1), st.st_gid);
    // Before any byte is written, so nothing is ever readable that the old
    // file's permissions kept private.
    if (::fchmod(file.Handle(), st.st_mode & 07777) != 0) {
      const int err = errno;
      file.Close();
      ::unlink(temp_.c_str());
      ThrowFile("Cannot set the permissions of", target, err);
    }
  }
  stream_ = std::make_unique<THandleStream>(std::move(file));
}

TReplaceFile::~TReplaceFile() {
  stream_.reset();
  if (!committed_) ::unlink(temp_.c_str());
}

TFile& TReplaceFile::File() { return stream_->File(); }

void TReplaceFile::SetPermissions(unsigned perms) {
  if (::fchmod(stream_->File().Handle(), perms & 07777) != 0)
    ThrowFile("Cannot set the permissions of", target_, errno);
}
TStream& TReplaceFile::Stream() { return *stream_; }

void TReplaceFile::Commit(bool sync) {
  if (committed_) return;
  TFile& file = stream_->File();
  try {
    if (sync) file.Sync();
    file.Close();
  } catch (...) {
    ::unlink(temp_.c_str());
    committed_ = true;  // nothing of ours is left to remove
    throw;
  }
  if (!RenameOver(temp_, target_)) {
    const int err = errno;
    ::unlink(temp_.c_str());
    committed_ = true;
    ThrowFile("Cannot replace", target_, err);
  }
  committed_ = true;
  if (!sync) return;
  // Make the rename itself durable; a failure here loses nothing already done.
  SyncFolder(ExtractFilePath(target_));
}

bool GetFileInfo(const std::string& path, TFileInfo& info) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) return false;
  info = TFileInfo{};
  info.name = ExtractFileName(ExcludeTrailingPathDelimiter(path));
  info.isLink = S_ISLNK(st.st_mode);
  if (info.isLink) {
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0) st = target;  // else dangling: the link itself
  }
  info.isDir = S_ISDIR(st.st_mode);
  info.size = st.st_size;
  info.mtime = st.st_mtime;
  info.mode = st.st_mode;
  info.id = {st.st_dev, st.st_ino};
  return true;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  TFileInfo ia, ib;
  return GetFileInfo(a, ia) && GetFileInfo(b, ib) && ia.id == ib.id;
}

std::vector<TFileInfo> ListFolder(const std::string& dir) {
  std::vector<TFileInfo> out;
  const std::string base = IncludeTrailingPathDelimiter(dir);
  std::string entry;
  for (Dir d(dir); d.Next(entry);) {
    TFileInfo fi;
    if (GetFileInfo(base + entry, fi)) out.push_back(std::move(fi));
  }
  std::sort(out.begin(), out.end(), [](const TFileInfo& a, const TFileInfo& b) { return a.name < b.name; });
  return out;
}

bool RemoveFolder(const std::string& dir) {
  if (dir.empty()) return false;
  if (::rmdir(dir.c_str()) == 0) return true;
  struct stat st {};
  return ::lstat(dir.c_str(), &st) != 0;
}

void DeleteTree(const std::string& dir) {
  if (dir.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);  // removes links, does not follow them
}

bool CopyFile(const std::string& source, const std::string& dest, bool failIfExists) {
  TFile in(::open(source.c_str(), O_RDONLY | O_CLOEXEC), source);
  struct stat st {};
  if (!in.IsOpen() || ::fstat(in.Handle(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Copying a file onto itself would empty it before reading it.
  TFileInfo existing;
  if (GetFileInfo(dest, existing) && existing.id == TFileId{st.st_dev, st.st_ino}) return false;
  TFile out(::open(dest.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC),
                   st.st_mode & 0777),
            dest);
  if (!out.IsOpen()) return false;
  try {
    std::vector<char> buf(1 << 20);
    while (const int64_t n = in.Read(buf.data(), static_cast<int64_t>(buf.size()))) out.Write(buf.data(), n);
    ::fchmod(out.Handle(), st.st_mode & 07777);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out.Handle(), times);
    out.Close();
  } catch (const EFileError&) {
    return false;
  }
  return true;
}

bool SyncFolder(const std::string& dir) {
  TFile d(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), dir);
  return d.IsOpen() && ::fsync(d.Handle()) == 0;
}

std::string SystemTempDir() {
  const char* tmp = std::getenv("TMPDIR");
  if (tmp && *tmp && DirectoryExists(tmp)) return tmp;
  return "/tmp";
}

std::string RealPath(const std::string& p) {
  std::error_code ec;
  const std::filesystem::path real = std::filesystem::canonical(p, ec);
  return ec ? std::string() : real.string();
}

std::string UserDataDir() { return JoinPath(XdgDir("XDG_DATA_HOME", ".local/share"), "tomeshelf"); }

std::string UserConfigDir() { return XdgDir("XDG_CONFIG_HOME", ".config"); }

std::string GetCurrentDir() {
  std::string buf(4096, '\0');
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) return "/";
    buf.resize(buf.size() * 2);
  }
  buf.resize(std::strlen(buf.c_str()));
  return buf;
}

}  // namespace platform
