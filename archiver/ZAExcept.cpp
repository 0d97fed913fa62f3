#include "archiver/ZAExcept.h"

#include <cstdio>

namespace archiver {

namespace {

const char* const kMessages[ZAMessageCount] = {
    /* 0 */ "Unknown error",
    /* 1 */ "Index out of bounds",
    /* 2 */ "Invalid compression mode. Mode must be in [0-9] range",
    /* 3 */ "Unexpected nil pointer",
    /* 4 */ "Invalid size or check sum of file or unsupported compression format",
    /* 5 */ "File name is blank. Specify appropriate file name",
    /* 6 */ "File \"%s\" not found",
    /* 7 */ "Archive is not open",
    /* 8 */ "SFXStub property is not specified",
    /* 9 */ "Cannot create file \"%s\"",
    /* 10 */ "Cannot create directory \"%s\"",
    /* 11 */ "Internal error. Update is not started",
    /* 12 */ "Cannot open file \"%s\"",
    /* 13 */ "Cannot proceed when update is not ended. Preceding EndUpdate call is required.",
    /* 14 */ "Cannot delete file \"%s\"",
    /* 15 */ "In-memory archive can be created only",
    /* 16 */ "File is open in read-only mode",
    /* 17 */ "Invalid compressed size, rfs.size = %d, count = %d",
    /* 18 */ "Invalid archive file.",
    /* 19 */ "Cannot create output file. Probably file is locked by another process. FileName = '%s'.",
    /* 20 */ "Archive is open. You should close it beore performing this operation.",
    /* 21 */ "Unable to create directory",
    /* 22 */ "Cannot find 64-bit directory end record",
    /* 23 */ "Cannot compress file '%s'. Zip64 mode is not enabled",
    /* 24 */ "Cannot open archive file. Opening aborted or invalid file",
    /* 25 */ "Write to stream error",
    /* 26 */ "Cannot place SFX stub on volume. Volume size limit is too small",
    /* 27 */ "Archive is damaged. Open failed",
    /* 28 */ "MakeSFX is not allowed for splitted or spanned archives. Set SFXStub before archive creation instead of MakeSFX",
    /* 29 */ "Archive already has SFX stub",
    /* 30 */ "Multi-volume archive is not allowed for custom stream",
    /* 31 */ "Multi-spanned archive is not allowed for modification. Use BeginUpdate/EndUpdate methods to add files several times",
    /* 32 */ "Deflate64 compression method is not supported",
    /* 33 */ "MakeSFX error",
    /* 34 */ "Hashed list of file names is invalid",
    /* 35 */ "Cannot delete folder \"%s\"",
    /* 36 */ "File name is too long: \r\n\"%s\"",
    /* 37 */ "Multiple transactions are not supported for multi-volume archives",
    /* 38 */ "Invalid InitVector index = %d. Index should be >= 0 and < %d",
    /* 39 */ "Disk is full. There is not enough free space on disk.",
    /* 40 */ "Invalid password. Cannot decompress encrypted file.",
    /* 41 */ "Not enough memory to extract \"%s\" (%d bytes)",
};

// Message index of each native code 0..67, in code order.
const int kCodeToMessage[ZANativeCodeCount] = {
    0,  1,  1,  1,  1,  2,  3,  1,  4,  5,   // 0-9
    5,  6,  6,  7,  7,  6,  1,  8,  6,  9,   // 10-19
    10, 1,  11, 9,  1,  11, 13, 14, 15, 5,   // 20-29
    6,  6,  16, 12, 17, 18, 19, 20, 6,  21,  // 30-39
    22, 23, 6,  23, 24, 24, 25, 26, 27, 28,  // 40-49
    29, 30, 31, 6,  6,  32, 33, 27, 34, 34,  // 50-59
    35, 36, 37, 38, 38, 39, 39, 40, 41,      // 60-68
};

}  // namespace

const char* ZAMessageText(int messageIndex) {
  if (messageIndex < 0 || messageIndex >= ZAMessageCount) return kMessages[0];
  return kMessages[messageIndex];
}

int ZAMessageIndexOfNativeCode(int nativeError) {
  if (nativeError < 0 || nativeError >= ZANativeCodeCount) return 0;
  return kCodeToMessage[nativeError];
}

std::string EZAException::BuildMessage(int nativeErr, std::string_view componentName,
                                       const std::initializer_list<TZAFormatArg>* args, std::string_view file) {
  std::string text = ZAMessageText(ZAMessageIndexOfNativeCode(nativeErr));
  if (args) text = ZAFormat(text, *args);
  if (!file.empty()) text += ": \"" + std::string(file) + "\"";
  if (!componentName.empty()) text = std::string(componentName) + ": " + text;
  // "%5d" with blanks turned into zeros: 5 -> "00005", -5 -> "000-5".
  char code[24];
  std::snprintf(code, sizeof code, "%5d", nativeErr);
  for (char* p = code; *p; ++p)
    if (*p == ' ') *p = '0';
  return text + " - Native error: " + code;
}

EZAException::EZAException(int nativeErr, std::string_view componentName)
    : std::runtime_error(BuildMessage(nativeErr, componentName, nullptr)),
      ErrorCode(ZAMessageIndexOfNativeCode(nativeErr)),
      NativeError(nativeErr) {}

EZAException::EZAException(int nativeErr, std::string_view componentName,
                           std::initializer_list<TZAFormatArg> args)
    : std::runtime_error(BuildMessage(nativeErr, componentName, &args)),
      ErrorCode(ZAMessageIndexOfNativeCode(nativeErr)),
      NativeError(nativeErr) {}

EZAException::EZAException(TBuilt, int nativeErr, const std::string& message)
    : std::runtime_error(message), ErrorCode(ZAMessageIndexOfNativeCode(nativeErr)), NativeError(nativeErr) {}

EZAException EZAException::Naming(int nativeErr, std::string_view componentName, std::string_view file) {
  return EZAException(TBuilt{}, nativeErr, BuildMessage(nativeErr, componentName, nullptr, file));
}

}  // namespace archiver
