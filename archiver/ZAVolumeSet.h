// Volume sets: an archive written as, or read from, several files.
//
// Two layouts (TZASpanningMode):
//  - splitting: numbered files side by side, each at most the volume size;
//    the last volume carries the archive's own name and the central
//    directory's end record:  x.z01, x.z02, ..., x.zip
//    (".F01" ... for the private flavour; "x_001.zip" ... with
//    AdvancedNaming; a self-extracting set starts with x.exe and ends with
//    x.zip). Volume names take the case of the archive's extension: an
//    archive named x.zip gets x.z01, X.ZIP gets X.Z01; existing volumes are
//    found whatever their case.
//  - spanning: one file per removable disk, every one named as the archive
//    (or x_001.zip ... with AdvancedNaming); the user is asked for each disk.
//
// Within a volume set every record offset counts from the start of the
// volume that holds the record; a central entry names the volume of its
// item's local header, the end record the volume where the directory
// starts and its own. Local headers and central entries are never cut
// between volumes (an item's data may be); a block larger than a whole
// volume is the one exception, cut because it can go nowhere else.
//
// TZAVolumeSet is the component's volume layer. With the spanning mode
// smNone it is a plain single file; otherwise it opens the volume that the
// directory loader, the item reader or the commit needs, asking the
// application through the component's volume events (RequestVolume...,
// OnRequestBlankVolume, OnDiskFull), and cuts what is written into
// volumes. The volume being read or written is the component's archive
// stream; a switch frees the previous one, so callers keep no reference to
// the archive stream across a call that may switch volumes: they use the
// stream the call returns (or the component's, afterwards).
//
// The layer belongs to one component and is used from its thread only.
#pragma once


#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archiver/ZAExcept.h"
#include "archiver/ZAOptions.h"
#include "archiver/ZAVolumes.h"
#include "platform/Streams.h"

namespace archiver {

class TZABaseArchiver;

// What the volume layer asks about the media it writes to and reads from.
// The defaults ask the system; tests put in their own (a disk that fills, a
// removable drive), as may an application that knows better.
class TZAMediaInfo {
 public:
  virtual ~TZAMediaInfo() = default;
  // Bytes available to the user on the file system that holds `path` (a
  // file that may not exist yet: its folder is asked); -1 when unknown.
  virtual int64_t FreeSpace(const std::string& path) const;
  // The folder `path` lies on removable media.
  virtual bool IsRemovable(const std::string& path) const;
  // The folder `path` lies on a floppy disk (never on Linux): a spanned
  // set is then collected in memory per disk and written in one go.
  virtual bool IsFloppy(const std::string& path) const;
};

class TZAVolumeSet final : public TZAVolumeLayer {
 public:
  explicit TZAVolumeSet(TZABaseArchiver& arc) : FArc(arc) {}
  TZAVolumeSet(const TZAVolumeSet&) = delete;
  TZAVolumeSet& operator=(const TZAVolumeSet&) = delete;

  // --- TZAVolumeLayer ---------------------------------------------------------
  TZASpanningMode SpanningMode() const override;
  // Makes volume `number` (of a set whose last volume is `lastNumber`) the
  // archive stream, asking for it unless it is open already; nullptr for a
  // single file. EZAException 45 when the request is cancelled (or keeps
  // naming a missing file); a volume refused so is not asked for again
  // until ForgetRefusedVolumes, each item it holds failing at once with
  // the same error.
  platform::TStream* OpenVolumeForReading(int number, int lastNumber) override;
  // Lets the volumes refused so far be asked for again (a new operation;
  // the user may have found the file or disk since).
  void ForgetRefusedVolumes() { FRefused.clear(); }
  // The volume after the current one, or nullptr after the last.
  platform::TStream* OpenNextVolumeForReading() override;
  int CurrentVolumeNumber() const override;
  void WriteKeptTogether(platform::TStream*& stream, const void* data, int64_t count) override;
  void ReserveRoom(platform::TStream*& stream, int64_t count) override;
  // Gives the last volume of a split set the archive's name (or of a spanned
  // set with AdvancedNaming, the last-volume name on its disk) and reopens it
  // read-write as the archive stream, which is returned.
  platform::TStream* FinishWriting(platform::TStream* stream) override;

  // Opens the file `name` with a file-open mode of the component (ZAModeCreate
  // creates it) as the archive stream, in place of the current volume, which
  // stays when the file cannot be opened (the stream's exception passes on).
  void OpenVolumeFile(const std::string& name, uint32_t mode);

  // --- Writing ---------------------------------------------------------------------
  // Creates volume 0 of a new set as the archive stream (asking for a blank
  // disk when spanning). EZAException 45 when the user gives up.
  void CreateFirstVolume();
  // Appends up to `count` bytes to the volumes, going on to new volumes as
  // they fill; returns the bytes accepted. With `buffer` the bytes of the
  // current volume collect there and reach the volume when it is full (or
  // when the caller flushes the buffer). `keepTogether` -1 lets the bytes
  // be cut anywhere; otherwise `keepTogether` + `count` bytes must fit in one
  // volume, else the block starts on the next one. A single file takes the
  // bytes as they are.
  int64_t WriteToVolumes(const void* data, int64_t count, platform::TMemoryStream* buffer,
                         int64_t keepTogether);
  // The same, raising EZAException 46 when fewer than `count` bytes went.
  void WriteBufferToStream(const void* data, int64_t count, platform::TMemoryStream* buffer,
                           int64_t keepTogether);
  // Copies `count` bytes (-1: up to the end) from `source`'s position into
  // the volumes in blocks of 1,000,000 bytes. With `showProgress` the
  // copy-progress event fires (start, after each block, end); a cancel
  // from it stops the copy at once and the result is false. A source that
  // ends early raises EZAException 46.
  bool CopyToVolumes(platform::TStream& source, int64_t count, bool showProgress,
                     platform::TMemoryStream* buffer, int64_t keepTogether);
  // The position the next byte written gets in its volume (counting what a
  // buffer holds).
  int64_t WritePosition(platform::TMemoryStream* buffer) const;
  // Undoes a failed write of a new set: the volumes made after the first
  // are deleted (split sets; a spanned set's disks are out of reach and are
  // left, its current disk emptied), and the first volume, cut at `cut`,
  // is the archive stream again. Raises when the first volume cannot be
  // reopened.
  void RestartWriting(int64_t cut);
  // Forgets the volumes written so far (a new set, or a set written whole).
  void ResetWritten();

 private:
  struct TWritten {
    std::string name;
    platform::TFileId id;  // zero when it could not be told
  };

  bool Single() const { return SpanningMode() == smNone; }
  int64_t VolumeSizeOf(int number) const;
  // Bytes the current volume can still take, `pending` of them held
  // elsewhere (a buffer); INT64_MAX when neither size nor medium limits it.
  int64_t Room(int64_t pending) const;
  void OpenVolumeForWriting(int number);
  void CloseVolume(bool flush);
  void AttachStream(std::unique_ptr<platform::TStream> stream, const std::string& name);
  bool WrittenBefore(const std::string& name) const;
  bool AppendToVolume(platform::TStream& stream, const void* data, int64_t count);

  TZABaseArchiver& FArc;
  // Volumes whose request was refused, by number, with the error it raised.
  std::map<int, EZAException> FRefused;
  // The volumes of the set being written, in order.
  std::vector<TWritten> FWritten;
};

}  // namespace archiver
