// The volume layer as the directory manager sees it.
//
// An archive is either one file (or stream) or a set of volumes: numbered
// files side by side (splitting) or one file per removable disk (spanning).
// Loading and saving the directory reach the volumes only through
// TZAVolumeLayer, so they read and write a single file and a volume set with
// the same code. TZASingleFileVolumes is the layer of a plain archive: it
// never switches volumes and writes straight to the stream it is given. The
// archive component's layer is TZAVolumeSet (ZAVolumeSet.h), which is a
// plain file too while the component's spanning mode is smNone.
//
// A layer belongs to one archive component and is used from its thread only.
#pragma once

#include <cstdint>

#include "platform/Streams.h"

namespace archiver {

enum TZASpanningMode { smNone, smSpanning, smSplitting };

class TZAVolumeLayer {
 public:
  virtual ~TZAVolumeLayer() = default;

  // How the open archive (or the archive being written) is laid out.
  virtual TZASpanningMode SpanningMode() const = 0;
  bool MultiVolume() const { return SpanningMode() != smNone; }

  // Reading a directory that starts on volume `number` (from 0) of a set
  // whose last volume is `lastNumber`: that volume becomes the archive
  // stream, which is returned. Raises EZAException (code 45) when the user
  // cancels the request for the volume.
  virtual platform::TStream* OpenVolumeForReading(int number, int lastNumber) = 0;
  // Reading on: the volume after the current one becomes the archive stream.
  virtual platform::TStream* OpenNextVolumeForReading() = 0;

  // Writing: the number of the volume being written (0 for a single file).
  virtual int CurrentVolumeNumber() const = 0;
  // Writing: appends `count` bytes that must not be cut between volumes (one
  // central entry). When the current volume cannot hold them, the layer moves
  // to the next volume first and updates `stream`. A short write raises
  // EZAException code 46.
  virtual void WriteKeptTogether(platform::TStream*& stream, const void* data, int64_t count) = 0;
  // Writing: makes sure the next `count` bytes land in one volume, moving to
  // the next volume (and updating `stream`) when the current one cannot take
  // them. A single file always can.
  virtual void ReserveRoom(platform::TStream*& /*stream*/, int64_t /*count*/) {}
  // Writing: called after the end records are written; gives the finished
  // set its final names. Returns the stream the archive goes on with.
  virtual platform::TStream* FinishWriting(platform::TStream* stream) = 0;
};

// A plain archive: one file, a memory stream or a caller's stream.
class TZASingleFileVolumes : public TZAVolumeLayer {
 public:
  TZASpanningMode SpanningMode() const override { return smNone; }
  // A single file has no other volume: both return nullptr (keep the stream).
  platform::TStream* OpenVolumeForReading(int, int) override { return nullptr; }
  platform::TStream* OpenNextVolumeForReading() override { return nullptr; }
  int CurrentVolumeNumber() const override { return 0; }
  void WriteKeptTogether(platform::TStream*& stream, const void* data, int64_t count) override;
  platform::TStream* FinishWriting(platform::TStream* stream) override { return stream; }
};

}  // namespace archiver
