// The archive component's item search and item codec: thin members over the
// search unit (ZAFind) and the codec (ZACodec), which hold the logic.
#include "archiver/ZACodec.h"
#include "archiver/ZAFind.h"
#include "archiver/ZipArchiver.h"

namespace archiver {

// The component as the codec sees it: its settings, its progress state, its
// password and its event dispatchers.
class TZABaseArchiver::TCodecHost final : public TZACodecHost {
 public:
  explicit TCodecHost(TZABaseArchiver& a) : a_(a) {}

  TZAProgressState& CodecProgress() override { return a_; }
  TZACodecSettings CodecSettings() const override {
    TZACodecSettings s;
    s.ZipFormat = a_.FisZIPFormat;
    s.EncryptionMethod = a_.FZACryptoAlgorithm;
    s.Zip64Allowed = a_.FZip64Mode != zmDisabled;
    s.Zip64Always = a_.FZip64Mode == zmAlways;
    s.MultiVolume = a_.FSpanningMode != smNone;
    s.ArchiveFileName = a_.FFileName;
    s.ComponentName = a_.Name();
    s.ReadDamaged = a_.FExtractCorruptedFiles;
    s.Directory = a_.DMHandle();
    return s;
  }
  std::string CodecPassword() const override { return a_.FPassword; }
  void CodecFileProgress(const std::string& fileName, double percent, TZAProcessOperation op,
                         bool& cancel) override {
    a_.DoOnFileProgress(fileName, percent, op, ppProcess, cancel);
  }
  void CodecOverallProgress(double percent, TZAProcessOperation op, bool& cancel) override {
    a_.DoOnOverallProgress(percent, op, ppProcess, cancel);
  }
  void CodecAskPassword(const std::string& itemName, bool& skipFile) override {
    a_.DoOnPassword(itemName, a_.FPassword, skipFile);
  }
  void CodecDiskFull(int volumeNumber, const std::string& fileName, bool& cancel) override {
    a_.DoOnDiskFull(volumeNumber, fileName, cancel);
  }
  platform::TStream* CodecOpenVolume(int number, int lastNumber) override {
    return a_.Volumes().OpenVolumeForReading(number, lastNumber);
  }
  bool CodecConfirmRecords() override {
    // Pending entries of a transaction have no records yet.
    return a_.FUpdateCount == 0 && a_.FDMHandle && a_.FDMHandle->ConfirmLocalHeaders();
  }

 private:
  TZABaseArchiver& a_;
};

bool TZABaseArchiver::CompressItem(platform::TStream& Source, platform::TStream& Dest, TDirItem& Item) {
  TCodecHost host(*this);
  return ZACompressItem(host, Source, Dest, Item);
}

bool TZABaseArchiver::DecompressItem(platform::TStream& Source, platform::TStream& Dest, TDirItem& Item,
                                     int32_t Count, int64_t StartPosition) {
  TCodecHost host(*this);
  return ZADecompressItem(host, Source, Dest, Item, Count, StartPosition);
}

TZASearchScope TZABaseArchiver::SearchScope() {
  CheckActive();
  return {FDMHandle->CDir, FOptions.Recurse(), &FFileMasks, &FExclusionMasks};
}

bool TZABaseArchiver::FindFirst(const std::string& FileMask, TZAArchiveItem& F, int SearchAttr,
                                const std::string& ExclusionMask) {
  return ZAFindFirst(SearchScope(), FileMask, F, SearchAttr, ExclusionMask);
}

bool TZABaseArchiver::FindFirst(TZAArchiveItem& F) {
  return ZAFindFirst(SearchScope(), F, FOptions.SearchAttr());
}

bool TZABaseArchiver::FindNext(TZAArchiveItem& F) { return ZAFindNext(SearchScope(), F); }

bool TZABaseArchiver::FindItemByName(const std::string& Name, int& Index) {
  Index = ZAFindItemByName(SearchScope(), Name);
  return Index >= 0;
}

int TZABaseArchiver::TagFiles(const std::string& FileMask, int SearchAttr, const std::string& ExclusionMask) {
  return ZATagFiles(SearchScope(), FileMask, SearchAttr, ExclusionMask);
}

int TZABaseArchiver::TagFiles() { return ZATagFiles(SearchScope(), FOptions.SearchAttr()); }

}  // namespace archiver
