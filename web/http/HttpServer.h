#pragma once
// The HTTP server: the one owner of the server library (libmicrohttpd). It listens on IPv4 and IPv6,
// holds idle and slow clients without a thread each, caps the connections of one client address
// (an IPv6 client counted by its /64), ends connections silent past the idle limit, and runs an
// IHttpHandler for each request. Start and Stop from one thread; the handler's Serve is called on
// the library's threads, the work of its deferred replies on a fixed pool of handler threads.

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "web/http/HttpHandler.h"

class CTlsCredentials;

struct CHttpServerOptions {
  // "PORT" (every address, both families), "ADDR:PORT" or "[IPV6]:PORT".
  std::string Listen;
  // Connections one address (an IPv6 /64) may hold at once; past it, a new one is answered
  // "503" and closed before its request is read.
  int MaxPerAddress = 8;
  // A connection that brings no byte for this long is ended (an upload then fails).
  int IdleLimitMs = 30000;
  // A connection whose request head (TLS handshake included) is not complete this long after it
  // began is ended, however its bytes trickle: at the next connection's start, so that room is
  // made for it (and, failing that, by the idle limit).
  int HeadLimitMs = 10000;
  // Threads that read requests and send replies, each for many connections; 0: one per processor,
  // 2 to 4. They never wait, so more than the processors would only take turns.
  int Threads = 0;
  // Threads that run the work of deferred replies (uploads, folder pages, archives), made as needed;
  // 256 more such requests may wait for one, with their connections suspended, past that "busy".
  int HandlerThreads = 8;
  // HTTPS with these credentials (TLS 1.2 and later); plain HTTP when null. A plain request to an
  // HTTPS server fails its handshake and is closed.
  std::shared_ptr<CTlsCredentials> Tls;
  // Addresses whose connections MaxPerAddress does not cap: a reverse proxy that the service
  // trusts, which carries many clients' requests. The service then counts the clients it names.
  std::vector<std::string> Uncapped;
};

class CHttpServer {
 public:
  CHttpServer();
  ~CHttpServer();
  CHttpServer(const CHttpServer&) = delete;
  CHttpServer& operator=(const CHttpServer&) = delete;

  // False when it cannot listen.
  bool Start(const CHttpServerOptions& options, IHttpHandler& handler);
  // Stops listening, ends every connection and waits for handlers still running; they see
  // StopFlag() (and their body reads fail) and give up. Returns once no thread of the server runs.
  void Stop();
  bool Running() const;
  // The port listened on; 0 when not running.
  int Port() const;
  // True from the start of Stop.
  const std::atomic<bool>& StopFlag() const { return m_stopping; }

 private:
  void StopWatchingSends();

  struct CImpl;
  std::unique_ptr<CImpl> m_impl;
  std::atomic<bool> m_stopping{false};
};

// Raises the process's open-file soft limit to its hard limit (many connections need many).
void RaiseOpenFileLimit();
