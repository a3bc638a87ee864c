#include "web/receive/RequestOrigin.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// "host[:port]" with the host in lower case and the port made explicit (80 when none is given);
// empty when the text is no authority (an empty host, or a port that is not digits).
std::string Authority(const std::string& text) {
  const size_t close = text.rfind(']');
  const size_t colon = text.rfind(':');
  std::string host = text, port = "80";
  if (colon != std::string::npos && (close == std::string::npos || colon > close)) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  if (host.empty() || port.empty() || port.size() > 5 ||
      !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
    return {};
  return Lower(host) + ":" + std::to_string(std::stoi(port));
}

// The authority of an "http://authority[/...]" address; empty for any other scheme or form.
std::string HttpAuthority(const std::string& address) {
  const std::string scheme = "http://";
  if (Lower(address.substr(0, scheme.size())) != scheme) return {};
  const std::string rest = address.substr(scheme.size());
  const std::string authority = rest.substr(0, rest.find_first_of("/?#"));
  if (authority.find('@') != std::string::npos) return {};
  return Authority(authority);
}

}  // namespace

bool IsCrossSiteWrite(const std::string& origin, const std::string& referer, const std::string& host) {
  const std::string& from = !origin.empty() ? origin : referer;
  if (from.empty()) return false;
  const std::string own = Authority(host);
  const std::string theirs = HttpAuthority(from);
  return own.empty() || theirs.empty() || own != theirs;
}
