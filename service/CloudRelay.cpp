#include "service/CloudRelay.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
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
#include "app/StopFlag.h"
#include "app/TransferProgress.h"
#include "app/Utf8Cut.h"
#include "relay/UploadFrame.h"
#include "service/HttpClient.h"
#include "service/ServiceConfig.h"

namespace {

constexpr uint64_t kMaxRelayedSize = 0xFFFFFFFFull;  // the size field is 32 bits
constexpr size_t kMaxReasonBytes = 200;

}  // namespace

// The upload threads of one CCloudRelay. Everything here is under Lock, except the two flags.
struct CloudRelayThreads {
  struct Upload {
    std::thread Thread;
    bool Ended = false;
  };
  std::mutex Lock;
  std::condition_variable Idle;
  int Running = 0;
  CStopFlag Stopping;                    // its Set ends every upload's request at once
  std::atomic<bool> WarnedPlain{false};  // the unencrypted relay has been told of this run
  std::list<Upload> Uploads;             // a list, so that each thread's entry stays where it is
};

namespace {

// One upload, made on the interface thread and owned by its upload thread.
struct RelayUploadJob {
  std::FILE* File = nullptr;
  uint32_t FileSize = 0;
  std::string Head;  // the frame's head, sent before the file's bytes
  std::string Token;
  std::string Base;              // the relay's address ("https://host:port"), read when the upload started
  std::string Host;              // the Host line
  SharedState* State = nullptr;  // the state the upload counts and reports in; it outlives the relay object
  CloudRelayThreads* Owner = nullptr;
  CloudRelayThreads::Upload* Entry = nullptr;

  ~RelayUploadJob() {
    if (File) std::fclose(File);
  }
};

// The last path element, cut to at most 511 bytes without splitting a UTF-8 sequence.
std::string UploadName(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return CutUtf8(path.substr(slash + 1), kMaxNameBytes);
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
  parsed.Reason = CutUtf8(parsed.Reason, kMaxReasonBytes);
  return parsed;
}

namespace {

// Sends the frame and the file through the HTTP client and tells how it went.
void UploadThread(std::unique_ptr<RelayUploadJob> job) {
  CloudRelayThreads& t = *job->Owner;
  CEventChannel& events = job->State->Events;
  CHttpClient client;
  client.SetStopFlag(&t.Stopping);
  UseRelaySettings(client, *job->State);
  bool connected = false;
  const bool plain = job->Base.rfind("http://", 0) == 0;
  client.SetConnected([&](const std::string& address) {
    connected = true;
    ++job->State->CloudRelayCount;
    if (plain && !IsNearAddress(address) && !t.WarnedPlain.exchange(true))
      events.Report({ViewEventId::RelayUnencrypted});
    events.ShowProgress();
  });
  const int64_t headLength = static_cast<int64_t>(job->Head.size());
  CTransferProgress progress({.Id = ViewEventId::RelayProgress, .Token = job->Token}, job->FileSize);
  client.SetSendProgress([&](int64_t sent) {
    if (sent <= headLength) return;  // none of the file yet: the bar stays as it is
    if (const CViewEvent* event = progress.Advance(sent - headLength)) events.Report(*event);
  });
  size_t headSent = 0;
  uint64_t fileLeft = job->FileSize;
  auto source = [&](char* into, size_t room) -> int64_t {
    if (headSent < job->Head.size()) {
      const size_t n = std::min(room, job->Head.size() - headSent);
      std::memcpy(into, job->Head.data() + headSent, n);
      headSent += n;
      return static_cast<int64_t>(n);
    }
    if (fileLeft == 0) return 0;
    // Never more than the size announced, even when the file has grown meanwhile; a file that
    // shrank, or a read that fails, ends the request.
    const size_t got = std::fread(into, 1, static_cast<size_t>(std::min<uint64_t>(room, fileLeft)), job->File);
    if (got == 0) return -1;
    fileLeft -= got;
    return static_cast<int64_t>(got);
  };
  const int result = client.Post((job->Base + "/upload").c_str(), job->Host, job->Head.size() + job->FileSize, source);
  // A time-out, or a stop while the relay owed the answer (all was sent): it leaves calls unanswered.
  if (client.CutShort() && (!t.Stopping || (fileLeft == 0 && headSent == job->Head.size())))
    job->State->RelayUnanswered = true;

  CViewEvent failed{.Id = ViewEventId::RelayFailed, .Token = job->Token};
  const int status = client.ResponseCode();
  if (IsCertificateFailure(result)) {
    failed.Code = static_cast<int>(RelayFailure::Certificate);
  } else if (!connected) {
    failed.Code = static_cast<int>(RelayFailure::NoConnection);
  } else if (status < 200) {  // none, or only the interim "100 Continue"
    failed.Code = static_cast<int>(RelayFailure::NoAnswer);
  } else if (status != 200) {
    // The final reply's head (after any interim "100 Continue"), then its body.
    const std::string heads(client.HeaderText(), static_cast<size_t>(client.HeaderLength()));
    const size_t line = heads.rfind("\nHTTP/");
    const size_t last = line != std::string::npos ? line + 1 : heads.rfind("HTTP/", 0);
    const std::string head =
        last == std::string::npos ? "HTTP/1.1 " + std::to_string(status) + "\r\n\r\n" : heads.substr(last);
    failed.Code = static_cast<int>(RelayFailure::Refused);
    failed.Name = ParseRelayReply(head + std::string(client.Body(), static_cast<size_t>(client.BodyLength()))).Reason;
  } else if (result != 0) {
    failed.Code = static_cast<int>(RelayFailure::NoAnswer);
  }
  if (failed.Code != 0 && !t.Stopping) events.Report(failed);
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

bool CCloudRelay::Upload(const CSharedItem& item) {
  SharedState& state = m_state;
  CEventChannel& events = state.Events;
  const std::string& token = item.Token;
  const std::string& path = item.Path;
  if (!RelayConfigured(state)) return false;
  if (item.Kind == ItemKind::Folder) {
    events.Report({ViewEventId::RelayFolderRefused});
    return false;
  }
  const std::string name = UploadName(path);

  auto job = std::make_unique<RelayUploadJob>();
  job->File = std::fopen(path.c_str(), "rb");
  struct stat st {};
  uint64_t size = 0;
  if (job->File && ::fstat(::fileno(job->File), &st) == 0 && S_ISREG(st.st_mode)) size = st.st_size;
  if (size > kMaxRelayedSize) {
    events.Report({ViewEventId::RelayFileTooLarge});
    return false;
  }
  // Nothing to read: the upload ends here, as one that could not connect would.
  if (!job->File || !S_ISREG(st.st_mode)) return true;
  job->FileSize = static_cast<uint32_t>(size);
  job->Head = UploadFrameHead({.token = token, .name = name, .size = job->FileSize});

  events.HideProgress();
  CloudRelayThreads& t = *m_threads;
  JoinEnded(t);
  job->Token = token;
  job->Base = RelayBase(state);
  job->Host = UploadHost(state);
  job->State = &state;
  job->Owner = &t;

  std::lock_guard<std::mutex> lock(t.Lock);
  t.Stopping.Clear();  // uploads after a Stop start again
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
  CloudRelayThreads& t = *m_threads;
  std::list<CloudRelayThreads::Upload> uploads;
  {
    std::lock_guard<std::mutex> lock(t.Lock);
    t.Stopping.Set();  // wakes each request where it waits, which then ends
    uploads.swap(t.Uploads);
  }
  for (CloudRelayThreads::Upload& upload : uploads) upload.Thread.join();
}
