#include "web/send/FileSize.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int64_t FileSize(const std::string& path) {
  // Non-blocking, so that a shared pipe or device cannot hold the worker in open().
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  struct stat st {};
  int64_t size = 0;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = st.st_size;
  ::close(fd);
  return size;
}
