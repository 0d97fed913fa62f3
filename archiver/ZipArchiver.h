// The archive component.
//
// TZABaseArchiver works on one archive at a time: a file, a caller's stream,
// or an archive built in memory. It opens or creates the archive, keeps its
// central directory in memory (TZADirManager) and changes it through update
// transactions: BeginUpdate ... EndUpdate, where the outermost EndUpdate
// commits (rebuilds the archive from its first changed item). The base class
// writes the private non-zip flavour; TZipArchiver is the zip flavour that
// applications create.
//
// States: closed (no directory manager) -> open (Active) -> in update
// (InUpdate). Open is entered by any OpenArchive form, SetActive(true) or
// implicitly by BeginUpdate; CloseArchive (also run by the destructor)
// commits what is pending and never raises.
//
// Threads: a component is used from one thread. All components of the
// process share one recursive lock (Lock/Unlock, TZALockGuard) that the
// per-item operation loops hold for their whole run; event handlers may start
// another archive operation on the same thread.
//
// Item operations build on this class: finding (FindFirst/FindNext with
// TZAArchiveItem), extracting and testing, adding, updating, moving,
// renaming and deleting, the commit of a transaction (InternalEndUpdate),
// self-extracting archives, repair and merging.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "archiver/ZACodec.h"
#include "archiver/ZADirectory.h"
#include "archiver/ZAEvents.h"
#include "archiver/ZAFind.h"
#include "archiver/ZAOptions.h"
#include "archiver/ZAVolumeSet.h"
#include "archiver/ZAVolumes.h"
#include "platform/Streams.h"

namespace archiver {

enum TZip64Mode { zmDisabled, zmAuto, zmAlways };
enum TZACompressionAlgorithm { caZLIB, caBZIP, caPPM };

// FileOpenMode values: create; read-write denying others writing; read-only
// shared; read-only (the form an application passes as 0).
inline constexpr uint16_t ZAModeCreate = 0xFF00;
inline constexpr uint16_t ZAModeReadWrite = 34;
inline constexpr uint16_t ZAModeReadShared = 64;
inline constexpr uint16_t ZAModeRead = 0;

// The progress state is a base, not a named member, so that the operation
// loops, the commit and the volume layer read its fields by their names.
class TZABaseArchiver : public TZADirOwner, protected TZAProgressState {
  friend class TZACommit;  // the commit of a transaction works on the state below
  friend class TZAVolumeSet;  // the volume layer switches the archive stream

 public:
  // Defaults: compression level clFastest (mode 1), zip64 mode zmAuto,
  // OpenCorruptedArchives on, OEM item names on, non-zip flavour.
  TZABaseArchiver();
  // Closes the archive (committing a pending transaction; see CloseArchive).
  ~TZABaseArchiver() override;
  TZABaseArchiver(const TZABaseArchiver&) = delete;
  TZABaseArchiver& operator=(const TZABaseArchiver&) = delete;

  // The component's name; messages of errors it raises begin with it.
  const std::string& Name() const { return FName; }
  void SetName(const std::string& v) { FName = v; }

  // --- Published properties ---------------------------------------------------
  bool ExtractCorruptedFiles() const { return FExtractCorruptedFiles; }
  void SetExtractCorruptedFiles(bool v) { FExtractCorruptedFiles = v; }
  TZACompressionLevel CompressionLevel() const { return FCompressionLevel; }
  // Sets the level and the mode of that level (0, 1, 6, 9).
  void SetCompressionLevel(TZACompressionLevel v);
  int CompressionMode() const { return FCompressionMode; }
  // 0..9, else EZAException 5 (nothing changes); sets the level of the mode.
  void SetCompressionMode(int v);
  // The product name, a blank and the version "5.05"; setting it does nothing.
  std::string CurrentVersion() const;
  void SetCurrentVersion(const std::string&) {}
  const AnsiString& Password() const { return FPassword; }
  virtual void SetPassword(const AnsiString& v);
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& v) { FFileName = v; }
  const std::string& BaseDir() const { return FBaseDir; }
  void SetBaseDir(const std::string& v) { FBaseDir = v; }
  const std::string& TempDir() const { return FTempDir; }
  void SetTempDir(const std::string& v) { FTempDir = v; }
  TZASpanningMode SpanningMode() const { return FSpanningMode; }
  // Raises std::runtime_error("Cannot set spanning mode on open archive")
  // while the archive is open.
  void SetSpanningMode(TZASpanningMode v);
  TZASpanningOptions& SpanningOptions() { return FSpanningOptions; }
  std::string SFXStub() const override { return FSFXStub; }
  void SetSFXStub(const std::string& v) { FSFXStub = v; }
  TZAOptions& Options() { return FOptions; }
  const TZAOptions& Options() const { return FOptions; }
  const std::vector<std::string>& FileMasks() const { return FFileMasks; }
  void SetFileMasks(const std::vector<std::string>& v) { FFileMasks = v; }
  const std::vector<std::string>& ExclusionMasks() const { return FExclusionMasks; }
  void SetExclusionMasks(const std::vector<std::string>& v) { FExclusionMasks = v; }
  const std::vector<std::string>& NoCompressionMasks() const { return FNoCompressionMasks; }
  void SetNoCompressionMasks(const std::vector<std::string>& v) { FNoCompressionMasks = v; }
  bool InMemory() const { return FInMemory; }
  // Switching an open archive to memory closes it and starts a new, empty
  // archive in memory. Switching an open memory archive to a file commits
  // what is pending, writes the archive to FileName (EZAException 29 when it
  // is empty) and reopens it from there.
  void SetInMemory(bool v);

