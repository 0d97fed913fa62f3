// The per-item codec: turns the bytes of a source stream into the stored
// data of one archive item (stored or raw deflate, optionally with the
// traditional cipher, with its CRC-32 and sizes), and turns an item's stored
// data back into its bytes, whole or a window of the first bytes.
//
// Item data layout (what ZACompressItem writes, what ZADecompressItem reads
// after the local header):
//   [12-byte traditional encryption header]   traditionally encrypted items
//   [salt, 8/12/16 bytes; verifier, 2 bytes]  AES items (ZACryptoTransform.h)
//   data: the source bytes (method 0) or one raw deflate stream (method 8),
//         encrypted with the continuing key state when the item is
//   [authentication code, 10 bytes]           AES items
// The compressed size counts the encryption blocks. An AES item's header
// says method 99; its 0x9901 extra field names the real one.
//
// The codec works for one component operation at a time on the caller's
// thread; it keeps nothing between calls except what it writes back into the
// host's progress state and the item. Buffers are bounded whatever the item
// size: at most 1.5 MiB of input and its output while compressing, 1 MiB of
// input and 1 MiB of output while extracting. All counts are 64-bit.
//
// Decompression never trusts the declared sizes: output past the item's
// declared uncompressed size is an error (nothing past it reaches the
// target), and a stream that ends early or is damaged fails the item.
#pragma once

#include <cstdint>
#include <string>

#include "archiver/ZADirectory.h"
#include "archiver/ZAZipCrypt.h"
#include "platform/Streams.h"

namespace archiver {

// The archive component's progress state. The component's operation loops
// and the codec share it: the loops set the totals and the enabled flag, the
// codec moves the per-item position, and either side may raise the cancel.
// The component holds one; other hosts (tests, tools) hold their own.
struct TZAProgressState {
  int64_t FProgress = 0;     // position within the current item
  int64_t FProgressMax = 0;  // end of the current item (never 0 while one runs)
  bool FProgressCancel = false;   // an event or a refused disk-full retry cancelled
  bool FProgressEnabled = false;  // progress events fire for this operation
  bool FSkipFile = false;         // the user skipped the current item (password)
  bool FSuppressPasswordEvent = false;  // a password test runs: never ask
  int FProcessedFileNo = 0;
  int FProcessedFileCount = 0;
  int64_t FProcessedFilesSize = 0;
  int64_t FProcessedFilesTotalSize = 0;
};

// The component settings one codec call reads.
struct TZACodecSettings {
  bool ZipFormat = true;  // zip flavour; the non-zip flavour has no codec
  // Encryption of new items that carry a password.
  TZACryptoAlgorithm EncryptionMethod = caPkzipClassic;
  bool Zip64Allowed = true;   // Zip64Mode is not zmDisabled
  bool Zip64Always = false;   // Zip64Mode is zmAlways
  bool MultiVolume = false;   // SpanningMode is not smNone
  std::string ArchiveFileName;  // named by the disk-full event
  std::string ComponentName;    // named in error messages
  // ExtractCorruptedFiles: an item whose data runs into other bytes (the
  // next item's, the directory, the end of the file) is read as far as its
  // own bytes go, and fails.
  bool ReadDamaged = false;
  // The open archive's directory: where its central directory starts (an
  // item's data is cut there in a single-file archive) and the volume
  // numbers of a set. Null for a bare stream (tests, tools).
  const TZADirManager* Directory = nullptr;
};

// What the codec asks of the archive component that runs it. Apart from the
// progress state, the defaults answer like a component without handlers.
class TZACodecHost {
 public:
  virtual ~TZACodecHost() = default;

  // Fetched once per call; the codec works on the host's own state.
  virtual TZAProgressState& CodecProgress() = 0;
  virtual TZACodecSettings CodecSettings() const { return {}; }
  // The component's Password, read for every encrypted item. UTF-8 text or
  // its 1251 bytes: either reaches the cipher as 1251 (ZAPasswordBytes).
  virtual std::string CodecPassword() const { return {}; }

