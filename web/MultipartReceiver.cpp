#include "web/MultipartReceiver.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// A part's header block must end within the first 8192 bytes of the window. File data moves through
// a larger fixed block, so that a big upload takes few reads and writes; memory stays the same for
// uploads of any size.
constexpr size_t kWindowSize = 8192;
constexpr size_t kDataBlockSize = 256 * 1024;

// The body's bytes pass through one fixed buffer: read at the end, consumed from the front.
struct CReceiveWindow {
  explicit CReceiveWindow(const CBodyRead& r) : read(r) {}
  const CBodyRead& read;
  std::unique_ptr<char[]> buffer{new char[kDataBlockSize]};
  char* data = buffer.get();
  size_t length = 0;
  bool ended = false;   // the body has ended or failed: no more reads
  bool failed = false;  // it failed rather than ended

  // One read into the free space; false once the body has ended or failed.
  bool ReadOnce() {
    if (length == kDataBlockSize) return true;
    if (ended) return false;
    const int got = read(data + length, kDataBlockSize - length);
    if (got <= 0) {
      ended = true;
      failed = got < 0;
      return false;
    }
    length += std::min(static_cast<size_t>(got), kDataBlockSize - length);
    return true;
  }
  // Reads until the window's first 8192 bytes are there or the body ends.
  void Fill() {
    while (length < kWindowSize && ReadOnce()) {
    }
  }
  void Drop(size_t count) {
    std::memmove(data, data + count, length - count);
    length -= count;
  }
};

// Length of the part header block at the window's front (up to and including its empty line),
// or 0 when the window holds no complete block or a control character comes before its end.
size_t HeaderBlockLength(const CReceiveWindow& w) {
  const size_t length = std::min(w.length, kWindowSize);
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(w.data[i]);
    if (c == '\n') {
      if (i + 1 < length && w.data[i + 1] == '\n') return i + 2;
      if (i + 2 < length && w.data[i + 1] == '\r' && w.data[i + 2] == '\n') return i + 3;
    } else if ((c < 0x20 && c != '\r') || c == 0x7F) {
      return 0;
    }
  }
  return 0;
}

// The sent file name of a header block: the last "Content-Disposition" line (its name in any case)
// that names a file.
bool FindSentName(const char* block, size_t length, std::string& name) {
  static const char kField[] = "Content-Disposition:";
  constexpr size_t kFieldLength = sizeof kField - 1;
  bool found = false;
  size_t start = 0;
  while (start < length) {
    const char* end = static_cast<const char*>(memmem(block + start, length - start, "\r\n", 2));
    const size_t lineEnd = end ? static_cast<size_t>(end - block) : length;
    std::string line(block + start, lineEnd - start);
    if (line.size() >= kFieldLength && strncasecmp(line.c_str(), kField, kFieldLength) == 0) {
      line.replace(0, kFieldLength, kField);
      char sent[1024];
      if (std::sscanf(line.c_str(), "Content-Disposition: %*s %*s filename=\"%1023[^\"]", sent) == 1) {
        name = sent;
        found = true;
      }
    }
    start = lineEnd + 2;
  }
  return found;
}

UploadFailure FailureOfErrno(int error, UploadFailure otherwise) {
  return error == ENOSPC || error == EDQUOT || error == EFBIG ? UploadFailure::DiskFull : otherwise;
}

size_t FindDelimiter(const CReceiveWindow& w, const std::string& delimiter) {
  const void* at = memmem(w.data, w.length, delimiter.data(), delimiter.size());
  return at ? static_cast<size_t>(static_cast<const char*>(at) - w.data) : std::string::npos;
}

// Moves one file part's data from the window to the sink, up to its closing delimiter.
UploadFailure ReceivePart(CReceiveWindow& w, const std::string& delimiter, CMultipartSink& sink) {
  const size_t d = delimiter.size();
  for (;;) {
    const size_t at = FindDelimiter(w, delimiter);
    if (at != std::string::npos) {
      if (const int e = sink.Write(w.data, at)) return FailureOfErrno(e, UploadFailure::WriteFailed);
      w.Drop(at + d);
      return UploadFailure::None;
    }
    // All but the last D bytes, which may begin a delimiter split between two reads.
    if (w.length > d) {
      const size_t chunk = w.length - d;
      if (const int e = sink.Write(w.data, chunk)) return FailureOfErrno(e, UploadFailure::WriteFailed);
      w.Drop(chunk);
    }
    if (!w.ReadOnce()) return w.failed ? UploadFailure::ReadFailed : UploadFailure::Incomplete;
  }
}

}  // namespace

CMultipartOutcome ReceiveMultipart(const std::string& boundary, const CBodyRead& read, CMultipartSink& sink) {
  const std::string delimiter = "\r\n--" + boundary;
  CMultipartOutcome outcome;
  CReceiveWindow w(read);
  for (;;) {
    w.Fill();
    const size_t block = HeaderBlockLength(w);
    if (block == 0) break;
    std::string sent;
    if (!FindSentName(w.data, block, sent)) break;
    w.Drop(block);

    if (const int e = sink.Begin(sent)) {
      outcome.failure = FailureOfErrno(e, UploadFailure::CannotCreate);
      break;
    }
    UploadFailure failure = ReceivePart(w, delimiter, sink);
    if (failure == UploadFailure::None) {
      if (const int e = sink.Finish()) failure = FailureOfErrno(e, UploadFailure::WriteFailed);
    }
    if (failure != UploadFailure::None) {
      sink.Abandon();
      outcome.failure = failure;
      break;
    }
    ++outcome.saved;
  }
  return outcome;
}