  // Properties TZipArchiver publishes.
  TZip64Mode Zip64Mode() const { return FZip64Mode; }
  void SetZip64Mode(TZip64Mode v) { FZip64Mode = v; }
  bool UnicodeFilenames() const { return FUnicodeFilenames; }
  void SetUnicodeFilenames(bool v) { FUnicodeFilenames = v; }
  TZACryptoAlgorithm EncryptionMethod() const { return FZACryptoAlgorithm; }
  void SetEncryptionMethod(TZACryptoAlgorithm v) { FZACryptoAlgorithm = v; }

  // --- Public properties --------------------------------------------------------
  TZAVolumeNumberInfo& VolumeNumberInfo() { return FVolumeNumberInfo; }
  // The archive stream's size (EZAException 13 when closed).
  int64_t Size();
  // Items that are not folders (EZAException 13 when closed).
  int FileCount() const;
  // The file FileName exists (a regular file).
  bool Exists() const;
  bool InUpdate() const { return FUpdateCount > 0; }
  bool Active() const { return FActive; }
  void SetActive(bool v);
  // The archive comment (raw bytes); empty when closed. Setting it outside a
  // transaction rewrites the directory at once; inside, the commit writes it.
  AnsiString Comment() const;
  void SetComment(const AnsiString& v);
  bool OpenCorruptedArchives() const override { return FOpenCorruptedArchives; }
  void SetOpenCorruptedArchives(bool v) { FOpenCorruptedArchives = v; }
  // The zip flavour (true) or the private one.
  bool isZIPFormat() const override { return FisZIPFormat; }
  // Method written for new compressed items (see UpdateCompressionMethod).
  uint16_t CompressionMethod() const { return FCompressionMethod; }
  TZACompressionAlgorithm CompressionAlgorithm() const { return FCompressionAlgorithm; }
  // Mode of the last open: ZAModeCreate, ZAModeReadWrite, ZAModeReadShared...
  uint16_t FileOpenMode() const { return FFileOpenMode; }
  bool IsCustomStream() const { return FIsCustomStream; }
  // The open archive's directory (nullptr when closed). Item operations and
  // tests work on it; callers must not keep it across CloseArchive.
  TZADirManager* DMHandle() const { return FDMHandle.get(); }
  platform::TStream* CompressedStream() const { return FCompressedStream; }

  // --- Opening and closing -------------------------------------------------------
  // Opens FileName: in memory a new archive; else an existing file read-write
  // when it can be (read-only shared when not), a missing one is created.
  // EZAException 9 when FileName has no file-name part.
  void OpenArchive();
  // Opens with a mode: ZAModeCreate creates (or truncates) the archive,
  // anything else opens an existing file with that file-open mode. Raises
  // EZAException 10 (no file name), 12 (the file is not there, or is not a
  // regular file), 28 (an existing archive asked for in memory), 48 (no end
  // record and OpenCorruptedArchives off), and the loader's errors. A failed
  // open leaves the component closed with nothing held open.
  void OpenArchive(uint16_t Mode);
  // Works on a caller's stream, which stays the caller's (never freed here);
  // Create empties it and writes an empty archive. Otherwise the directory
  // is loaded as from a file: 48 without an end record and
  // OpenCorruptedArchives off, and the loader's errors. EZAException 51 in a
  // spanning mode. A failed open leaves the component closed.
  void OpenArchive(platform::TStream& Stream, bool Create);
  // Commits a pending transaction, writes the directory of a new archive that
  // got no item, releases the archive. Never raises: a failure is kept in
  // LastCloseError (the commit rolls itself back first).
  void CloseArchive() noexcept;
  // The failure of the last CloseArchive, empty when it succeeded.
  const std::string& LastCloseError() const { return FLastCloseError; }
  int LastCloseNativeError() const { return FLastCloseNativeError; }

