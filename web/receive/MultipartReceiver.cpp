#include "web/receive/MultipartReceiver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "web/receive/PartHeader.h"

namespace {

// A part's header block must end within the first 8192 bytes after its boundary line. File data
// moves through a larger fixed block, so that a big upload takes few reads and writes; memory stays
// the same for uploads of any size.
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
  // Reads until the window holds `count` bytes or the body ends; whether it holds them.
  bool Fill(size_t count) {
    while (length < count && ReadOnce()) {
    }
    return length >= count;
  }
  void Drop(size_t count) {
    std::memmove(data, data + count, length - count);
    length -= count;
  }
  UploadFailure EndedEarly() const { return failed ? UploadFailure::ReadFailed : UploadFailure::Incomplete; }
};

UploadFailure FailureOfErrno(int error, UploadFailure otherwise) {
  return error == ENOSPC || error == EDQUOT || error == EFBIG ? UploadFailure::DiskFull : otherwise;
}

size_t FindDelimiter(const CReceiveWindow& w, const std::string& delimiter) {
  const void* at = memmem(w.data, w.length, delimiter.data(), delimiter.size());
  return at ? static_cast<size_t>(static_cast<const char*>(at) - w.data) : std::string::npos;
}

// Moves one part's data from the window to the sink (or past it, without a sink), up to and
// including its closing delimiter.
UploadFailure ReceivePart(CReceiveWindow& w, const std::string& delimiter, CMultipartSink* sink) {
  const size_t d = delimiter.size();
  for (;;) {
    const size_t at = FindDelimiter(w, delimiter);
    if (at != std::string::npos) {
      if (sink)
        if (const int e = sink->Write(w.data, at)) return FailureOfErrno(e, UploadFailure::WriteFailed);
      w.Drop(at + d);
      return UploadFailure::None;
    }
    // All but the last D bytes, which may begin a delimiter split between two reads.
    if (w.length > d) {
      const size_t chunk = w.length - d;
      if (sink)
        if (const int e = sink->Write(w.data, chunk)) return FailureOfErrno(e, UploadFailure::WriteFailed);
      w.Drop(chunk);
    }
    if (!w.ReadOnce()) return w.EndedEarly();
  }
}

// After a delimiter: the rest of its line (blanks, then the line end), then the header block up to
// its empty line. Sets `length` to the block's length (the line end before it dropped), or returns
// why it could not be read.
UploadFailure FindHeaderBlock(CReceiveWindow& w, size_t& length) {
  w.Fill(kWindowSize);
  size_t i = 0;
  while (i < w.length && (w.data[i] == ' ' || w.data[i] == '\t')) ++i;
  if (i + 1 < w.length && w.data[i] == '\r' && w.data[i + 1] == '\n') {
    i += 2;
  } else if (i < w.length && w.data[i] == '\n') {
    i += 1;
  } else {
    return i + 1 >= w.length && w.ended ? w.EndedEarly() : UploadFailure::BadForm;
  }
  w.Drop(i);
  w.Fill(kWindowSize);
  const size_t limit = std::min(w.length, kWindowSize);
  for (size_t k = 0; k < limit; ++k) {
    if (w.data[k] != '\n') continue;
    if (k == 0 || (k == 1 && w.data[0] == '\r')) {  // a block without header lines
      length = k + 1;
      return UploadFailure::None;
    }
    if (k + 1 < limit && w.data[k + 1] == '\n') {
      length = k + 2;
      return UploadFailure::None;
    }
    if (k + 2 < limit && w.data[k + 1] == '\r' && w.data[k + 2] == '\n') {
      length = k + 3;
      return UploadFailure::None;
    }
  }
  return w.length >= kWindowSize ? UploadFailure::BadForm : w.EndedEarly();
}

// Whether the processing goes on after a part that failed this way.
bool GoesOn(UploadFailure failure, int beginError) {
  return failure == UploadFailure::NoName || (failure == UploadFailure::CannotCreate && beginError == EINVAL);
}

}  // namespace

CMultipartOutcome ReceiveMultipart(const std::string& boundary, const CBodyRead& read, CMultipartSink& sink) {
  const std::string delimiter = "\r\n--" + boundary;
  CMultipartOutcome outcome;
  CReceiveWindow w(read);
  auto fail = [&](const std::string& name, UploadFailure why) {
    sink.Failed(name, why);
    ++outcome.failed;
  };
  // The body begins with a delimiter not preceded by a line end: one is put before it.
  std::memcpy(w.data, "\r\n", 2);
  w.length = 2;
  if (const UploadFailure preamble = ReceivePart(w, delimiter, nullptr); preamble != UploadFailure::None) {
    fail({}, preamble == UploadFailure::Incomplete ? UploadFailure::BadForm : preamble);
    return outcome;
  }
  for (;;) {
    // After a delimiter: "--" closes the body (whatever follows is ignored).
    w.Fill(2);
    if (w.length >= 2 && w.data[0] == '-' && w.data[1] == '-') break;
    size_t block = 0;
    if (const UploadFailure found = FindHeaderBlock(w, block); found != UploadFailure::None) {
      fail({}, found);
      break;
    }
    CPartHeader header;
    const bool parsed = ParsePartHeader(w.data, block, header);
    w.Drop(block);
    if (!parsed) {
      fail({}, UploadFailure::BadForm);
      break;
    }
    if (!header.isFile || header.fileName.empty()) {
      // A text field is read past; an empty file name is a field where no file was chosen.
      const UploadFailure passed = ReceivePart(w, delimiter, nullptr);
      if (header.isFile) fail({}, UploadFailure::NoName);
      if (passed != UploadFailure::None) {
        fail(header.fileName, passed);
        break;
      }
      continue;
    }
    const std::string& sent = header.fileName;
    if (const int e = sink.Begin(sent)) {
      fail(sent, FailureOfErrno(e, UploadFailure::CannotCreate));
      if (!GoesOn(UploadFailure::CannotCreate, e)) break;
      if (const UploadFailure passed = ReceivePart(w, delimiter, nullptr); passed != UploadFailure::None) break;
      continue;
    }
    UploadFailure failure = ReceivePart(w, delimiter, &sink);
    if (failure == UploadFailure::None) {
      if (const int e = sink.Finish()) failure = FailureOfErrno(e, UploadFailure::WriteFailed);
    }
    if (failure != UploadFailure::None) {
      sink.Abandon();
      fail(sent, failure);
      break;
    }
    ++outcome.saved;
  }
  return outcome;
}
