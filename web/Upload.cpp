#include "web/Upload.h"

#include <civetweb.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/SharedState.h"
#include "web/ContentType.h"
#include "web/FileSize.h"
#include "web/FreeSpace.h"
#include "web/MultipartBoundary.h"
#include "web/MultipartReceiver.h"
#include "web/PartialUploads.h"
#include "web/ResumableUpload.h"
#include "web/SavedFile.h"
#include "web/UploadName.h"
#include "web/WebServer.h"

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
    "Access-Control-Allow-Origin: *\r\n"
    "Access-Control-Allow-Credentials: false\r\n"
    "Access-Control-Allow-Methods: OPTIONS, HEAD, GET, POST, PUT, PATCH, DELETE\r\n"
    "Access-Control-Allow-Headers: Content-Type, Content-Range, Content-Disposition\r\n"
    "Vary: Accept\r\n"
    "Content-Length: %zu\r\n"
    "Keep-Alive: timeout=15, max=100\r\n"
    "Connection: Keep-Alive\r\n"
    "Content-Type: application/json\r\n"
    "\r\n";

void WriteUploadReply(mg_connection* conn, const std::string& body, const char* status = "200 OK") {
  mg_printf(conn, kUploadReplyHeader, status, body.size());
  if (!body.empty()) mg_write(conn, body.data(), body.size());
}

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

// The reply to an upload that was not stored: {"error":CODE,"message":TEXT}. Written whether or not
// the phone is still there; a write to a closed connection is dropped.
void WriteUploadError(mg_connection* conn, const CUploadError& error) {
  WriteUploadReply(conn, std::string("{\"error\":\"") + error.code + "\",\"message\":\"" + error.message + "\"}",
                   error.status);
}

// File parts go to new files in "tmp"; a part that does not complete leaves nothing behind.
class CTmpFileSink : public CMultipartSink {
 public:
  explicit CTmpFileSink(mg_connection* conn) : m_conn(conn) {}
  ~CTmpFileSink() override {
    if (m_fd >= 0) Abandon();
  }

  int Begin(const std::string& sentName) override {
    m_fd = CreateSavedFile("tmp", sentName, m_path);
    return m_fd < 0 ? (errno ? errno : EIO) : 0;
  }
  int Write(const char* data, size_t count) override {
    while (count > 0) {
      const ssize_t n = ::write(m_fd, data, count);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? errno : ENOSPC;
      data += n;
      count -= static_cast<size_t>(n);
      if (g_ServerCallbacks.OnUploadBytes) g_ServerCallbacks.OnUploadBytes(m_conn, static_cast<size_t>(n));
    }
    return 0;
  }
  int Finish() override {
    if (g_ServerCallbacks.OnUploadFileDone) g_ServerCallbacks.OnUploadFileDone(m_conn, m_path.c_str(), 0);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
      const int e = errno;
      m_closeFailed = true;
      return e;
    }
    if (g_ServerCallbacks.OnUploadSaved) g_ServerCallbacks.OnUploadSaved(m_conn, m_path.c_str());
    return 0;
  }
  void Abandon() override {
    if (m_fd >= 0) ::close(m_fd);
    if (m_fd >= 0 || m_closeFailed) ::unlink(m_path.c_str());
    m_fd = -1;
    m_closeFailed = false;
  }

 private:
  mg_connection* m_conn;
  int m_fd = -1;
  bool m_closeFailed = false;  // Finish closed the file but the close reported a failure
  std::string m_path;
};

}  // namespace

