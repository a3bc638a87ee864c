#pragma once
// The multipart/form-data receiver: reads a body as it arrives and hands each file part's data to a
// sink, keeping only a fixed window in memory. Free of the server library: the body comes through a
// read function, the files go through the sink.

#include <cstddef>
#include <functional>
#include <string>

// Why a part was not stored.
enum class UploadFailure {
  None,          // stored
  Incomplete,    // the body ended before the part's closing delimiter
  ReadFailed,    // reading the body failed or timed out
  CannotCreate,  // the file could not be created (EINVAL: its name cannot be stored)
  DiskFull,      // a write or the creation found no room (ENOSPC, EDQUOT, EFBIG)
  WriteFailed,   // a write or the close failed for another reason
  BadForm,       // the body is no multipart form: no boundary in it, a malformed part header, or one
                 // that does not end within 8192 bytes
  NoName,        // a file part whose file name is empty (no file was chosen for that field)
};

// Where file parts go. Begin, then any number of Write, then exactly one of Finish or Abandon.
class CMultipartSink {
 public:
  virtual ~CMultipartSink() = default;
  // A file part with this sent name begins. 0, or the errno of a creation that failed (EINVAL for a
  // name that cannot be stored: that part is skipped and the next one read).
  virtual int Begin(const std::string& sentName) = 0;
  // 0, or the errno of a write that failed.
  virtual int Write(const char* data, size_t count) = 0;
  // The part's closing delimiter arrived: keep the file. 0, or the errno of a close or move that failed.
  virtual int Finish() = 0;
  // The part did not complete: remove everything written for it.
  virtual void Abandon() = 0;
  // A part that was not stored, told in the body's order among the parts stored (after Abandon when
  // it was begun). sentName is empty for a part whose header could not be read.
  virtual void Failed(const std::string& sentName, UploadFailure why) = 0;
};

struct CMultipartOutcome {
  int saved = 0;
  int failed = 0;  // parts told to Failed
};

// Reads the body: a count, 0 at the end of the body, negative on a failure (CHttpBodyRead).
using CBodyRead = std::function<int(char* into, size_t room)>;

// Receives the parts delimited by "--" + boundary, up to the closing delimiter; a preamble before the
// first delimiter and an epilogue after the last are ignored. Parts that are not files (text fields)
// are read past. A file part with an empty name, or one whose name cannot be stored, is skipped and
// told to Failed, and the next part is read. Anything else that fails is told to Failed and ends the
// processing: a malformed part header or one that does not end within 8192 bytes, a body without any
// delimiter, a body that ends or breaks off inside a part, a file that cannot be created or written.
CMultipartOutcome ReceiveMultipart(const std::string& boundary, const CBodyRead& read, CMultipartSink& sink);
