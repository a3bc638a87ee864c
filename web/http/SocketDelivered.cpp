#include "web/http/SocketDelivered.h"

#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
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

// The kernel's state of a connection that has ended (reset, or closed at both ends): tcp_states.h,
// which user space has only through <netinet/tcp.h>, at odds with <linux/tcp.h>.
constexpr int kTcpClosed = 7;

int64_t SocketBytesUnacknowledged(int socket) {
  tcp_info info{};
  socklen_t size = sizeof info;
  int queued = 0;
  if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 || ::ioctl(socket, SIOCOUTQ, &queued) != 0)
    return -1;
  // A connection closed at both ends had everything acknowledged first; one reset keeps the rest.
  return info.tcpi_state == kTcpClosed && queued > 0 ? -1 : queued;
}
