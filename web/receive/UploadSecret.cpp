#include "web/receive/UploadSecret.h"

#include "web/http/QueryParameter.h"

namespace {

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace

bool QueryHasUploadSecret(const std::string& query, const std::string& secret) {
  if (secret.empty()) return false;
  // Every "k" is compared, so that the time taken does not tell which one came close.
  bool found = false;
  ForEachQueryPair(query, [&](std::string_view name, std::string_view value) {
    if (name == "k") found = SameText(value, secret) || found;
    return true;
  });
  return found;
}
