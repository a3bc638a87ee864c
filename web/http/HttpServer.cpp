// The only file that sees libmicrohttpd. Connections are read and written by a small pool of the
// library's threads, each polling many sockets (epoll), so an idle or slow client costs a socket and a
// little memory, never a thread. Those threads never wait: not for a handler, not for a lock a
// handler holds while it works, not for the disk at length. Work that may wait runs on the handler
// pool (HandlerPool.h), a fixed number of threads, once the handler's checks have passed on the
// library's thread. A connection whose handler has a backlog of body to write, or whose reply is
// not ready, is suspended by its own callback and resumed from the handler's side. A producer reply
// that has no bytes ready suspends its connection until woken. Files go out by sendfile (short ones
// with their header). Where a file reply's progress is asked for, a thread of the server reads the
// socket's delivered bytes every tenth of a second while such replies are under way.

#include "web/http/HttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "web/http/ClientAddress.h"
#include "web/http/HandlerPool.h"
#include "web/http/SocketDelivered.h"
#include "web/http/TlsCredentials.h"

namespace {

// Body bytes held for a handler at work before its connection is suspended, and for one still
// waiting for a handler thread; the connection is resumed when the handler takes them.
constexpr size_t kBodyBacklog = 1024 * 1024;
constexpr size_t kQueuedBacklog = 64 * 1024;
// A handler's read waits for this much of the body (or its end) before it wakes: few wakes per file.
constexpr size_t kReadAtLeast = 256 * 1024;
// ... but never waits longer than this for it while some bytes are there: a handler that watches the
// rate of a slow upload (the relay's least rate) gets to look at least this often.
constexpr auto kReadAtLeastWait = std::chrono::seconds(1);
// Handler threads, and deferred requests that may wait for one; past that, "busy".
constexpr size_t kQueueLimit = 256;
constexpr auto kProgressPeriod = std::chrono::milliseconds(100);
// Each connection's buffer for its request header and body pieces. At 32 KiB the library takes it
// from the heap; above, it maps fresh pages for every connection and clears most of them, whose
// faults cost more than the rest of a small download. Uploads then arrive in 16 KiB reads, which
// costs them a few percent more CPU than 64 KiB reads would: still over 1 GB/s on loopback.
constexpr size_t kConnectionMemory = 32 * 1024;
// File replies up to this length are read whole and sent with their header.
constexpr size_t kReadWhole = 16 * 1024;

const char kBusyReply[] =
    "HTTP/1.0 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nbusy\n";

// The reply when no handler thread, no room in their queue or no memory is left: try again soon.
CHttpReply BusyReply() {
  CHttpReply reply = CHttpReply::Text(503, "text/plain", "busy\n");
  reply.AddHeader("Retry-After", "5");
  return reply;
}

// The state of a producer reply, shared by the reader, the producer's wake function and Stop. The
// reader suspends the connection under `lock` when the producer has nothing yet, unless a wake came
// since it asked; a wake resumes it under the same lock. A suspension made inside the reader is in
// force when MHD_suspend_connection returns (a resume may then come from another thread while the
// reader is still returning), so one resume always ends it, and the waking thread (an archive's
// packing) never waits for the server's threads.
struct CProducerState {
  std::mutex lock;
  MHD_Connection* conn = nullptr;  // null once the reply has gone
  bool suspended = false;
  bool pending = false;  // woken since the last Produce
  std::shared_ptr<CReplyProducer> producer;
  const std::atomic<bool>* stopping = nullptr;

  void Wake() {
    std::lock_guard<std::mutex> hold(lock);
    pending = true;
    if (suspended && conn) {
      suspended = false;
      MHD_resume_connection(conn);
    }
  }
};

// A file reply sent by the kernel whose progress is told: the bytes its socket has delivered past
// the reply's header (estimated from its lines, and short of the last byte). Its whole length is
// told when the reply is complete, or, with `onAcknowledgement`, only once the peer has also
// acknowledged every byte of it: the reply's end only means that the bytes were handed to the
// kernel. The socket is then kept (a duplicate, as the library closes its own) until the
// acknowledgement, a failure or kLingerLimit; at most kKeptLimit sockets at once per server, so that
// peers that never acknowledge cannot use up its descriptors (past that, a reply whose last bytes
// are still in flight is not told as whole).
// Read by the progress thread and ended by the connection's thread, one at a time (lock).
struct CWatchedSend {
  std::mutex lock;
  bool ended = false;
  int socket = -1;  // open until End: the library closes it only after the request's end
  int kept = -1;    // a duplicate of the socket while the reply's last bytes are in flight
  std::chrono::steady_clock::time_point keptSince;
  std::shared_ptr<std::atomic<int>> keptCount;  // the server's kept sockets
  int64_t header = 0;
  int64_t length = 0;
  int64_t told = 0;  // bytes of the body reported so far
  bool onAcknowledgement = false;
  std::function<void(int64_t, int64_t)> progress;

