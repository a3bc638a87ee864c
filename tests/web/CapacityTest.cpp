// Many idle or slow clients cannot hold the service, IPv6 clients are served and counted by their /64,
// and the service stops at once with transfers open.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "app/SharedState.h"
#include "support/TestEnv.h"
#include "web/WebService.h"
#include "web/http/ClientAddress.h"
#include "web/http/HttpServer.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

// A connection to ::1 at the port, or -1 where the machine has no IPv6 loopback.
int ConnectIpv6Loopback(int port) {
  const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 addr{};
  addr.sin6_family = AF_INET6;
  addr.sin6_port = htons(static_cast<uint16_t>(port));
  addr.sin6_addr = in6addr_loopback;
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

std::string Exchange(int fd, const std::string& request) {
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string reply;
  char buf[65536];
  for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) reply.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return reply;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

TEST(Capacity, AddressKeysCountIpv6ByItsNetwork) {
  const std::pair<const char*, const char*> cases[] = {
      {"192.168.1.5", "192.168.1.5"},
      {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
      {"2001:db8:1:2::7", "2001:db8:1:2::/64"},
      {"::1", "::/64"},
  };
  for (const auto& [text, key] : cases) EXPECT_EQ(ClientAddressKey(text), key) << text;
  sockaddr_in6 mapped{};
  mapped.sin6_family = AF_INET6;
  ::inet_pton(AF_INET6, "::ffff:10.1.2.3", &mapped.sin6_addr);
  EXPECT_EQ(ClientAddressText(reinterpret_cast<sockaddr*>(&mapped)), "10.1.2.3");
}

TEST(Capacity, BothFamiliesAreServedOnOnePort) {
  SharedState state;
  CTempWorkDir dir;
  WriteFile(dir.Path() / "x.txt", "X");
  state.InsertItem("1A2B3C4D", (dir.Path() / "x.txt").string());
  CWebService service(state);
  ASSERT_TRUE(service.Start("0"));
  const int v6 = ConnectIpv6Loopback(service.Port());
  if (v6 < 0) GTEST_SKIP() << "no IPv6 loopback here";
  EXPECT_TRUE(Exchange(v6, "GET /f?t=1A2B3C4D HTTP/1.0\r\n\r\n").ends_with("\r\n\r\nX"));
  EXPECT_TRUE(RawRequest(service.Port(), "GET /f?t=1A2B3C4D HTTP/1.0\r\n\r\n").ends_with("\r\n\r\nX"));
  service.Stop();
  // Listening on ::1 alone.
  CWebService v6only(state);
  ASSERT_TRUE(v6only.Start("[::1]:0"));
  EXPECT_TRUE(Exchange(ConnectIpv6Loopback(v6only.Port()), "GET /f?t=1A2B3C4D HTTP/1.0\r\n\r\n").ends_with("X"));
}

TEST(Capacity, AThousandTricklingConnectionsLeaveOtherPhonesServed) {
  RaiseOpenFileLimit();
  CTestServer server;
  WriteFile(server.Dir() / "1M.bin", std::string(1 << 20, 'm'));
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "1M.bin").string());
  std::vector<int> idle;
  for (int a = 0; a < 100; ++a) {
    for (int c = 0; c < 10; ++c) {
      const int fd = ConnectLoopbackFrom("127.0.1." + std::to_string(a + 1), server.Port());
      if (fd < 0) continue;
      const std::string start = c < 5 ? "GET /index.html HTTP/1.0\r\nX-Slow: a"
                                      : "POST " + server.WithSecret("/u") +
                                            " HTTP/1.0\r\nContent-Type: multipart/form-data; boundary=b\r\n"
                                            "Content-Length: 100000\r\n\r\n--b\r\n";
      ::send(fd, start.data(), start.size(), MSG_NOSIGNAL);
      idle.push_back(fd);
    }
  }
  const auto begin = std::chrono::steady_clock::now();
  const std::string reply = RawRequest(server.Port(), "GET /f?t=1A2B3C4D HTTP/1.0\r\n\r\n", "127.0.2.1");
  EXPECT_LT(Seconds(begin), 10.0);  // a hang, not a speed: the benchmarks measure speed
  EXPECT_EQ(reply.size() - reply.find("\r\n\r\n") - 4, size_t{1} << 20);
  for (int fd : idle) ::close(fd);
}

TEST(Capacity, StopEndsOpenTransfersAtOnceWithoutConnectingToItself) {
  CTestServer server;
  const fs::path path = server.Dir() / "big.bin";
  const int big = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(::ftruncate(big, off_t{1} << 30), 0);
  ::close(big);
  server.State().InsertItem("1A2B3C4D", path.string());
  std::vector<int> open;
  for (int i = 0; i < 60; ++i) {
    const int fd = ConnectLoopbackFrom("127.0.3." + std::to_string(i / 6 + 1), server.Port());
    const std::string start = i < 10 ? "GET /f?t=1A2B3C4D HTTP/1.0\r\n\r\n" : "GET /index.html HTTP/1.0\r\nX-Slow: a";
    ::send(fd, start.data(), start.size(), MSG_NOSIGNAL);
    open.push_back(fd);
  }
  for (int i = 0; i < 500 && server.State().DownloadCount < 10; ++i) ::usleep(10000);
  EXPECT_EQ(server.State().DownloadCount, 10);
  const auto begin = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(Seconds(begin), 5.0);  // a hang, not a speed
  for (int fd : open) ::close(fd);
}

// The port is the service's alone: a second server (another Marlix) cannot listen on it and take
// some of its connections, while a port whose last connections linger in TIME_WAIT can be taken.
TEST(Capacity, APortInUseCannotBeSharedButALingeringOneCanBeTaken) {
  SharedState state;
  CTempWorkDir dir;
  CWebService first(state);
  ASSERT_TRUE(first.Start("127.0.0.1:0"));
  const std::string port = std::to_string(first.Port());
  EXPECT_TRUE(RawRequest(first.Port(), "GET /index.html HTTP/1.0\r\n\r\n").starts_with("HTTP/1.0 "));
  CWebService second(state);
  EXPECT_FALSE(second.Start("127.0.0.1:" + port));
  first.Stop();
  EXPECT_TRUE(second.Start("127.0.0.1:" + port));
}
