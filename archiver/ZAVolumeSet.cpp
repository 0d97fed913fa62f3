// Volume sets: naming the volumes, working out how an existing archive is
// laid out, and the volume layer that reads and writes across volumes.
//
// Relies on: the component's volume events (requests, disk full), its
// spanning options and media queries, the platform's file streams. Promises:
//  - a volume request that is cancelled, or answered again and again with a
//    file that is not there, ends in EZAException 45, never in a loop;
//  - a volume written in this set is never overwritten by a later one (a
//    disk that was not changed is asked for again);
//  - a local header or central entry is never cut between volumes unless it
//    is larger than a whole volume;
//  - after a failed write of a new set the first volume is the archive
//    stream again, cut where the set's items began.
#include "archiver/ZAVolumeSet.h"


#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

#include "archiver/ZAExcept.h"
#include "archiver/ZAPaths.h"
#include "archiver/ZARecords.h"
#include "archiver/ZAStreams.h"
#include "archiver/ZipArchiver.h"
#include "platform/Drives.h"
#include "platform/Files.h"

namespace archiver {

namespace {

// A volume request cancelled, or given up after too many tries (the
// sibling code 44 is the loader's).
constexpr int kVolumeRequestCancelled = 45;
// A new volume needs more free space than this.
constexpr int64_t kMinVolumeFreeSpace = 65536;
// Blocks of a copy into the volumes.
constexpr int64_t kCopyBlock = 1000000;
// Reading volumes never needs write access or locks: they may sit on
// read-only media, and the last one may be open already.
constexpr uint32_t kReadVolume = platform::fmOpenRead | platform::fmShareDenyNone;
constexpr uint32_t kRewriteVolume = platform::fmOpenReadWrite | platform::fmShareDenyNone;

std::string Numbered(const char* format, int n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, format, n);
  return buf;
}

bool VolumeExists(const std::string& name) { return !platform::FindExistingFile(name).empty(); }

std::string FolderOf(const std::string& path) {
  const std::string folder = ZAExtractFilePath(path);
  return folder.empty() ? std::string("./") : folder;
}

std::string AsciiLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// An extension written in small letters only ("zip", not "ZIP" or "Zip").
bool IsLowerCase(const std::string& ext) {
  const bool lower =
      std::any_of(ext.begin(), ext.end(), [](char c) { return c >= 'a' && c <= 'z'; });
  const bool upper =
      std::any_of(ext.begin(), ext.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  return lower && !upper;
}

// Volume `number` of a set being written (its last volume is not known yet).
TZAVolumeNumberInfo WrittenVolume(int number) {
  TZAVolumeNumberInfo volume;
  if (number == 0)
    volume.SetFirstVolume(true);
  else
    volume.SetVolumeNumber(number);
  return volume;
}

// OpenCorruptedArchives is off while the last volume is looked for: a
// volume without an end record is not the last one.
class TStrictOpening {
 public:
  explicit TStrictOpening(bool& flag) : flag_(flag), saved_(flag) { flag_ = false; }
  ~TStrictOpening() { flag_ = saved_; }
  TStrictOpening(const TStrictOpening&) = delete;
  TStrictOpening& operator=(const TStrictOpening&) = delete;

 private:
  bool& flag_;
  bool saved_;
};

}  // namespace

// --- Media ----------------------------------------------------------------------------

int64_t TZAMediaInfo::FreeSpace(const std::string& path) const {
  return platform::FreeSpace(FolderOf(path));
}

bool TZAMediaInfo::IsRemovable(const std::string& path) const {
  return ZAIsRemovableDrive(path.empty() ? "./" : path);
}

bool TZAMediaInfo::IsFloppy(const std::string& path) const { return ZAIsFloppyDrive(path); }

int64_t TZABaseArchiver::GetVolumeFreeSpace(const std::string& FileName) const {
  return FMediaInfo->FreeSpace(FileName);
}

void TZABaseArchiver::SetMediaInfo(std::shared_ptr<const TZAMediaInfo> v) {
  FMediaInfo = v ? std::move(v) : std::make_shared<TZAMediaInfo>();
}

// --- Volume names -----------------------------------------------------------------------

std::string TZABaseArchiver::GetVolumeFileName(const std::string& FileName, int VolumeNo,
                                               bool CheckExists) const {
  const std::string folder = ZAExtractFilePath(FileName);
  const std::string ext = ZAExtractFileExt(FileName);
  const std::string name = ZAExtractFileName(FileName);
  const std::string base = folder + name.substr(0, name.size() - ext.size());
  const bool sfx =
      (FDMHandle && FDMHandle->StubSize != 0) || !FSFXStub.empty() || IsSFXFileName(FileName);
  // The private flavour's methods (252 and above, 0xFFFF in the base class)
  // name their volumes .F01 ... .ZF.
  const bool privateMethod = FCompressionMethod >= 252;
  const int n = VolumeNo + 1;

  // A suffix the naming spells in capitals: a new volume takes the case of
  // the archive's own extension (x.zip: x.z01), an existing one is found in
  // any case, the capitals first.
  const auto suffixed = [&](const std::string& suffix) {
    const std::string own = base + (IsLowerCase(ext) ? AsciiLower(suffix) : suffix);
    if (!CheckExists) return own;
    for (const std::string& s : {suffix, own.substr(base.size()), AsciiLower(suffix)})
      if (platform::FileExists(base + s)) return base + s;
    const std::string found = platform::FindExistingFile(own);
    return found.empty() ? own : found;
  };

  if (VolumeNo < 0) {
    if (FSpanningMode == smSplitting && sfx) return suffixed(privateMethod ? ".ZF" : ".ZIP");
    return FileName;
  }
  switch (FSpanningMode) {
    case smSpanning: {
      const std::string e = sfx ? (IsSFXFileName(FileName) ? ext : ".exe") : ext;
      const std::string plain = base + e;
      const std::string numbered = base + Numbered("_%03u", n) + e;
      const std::string first = FSpanningOptions.AdvancedNaming() ? numbered : plain;
      if (CheckExists && !VolumeExists(first)) {
        const std::string other = FSpanningOptions.AdvancedNaming() ? plain : numbered;
        if (VolumeExists(other)) return other;
      }
      return first;
    }
    case smSplitting: {
      if (VolumeNo == 0 && sfx) return IsSFXFileName(FileName) ? FileName : base + ".exe";
      if (FSpanningOptions.AdvancedNaming()) return base + Numbered("_%03u", n) + ext;
      const std::string part = suffixed(Numbered(privateMethod ? ".F%02d" : ".Z%02d", n));
      // The first volume of a self-extracting set opened through its last
      // volume (x.zip) is x.exe.
      if (CheckExists && VolumeNo == 0 && !VolumeExists(part)) {
        const std::string exe = platform::FindExistingFile(base + ".exe");
        if (!exe.empty()) return exe;
      }
      return part;
    }
    case smNone:
      break;
  }
  return FileName;
}

// --- Opening an existing archive -----------------------------------------------------------

void TZABaseArchiver::OpenLastVolume() {
  FDMHandle.reset();
  FVolumeNumberInfo.Init();
  FVolumeNumberInfo.SetLastVolume(true);
  if (FSpanningMode == smNone)
    OpenArchiveStream();
  else
    FVolumes->OpenVolumeFile(RequestVolumeForReading(FVolumeNumberInfo), FFileOpenMode);
  FDMHandle = std::make_unique<TZADirManager>(FCompressedStream, false, this);
}

void TZABaseArchiver::OpenFromLastVolume() {
  TStrictOpening strict(FOpenCorruptedArchives);
  const std::string folder = ZAExtractFilePath(FFileName);
  // Each pass that finds no end record asks for the last disk again.
  for (int pass = 0;; ++pass) {
    if (pass >= ZAMaxVolumeRequests) throw EZAException(kVolumeRequestCancelled, FName);
    if (platform::FindExistingFile(FFileName).empty() && FMediaInfo->IsRemovable(folder))
      FSpanningMode = smSpanning;
    OpenLastVolume();
    if (DetectSpanningMode() || FSpanningMode == smNone) break;
  }
  if (FSpanningMode == smNone) SelectSingleVolume();
}

void TZABaseArchiver::OpenSFXArchive() {
  TStrictOpening strict(FOpenCorruptedArchives);
  OpenLastVolume();
  if (DetectSpanningMode()) {
    if (FSpanningMode == smNone) SelectSingleVolume();
    return;
  }
  // Without an end record the file is the first volume of a split set,
  // whose last volume has the same name with ".zip".
  FSpanningMode = smSplitting;
  const std::string last = GetVolumeFileName(FFileName, -1, true);
  FSpanningMode = smNone;
  if (platform::FileExists(last)) {
    FDMHandle.reset();
    FVolumes->OpenVolumeFile(last, FFileOpenMode);
    FDMHandle = std::make_unique<TZADirManager>(FCompressedStream, false, this);
    DetectSpanningMode();
  }
  if (FSpanningMode == smNone) SelectSingleVolume();  // (a damaged self-extracting file too)
}

void TZABaseArchiver::SelectSingleVolume() {
  FVolumeNumberInfo.SetLastVolumeNumber(0);
  FVolumeNumberInfo.SetLastVolume(true);
}

bool TZABaseArchiver::DetectSpanningMode() {
  TZAZipCentralDirEnd end;
  int64_t offset = -1;
  // An end record of the component's own flavour counts as found (what
  // HasCentralDirEnd answers with OpenCorruptedArchives off); the private
  // flavour reads a zip end record too.
  const uint32_t signature = FisZIPFormat ? ZA_SIG_CENTRAL_DIR_END : ZA_SIG_CENTRAL_DIR_END_NZ;
  const bool own = FDMHandle->FindCentralDirEnd(end, offset, signature);
  const bool found =
      own || (!FisZIPFormat && FDMHandle->FindCentralDirEnd(end, offset, ZA_SIG_CENTRAL_DIR_END));
  // Asked only when it matters: plain archives are opened often.
  const auto removable = [this] {
    return FMediaInfo->IsRemovable(
        ZAExtractFilePath(VolumeFileName.empty() ? FFileName : VolumeFileName));
  };
  if (!found) {
    FSpanningMode = removable() ? smSpanning : smNone;
    return own;
  }
  int64_t last = end.diskNumber;
  if (last == ZA_SENTINEL16 && offset >= static_cast<int64_t>(TZAZip64CentralDirEndLocator::Size)) {
    TZAZip64CentralDirEndLocator locator;
    FCompressedStream->SetPosition(offset -
                                   static_cast<int64_t>(TZAZip64CentralDirEndLocator::Size));
    if (ZAReadRecord(*FCompressedStream, locator) && locator.signature == ZA_SIG_ZIP64_LOCATOR)
      last = static_cast<int64_t>(locator.totalNumberOfDisks) - 1;
  }
  if (last <= 0 || last > std::numeric_limits<int>::max()) {
    FSpanningMode = smNone;
    return own;
  }
  const int before = static_cast<int>(last - 1);
  FSpanningMode = smSplitting;
  if (VolumeExists(GetVolumeFileName(FFileName, before, true))) return own;
  const bool advanced = FSpanningOptions.AdvancedNaming();
  FSpanningOptions.SetAdvancedNaming(!advanced);
  if (VolumeExists(GetVolumeFileName(FFileName, before, true))) return own;
  FSpanningOptions.SetAdvancedNaming(advanced);
  if (IsSFXFileName(FFileName)) {
    FSpanningMode = smNone;
    return own;
  }
  // A last volume whose neighbours are missing: on removable media the
  // other disks are asked for; elsewhere the set is read as split, and a
  // volume that is not there is reported when an item needs it.
  FSpanningMode = removable() ? smSpanning : smSplitting;
  return own;
}

// --- The volume layer ------------------------------------------------------------------------

TZASpanningMode TZAVolumeSet::SpanningMode() const { return FArc.FSpanningMode; }

int TZAVolumeSet::CurrentVolumeNumber() const {
  return Single() ? 0 : std::max(FArc.FVolumeNumberInfo.VolumeNumber(), 0);
}

void TZAVolumeSet::AttachStream(std::unique_ptr<platform::TStream> stream,
                                const std::string& name) {
  FArc.FOwnedStream = std::move(stream);
  FArc.FCompressedStream = FArc.FOwnedStream.get();
  FArc.VolumeFileName = name;
  if (FArc.FDMHandle) FArc.FDMHandle->FCompressedStream = FArc.FCompressedStream;
}

void TZAVolumeSet::CloseVolume(bool flush) {
  if (flush)
    if (auto* h = dynamic_cast<platform::THandleStream*>(FArc.FOwnedStream.get())) h->Flush();
  if (FArc.FDMHandle) FArc.FDMHandle->FCompressedStream = nullptr;
  FArc.FCompressedStream = nullptr;
  FArc.FOwnedStream.reset();
}

void TZAVolumeSet::OpenVolumeFile(const std::string& name, uint32_t mode) {
  // Opened before the current volume is let go: a failure keeps it.
  auto stream = std::make_unique<platform::TFileStream>(
      name, mode == ZAModeCreate ? platform::fmCreate : mode);
  CloseVolume(false);
  AttachStream(std::move(stream), name);
}

platform::TStream* TZAVolumeSet::OpenVolumeForReading(int number, int lastNumber) {
  if (Single()) return nullptr;
  // An entry naming a volume the set does not have is damaged.
  if (number < 0 || (lastNumber >= 0 && number > lastNumber))
    throw EZAException(kVolumeRequestCancelled, FArc.FName);
  TZAVolumeNumberInfo wanted;
  wanted.SetLastVolumeNumber(lastNumber);
  if (number == lastNumber)
    wanted.SetLastVolume(true);
  else if (number == 0)
    wanted.SetFirstVolume(true);
  else
    wanted.SetVolumeNumber(number);
  if (FArc.FCompressedStream && FArc.FVolumeNumberInfo.IsEqualTo(wanted)) {
    FArc.FVolumeNumberInfo = wanted;  // the numbers may not have been known yet
    return FArc.FCompressedStream;
  }
  if (const auto refused = FRefused.find(number); refused != FRefused.end()) throw refused->second;
  std::string name;
  try {
    name = FArc.RequestVolumeForReading(wanted);
  } catch (const EZAException& e) {
    FRefused.emplace(number, e);
    throw;
  }
  OpenVolumeFile(name, kReadVolume);
  FArc.FVolumeNumberInfo = wanted;
  return FArc.FCompressedStream;
}

platform::TStream* TZAVolumeSet::OpenNextVolumeForReading() {
  if (Single()) return nullptr;
  const int current = FArc.FVolumeNumberInfo.VolumeNumber();
  const int last = FArc.FVolumeNumberInfo.LastVolumeNumber();
  if (current < 0 || current >= last) return nullptr;
  return OpenVolumeForReading(current + 1, last);
}

int64_t TZAVolumeSet::VolumeSizeOf(int number) const {
  return FArc.FSpanningOptions.GetVolumeSize(WrittenVolume(number));
}

int64_t TZAVolumeSet::Room(int64_t pending) const {
  platform::TStream* s = FArc.FCompressedStream;
  const int64_t free = FArc.GetVolumeFreeSpace(FArc.VolumeFileName);
  int64_t room = free < 0 ? std::numeric_limits<int64_t>::max() : free - pending;
  const int64_t size = VolumeSizeOf(CurrentVolumeNumber());
  if (size != -1) room = std::min(room, size - s->Size() - pending);
  return room;
}

bool TZAVolumeSet::WrittenBefore(const std::string& name) const {
  platform::TFileInfo info;
  const bool exists = platform::GetFileInfo(name, info);
  return std::any_of(FWritten.begin(), FWritten.end(), [&](const TWritten& w) {
    return w.name == name || (exists && w.id != platform::TFileId{} && w.id == info.id);
  });
}

void TZAVolumeSet::OpenVolumeForWriting(int number) {
  const bool spanning = SpanningMode() == smSpanning;
  CloseVolume(spanning);
  const TZAVolumeNumberInfo wanted = WrittenVolume(number);
  const int64_t size = VolumeSizeOf(number);
  for (int tries = 0;; ++tries) {
    if (tries >= ZAMaxVolumeRequests) throw EZAException(kVolumeRequestCancelled, FArc.FName);
    std::string name = FArc.FFileName;
    bool cancel = false;
    FArc.DoOnRequestBlankVolume(number, name, cancel);
    if (cancel) throw EZAException(kVolumeRequestCancelled, FArc.FName);
    // The disk in the drive holds a volume of this set already: writing
    // there would overwrite it.
    if (WrittenBefore(name)) continue;
    const int64_t free = FArc.GetVolumeFreeSpace(name);
    if (free < 0 || (free > kMinVolumeFreeSpace && (size <= 0 || !spanning || free >= size))) {
      std::unique_ptr<platform::TStream> stream;
      try {
        stream = std::make_unique<platform::TFileStream>(name, platform::fmCreate);
      } catch (const std::exception&) {
        throw EZAException(ZA_ERR_CANNOT_CREATE_FILE, FArc.FName, {name});
      }
      TWritten written{name, {}};
      platform::TFileInfo info;
      if (platform::GetFileInfo(name, info)) written.id = info.id;
      FWritten.push_back(written);
      AttachStream(std::move(stream), name);
      // A disk label would name the volume ("pkback# 001"); Linux offers no
      // portable way to set one, so the disks stay as they are.
      FArc.FVolumeNumberInfo = wanted;
      return;
    }
    cancel = false;
    FArc.DoOnDiskFull(number, name, cancel);
    if (cancel) throw EZAException(kVolumeRequestCancelled, FArc.FName);
  }
}

void TZAVolumeSet::CreateFirstVolume() {
  ResetWritten();
  OpenVolumeForWriting(0);
}

void TZAVolumeSet::ResetWritten() { FWritten.clear(); }

bool TZAVolumeSet::AppendToVolume(platform::TStream& stream, const void* data, int64_t count) {
  const int volume = CurrentVolumeNumber();
  const TZADiskFullHandler onDiskFull = [this, volume](int, const std::string& file, bool& cancel) {
    FArc.DoOnDiskFull(volume, file, cancel);
  };
  stream.Seek(0, platform::soEnd);
  return ZAWriteWithDiskFullRetry(stream, data, count, FArc.VolumeFileName, onDiskFull,
                                  FArc.FProgressCancel);
}

int64_t TZAVolumeSet::WriteToVolumes(const void* data, int64_t count,
                                     platform::TMemoryStream* buffer, int64_t keepTogether) {
  if (count <= 0) return 0;
  platform::TStream* s = FArc.FCompressedStream;
  if (!s) throw EZAException(ZA_ERR_NIL_POINTER, FArc.FName);
  if (Single()) return s->Write(data, count);
  const auto* p = static_cast<const uint8_t*>(data);
  int64_t written = 0;
  while (written < count) {
    s = FArc.FCompressedStream;
    const int64_t pending = buffer ? buffer->Size() : 0;
    const int64_t room = Room(pending);
    if (room < 0) break;
    const int64_t left = count - written;
    // A block larger than a whole volume is cut: it fits nowhere.
    const bool fresh = s->Size() == 0 && pending == 0;
    if (keepTogether < 0 || keepTogether + left <= room || fresh) {
      const int64_t n = std::min(room, left);
      if (n > 0) {
        if (buffer) {
          buffer->Seek(0, platform::soEnd);
          buffer->WriteBuffer(p + written, n);
        } else if (!AppendToVolume(*s, p + written, n)) {
          return written;  // a full disk the user gave up on
        }
        written += n;
      } else if (fresh) {
        break;  // an empty volume that takes nothing: no other will
      }
    }
    if (written < count) {
      if (buffer && buffer->Size() > 0) {
        if (!AppendToVolume(*s, buffer->Memory(), buffer->Size())) return written;
        buffer->Clear();
      }
      OpenVolumeForWriting(FArc.FVolumeNumberInfo.VolumeNumber() + 1);
    }
  }
  return written;
}

void TZAVolumeSet::WriteBufferToStream(const void* data, int64_t count,
                                       platform::TMemoryStream* buffer, int64_t keepTogether) {
  if (WriteToVolumes(data, count, buffer, keepTogether) < count)
    throw EZAException(ZA_ERR_STREAM_WRITE, FArc.FName);
}

bool TZAVolumeSet::CopyToVolumes(platform::TStream& source, int64_t count, bool showProgress,
                                 platform::TMemoryStream* buffer, int64_t keepTogether) {
  const int64_t total = count < 0 ? std::max<int64_t>(source.Size() - source.Position(), 0) : count;
  std::vector<uint8_t> block(static_cast<size_t>(std::clamp<int64_t>(total, 1, kCopyBlock)));
  bool cancel = false;
  if (showProgress) {
    FArc.DoOnCopyTempFileProgress(0, ppStart, cancel);
    if (cancel) return false;
  }
  for (int64_t copied = 0; copied < total;) {
    const int64_t n = std::min(kCopyBlock, total - copied);
    if (ZAReadFully(source, block.data(), n) != n)
      throw EZAException(ZA_ERR_STREAM_WRITE, FArc.FName);
    WriteBufferToStream(block.data(), n, buffer, keepTogether);
    copied += n;
    if (showProgress) {
      FArc.DoOnCopyTempFileProgress(
          static_cast<double>(copied) / static_cast<double>(total) * 100.0, ppProcess, cancel);
      if (cancel) return false;
    }
  }
  if (showProgress) {
    FArc.DoOnCopyTempFileProgress(100, ppEnd, cancel);
    if (cancel) return false;
  }
  return true;
}

int64_t TZAVolumeSet::WritePosition(platform::TMemoryStream* buffer) const {
  platform::TStream* s = FArc.FCompressedStream;
  if (!s) throw EZAException(ZA_ERR_NIL_POINTER, FArc.FName);
  return s->Size() + (buffer ? buffer->Size() : 0);
}

void TZAVolumeSet::WriteKeptTogether(platform::TStream*& stream, const void* data, int64_t count) {
  if (Single()) {
    TZASingleFileVolumes().WriteKeptTogether(stream, data, count);
    return;
  }
  WriteBufferToStream(data, count, nullptr, 0);
  stream = FArc.FCompressedStream;
}

void TZAVolumeSet::ReserveRoom(platform::TStream*& stream, int64_t count) {
  if (Single() || count <= 0) return;
  platform::TStream* s = FArc.FCompressedStream;
  if (!s) throw EZAException(ZA_ERR_NIL_POINTER, FArc.FName);
  if (s->Size() == 0 || count <= Room(0)) return;
  OpenVolumeForWriting(CurrentVolumeNumber() + 1);
  stream = FArc.FCompressedStream;
}

platform::TStream* TZAVolumeSet::FinishWriting(platform::TStream* stream) {
  if (Single()) return stream;
  const bool spanning = SpanningMode() == smSpanning;
  TZAVolumeNumberInfo& info = FArc.FVolumeNumberInfo;
  info.SetLastVolumeNumber(CurrentVolumeNumber());
  info.SetLastVolume(true);
  const std::string current = FArc.VolumeFileName;
  // The last volume carries the archive's name: in its folder when spanned
  // (each disk is a folder of its own), beside the others when split.
  const std::string lastName = FArc.GetVolumeFileName(FArc.FFileName, -1, false);
  const bool renamed = spanning ? ZAExtractFileName(current) != ZAExtractFileName(FArc.FFileName)
                                : current != FArc.FFileName;
  if (!renamed) {
    if (spanning)
      if (auto* h = dynamic_cast<platform::THandleStream*>(FArc.FCompressedStream)) h->Flush();
    return FArc.FCompressedStream;
  }
  const std::string target =
      spanning ? ZAExtractFilePath(current) + ZAExtractFileName(lastName) : lastName;
  CloseVolume(spanning);
  if (!platform::RenameFile(current, target)) {
    OpenVolumeFile(current, kRewriteVolume);
    throw EZAException(ZA_ERR_CANNOT_CREATE_FILE, FArc.FName, {target});
  }
  if (!FWritten.empty()) FWritten.back().name = target;
  OpenVolumeFile(target, kRewriteVolume);
  return FArc.FCompressedStream;
}

void TZAVolumeSet::RestartWriting(int64_t cut) {
  if (Single()) return;
  platform::TStream* s = FArc.FCompressedStream;
  if (s && CurrentVolumeNumber() == 0) {
    if (FWritten.size() > 1) FWritten.resize(1);
    s->SetSize(cut);
    s->SetPosition(cut);
    return;
  }
  CloseVolume(false);
  if (FWritten.empty()) throw EZAException(ZA_ERR_NIL_POINTER, FArc.FName);
  int64_t keep = cut;
  if (SpanningMode() == smSplitting) {
    for (size_t i = 1; i < FWritten.size(); ++i) platform::DeleteFile(FWritten[i].name);
    FWritten.resize(1);
  } else {
    // The other disks are out of reach: the one in the drive is emptied.
    if (FWritten.size() > 1) keep = 0;
    FWritten.erase(FWritten.begin(), FWritten.end() - 1);
  }
  OpenVolumeFile(FWritten.front().name, kRewriteVolume);
  FArc.FCompressedStream->SetSize(keep);
  FArc.FCompressedStream->SetPosition(keep);
  FArc.FVolumeNumberInfo.Init();
  FArc.FVolumeNumberInfo.SetFirstVolume(true);
}

}  // namespace archiver
