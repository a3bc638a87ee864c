#pragma once
// IZipSink: where the compressed data of one archive entry goes, piece by piece and in order. The
// archive writer is the one in use; the compressor sees nothing else of it. Called on the thread
// that adds the entry.

#include <cstddef>

class IZipSink {
 public:
  // Appends bytes to the entry's data; false when they could not be written (the entry then fails).
  virtual bool Put(const void* data, size_t size) = 0;
  // Marks the end of a whole piece: what was put so far may become final in the archive file (to be
  // read while the archive is still written). False when that write fails.
  virtual bool Settle() = 0;
  // True once the entry is to end early; checked between pieces.
  virtual bool Cancelled() const = 0;

 protected:
  ~IZipSink() = default;
};