  ~CWatchedSend() { Release(); }
  // True once nothing is left to watch.
  bool Poll() {
    std::lock_guard<std::mutex> hold(lock);
    if (ended) return true;
    if (kept >= 0) {
      const int64_t unacked = SocketBytesUnacknowledged(kept);
      if (unacked == 0) Tell(length);
      if (unacked <= 0 || std::chrono::steady_clock::now() - keptSince > kLingerLimit) Finish();
      return ended;
    }
    const int64_t delivered = SocketBytesDelivered(socket);
    // Up to its whole length only: the header's length is an estimate, so the last bytes are told
    // by their acknowledgement once the reply is complete.
    if (delivered > header && delivered - header < length) Tell(delivered - header);
    return false;
  }
  // The request has ended, sent whole or not. True when nothing is left to watch.
  bool End(bool whole) {
    std::lock_guard<std::mutex> hold(lock);
    const int64_t unacked = !whole ? -1 : onAcknowledgement ? SocketBytesUnacknowledged(socket) : 0;
    if (unacked == 0) Tell(length);
    if (unacked > 0 && keptCount) {
      if (keptCount->fetch_add(1) < kKeptLimit && (kept = ::fcntl(socket, F_DUPFD_CLOEXEC, 0)) >= 0) {
        keptSince = std::chrono::steady_clock::now();
        return false;
      }
      keptCount->fetch_sub(1);  // not kept: past the limit, or no descriptor left
    }
    Finish();
    return true;
  }

 private:
  static constexpr auto kLingerLimit = std::chrono::seconds(120);
  static constexpr int kKeptLimit = 1024;
  void Finish() {
    ended = true;
    progress = nullptr;
    Release();
  }
  void Release() {
    if (kept < 0) return;
    ::close(kept);
    kept = -1;
    keptCount->fetch_sub(1);
  }
  void Tell(int64_t sent) {
    sent = std::min(sent, length);
    if (sent <= told) return;
    progress(told, sent);
    told = sent;
  }
};

// True when the client has closed the socket (or reset it) and nothing of it is left unread. Only
// peeks: the library keeps reading it as before.
bool PeerClosed(int fd) {
  if (fd < 0) return false;
  char c;
  const ssize_t n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

}  // namespace

// One request. For a deferred reply it is shared by the connection and the handler thread that runs
// its work: the body passes from the connection's thread to the handler through `body`, the
// connection suspended while the handler has a backlog to write, and the reply passes back, the
// connection suspended from the body's end until the reply is there. Only the connection's own
// callbacks suspend it; the handler's side resumes it, under `lock`, while it is known suspended.
struct CExchange : std::enable_shared_from_this<CExchange> {
  MHD_Connection* conn = nullptr;
  std::string target;
  bool begun = false;
  bool later = false;                     // its work runs on a handler thread
  bool listed = false;                    // in CImpl::live; set and cleared on the connection's thread
  std::shared_ptr<CWatchedSend> watched;  // in CImpl::sends; likewise
  CHttpRequest request;
  std::function<CHttpReply(CHttpRequest&)> work;

  int fd = -1;        // the connection's socket, to look at only while `failed` is false, under `lock`
  std::string taken;  // body bytes the handler has taken, read from takenAt on; its thread's alone
  size_t takenAt = 0;

  std::mutex lock;  // guards everything below
  std::condition_variable changed;
  std::string body;  // received, not yet taken
  bool bodyEnd = false;
  bool failed = false;     // the connection ended first, or the server stops: the connection is not touched again
  bool suspended = false;  // suspended by its callback, not resumed since
  bool done = false;       // the work has given its reply
  bool started = false;    // a handler thread runs the work
  size_t want = 0;         // bytes the reader waits for; 0 while it does not wait
  CHttpReply reply;
  std::shared_ptr<CProducerState> producer;

  // Ends the exchange for both sides: a reader returns at once, a suspended connection is resumed
  // (its callback then closes it), a producer reply ends at its next read.
  void Fail() {
    std::shared_ptr<CProducerState> p;
    {
      std::lock_guard<std::mutex> hold(lock);
      failed = true;
      if (suspended) Resume();
      p = producer;
    }
    changed.notify_all();
    if (p) p->Wake();
  }
  // Under `lock`, while suspended.
  void Resume() {
    suspended = false;
    MHD_resume_connection(conn);
  }

