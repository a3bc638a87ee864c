#include "web/http/ClientAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

std::string ClientAddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (!address) return {};
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
      ::inet_ntop(AF_INET, &v6->sin6_addr.s6_addr[12], text, sizeof text);
    } else {
      ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    }
  }
  return text;
}

std::string ClientAddressKey(const std::string& text) {
  in6_addr v6{};
  if (text.find(':') == std::string::npos || ::inet_pton(AF_INET6, text.c_str(), &v6) != 1) return text;
  std::memset(&v6.s6_addr[8], 0, 8);
  char network[INET6_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET6, &v6, network, sizeof network);
  return std::string(network) + "/64";
}
