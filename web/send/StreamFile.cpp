#include "web/send/StreamFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <memory>

#include "app/MainDialogView.h"
#include "app/TransferProgress.h"

namespace {

// Positions are those of a copy in 4096-byte pieces.
constexpr int64_t kPiece = 4096;

// Reports the download's position in the file after every 4096-byte piece of the range that a block
// completed, and after the block's own end, each only when it reaches a new whole percent.
class CProgress {
 public:
  CProgress(CMainDialogView* dialog, int64_t size, int64_t first)
      : m_dialog(dialog), m_first(first), m_progress({ViewEventId::DownloadProgress}, size) {}
  void Advance(int64_t before, int64_t sent) {
    if (!m_dialog) return;
    for (int64_t mark = (before / kPiece + 1) * kPiece; mark <= sent; mark += kPiece) Report(mark);
    Report(sent);
  }

 private:
  void Report(int64_t sent) {
    if (const CViewEvent* event = m_progress.Advance(m_first + sent)) m_dialog->Report(*event);
  }
  CMainDialogView* m_dialog;
  int64_t m_first;
  CTransferProgress m_progress;
};

// An HTTP date (IMF-fixdate) in English whatever the process's locale.
std::string HttpDate(time_t when) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  tm t{};
  if (!::gmtime_r(&when, &t)) return {};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[t.tm_wday], t.tm_mday,
                kMonths[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

}  // namespace

CFileReply::CFileReply(const CHttpRequest& request, const std::string& path)
    // Non-blocking, so that a shared pipe or device cannot hold the thread in open().
    : CFileReply(request, ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {}

CFileReply::CFileReply(const CHttpRequest& request, int fd) : m_fd(fd) {
  struct stat st {};
  if (m_fd >= 0 && (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(m_fd);
    m_fd = -1;
  }
  if (m_fd >= 0) {
    m_size = st.st_size;
    m_etag = MakeETag(m_size, static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                      static_cast<uint64_t>(st.st_ino));
    m_lastModified = HttpDate(st.st_mtim.tv_sec);
  }
  Decide(request);
}

CFileReply::~CFileReply() {
  if (m_fd >= 0) ::close(m_fd);
}

std::string CFileReply::MakeETag(int64_t size, int64_t mtimeNs, uint64_t inode) {
  char text[80];
  std::snprintf(text, sizeof text, "\"%" PRIx64 "-%" PRIx64 "-%" PRIx64 "\"", static_cast<uint64_t>(size),
                static_cast<uint64_t>(mtimeNs), inode);
  return text;
}

void CFileReply::Decide(const CHttpRequest& request) {
  // Without a file there is nothing to take a part of: the empty reply of old.
  const char* range = m_fd >= 0 ? request.Header("Range") : nullptr;
  // A Range under If-Range holds only while the file is the version the client already has part of:
  // the same strong ETag, or exactly the same date. Otherwise the whole new file is sent.
  if (const char* ifRange = range ? request.Header("If-Range") : nullptr) {
    const std::string v = ifRange;
    const bool same = !m_etag.empty() && (v == m_etag || v == m_lastModified);
    if (!same) range = nullptr;
  }
  m_range = ParseByteRange(range, m_size);
  switch (m_range.kind) {
    case ByteRange::Part:
      m_first = m_range.first;
      m_length = m_range.last - m_range.first + 1;
      break;
    case ByteRange::Unsatisfiable:
      m_first = 0;
      m_length = 0;
      break;
    case ByteRange::Whole:
      m_first = 0;
      m_length = m_size;
      break;
  }
}

bool CFileReply::StartsAtFirstByte() const { return m_range.kind != ByteRange::Unsatisfiable && m_first == 0; }

CHttpReply CFileReply::Reply(std::vector<std::pair<std::string, std::string>> headers, CMainDialogView* progress) {
  CHttpReply reply;
  reply.Headers = std::move(headers);
  char line[96] = {};
  switch (m_range.kind) {
    case ByteRange::Part:
      reply.Status = 206;
      reply.AddHeader("Content-Length", std::to_string(m_length));
      reply.AddHeader("Accept-Ranges", "bytes");
      std::snprintf(line, sizeof line, "bytes %" PRId64 "-%" PRId64 "/%" PRId64, m_range.first, m_range.last, m_size);
      reply.AddHeader("Content-Range", line);
      break;
    case ByteRange::Unsatisfiable:
      reply.Status = 416;
      reply.AddHeader("Content-Length", "0");
      reply.AddHeader("Accept-Ranges", "bytes");
      reply.AddHeader("Content-Range", "bytes */" + std::to_string(m_size));
      break;
    case ByteRange::Whole:
      reply.Status = 200;
      reply.AddHeader("Content-Length", std::to_string(m_length));
      if (m_fd >= 0) reply.AddHeader("Accept-Ranges", "bytes");
      break;
  }
  if (!m_etag.empty()) reply.AddHeader("ETag", m_etag);
  if (!m_lastModified.empty()) reply.AddHeader("Last-Modified", m_lastModified);
  reply.Kind = CHttpReply::Body::File;
  if (m_fd < 0 || m_length <= 0) return reply;
  reply.Fd = m_fd;
  m_fd = -1;
  reply.Offset = m_first;
  reply.Length = m_length;
  if (progress) {
    auto shown = std::make_shared<CProgress>(progress, m_size, m_first);
    reply.OnProgress = [shown](int64_t before, int64_t sent) { shown->Advance(before, sent); };
  }
  return reply;
}
