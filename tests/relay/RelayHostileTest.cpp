// Upload bodies that break the framing's rules, clients that vanish, and the relay program itself.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

#include "RelayTestEnv.h"
#include "TestCa.h"
#include "service/ServiceSession.h"

namespace {

std::string BigEndian(uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
}

std::string Body(const std::string& token, const std::string& name, const std::string& content) {
  return RelayFrame(token, name, content);
}

// Sends an upload request with the declared length and whatever body is given, ends its side of the
// connection, and returns the reply.
std::string Upload(int port, const std::string& body, size_t contentLength) {
  const std::string request = "POST /upload HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(contentLength) +
                              "\r\nConnection: close\r\n\r\n" + body;
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    ::shutdown(fd, SHUT_WR);
    char buf[4096];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) reply.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return reply;
}

std::string Upload(int port, const std::string& body) { return Upload(port, body, body.size()); }

std::string StatusLine(const std::string& reply) { return reply.substr(0, reply.find("\r\n")); }

}  // namespace

TEST_F(RelayTest, HostileBodiesGetABadRequestAndNothingIsStored) {
  StartRelay(600000, 4096);
  const std::vector<std::pair<std::string, std::string>> bodies = {
      {"token length beyond the body", BigEndian(0x7FFFFFFF) + "ABCD"},
      {"token with a path", Body("../../x", "a.txt", "abc")},
      {"empty token", Body("", "a.txt", "abc")},
      {"name with a slash", Body("0000BAD1AAAAAAAAAAAAAA", "../evil.txt", "abc")},
      {"name with a backslash", Body("0000BAD2AAAAAAAAAAAAAA", "..\\evil.txt", "abc")},
      {"name with a control character", Body("0000BAD3AAAAAAAAAAAAAA", "a\nb.txt", "abc")},
      {"dot-dot name", Body("0000BAD4AAAAAAAAAAAAAA", "..", "abc")},
      {"empty name", Body("0000BAD5AAAAAAAAAAAAAA", "", "abc")},
      {"name length beyond the body", BigEndian(8) + "0000BAD6AAAAAAAAAAAAAA" + BigEndian(1 << 30) + "abc"},
      {"size beyond the body",
       BigEndian(8) + "0000BAD7AAAAAAAAAAAAAA" + BigEndian(5) + "a.txt" + BigEndian(1000) + "abc"},
      {"bytes after the content", Body("0000BAD8AAAAAAAAAAAAAA", "a.txt", "abc") + "trailing"},
      {"shorter than the fields", "\0\0"},
  };
  for (const auto& [what, body] : bodies) {
    EXPECT_EQ(StatusLine(Upload(m_port, body)), "HTTP/1.1 400 Bad Request") << what;
  }
  // A declared body beyond the maximum is refused before it is read.
  EXPECT_EQ(StatusLine(Upload(m_port, "", 5000)), "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(StatusLine(Upload(m_port, Body("0000BAD9AAAAAAAAAAAAAA", "a.txt", std::string(5000, 'x')))),
            "HTTP/1.1 400 Bad Request");

  EXPECT_EQ(StoredFiles(), 0u);
  EXPECT_EQ(m_relay.StoredCount(), 0);
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "evil.txt"));
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path().parent_path() / "evil.txt"));

  // A sound upload still goes through, and a second one under the same token does not replace it.
  EXPECT_EQ(StatusLine(Upload(m_port, Body("0000600DAAAAAAAAAAAAAA", "good.txt", "abc"))), "HTTP/1.1 200 OK");
  EXPECT_EQ(StatusLine(Upload(m_port, Body("0000600DAAAAAAAAAAAAAA", "other.txt", "xyz"))), "HTTP/1.1 409 Conflict");
  EXPECT_EQ(HttpGet(Base() + "/q?t=0000600DAAAAAAAAAAAAAA").Body, "abc");
}

