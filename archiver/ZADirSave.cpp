// Saving the central directory: the entries, the zip64 end records when the
// archive needs them, the end record and the archive comment (record
// layouts: ZARecords.h).
//
// The whole directory is assembled in memory first, so a name, extra area or
// comment too long for its 16-bit length raises before the stream is cut.
// Entries keep the name bytes their local headers hold (TDirItem::
// StoredName), so a directory written again stays readable by every peer.
#include <algorithm>

#include "archiver/ZADirectory.h"
#include "archiver/ZAExcept.h"

namespace archiver {

namespace {

// A single-file directory is written in blocks of this size.
constexpr size_t kWriteBlock = 1 << 20;

}  // namespace

void TZADirManager::SaveDir(bool RecreateCDirEnd, platform::TStream* stream, int64_t at) {
  if (stream) FCompressedStream = stream;
  if (!FCompressedStream) throw EZAException(ZA_ERR_NIL_POINTER, FArc->ComponentName());
  if (ArchiveComment.size() > 0xFFFF) throw EZAException(ZA_ERR_STREAM_WRITE, FArc->ComponentName());
  TZAVolumeLayer& volumes = VolumeLayer();
  const bool oem = FArc->OEMFileNames();

  // Every entry, with where each ends (a volume set keeps each one whole).
  std::string dir;
  std::vector<size_t> entryEnds;
  entryEnds.reserve(static_cast<size_t>(CDir.Count()));
  for (int i = 0; i < CDir.Count(); ++i) {
    ZAAppendCentralEntry(dir, CDir[i], oem);
    entryEnds.push_back(dir.size());
  }

  // Where the directory goes: replacing the one that is there, or at the end.
  const std::string comment = ArchiveComment;
  int64_t start = -1;
  if (!RecreateCDirEnd) {
    TZAZipCentralDirEnd end;
    int64_t endOffset = -1;
    const bool found =
        FindCentralDirEnd(end, endOffset, ZA_SIG_CENTRAL_DIR_END) ||
        (!FArc->isZIPFormat() && FindCentralDirEnd(end, endOffset, ZA_SIG_CENTRAL_DIR_END_NZ));
    if (found) {
      // Located as loading locates it: zip64 end records sit between the
      // directory and the end record, so "end offset minus size" would land
      // inside the old directory.
      const TZAZip64CentralDirEnd z64 = Zip64CentralDirEnd;
      const TZAZip64CentralDirEndLocator z64loc = Zip64CentralDirEndLocator;
      const bool zip64 = FZip64;
      try {
        start = LocateDirectory(end, endOffset).dirStart;
      } catch (const std::exception&) {
        start = CentralDirOffset > 0 && CentralDirOffset <= endOffset ? CentralDirOffset : endOffset;
      }
      Zip64CentralDirEnd = z64;
      Zip64CentralDirEndLocator = z64loc;
      FZip64 = zip64;
    }
  }
  ArchiveComment = comment;
  if (start < 0) start = at >= 0 ? at : FCompressedStream->Size();
  // A single file keeps its bytes past `start` until the directory is
  // written over them: a write that fails leaves the rest as it was.
  if (volumes.MultiVolume()) FCompressedStream->SetSize(start);
  FCompressedStream->SetPosition(start);

  // In a volume set the directory starts where its first entry lands, and
  // the end records are counted on their own volume.
  uint64_t entriesOnDisk = static_cast<uint64_t>(CDir.Count());
  if (volumes.MultiVolume() && !entryEnds.empty()) {
    volumes.ReserveRoom(FCompressedStream, static_cast<int64_t>(entryEnds.front()));
    start = FCompressedStream->Position();
  }
  const int startVolume = std::max(volumes.CurrentVolumeNumber(), 0);
  CentralDirOffset = start;
  if (volumes.MultiVolume()) {
    size_t from = 0;
    int volume = startVolume;
    entriesOnDisk = 0;
    for (size_t to : entryEnds) {
      volumes.WriteKeptTogether(FCompressedStream, dir.data() + from, static_cast<int64_t>(to - from));
      if (volumes.CurrentVolumeNumber() != volume) {
        volume = volumes.CurrentVolumeNumber();
        entriesOnDisk = 0;
      }
      ++entriesOnDisk;
      from = to;
    }
    // The end records are not cut between volumes either (zip64 records and
    // comment counted in full).
    const int64_t endRecords =
        static_cast<int64_t>(TZAZip64CentralDirEnd::Size + TZAZip64CentralDirEndLocator::Size +
                             TZAZipCentralDirEnd::Size + ArchiveComment.size());
    volumes.ReserveRoom(FCompressedStream, endRecords);
    if (volumes.CurrentVolumeNumber() != volume) entriesOnDisk = 0;
  } else {
    for (size_t from = 0; from < dir.size(); from += kWriteBlock) {
      const size_t n = std::min(kWriteBlock, dir.size() - from);
      volumes.WriteKeptTogether(FCompressedStream, dir.data() + from, static_cast<int64_t>(n));
    }
  }

  platform::TStream& s = *FCompressedStream;
  const int64_t position = s.Position();
  const uint64_t count = static_cast<uint64_t>(CDir.Count());
  const uint64_t size = dir.size();
  const int volume = std::max(volumes.CurrentVolumeNumber(), 0);

  TZAZipCentralDirEnd end;
  end.signature = CentralDirEnd.signature;
  end.diskNumber = static_cast<uint16_t>(std::min(volume, 0xFFFF));
  end.startDiskNumber = static_cast<uint16_t>(std::min(startVolume, 0xFFFF));
  end.entriesOnDisk = static_cast<uint16_t>(std::min<uint64_t>(entriesOnDisk, 0xFFFF));
  end.entriesCentralDir = static_cast<uint16_t>(std::min<uint64_t>(count, 0xFFFF));
  end.centralDirSize = static_cast<uint32_t>(std::min<uint64_t>(size, ZA_SENTINEL32));
  end.offsetStartDir = static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(start), ZA_SENTINEL32));
  end.commentLength = static_cast<uint16_t>(ArchiveComment.size());

  FZip64 = static_cast<uint64_t>(position) >= ZA_SENTINEL32 || count >= 0xFFFF ||
           volume >= 0xFFFF || startVolume >= 0xFFFF;
  if (FZip64) {
    TZAZip64CentralDirEnd& z = Zip64CentralDirEnd;
    z = TZAZip64CentralDirEnd();
    z.signature = ZA_SIG_ZIP64_CENTRAL_DIR_END;
    z.centralDirEndSize = TZAZip64CentralDirEnd::Size - 12;
    z.versionMadeBy = z.versionNeededToExtract = ZA_VERSION_ZIP64;
    z.diskNumber = static_cast<uint32_t>(volume);
    z.startDiskNumber = static_cast<uint32_t>(startVolume);
    z.entriesOnDisk = entriesOnDisk;
    z.entriesCentralDir = count;
    z.centralDirSize = size;
    z.offsetStartDir = static_cast<uint64_t>(start);
    TZAZip64CentralDirEndLocator& l = Zip64CentralDirEndLocator;
    l = TZAZip64CentralDirEndLocator();
    l.signature = ZA_SIG_ZIP64_LOCATOR;
    l.startDiskNumber = static_cast<uint32_t>(volume);
    l.offsetStartDirEnd = static_cast<uint64_t>(position);
    l.totalNumberOfDisks = static_cast<uint32_t>(volume) + 1;
    ZAWriteRecord(s, z);
    ZAWriteRecord(s, l);
  }
  ZAWriteRecord(s, end);
  if (!ArchiveComment.empty()) s.WriteBuffer(ArchiveComment.data(), static_cast<int64_t>(ArchiveComment.size()));
  if (!volumes.MultiVolume()) s.SetSize(s.Position());
  CentralDirEnd = end;
  FCompressedStream = volumes.FinishWriting(FCompressedStream);
  MarkOverlappingItems();
}

}  // namespace archiver
