// One address cannot hold the service: connections that trickle their header or body hold at most a
// few workers, and phones at other addresses are served meanwhile.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>
#include <vector>

#include "app/SharedState.h"
#include "support/TestEnv.h"

using namespace marlix_test;

TEST(SlowClients, TricklingHeadersAndBodiesFromOneAddressDoNotStopOtherPhones) {
  CTestServer server;
  WriteFile(server.Dir() / "x.txt", "X");
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "x.txt").string());
  std::vector<int> slow;
  const std::string body =
      "POST /u HTTP/1.0\r\nContent-Type: multipart/form-data; boundary=b\r\n"
      "Content-Length: 1000000\r\n\r\n--b\r\nContent-Disposition: form-data; name=\"f\"; "
      "filename=\"t.bin\"\r\n\r\n";
  for (int i = 0; i < 60; ++i) {
    const int fd = ConnectLoopbackFrom("127.0.0.2", server.Port());
    ASSERT_GE(fd, 0);
    const std::string start = i < 40 ? std::string("GET /index.html HTTP/1.0\r\nX-Slow: ") : body;
    ::send(fd, start.data(), start.size(), MSG_NOSIGNAL);
    slow.push_back(fd);
  }
  // A byte every 300 ms on each: none of them ever stalls long enough to time out.
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    while (!done) {
      for (int fd : slow) ::send(fd, "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  });
  std::this_thread::sleep_for(std::chrono::seconds(1));

  for (const char* phone : {"127.0.0.3", "127.0.0.4"}) {
    std::future<std::string> reply = std::async(
        std::launch::async, [&] { return RawRequest(server.Port(), "GET /f?t=1A2B3C4D HTTP/1.0\r\n\r\n", phone); });
    if (reply.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
      ADD_FAILURE() << phone << " was not served within 2 s";
      for (int fd : slow) ::shutdown(fd, SHUT_RDWR);  // lets the service go on, so the test ends
    }
    EXPECT_TRUE(reply.get().ends_with("\r\n\r\nX")) << phone;
  }
  // The ones past the cap were answered at once as busy and closed.
  int dismissed = 0;
  for (int fd : slow) {
    char buf[256];
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0 && std::string(buf, static_cast<size_t>(n)).starts_with("HTTP/1.0 503")) ++dismissed;
  }
  EXPECT_GE(dismissed, 40);
  done = true;
  trickle.join();
  for (int fd : slow) ::close(fd);
}

TEST(SlowClients, AnUploadThatBringsNoNewByteIsEndedAndLeavesNothing) {
  CTestServer server([](CWebService& s) { s.ServerOptions().IdleLimitMs = 2000; });  // 30 s in use
  const std::filesystem::path tmp = server.Dir() / "tmp";
  std::filesystem::create_directory(tmp);
  const int fd = ConnectLoopbackFrom("127.0.0.2", server.Port());
  ASSERT_GE(fd, 0);
  const std::string start = "POST " + server.WithSecret("/u") +
                            " HTTP/1.0\r\nContent-Type: multipart/form-data; boundary=b\r\n"
                            "Content-Length: 1000000\r\n\r\n--b\r\nContent-Disposition: form-data; name=\"f\"; "
                            "filename=\"stalled.bin\"\r\n\r\n" +
                            std::string(100000, 's');
  ::send(fd, start.data(), start.size(), MSG_NOSIGNAL);
  // The service ends the request on its own after the silence; the phone sees the end.
  const timeval limit{20, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  const auto begin = std::chrono::steady_clock::now();
  char buf[4096];
  while (::recv(fd, buf, sizeof buf, 0) > 0) {
  }
  const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_GT(waited, 1.0);
  EXPECT_LT(waited, 19.0);
  for (int i = 0; i < 100 && std::filesystem::exists(tmp / "stalled.bin"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(std::filesystem::exists(tmp / "stalled.bin"));
  ::close(fd);
}

// A browser opens up to six connections to one host and, with keep-alive off, a new one for each
// request (a folder page's thumbnails): however fast they follow each other, none is refused as busy.
TEST(SlowClients, SixConnectionsOneRequestEachAreNeverTakenForMoreThanTheCap) {
  CTestServer server;
  WriteFile(server.Dir() / "x.txt", std::string(100 << 10, 'x'));
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "x.txt").string());
  std::atomic<int> refused{0}, served{0};
  std::vector<std::thread> browser;
  for (int c = 0; c < 6; ++c) {
    browser.emplace_back([&] {
      for (int i = 0; i < 150; ++i) {
        const std::string reply =
            RawRequest(server.Port(), "GET /f?t=1A2B3C4D HTTP/1.1\r\nHost: x\r\n\r\n", "127.0.0.2");
        ++(reply.starts_with("HTTP/1.0 200") ? served : refused);
      }
    });
  }
  for (std::thread& t : browser) t.join();
  EXPECT_EQ(refused.load(), 0);
  EXPECT_EQ(served.load(), 900);
}