  // --- Transactions ----------------------------------------------------------------
  // Opens the archive when needed (EZAException 32 when it was opened
  // read-only; 62 for a second transaction on a volume set) and nests.
  void BeginUpdate();
  // The outermost call commits (InternalEndUpdate).
  void EndUpdate();
  // Ends the transaction without committing: the directory in memory is put
  // back as it was at BeginUpdate, releasing what the dropped changes held.
  void CancelUpdate();

  // State checks of the public operations (EZAException 13, 26, 52).
  void CheckActive() const;
  void CheckNotInUpdate() const;
  void CheckModifySpanning() const;

  // The process-wide lock of all archive components (recursive).
  static void Lock();
  static void Unlock();

  // --- Finding items (ZAFind.h; ZipArchiverItems.cpp) ---------------------------------
  // Searches the open archive (EZAException 13 when closed) by a mask (a
  // stored name or a wildcard mask, either separator), an attribute set and
  // an exclusion mask, honouring Options.Recurse; the whole search state
  // lives in F, so searches nest. False, F unchanged, when nothing (more) is
  // found.
  bool FindFirst(const std::string& FileMask, TZAArchiveItem& F, int SearchAttr,
                 const std::string& ExclusionMask);
  // The same by the FileMasks and ExclusionMasks lists and Options.SearchAttr.
  bool FindFirst(TZAArchiveItem& F);
  bool FindNext(TZAArchiveItem& F);

  // --- Extracting and testing (ZAExtract.cpp) -------------------------------------
  // Item names become paths below the destination folder (BaseDir, else the
  // current folder) only through ZASafeRelativePath: nothing lands outside
  // it unless an OnExtractFile handler returns such a path. An item is
  // written to a temporary file beside its target and renamed over it only
  // when it extracted cleanly, so a failed, skipped or cancelled item never
  // costs the user an existing file. Existence and overwrite checks are
  // exact (case-sensitive).
  //
  // Extracts the items a search finds (see FindFirst) into the destination
  // folder, by Options (CreateDirs, OverwriteMode, ReplaceReadOnly,
  // SetAttributes, FlushBuffers). Each item's failure goes to
  // OnProcessFileFailure (Retry, Ignore, Abort); an abort that neither a
  // handler nor a dialog provider answered raises the failure's error.
  // Returns the number of items extracted (files written and folders made;
  // items passed over, skipped or failed are not counted). EZAException 13
  // when closed, 26 inside a transaction.
  int ExtractFiles(const std::string& FileMask, int SearchAttr, const std::string& ExclusionMask);
  // The same with the FileMasks and ExclusionMasks lists and Options.SearchAttr.
  int ExtractFiles();
  // Decompresses the items a search finds and checks their sizes and CRCs;
  // a damaged item is reported through OnProcessFileFailure (code 8).
  // Returns the number of items that passed.
  int TestFiles(const std::string& FileMask, int SearchAttr, const std::string& ExclusionMask);
  int TestFiles();
  // Writes the item stored under FileName (its whole stored name, either
  // separator) into Stream from its position, with progress events. Raises
  // EZAException 15 when there is no such item, 67 when its password was
  // refused, 8 when it is damaged (unless ExtractCorruptedFiles); either
  // way what was decoded before the damage (stored: the bytes present, up
  // to the declared size) has reached Stream. A progress cancel ends it
  // quietly.
  void ExtractToStream(const std::string& FileName, platform::TStream& Stream);
  // Puts exactly Count bytes of the item, from StartPosition on, into Buffer,
  // inflating no further than needed. Fewer bytes in the item raise
  // platform::EStreamError; errors otherwise as ExtractToStream (no size or
  // CRC check for a window). The window of an AES item is decrypted but not
  // authenticated: its code covers the whole item, which a window does not
  // read. Count 0 reads and checks the whole item and copies nothing.
  void ExtractToBuffer(const std::string& FileName, void* Buffer, int Count, int64_t StartPosition);
  // Text := the item's bytes, unchanged. Errors as ExtractToStream; Text is
  // left as it was when one is raised.
  void ExtractToString(const std::string& FileName, AnsiString& Text);
  // Whether Password opens the item FileName (an exact name first, else a
  // search): true for an item that is not encrypted; otherwise the
  // password's check byte (an AES item's verifier) and then a full test of
  // the item, without asking for a password. EZAException 42 when there is
  // no such item.
  bool IsFilePasswordValid(const std::string& FileName, const AnsiString& Password);
  // True when open already; otherwise whether FileName holds an archive
  // whose directory loads without repair and whose items all pass a test.
  // Leaves the component closed.
  bool IsValidArchiveFile();

