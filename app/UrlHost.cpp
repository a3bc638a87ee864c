#include "app/UrlHost.h"

std::string UrlHost(const std::string& address) {
  if (address.find(':') == std::string::npos) return address;
  // A link-local address's zone is written "%25" in a link.
  std::string host = "[";
  for (const char c : address) host += c == '%' ? std::string("%25") : std::string(1, c);
  return host + "]";
}
