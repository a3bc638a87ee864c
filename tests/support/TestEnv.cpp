#include "support/TestEnv.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "app/SharedState.h"
#include "web/WebService.h"

namespace fs = std::filesystem;

namespace marlix_test {

CTempWorkDir::CTempWorkDir() {
  std::string tmpl = (fs::temp_directory_path() / "marlix-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  m_path = tmpl;
  // Programs that the test starts take it as their home as well.
  const char* home = std::getenv("MARLIX_HOME");
  m_hadHome = home != nullptr;
  if (home) m_previousHome = home;
  ::setenv("MARLIX_HOME", m_path.c_str(), 1);
}

CTempWorkDir::~CTempWorkDir() {
  std::error_code ec;
  if (m_hadHome) {
    ::setenv("MARLIX_HOME", m_previousHome.c_str(), 1);
  } else {
    ::unsetenv("MARLIX_HOME");
  }
  fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(m_path, ec);
}

namespace {

void RequireAbsolute(const fs::path& path) {
  if (path.is_relative()) throw std::invalid_argument("relative path in a test: " + path.string());
}

}  // namespace

void WriteFile(const fs::path& path, const std::string& content) {
  RequireAbsolute(path);
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string ReadFile(const fs::path& path) {
  RequireAbsolute(path);
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int FreeLoopbackPort() {
  // Below the ephemeral range, at random: a port the kernel handed out would soon be some other
  // test's outgoing connection, and the caller's program could not bind it.
  std::minstd_rand pick(std::random_device{}());
  for (int tries = 0; tries < 1000; ++tries) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(10000 + pick() % 10000));
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    if (free) return ntohs(addr.sin_port);
  }
  throw std::runtime_error("no free loopback port below 20000");
}

int ConnectLoopback(int port, const std::function<void(int)>& beforeConnect) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (beforeConnect) beforeConnect(fd);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

CTestServer::CTestServer(const std::function<void(CWebService&)>& configure) {
  m_state.Home = m_dir.Path().string();
  m_state.Events.Attach(&m_dialog);
  m_state.LocalAddress.Set("127.0.0.1");
  m_service = std::make_unique<CWebService>(m_state);
  if (configure) configure(*m_service);
  if (!m_service->Start("127.0.0.1:0")) throw std::runtime_error("the web service did not start");
  m_port = m_service->Port();
  m_state.PortText = std::to_string(m_port);
}

CTestServer::~CTestServer() { Stop(); }

std::string CTestServer::WithSecret(const std::string& target) const {
  return marlix_test::WithSecret(m_state.UploadSecret, target);
}

void CTestServer::Stop() {
  if (m_service) m_service->Stop();
}

int ConnectLoopbackFrom(const std::string& source, int port) {
  return ConnectLoopback(port, [&](int s) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &addr.sin_addr);
    ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  });
}

std::string RawRequest(int port, const std::string& request, const std::string& source) {
  const int fd = source.empty() ? ConnectLoopback(port) : ConnectLoopbackFrom(source, port);
  if (fd < 0) return {};
  size_t sent = 0;
  while (sent < request.size()) {
    ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string reply;
  char buf[65536];
  for (;;) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    reply.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return reply;
}

std::string WithoutValidators(const std::string& reply) {
  std::string out = reply;
  const size_t headEnd = out.find("\r\n\r\n");
  for (const char* name : {"\r\nETag: ", "\r\nLast-Modified: "}) {
    const size_t at = out.find(name);
    if (at == std::string::npos || at > headEnd) continue;
    out.erase(at, out.find("\r\n", at + 2) - at);
  }
  return out;
}

void SplitReply(const std::string& reply, std::string& head, std::string& body) {
  const size_t end = reply.find("\r\n\r\n");
  if (end == std::string::npos) {
    head = reply;
    body.clear();
    return;
  }
  head = reply.substr(0, end + 4);
  body = reply.substr(end + 4);
}

std::string InLibraryOrder(const std::string& reply) {
  const size_t headEnd = reply.find("\r\n\r\n");
  const size_t firstEnd = reply.find("\r\n");
  if (headEnd == std::string::npos || firstEnd == headEnd) return reply;
  std::string lines = reply.substr(firstEnd + 2, headEnd + 2 - (firstEnd + 2));
  std::string length;
  if (const size_t at = lines.find("Content-Length: "); at != std::string::npos) {
    const size_t end = lines.find("\r\n", at) + 2;
    length = lines.substr(at, end - at);
    lines.erase(at, end - at);
  }
  return reply.substr(0, firstEnd + 2) + "Connection: close\r\n" + lines + "Referrer-Policy: no-referrer\r\n" + length +
         reply.substr(headEnd + 2);
}

std::string WithSecret(const std::string& secret, const std::string& target) {
  return target + (target.find('?') == std::string::npos ? "?k=" : "&k=") + secret;
}

}  // namespace marlix_test
