// The server's threads under held uploads, cuts and a stop: requests that fail their checks cost no
// thread, held uploads at most the fixed handler pool, a cut upload is gone at once, and a stop ends
// everything without leaving a partial file.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "support/TestEnv.h"
#include "web/http/HttpServer.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

int ProcessThreads() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  return -1;
}

// A multipart upload of `size` bytes named `name`, from the source address, of which only `sent`
// bytes of the body go out now; the socket, or -1.
struct CHeldUpload {
  int fd = -1;
  std::string rest;
};
CHeldUpload StartUpload(CTestServer& server, const std::string& source, const std::string& target,
                        const std::string& name, size_t size, size_t sent) {
  const std::string body = "--b\r\nContent-Disposition: form-data; name=\"f\"; filename=\"" + name + "\"\r\n\r\n" +
                           std::string(size, 'u') + "\r\n--b--\r\n";
  const std::string head = "POST " + target + " HTTP/1.0\r\nContent-Type: multipart/form-data; boundary=b\r\n" +
                           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  CHeldUpload up;
  up.fd = ConnectLoopbackFrom(source, server.Port());
  const std::string now = head + body.substr(0, sent);
  if (up.fd >= 0) ::send(up.fd, now.data(), now.size(), MSG_NOSIGNAL);
  up.rest = body.substr(sent);
  return up;
}

std::string FinishUpload(CHeldUpload& up) {
  ::send(up.fd, up.rest.data(), up.rest.size(), MSG_NOSIGNAL);
  std::string reply;
  char buf[4096];
  for (ssize_t n; (n = ::recv(up.fd, buf, sizeof buf, 0)) > 0;) reply.append(buf, static_cast<size_t>(n));
  ::close(up.fd);
  return reply;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool WaitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

}  // namespace

TEST(HandlerThreads, HeldUploadsCostNoThreadBeforeTheirCheckAndAtMostThePoolAfter) {
  RaiseOpenFileLimit();
  CTestServer server;
  fs::create_directory(server.Dir() / "tmp");
  WriteFile(server.Dir() / "1M.bin", std::string(1 << 20, 'm'));
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "1M.bin").string());
  const int before = ProcessThreads();

  // Without the secret: answered on the library's threads, whatever the body does.
  std::vector<CHeldUpload> strangers;
  for (int i = 0; i < 200; ++i)
    strangers.push_back(StartUpload(server, "127.0.4." + std::to_string(i % 25 + 1), "/u", "x.bin", 100000, 1000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LE(ProcessThreads(), before + 2);
  for (CHeldUpload& up : strangers) ::close(up.fd);

  // With it: each held upload waits on a handler thread or in the queue, never on a new thread.
  std::vector<CHeldUpload> phones;
  for (int i = 0; i < 96; ++i) {
    const std::string name = "held" + std::to_string(i) + ".bin";
    phones.push_back(
        StartUpload(server, "127.0.5." + std::to_string(i % 12 + 1), server.WithSecret("/u"), name, 300000, 100000));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LE(ProcessThreads(), before + 16);
  const auto begin = std::chrono::steady_clock::now();
  const std::string reply = RawRequest(server.Port(), "GET /f?t=1A2B3C4D HTTP/1.0\r\n\r\n", "127.0.6.1");
  EXPECT_LT(Seconds(begin), 10.0);  // a hang, not a speed
  EXPECT_EQ(reply.size() - reply.find("\r\n\r\n") - 4, size_t{1} << 20);

  // They go on, and every file arrives whole.
  std::vector<std::future<std::string>> replies;
  for (CHeldUpload& up : phones) replies.push_back(std::async(std::launch::async, [&up] { return FinishUpload(up); }));
  for (size_t i = 0; i < replies.size(); ++i) {
    EXPECT_TRUE(replies[i].get().starts_with("HTTP/1.1 200")) << i;
    EXPECT_EQ(fs::file_size(server.Dir() / "tmp" / ("held" + std::to_string(i) + ".bin")), 300000u) << i;
  }
}

TEST(HandlerThreads, ACutUploadIsGoneAtOnceAndAStopLeavesNothingPartial) {
  RaiseOpenFileLimit();
  CTestServer server;
  const fs::path tmp = server.Dir() / "tmp";
  fs::create_directory(tmp);
  // A phone that drops off after 300 KB of 1 MiB: its data is removed well before any idle limit.
  CHeldUpload cut = StartUpload(server, "127.0.7.1", server.WithSecret("/u"), "cut.bin", 1 << 20, 300000);
  ASSERT_TRUE(WaitUntil([&] { return !fs::is_empty(tmp); }));
  const auto begin = std::chrono::steady_clock::now();
  ::close(cut.fd);
  EXPECT_TRUE(WaitUntil([&] { return fs::is_empty(tmp); }));
  EXPECT_LT(Seconds(begin), 5.0);  // a hang, not a speed: the idle limit is 30 s

  // 32 uploads held in their bodies and 10 downloads under way: the stop ends them all.
  const fs::path big = server.Dir() / "big.bin";
  WriteFile(big, "");
  fs::resize_file(big, 1 << 30);
  server.State().InsertItem("1A2B3C4D", big.string());
  std::vector<CHeldUpload> held;
  for (int i = 0; i < 32; ++i)
    held.push_back(StartUpload(server, "127.0.8." + std::to_string(i % 8 + 1), server.WithSecret("/u"),
                               "s" + std::to_string(i) + ".bin", 1 << 20, 400000));
  std::vector<int> downloads;
  for (int i = 0; i < 10; ++i) {
    const int fd = ConnectLoopbackFrom("127.0.9." + std::to_string(i + 1), server.Port());
    ::send(fd, "GET /f?t=1A2B3C4D HTTP/1.0\r\n\r\n", 30, MSG_NOSIGNAL);
    downloads.push_back(fd);
  }
  ASSERT_TRUE(WaitUntil([&] { return server.State().DownloadCount >= 10; }));
  const auto stop = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(Seconds(stop), 5.0);  // a hang, not a speed
  EXPECT_TRUE(fs::is_empty(tmp));
  for (CHeldUpload& up : held) ::close(up.fd);
  for (int fd : downloads) ::close(fd);
}
