// The reason a failure is given to the user with.
//
// The components below the catalogue raise their own texts: the archiver's
// fixed English messages with a native code, the platform's system
// messages. The failures a reader of the catalogue actually meets — a file
// that is not there, a file that is no zip archive, damaged data, no
// permission, a full disk — are told in Russian with the file's name; any
// other failure keeps its component's text, which says more than a
// paraphrase could.
#pragma once

#include <exception>
#include <string>

namespace catalogue {

// The user's reason for `e` (UTF-8). `archive` is the zip file the
// archiver was working on when `e` is one of its errors (its messages do
// not always name it); file errors name their own file. Without a name
// the reason is told without one.
std::string FailureReason(const std::exception& e, const std::string& archive = {});

}  // namespace catalogue
