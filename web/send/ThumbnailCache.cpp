#include "web/send/ThumbnailCache.h"

#include <sys/stat.h>

#include "web/send/Thumbnail.h"

std::string CThumbnailCache::Get(const std::string& path) {
  struct stat st {};
  // A link is never followed: a folder page lists none, and one put in a file's place is refused.
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  const std::string key = path + '\0' + std::to_string(st.st_size) + '\0' + std::to_string(st.st_mtim.tv_sec) + '.' +
                          std::to_string(st.st_mtim.tv_nsec);
  {
    std::lock_guard<std::mutex> lock(m_lock);
    const auto found = m_made.find(key);
    if (found != m_made.end()) return found->second;
  }
  std::string made = MakeThumbnail(path);  // no lock held while decoding
  std::lock_guard<std::mutex> lock(m_lock);
  return m_made.emplace(key, std::move(made)).first->second;
}

void CThumbnailCache::Clear() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_made.clear();
}

CHttpReply ServeThumbnail(CThumbnailCache& cache, const std::string& path) {
  const std::string jpeg = cache.Get(path);
  CHttpReply reply = CHttpReply::Text(jpeg.empty() ? 404 : 200, "image/jpeg", jpeg);
  reply.AddHeader("Cache-Control", "private, max-age=86400");
  reply.AddHeader("Content-Security-Policy", "sandbox");
  reply.AddHeader("X-Content-Type-Options", "nosniff");
  return reply;
}
