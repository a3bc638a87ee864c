#include "service/CloudRelay.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "app/SharedState.h"
#include "app/TransferProgress.h"
#include "service/RevocableDialog.h"
#include "service/ServiceConfig.h"

namespace {

constexpr int kInitialBufferCapacity = 2048;
constexpr size_t kChunkSize = 131072;
constexpr size_t kMaxNameBytes = 511;
// The socket's send buffer is kept small so that a send call completes only as the network takes the
// data and the progress bar follows the transfer. Linux doubles the value asked for, so the stack holds
// at most one chunk (128 KiB), as a send buffer of 0 lets it hold just the chunk being sent elsewhere;
// a buffer of 0 here would be the kernel's minimum of about 4 KiB, which slows the upload a hundredfold.
constexpr int kSendBufferBytes = 65536;
constexpr uint64_t kMaxRelayedSize = 0xFFFFFFFFull;  // the size field is 32 bits
constexpr int kConnectTimeoutMs = 5000;
// A send or a read that moves no byte for this long ends the upload.
constexpr int kStallTimeoutSeconds = 30;
// The most of the relay's reply that is read, and the most of its reason that is shown.
constexpr size_t kMaxReplyBytes = 4096;
constexpr size_t kMaxReasonBytes = 200;

}  // namespace

// The upload threads of one CCloudRelay, the sockets they are using and the dialog reference they
// share. Everything here is under Lock.
struct CloudRelayThreads {
  struct Upload {
    std::thread Thread;
    int Socket = -1;  // the upload's connection while it is open; Stop shuts it
    bool Ended = false;
  };
  std::mutex Lock;
  std::condition_variable Idle;
  int Running = 0;
  bool Stopping = false;
  std::shared_ptr<CRevocableDialog> Dialog;
  std::list<Upload> Uploads;  // a list, so that each thread's entry stays where it is
};

namespace {

// One upload, made on the interface thread and owned by its upload thread.
struct RelayUploadJob {
  int Socket = -1;
  std::unique_ptr<sockaddr_in> PeerAddress;
  int ConnectionState = -1;
  std::unique_ptr<char[]> Buffer;
  int BufferCapacity = 0;
  int BufferLength = 0;
  std::FILE* File = nullptr;
  uint32_t FileSize = 0;
  std::shared_ptr<CRevocableDialog> Dialog;
  std::string Token;
  std::string Host;              // the relay (host or host:port), read when the upload started
  SharedState* State = nullptr;  // the state the upload counts in; it outlives the relay object
  CloudRelayThreads* Owner = nullptr;
  CloudRelayThreads::Upload* Entry = nullptr;

  // Makes the upload's socket and tells the owner of it, under its lock, so that Stop can shut it.
  // False when no socket could be made or the owner is stopping.
  bool OpenSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return false;
    std::lock_guard<std::mutex> lock(Owner->Lock);
    if (Owner->Stopping) {
      ::close(fd);
      return false;
    }
    Socket = Entry->Socket = fd;
    return true;
  }

  ~RelayUploadJob() {
    if (Socket >= 0) {
      {
        std::lock_guard<std::mutex> lock(Owner->Lock);
        Entry->Socket = -1;  // taken back before the number can be reused
      }
      ::close(Socket);
    }
    if (File) std::fclose(File);
  }
};

std::shared_ptr<CRevocableDialog> DialogReference(CloudRelayThreads& t, CMainDialogView* dialog) {
  std::lock_guard<std::mutex> lock(t.Lock);
  if (!t.Dialog || !t.Dialog->Refers(dialog)) t.Dialog = std::make_shared<CRevocableDialog>(dialog);
  return t.Dialog;
}

// Grows the request buffer: twice its capacity, or twice what is needed when that is more.
void Append(RelayUploadJob& job, const void* data, size_t n) {
  const int need = job.BufferLength + static_cast<int>(n);
  if (job.BufferCapacity < need) {
    int capacity = job.BufferCapacity * 2;
    if (capacity < need) capacity = need * 2;
    std::unique_ptr<char[]> grown(new char[capacity]());
    std::memcpy(grown.get(), job.Buffer.get(), static_cast<size_t>(job.BufferLength));
    job.Buffer = std::move(grown);
    job.BufferCapacity = capacity;
  }
  std::memcpy(job.Buffer.get() + job.BufferLength, data, n);
  job.BufferLength = need;
}