  // The handler's read of the body (CHttpBodyRead), on its thread. It takes all the connection has
  // received at once (a swap under the lock, so the connection's thread never waits for a copy), and
  // waits for a good share of what it asked for, so that a fast upload wakes it once per block
  // rather than once per network read (a slow one returns what it has after kReadAtLeastWait).
  int ReadBody(char* into, size_t room) {
    if (takenAt == taken.size()) {
      std::unique_lock<std::mutex> hold(lock);
      want = std::max<size_t>(1, std::min(room, kReadAtLeast));
      // A suspended connection brings nothing more until this take resumes it. A slow body is taken
      // as it is after kReadAtLeastWait.
      if (!changed.wait_for(hold, kReadAtLeastWait,
                            [&] { return failed || bodyEnd || suspended || body.size() >= want; })) {
        want = 1;  // any byte wakes it now
        // The library does not always tell of a client's close while a body is under way (seen with
        // libmicrohttpd 0.9.75 about once in ten cut uploads: the connection, not suspended, is read
        // no more until its idle limit). So a reader that waits on a running connection looks at
        // the socket itself each kReadAtLeastWait, and a closed one fails the exchange at once.
        while (!changed.wait_for(hold, kReadAtLeastWait,
                                 [&] { return failed || bodyEnd || suspended || !body.empty(); })) {
          if (PeerClosed(fd)) failed = true;
        }
      }
      want = 0;
      if (failed) return -1;
      taken.clear();
      taken.swap(body);
      takenAt = 0;
      if (suspended && !bodyEnd) Resume();
      if (taken.empty()) return 0;
    }
    const size_t n = std::min({room, taken.size() - takenAt, size_t{INT32_MAX}});
    std::memcpy(into, taken.data() + takenAt, n);
    takenAt += n;
    return static_cast<int>(n);
  }

  // A held reply's time has come: its connection's callback sends it.
  void Release() {
    std::lock_guard<std::mutex> hold(lock);
    if (suspended && !failed) Resume();
  }

  // The work has given its reply: the connection's callback sends it, now if it waits for it.
  void Complete(CHttpReply given) {
    std::lock_guard<std::mutex> hold(lock);
    reply = std::move(given);
    done = true;
    body.clear();
    if (suspended && !failed) Resume();
  }
};

// One connection: its address key, counted from its start until its request has been answered (the
// connection then only closes: keep-alive is always off) or, failing that, until it closes. The
// library tells of a close only a moment after the client sees it, so a client that opens a new
// connection for each request would otherwise be counted for connections it no longer has.
// The library's socket context of a connection points to its CTlsConnection part (the handshake's
// credentials, read by the certificate callback); StateOf finds the whole.
struct CConnectionState : CTlsConnection {
  std::string key;
  bool counted = true;  // under CImpl::lock
  // While its request head is coming (CImpl::heading, under CImpl::lock): its socket, and since when.
  int socket = -1;
  std::chrono::steady_clock::time_point began;
  bool heading = false;
  std::shared_ptr<CExchange> exchange;
};

CConnectionState* StateOf(void* socketContext) {
  return socketContext ? static_cast<CConnectionState*>(static_cast<CTlsConnection*>(socketContext)) : nullptr;
}

struct CHttpServer::CImpl {
  CHttpServer* owner = nullptr;
  IHttpHandler* handler = nullptr;
  CHttpServerOptions options;
  MHD_Daemon* daemon = nullptr;
  std::unique_ptr<CHandlerPool> pool;

  std::mutex lock;  // guards the two below
  std::map<std::string, int> perAddress;
  std::map<CExchange*, std::shared_ptr<CExchange>> live;  // what a stop must end: deferred work, producer replies
  // Connections whose request head is still coming, oldest first. A socket listed here is open:
  // the library tells of a connection's close (which unlists it) before it closes the socket.
  std::set<std::pair<std::chrono::steady_clock::time_point, CConnectionState*>> heading;
  // Unlists a connection whose head is complete, or that closes (under `lock`).
  void Headed(CConnectionState& state) {
    if (!state.heading) return;
    heading.erase({state.began, &state});
    state.heading = false;
  }
  // Shuts the connections whose head is overdue; their own threads then find them closed. Under
  // `lock`, on a library thread: shutdown does not wait.
  void EndLateHeads(std::chrono::steady_clock::time_point now) {
    const auto limit = std::chrono::milliseconds(options.HeadLimitMs);
    while (!heading.empty() && now - heading.begin()->first > limit) {
      CConnectionState& late = *heading.begin()->second;
      ::shutdown(late.socket, SHUT_RDWR);
      Headed(late);
      UncountLocked(late);  // its room is free at once, though its thread closes it a moment later
    }
  }

  // File replies whose progress is told, and held replies: the clock thread (WatchSends) reads the
  // first while there are any and releases the second when their time comes.
  std::mutex sendLock;  // guards the five below
  std::condition_variable sendChanged;
  std::set<std::shared_ptr<CWatchedSend>> sends;
  bool sendStop = false;
  bool sendIdle = false;  // the progress thread waits for a first reply, not for its next round
  // Sockets kept after their replies' ends, for the last bytes' acknowledgement (CWatchedSend).
  std::shared_ptr<std::atomic<int>> keptSockets = std::make_shared<std::atomic<int>>(0);
  // Replies held back until their time (CHttpReply::Delay), by that time.
  std::multimap<std::chrono::steady_clock::time_point, std::weak_ptr<CExchange>> held;
  std::thread sendWatch;
  void WatchSends();
  void Unwatch(CExchange* ex, bool completed) {
    if (!ex->watched) return;
    if (ex->watched->End(completed)) {
      std::lock_guard<std::mutex> hold(sendLock);
      sends.erase(ex->watched);
    } else {  // the progress thread watches its last bytes and drops it
      sendChanged.notify_all();
    }
    ex->watched.reset();
  }