  // --- Adding, updating, moving, renaming and deleting (ZAAdd.cpp, ZAChange.cpp) ---
  // Each operation runs in an update transaction of its own, nested in the
  // caller's when one is open (BeginUpdate): without one the archive is
  // written before the call returns, with one at the caller's EndUpdate (or
  // CloseArchive). A failure cancels the transaction, the caller's with it,
  // and passes on: nothing of it is written. All raise EZAException 13 when
  // the archive is closed, 32 when it was opened read-only, and 52 for a
  // volume set that holds items outside BeginUpdate.
  //
  // Queues the files on disk that FileMask selects (see ZAAdd.h; below
  // BaseDir, recursing into sub-folders with Options.Recurse), with
  // SearchAttr (0x10 adds folder items) and one exclusion mask. Items get
  // their names by Options.StorePath; a name the archive holds already is
  // replaced or kept by Options.OverwriteMode (names compare exactly). The
  // archive itself, and links that would lead the scan in a circle, are
  // never taken. Returns the number of items queued.
  int AddFiles(const std::string& FileMask, int SearchAttr, const std::string& ExclusionMask);
  // The same with the FileMasks and ExclusionMasks lists and Options.SearchAttr.
  int AddFiles();
  // As AddFiles; the source files (and folders that become empty) are
  // deleted only after the commit wrote the archive.
  int MoveFiles(const std::string& FileMask, int SearchAttr, const std::string& ExclusionMask);
  int MoveFiles();
  // Queues an item named FileName ('\' or '/' separated; attribute 0x10
  // makes a folder item) holding bytes of Stream: Count bytes from Position,
  // or with Count 0 the whole stream. With CopyToBuffer the bytes are copied
  // now (Stream's position is kept) and the stream is free again on return;
  // without, the item borrows Stream until the transaction ends: the caller
  // keeps it alive and unchanged until then (the commit puts its position
  // back). DateTime 0 stands for now. Returns false when Options.
  // OverwriteMode kept an item of that name. On failure (a stream that
  // holds fewer bytes, a name that does not fit the format: code 61, a
  // blank name: code 9) nothing stays queued.
  bool AddFromStream(const std::string& FileName, platform::TStream& Stream, bool CopyToBuffer = true,
                     int64_t Position = 0, int64_t Count = 0, int Attr = 0x20, std::time_t DateTime = 0);
  // The same from Count bytes of Buffer (copied) or from the bytes of Text.
  bool AddFromBuffer(const std::string& FileName, const void* Buffer, int64_t Count, int Attr = 0x20,
                     std::time_t DateTime = 0);
  bool AddFromString(const std::string& FileName, const AnsiString& Text, int Attr = 0x20,
                     std::time_t DateTime = 0);
  // Reads again, from the file of the same name below BaseDir, each item a
  // search selects (folders and items without a disk file stay as they are),
  // by Options.OverwriteMode and ReplaceReadOnly. Returns the number queued.
  int UpdateFiles(const std::string& FileMask, int SearchAttr, const std::string& ExclusionMask);
  int UpdateFiles();
  // Removes the items a search selects. Returns the number removed.
  int DeleteFiles(const std::string& FileMask, int SearchAttr, const std::string& ExclusionMask);
  int DeleteFiles();
  // Renames the item OldName (an exact stored name first, else a search;
  // EZAException 30 when there is none) to NewName. Renaming a folder item
  // moves every item below it: only the leading folder part of their names
  // changes. Code 9 for a blank NewName, 61 for one the format cannot hold.
  void RenameFile(const std::string& OldName, const std::string& NewName);
  // Set the external attributes (a folder item keeps its folder bit and a
  // file never gets it), the internal attributes or the comment of the item
  // named FileMask exactly, else of every item the mask finds (attribute set
  // 0x28BF). Raise EZAException 31 (38 for the internal attributes) when
  // nothing is found, 46 for a comment longer than 65,535 bytes. Return the
  // number of items changed.
  int ChangeFilesAttr(const std::string& FileMask, uint32_t NewAttr);
  int ChangeFilesIntAttr(const std::string& FileMask, uint16_t NewAttr);
  int ChangeFilesComment(const std::string& FileMask, const AnsiString& NewComment);

