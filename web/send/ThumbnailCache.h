#pragma once
// Thumbnails made once per picture and kept for the life of the share: keyed by path, size and
// modification time, so a changed picture gets a new one. A picture that cannot be decoded is
// remembered as such (an empty thumbnail). Thread-safe; two requests for a picture not yet made
// may both make it.

#include <map>
#include <mutex>
#include <string>

#include "web/http/HttpReply.h"

class CThumbnailCache {
 public:
  // The thumbnail of the picture at path (MakeThumbnail), empty when there is none. `folder` is the
  // shared folder whose page listed it, which it is opened from (OpenBeneath); "" for a picture
  // shared itself.
  std::string Get(const std::string& path, const std::string& folder);
  void Clear();

 private:
  std::mutex m_lock;
  std::map<std::string, std::string> m_made;  // key -> JPEG (or empty)
};

// "/t?t=TOKEN": the cached thumbnail of the picture at `path` (the item the token names), kept by the
// phone for a day; 404 for a picture that cannot be decoded.
CHttpReply ServeThumbnail(CThumbnailCache& cache, const std::string& path, const std::string& folder);
