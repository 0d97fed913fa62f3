// The archive component's events: their types and the enumerations they
// carry. Each event is a std::function member of TZABaseArchiver named as the
// event and fired by one virtual dispatcher (DoOn...), which applies a
// default answer when no handler is assigned (ZipArchiver.h says which).
//
// Volume numbers handed to handlers count from 1; progress is a percentage
// from 0 to 100. Parameters passed by non-const reference are answers the
// handler may change. Item names handed to handlers (OnFileProgress,
// OnExtractFile, OnStoreFile, OnConfirmProcessFile, OnProcessFileFailure)
// use '/' as this platform's separator, where the Windows component used
// '\'; names a handler gives back may use either.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "archiver/ZADirectory.h"

namespace archiver {

class TZABaseArchiver;

using AnsiString = std::string;

enum TZAProgressPhase { ppStart, ppProcess, ppEnd };
enum TZAAction { fxaRetry, fxaIgnore, fxaAbort };

using TZANotifyEvent = std::function<void(TZABaseArchiver& Sender)>;
using TZAProgressEvent =
    std::function<void(TZABaseArchiver& Sender, double Progress, TZAProcessOperation Operation,
                       TZAProgressPhase ProgressPhase, bool& Cancel)>;
using TZAFileProgressEvent =
    std::function<void(TZABaseArchiver& Sender, const std::string& FileName, double Progress,
                       TZAProcessOperation Operation, TZAProgressPhase ProgressPhase, bool& Cancel)>;
using TZACopyTempFileProgressEvent =
    std::function<void(TZABaseArchiver& Sender, double Progress, TZAProgressPhase ProgressPhase,
                       bool& Cancel)>;
using TZAConfirmOverwriteEvent =
    std::function<void(TZABaseArchiver& Sender, const std::string& SourceFileName,
                       std::string& DestFileName, bool& Confirm)>;
using TZAConfirmProcessFileEvent =
    std::function<void(TZABaseArchiver& Sender, const std::string& FileName,
                       TZAProcessOperation Operation, bool& Confirm)>;
using TZAOnPasswordEvent =
    std::function<void(TZABaseArchiver& Sender, const std::string& FileName, AnsiString& NewPassword,
                       bool& SkipFile)>;
using TZAProcessFileFailureEvent =
    std::function<void(TZABaseArchiver& Sender, const std::string& FileName,
                       TZAProcessOperation Operation, int NativeError, int ErrorCode,
                       const std::string& ErrorMessage, TZAAction& Action)>;
using TZAOnRequestBlankVolumeEvent =
    std::function<void(TZABaseArchiver& Sender, int VolumeNumber, std::string& VolumeFileName,
                       bool& Cancel)>;
using TZAOnRequestFirstVolumeEvent =
    std::function<void(TZABaseArchiver& Sender, std::string& VolumeFileName, bool& Cancel)>;
using TZAOnRequestLastVolumeEvent = TZAOnRequestFirstVolumeEvent;
using TZAOnRequestMiddleVolumeEvent = TZAOnRequestBlankVolumeEvent;
using TZAOnDiskFullEvent =
    std::function<void(TZABaseArchiver& Sender, int VolumeNumber, const std::string& VolumeFileName,
                       bool& Cancel)>;
using TZAProcessVolumeFailureEvent =
    std::function<void(TZABaseArchiver& Sender, TZAProcessOperation Operation, int VolumeNumber,
                       const std::string& VolumeFileName, bool& Cancel)>;
using TZAOnStoreFileEvent =
    std::function<void(TZABaseArchiver& Sender, std::string& FileName, int& FileAttr,
                       AnsiString& Comment, const std::string& OriginalFileName)>;
using TZAOnExtractFileEvent =
    std::function<void(TZABaseArchiver& Sender, std::string& FileName, uint32_t& FileAttr,
                       AnsiString& Comment)>;

// How often a volume is asked for while the answers name a file that does
// not exist, before the request counts as cancelled.
inline constexpr int ZAMaxVolumeRequests = 10;

}  // namespace archiver
