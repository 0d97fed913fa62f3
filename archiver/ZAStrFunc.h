// Wildcard matching for the archiver's file masks.
//
// Every mask of the archiver (FileMasks, ExclusionMasks, NoCompressionMasks,
// the masks of FindFirst, ExtractFiles, AddFiles and of the disk scan) is
// matched by MatchesWildcard. Its rules differ from a shell's glob:
//  - `?` takes exactly one character, `*` any run of characters;
//  - a mask that is exactly "*.*" matches every name, the empty one included
//    (only as the whole mask; inside a mask it is `*`, `.`, `*`);
//  - a `*` that is not the mask's last character stands for a run that leaves
//    at least one name character for the rest of the mask, so "abc*" matches
//    "abc" but "abc**" does not, and "x*.*" matches "x.y" but not "x".
// Characters are Unicode code points of UTF-8 text; with ignoreCase only the
// ASCII letters A-Z fold. The matcher runs in O(|name| x |mask|) time,
// whatever the number of stars. Pure and thread-safe.
#pragma once

#include <string_view>

namespace archiver {

bool MatchesWildcard(std::string_view name, std::string_view mask, bool ignoreCase);

}  // namespace archiver
