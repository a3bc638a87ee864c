#include "web/SocketDelivered.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>

int64_t SocketBytesDelivered(int socket) {
  tcp_info info{};
  socklen_t size = sizeof info;
  if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return -1;
  // Kernels before 4.1 fill less of the record and have no count.
  if (size < offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked) return -1;
  return static_cast<int64_t>(info.tcpi_bytes_acked);
}