void Append(RelayUploadJob& job, const std::string& text) { Append(job, text.data(), text.size()); }

void AppendBigEndian(RelayUploadJob& job, uint32_t value) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
                                  static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
  Append(job, bytes, sizeof bytes);
}

// The last path element, cut to at most 511 bytes without splitting a UTF-8 sequence.
std::string UploadName(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  std::string name = path.substr(slash + 1);
  if (name.size() > kMaxNameBytes) {
    size_t cut = kMaxNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return name;
}

// Resolves the service host (its first IPv4 address), makes a TCP socket with a small send buffer and
// connects. Sets the job's socket and connection state.
void Connect(RelayUploadJob& job) {
  std::string host;
  int port = 80;
  if (!SplitHostPort(job.Host, host, port)) return;
  job.PeerAddress = std::make_unique<sockaddr_in>();
  if (!job.OpenSocket()) return;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return;
  std::memcpy(job.PeerAddress.get(), found->ai_addr, sizeof(sockaddr_in));
  ::freeaddrinfo(found);
  job.PeerAddress->sin_port = htons(static_cast<uint16_t>(port));
  const int sendBuffer = kSendBufferBytes;
  if (::setsockopt(job.Socket, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer) != 0) return;
  const timeval stall{kStallTimeoutSeconds, 0};
  if (::setsockopt(job.Socket, SOL_SOCKET, SO_SNDTIMEO, &stall, sizeof stall) != 0 ||
      ::setsockopt(job.Socket, SOL_SOCKET, SO_RCVTIMEO, &stall, sizeof stall) != 0)
    return;
  // Connects without blocking, so that a relay that never accepts is given up after kConnectTimeoutMs.
  const int flags = ::fcntl(job.Socket, F_GETFL);
  if (flags < 0 || ::fcntl(job.Socket, F_SETFL, flags | O_NONBLOCK) != 0) return;
  int state = ::connect(job.Socket, reinterpret_cast<const sockaddr*>(job.PeerAddress.get()), sizeof(sockaddr_in));
  if (state != 0 && errno == EINPROGRESS) {
    pollfd p{job.Socket, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    state = ::poll(&p, 1, kConnectTimeoutMs) == 1 &&
                    ::getsockopt(job.Socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0
                ? 0
                : -1;
  }
  if (state == 0 && ::fcntl(job.Socket, F_SETFL, flags) != 0) state = -1;
  job.ConnectionState = state;
}

// True when the relay has sent something (its reply, or the end of the connection) already.
bool ReplyArrived(int socket) {
  pollfd p{socket, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

// Reads the relay's reply until it ends or its Content-Length is in; empty when none came.
std::string ReadReply(int socket) {
  std::string reply;
  char piece[1024];
  while (reply.size() < kMaxReplyBytes) {
    const ssize_t got = ::recv(socket, piece, std::min(sizeof piece, kMaxReplyBytes - reply.size()), 0);
    if (got <= 0) break;
    reply.append(piece, static_cast<size_t>(got));
    const size_t headEnd = reply.find("\r\n\r\n");
    if (headEnd == std::string::npos) continue;
    std::string head = reply.substr(0, headEnd);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t at = head.find("\r\ncontent-length:");
    if (at != std::string::npos && reply.size() - headEnd - 4 >= std::strtoull(head.c_str() + at + 17, nullptr, 10))
      break;
  }
  return reply;
}

}  // namespace

RelayReply ParseRelayReply(const std::string& reply) {
  RelayReply parsed;
  if (reply.compare(0, 5, "HTTP/") != 0) return parsed;
  const size_t space = reply.find(' ');
  if (space == std::string::npos) return parsed;
  parsed.Status = std::atoi(reply.c_str() + space + 1);
  const size_t lineEnd = reply.find("\r\n");
  const size_t headEnd = reply.find("\r\n\r\n");
  // The reason: the body's first line, else the status line's words; printable bytes only.
  std::string reason = headEnd == std::string::npos ? std::string() : reply.substr(headEnd + 4);
  reason = reason.substr(0, reason.find_first_of("\r\n"));
  if (reason.find_first_not_of(' ') == std::string::npos)
    reason = reply.substr(space + 1, lineEnd == std::string::npos ? std::string::npos : lineEnd - space - 1);
  for (char c : reason) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) parsed.Reason += c;
  }
  if (parsed.Reason.size() > kMaxReasonBytes) {
    size_t cut = kMaxReasonBytes;
    while (cut > 0 && (static_cast<unsigned char>(parsed.Reason[cut]) & 0xC0) == 0x80) --cut;
    parsed.Reason.resize(cut);
  }
  return parsed;
}

namespace {

// Sends the bytes in as many calls as it takes; after each call, onSent(count). False on a failed call.
template <class F>
bool SendAll(int socket, const char* data, size_t n, F&& onSent) {
  while (n > 0) {
    const ssize_t sent = ::send(socket, data, n, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    onSent(static_cast<size_t>(sent));
    data += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

// Sends the request; stops early when the relay answers meanwhile. False when it was cut short
// otherwise (a failed send or read, or the file shrank).
bool Send(RelayUploadJob& job) {
  job.Dialog->Call([](CMainDialogView& d) { d.ShowProgress(); });
  if (!SendAll(job.Socket, job.Buffer.get(), static_cast<size_t>(job.BufferLength), [](size_t) {})) return false;
  job.BufferLength = 0;

  std::unique_ptr<char[]> chunk(new char[kChunkSize]);
  uint64_t total = 0;
  CTransferProgress progress({.Id = ViewEventId::RelayProgress, .Token = job.Token}, job.FileSize);
  while (total < job.FileSize) {
    // Never more than the size announced, even when the file has grown meanwhile.
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunkSize, job.FileSize - total));
    if (ReplyArrived(job.Socket)) {  // a refusal before the body is in: no use sending on
      return true;
    }
    const size_t got = std::fread(chunk.get(), 1, want, job.File);
    if (got == 0) return false;  // read error, or the file shrank
    const bool ok = SendAll(job.Socket, chunk.get(), got, [&](size_t sent) {
      total += sent;
      if (const CViewEvent* event = progress.Advance(static_cast<int64_t>(total)))
        job.Dialog->Call([event](CMainDialogView& d) { d.Report(*event); });
    });
    if (!ok) return false;
  }
  return true;
}

void UploadThread(std::unique_ptr<RelayUploadJob> job) {
  Connect(*job);
  CViewEvent failed{.Id = ViewEventId::RelayFailed, .Token = job->Token};
  if (job->ConnectionState == 0) {
    ++job->State->CloudRelayCount;
    // A request cut short: the relay learns at once that no more of its body comes.
    if (!Send(*job)) ::shutdown(job->Socket, SHUT_WR);
    const RelayReply reply = ParseRelayReply(ReadReply(job->Socket));
    if (reply.Status != 200) {
      failed.Code = static_cast<int>(reply.Status == 0 ? RelayFailure::NoAnswer : RelayFailure::Refused);
      failed.Name = reply.Reason;
    }
  } else {
    failed.Code = static_cast<int>(RelayFailure::NoConnection);
  }
  if (failed.Code != 0) job->Dialog->Call([&](CMainDialogView& d) { d.Report(failed); });
  CloudRelayThreads& t = *job->Owner;
  CloudRelayThreads::Upload& entry = *job->Entry;
  job.reset();
  std::lock_guard<std::mutex> lock(t.Lock);
  entry.Ended = true;
  if (--t.Running == 0) t.Idle.notify_all();
}

// Joins the threads that have ended and drops their entries.
void JoinEnded(CloudRelayThreads& t) {
  std::list<CloudRelayThreads::Upload> ended;
  {
    std::lock_guard<std::mutex> lock(t.Lock);
    for (auto it = t.Uploads.begin(); it != t.Uploads.end();) {
      auto next = std::next(it);
      if (it->Ended) ended.splice(ended.end(), t.Uploads, it);
      it = next;
    }
  }
  for (CloudRelayThreads::Upload& upload : ended) upload.Thread.join();
}

}  // namespace

CCloudRelay::CCloudRelay(SharedState& state) : m_state(state), m_threads(std::make_unique<CloudRelayThreads>()) {}

CCloudRelay::~CCloudRelay() { Stop(); }

bool CCloudRelay::Upload(const CSharedItem& item, CMainDialogView* dialog) {
  SharedState& state = m_state;
  const std::string& token = item.Token;
  const std::string& path = item.Path;
  if (!RelayConfigured(state)) return false;
  if (item.Kind == ItemKind::Folder) {
    if (dialog) dialog->Report({ViewEventId::RelayFolderRefused});
    return false;
  }
  const std::string name = UploadName(path);

  auto job = std::make_unique<RelayUploadJob>();
  job->File = std::fopen(path.c_str(), "rb");
  struct stat st {};
  uint64_t size = 0;
  if (job->File && ::fstat(::fileno(job->File), &st) == 0 && S_ISREG(st.st_mode)) size = st.st_size;
  if (size > kMaxRelayedSize) {
    if (dialog) dialog->Report({ViewEventId::RelayFileTooLarge});
    return false;
  }
  // Nothing to read: the upload ends here, as one that could not connect would.
  if (!job->File || !S_ISREG(st.st_mode)) return true;
  job->FileSize = static_cast<uint32_t>(size);

  job->Buffer.reset(new char[kInitialBufferCapacity]());
  job->BufferCapacity = kInitialBufferCapacity;
  const uint64_t bodyLength = token.size() + name.size() + size + 12;
  Append(*job, "POST /upload HTTP/1.1\r\n");
  Append(*job, "Host:" + UploadHost(state) + "\r\n");
  Append(*job, "User-Agent:Marlix 1.1\r\n");
  Append(*job, "Accept:text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n");
  Append(*job, "Accept-Language:zh-cn,zh;q=0.8,en-us;q=0.5,en;q=0.3\r\n");
  Append(*job, "Accept-Encoding:gzip, deflate\r\n");
  Append(*job, "Content-Length:" + std::to_string(bodyLength) + "\r\n");
  Append(*job, "Connection:close\r\n\r\n");
  AppendBigEndian(*job, static_cast<uint32_t>(token.size()));
  Append(*job, token);
  AppendBigEndian(*job, static_cast<uint32_t>(name.size()));
  Append(*job, name);
  AppendBigEndian(*job, job->FileSize);

  if (dialog) dialog->HideProgress();
  CloudRelayThreads& t = *m_threads;
  JoinEnded(t);
  job->Dialog = DialogReference(t, dialog);
  job->Token = token;
  job->Host = ServiceHost(state);
  job->State = &state;
  job->Owner = &t;

  std::lock_guard<std::mutex> lock(t.Lock);
  t.Stopping = false;
  CloudRelayThreads::Upload& entry = t.Uploads.emplace_back();
  job->Entry = &entry;
  try {
    entry.Thread = std::thread(UploadThread, std::move(job));
    ++t.Running;
  } catch (const std::system_error&) {
    t.Uploads.pop_back();  // the job went with the failed start
  }
  return true;
}

void CCloudRelay::DetachDialog() {
  std::shared_ptr<CRevocableDialog> dialog;
  {
    CloudRelayThreads& t = *m_threads;
    std::lock_guard<std::mutex> lock(t.Lock);
    dialog.swap(t.Dialog);
  }
  if (dialog) dialog->Revoke();
}

int CCloudRelay::UploadsRunning() {
  CloudRelayThreads& t = *m_threads;
  std::lock_guard<std::mutex> lock(t.Lock);
  return t.Running;
}

bool CCloudRelay::WaitIdle(int timeoutMs) {
  CloudRelayThreads& t = *m_threads;
  std::unique_lock<std::mutex> lock(t.Lock);
  return t.Idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return t.Running == 0; });
}

void CCloudRelay::Stop() {
  DetachDialog();
  CloudRelayThreads& t = *m_threads;
  std::list<CloudRelayThreads::Upload> uploads;
  {
    std::lock_guard<std::mutex> lock(t.Lock);
    t.Stopping = true;
    // A blocked connect, send or read returns at once on a shut socket.
    for (const CloudRelayThreads::Upload& upload : t.Uploads)
      if (upload.Socket >= 0) ::shutdown(upload.Socket, SHUT_RDWR);
    uploads.swap(t.Uploads);
  }
  for (CloudRelayThreads::Upload& upload : uploads) upload.Thread.join();
}
