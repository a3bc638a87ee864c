#include "web/StreamFile.h"

#include <civetweb.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <memory>

#include "app/SharedState.h"
#include "web/ConnectionSocket.h"
#include "web/WebServer.h"

namespace {

// Positions are those of a copy in 4096-byte pieces; the file itself moves in larger blocks.
constexpr int64_t kPiece = 4096;
constexpr int64_t kBlock = 64 * kPiece;
// From this size on the kernel moves the file to the socket itself (sendfile), which saves a copy of
// every byte; smaller pieces are not worth finding the socket for.
constexpr int64_t kKernelCopyMin = 1 << 20;
constexpr int64_t kKernelBlock = 1024 * kPiece;
// How long a phone may keep the socket full before the transfer is given up: the request time-out.
constexpr int kStallLimitMs = 30000;

// Sends the progress bar the whole percent of the file reached after every 4096-byte piece of the
// range that a block completed, and after the block's own end, each position only when it changes.
class CProgress {
 public:
  CProgress(CMainDialogView* dialog, int64_t size, int64_t first) : m_dialog(dialog), m_size(size), m_first(first) {}
  void Advance(int64_t before, int64_t sent) {
    if (!m_dialog) return;
    for (int64_t mark = (before / kPiece + 1) * kPiece; mark <= sent; mark += kPiece) Report(mark);
    Report(sent);
  }

 private:
  void Report(int64_t sent) {
    const double reached = static_cast<double>(m_first + sent);
    const int pos = static_cast<int>(reached / static_cast<double>(m_size) * 100.0);
    if (pos != m_lastPos) m_dialog->SetProgressPos(m_lastPos = pos);
  }
  CMainDialogView* m_dialog;
  int64_t m_size;
  int64_t m_first;
  int m_lastPos = -1;
};

// Waits until the socket takes more data; false when the phone stalls too long, the connection
// fails or the service is stopping.
bool WaitWritable(int sock) {
  for (int waited = 0; waited < kStallLimitMs; waited += 100) {
    if (WebServiceStopping()) return false;
    pollfd p{sock, POLLOUT, 0};
    const int ready = ::poll(&p, 1, 100);
    if (ready < 0 && errno != EINTR) return false;
    if (ready > 0) return (p.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0;
  }
  return false;
}

// The kernel copy of `length` bytes from `first`; false when sendfile cannot be used for this file
// at all (nothing was sent then).
bool SendByKernel(int sock, int fd, int64_t first, int64_t length, CProgress& progress) {
  off_t offset = first;
  const int64_t end = first + length;
  while (offset < end) {
    const off_t before = offset;
    const ssize_t n = ::sendfile(sock, fd, &offset, static_cast<size_t>(std::min<int64_t>(kKernelBlock, end - offset)));
    if (n > 0) {
      progress.Advance(before - first, offset - first);
      continue;
    }
    if (n == 0) break;  // the file has become shorter
    if (errno == EINTR) continue;
    if ((errno == EINVAL || errno == ENOSYS) && offset == first) return false;
    if (errno != EAGAIN || !WaitWritable(sock)) break;
  }
  return true;
}

void SendByCopy(mg_connection* conn, int fd, int64_t first, int64_t length, CProgress& progress) {
  // One block per worker thread, kept for the thread's life: a fresh 256 KiB allocation per request
  // would be mapped and faulted in anew every time.
  thread_local std::unique_ptr<char[]> buffer(new char[kBlock]);
  int64_t sent = 0;
  while (sent < length) {
    const ssize_t got = ::pread(fd, buffer.get(), static_cast<size_t>(std::min(kBlock, length - sent)), first + sent);
    if (got < 1) break;
    // The phone has gone or the service is stopping: the rest would go nowhere.
    if (mg_write(conn, buffer.get(), static_cast<size_t>(got)) <= 0) break;
    const int64_t before = sent;
    sent += got;
    progress.Advance(before, sent);
  }
}

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

CFileReply::CFileReply(mg_connection* conn, const std::string& path)
    // Non-blocking, so that a shared pipe or device cannot hold the worker in open().
    : CFileReply(conn, ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {}

CFileReply::CFileReply(mg_connection* conn, int fd) : m_conn(conn), m_fd(fd) {
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
  Decide(conn);
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

void CFileReply::Decide(mg_connection* conn) {
  // Without a file there is nothing to take a part of: the empty reply of old.
  const char* range = conn && m_fd >= 0 ? mg_get_header(conn, "Range") : nullptr;
  // A Range under If-Range holds only while the file is the version the client already has part of:
  // the same strong ETag, or exactly the same date. Otherwise the whole new file is sent.
  if (const char* ifRange = range ? mg_get_header(conn, "If-Range") : nullptr) {
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

void CFileReply::SendHead(const std::string& headers) {
  std::string head;
  char line[160] = {};
  switch (m_range.kind) {
    case ByteRange::Part:
      head = "HTTP/1.0 206 Partial Content\r\n" + headers;
      std::snprintf(line, sizeof line,
                    "Content-Length: %" PRId64 "\r\nAccept-Ranges: bytes\r\nContent-Range: bytes %" PRId64 "-%" PRId64
                    "/%" PRId64 "\r\n",
                    m_length, m_range.first, m_range.last, m_size);
      break;
    case ByteRange::Unsatisfiable:
      head = "HTTP/1.0 416 Range Not Satisfiable\r\n" + headers;
      std::snprintf(line, sizeof line,
                    "Content-Length: 0\r\nAccept-Ranges: bytes\r\nContent-Range: bytes */%" PRId64 "\r\n", m_size);
      break;
    case ByteRange::Whole:
      head = "HTTP/1.0 200 OK\r\n" + headers;
      std::snprintf(line, sizeof line, "Content-Length: %" PRId64 "\r\n%s", m_length,
                    m_fd >= 0 ? "Accept-Ranges: bytes\r\n" : "");
      break;
  }
  head += line;
  if (!m_etag.empty()) head += "ETag: " + m_etag + "\r\n";
  if (!m_lastModified.empty()) head += "Last-Modified: " + m_lastModified + "\r\n";
  head += "\r\n";
  mg_write(m_conn, head.data(), head.size());
}

void CFileReply::SendBody(bool withProgress) {
  if (m_fd < 0 || m_length <= 0) return;
  CProgress progress(withProgress ? g_State.MainDialog : nullptr, m_size, m_first);
  const int sock = m_length >= kKernelCopyMin ? FindConnectionSocket(m_conn) : -1;
  if (sock < 0 || !SendByKernel(sock, m_fd, m_first, m_length, progress))
    SendByCopy(m_conn, m_fd, m_first, m_length, progress);
}
