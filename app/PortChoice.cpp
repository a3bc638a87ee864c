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
  // Bind as the web service's listener does (CivetWeb sets SO_REUSEADDR), so that connections of an
  // earlier run still in TIME_WAIT do not make the port look taken; a listening socket still does.
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  bool free = true;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno == EADDRINUSE) free = false;
  ::close(fd);
  return free;
}

std::string ChooseServerPort(PortRange range) {
  for (int i = 0; i < range.Count; ++i) {
    if (ProbePort(range.First + i)) return std::to_string(range.First + i);
  }
  return {};
}