  static void* OnUri(void* cls, const char* uri, MHD_Connection* conn);
  static void OnConnection(void* cls, MHD_Connection* conn, void** socketContext, MHD_ConnectionNotificationCode code);
  static void OnCompleted(void* cls, MHD_Connection* conn, void** context, MHD_RequestTerminationCode code);
  static MHD_Result OnRequest(void* cls, MHD_Connection* conn, const char* url, const char* method, const char* version,
                              const char* data, size_t* size, void** context);

  MHD_Result Begin(MHD_Connection* conn, CExchange& ex, const char* method);
  MHD_Result Defer(MHD_Connection* conn, CExchange& ex, CHttpReply& reply);
  MHD_Result Hold(MHD_Connection* conn, CExchange& ex, CHttpReply& reply);
  MHD_Result TakeBody(MHD_Connection* conn, CExchange& ex, const char* data, size_t* size);
  void RunLater(CExchange& ex);
  void Uncount(CConnectionState& state) {
    std::lock_guard<std::mutex> hold(lock);
    UncountLocked(state);
  }
  void UncountLocked(CConnectionState& state) {  // under `lock`
    if (!state.counted) return;
    state.counted = false;
    auto it = perAddress.find(state.key);
    if (it != perAddress.end() && --it->second <= 0) perAddress.erase(it);
  }
  MHD_Result Queue(MHD_Connection* conn, CExchange& ex, CHttpReply& reply);
  // Lists the exchange for a stop; false once the server stops (the request is then refused).
  bool List(CExchange& ex) {
    std::lock_guard<std::mutex> hold(lock);
    if (owner->m_stopping) return false;
    ex.listed = true;
    live.emplace(&ex, ex.shared_from_this());
    return true;
  }
  void Forget(CExchange* ex) {
    Unwatch(ex, false);
    if (!ex->listed) return;
    std::lock_guard<std::mutex> hold(lock);
    ex->listed = false;
    live.erase(ex);
  }
};

namespace {

MHD_Result CollectHeader(void* cls, MHD_ValueKind, const char* key, const char* value) {
  static_cast<CHttpRequest*>(cls)->Headers.emplace_back(key ? key : "", value ? value : "");
  return MHD_YES;
}

ssize_t ReadProducer(void* cls, uint64_t, char* buf, size_t max) {
  CProducerState& s = **static_cast<std::shared_ptr<CProducerState>*>(cls);
  if (*s.stopping) return MHD_CONTENT_READER_END_WITH_ERROR;
  {
    std::lock_guard<std::mutex> hold(s.lock);
    s.pending = false;
  }
  const ssize_t n = s.producer->Produce(buf, max);
  if (n > 0) return n;
  if (n == CReplyProducer::kEnd) return MHD_CONTENT_READER_END_OF_STREAM;
  if (n != CReplyProducer::kNotReady) return MHD_CONTENT_READER_END_WITH_ERROR;
  std::lock_guard<std::mutex> hold(s.lock);
  if (!s.pending && s.conn && !s.suspended) {
    s.suspended = true;
    MHD_suspend_connection(s.conn);
  }
  return 0;
}

void FreeProducer(void* cls) {
  auto* s = static_cast<std::shared_ptr<CProducerState>*>(cls);
  std::shared_ptr<CReplyProducer> producer;
  {
    std::lock_guard<std::mutex> hold((*s)->lock);
    (*s)->conn = nullptr;
    producer = std::move((*s)->producer);
  }
  // The producer ends here, on a server thread, never inside a wake (which holds only the state).
  producer.reset();
  delete s;
}

// The body of a file reply. A short range is read now and leaves with its header in one write (one
// packet fewer for a small file); a longer one goes out by sendfile, in the library's pieces.
MHD_Response* FileResponse(CHttpReply& reply) {
  const int fd = reply.TakeFd();
  MHD_Response* response = nullptr;
  if (reply.Length <= static_cast<int64_t>(kReadWhole)) {
    const size_t length = static_cast<size_t>(reply.Length);
    char* data = static_cast<char*>(std::malloc(length));
    // A file that has become shorter fails the request: the client sees no reply.
    if (data && ::pread(fd, data, length, reply.Offset) == static_cast<ssize_t>(length))
      response = MHD_create_response_from_buffer(length, data, MHD_RESPMEM_MUST_FREE);
    if (!response) std::free(data);
    ::close(fd);
    return response;
  }
  response = MHD_create_response_from_fd_at_offset64(static_cast<uint64_t>(reply.Length), fd,
                                                     static_cast<uint64_t>(reply.Offset));
  if (!response) ::close(fd);
  return response;
}

// The length of the header the library sends before the reply's body, near enough for progress.
int64_t HeaderLength(const CHttpReply& reply) {
  const char* reason = MHD_get_reason_phrase_for(static_cast<unsigned>(reply.Status));
  int64_t n = 13 + static_cast<int64_t>(std::strlen(reason)) + 2 + 19 + 2;  // status line, Connection, end
  bool length = false;
  for (const auto& [name, value] : reply.Headers) {
    n += static_cast<int64_t>(name.size() + value.size()) + 4;
    length = length || strcasecmp(name.c_str(), "Content-Length") == 0;
  }
  if (!length) n += 16 + 20 + 2;
  return n;
}

unsigned LibraryThreads(int asked) {
  if (asked > 0) return static_cast<unsigned>(asked);
  return std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
}

bool ParseListen(const std::string& listen, sockaddr_storage& addr, uint16_t& port, bool& any) {
  std::string host, portText = listen;
  if (!listen.empty() && listen[0] == '[') {
    const size_t close = listen.find("]:");
    if (close == std::string::npos) return false;
    host = listen.substr(1, close - 1);
    portText = listen.substr(close + 2);
  } else if (const size_t colon = listen.rfind(':'); colon != std::string::npos) {
    host = listen.substr(0, colon);
    portText = listen.substr(colon + 1);
  }
  char* end = nullptr;
  const long number = std::strtol(portText.c_str(), &end, 10);
  if (portText.empty() || *end || number < 0 || number > 65535) return false;
  port = static_cast<uint16_t>(number);
  any = host.empty();
  std::memset(&addr, 0, sizeof addr);
  if (any) return true;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
  if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    return true;
  }
  if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    return true;
  }
  return false;
}

}  // namespace

