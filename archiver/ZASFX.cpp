// Self-extracting archives: a stub file followed by the archive.
//
// Layout written:
//   [stub: the SFXStub file, byte for byte] [the archive's items] [central
//   directory with every offset moved by the stub's length] [end records]
// which is what "cat stub archive > out; zip -A out" gives. The stub is any
// file (a shell script, a program); the output gets its permission bits.
//
// Relies on: the loader, which measures a stub in front of the first item
// (DetermineStubSize) and counts it into the offsets, and SaveDir, which
// writes that directory again in place. Promises: every check is made
// before anything is written, and SFXFileName is replaced only by a
// complete output (platform::TReplaceFile); the archive itself is only
// read.
#include <memory>
#include <optional>

#include "archiver/ZAExcept.h"
#include "archiver/ZipArchiver.h"
#include "platform/Files.h"
#include "platform/Streams.h"

namespace archiver {

namespace {

constexpr int64_t kAppendBlock = 1 << 20;

std::optional<platform::TFileId> IdOfFile(const std::string& path) {
  platform::TFileInfo info;
  if (path.empty() || !platform::GetFileInfo(path, info)) return std::nullopt;
  return info.id;
}

}  // namespace

void TZABaseArchiver::MakeSFX(const std::string& SFXFileName) {
  if (FSFXStub.empty()) throw EZAException(ZA_ERR_NO_SFX_STUB, FName);
  const std::string stub = platform::FindExistingFile(FSFXStub);
  if (stub.empty()) throw EZAException(18, FName, {FSFXStub});
  if (FSpanningMode != smNone) throw EZAException(ZA_ERR_MAKESFX_SPANNED, FName);
  // Writing over the archive or the stub would read what is being written.
  const std::optional<platform::TFileId> out = IdOfFile(SFXFileName);
  if (out && (out == IdOfFile(stub) || (!FInMemory && !FIsCustomStream && out == IdOfFile(FFileName))))
    throw EZAException(ZA_ERR_MAKESFX, FName);

  // The archive: the open one, or FileName read with a directory of its own.
  std::unique_ptr<platform::TStream> file;
  std::unique_ptr<TZADirManager> loaded;
  platform::TStream* source = FCompressedStream;
  const TZADirManager* dm = FDMHandle.get();
  if (!FActive) {
    const std::string name = platform::FindExistingFile(FFileName);
    if (name.empty()) throw EZAException(12, FName, {FFileName});
    file = std::make_unique<platform::TFileStream>(name, platform::fmOpenRead | platform::fmShareDenyNone);
    loaded = std::make_unique<TZADirManager>(file.get(), false, this);
    loaded->LoadDir();
    source = file.get();
    dm = loaded.get();
  }
  if (dm->StubSize > 0) throw EZAException(ZA_ERR_HAS_SFX_STUB, FName);
  platform::TFileInfo stubInfo;
  if (!platform::GetFileInfo(stub, stubInfo)) throw EZAException(18, FName, {FSFXStub});

  if (FActive && FUpdateCount > 0) {
    FUpdateCount = 1;
    EndUpdate();
  }

  platform::TReplaceFile output(SFXFileName);
  // A write that fails (a full disk, a size limit) is the operation's
  // failure, named by its output, not the hidden file's.
  const auto writing = [&](auto&& step) {
    try {
      step();
    } catch (const platform::EStreamError&) {
      throw EZAException(ZA_ERR_MAKESFX, FName, {SFXFileName});
    } catch (const platform::EFileError&) {
      throw EZAException(ZA_ERR_MAKESFX, FName, {SFXFileName});
    }
  };
  writing([&] {
    platform::TFileStream in(stub, platform::fmOpenRead | platform::fmShareDenyNone);
    if (output.Stream().CopyFrom(in, 0) != stubInfo.size) throw EZAException(ZA_ERR_MAKESFX, FName, {SFXFileName});
  });
  FProgressEnabled = true;
  bool appended = false;
  writing([&] { appended = FastFileAppend(output.Stream(), *source, FFileName); });
  if (!appended) throw EZAException(ZA_ERR_MAKESFX, FName, {SFXFileName});
  // Loaded again, the directory counts the stub; written again in place, so
  // do the offsets on disk.
  writing([&] {
    TZADirManager sfx(&output.Stream(), false, this);
    sfx.LoadDir();
    sfx.SaveDir(false);
    output.SetPermissions(stubInfo.mode);
    output.Commit(FOptions.FlushBuffers());
  });
}

bool TZABaseArchiver::FastFileAppend(platform::TStream& Out, platform::TStream& In, const std::string& FileName) {
  In.SetPosition(0);
  const int64_t total = In.Size();
  const auto progress = [&](TZAProgressPhase phase, double percent) {
    if (!FProgressEnabled) return false;
    bool cancel = false;
    DoOnFileProgress(FileName, percent, poMakeSFX, phase, cancel);
    if (!cancel) DoOnOverallProgress(percent, poMakeSFX, phase, cancel);
    return cancel;
  };
  if (progress(ppStart, 0)) return false;
  const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(kAppendBlock));
  int64_t copied = 0;
  while (copied < total) {
    const int64_t n = In.Read(buffer.get(), std::min(kAppendBlock, total - copied));
    if (n <= 0) break;
    const int64_t written = Out.Write(buffer.get(), n);
    if (written > 0) copied += written;
    FProgress = copied;
    FProgressMax = total;
    if (progress(ppProcess, static_cast<double>(copied) / static_cast<double>(total) * 100.0)) return false;
    if (written < n) break;
  }
  progress(ppEnd, 100);
  return copied == total;
}

}  // namespace archiver
