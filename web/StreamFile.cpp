#include "web/StreamFile.h"

#include <civetweb.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "app/SharedState.h"

namespace {

// Positions are those of a copy in 4096-byte pieces; the file itself moves in larger blocks.
constexpr int64_t kPiece = 4096;
constexpr int64_t kBlock = 64 * kPiece;

int PiecePosition(int64_t sent, int64_t size) {
  return static_cast<int>(static_cast<double>(sent) / static_cast<double>(size) * 100.0);
}

}  // namespace

void StreamFile(mg_connection* conn, const std::string& path, int64_t size, bool withProgress) {
  if (size <= 0) return;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  std::unique_ptr<char[]> buffer(new char[kBlock]);
  CMainDialogView* dialog = withProgress ? g_State.MainDialog : nullptr;
  int lastPos = -1;
  int64_t sent = 0;
  while (sent < size) {
    const ssize_t got = ::read(fd, buffer.get(), static_cast<size_t>(std::min(kBlock, size - sent)));
    if (got < 1) break;
    // The phone has gone or the service is stopping: the rest would go nowhere.
    if (mg_write(conn, buffer.get(), static_cast<size_t>(got)) <= 0) break;
    const int64_t before = sent;
    sent += got;
    if (!dialog) continue;
    // Every 4096-byte boundary passed by this block, and the block's end.
    for (int64_t mark = (before / kPiece + 1) * kPiece; mark <= sent; mark += kPiece) {
      const int pos = PiecePosition(mark, size);
      if (pos != lastPos) dialog->SetProgressPos(lastPos = pos);
    }
    const int pos = PiecePosition(sent, size);
    if (pos != lastPos) dialog->SetProgressPos(lastPos = pos);
  }
  ::close(fd);
}
