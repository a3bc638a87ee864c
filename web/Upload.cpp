#include "web/Upload.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/SharedState.h"
#include "app/TransferProgress.h"
#include "web/ContentType.h"
#include "web/FileSize.h"
#include "web/FreeSpace.h"
#include "web/MultipartBoundary.h"
#include "web/MultipartReceiver.h"
#include "web/PartialUploads.h"
#include "web/ResumableUpload.h"
#include "web/SavedFile.h"
#include "web/UploadName.h"
#include "web/WebService.h"

namespace {

// Room kept free on the disk of "tmp": an upload that would leave less is refused before it starts.
constexpr int64_t kFreeSpaceReserve = 4 * 1024 * 1024;

const char kUploadReplyHeader[] =
    "HTTP/1.1 %s\r\n"
    "Server: Marlix 1.0\r\n"
    "X-Powered-By: Dorvane\r\n"
    "Pragma: no-cache\r\n"
    "Cache-Control: no-store, no-cache, must-revalidate\r\n"
    "Content-Disposition: inline; filename=\"files.json\"\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Vary: Accept\r\n"
    "Content-Length: %zu\r\n"
    "Keep-Alive: timeout=15, max=100\r\n"
    "Connection: Keep-Alive\r\n"
    "Content-Type: application/json\r\n"
    "\r\n";

// The replies an upload adds, in order: the first is the HTTP reply, each further one follows in its
// body as the text of a whole reply of its own, as the phone's page has always been sent them.
class CUploadReplies {
 public:
  void Add(const std::string& body, const char* status = "200 OK") { m_replies.emplace_back(status, body); }
  CHttpReply Take() {
    if (m_replies.empty()) return CHttpReply::Dropped();
    CHttpReply reply;
    reply.AsHttp10 = false;
    reply.Status = std::atoi(m_replies[0].first);
    reply.Memory = m_replies[0].second;
    FillHead(reply, reply.Memory.size());
    for (size_t i = 1; i < m_replies.size(); ++i) {
      char head[sizeof kUploadReplyHeader + 64];
      std::snprintf(head, sizeof head, kUploadReplyHeader, m_replies[i].first, m_replies[i].second.size());
      reply.Memory += head + m_replies[i].second;
    }
    return reply;
  }
  static void FillHead(CHttpReply& reply, size_t length) {
    // The header lines of kUploadReplyHeader, in its order.
    char text[sizeof kUploadReplyHeader + 64];
    std::snprintf(text, sizeof text, kUploadReplyHeader, "", length);
    std::string head = text;
    size_t at = head.find("\r\n") + 2;
    for (size_t end; (end = head.find("\r\n", at)) != std::string::npos && end > at; at = end + 2) {
      const std::string line = head.substr(at, end - at);
      const size_t colon = line.find(':');
      reply.AddHeader(line.substr(0, colon), line.substr(colon + 2));
    }
  }

