#include "web/receive/Upload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/SharedState.h"
#include "app/TransferProgress.h"
#include "web/http/ClientAddress.h"
#include "web/http/ContentType.h"
#include "web/receive/FreeSpace.h"
#include "web/receive/MultipartBoundary.h"
#include "web/receive/MultipartReceiver.h"
#include "web/receive/PartialUploads.h"
#include "web/receive/ResumableUpload.h"
#include "web/receive/SavedFile.h"
#include "web/receive/UploadName.h"
#include "web/send/FileSize.h"
#include "web/send/LocalFile.h"

namespace {

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

// The one reply of a request of the upload direction: the fixed upload header lines, in their
// order, and the JSON body.
CHttpReply UploadReply(int status, std::string body) {
  CHttpReply reply;
  reply.AsHttp10 = false;
  reply.Status = status;
  reply.Memory = std::move(body);
  char text[sizeof kUploadReplyHeader + 64];
  std::snprintf(text, sizeof text, kUploadReplyHeader, "", reply.Memory.size());
  const std::string head = text;
  size_t at = head.find("\r\n") + 2;
  for (size_t end; (end = head.find("\r\n", at)) != std::string::npos && end > at; at = end + 2) {
    const std::string line = head.substr(at, end - at);
    const size_t colon = line.find(':');
    reply.AddHeader(line.substr(0, colon), line.substr(colon + 2));
  }
  return reply;
}

// Why an upload was not stored, as the phone is told: a status, a code for the page and a message.
struct CUploadError {
  int status;
  const char* code;
  const char* message;
};

const CUploadError kBadForm = {400, "bad_form", "The upload's form data is malformed"};

CUploadError ErrorOf(UploadFailure failure) {
  switch (failure) {
    case UploadFailure::Incomplete:
      return {400, "incomplete", "The upload ended before the file was complete"};
    case UploadFailure::ReadFailed:
      return {408, "interrupted", "The upload was interrupted"};
    case UploadFailure::CannotCreate:
      return {500, "cannot_store", "The PC could not store the file"};
    case UploadFailure::DiskFull:
      return {507, "disk_full", "The PC's disk is full"};
    case UploadFailure::BadForm:
      return kBadForm;
    case UploadFailure::NoName:
      return {400, "no_name", "A file field holds no file"};
    case UploadFailure::WriteFailed:
    case UploadFailure::None:
      break;
  }
  return {500, "write_failed", "The PC could not write the file"};
}

std::string ErrorFields(const CUploadError& error) {
  return std::string("\"error\":\"") + error.code + "\",\"message\":\"" + error.message + "\"";
}

// The reply to an upload that stored nothing: {"error":CODE,"message":TEXT}.
CHttpReply UploadErrorReply(const CUploadError& error) {
  return UploadReply(error.status, "{" + ErrorFields(error) + "}");
}

// What one multipart request did, part by part in the body's order, answered in one reply:
// {"files":[...]} with each stored file as a single-file upload lists it and each part that failed
// as {"name":SENT,"error":CODE,"message":TEXT}. When a part failed, the reply's status and its own
// "error" and "message" are those of the first failure; when that part is all there is, the reply is
// {"error":CODE,"message":TEXT} alone. Stored files are not listed in the cloud mode (the PC has no
// address to give), where a reply with nothing else to say has an empty body.
class CUploadList {
 public:
  void Stored(std::string entry) {
    if (!entry.empty()) m_entries.push_back(std::move(entry));
  }
  void Failed(const std::string& sentName, const CUploadError& error) {
    if (!m_first) m_first = error;
    m_entries.push_back("{\"name\":\"" + JsonEscape(sentName) + "\"," + ErrorFields(error) + "}");
  }
  CHttpReply Take() const {
    if (m_first && m_entries.size() == 1) return UploadErrorReply(*m_first);
    if (!m_first && m_entries.empty() && m_storedUnlisted) return UploadReply(200, {});
    std::string body = "{\"files\":[";
    for (size_t i = 0; i < m_entries.size(); ++i) body += (i ? "," : "") + m_entries[i];
    body += "]";
    if (m_first) body += "," + ErrorFields(*m_first);
    return UploadReply(m_first ? m_first->status : 200, body + "}");
  }
  void StoredUnlisted() { m_storedUnlisted = true; }

