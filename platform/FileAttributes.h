// DOS file attributes and DOS date-times on Linux.
//
// The archiver stores and restores the attributes and times that zip keeps:
// DOS attribute bits and the packed DOS date-time (local time, 2-second
// resolution, years 1980-2107). This unit maps them onto POSIX:
//  - a folder has faDirectory (0x10);
//  - a regular file always has faArchive (0x20), plus faReadOnly (0x01) when
//    the owner-write bit is clear;
//  - setting faReadOnly clears every write bit; clearing it gives the owner
//    write access back. Other bits have no POSIX counterpart and are ignored.
// Read-only is read from the mode bits, not from access(2), so a process
// running as root still sees read-only files. Thread-safe.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

enum : int {
  faReadOnly = 0x01,
  faHidden = 0x02,
  faSysFile = 0x04,
  faVolumeID = 0x08,
  faDirectory = 0x10,
  faArchive = 0x20,
  faAnyFile = 0x1FF,
};

// The DOS attributes of `path` (links followed); -1 when it does not exist;
// faSysFile when only a dangling link or an unreadable entry is there.
int FileGetAttr(const std::string& path);
// Whether `path` is a regular file that this process may not write (for
// root: one without the owner's write bit): one that a whole-file rewrite
// must leave alone, since the user made it so or it is another user's.
bool FileIsReadOnly(const std::string& path);
// Applies the read-only bit of `attr` to `path`; true on success.
bool FileSetAttr(const std::string& path, int attr);

// Packs a time into a DOS date-time (date in the high 16 bits, time in the
// low), in local time. Times before 1980 give 1980-01-01 00:00:00, times
// after 2107 give 2107-12-31 23:59:58; odd seconds round down.
uint32_t DateTimeToDosDateTime(std::time_t t);
// Unpacks a DOS date-time as local time. False when a field is out of range
// (month 0 or 13, day 0, hour 24, ...), which damaged archives do hold.
bool DosDateTimeToDateTime(uint32_t dos, std::time_t& t);

// The DOS date-time of the file's modification time; -1 when it is missing.
int64_t FileAgeDos(const std::string& path);
// Sets the file's modification time (the access time is left alone).
bool FileSetDate(const std::string& path, std::time_t mtime);
// The same from a DOS date-time; false also for an invalid date-time.
bool FileSetDosDate(const std::string& path, uint32_t dos);

}  // namespace platform