void* CHttpServer::CImpl::OnUri(void* cls, const char* uri, MHD_Connection* conn) {
  auto* self = static_cast<CImpl*>(cls);
  const MHD_ConnectionInfo* info = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  auto* state = info ? StateOf(info->socket_context) : nullptr;
  if (!state) return nullptr;
  if (state->exchange) self->Forget(state->exchange.get());
  state->exchange.reset();  // a request before on the same connection has ended
  try {
    state->exchange = std::make_shared<CExchange>();
  } catch (const std::bad_alloc&) {
    return nullptr;  // the request is then refused: no context
  }
  state->exchange->conn = conn;
  state->exchange->target = uri ? uri : "";
  return state->exchange.get();
}

void CHttpServer::CImpl::OnConnection(void* cls, MHD_Connection* conn, void** socketContext,
                                      MHD_ConnectionNotificationCode code) {
  auto* self = static_cast<CImpl*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* peer = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    auto* state = new (std::nothrow) CConnectionState;
    *socketContext = static_cast<CTlsConnection*>(state);
    if (!state) return;  // its request finds no context and is refused (its handshake fails)
    state->credentials = self->options.Tls.get();
    state->key = ClientAddressKey(ClientAddressText(peer ? peer->client_addr : nullptr));
    const MHD_ConnectionInfo* socket = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CONNECTION_FD);
    bool over = false;
    const auto& uncapped = self->options.Uncapped;
    {
      std::lock_guard<std::mutex> hold(self->lock);
      state->began = std::chrono::steady_clock::now();
      self->EndLateHeads(state->began);  // first, so that their room is free
      if (std::find(uncapped.begin(), uncapped.end(), state->key) != uncapped.end())
        state->counted = false;
      else
        over = ++self->perAddress[state->key] > self->options.MaxPerAddress;
      if (!over && socket) {
        state->socket = socket->connect_fd;
        state->heading = self->heading.emplace(state->began, state).second;
      }
    }
    if (over) {
      // Answered before anything is read; the library then finds the connection closed.
      const MHD_ConnectionInfo* fd = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CONNECTION_FD);
      if (fd) {
        ::send(fd->connect_fd, kBusyReply, sizeof kBusyReply - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        ::shutdown(fd->connect_fd, SHUT_RDWR);
      }
      self->Uncount(*state);  // it holds nothing more
    }
    return;
  }
  auto* state = StateOf(*socketContext);
  if (!state) return;
  {
    std::lock_guard<std::mutex> hold(self->lock);
    self->Headed(*state);
  }
  if (state->exchange) {
    self->Forget(state->exchange.get());
    state->exchange->Fail();
    state->exchange.reset();
  }
  self->Uncount(*state);
  delete state;
  *socketContext = nullptr;
}

void CHttpServer::CImpl::OnCompleted(void* cls, MHD_Connection* conn, void** context, MHD_RequestTerminationCode code) {
  auto* self = static_cast<CImpl*>(cls);
  const MHD_ConnectionInfo* info = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  if (auto* state = info ? StateOf(info->socket_context) : nullptr) self->Uncount(*state);
  auto* ex = static_cast<CExchange*>(*context);
  if (!ex) return;
  // A file sent whole has reached its end (the socket is still open here).
  self->Unwatch(ex, code == MHD_REQUEST_TERMINATED_COMPLETED_OK);
  // The exchange stays owned by its connection (and by its handler thread, if its work still runs);
  // that work sees the failure at its next read and gives up. Nobody waits for it here.
  self->Forget(ex);
  ex->Fail();
}

