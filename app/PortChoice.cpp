#include "app/PortChoice.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

bool ProbePort(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool free = true;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno == EADDRINUSE) free = false;
  ::close(fd);
  return free;
}

std::string ChooseServerPort() {
  for (int i = 0; i <= 10; ++i) {
    if (ProbePort(8081 + i)) return std::to_string(8081 + i);
  }
  return {};
}
