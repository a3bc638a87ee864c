#include "support/PortHolder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace marlix_test {

CPortHolder::~CPortHolder() {
  for (const auto& [port, fd] : m_fds) ::close(fd);
}

bool CPortHolder::Hold(int port, bool anyAddress) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(anyAddress ? INADDR_ANY : INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    return false;
  }
  m_fds.emplace(port, fd);
  return true;
}

void CPortHolder::Release(int port) {
  const auto [from, to] = m_fds.equal_range(port);
  for (auto it = from; it != to; ++it) ::close(it->second);
  m_fds.erase(from, to);
}

PortRange CPortHolder::HoldRange(int count) {
  // Start where this process's number points, so that test programs running side by side seldom meet.
  const int span = 30000 - 20000;
  for (int tried = 0, first = 20000 + (::getpid() * count) % span; tried < span; tried += count) {
    if (first + count > 30000) first = 20000;
    int held = 0;
    while (held < count && Hold(first + held)) ++held;
    if (held == count) return {first, count};
    for (int i = 0; i < held; ++i) Release(first + i);
    first += held + 1;
  }
  return {0, 0};
}

void CPortHolder::HoldAllServerPorts() {
  for (int round = 0; round < 3; ++round) {
    for (int port = kServerPorts.First; port < kServerPorts.First + kServerPorts.Count; ++port) Hold(port);
  }
}

}  // namespace marlix_test