MHD_Result CHttpServer::CImpl::OnRequest(void* cls, MHD_Connection* conn, const char*, const char* method,
                                         const char* version, const char* data, size_t* size, void** context) {
  auto* self = static_cast<CImpl*>(cls);
  auto* ex = static_cast<CExchange*>(*context);
  if (!ex) return MHD_NO;
  try {
    if (!ex->begun) {
      if (version) ex->request.Version = version;
      return self->Begin(conn, *ex, method);
    }
    if (!ex->later) {
      *size = 0;  // the reply is queued already: the body is not wanted
      return MHD_YES;
    }
    return self->TakeBody(conn, *ex, data, size);
  } catch (const std::exception&) {
    return MHD_NO;  // no memory left for this request: the connection closes, the service goes on
  }
}

MHD_Result CHttpServer::CImpl::Begin(MHD_Connection* conn, CExchange& ex, const char* method) {
  ex.begun = true;
  const MHD_ConnectionInfo* context = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  if (CConnectionState* state = context ? StateOf(context->socket_context) : nullptr) {
    std::lock_guard<std::mutex> hold(lock);
    Headed(*state);
  }
  CHttpRequest& r = ex.request;
  r.Method = method ? method : "";
  const size_t mark = ex.target.find('?');
  r.Path = ex.target.substr(0, mark);
  r.HasQuery = mark != std::string::npos;
  if (r.HasQuery) r.Query = ex.target.substr(mark + 1);
  MHD_get_connection_values(conn, MHD_HEADER_KIND, &CollectHeader, &r);
  const MHD_ConnectionInfo* peer = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  r.Peer = ClientAddressText(peer ? peer->client_addr : nullptr);
  if (const char* length = r.Header("Content-Length")) {
    char* end = nullptr;
    const long long n = std::strtoll(length, &end, 10);
    if (*length && !*end && n >= 0) r.ContentLength = n;
  }
  if (owner->m_stopping) return MHD_NO;
  CHttpReply reply;
  try {
    reply = handler->Serve(r);
  } catch (const std::bad_alloc&) {
    reply = BusyReply();
  }
  if (reply.Kind == CHttpReply::Body::Later) return Defer(conn, ex, reply);
  if (reply.Delay.count() > 0) return Hold(conn, ex, reply);
  return Queue(conn, ex, reply);
}

// Keeps a reply back for its delay with the connection suspended (a socket, no thread); the clock
// thread releases it, and the connection's callback then sends it as a deferred reply's.
MHD_Result CHttpServer::CImpl::Hold(MHD_Connection* conn, CExchange& ex, CHttpReply& reply) {
  if (!List(ex)) return MHD_NO;
  const auto until = std::chrono::steady_clock::now() + reply.Delay;
  ex.later = true;
  {
    std::lock_guard<std::mutex> hold(ex.lock);
    ex.reply = std::move(reply);
    ex.done = true;
    ex.suspended = true;
    MHD_suspend_connection(conn);
  }
  {
    std::lock_guard<std::mutex> hold(sendLock);
    held.emplace(until, ex.shared_from_this());
  }
  sendChanged.notify_all();
  return MHD_YES;
}

// Hands a deferred reply's work to the handler pool; the body then flows to it as it arrives. When no
// handler thread can take it, the request is answered "busy" at once.
MHD_Result CHttpServer::CImpl::Defer(MHD_Connection* conn, CExchange& ex, CHttpReply& reply) {
  if (!List(ex)) return MHD_NO;
  ex.later = true;
  ex.work = std::move(reply.Work);
  CExchange* raw = &ex;
  ex.request.ReadBody = [raw](char* into, size_t room) { return raw->ReadBody(into, room); };
  if (const MHD_ConnectionInfo* socket = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CONNECTION_FD)) {
    std::lock_guard<std::mutex> hold(ex.lock);
    ex.fd = socket->connect_fd;
  }
  const MHD_ConnectionInfo* info = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  auto* state = info ? StateOf(info->socket_context) : nullptr;
  if (state && state->exchange.get() == &ex && pool->Submit([this, shared = state->exchange] { RunLater(*shared); }))
    return MHD_YES;
  Forget(&ex);
  ex.later = false;
  ex.work = nullptr;
  ex.request.ReadBody = nullptr;
  CHttpReply busy = BusyReply();
  return Queue(conn, ex, busy);
}

// A piece of a deferred request's body (or, with none left, its end) on the connection's thread.
MHD_Result CHttpServer::CImpl::TakeBody(MHD_Connection* conn, CExchange& ex, const char* data, size_t* size) {
  std::unique_lock<std::mutex> hold(ex.lock);
  if (ex.failed) return MHD_NO;  // the server stops
  if (*size > 0) {
    if (!ex.done) ex.body.append(data, *size);  // a reply given before the body's end discards the rest
    *size = 0;
    // The library may call again with what it has buffered before a suspension takes effect: it is
    // taken, and the connection suspended once.
    if (!ex.done && !ex.suspended && ex.body.size() >= (ex.started ? kBodyBacklog : kQueuedBacklog)) {
      ex.suspended = true;
      MHD_suspend_connection(conn);
    }
    const bool wake = ex.want > 0 && (ex.body.size() >= ex.want || ex.suspended);
    hold.unlock();
    if (wake) ex.changed.notify_all();
    return MHD_YES;
  }
  ex.bodyEnd = true;
  if (!ex.done) {
    // The reply is not there yet: the handler's side resumes the connection when it is.
    if (!ex.suspended) {
      ex.suspended = true;
      MHD_suspend_connection(conn);
    }
    const bool wake = ex.want > 0;
    hold.unlock();
    if (wake) ex.changed.notify_all();
    return MHD_YES;
  }
  CHttpReply reply = std::move(ex.reply);
  hold.unlock();
  return Queue(conn, ex, reply);
}

