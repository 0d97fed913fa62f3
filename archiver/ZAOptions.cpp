#include "archiver/ZAOptions.h"

namespace archiver {

void TZAVolumeNumberInfo::Init() {
  volumeKind_ = vnkUnknown;
  volumeNumber_ = -1;
  lastVolumeNumber_ = -1;
}

void TZAVolumeNumberInfo::SetFirstVolume(bool v) {
  if (!v) return;
  volumeNumber_ = 0;
  volumeKind_ = vnkFirst;
}

bool TZAVolumeNumberInfo::LastVolume() const {
  if (lastVolumeNumber_ != -1) return volumeNumber_ == lastVolumeNumber_;
  return volumeKind_ == vnkLast;
}

void TZAVolumeNumberInfo::SetLastVolume(bool v) {
  if (!v) return;
  volumeNumber_ = lastVolumeNumber_;
  volumeKind_ = vnkLast;
}

void TZAVolumeNumberInfo::SetVolumeNumber(int v) {
  volumeKind_ = vnkCustom;
  volumeNumber_ = v;
}

bool TZAVolumeNumberInfo::IsEqualTo(const TZAVolumeNumberInfo& other) const {
  if (LastVolume()) return other.LastVolume();
  if (FirstVolume()) return other.FirstVolume();
  if (volumeNumber_ < 0) return volumeKind_ == other.volumeKind_;
  return volumeNumber_ == other.volumeNumber_;
}

int64_t TZASpanningOptions::GetVolumeSize(const TZAVolumeNumberInfo& volume) const {
  if (volume.FirstVolume() && firstVolumeSize_ > 0) return firstVolumeSize_;
  switch (volumeSize_) {
    case vsAutoDetect: return -1;
    case vsCustom: return customVolumeSize_;
    case vs1_44MB: return 1457664;
    case vs100MB: return 104857600;
    case vs200MB: return 209715200;
    case vs250MB: return 262144000;
    case vs600MB: return 629145600;
    case vs650MB: return 681574400;
    case vs700MB: return 734003200;
    case vs4700MB: return 4928307200LL;
  }
  return -1;
}

TZACompressionLevel ZAModeToLevel(int mode) {
  if (mode >= 1 && mode <= 3) return clFastest;
  if (mode >= 4 && mode <= 6) return clNormal;
  if (mode >= 7 && mode <= 9) return clMax;
  return clNone;
}

int ZALevelToMode(TZACompressionLevel level) {
  switch (level) {
    case clNone: return 0;
    case clFastest: return 1;
    case clNormal: return 6;
    case clMax: return 9;
  }
  return 0;
}

int ZABufferSizeByMode(int mode) {
  if (mode >= 1 && mode <= 3) return 524288;
  if (mode >= 7 && mode <= 9) return 1572864;
  return 1048576;
}

std::array<uint8_t, 2> ZAZlibHeaderByMode(int mode) {
  switch (mode) {
    case 1: case 2: return {0x78, 0x01};
    case 3: case 4: return {0x78, 0x5E};
    case 5: case 6: return {0x78, 0x9C};
    default: return {0x78, 0xDA};  // 0, 7, 8, 9 and anything else
  }
}

}  // namespace archiver
