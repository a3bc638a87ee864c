#include "app/WorkingDirectory.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder of the running executable, or empty.
std::string ExecutableFolder() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  const std::string exe(buffer, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

bool OlderThan(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool WriteAll(int fd, const char* data, size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

// Copies one page file into the home when it is missing there or older than the source. The copy is
// written beside it under a dot-name and renamed over the old one, so a phone never gets half a page;
// it takes the source's modification time. A source that cannot be read is left out.
void CopyPageFile(const std::string& source, const std::string& target) {
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return;
  struct stat src {
  }, dst{};
  if (::fstat(in, &src) != 0 || !S_ISREG(src.st_mode) ||
      (::lstat(target.c_str(), &dst) == 0 && S_ISREG(dst.st_mode) && !OlderThan(dst.st_mtim, src.st_mtim))) {
    ::close(in);
    return;
  }
  const size_t slash = target.rfind('/');
  std::string temp = target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".XXXXXX";
  const int out = ::mkostemp(temp.data(), O_CLOEXEC);
  bool ok = out >= 0;
  char buffer[65536];
  while (ok) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    ok = WriteAll(out, buffer, static_cast<size_t>(got));
  }
  if (ok) {
    const timespec times[2] = {src.st_atim, src.st_mtim};
    ok = ::fchmod(out, 0644) == 0 && ::futimens(out, times) == 0;
  }
  if (out >= 0) ok = ::close(out) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) ::unlink(temp.c_str());
  ::close(in);
}

}  // namespace

const std::vector<std::string>& PageFiles() {
  static const std::vector<std::string> files = {"index.html", "upload.js", "upload.css", "dnd.png", "ban.png"};
  return files;
}

bool IsPageFile(const std::string& name) {
  const std::vector<std::string>& files = PageFiles();
  return std::find(files.begin(), files.end(), name) != files.end();
}

std::string DefaultHomeDirectory(const std::string& userHome) {
  const char* user = userHome.c_str();
  if (!*user) {
    const passwd* pw = ::getpwuid(::getuid());
    user = pw ? pw->pw_dir : nullptr;
  }
  if (!user || !*user) return {};
  std::string folder = user;
  if (folder.back() != '/') folder += '/';
  return folder + "Marlix";
}

std::string FindDataDirectory() {
  const std::string exe = ExecutableFolder();
  if (exe.empty()) return {};
  for (const std::string& candidate : {exe + "/data", exe + "/../share/marlix"})
    if (IsDirectory(candidate)) return candidate;
  return {};
}

std::string PrepareWorkingDirectory(const std::string& home, const std::string& dataDir) {
  if (home.empty()) return "no working directory: neither MARLIX_HOME nor a home folder is known";
  std::error_code ec;
  const std::filesystem::path parent = std::filesystem::path(home).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  if (::mkdir(home.c_str(), 0700) != 0 && errno != EEXIST) return home + ": " + std::strerror(errno);
  if (!IsDirectory(home)) return home + ": not a folder";
  const std::string tmp = home + "/tmp";
  if (::mkdir(tmp.c_str(), 0700) != 0 && errno != EEXIST) return tmp + ": " + std::strerror(errno);
  // Received files are served only from a real folder, never through a link.
  struct stat st {};
  if (::lstat(tmp.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return tmp + ": not a folder";
  if (!dataDir.empty())
    for (const std::string& name : PageFiles()) CopyPageFile(dataDir + "/" + name, home + "/" + name);
  return {};
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::error_code ec;
  const std::filesystem::path cwd = std::filesystem::current_path(ec);
  return ec ? path : (cwd / path).string();
}