  // --- Self-extracting archives and repair (ZASFX.cpp, ZARepair.cpp) ------------------
  // Writes SFXFileName: the SFXStub file (any file: a shell script, a
  // program) followed by the archive (the open one, with a pending
  // transaction committed first; else the file FileName), its directory
  // written again so that every offset counts the stub. The output gets the
  // stub's permission bits and replaces SFXFileName only once complete.
  // Raises EZAException 17 (SFXStub not set), 18 (the stub is missing), 49
  // (a volume set), 50 (the archive has a stub already), 56 (SFXFileName is
  // the archive or the stub), all before anything is written; 56 for a copy
  // cancelled through the progress events; 12 when FileName of a closed
  // archive is missing.
  void MakeSFX(const std::string& SFXFileName);
  // Copies In whole, from its start, to Out at Out's position; with
  // FProgressEnabled, OnFileProgress and OnOverallProgress (poMakeSFX)
  // report it and may cancel it. True when every byte was written.
  bool FastFileAppend(platform::TStream& Out, platform::TStream& In, const std::string& FileName);

  struct TZARepairResult {
    int Written = 0;     // items in the repaired archive
    int Damaged = 0;     // items that failed their check (kept as far as they read, or left out)
    int Unverified = 0;  // encrypted items copied as they are: their password was not known
    bool Completed = false;  // false: cancelled or aborted, nothing replaced
  };
  // Writes a clean archive of what can be read of the closed archive
  // FileName (opened as OpenCorruptedArchives opens it: its directory, or
  // one rebuilt from the local headers) to OutputFileName, or over FileName
  // when that is empty; the target is replaced only once the new archive is
  // complete. An item whose local header is not where the directory says is
  // looked for among the local headers. Each readable item is added anew
  // (the time of the repair, its host system, attributes and comment, its
  // own encryption); an item that fails its check goes to
  // OnProcessFileFailure (code 8): Ignore (and no handler nor dialog
  // provider) keeps it as it is (its record copied, damage and all), or,
  // when its record is cut short, what could be read of it (never an empty
  // item for one that had data); Retry reads it again, Abort ends the
  // repair with nothing replaced. An item whose name cannot be added goes
  // to the same event (poAdd) and is passed over. An encrypted item whose
  // password is not known is copied as it is. EZAException 37 when the
  // archive is open, 33 when someone holds FileName (no OutputFileName), 35
  // when no item can be found at all; 46 or 65 when writing the repair's
  // own files fails (nothing replaced).
  TZARepairResult RepairArchive(const std::string& OutputFileName);

  // --- Events ------------------------------------------------------------------------
  TZAProgressEvent OnOverallProgress;
  TZAFileProgressEvent OnFileProgress;
  TZACopyTempFileProgressEvent OnCopyTempFileProgress;
  TZAConfirmOverwriteEvent OnConfirmOverwrite;
  TZAConfirmProcessFileEvent OnConfirmProcessFile;
  TZANotifyEvent AfterOpen;
  TZAOnPasswordEvent OnPassword;
  TZAProcessFileFailureEvent OnProcessFileFailure;
  TZAOnRequestFirstVolumeEvent OnRequestFirstVolume;
  TZAOnRequestLastVolumeEvent OnRequestLastVolume;
  TZAOnRequestMiddleVolumeEvent OnRequestMiddleVolume;
  TZAOnRequestBlankVolumeEvent OnRequestBlankVolume;
  TZAOnDiskFullEvent OnDiskFull;
  TZAOnStoreFileEvent OnStoreFile;
  TZAOnExtractFileEvent OnExtractFile;

