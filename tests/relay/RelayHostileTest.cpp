// Upload bodies that break the framing's rules, clients that vanish, and the relay program itself.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "RelayTestEnv.h"
#include "service/RevocableDialog.h"
#include "service/ServiceSession.h"

namespace {

std::string BigEndian(uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
}

std::string Body(const std::string& token, const std::string& name, const std::string& content) {
  return BigEndian(static_cast<uint32_t>(token.size())) + token + BigEndian(static_cast<uint32_t>(name.size())) + name +
         BigEndian(static_cast<uint32_t>(content.size())) + content;
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
  EXPECT_TRUE(Eventually([&] { return HttpGet(base + "/login").Body == "1"; }));

  const std::string host = "127.0.0.1:" + std::to_string(port);
  setenv("MARLIX_SERVICE_HOST", host.c_str(), 1);
  CRevocableDialog view(&m_dialog);
  ServiceSignIn(m_state, view);
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
