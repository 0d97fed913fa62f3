// The archive component's event dispatchers and their default dialogs, the
// volume requests, and the names of volume files.
//
// The library shows no window: every default dialog goes through the
// platform's dialog hooks, whose provider the application installs. Without
// one every box answers as if it was closed, so a headless program never
// blocks: progress goes on, confirmations say no, volume requests are
// cancelled and failures abort.
//
// Stored names use '/' and so does the platform: the separators the
// handlers see need no translation on Linux.
#include <cstdio>

#include "archiver/ZAExcept.h"
#include "archiver/ZAPaths.h"
#include "archiver/ZipArchiver.h"
#include "platform/CodePage.h"
#include "platform/Dialogs.h"
#include "platform/Drives.h"
#include "platform/Files.h"

namespace archiver {

namespace {

using platform::TModalResult;

const char* const kConfirmCaption = "Confirm";

// A modal confirmation box with OK and Cancel: true only for OK.
bool AskOkCancel(const std::string& text) {
  return platform::MessageBox(text, kConfirmCaption, platform::TMsgDlgType::mtConfirmation,
                              {platform::mrOk, platform::mrCancel}) == platform::mrOk;
}

bool VolumeFileExists(const std::string& name) { return !platform::FindExistingFile(name).empty(); }

}  // namespace

// --- Progress and confirmation ------------------------------------------------------

void TZABaseArchiver::DoOnOverallProgress(double Progress, TZAProcessOperation Operation,
                                          TZAProgressPhase ProgressPhase, bool& Cancel) {
  Cancel = false;
  if (OnOverallProgress) OnOverallProgress(*this, Progress, Operation, ProgressPhase, Cancel);
}

void TZABaseArchiver::DoOnFileProgress(const std::string& FileName, double Progress,
                                       TZAProcessOperation Operation, TZAProgressPhase ProgressPhase,
                                       bool& Cancel) {
  Cancel = false;
  if (OnFileProgress) OnFileProgress(*this, FileName, Progress, Operation, ProgressPhase, Cancel);
}

void TZABaseArchiver::DoOnCopyTempFileProgress(double Progress, TZAProgressPhase ProgressPhase,
                                               bool& Cancel) {
  Cancel = false;
  if (OnCopyTempFileProgress) OnCopyTempFileProgress(*this, Progress, ProgressPhase, Cancel);
}

void TZABaseArchiver::DoOnConfirmOverwrite(const std::string& SourceFileName,
                                           std::string& DestFileName, bool& Confirm) {
  if (OnConfirmOverwrite) {
    OnConfirmOverwrite(*this, SourceFileName, DestFileName, Confirm);
    return;
  }
  const TModalResult answer = platform::MessageBox(
      ZAFormat("Overwrite file \"%s\" with \"%s\"", {DestFileName, SourceFileName}), kConfirmCaption,
      platform::TMsgDlgType::mtConfirmation,
      {platform::mrYes, platform::mrNo, platform::mrNoToAll, platform::mrYesToAll});
  switch (answer) {
    case platform::mrYes:
      Confirm = true;
      break;
    case platform::mrNoToAll:
      Confirm = false;
      FOptions.SetOverwriteMode(omNever);
      break;
    case platform::mrYesToAll:
      Confirm = true;
      FOptions.SetOverwriteMode(omAlways);
      break;
    default:
      Confirm = false;
      break;
  }
}

bool TZABaseArchiver::ConfirmOverwrite(const std::string& Source, const std::string& Dest, uint32_t SourceTime,
                                       uint32_t DestTime) {
  switch (FOptions.OverwriteMode()) {
    case omPrompt: {
      bool confirm = false;
      std::string dest = Dest;
      DoOnConfirmOverwrite(Source, dest, confirm);
      return confirm;
    }
    case omAlways:
      return true;
    case omNever:
      return false;
    case omIfNewer:
      return SourceTime > DestTime;
    case omIfOlder:
      return SourceTime < DestTime;
  }
  return false;
}

void TZABaseArchiver::DoOnConfirmProcessFile(const std::string& FileName,
                                             TZAProcessOperation Operation, bool& Confirm) {
  Confirm = true;
  if (OnConfirmProcessFile) OnConfirmProcessFile(*this, FileName, Operation, Confirm);
}

void TZABaseArchiver::DoOnPassword(const std::string& FileName, AnsiString& NewPassword,
                                   bool& SkipFile) {
  if (OnPassword) {
    OnPassword(*this, FileName, NewPassword, SkipFile);
    return;
  }
  std::string entered;
  if (platform::InputText(ZAFormat("Password for \"%s\"", {FileName}), "Enter password: ", entered,
                          /*secret=*/true)) {
    SkipFile = false;
    // Passwords are held as typed (UTF-8); the cipher turns them into bytes.
    NewPassword = entered;
  } else {
    SkipFile = true;
  }
}

void TZABaseArchiver::DoOnProcessFileFailure(const std::string& FileName,
                                             TZAProcessOperation Operation, int NativeError,
                                             int ErrorCode, const std::string& ErrorMessage,
                                             TZAAction& Action) {
  Action = fxaIgnore;
  if (OnProcessFileFailure) {
    OnProcessFileFailure(*this, FileName, Operation, NativeError, ErrorCode, ErrorMessage, Action);
    return;
  }
  if (NativeError == 45) {  // the user cancelled a volume request already
    Action = fxaAbort;
    return;
  }
  TModalResult answer;
  if (NativeError == ZA_ERR_FILE_NAME_TOO_LONG)
    answer = platform::MessageBox(ErrorMessage, kConfirmCaption, platform::TMsgDlgType::mtConfirmation,
                                  {platform::mrAbort, platform::mrIgnore});
  else
    answer = platform::MessageBox(
        ZAFormat("%s. File processing error, possibly disk is full", {ErrorMessage}), kConfirmCaption,
        platform::TMsgDlgType::mtConfirmation, {platform::mrAbort, platform::mrRetry, platform::mrIgnore});
  Action = answer == platform::mrRetry ? fxaRetry : answer == platform::mrIgnore ? fxaIgnore : fxaAbort;
}

// --- Volumes ------------------------------------------------------------------------------

void TZABaseArchiver::DoOnRequestBlankVolume(int VolumeNumber, std::string& VolumeFileName,
                                             bool& Cancel) {
  if (VolumeNumber < 0) VolumeNumber = 0;
  VolumeFileName = GetVolumeFileName(FFileName, VolumeNumber, false);
  Cancel = false;
  if (OnRequestBlankVolume) {
    OnRequestBlankVolume(*this, VolumeNumber + 1, VolumeFileName, Cancel);
    return;
  }
  if (FSpanningMode == smSpanning)
    Cancel = !AskOkCancel(ZAFormat("Please insert a blank disk #%d", {VolumeNumber + 1}));
}

void TZABaseArchiver::DoOnRequestFirstVolume(std::string& VolumeFileName, bool& Cancel) {
  VolumeFileName = GetVolumeFileName(FFileName, 0, true);
  Cancel = false;
  if (OnRequestFirstVolume) {
    OnRequestFirstVolume(*this, VolumeFileName, Cancel);
    return;
  }
  if (FSpanningMode != smSpanning) {
    Cancel = !VolumeFileExists(VolumeFileName) && FFileOpenMode != ZAModeCreate;
  } else {
    Cancel = !AskOkCancel("Please insert the first disk");
    VolumeFileName = GetVolumeFileName(FFileName, 0, true);
  }
}

void TZABaseArchiver::DoOnRequestLastVolume(std::string& VolumeFileName, bool& Cancel) {
  VolumeFileName = GetVolumeFileName(FFileName, -1, true);
  Cancel = false;
  if (OnRequestLastVolume) {
    OnRequestLastVolume(*this, VolumeFileName, Cancel);
    return;
  }
  if (FSpanningMode != smSpanning) {
    Cancel = !VolumeFileExists(VolumeFileName);
    return;
  }
  Cancel = !AskOkCancel("Please insert the last disk");
  for (int tries = 1; !Cancel && !VolumeFileExists(VolumeFileName); ++tries) {
    if (tries >= ZAMaxVolumeRequests) {
      Cancel = true;
      break;
    }
    Cancel = !AskOkCancel(ZAFormat(
        "File '%s' not found on inserted disk. Please insert last disk with required file",
        {VolumeFileName}));
    VolumeFileName = GetVolumeFileName(FFileName, -1, true);
  }
}

void TZABaseArchiver::DoOnRequestMiddleVolume(int VolumeNumber, std::string& VolumeFileName,
                                              bool& Cancel) {
  VolumeFileName = GetVolumeFileName(FFileName, VolumeNumber, true);
  Cancel = false;
  if (OnRequestMiddleVolume) {
    OnRequestMiddleVolume(*this, VolumeNumber + 1, VolumeFileName, Cancel);
    return;
  }
  if (FSpanningMode == smSpanning)
    Cancel = !AskOkCancel(ZAFormat("Please insert disk #%d", {VolumeNumber + 1}));
  else
    Cancel = !VolumeFileExists(VolumeFileName);
  VolumeFileName = GetVolumeFileName(FFileName, VolumeNumber, true);
}

void TZABaseArchiver::DoOnDiskFull(int VolumeNumber, const std::string& VolumeFileName, bool& Cancel) {
  Cancel = false;
  if (OnDiskFull) {
    OnDiskFull(*this, VolumeNumber + 1, VolumeFileName, Cancel);
    return;
  }
  if (FSpanningMode != smSpanning) throw EZAException(ZA_ERR_DISK_FULL);
  TZAVolumeNumberInfo volume;
  volume.SetVolumeNumber(VolumeNumber);
  const int64_t required = FSpanningOptions.GetVolumeSize(volume);
  const int64_t available = GetVolumeFreeSpace(VolumeFileName);
  Cancel = !AskOkCancel(ZAFormat(
      "Disk is full. Required free space: %d bytes, but available only: %d bytes. Clean the disk "
      "or find another blank disk",
      {static_cast<long long>(required), static_cast<long long>(available)}));
}

void TZABaseArchiver::DoOnProcessVolumeFailure(TZAProcessOperation Operation, int VolumeNumber,
                                               const std::string& VolumeFileName, bool& Cancel) {
  if (FOnProcessVolumeFailure) FOnProcessVolumeFailure(*this, Operation, VolumeNumber + 1, VolumeFileName, Cancel);
}

void TZABaseArchiver::DoOnStoreFile(std::string& FileName, int& FileAttr, AnsiString& Comment,
                                    const std::string& OriginalFileName) {
  if (OnStoreFile) OnStoreFile(*this, FileName, FileAttr, Comment, OriginalFileName);
}

void TZABaseArchiver::DoOnExtractFile(std::string& FileName, uint32_t& FileAttr, AnsiString& Comment) {
  if (OnExtractFile) OnExtractFile(*this, FileName, FileAttr, Comment);
}

std::string TZABaseArchiver::RequestVolumeForReading(const TZAVolumeNumberInfo& wanted) {
  std::string name = FFileName;
  for (int tries = 0; tries < ZAMaxVolumeRequests; ++tries) {
    name = FFileName;
    bool cancel = true;
    // The last volume first: in a set of one it is also the first.
    if (wanted.LastVolume())
      DoOnRequestLastVolume(name, cancel);
    else if (wanted.VolumeKind() == vnkFirst || wanted.VolumeNumber() == 0)
      DoOnRequestFirstVolume(name, cancel);
    else
      DoOnRequestMiddleVolume(wanted.VolumeNumber(), name, cancel);
    if (cancel) break;
    if (VolumeFileExists(name)) return name;
  }
  throw EZAException::Naming(45, FName, name);
}

// GetVolumeFileName: ZAVolumeSet.cpp.

}  // namespace archiver
