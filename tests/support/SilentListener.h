#pragma once
// A relay that has hung: a loopback port whose connections the kernel accepts (into the backlog) and
// that never reads or answers. Or, made with Trickle, one that answers too slowly ever to finish: it
// takes each connection and sends it one byte of an endless reply head every 100 ms, so that no
// time-out for a stalled transfer ever fires. For the tests that closing never waits on it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class CSilentListener {
 public:
  enum Kind { Silent, Trickle };

  explicit CSilentListener(Kind kind = Silent) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_fd, 16) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      throw std::runtime_error("silent listener: cannot listen");
    m_port = ntohs(addr.sin_port);
    if (kind == Trickle) m_trickler = std::thread([this] { TrickleAll(); });
  }
  ~CSilentListener() {
    m_stop = true;
    if (m_trickler.joinable()) m_trickler.join();
    ::close(m_fd);
  }
  CSilentListener(const CSilentListener&) = delete;
  CSilentListener& operator=(const CSilentListener&) = delete;

  std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }

 private:
  void TrickleAll() {
    static const std::string kHead = "HTTP/1.1 200 OK\r\nX-Wait: ";
    std::vector<std::pair<int, size_t>> peers;  // each connection and the bytes it has been sent
    while (!m_stop) {
      pollfd listener{m_fd, POLLIN, 0};
      if (::poll(&listener, 1, 100) > 0) {
        const int peer = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer >= 0) peers.emplace_back(peer, 0);
      }
      for (auto& [peer, sent] : peers) {
        const char byte = sent < kHead.size() ? kHead[sent] : 'w';
        if (::send(peer, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1) ++sent;
      }
    }
    for (auto& peer : peers) ::close(peer.first);
  }

  int m_fd = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_trickler;
};