int ReceiveUpload(mg_connection* conn) {
  std::string boundary;
  const BoundaryResult found = ParseBoundary(mg_get_header(conn, "Content-Type"), boundary);
  if (found == BoundaryResult::Missing) return 0;
  if (found == BoundaryResult::Malformed) {
    WriteUploadError(conn, kBadForm);
    return 0;
  }
  // A body that cannot fit is refused before anything is written.
  const int64_t declared = mg_get_request_info(conn)->content_length;
  const int64_t room = FreeSpace("tmp") - (ServicePartialUploads() ? ServicePartialUploads()->ReservedBytes() : 0);
  if (declared > 0 && room >= 0 && declared > room - kFreeSpaceReserve) {
    WriteUploadError(conn, ErrorOf(UploadFailure::DiskFull));
    return 0;
  }
  CTmpFileSink sink(conn);
  const CMultipartOutcome outcome = ReceiveMultipart(
      boundary, [conn](char* into, size_t room) { return mg_read(conn, into, room); }, sink);
  if (outcome.failure != UploadFailure::None) WriteUploadError(conn, ErrorOf(outcome.failure));
  return outcome.saved;
}

int ReceiveResumableUpload(mg_connection* conn, CPartialUploads& uploads) {
  const mg_request_info* ri = mg_get_request_info(conn);
  const CResumableAnswer answer = AnswerResumableUpload(
      uploads, ri->request_method ? ri->request_method : "", ri->query_string ? ri->query_string : "",
      ri->content_length, [conn](char* into, size_t room) { return mg_read(conn, into, room); });
  if (answer.storedPath.empty()) {
    const char* reason = answer.status == 200   ? " OK"
                         : answer.status == 404 ? " Not Found"
                         : answer.status == 409 ? " Conflict"
                         : answer.status == 413 ? " Payload Too Large"
                         : answer.status == 507 ? " Insufficient Storage"
                         : answer.status == 500 ? " Internal Server Error"
                                                : " Bad Request";
    const std::string status = std::to_string(answer.status) + reason;
    WriteUploadReply(conn, answer.body, status.c_str());
    return 0;
  }
  if (answer.newlyStored && g_ServerCallbacks.OnUploadSaved) {
    g_ServerCallbacks.OnUploadSaved(conn, answer.storedPath.c_str());
    return 1;
  }
  OnUploadSaved(conn, answer.storedPath.c_str());
  return 0;
}

void OnUploadFileDone(mg_connection*, const char* path, int) {
  CMainDialogView* dialog = g_State.MainDialog;
  if (!dialog) return;
  dialog->SetCaption(std::string("正在上传: ") + path);
  dialog->ShowProgress();
  dialog->SetProgressPos(1);
}

void OnUploadSaved(mg_connection* conn, const char* path) {
  const std::string saved = path;
  const int64_t size = FileSize(saved);
  size_t slash = saved.rfind('/');
  if (slash == std::string::npos) slash = saved.rfind('\\');
  const std::string name = slash == std::string::npos ? saved : saved.substr(slash + 1);
  const char* type = LookupContentType(saved);
  if (!type) type = "application/octet-stream";

  CMainDialogView* dialog = g_State.MainDialog;
  const int radio = dialog ? dialog->CheckedReachRadio() : IDC_RADIO_LAN;
  std::string host;
  bool answer = true;
  if (radio == IDC_RADIO_LAN) {
    host = g_State.LocalAddress.Get();
  } else if (radio == IDC_RADIO_WAN) {
    host = g_State.ExternalAddress.Get();
  } else {
    answer = false;
  }

  std::string body;
  if (answer) body = UploadReplyBody(name, size, type, host, g_State.PortText);
  WriteUploadReply(conn, body);

  if (dialog) {
    dialog->ShowProgress();
    dialog->SetProgressPos(100);
  }
}

void DeleteLocalFile(mg_connection* conn, const std::string& uri) {
  // Only a file directly inside "tmp": the one name after "/tmp/", without separators, not "." or "..",
  // removed relative to "tmp" opened as a real folder, so that no link leads the removal elsewhere.
  static const std::string kPrefix = "/tmp/";
  if (uri.compare(0, kPrefix.size(), kPrefix) == 0) {
    const std::string name = uri.substr(kPrefix.size());
    if (!name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos) {
      const int folder = ::open("tmp", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (folder >= 0) {
        ::unlinkat(folder, name.c_str(), 0);
        ::close(folder);
      }
    }
  }
  WriteUploadReply(conn, "{\"success\":true}");
}
