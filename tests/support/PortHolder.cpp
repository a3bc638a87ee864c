#include "support/PortHolder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace marlix_test {

CPortHolder::~CPortHolder() {
  for (int fd : m_fds) ::close(fd);
}

bool CPortHolder::Hold(int port, bool anyAddress) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(anyAddress ? INADDR_ANY : INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    return false;
  }
  m_fds.push_back(fd);
  return true;
}

void CPortHolder::HoldAllServerPorts() {
  for (int round = 0; round < 3; ++round) {
    for (int port = 8081; port <= 8091; ++port) Hold(port);
  }
}

}  // namespace marlix_test
