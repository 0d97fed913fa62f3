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
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

#include "platform/CodePage.h"

namespace platform {
namespace {

[[noreturn]] void ThrowFile(const std::string& what, const std::string& path, int err) {
  throw EFileError(what + " \"" + path + "\": " + std::strerror(err), err);
}

// Closes a descriptor on every exit.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  int Release() { return std::exchange(fd, -1); }
};

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

void WriteAll(int fd, const std::string& bytes, const std::string& path) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowFile("Cannot write", path, errno);
    }
    done += static_cast<size_t>(n);
  }
}

// Creates a new file named `base` followed by six random letters or digits,
// with permissions `mode` (less the umask); returns its descriptor.
int CreateUniqueFile(const std::string& base, mode_t mode, std::string& path) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 rng{std::random_device{}()};
  for (int attempt = 0; attempt < 1000; ++attempt) {
    path = base;
    for (int i = 0; i < 6; ++i) path += kChars[rng() % (sizeof(kChars) - 1)];
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
    if (errno != EEXIST) ThrowFile("Cannot create a temporary file", path, errno);
  }
  ThrowFile("Cannot create a temporary file", base, EEXIST);
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
  if (p.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(p, ec);
  return DirectoryExists(p);
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

std::string ReadFileBytes(const std::string& p) {
  std::string found = FindExistingFile(p);
  const std::string& path = found.empty() ? p : found;
  Fd f{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (f.fd < 0) ThrowFile("Cannot open", p, errno);
  std::string bytes;
  char buf[64 * 1024];
  for (;;) {
    ssize_t n = ::read(f.fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowFile("Cannot read", p, errno);
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  return bytes;
}

void WriteFileBytes(const std::string& p, const std::string& bytes) {
  Fd f{::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)};
  if (f.fd < 0) ThrowFile("Cannot create", p, errno);
  WriteAll(f.fd, bytes, p);
  if (::close(f.Release()) != 0) ThrowFile("Cannot write", p, errno);
}

void WriteFileAtomic(const std::string& path, const std::string& bytes) {
  // Through a link the file it points at is replaced, and the link stays.
  std::string p = path;
  struct stat link {};
  if (::lstat(p.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    std::error_code ec;
    auto target = std::filesystem::weakly_canonical(p, ec);
    if (!ec) p = target.string();
  }
  const std::string dir = ExtractFilePath(p);
  std::string tmp;
  Fd f{CreateUniqueFile(dir + "." + ExtractFileName(p) + ".tmp", 0666, tmp)};
  try {
    struct stat old {};
    if (::stat(p.c_str(), &old) == 0) ::fchmod(f.fd, old.st_mode & 07777);  // keep its permissions
    WriteAll(f.fd, bytes, tmp);
    if (::fsync(f.fd) != 0) ThrowFile("Cannot write", tmp, errno);
    if (::close(f.Release()) != 0) ThrowFile("Cannot write", tmp, errno);
    if (::rename(tmp.c_str(), p.c_str()) != 0) ThrowFile("Cannot replace", p, errno);
  } catch (...) {
    ::unlink(tmp.c_str());
    throw;
  }
  // Make the rename itself durable; a failure here loses nothing already done.
  Fd d{::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (d.fd >= 0) ::fsync(d.fd);
}

std::string CreateTempFileName(const std::string& dir, const std::string& prefix) {
  std::string path;
  Fd f{CreateUniqueFile(IncludeTrailingPathDelimiter(dir) + prefix, 0600, path)};
  return path;
}

std::vector<TFileInfo> ListFolder(const std::string& dir) {
  // A folder that cannot be read lists as empty.
  std::vector<TFileInfo> out;
  const std::string base = IncludeTrailingPathDelimiter(dir);
  std::string entry;
  for (Dir d(dir); d.Next(entry);) {
    struct stat st {};
    const std::string path = base + entry;
    if (::stat(path.c_str(), &st) != 0 && ::lstat(path.c_str(), &st) != 0) continue;
    TFileInfo fi;
    fi.name = entry;
    fi.isDir = S_ISDIR(st.st_mode);
    fi.size = st.st_size;
    fi.mtime = st.st_mtime;
    fi.mode = st.st_mode;
    out.push_back(std::move(fi));
  }
  std::sort(out.begin(), out.end(), [](const TFileInfo& a, const TFileInfo& b) { return a.name < b.name; });
  return out;
}

std::string UserDataDir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  // Relative values are to be ignored, as the XDG base-directory rules say.
  if (xdg && xdg[0] == PathDelim) return JoinPath(xdg, "tomeshelf");
  const char* home = std::getenv("HOME");
  std::string h = home && *home ? home : "";
  if (h.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid())) h = pw->pw_dir;
  }
  return JoinPath(JoinPath(h, ".local/share"), "tomeshelf");
}

}  // namespace platform