 private:
  std::vector<std::pair<const char*, std::string>> m_replies;
};

// Why an upload was not stored, as the phone is told: a status, a code for the page and a message.
struct CUploadError {
  const char* status;
  const char* code;
  const char* message;
};

const CUploadError kBadForm = {"400 Bad Request", "bad_form", "The upload's form data is malformed"};

CUploadError ErrorOf(UploadFailure failure) {
  switch (failure) {
    case UploadFailure::Incomplete:
      return {"400 Bad Request", "incomplete", "The upload ended before the file was complete"};
    case UploadFailure::ReadFailed:
      return {"408 Request Timeout", "interrupted", "The upload was interrupted"};
    case UploadFailure::CannotCreate:
      return {"500 Internal Server Error", "cannot_store", "The PC could not store the file"};
    case UploadFailure::DiskFull:
      return {"507 Insufficient Storage", "disk_full", "The PC's disk is full"};
    case UploadFailure::WriteFailed:
    case UploadFailure::None:
      break;
  }
  return {"500 Internal Server Error", "write_failed", "The PC could not write the file"};
}

// The reply to an upload that was not stored: {"error":CODE,"message":TEXT}.
void AddUploadError(CUploadReplies& replies, const CUploadError& error) {
  replies.Add(std::string("{\"error\":\"") + error.code + "\",\"message\":\"" + error.message + "\"}", error.status);
}

// The JSON reply for a saved file: its name, size, type and address in the reach mode in use.
std::string SavedFileReply(SharedState& state, const std::string& saved) {
  const int64_t size = FileSize(saved);
  size_t slash = saved.rfind('/');
  if (slash == std::string::npos) slash = saved.rfind('\\');
  const std::string name = slash == std::string::npos ? saved : saved.substr(slash + 1);
  const char* type = LookupContentType(saved);
  if (!type) type = "application/octet-stream";

  CMainDialogView* dialog = state.MainDialog;
  const ReachMode mode = state.SelectedMode;
  std::string host;
  bool answer = true;
  if (mode == ReachMode::Lan) {
    host = state.LocalAddress.Get();
  } else if (mode == ReachMode::Wan) {
    host = state.ExternalAddress.Get();
  } else {
    answer = false;
  }
  std::string body;
  if (answer) body = UploadReplyBody(name, size, type, host, state.PortText, state.UploadSecret);
  if (dialog) {
    dialog->ShowProgress();
    dialog->Report({.Id = ViewEventId::FileStored, .Name = state.ShownPath(saved)});
  }
  return body;
}

// File parts go to new files in the working directory's "tmp"; a part that does not complete leaves
// nothing behind.
class CTmpFileSink : public CMultipartSink {
 public:
  CTmpFileSink(SharedState& state, const CWebCallbacks& callbacks, CUploadReplies& replies, int64_t declared)
      : m_state(state),
        m_callbacks(callbacks),
        m_replies(replies),
        m_progress({ViewEventId::UploadProgress}, declared) {}
  ~CTmpFileSink() override {
    if (m_fd >= 0) Abandon();
  }

  int Begin(const std::string& sentName) override {
    m_fd = CreateSavedFile(m_state.HomePath("tmp"), sentName, m_path);
    if (m_fd < 0) return errno ? errno : EIO;
    m_progress.Restart(sentName);
    if (CMainDialogView* dialog = m_state.MainDialog) dialog->ShowProgress();
    ReportProgress();
    return 0;
  }
  int Write(const char* data, size_t count) override {
    while (count > 0) {
      const ssize_t n = ::write(m_fd, data, count);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? errno : ENOSPC;
      data += n;
      count -= static_cast<size_t>(n);
      if (m_callbacks.OnUploadBytes) m_callbacks.OnUploadBytes(static_cast<size_t>(n));
      m_written += n;
      ReportProgress();
    }
    return 0;
  }
  int Finish() override {
    if (CMainDialogView* dialog = m_state.MainDialog)
      dialog->Report({.Id = ViewEventId::FileReceived, .Name = m_state.ShownPath(m_path)});
    if (m_callbacks.OnUploadFileDone) m_callbacks.OnUploadFileDone(m_path);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
      const int e = errno;
      m_closeFailed = true;
      return e;
    }
    if (m_callbacks.OnUploadSaved) m_callbacks.OnUploadSaved(m_path);
    m_replies.Add(SavedFileReply(m_state, m_path));
    return 0;
  }
  void Abandon() override {
    if (m_fd >= 0) ::close(m_fd);
    if (m_fd >= 0 || m_closeFailed) ::unlink(m_path.c_str());
    m_fd = -1;
    m_closeFailed = false;
  }

 private:
  void ReportProgress() {
    CMainDialogView* dialog = m_state.MainDialog;
    if (const CViewEvent* progress = m_progress.Advance(m_written); progress && dialog) dialog->Report(*progress);
  }

  SharedState& m_state;
  const CWebCallbacks& m_callbacks;
  CUploadReplies& m_replies;
  int64_t m_written = 0;         // file bytes of all parts so far
  CTransferProgress m_progress;  // of the request's declared length
  int m_fd = -1;
  bool m_closeFailed = false;  // Finish closed the file but the close reported a failure
  std::string m_path;
};

}  // namespace

