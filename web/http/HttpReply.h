#pragma once
// The reply a handler gives: a status, header lines in order, and a body from memory, from a range
// of an open file (a short one read and sent with the header, a longer one sent by the kernel with
// sendfile where it can be), or from a producer whose length may be unknown (sent chunked to
// HTTP/1.1 clients). Or, for work that may wait, no reply yet but the work that gives it (Later). The server adds
// Content-Length after the handler's headers where the body's length is known, unless the handler placed a
// Content-Length line among its headers itself (to keep a fixed header order); that one is sent as given.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Bytes made while the reply is sent (an archive packed as it goes out). Called by the server's
// threads, one call at a time.
class CReplyProducer {
 public:
  static constexpr ssize_t kNotReady = 0;  // nothing yet: the wake function is called once more is
  static constexpr ssize_t kEnd = -1;      // all bytes were given
  static constexpr ssize_t kFailed = -2;   // the reply breaks off: the client sees a failed transfer
  virtual ~CReplyProducer() = default;
  // Given once, before the first Produce; callable from any thread, any number of times.
  virtual void SetWake(std::function<void()> wake) = 0;
  // Copies the next bytes (at most `room`) into `into`: their count, or one of the values above.
  // Never blocks.
  virtual ssize_t Produce(char* into, size_t room) = 0;
};

struct CHttpRequest;

struct CHttpReply {
  enum class Body { Memory, File, Producer, Later };

  // No reply at all: the connection is closed without a byte (an unknown token).
  bool Drop = false;
  int Status = 200;
  // The status line reads "HTTP/1.0" (else "HTTP/1.1"). Either way the connection closes after it.
  bool AsHttp10 = true;
  std::vector<std::pair<std::string, std::string>> Headers;  // sent in this order
  Body Kind = Body::Memory;

  std::string Memory;  // Body::Memory

  // Body::File: Length bytes from Offset of Fd, which the reply owns (closed when sent or dropped).
  int Fd = -1;
  int64_t Offset = 0;
  int64_t Length = 0;
  // Body::File: called with the reply's bytes delivered before and after, as the client takes them
  // (read from the socket every tenth of a second, and once more when the reply is complete), one
  // call at a time on one of the server's threads. The file still goes out by sendfile.
  std::function<void(int64_t before, int64_t sent)> OnProgress;
  // Body::File with OnProgress: the whole length is told only once the client has acknowledged the
  // last byte (for a caller that acts on delivery, such as deleting the file). Without it, the
  // whole length is told when the reply has been handed to the kernel whole, which costs nothing
  // more per request.
  bool ProgressOnAcknowledgement = false;

  std::shared_ptr<CReplyProducer> Producer;  // Body::Producer
  int64_t ProducerLength = -1;               // known length, or -1 (chunked)

  // Sent (or, dropped, the connection closed) only after this long, the connection held meanwhile
  // without a thread: a guesser's misses are slowed. Not for Body::Later.
  std::chrono::milliseconds Delay{0};

  // Body::Later: the work that gives the real reply, run on one of the server's handler threads with
  // the request (its body readable through ReadBody). It may wait; it sees the server's stop flag.
  std::function<CHttpReply(CHttpRequest&)> Work;

  CHttpReply() = default;
  CHttpReply(CHttpReply&& other) noexcept;
  CHttpReply& operator=(CHttpReply&& other) noexcept;
  CHttpReply(const CHttpReply&) = delete;
  CHttpReply& operator=(const CHttpReply&) = delete;
  ~CHttpReply();  // closes Fd when the reply was never handed to the server

  void AddHeader(std::string name, std::string value) { Headers.emplace_back(std::move(name), std::move(value)); }
  // Drops the reply's file without sending it.
  void ReleaseFile();
  // Takes the file out of the reply: the caller owns the descriptor.
  int TakeFd();

  static CHttpReply Dropped();
  static CHttpReply Text(int status, std::string contentType, std::string body);
  static CHttpReply Later(std::function<CHttpReply(CHttpRequest&)> work);
};
