#include "web/ConnectionSocket.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>

int FindConnectionSocket(const mg_connection* conn) {
  const mg_request_info* ri = mg_get_request_info(conn);
  return ri ? FindConnectionSocket(*ri) : -1;
}

int FindConnectionSocket(const mg_request_info& record) {
  const mg_request_info* ri = &record;
  if (ri->is_ssl) return -1;
  in_addr remote{};
  if (::inet_pton(AF_INET, ri->remote_addr, &remote) != 1) return -1;
  const uint16_t remotePort = htons(static_cast<uint16_t>(ri->remote_port));
  const uint16_t serverPort = htons(static_cast<uint16_t>(ri->server_port));

  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return -1;
  const int own = ::dirfd(dir);
  int found = -1;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    const int fd = std::atoi(entry->d_name);
    if (fd == own) continue;
    sockaddr_in peer{}, local{};
    socklen_t peerLen = sizeof peer, localLen = sizeof local;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0 || peer.sin_family != AF_INET) continue;
    if (peer.sin_port != remotePort || peer.sin_addr.s_addr != remote.s_addr) continue;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLen) != 0 || local.sin_port != serverPort)
      continue;
    found = fd;
    break;
  }
  ::closedir(dir);
  return found;
}
