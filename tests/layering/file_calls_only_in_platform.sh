#!/usr/bin/env bash
# Fails when a library source outside platform/ calls the file system
# directly (system calls or std::filesystem): opening, examining, renaming,
# removing, syncing, locking or listing files, making temporary names, or
# reading the system's random source. Tests and benchmarks may; the
# libraries and the program may not.
set -euo pipefail
root=${1:-$(dirname "$0")/../..}
cd "$root"
calls='open|openat|creat|opendir|readdir|stat|lstat|fstat|fstatat|statx|rename|renameat|renameat2|unlink|rmdir|mkdir|chmod|fchmod|ftruncate|fsync|fdatasync|fcntl|flock|getrandom|mkdtemp|mkstemp|tmpfile|tmpnam'
# A call: the name not preceded by a member access or a longer identifier.
pattern="(^|[^.>A-Za-z0-9_])($calls)[[:space:]]*\\(|std::filesystem"
folders=(archiver dataaccess xbase catalogue app)
found=$(grep -rnE --include='*.cpp' --include='*.h' "$pattern" "${folders[@]}" 2>/dev/null |
  grep -vE '^[^:]+:[0-9]+:[[:space:]]*//' || true)
if [[ -n $found ]]; then
  echo "File-system calls outside platform/ (use platform/Files.h):"
  echo "$found"
  exit 1
fi
echo "no file-system calls outside platform/"
