// The single-file volume layer.
#include "archiver/ZAVolumes.h"

#include "archiver/ZAExcept.h"

namespace archiver {

void TZASingleFileVolumes::WriteKeptTogether(platform::TStream*& stream, const void* data,
                                             int64_t count) {
  if (!stream) throw EZAException(ZA_ERR_NIL_POINTER);
  if (count <= 0) return;
  if (stream->Write(data, count) != count) throw EZAException(ZA_ERR_STREAM_WRITE);
}

}  // namespace archiver
