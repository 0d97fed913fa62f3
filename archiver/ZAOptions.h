// The archiver's option objects, enumerations and compression-mode maps.
//
// TZAOptions is the component's Options, TZASpanningOptions its
// SpanningOptions, TZAVolumeNumberInfo names one volume of a multi-volume
// set. All are small value objects: copyable, not thread-safe.
#pragma once

#include <array>
#include <cstdint>

namespace archiver {

enum TZAStorePathMode { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };
enum TZACompressionLevel { clNone, clFastest, clNormal, clMax };
enum TZAOverwriteMode { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };
enum TZAFileShareMode { smShareCompat, smShareExclusive, smShareDenyWrite, smShareDenyRead, smShareDenyNone };
enum TZAVolumeSize {
  vsAutoDetect, vsCustom, vs1_44MB, vs100MB, vs200MB, vs250MB, vs600MB, vs650MB, vs700MB, vs4700MB
};
enum TZAVolumeNumberKind { vnkFirst, vnkLast, vnkCustom, vnkUnknown };

// The attribute set of a default search: read-only, hidden, system, volume,
// folder, archive, normal and the two NT bits (0x28BF).
inline constexpr int ZADefaultSearchAttr = 10431;

class TZAOptions {
 public:
  TZAStorePathMode StorePath() const { return storePath_; }
  void SetStorePath(TZAStorePathMode v) { storePath_ = v; }
  bool Recurse() const { return recurse_; }
  void SetRecurse(bool v) { recurse_ = v; }
  TZAFileShareMode ShareMode() const { return shareMode_; }
  void SetShareMode(TZAFileShareMode v) { shareMode_ = v; }
  TZAOverwriteMode OverwriteMode() const { return overwriteMode_; }
  void SetOverwriteMode(TZAOverwriteMode v) { overwriteMode_ = v; }
  bool CreateDirs() const { return createDirs_; }
  void SetCreateDirs(bool v) { createDirs_ = v; }
  bool ReplaceReadOnly() const { return replaceReadOnly_; }
  void SetReplaceReadOnly(bool v) { replaceReadOnly_ = v; }
  bool SetAttributes() const { return setAttributes_; }
  void SetSetAttributes(bool v) { setAttributes_ = v; }
  int SearchAttr() const { return searchAttr_; }
  void SetSearchAttr(int v) { searchAttr_ = v; }
  bool FlushBuffers() const { return flushBuffers_; }
  void SetFlushBuffers(bool v) { flushBuffers_ = v; }
  // Item names without bit 11 are written and read in the OEM code page (866).
  bool OEMFileNames() const { return oemFileNames_; }
  void SetOEMFileNames(bool v) { oemFileNames_ = v; }

  // Copies every option, the share mode included.
  void Assign(const TZAOptions& source) { *this = source; }

 private:
  TZAStorePathMode storePath_ = spRelativePath;
  bool recurse_ = true;
  TZAFileShareMode shareMode_ = smShareDenyNone;
  TZAOverwriteMode overwriteMode_ = omAlways;
  bool createDirs_ = true;
  bool replaceReadOnly_ = true;
  bool setAttributes_ = true;
  int searchAttr_ = ZADefaultSearchAttr;
  bool flushBuffers_ = true;
  bool oemFileNames_ = true;
};

// One volume of a set: the first, the last, a numbered one, or not yet known.
class TZAVolumeNumberInfo {
 public:
  TZAVolumeNumberInfo() { Init(); }
  // Kind unknown, number -1, last number -1.
  void Init();

  bool FirstVolume() const { return volumeNumber_ == 0; }
  // true: number 0, kind first; false does nothing.
  void SetFirstVolume(bool v);
  // With the last number known: this number is the last; else the kind says.
  bool LastVolume() const;
  // true: number := last number, kind last; false does nothing.
  void SetLastVolume(bool v);
  int VolumeNumber() const { return volumeNumber_; }
  void SetVolumeNumber(int v);
  int LastVolumeNumber() const { return lastVolumeNumber_; }
  void SetLastVolumeNumber(int v) { lastVolumeNumber_ = v; }
  TZAVolumeNumberKind VolumeKind() const { return volumeKind_; }

  bool IsEqualTo(const TZAVolumeNumberInfo& other) const;

 private:
  TZAVolumeNumberKind volumeKind_ = vnkUnknown;
  int volumeNumber_ = -1;
  int lastVolumeNumber_ = -1;
};

class TZASpanningOptions {
 public:
  bool AdvancedNaming() const { return advancedNaming_; }
  void SetAdvancedNaming(bool v) { advancedNaming_ = v; }
  int64_t FirstVolumeSize() const { return firstVolumeSize_; }
  void SetFirstVolumeSize(int64_t v) { firstVolumeSize_ = v; }
  TZAVolumeSize VolumeSize() const { return volumeSize_; }
  void SetVolumeSize(TZAVolumeSize v) { volumeSize_ = v; }
  int64_t CustomVolumeSize() const { return customVolumeSize_; }
  // Values below 65536 (negative ones included) store 65536.
  void SetCustomVolumeSize(int64_t v) { customVolumeSize_ = v < 65536 ? 65536 : v; }
  bool SaveDirToFirstVolume() const { return saveDirToFirstVolume_; }
  void SetSaveDirToFirstVolume(bool v) { saveDirToFirstVolume_ = v; }

  void Assign(const TZASpanningOptions& source) { *this = source; }

  // The byte size of a volume: the first volume's own size when set, else by
  // VolumeSize; -1 (vsAutoDetect) means "the free space of the medium".
  int64_t GetVolumeSize(const TZAVolumeNumberInfo& volume) const;

 private:
  bool advancedNaming_ = false;
  int64_t firstVolumeSize_ = 0;
  TZAVolumeSize volumeSize_ = vsAutoDetect;
  int64_t customVolumeSize_ = 0;
  bool saveDirToFirstVolume_ = false;
};

// Compression mode (0-9) <-> level, the compressor's input chunk, and the two
// zlib header bytes a stream of that level starts with.
TZACompressionLevel ZAModeToLevel(int mode);
int ZALevelToMode(TZACompressionLevel level);
int ZABufferSizeByMode(int mode);
std::array<uint8_t, 2> ZAZlibHeaderByMode(int mode);

}  // namespace archiver
