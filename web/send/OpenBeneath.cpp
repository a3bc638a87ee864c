#include "web/send/OpenBeneath.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

int OpenBeneath(const std::string& folder, const std::string& path, int flags) {
  const std::string prefix = !folder.empty() && folder.back() == '/' ? folder : folder + '/';
  if (folder.empty() || path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) {
    errno = EINVAL;
    return -1;
  }
  int at = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (size_t from = prefix.size(); at >= 0;) {
    const size_t slash = path.find('/', from);
    const bool last = slash == std::string::npos;
    const std::string step = path.substr(from, last ? std::string::npos : slash - from);
    if (step.empty() && !last) {  // a doubled slash, as after a folder named with a slash at its end
      from = slash + 1;
      continue;
    }
    int next = -1;
    if (step.empty() || step == "." || step == "..") {
      errno = EINVAL;
    } else {
      next = ::openat(at, step.c_str(), (last ? flags : O_RDONLY | O_DIRECTORY) | O_NOFOLLOW | O_CLOEXEC);
    }
    const int error = errno;
    ::close(at);
    errno = error;
    if (next < 0 || last) return next;
    at = next;
    from = slash + 1;
  }
  return -1;
}