CHttpReply ReceiveUpload(CWebService& service, CHttpRequest& request, int& saved) {
  saved = 0;
  CUploadReplies replies;
  std::string boundary;
  const BoundaryResult found = ParseBoundary(request.Header("Content-Type"), boundary);
  if (found == BoundaryResult::Missing) return replies.Take();
  if (found == BoundaryResult::Malformed) {
    AddUploadError(replies, kBadForm);
    return replies.Take();
  }
  // A body that cannot fit is refused before anything is written.
  const int64_t declared = request.ContentLength;
  const int64_t room = FreeSpace(service.State().HomePath("tmp")) - service.PartialUploads().ReservedBytes();
  if (declared > 0 && room >= 0 && declared > room - kFreeSpaceReserve) {
    AddUploadError(replies, ErrorOf(UploadFailure::DiskFull));
    return replies.Take();
  }
  CTmpFileSink sink(service.State(), service.Callbacks(), replies, declared);
  const CBodyRead read = request.ReadBody ? request.ReadBody : CBodyRead([](char*, size_t) { return 0; });
  const CMultipartOutcome outcome = ReceiveMultipart(boundary, read, sink);
  if (outcome.failure != UploadFailure::None) AddUploadError(replies, ErrorOf(outcome.failure));
  saved = outcome.saved;
  return replies.Take();
}

CHttpReply ReceiveResumableUpload(CWebService& service, CHttpRequest& request, int& saved) {
  saved = 0;
  const CBodyRead body = request.ReadBody ? request.ReadBody : CBodyRead([](char*, size_t) { return 0; });
  const CWebCallbacks& callbacks = service.Callbacks();
  const CBodyRead read = [&](char* buffer, size_t size) {
    const int n = body(buffer, size);
    if (n > 0 && callbacks.OnUploadBytes) callbacks.OnUploadBytes(static_cast<size_t>(n));
    return n;
  };
  // The bar follows the whole file across its pieces: a piece that starts past the beginning reports
  // only the percents it adds.
  std::optional<CTransferProgress> progress;
  const CPieceProgress onPiece = [&](const std::string& name, int64_t held, int64_t size) {
    CMainDialogView* dialog = service.State().MainDialog;
    if (!dialog) return;
    const bool first = !progress;
    if (first) {
      progress.emplace(CViewEvent{.Id = ViewEventId::UploadProgress, .Name = name}, size);
      dialog->ShowProgress();
    }
    const CViewEvent* event = progress->Advance(held);
    if (event && !(first && held > 0)) dialog->Report(*event);
  };
  const CResumableAnswer answer = AnswerResumableUpload(service.PartialUploads(), request.Method, request.Query,
                                                        request.ContentLength, read, onPiece);
  CUploadReplies replies;
  if (answer.storedPath.empty()) {
    const char* status = answer.status == 200   ? "200 OK"
                         : answer.status == 404 ? "404 Not Found"
                         : answer.status == 409 ? "409 Conflict"
                         : answer.status == 413 ? "413 Payload Too Large"
                         : answer.status == 507 ? "507 Insufficient Storage"
                         : answer.status == 500 ? "500 Internal Server Error"
                                                : "400 Bad Request";
    replies.Add(answer.body, status);
    return replies.Take();
  }
  // Reported once, when the file became whole; a repeated final piece only gets the reply again.
  if (answer.newlyStored) {
    if (service.Callbacks().OnUploadSaved) service.Callbacks().OnUploadSaved(answer.storedPath);
    saved = 1;
  }
  replies.Add(SavedFileReply(service.State(), answer.storedPath));
  return replies.Take();
}

CHttpReply DeleteLocalFile(const std::string& home, const std::string& uri) {
  // Only a file directly inside "tmp": the one name after "/tmp/", without separators, not "." or "..",
  // removed relative to "tmp" opened as a real folder, so that no link leads the removal elsewhere.
  static const std::string kPrefix = "/tmp/";
  if (uri.compare(0, kPrefix.size(), kPrefix) == 0) {
    const std::string name = uri.substr(kPrefix.size());
    if (!name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos) {
      const int folder = ::open((home + "/tmp").c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (folder >= 0) {
        ::unlinkat(folder, name.c_str(), 0);
        ::close(folder);
      }
    }
  }
  CUploadReplies replies;
  replies.Add("{\"success\":true}");
  return replies.Take();
}