 private:
  std::vector<std::string> m_entries;
  std::optional<CUploadError> m_first;
  bool m_storedUnlisted = false;
};

// The JSON object that lists a saved file: its name, size, type and address in the reach mode in use;
// empty in the cloud mode, where the PC has no address to give.
std::string SavedFileEntry(SharedState& state, const std::string& saved) {
  const int64_t size = FileSize(saved);
  size_t slash = saved.rfind('/');
  if (slash == std::string::npos) slash = saved.rfind('\\');
  const std::string name = slash == std::string::npos ? saved : saved.substr(slash + 1);
  const char* type = LookupContentType(saved);
  if (!type) type = "application/octet-stream";

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
  std::string entry;
  if (answer) entry = UploadReplyEntry(name, size, type, host, state.PortText, state.UploadSecret);
  state.Events.ShowProgress();
  state.Events.Report({.Id = ViewEventId::FileStored, .Name = state.ShownPath(saved)});
  return entry;
}

// The room an upload may still fill on the disk of "tmp": the free space less the reserve and the
// space that resumable uploads have booked; unbounded when the free space cannot be read.
int64_t UploadRoom(const SharedState& state, CPartialUploads& partials) {
  const int64_t free = FreeSpace(state.HomePath("tmp"));
  if (free < 0) return std::numeric_limits<int64_t>::max();
  return free - partials.ReservedBytes() - CPartialUploads::kFreeSpaceReserve;
}

// File parts are written to hidden files in the working directory's "tmp" and take their name there
// only when whole; a part that does not complete leaves nothing behind. Every write is counted
// against the room (UploadRoom), whether or not the request declared its length.
class CTmpFileSink : public CMultipartSink {
 public:
  CTmpFileSink(SharedState& state, CPartialUploads& partials, CUploadList& list, int64_t declared)
      : m_state(state),
        m_partials(partials),
        m_list(list),
        m_folder(m_state.HomePath("tmp")),
        m_progress({ViewEventId::UploadProgress}, declared) {}
  ~CTmpFileSink() override {
    if (m_fd >= 0 || !m_hidden.empty()) Abandon();
  }

  int Begin(const std::string& sentName) override {
    if (SafeUploadName(sentName).empty()) return EINVAL;
    m_fd = CreateHiddenFile(m_folder, m_hidden);
    if (m_fd < 0) return errno ? errno : EIO;
    m_sent = sentName;
    m_progress.Restart(sentName);
    m_state.Events.ShowProgress();
    ReportProgress();
    return 0;
  }
  int Write(const char* data, size_t count) override {
    const auto n = static_cast<int64_t>(count);
    if (n > m_budget) {
      // Measured again at most every kRoomStep bytes, so that uploads side by side see each other.
      m_budget = std::min(UploadRoom(m_state, m_partials), kRoomStep);
      if (n > m_budget) return ENOSPC;
    }
    m_budget -= n;
    while (count > 0) {
      const ssize_t w = ::write(m_fd, data, count);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return w < 0 ? errno : ENOSPC;
      data += w;
      count -= static_cast<size_t>(w);
      m_written += w;
      ReportProgress();
    }
    return 0;
  }
  int Finish() override {
    ::fchmod(m_fd, 0644);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) return errno;
    // The whole file takes its name at once, never replacing another.
    if (const int moved = MoveToSavedFile(m_hidden, m_folder, m_sent, m_path)) return moved;
    m_hidden.clear();
    m_state.Events.Report({.Id = ViewEventId::FileReceived, .Name = m_state.ShownPath(m_path)});
    const std::string entry = SavedFileEntry(m_state, m_path);
    if (entry.empty()) m_list.StoredUnlisted();
    m_list.Stored(entry);
    return 0;
  }
  void Abandon() override {
    if (m_fd >= 0) ::close(m_fd);
    if (!m_hidden.empty()) ::unlink(m_hidden.c_str());
    m_fd = -1;
    m_hidden.clear();
  }
  void Failed(const std::string& sentName, UploadFailure why) override { m_list.Failed(sentName, ErrorOf(why)); }

 private:
  static constexpr int64_t kRoomStep = 64 * 1024 * 1024;