  // Dispatchers (ZAEvents.cpp). Each fires its event; without a handler it
  // gives the default answer named here. Message boxes and the password
  // prompt go through the platform's dialog hooks; with no dialog provider
  // installed each is answered as a closed dialog would be.
  // Default: go on (Cancel false).
  virtual void DoOnOverallProgress(double Progress, TZAProcessOperation Operation,
                                   TZAProgressPhase ProgressPhase, bool& Cancel);
  virtual void DoOnFileProgress(const std::string& FileName, double Progress,
                                TZAProcessOperation Operation, TZAProgressPhase ProgressPhase,
                                bool& Cancel);
  virtual void DoOnCopyTempFileProgress(double Progress, TZAProgressPhase ProgressPhase, bool& Cancel);
  // Default: the box "Overwrite file ..." with Yes, No, No to all, Yes to all;
  // the "to all" answers set Options.OverwriteMode (omNever, omAlways).
  // Closing it answers No.
  virtual void DoOnConfirmOverwrite(const std::string& SourceFileName, std::string& DestFileName,
                                    bool& Confirm);
  // Default: confirmed.
  virtual void DoOnConfirmProcessFile(const std::string& FileName, TZAProcessOperation Operation,
                                      bool& Confirm);
  // Default: the password prompt; cancelling it skips the file.
  virtual void DoOnPassword(const std::string& FileName, AnsiString& NewPassword, bool& SkipFile);
  // Default: abort for code 45; otherwise a box with Abort, Retry, Ignore
  // (Abort, Ignore for code 61). A closed box aborts. The caller raises the
  // failure's error when fxaAbort came with neither a handler nor a dialog
  // provider installed: an abort nobody chose is never silent.
  virtual void DoOnProcessFileFailure(const std::string& FileName, TZAProcessOperation Operation,
                                      int NativeError, int ErrorCode, const std::string& ErrorMessage,
                                      TZAAction& Action);
  // Volume requests take the volume number counted from 0 (handlers see it
  // from 1) and set VolumeFileName to the volume's file name before asking.
  // Defaults: in spanning mode a box asks for the disk (only OK goes on);
  // otherwise the request is cancelled when the file does not exist.
  virtual void DoOnRequestBlankVolume(int VolumeNumber, std::string& VolumeFileName, bool& Cancel);
  virtual void DoOnRequestFirstVolume(std::string& VolumeFileName, bool& Cancel);
  virtual void DoOnRequestLastVolume(std::string& VolumeFileName, bool& Cancel);
  virtual void DoOnRequestMiddleVolume(int VolumeNumber, std::string& VolumeFileName, bool& Cancel);
  // Default: EZAException 65 outside spanning mode; in it a box with the
  // sizes needed and available (OK retries, Cancel gives up).
  virtual void DoOnDiskFull(int VolumeNumber, const std::string& VolumeFileName, bool& Cancel);
  virtual void DoOnProcessVolumeFailure(TZAProcessOperation Operation, int VolumeNumber,
                                        const std::string& VolumeFileName, bool& Cancel);
  virtual void DoOnStoreFile(std::string& FileName, int& FileAttr, AnsiString& Comment,
                             const std::string& OriginalFileName);
  virtual void DoOnExtractFile(std::string& FileName, uint32_t& FileAttr, AnsiString& Comment);

  // Asks for a volume to read (first, last or a numbered one) until the answer
  // names an existing file, which is returned. A cancelled request, and a
  // handler that names a missing file ZAMaxVolumeRequests times, raise
  // EZAException 45 naming the volume.
  std::string RequestVolumeForReading(const TZAVolumeNumberInfo& wanted);

  // The file name of volume VolumeNo (-1: the last) of the archive FileName
  // in the current spanning mode.
  std::string GetVolumeFileName(const std::string& FileName, int VolumeNo, bool CheckExists) const;
  // The extension, lower-cased, contains ".exe".
  static bool IsSFXFileName(const std::string& FileName);
  // Bytes available on the drive that holds FileName (-1: unknown), as
  // MediaInfo tells.
  int64_t GetVolumeFreeSpace(const std::string& FileName) const;
  // What the volume layer learns about media (free space, removable drives):
  // the system's answers unless replaced (tests simulate media with it).
  const TZAMediaInfo& MediaInfo() const { return *FMediaInfo; }
  void SetMediaInfo(std::shared_ptr<const TZAMediaInfo> v);

 protected:
  // Sets the method written for new compressed items; the base class has
  // none of the zip methods (0xFFFF).
  virtual void UpdateCompressionMethod();
  // Commits the pending transaction (nothing when none is open or nothing
  // changed): rewrites the archive in place from its first changed item on
  // (ZACommit.cpp). A failure, cancel or abort gives the archive its old
  // bytes and the directory its state at BeginUpdate; a failure then
  // passes on.
  virtual void InternalEndUpdate();
  // Puts the directory back as it was when the transaction began.
  void RollbackDirectory();
  // Raw item copies (ZACommit.cpp), for merging and repair. QueueRawCopy
  // makes entry Index (-1: a new one at the end) a pending copy of `Src`,
  // an item of another archive: its central entry as it is, its local
  // record read at From in Source (borrowed until the commit), never past
  // Limit nor the item's DataLimit (nothing of an item whose bytes overlap
  // another's). The commit copies the record byte for byte. RawRecordSize: the
  // size of that record when its header and data can be read whole there
  // (a data descriptor cut by Limit left out), else -1.
  void QueueRawCopy(int Index, const TDirItem& Src, const std::shared_ptr<platform::TStream>& Source,
                    int64_t From, int64_t Limit);
  static int64_t RawRecordSize(platform::TStream& Source, const TDirItem& Item, int64_t From, int64_t Limit);
  // Whether Source (DOS date-time SourceTime) replaces the existing Dest
  // (DestTime) by Options.OverwriteMode: omPrompt asks OnConfirmOverwrite;
  // omIfNewer and omIfOlder compare the date-times (equal ones never
  // replace).
  bool ConfirmOverwrite(const std::string& Source, const std::string& Dest, uint32_t SourceTime,
                        uint32_t DestTime);
  // Opens or creates per FileOpenMode and InMemory, loads the directory,
  // makes the component active and fires AfterOpen.
  void InternalOpen();

