#include "web/send/ThumbnailCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "web/send/OpenBeneath.h"
#include "web/send/Thumbnail.h"

std::string CThumbnailCache::Get(const std::string& path, const std::string& folder) {
  // A link is never followed: a folder page lists none, and one put in the place of the file, or of
  // a folder on its way, since the page was listed is refused.
  const int fd = folder.empty() ? ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                                : OpenBeneath(folder, path, O_RDONLY | O_NONBLOCK);
  if (fd < 0) return {};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return {};
  }
  const std::string key = path + '\0' + std::to_string(st.st_size) + '\0' + std::to_string(st.st_mtim.tv_sec) + '.' +
                          std::to_string(st.st_mtim.tv_nsec);
  {
    std::lock_guard<std::mutex> lock(m_lock);
    const auto found = m_made.find(key);
    if (found != m_made.end()) {
      ::close(fd);
      return found->second;
    }
  }
  std::string made = MakeThumbnailOf(fd);  // no lock held while decoding
  ::close(fd);
  std::lock_guard<std::mutex> lock(m_lock);
  return m_made.emplace(key, std::move(made)).first->second;
}

void CThumbnailCache::Clear() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_made.clear();
}

CHttpReply ServeThumbnail(CThumbnailCache& cache, const std::string& path, const std::string& folder) {
  const std::string jpeg = cache.Get(path, folder);
  CHttpReply reply = CHttpReply::Text(jpeg.empty() ? 404 : 200, "image/jpeg", jpeg);
  reply.AddHeader("Cache-Control", "private, max-age=86400");
  reply.AddHeader("Content-Security-Policy", "sandbox");
  reply.AddHeader("X-Content-Type-Options", "nosniff");
  return reply;
}
