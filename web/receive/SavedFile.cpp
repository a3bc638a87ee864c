#include "web/receive/SavedFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "web/receive/UploadName.h"

namespace {

constexpr int kMaxNumber = 1000000;
constexpr char kHiddenPrefix[] = ".upload-";

// Copies the whole of `in` to `out`. 0 or an errno.
int CopyAll(int in, int out) {
  struct stat st {};
  if (::fstat(in, &st) != 0) return errno;
  off_t offset = 0;
  while (offset < st.st_size) {
    const ssize_t n = ::sendfile(out, in, &offset, static_cast<size_t>(st.st_size - offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
  }
  return 0;
}

}  // namespace

int TakeFreeName(const std::string& folder, const std::string& sent, const std::function<int(const std::string&)>& take,
                 std::string& path) {
  const std::string name = SafeUploadName(sent);
  if (name.empty()) return EINVAL;
  for (int n = -1; n < kMaxNumber; ++n) {
    path = folder + "/" + NumberedUploadName(name, n);
    const int result = take(path);
    if (result != EEXIST) return result;
  }
  return EEXIST;
}

int CreateSavedFile(const std::string& folder, const std::string& sent, std::string& path) {
  int fd = -1;
  const int result = TakeFreeName(
      folder, sent,
      [&fd](const std::string& candidate) {
        fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        return fd >= 0 ? 0 : errno;
      },
      path);
  errno = result;
  return result == 0 ? fd : -1;
}

int MoveToSavedFile(const std::string& from, const std::string& folder, const std::string& sent, std::string& path) {
  const int moved = TakeFreeName(
      folder, sent,
      [&from](const std::string& candidate) {
        return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
      },
      path);
  if (moved != EXDEV && moved != EINVAL && moved != ENOSYS) return moved;
  // Another file system (or one without an exclusive rename): a new file, then the bytes.
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  const int out = CreateSavedFile(folder, sent, path);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    return error;
  }
  int result = CopyAll(in, out);
  ::close(in);
  if (::close(out) != 0 && result == 0) result = errno;
  if (result != 0) {
    ::unlink(path.c_str());
    return result;
  }
  ::unlink(from.c_str());
  return 0;
}

int CreateHiddenFile(const std::string& folder, std::string& path) {
  std::string name = folder + "/" + kHiddenPrefix + "XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) path = name;
  return fd;
}

void RemoveHiddenFiles(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir))
    if (std::strncmp(entry->d_name, kHiddenPrefix, sizeof kHiddenPrefix - 1) == 0) names.emplace_back(entry->d_name);
  ::closedir(dir);
  for (const std::string& name : names) ::unlink((folder + "/" + name).c_str());
}
