#include "web/receive/UploadSecret.h"

namespace {

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace

bool QueryHasUploadSecret(const std::string& query, const std::string& secret) {
  if (secret.empty()) return false;
  bool found = false;
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string pair = query.substr(start, end - start);
    if (pair.rfind("k=", 0) == 0) found = SameText(pair.substr(2), secret) || found;
    start = end + 1;
  }
  return found;
}