  void ReportProgress() {
    if (const CViewEvent* progress = m_progress.Advance(m_written)) m_state.Events.Report(*progress);
  }

  SharedState& m_state;
  CPartialUploads& m_partials;
  CUploadList& m_list;
  const std::string m_folder;
  int64_t m_written = 0;         // file bytes of all parts so far
  int64_t m_budget = 0;          // bytes that may still be written before the room is measured again
  CTransferProgress m_progress;  // of the request's declared length
  int m_fd = -1;
  std::string m_hidden;  // the file being written, until it has its name
  std::string m_sent;
  std::string m_path;
};

}  // namespace

CHttpReply ReceiveUpload(SharedState& state, CPartialUploads& partials, CHttpRequest& request, int& saved) {
  saved = 0;
  std::string boundary;
  const BoundaryResult found = ParseBoundary(request.Header("Content-Type"), boundary);
  if (found == BoundaryResult::Missing) return CHttpReply::Dropped();
  if (found == BoundaryResult::Malformed) return UploadErrorReply(kBadForm);
  // A body that cannot fit is refused before anything is written.
  const int64_t declared = request.ContentLength;
  if (declared > 0 && declared > UploadRoom(state, partials)) return UploadErrorReply(ErrorOf(UploadFailure::DiskFull));
  CUploadList list;
  CTmpFileSink sink(state, partials, list, declared);
  const CBodyRead read = request.ReadBody ? request.ReadBody : CBodyRead([](char*, size_t) { return 0; });
  saved = ReceiveMultipart(boundary, read, sink).saved;
  return list.Take();
}

CHttpReply ReceiveResumableUpload(SharedState& state, CPartialUploads& partials, CHttpRequest& request, int& saved) {
  saved = 0;
  const CBodyRead read = request.ReadBody ? request.ReadBody : CBodyRead([](char*, size_t) { return 0; });
  // The bar follows the whole file across its pieces: a piece that starts past the beginning reports
  // only the percents it adds.
  std::optional<CTransferProgress> progress;
  const CPieceProgress onPiece = [&](const std::string& name, int64_t held, int64_t size) {
    CMainDialogView& events = state.Events;
    const bool first = !progress;
    if (first) {
      progress.emplace(CViewEvent{.Id = ViewEventId::UploadProgress, .Name = name}, size);
      events.ShowProgress();
    }
    const CViewEvent* event = progress->Advance(held);
    if (event && !(first && held > 0)) events.Report(*event);
  };
  const CResumableAnswer answer = AnswerResumableUpload(partials, request.Method, request.Query, request.ContentLength,
                                                        read, onPiece, ClientAddressKey(request.Peer));
  if (answer.storedPath.empty()) {
    CHttpReply reply = UploadReply(answer.status, answer.body);
    if (answer.retryAfter > 0) reply.AddHeader("Retry-After", std::to_string(answer.retryAfter));
    return reply;
  }
  // Reported once, when the file became whole; a repeated final piece only gets the reply again.
  if (answer.newlyStored) saved = 1;
  const std::string entry = SavedFileEntry(state, answer.storedPath);
  return UploadReply(200, entry.empty() ? std::string() : "{\"files\":[" + entry + "]}");
}

CHttpReply DeleteLocalFile(const std::string& home, const CHttpRequest& request, const std::string& uri) {
  // Only a whole regular file directly inside "tmp": the one name after "/tmp/", without separators,
  // not a dot-name (files still arriving have hidden names), looked at and removed relative to "tmp"
  // opened as a real folder, never through a link. Anything else is answered as a missing file.
  static const std::string kPrefix = "/tmp/";
  bool removed = false;
  if (uri.compare(0, kPrefix.size(), kPrefix) == 0) {
    const std::string name = uri.substr(kPrefix.size());
    if (!name.empty() && name[0] != '.' && name.find_first_of("/\\") == std::string::npos) {
      const int folder = ::open((home + "/tmp").c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (folder >= 0) {
        struct stat st {};
        removed = ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
                  ::unlinkat(folder, name.c_str(), 0) == 0;
        ::close(folder);
      }
    }
  }
  if (!removed) return MissingFileReply(home, request, uri);
  return UploadReply(200, "{\"success\":true}");
}
