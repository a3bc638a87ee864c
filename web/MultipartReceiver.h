#pragma once
// The multipart/form-data receiver: reads a body as it arrives and hands each file part's data to a
// sink, keeping only a fixed window in memory. Free of the server library: the body comes through a
// read function, the files go through the sink.

#include <cstddef>
#include <functional>
#include <string>

// Why the last file part did not complete.
enum class UploadFailure {
  None,          // every file part begun was saved
  Incomplete,    // the body ended before the part's closing delimiter
  ReadFailed,    // reading the body failed or timed out
  CannotCreate,  // the file could not be created
  DiskFull,      // a write or the creation found no room (ENOSPC, EDQUOT, EFBIG)
  WriteFailed,   // a write or the close failed for another reason
};

// Where file parts go. Begin, then any number of Write, then exactly one of Finish or Abandon.
class CMultipartSink {
 public:
  virtual ~CMultipartSink() = default;
  // A file part with this sent name begins. 0, or the errno of a creation that failed.
  virtual int Begin(const std::string& sentName) = 0;
  // 0, or the errno of a write that failed.
  virtual int Write(const char* data, size_t count) = 0;
  // The part's closing delimiter arrived: keep the file. 0, or the errno of a close that failed.
  virtual int Finish() = 0;
  // The part did not complete: remove everything written for it.
  virtual void Abandon() = 0;
};

struct CMultipartOutcome {
  int saved = 0;
  UploadFailure failure = UploadFailure::None;
};

// Reads the body: a count, 0 at the end of the body, negative on a failure (CHttpBodyRead).
using CBodyRead = std::function<int(char* into, size_t room)>;

// Receives the parts delimited by "--" + boundary. Processing ends at the end of the body, at a part
// header block that does not end within 8192 bytes or holds a control character, at a part without
// a file name, or at the first file part that does not complete (which is abandoned).
CMultipartOutcome ReceiveMultipart(const std::string& boundary, const CBodyRead& read, CMultipartSink& sink);
