#include "web/UploadStall.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "web/ConnectionSocket.h"

namespace {

std::mutex g_lock;        // guards the two below; a socket is shut only while it is listed
std::set<int> g_watched;  // sockets of uploads in progress
bool g_watching = false;  // the watch thread runs
std::atomic<int> g_limitMs{kUploadStallLimitMs};

// Milliseconds since the kernel last received data on the socket.
unsigned SilentFor(int sock) {
  tcp_info info{};
  socklen_t length = sizeof info;
  if (::getsockopt(sock, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return 0;
  return info.tcpi_last_data_recv;
}

// Runs while uploads are watched; ends when the last one has gone.
void Watch() {
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_watched.empty()) {
      g_watching = false;
      return;
    }
    for (int sock : g_watched)
      if (SilentFor(sock) >= static_cast<unsigned>(g_limitMs.load())) ::shutdown(sock, SHUT_RDWR);
  }
}

}  // namespace

CUploadStallWatch::CUploadStallWatch(const mg_connection* conn) : m_socket(FindConnectionSocket(conn)) {
  if (m_socket < 0) return;
  std::lock_guard<std::mutex> lock(g_lock);
  g_watched.insert(m_socket);
  if (!g_watching) {
    g_watching = true;
    std::thread(&Watch).detach();
  }
}

CUploadStallWatch::~CUploadStallWatch() {
  if (m_socket < 0) return;
  std::lock_guard<std::mutex> lock(g_lock);
  g_watched.erase(m_socket);
}

void SetUploadStallLimit(int ms) { g_limitMs = ms > 0 ? ms : kUploadStallLimitMs; }