  // The per-item loop of extract, test, delete and update (ZAExtract.cpp):
  // every tagged item, or only item ItemIndex (>= 0). Holds the shared lock.
  // Returns the number of items whose step completed; `Failures` receives
  // the number of failures reported. A cancel or abort drops a pending
  // transaction (CancelUpdate).
  int ProcessTaggedFiles(TZAProcessOperation Operation, int ItemIndex, int* Failures = nullptr);
  // The delete and update steps of that loop (ZAChange.cpp, ZAAdd.cpp): the
  // item leaves the directory (EZAException 21 out of range, 22 outside a
  // transaction); the item is queued to be read again from DestBase + its
  // name when the options allow (24, 25); true when queued.
  void RemoveItem(int Index);
  bool UpdateTaggedItem(int Index, const std::string& Name, const std::string& DestBase);
  // Positions the archive (the item's volume) on item Index's local header
  // (EZAException 16 out of range) and returns the archive stream.
  platform::TStream& PositionOnItem(int Index);
  // Decompresses item Index into Stream (Count 0: whole). True when it
  // passed its checks; false when it failed but the operation was
  // cancelled, the item skipped or ExtractCorruptedFiles set; otherwise
  // EZAException 8.
  bool ExtractItemToStream(int Index, platform::TStream& Stream, int64_t StartPosition, int Count);
  // Extracts item Index (stored name Name) below DestDir; true when a file
  // was written or a folder made.
  bool ExtractItemToFile(int Index, const std::string& Name, const std::string& DestDir);
  // Tests item Index (folders pass): EZAException 8 when it is damaged,
  // whatever ExtractCorruptedFiles says; false when skipped or cancelled.
  bool TestItem(int Index);

  // --- Items: search and codec (ZipArchiverItems.cpp) -------------------------------
  // The item stored under Name: the name index, then a search (attribute
  // set 0x28BF, Options.Recurse as it stands). EZAException 13 when closed.
  bool FindItemByName(const std::string& Name, int& Index);
  // Tags what a search finds (clearing every other tag); returns the count.
  int TagFiles(const std::string& FileMask, int SearchAttr, const std::string& ExclusionMask);
  int TagFiles();
  // The item codec (ZACodec.h) with this component's settings, progress
  // state, password and events: compresses Source whole into Dest and fills
  // Item's method, sizes and CRC (false only when cancelled)...
  bool CompressItem(platform::TStream& Source, platform::TStream& Dest, TDirItem& Item);
  // ... and extracts the item whose local header Source stands on into Dest
  // (Count 0: whole, checked; else the window [StartPosition, +Count)).
  bool DecompressItem(platform::TStream& Source, platform::TStream& Dest, TDirItem& Item,
                      int32_t Count, int64_t StartPosition);

  // --- State shared with the item operations ------------------------------------
  std::string FCurrentDir;
  int FUpdateCount = 0;
  bool FActive = false;
  bool FisZIPFormat = false;
  bool FIsCustomStream = false;
  std::string FFileName;
  std::string VolumeFileName;
  TZAVolumeNumberInfo FVolumeNumberInfo;
  uint16_t FFileOpenMode = 0;
  std::string FTempDir;
  std::string FBaseDir;
  std::string FSFXStub;
  TZAOptions FOptions;
  std::vector<std::string> FFileMasks, FExclusionMasks, FNoCompressionMasks;
  bool FInMemory = false;
  TZASpanningMode FSpanningMode = smNone;
  TZASpanningOptions FSpanningOptions;
  bool FExtractCorruptedFiles = false;
  bool FOpenCorruptedArchives = true;
  bool FUnicodeFilenames = false;
  bool FNoProgress = false;
  TZAProcessVolumeFailureEvent FOnProcessVolumeFailure;
  bool FUpdated = false;
  uint16_t FCompressionMethod = 0xFFFF;
  TZACompressionAlgorithm FCompressionAlgorithm = caZLIB;
  TZACryptoAlgorithm FZACryptoAlgorithm = caPkzipClassic;
  int FCompressionMode = 1;
  TZACompressionLevel FCompressionLevel = clFastest;
  AnsiString FPassword;
  platform::TStream* FCompressedStream = nullptr;
  TZip64Mode FZip64Mode = zmAuto;