// The work of a deferred reply, on a handler thread.
void CHttpServer::CImpl::RunLater(CExchange& ex) {
  {
    std::lock_guard<std::mutex> hold(ex.lock);
    if (ex.failed) return;  // the connection is gone, or the server stops
    ex.started = true;
  }
  CHttpReply reply;
  try {
    reply = ex.work(ex.request);
  } catch (const std::exception&) {
    reply = BusyReply();
  }
  if (reply.Kind == CHttpReply::Body::Later) reply = CHttpReply::Text(500, "text/plain", "internal error\n");
  ex.Complete(std::move(reply));
}

MHD_Result CHttpServer::CImpl::Queue(MHD_Connection* conn, CExchange& ex, CHttpReply& reply) {
  if (reply.Drop) return MHD_NO;
  MHD_Response* response = nullptr;
  switch (reply.Kind) {
    case CHttpReply::Body::Memory:
      response = MHD_create_response_from_buffer(reply.Memory.size(), reply.Memory.data(), MHD_RESPMEM_MUST_COPY);
      break;
    case CHttpReply::Body::File:
      if (reply.Fd < 0 || reply.Length <= 0) {
        reply.ReleaseFile();
        response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
      } else {
        response = FileResponse(reply);
        if (response && reply.OnProgress) {
          const MHD_ConnectionInfo* socket = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CONNECTION_FD);
          if (socket) {
            auto watched = std::make_shared<CWatchedSend>();
            watched->socket = socket->connect_fd;
            watched->header = HeaderLength(reply);
            watched->length = reply.Length;
            watched->progress = std::move(reply.OnProgress);
            watched->onAcknowledgement = reply.ProgressOnAcknowledgement;
            watched->keptCount = keptSockets;
            ex.watched = watched;
            bool first = false;
            {
              std::lock_guard<std::mutex> hold(sendLock);
              first = sendIdle;
              sendIdle = false;
              sends.insert(std::move(watched));
            }
            if (first) sendChanged.notify_all();  // else the thread comes round within its period
          }
        }
      }
      break;
    case CHttpReply::Body::Producer: {
      auto state = std::make_shared<CProducerState>();
      state->conn = conn;
      state->producer = std::move(reply.Producer);
      state->stopping = &owner->m_stopping;
      {
        std::lock_guard<std::mutex> hold(ex.lock);
        ex.producer = state;
      }
      if (!ex.listed && !List(ex)) return MHD_NO;
      std::weak_ptr<CProducerState> weak = state;
      state->producer->SetWake([weak] {
        if (auto s = weak.lock()) s->Wake();
      });
      auto* cls = new std::shared_ptr<CProducerState>(state);
      response = MHD_create_response_from_callback(
          reply.ProducerLength < 0 ? MHD_SIZE_UNKNOWN : static_cast<uint64_t>(reply.ProducerLength), 64 * 1024,
          &ReadProducer, cls, &FreeProducer);
      if (!response) delete cls;
      break;
    }
    case CHttpReply::Body::Later:
      break;  // work is never queued as a reply
  }
  if (!response) return MHD_NO;
  MHD_set_response_options(
      response, static_cast<MHD_ResponseFlags>(reply.AsHttp10 ? MHD_RF_HTTP_1_0_SERVER : MHD_RF_NONE), MHD_RO_END);
  for (const auto& [name, value] : reply.Headers) MHD_add_response_header(response, name.c_str(), value.c_str());
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  const MHD_Result queued = MHD_queue_response(conn, static_cast<unsigned>(reply.Status), response);
  MHD_destroy_response(response);
  return queued;
}

// The server's clock thread: it reads the watched sends' delivered bytes every tenth of a second
// while there are any, and resumes held replies when their time comes; otherwise it waits.
void CHttpServer::CImpl::WatchSends() {
  std::vector<std::shared_ptr<CWatchedSend>> batch;
  std::vector<std::shared_ptr<CExchange>> due;
  std::unique_lock<std::mutex> hold(sendLock);
  while (!sendStop) {
    const auto now = std::chrono::steady_clock::now();
    for (auto it = held.begin(); it != held.end() && it->first <= now; it = held.erase(it))
      if (auto ex = it->second.lock()) due.push_back(std::move(ex));
    batch.assign(sends.begin(), sends.end());
    if (!due.empty() || !batch.empty()) {
      // Without the lock, so that requests begin and end meanwhile.
      hold.unlock();
      for (const auto& ex : due) ex->Release();
      due.clear();
      std::vector<std::shared_ptr<CWatchedSend>> finished;
      for (const auto& watched : batch)
        if (watched->Poll()) finished.push_back(watched);
      batch.clear();
      hold.lock();
      for (const auto& watched : finished) sends.erase(watched);
    }
    auto until = std::chrono::steady_clock::time_point::max();
    if (!sends.empty()) until = std::chrono::steady_clock::now() + kProgressPeriod;
    if (!held.empty()) until = std::min(until, held.begin()->first);
    sendIdle = sends.empty();  // a first watched send wakes it; later ones wait for the round
    if (sendStop) break;
    if (until == std::chrono::steady_clock::time_point::max())
      sendChanged.wait(hold);
    else
      sendChanged.wait_until(hold, until);
  }
}

