#pragma once
// A relay that has hung: a loopback port whose connections the kernel accepts (into the backlog) and
// that never reads or answers. For the tests that closing never waits on it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

class CSilentListener {
 public:
  CSilentListener() {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_fd, 16) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      throw std::runtime_error("silent listener: cannot listen");
    m_port = ntohs(addr.sin_port);
  }
  ~CSilentListener() { ::close(m_fd); }
  CSilentListener(const CSilentListener&) = delete;
  CSilentListener& operator=(const CSilentListener&) = delete;

  std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }

 private:
  int m_fd = -1;
  int m_port = 0;
};
