// Merging another zip archive into the open one.
//
// The merge is an update transaction whose new items are raw copies: each
// item of the other archive becomes a pending entry (Operation poMerge) that
// borrows the other archive's stream and keeps the other's central entry.
// The commit (ZACommit.cpp) copies each such item's local record byte for
// byte to its place and gives the entry its new offset; it never
// decompresses or decrypts. So the commit's guarantees serve the merge: an
// item whose record cannot be read is asked about (Retry, Ignore, Abort),
// a replaced item's old record leaves the file, and any failure, cancel or
// abort gives this archive back its old bytes.
//
// Relies on: the second component's loader (which measures a stub in front
// of the other archive, so each record is read where its offset says), the
// directory's exact-name lookup, the commit.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>

#include "archiver/ZAExcept.h"
#include "archiver/ZipArchiver.h"
#include "platform/Streams.h"

namespace archiver {

namespace {

// The file a stream reads, when it reads one.
std::optional<platform::TFileId> FileIdOf(platform::TStream* s) {
  auto* h = dynamic_cast<platform::THandleStream*>(s);
  if (!h) return std::nullopt;
  return h->File().Id();
}

}  // namespace

int TZipArchiver::MergeWith(const std::string& ArchiveFileName) {
  CheckActive();
  CheckNotInUpdate();
  // Raw copies go straight into one file: neither side may be a volume set
  // (a stricter CheckModifySpanning).
  if (FSpanningMode != smNone) throw EZAException(ZA_ERR_SPANNED_MODIFICATION, Name());

  TZipArchiver other;
  other.SetFileName(ArchiveFileName);
  other.Options().SetOverwriteMode(FOptions.OverwriteMode());
  // Names are compared as this archive reads its own.
  other.Options().SetOEMFileNames(FOptions.OEMFileNames());
  other.SetOpenCorruptedArchives(FOpenCorruptedArchives);
  other.OpenArchive(ZAModeReadShared);
  // The commit cuts and rewrites this file: it cannot also be the source.
  const std::optional<platform::TFileId> self = FileIdOf(FCompressedStream);
  if (self && self == FileIdOf(other.CompressedStream()))
    throw EZAException(ZA_ERR_CANNOT_OPEN_FILE, Name(), {ArchiveFileName});
  if (other.SpanningMode() != smNone) throw EZAException(ZA_ERR_SPANNED_MODIFICATION, Name());
  // Every record is copied: an entry whose offset was damaged must not cost
  // its neighbours theirs.
  other.DMHandle()->ConfirmLocalHeaders();

  platform::TStream* source = other.CompressedStream();
  // Borrowed for the commit only: the entries that hold it are written (and
  // let go of it) or dropped before `other` closes.
  const std::shared_ptr<platform::TStream> lent(source, [](platform::TStream*) {});
  const int64_t sourceSize = source->Size();
  const int64_t dirStart = std::min(other.DMHandle()->CentralDirOffset, sourceSize);
  TZADirArray& from = other.DMHandle()->CDir;

  BeginUpdate();
  int merged = 0;
  try {
    TZADirArray& dir = DMHandle()->CDir;
    for (int i = 0; i < from.Count(); ++i) {
      const TDirItem& src = from[i];
      const int index = dir.FindExactName(src.Name);
      // A clash is shown as paths into the two archives.
      if (index >= 0 && !ConfirmOverwrite(other.FileName() + "/" + src.Name, FFileName + "/" + src.Name,
                                          src.DosDateTime(), dir[index].DosDateTime()))
        continue;
      // The record may run up to the other's directory (to its end for an
      // item that lies behind the directory).
      const int64_t offset = static_cast<int64_t>(std::min<uint64_t>(src.LocalHeaderOffset(), INT64_MAX));
      QueueRawCopy(index, src, lent, offset, offset < dirStart ? dirStart : sourceSize);
      ++merged;
    }
  } catch (...) {
    CancelUpdate();
    throw;
  }
  EndUpdate();
  // The commit ends its work with ppEnd; a merge that had nothing to write
  // ends with it all the same.
  if (merged == 0) {
    bool cancel = false;
    DoOnOverallProgress(100, poMerge, ppEnd, cancel);
  }
  // Items the commit gave up (ignored failures) are gone again, and a
  // rollback leaves none.
  merged = 0;
  const TZADirArray& dir = DMHandle()->CDir;
  for (int i = 0; i < dir.Count(); ++i)
    if (dir[i].Modified && dir[i].Operation == poMerge) ++merged;
  return merged;
}

}  // namespace archiver
