#include "web/StreamFile.h"

#include <civetweb.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "app/SharedState.h"
#include "web/ConnectionSocket.h"
#include "web/WebServer.h"

namespace {

// Positions are those of a copy in 4096-byte pieces; the file itself moves in larger blocks.
constexpr int64_t kPiece = 4096;
constexpr int64_t kBlock = 64 * kPiece;
// From this size on the kernel moves the file to the socket itself (sendfile), which saves a copy of
// every byte; smaller files are not worth finding the socket for.
constexpr int64_t kKernelCopyMin = 1 << 20;
constexpr int64_t kKernelBlock = 1024 * kPiece;
// How long a phone may keep the socket full before the transfer is given up: the request time-out.
constexpr int kStallLimitMs = 30000;

// Sends the progress bar the whole percent sent after every 4096-byte piece that a block completed,
// and after the block's own end, each position only when it changes.
class CProgress {
 public:
  CProgress(CMainDialogView* dialog, int64_t size) : m_dialog(dialog), m_size(size) {}
  void Advance(int64_t before, int64_t sent) {
    if (!m_dialog) return;
    for (int64_t mark = (before / kPiece + 1) * kPiece; mark <= sent; mark += kPiece) Report(mark);
    Report(sent);
  }

 private:
  void Report(int64_t sent) {
    const int pos = static_cast<int>(static_cast<double>(sent) / static_cast<double>(m_size) * 100.0);
    if (pos != m_lastPos) m_dialog->SetProgressPos(m_lastPos = pos);
  }
  CMainDialogView* m_dialog;
  int64_t m_size;
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

// The kernel copy; returns the bytes sent, or -1 when sendfile cannot be used for this file at all.
int64_t SendByKernel(int sock, int fd, int64_t size, CProgress& progress) {
  off_t offset = 0;
  while (offset < size) {
    const off_t before = offset;
    const ssize_t n =
        ::sendfile(sock, fd, &offset, static_cast<size_t>(std::min<int64_t>(kKernelBlock, size - offset)));
    if (n > 0) {
      progress.Advance(before, offset);
      continue;
    }
    if (n == 0) break;  // the file has become shorter
    if (errno == EINTR) continue;
    if ((errno == EINVAL || errno == ENOSYS) && offset == 0) return -1;
    if (errno != EAGAIN || !WaitWritable(sock)) break;
  }
  return offset;
}

void SendByCopy(mg_connection* conn, int fd, int64_t size, CProgress& progress) {
  // One block per worker thread, kept for the thread's life: a fresh 256 KiB allocation per request
  // would be mapped and faulted in anew every time.
  thread_local std::unique_ptr<char[]> buffer(new char[kBlock]);
  int64_t sent = 0;
  while (sent < size) {
    const ssize_t got = ::read(fd, buffer.get(), static_cast<size_t>(std::min(kBlock, size - sent)));
    if (got < 1) break;
    // The phone has gone or the service is stopping: the rest would go nowhere.
    if (mg_write(conn, buffer.get(), static_cast<size_t>(got)) <= 0) break;
    const int64_t before = sent;
    sent += got;
    progress.Advance(before, sent);
  }
}

}  // namespace

void StreamFile(mg_connection* conn, const std::string& path, int64_t size, bool withProgress) {
  if (size <= 0) return;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  CProgress progress(withProgress ? g_State.MainDialog : nullptr, size);
  const int sock = size >= kKernelCopyMin ? FindConnectionSocket(conn) : -1;
  if (sock < 0 || SendByKernel(sock, fd, size, progress) < 0) SendByCopy(conn, fd, size, progress);
  ::close(fd);
}