CHttpServer::CHttpServer() : m_impl(std::make_unique<CImpl>()) { m_impl->owner = this; }

CHttpServer::~CHttpServer() { Stop(); }

bool CHttpServer::Start(const CHttpServerOptions& options, IHttpHandler& handler) {
  Stop();
  m_stopping = false;
  m_impl->options = options;
  m_impl->handler = &handler;
  sockaddr_storage addr{};
  uint16_t port = 0;
  bool any = true;
  if (!ParseListen(options.Listen, addr, port, any)) return false;
  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_SUPPRESS_DATE_NO_CLOCK;
  if (any) flags |= MHD_USE_DUAL_STACK;
  if (!any && addr.ss_family == AF_INET6) flags |= MHD_USE_IPv6;
  if (options.Tls) flags |= MHD_USE_TLS;
  const std::vector<MHD_OptionItem> tls = TlsDaemonOptions(options.Tls.get());
  m_impl->pool = std::make_unique<CHandlerPool>(static_cast<size_t>(std::max(1, options.HandlerThreads)), kQueueLimit);
  m_impl->sendStop = false;
  try {
    m_impl->sendWatch = std::thread([impl = m_impl.get()] { impl->WatchSends(); });
  } catch (const std::system_error&) {
    m_impl->pool.reset();
    return false;  // the system refuses a thread: the service cannot start
  }
  const unsigned idleSeconds = static_cast<unsigned>(std::max(1, (options.IdleLimitMs + 999) / 1000));
  m_impl->daemon = MHD_start_daemon(
      flags, port, nullptr, nullptr, &CImpl::OnRequest, m_impl.get(), MHD_OPTION_THREAD_POOL_SIZE,
      LibraryThreads(options.Threads), MHD_OPTION_CONNECTION_TIMEOUT, idleSeconds, MHD_OPTION_CONNECTION_LIMIT, 16384u,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_URI_LOG_CALLBACK, &CImpl::OnUri, m_impl.get(),
      MHD_OPTION_NOTIFY_CONNECTION, &CImpl::OnConnection, m_impl.get(), MHD_OPTION_NOTIFY_COMPLETED,
      &CImpl::OnCompleted, m_impl.get(), MHD_OPTION_ARRAY, tls.data(), any ? MHD_OPTION_END : MHD_OPTION_SOCK_ADDR,
      reinterpret_cast<sockaddr*>(&addr), MHD_OPTION_END);
  if (!m_impl->daemon) {
    StopWatchingSends();
    m_impl->pool.reset();
  }
  return m_impl->daemon != nullptr;
}

void CHttpServer::Stop() {
  if (!m_impl->daemon) return;
  // From here no exchange is listed any more, and every listed one ends: its handler's reads
  // fail, and its connection, if suspended, is resumed and then closed by its own callback. So no
  // connection is left suspended when the library stops, and nothing waits for a handler first.
  std::vector<std::shared_ptr<CExchange>> live;
  {
    std::lock_guard<std::mutex> hold(m_impl->lock);
    m_stopping = true;
    for (const auto& [raw, ex] : m_impl->live) live.push_back(ex);
  }
  for (const auto& ex : live) ex->Fail();
  MHD_stop_daemon(m_impl->daemon);
  m_impl->daemon = nullptr;
  // The handlers see the stop (their reads fail, their waits end) and return; each one's end, such
  // as an upload's removal of what it had written, is done when this returns.
  m_impl->pool->Stop();
  m_impl->pool.reset();
  StopWatchingSends();
}

void CHttpServer::StopWatchingSends() {
  {
    std::lock_guard<std::mutex> hold(m_impl->sendLock);
    m_impl->sendStop = true;
    m_impl->sends.clear();
    m_impl->held.clear();
  }
  m_impl->sendChanged.notify_all();
  if (m_impl->sendWatch.joinable()) m_impl->sendWatch.join();
}

bool CHttpServer::Running() const { return m_impl->daemon != nullptr; }

int CHttpServer::Port() const {
  if (!m_impl->daemon) return 0;
  const MHD_DaemonInfo* info = MHD_get_daemon_info(m_impl->daemon, MHD_DAEMON_INFO_BIND_PORT);
  return info ? info->port : 0;
}

void RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
}
