#include "platform/FileAttributes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

int FileGetAttr(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    struct stat lst {};
    return ::lstat(path.c_str(), &lst) == 0 ? faSysFile : -1;
  }
  if (S_ISDIR(st.st_mode)) return faDirectory;
  if (!S_ISREG(st.st_mode)) return faSysFile;  // devices, pipes, sockets
  int attr = faArchive;
  if ((st.st_mode & S_IWUSR) == 0) attr |= faReadOnly;
  return attr;
}

bool FileIsReadOnly(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Root may write anything: only the owner's write bit says what the user
  // meant.
  if (::geteuid() == 0) return (st.st_mode & S_IWUSR) == 0;
  // Anyone else by what the system lets this process do: a file of another
  // user's, replaced in a folder we may write, would change owners.
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

bool FileSetAttr(const std::string& path, int attr) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  // A folder made read-only could not take the files extracted into it;
  // the bit means nothing for folders on the system the archives come from.
  if (S_ISDIR(st.st_mode)) return true;
  mode_t mode = st.st_mode & 07777;
  if (attr & faReadOnly)
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  else
    mode |= S_IWUSR;
  if (mode == (st.st_mode & 07777)) return true;
  return ::chmod(path.c_str(), mode) == 0;
}

uint32_t DateTimeToDosDateTime(std::time_t t) {
  struct tm lt {};
  if (::localtime_r(&t, &lt) == nullptr || lt.tm_year < 80) return (0u << 25) | (1u << 21) | (1u << 16);
  if (lt.tm_year > 207) return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
  const uint32_t date = (static_cast<uint32_t>(lt.tm_year - 80) << 9) |
                        (static_cast<uint32_t>(lt.tm_mon + 1) << 5) | static_cast<uint32_t>(lt.tm_mday);
  const uint32_t time = (static_cast<uint32_t>(lt.tm_hour) << 11) | (static_cast<uint32_t>(lt.tm_min) << 5) |
                        static_cast<uint32_t>(lt.tm_sec / 2);
  return (date << 16) | time;
}

bool DosDateTimeToDateTime(uint32_t dos, std::time_t& t) {
  const unsigned date = dos >> 16, time = dos & 0xFFFF;
  const int year = 1980 + static_cast<int>(date >> 9);
  const int month = static_cast<int>((date >> 5) & 15), day = static_cast<int>(date & 31);
  const int hour = static_cast<int>(time >> 11), minute = static_cast<int>((time >> 5) & 63);
  const int second = static_cast<int>(time & 31) * 2;
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return false;
  static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) return false;
  struct tm lt {};
  lt.tm_year = year - 1900;
  lt.tm_mon = month - 1;
  lt.tm_mday = day;
  lt.tm_hour = hour;
  lt.tm_min = minute;
  lt.tm_sec = second;
  lt.tm_isdst = -1;
  t = ::mktime(&lt);
  return t != static_cast<std::time_t>(-1);
}

int64_t FileAgeDos(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return DateTimeToDosDateTime(st.st_mtime);
}

bool FileSetDate(const std::string& path, std::time_t mtime) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = mtime;
  times[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool FileSetDosDate(const std::string& path, uint32_t dos) {
  std::time_t t;
  return DosDateTimeToDateTime(dos, t) && FileSetDate(path, t);
}

}  // namespace platform
