// Disk masks of the add and move operations.
//
// AddFiles and MoveFiles take masks that name files on disk: a bare mask
// ("*.txt", "sub/*.fb2") is relative to the base folder (the component's
// BaseDir, else the current folder); "./x" is the same without being
// "relative" for exclusion matching; an absolute path ("/books/*.fb2") and a
// mask that climbs ("../x/*.txt") name their place directly. A '\' in a mask
// is taken as '/'. Matching is the archiver's wildcard match (ZAStrFunc.h),
// ASCII letters compared without case.
//
// The operations themselves (AddFiles, MoveFiles, AddFromStream/Buffer/
// String, UpdateFiles, DeleteFiles, RenameFile, ChangeFiles*) are members of
// TZABaseArchiver, implemented in ZAAdd.cpp and ZAChange.cpp.
//
// Pure functions; reentrant.
#pragma once

#include <string>

namespace archiver {

struct TZADiskMask {
  std::string Full;       // the mask as a full path ('/'-separated, normalised)
  bool Relative = false;  // a bare mask, taken below the base folder
};

// The full disk path of `mask` with `base` the base folder (a full path,
// with or without a trailing '/').
TZADiskMask ZAResolveDiskMask(const std::string& mask, const std::string& base);

// Whether the file (or, with `isFolder`, the folder) at the full path `path`
// matches the exclusion or no-compression mask `mask`:
//  - "*.*" matches everything;
//  - a relative mask without a '/' is matched against the name alone, at
//    any depth ("*.bak", "tmp"); one with a '/' against the path relative
//    to `base` ("sub/*.txt");
//  - an absolute mask is matched against the full path; one whose name part
//    is "*.*" takes every path below its folder;
//  - a mask ending in '/' names folders only ("tmp/", "/data/cache/").
bool ZAMatchDiskName(const std::string& path, const std::string& mask, bool isFolder,
                     const std::string& base);

}  // namespace archiver