TEST_F(RelayTest, AClientThatVanishesMidUploadLeavesNothingBehind) {
  StartRelay();
  const std::string full = Body("0000F00DAAAAAAAAAAAAAA", "half.bin", std::string(100000, 'h'));
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(m_port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const std::string partial =
      "POST /upload HTTP/1.1\r\nContent-Length: " + std::to_string(full.size()) + "\r\n\r\n" + full.substr(0, 40000);
  ASSERT_EQ(::send(fd, partial.data(), partial.size(), MSG_NOSIGNAL), static_cast<ssize_t>(partial.size()));
  ASSERT_TRUE(Eventually([&] { return StoredFiles() == 1; }));  // the part being received
  ::close(fd);

  ASSERT_TRUE(Eventually([&] { return Logged("0000F00DAAAAAAAAAAAAAA ended before"); }));
  EXPECT_EQ(StoredFiles(), 0u);
  EXPECT_EQ(HttpGet(Base() + "/login").Body, "0");
  EXPECT_EQ(HttpGet(Base() + "/q?t=0000F00DAAAAAAAAAAAAAA").Status, 404);
}

TEST_F(RelayTest, TheProgramTakesItsOptionsAndTellsOfANewerRelease) {
  const int port = marlix_test::FreeLoopbackPort();
  const std::string log = (m_dir.Path() / "relay.log").string();
  const pid_t pid = SpawnProgram(m_dir.Path(),
                                 {"marlix-relay", "--listen", "127.0.0.1:" + std::to_string(port), "--storage",
                                  Storage().string(), "--release", "2.2", "--expiry", "60"},
                                 log + ".out", log);
  ASSERT_GT(pid, 0);
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  // Newer than the client's release: told; the same or an older one, or none named: not told.
  EXPECT_TRUE(Eventually([&] { return HttpGet(base + "/login?release=2.1").Body == "1"; }));
  for (const char* release : {"2.2", "10.0", ""})
    EXPECT_EQ(HttpGet(base + "/login?release=" + release).Body, "0") << release;

  const std::string host = "127.0.0.1:" + std::to_string(port);
  m_state.ConfiguredRelay.Set(host);
  ServiceSignIn(m_state, m_dialog);
  EXPECT_EQ(m_dialog.Events(), std::vector<std::string>{"NewVersion " + base});
  m_state.DownloadCount = 3;
  ServiceSignOut(m_state);

  ::kill(pid, SIGTERM);
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(marlix_test::ReadFile(log).find("logout from 127.0.0.1 lan=3 cloud=0"), std::string::npos)
      << marlix_test::ReadFile(log);
  EXPECT_TRUE(std::filesystem::is_directory(Storage()));
}

// What an attacker on the Internet can send, each against a relay of its own: the relay goes on
// serving others, and no link dies before its time.
TEST_F(RelayTest, HostilePeersLeaveTheRelayServingOthersAndLinksAliveTillTheirTime) {
  using marlix_test::ConnectLoopbackFrom;
  using marlix_test::RawRequest;
  auto connect = [&](const char* from) { return ConnectLoopbackFrom(from, m_port); };
  auto send = [](int fd, const std::string& text) { ::send(fd, text.data(), text.size(), MSG_NOSIGNAL); };
  const std::string token = "0000AAAAAAAAAAAAAAAAAA", big(4 << 20, 'b');
  struct Case {
    const char* what;
    std::function<void(RelayOptions&)> options;
    std::function<void()> check;
  };
  const Case cases[] = {
      {"a download that breaks leaves the file, and a Range retry finishes it",
       {},
       [&] {
         ASSERT_EQ(StatusLine(Upload(m_port, Body(token, "b.bin", big))), "HTTP/1.1 200 OK");
         const int fd = connect("127.0.0.2");
         send(fd, "GET /q?t=" + token + " HTTP/1.1\r\nHost: x\r\n\r\n");
         char buf[2000];
         EXPECT_GT(::recv(fd, buf, sizeof buf, MSG_WAITALL), 0);
         const linger reset{1, 0};
         ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
         ::close(fd);
         const std::string rest =
             RawRequest(m_port, "GET /q?t=" + token + " HTTP/1.1\r\nHost: x\r\nRange: bytes=2000-\r\n\r\n");
         EXPECT_EQ(StatusLine(rest), "HTTP/1.1 206 Partial Content");
         EXPECT_EQ(rest.size() - rest.find("\r\n\r\n") - 4, big.size() - 2000);
         EXPECT_TRUE(Eventually([&] { return m_relay.StoredCount() == 0; }));  // delivered whole: gone
       }},
      {"an upload below the least rate is ended and its space freed",
       [](RelayOptions& o) {
         o.MaxStorage = 100000;
         o.RateWindowMs = 300;
       },
       [&] {
         const std::string frame = Body(token, "slow.bin", std::string(90000, 's'));
         const int fd = connect("127.0.0.2");
         send(fd, "POST /upload HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(frame.size()) + "\r\n\r\n" +
                      frame.substr(0, 100));
         EXPECT_TRUE(Eventually([&] {
           send(fd, "s");
           return Logged("ended: slower than");
         }));
         ::close(fd);
         const std::string frame2 = Body("0000BBBBAAAAAAAAAAAAAA", "b.bin", std::string(90000, 'b'));
         EXPECT_EQ(TlsRequest(Base() + "/upload", {.Post = frame2}).Status, 200);
       }},
      {"a refusal comes on the head, before any body", [](RelayOptions& o) { o.MaxStorage = 1000; },
       [&] {
         const int fd = connect("127.0.0.2");
         send(fd, "POST /upload HTTP/1.1\r\nHost: x\r\nContent-Length: 5000000\r\n\r\n");
         std::string reply;
         char buf[512];
         for (ssize_t n; reply.find("\r\n\r\n") == std::string::npos && (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
           reply.append(buf, static_cast<size_t>(n));
         ::close(fd);
         EXPECT_EQ(StatusLine(reply), "HTTP/1.1 507 Insufficient Storage");
       }},
      {"heads that trickle past their limit make room for the next client at their address",
       [](RelayOptions& o) { o.HeadLimitMs = 300; },
       [&] {
         std::vector<int> slow;
         for (int i = 0; i < 8; ++i) slow.push_back(connect("127.0.0.5"));
         for (int fd : slow) send(fd, "GET /login HTTP/1.1\r\nHost: x\r\nX-Slow: ");
         // A byte every 50 ms on each keeps them from idling out; only the head limit ends them.
         std::atomic<bool> done{false};
         std::thread trickle([&] {
           while (!done) {
             for (int fd : slow) ::send(fd, "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
             std::this_thread::sleep_for(std::chrono::milliseconds(50));
           }
         });
         std::this_thread::sleep_for(std::chrono::milliseconds(500));
         const std::string reply = RawRequest(m_port, "GET /login HTTP/1.1\r\nHost: x\r\n\r\n", "127.0.0.5");
         done = true;
         trickle.join();
         EXPECT_EQ(StatusLine(reply), "HTTP/1.1 200 OK");
         for (int fd : slow) {
           char c;
           EXPECT_LE(::recv(fd, &c, 1, 0), 0);  // closed by the relay
           ::close(fd);
         }
       }},
      {"a stalled download does not hold its link past the expiry, which then answers 410",
       [](RelayOptions& o) { o.ExpiryMs = 300; },
       [&] {
         ASSERT_EQ(StatusLine(Upload(m_port, Body(token, "b.bin", big))), "HTTP/1.1 200 OK");
         const int fd = connect("127.0.0.2");
         send(fd, "GET /q?t=" + token + " HTTP/1.1\r\nHost: x\r\n\r\n");  // and never read
         EXPECT_TRUE(Eventually([&] { return m_relay.StoredCount() == 0; }));
         ::close(fd);
         const std::string gone = RawRequest(m_port, "GET /q?t=" + token + " HTTP/1.1\r\nHost: x\r\n\r\n");
         EXPECT_EQ(StatusLine(gone), "HTTP/1.1 410 Gone");
         EXPECT_NE(gone.find("expired"), std::string::npos);
         EXPECT_EQ(StatusLine(RawRequest(m_port, "GET /q?t=0000CCCCAAAAAAAAAAAAAA HTTP/1.1\r\nHost: x\r\n\r\n")),
                   "HTTP/1.1 404 Not Found");
       }},
      {"a guesser is slowed at its own address only",
       {},
       [&] {
         ASSERT_EQ(StatusLine(Upload(m_port, Body(token, "a.txt", "abc"))), "HTTP/1.1 200 OK");
         for (int i = 0; i < 30; ++i)
           RawRequest(m_port,
                      "GET /q?t=0000" + std::to_string(1000000000000000000 + i) + " HTTP/1.1\r\nHost: x\r\n\r\n",
                      "127.0.0.6");
         const std::string guess = "GET /q?t=" + token + " HTTP/1.1\r\nHost: x\r\n\r\n";
         EXPECT_EQ(StatusLine(RawRequest(m_port, guess, "127.0.0.6")), "HTTP/1.1 404 Not Found");
         EXPECT_TRUE(RawRequest(m_port, guess, "127.0.0.7").ends_with("\r\n\r\nabc"));
       }},
      {"a short token is refused, and a storage limit holds by default",
       {},
       [&] {
         EXPECT_EQ(StatusLine(Upload(m_port, Body("0000AAAAAAAAAAAAAAAAA", "a.txt", "abc"))),
                   "HTTP/1.1 400 Bad Request");  // 21 characters: under 128 bits
         const uint64_t limit = CRelayServer::DefaultMaxStorage(Storage().string());
         EXPECT_GT(limit, 0u);
         EXPECT_LE(limit, 10ull << 30);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StartRelay(600000, 8 << 20, 0, c.options);
    c.check();
    m_relay.Stop();
    std::filesystem::remove_all(Storage());
  }
}
