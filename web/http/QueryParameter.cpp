#include "web/http/QueryParameter.h"

#include "web/http/PercentCodec.h"

void ForEachQueryPair(std::string_view query,
                      const std::function<bool(std::string_view name, std::string_view value)>& pair) {
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    const std::string_view piece = query.substr(start, end - start);
    const size_t eq = piece.find('=');
    const std::string_view value = eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
    if (!pair(piece.substr(0, eq), value)) return;
    start = end + 1;
  }
}

bool QueryParameter(std::string_view query, const std::string& key, std::string& value) {
  bool found = false;
  ForEachQueryPair(query, [&](std::string_view name, std::string_view raw) {
    if (PercentDecoded(name, PlusSign::Blank) != key) return true;
    value = PercentDecoded(raw, PlusSign::Blank);
    found = true;
    return false;
  });
  return found;
}

bool QueryNumber(std::string_view query, const std::string& key, int64_t& value) {
  std::string text;
  if (!QueryParameter(query, key, text) || text.empty() || text.size() > 18) return false;
  int64_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  value = n;
  return true;
}