  // OnFileProgress with phase ppProcess; `fileName` as stored ('/').
  virtual void CodecFileProgress(const std::string& /*fileName*/, double /*percent*/,
                                 TZAProcessOperation, bool& cancel) { cancel = false; }
  // OnOverallProgress with phase ppProcess.
  virtual void CodecOverallProgress(double /*percent*/, TZAProcessOperation, bool& cancel) {
    cancel = false;
  }
  // OnPassword for an item whose password was refused: may change the
  // component's Password (read again through CodecPassword) or skip.
  virtual void CodecAskPassword(const std::string& /*itemName*/, bool& skipFile) { skipFile = true; }
  // OnDiskFull (see ZAWriteWithDiskFullRetry): false in `cancel` retries.
  virtual void CodecDiskFull(int /*volumeNumber*/, const std::string& /*fileName*/, bool& cancel) {
    cancel = true;
  }
  // An item's data goes on in volume `number` (from 0) of a set whose last
  // volume is `lastNumber`: opens it for reading and returns its stream (the
  // component's archive stream from now on, owned by the component), or null
  // when there is none. Called only for a multi-volume archive.
  virtual platform::TStream* CodecOpenVolume(int /*number*/, int /*lastNumber*/) { return nullptr; }
  // The item being read is refused or cut short by another entry: the
  // directory checks that the entries hold local headers of their own (one
  // whose offset was damaged claims no bytes) and marks its entries again,
  // the item's Overlaps and DataLimit included; true when they changed. The
  // archive stream's position is kept.
  virtual bool CodecConfirmRecords() { return false; }
};

// Compresses the whole of `source` (from position 0, whatever its position)
// into `dest` at dest's position, and fills the item's method, sizes and CRC
// (CentralDir.compMethod, crc32, compSize, unCompSize; Zip64ExtInfo and
// bHugeFile when a size needs zip64).
//  - Item.CompressionMethod 0 stores, any other value deflates at level
//    Item.CompressionMode; an empty source always ends as method 0.
//  - A non-empty Item.Password (text as for CodecPassword) encrypts: with
//    AES when the settings' EncryptionMethod is an AES method (zip flavour):
//    method 99, CentralDir.crc32 0 for a source under ZAAESMinCrcSize
//    bytes, Item.ZAEncryptionAlgorithm set and the 0x9901 field put in
//    Item.ExtraFields (replacing one there); else with the traditional
//    cipher. The encryption blocks count in the compressed size.
// Returns false only when the operation was cancelled (a progress event, or
// a disk-full retry refused). Raises EZAException code 34 when the source
// yields fewer bytes than its size, 41 when a size needs zip64 and zip64 is
// disabled; ECompressionError when zlib fails.
bool ZACompressItem(TZACodecHost& host, platform::TStream& source, platform::TStream& dest,
                    TDirItem& item);

// Extracts one item. `source` stands on the item's local header (in the
// volume that holds it). count <= 0 extracts the whole item, checking its
// size and, in an archive of the zip flavour (the directory's end record
// decides, never the entry), its CRC; count > 0 extracts the window
// [startPosition, startPosition + count) (a negative start counts as 0):
// `dest` then receives exactly the window's bytes (fewer when the item ends
// first) from its position on, and no size or CRC check follows. A window
// read inflates only what it needs.
// Returns true when the item (or window) was extracted and passed its
// checks; false when it failed, was skipped (FSkipFile set) or was
// cancelled (FProgressCancel set): a wrong password refused and not
// corrected, an unknown method, a damaged or truncated stream, output past
// the declared size, a bad size or CRC, a failed read, an item whose bytes
// overlap another's (Overlaps) or whose data pass its DataLimit. Raises EZAException
// code 55 for a Deflate64 item.
// AES items (method 99, zip flavour): the password is tried as its 1251
// bytes, then as UTF-8, against the stored verifier, with one key
// derivation per form. A whole read passes only when the authentication
// code matches (and for AE-1 items the CRC); a window is not
// authenticated, as that would cost reading the whole item. An item without
// a usable 0x9901 field or the encryption flag, or too short for its
// encryption blocks, fails before anything is written.
bool ZADecompressItem(TZACodecHost& host, platform::TStream& source, platform::TStream& dest,
                      TDirItem& item, int32_t count, int64_t startPosition);

// Reads the 12-byte traditional encryption header at the stream's position,
// initialises `keys` from `password` (UTF-8, through ZAPasswordBytes) and
// decrypts the header; true when its check byte accepts the password (see
// ZAZipCryptCheckHeader). False, too, when the stream ends first.
bool ZACheckClassicPassword(platform::TStream& stream, const std::string& password,
                            ZAZipCryptKeys& keys, uint32_t crc32, uint16_t lastModTime,
                            uint16_t flags);

// Reads an AES item's salt and verifier at the stream's position (just past
// the local header) and checks `password` against them: one key derivation
// per password form. False, too, for an item without a usable 0x9901 field
// and when the stream ends first.
bool ZACheckAESPassword(platform::TStream& stream, const TDirItem& item, const std::string& password);

// Input chunk sizes of the codec.
inline constexpr int64_t ZADecompressChunk = 1048576;  // compressed input per read
inline constexpr int64_t ZAStoredBlock = 65535;        // stored data per write

}  // namespace archiver