 private:
  // TZADirOwner: what the directory manager asks of the component.
  bool OEMFileNames() const override { return FOptions.OEMFileNames(); }
  const platform::TStream* ArchiveStream() const override { return FCompressedStream; }
  int64_t FirstVolumeSizeLimit() const override;
  void SelectFirstVolume() override { FVolumeNumberInfo.SetFirstVolume(true); }
  std::string ComponentName() const override { return FName; }
  TZAVolumeLayer& Volumes() override { return *FVolumes; }

  class TCodecHost;  // the codec's view of the component (ZipArchiverItems.cpp)
  class TItemAdder;  // the disk scan and the making of new items (ZAAdd.cpp)
  TZASearchScope SearchScope();

  void OpenFromLastVolume();
  void OpenSFXArchive();
  // Works out the spanning mode from the last volume's end record; true
  // when one of the component's flavour is there. ZAVolumeSet.cpp, with the
  // two above.
  bool DetectSpanningMode();
  void OpenLastVolume();
  void SelectSingleVolume();
  void OpenArchiveStream();
  // Loads the directory of an existing archive (a file or a caller's
  // stream) over FDMHandle; a strict open refuses one without an end record.
  void LoadExistingDir();
  void ReleaseArchive() noexcept;
  bool HasPendingChanges() const;

  std::string FName;
  std::unique_ptr<TZADirManager> FDMHandle;
  std::unique_ptr<platform::TStream> FOwnedStream;  // FCompressedStream unless custom
  std::unique_ptr<TZAVolumeSet> FVolumes;
  std::shared_ptr<const TZAMediaInfo> FMediaInfo;
  // The comment as it was when the transaction began, for a rollback.
  AnsiString FRollbackComment;
  std::string FLastCloseError;
  int FLastCloseNativeError = 0;

  // Extraction (ZAExtract.cpp): look-up by whole stored name with the state
  // checks, the error of a failed stream form, and whether a target folder
  // lies on a removable drive (asked once per folder and operation).
  int FindItemForExtraction(const std::string& FileName);
  void RaiseUnlessExtracted(bool ok);
  bool TargetOnRemovableDrive(const std::string& folder);
  std::string FRemovableCacheDir;
  bool FRemovableCacheValue = false;
};

// The zip flavour: zip signatures, zip64 off by default, compression mode 0
// stored and 1-9 deflate.
class TZipArchiver : public TZABaseArchiver {
 public:
  TZipArchiver();
  void SetPassword(const AnsiString& v) override;

  // Appends the items of the zip archive ArchiveFileName, in its directory
  // order, to the open archive in one transaction (ZAMerge.cpp). Each item
  // is copied raw: its local record byte for byte (no password needed, none
  // asked), its central entry as the other archive has it but for the
  // offset. A name this archive holds already (equal byte for byte) is
  // replaced or kept by Options.OverwriteMode (omPrompt asks
  // OnConfirmOverwrite with "<other archive>/<name>" and "<this
  // archive>/<name>"; omIfNewer and omIfOlder compare DOS date-times); a
  // replacing item takes the old one's place and the old record leaves the
  // file. An item whose record cannot be read whole goes to
  // OnProcessFileFailure (Retry, Ignore, Abort). The other archive is only
  // read. A failure, cancel or abort leaves this archive byte-identical.
  // Returns the number of items merged. EZAException 13 when closed, 26
  // inside a transaction, 32 when opened read-only, 52 when either archive
  // is a volume set, 12 when ArchiveFileName is missing, 33 when it is this
  // archive (by any name or link).
  int MergeWith(const std::string& ArchiveFileName);

 protected:
  void UpdateCompressionMethod() override;
};

// Holds the process-wide archiver lock for its lifetime.
class TZALockGuard {
 public:
  TZALockGuard() { TZABaseArchiver::Lock(); }
  ~TZALockGuard() { TZABaseArchiver::Unlock(); }
  TZALockGuard(const TZALockGuard&) = delete;
  TZALockGuard& operator=(const TZALockGuard&) = delete;
};

}  // namespace archiver
