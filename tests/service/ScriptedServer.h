#pragma once
// A one-connection-at-a-time HTTP server on a loopback port for the client tests: it records each
// request byte for byte (head, and the body up to its Content-Length) and answers with the reply that
// its script gives for the request head.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/TestEnv.h"

class CScriptedServer {
 public:
  using Script = std::function<std::string(const std::string& head)>;

  explicit CScriptedServer(Script script) : m_script(std::move(script)) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listener, 16) != 0) {
      throw std::runtime_error("scripted server: cannot listen");
    }
    socklen_t len = sizeof addr;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { Run(); });
  }

  ~CScriptedServer() {
    m_stop = true;
    Release();
    m_thread.join();
    ::close(m_listener);
  }

  int Port() const { return m_port; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }

  // While held, a request's body is not read past its head, so the client's sends block.
  void Hold() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_hold = true;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_hold = false;
    m_changed.notify_all();
  }

  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_requests;
  }
  // Waits until n requests have been recorded whole.
  bool WaitRequests(size_t n, int timeoutMs = 10000) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_requests.size() >= n; });
  }
  // Waits until a connection has sent its head (used with Hold).
  bool WaitHead(int timeoutMs = 10000) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_heads > 0; });
  }

 private:
  void Run() {
    while (!m_stop) {
      pollfd p{m_listener, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Serve(fd);
      ::close(fd);
    }
  }

  void Serve(int fd) {
    std::string data;
    char buf[65536];
    size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return;
      data.append(buf, static_cast<size_t>(n));
    }
    const std::string head = data.substr(0, headEnd + 4);
    // A client that waits for leave to send its body gets it, as from any server.
    if (strcasestr(head.c_str(), "\r\nExpect: 100-continue\r\n"))
      ::send(fd, "HTTP/1.1 100 Continue\r\n\r\n", 25, MSG_NOSIGNAL);
    {
      std::unique_lock<std::mutex> lock(m_lock);
      ++m_heads;
      m_changed.notify_all();
      m_changed.wait(lock, [&] { return !m_hold; });
    }
    size_t length = 0;
    const size_t at = head.find("Content-Length:");
    if (at != std::string::npos) length = std::strtoull(head.c_str() + at + 15, nullptr, 10);
    while (data.size() < headEnd + 4 + length) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      data.append(buf, static_cast<size_t>(n));
    }
    const std::string reply = m_script(head);
    size_t sent = 0;
    while (sent < reply.size()) {
      const ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    while (::recv(fd, buf, sizeof buf, 0) > 0) {
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_requests.push_back(data);
    m_changed.notify_all();
  }

  Script m_script;
  int m_listener = -1;
  int m_port = 0;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::mutex m_lock;
  std::condition_variable m_changed;
  bool m_hold = false;
  int m_heads = 0;
  std::vector<std::string> m_requests;
};

// A reply with the given extra header lines (each ending in CR LF) and body.
inline std::string HttpReply(const std::string& body, const std::string& headers = {}, int status = 200) {
  return "HTTP/1.1 " + std::to_string(status) + " X\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

// A loopback port that refuses connections.
inline int RefusingPort() { return marlix_test::FreeLoopbackPort(); }
