// Shared files under "/f": the reply header byte for byte, the token rule, progress and odd files.

#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/SharedState.h"
#include "support/TestEnv.h"
#include "web/send/AttachmentDisposition.h"
#include "web/send/SharedFile.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

std::string Get(const CTestServer& server, const std::string& target) {
  return RawRequest(server.Port(), "GET " + target + " HTTP/1.0\r\n\r\n");
}

// Shares the file of the server's folder under the token.
std::string Share(CTestServer& server, const fs::path& name, const std::string& token = "1A2B3C4D") {
  server.State().InsertItem(token, (server.Dir() / name).string());
  return token;
}

size_t CountBytes(char*, size_t size, size_t count, void* total) {
  *static_cast<uint64_t*>(total) += size * count;
  return size * count;
}

}  // namespace

TEST(SharedFile, HeaderIsExactAndBodyFollows) {
  CTestServer server;
  WriteFile(server.Dir() / "docs/report.pdf", "%PDF-1.4 body");
  Share(server, "docs/report.pdf");
  EXPECT_EQ(WithoutValidators(Get(server, "/f?t=1A2B3C4D")),
            InLibraryOrder("HTTP/1.0 200 OK\r\nContent-Type: application/pdf\r\n"
                           "Content-Disposition: attachment;filename=\"report.pdf\";filename*=UTF-8''report.pdf\r\n"
                           "Content-Length: 13\r\nAccept-Ranges: bytes\r\n\r\n%PDF-1.4 body"));
  EXPECT_EQ(server.State().DownloadCount, 1);
  EXPECT_EQ(server.Dialog().Events().front(), "ProgressShown");
}

TEST(SharedFile, ContentTypeComesFromTheNameAndUtf8NamesAreKept) {
  CTestServer server;
  WriteFile(server.Dir() / "docs/照片.JPG", "jpeg");
  WriteFile(server.Dir() / "docs/notes", "n");
  Share(server, "docs/照片.JPG", "00000001");
  Share(server, "docs/notes", "00000002");
  std::string head, body;
  SplitReply(WithoutValidators(Get(server, "/f?t=00000001")), head, body);
  EXPECT_EQ(head, InLibraryOrder(
                      "HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n"
                      "Content-Disposition: attachment;filename=\"照片.JPG\";"
                      "filename*=UTF-8''%E7%85%A7%E7%89%87.JPG\r\nContent-Length: 4\r\nAccept-Ranges: bytes\r\n\r\n"));
  SplitReply(Get(server, "/f?t=00000002"), head, body);
  EXPECT_NE(head.find("Content-Type: application/octet-stream\r\n"), std::string::npos) << head;
  EXPECT_EQ(body, "n");
}

TEST(SharedFile, NamesCannotBreakOrInjectHeaderLines) {
  EXPECT_EQ(AttachmentDisposition("a\"b\\c\r\nSet-Cookie: x=1.txt"),
            "attachment;filename=\"a\\\"b\\\\c__Set-Cookie: x=1.txt\";"
            "filename*=UTF-8''a%22b%5Cc%0D%0ASet-Cookie%3A%20x%3D1.txt");

  CTestServer server;
  const std::string name = "evil\"\r\nX-Injected: 1\r\n.txt";
  WriteFile(server.Dir() / name, "e");
  Share(server, name);
  std::string head, body;
  SplitReply(WithoutValidators(Get(server, "/f?t=1A2B3C4D")), head, body);
  EXPECT_EQ(head.find("\r\nX-Injected"), std::string::npos) << head;
  EXPECT_EQ(body, "e");
  // Exactly the status line, "Connection: close", five header lines and the empty line.
  size_t lines = 0;
  for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) ++lines;
  EXPECT_EQ(lines, 8u) << head;
}

TEST(SharedFile, TokenRule) {
  CTestServer server;
  WriteFile(server.Dir() / "a.txt", "A");
  Share(server, "a.txt");
  EXPECT_EQ(Get(server, "/f?x=1A2B3C4D").substr(0, 15), "HTTP/1.0 200 OK");  // the name is ignored
  EXPECT_EQ(Get(server, "/f?t=DEADBEEF"), "");                               // unknown token
  EXPECT_EQ(Get(server, "/f?1A2B3C4D"), "");                                 // no "="
  EXPECT_EQ(Get(server, "/f?=1A2B3C4D"), "");                                // "=" first
  EXPECT_EQ(Get(server, "/f?t=1A2B3C4D&x=1"), "");                           // the whole rest is the token
  EXPECT_EQ(server.State().DownloadCount, 1);
}

TEST(SharedFile, EmptyMissingAndUnreadableFilesGetAZeroLength) {
  CTestServer server;
  WriteFile(server.Dir() / "empty.txt", "");
  WriteFile(server.Dir() / "gone.txt", "x");
  fs::create_directory(server.Dir() / "folder.txt");
  ASSERT_EQ(::mkfifo((server.Dir() / "pipe.txt").c_str(), 0600), 0);
  Share(server, "empty.txt", "00000001");
  Share(server, "gone.txt", "00000002");
  Share(server, "folder.txt", "00000003");
  Share(server, "pipe.txt", "00000004");
  fs::remove(server.Dir() / "gone.txt");
  for (const char* token : {"00000001", "00000002", "00000003", "00000004"}) {
    std::string head, body;
    SplitReply(WithoutValidators(Get(server, std::string("/f?t=") + token)), head, body);
    EXPECT_NE(head.find("\r\nContent-Length: 0\r\n"), std::string::npos) << token << head;
    EXPECT_EQ(body, "") << token;
  }
  EXPECT_EQ(server.State().DownloadCount, 4);
  EXPECT_TRUE(server.Dialog().Reports(ViewEventId::DownloadProgress).empty());

  if (::geteuid() != 0) {  // root reads any file whatever its mode
    WriteFile(server.Dir() / "locked.txt", "secret");
    fs::permissions(server.Dir() / "locked.txt", fs::perms::none);
    Share(server, "locked.txt", "00000005");
    std::string head, body;
    SplitReply(Get(server, "/f?t=00000005"), head, body);
    EXPECT_NE(head.find("\r\nContent-Length: 0\r\n\r\n"), std::string::npos) << head;
    EXPECT_EQ(body, "");
  }
}

TEST(SharedFile, ProgressFollowsPiecesOf4096BytesAndOnlyChanges) {
  CTestServer server;
  WriteFile(server.Dir() / "10000.bin", std::string(10000, 'x'));
  WriteFile(server.Dir() / "1M.bin", std::string(1 << 20, 'y'));
  Share(server, "10000.bin", "00000001");
  Share(server, "1M.bin", "00000002");
  std::string head, body;
  SplitReply(Get(server, "/f?t=00000001"), head, body);
  EXPECT_EQ(body.size(), 10000u);
  // The bar's 40, 81 and 100.
  EXPECT_TRUE(server.Dialog().WaitFor(ViewEventId::DownloadProgress, 10000));
  EXPECT_EQ(server.Dialog().Events(),
            (std::vector<std::string>{"ProgressShown", "DownloadProgress 4096/10000", "DownloadProgress 8192/10000",
                                      "DownloadProgress 10000/10000"}));

  SplitReply(Get(server, "/f?t=00000002"), head, body);
  EXPECT_EQ(body.size(), 1u << 20);
  EXPECT_TRUE(server.Dialog().WaitFor(ViewEventId::DownloadProgress, 1 << 20));
  const std::vector<CViewEvent> progress = server.Dialog().Reports(ViewEventId::DownloadProgress);
  // 256 pieces: every whole percent once, from 0 (1/256 is 0.39 %) to 100.
  ASSERT_EQ(progress.size(), 3u + 101u);
  for (int pos = 0; pos <= 100; ++pos) {
    EXPECT_EQ(PercentDone(progress[3 + pos]), pos);
    EXPECT_EQ(progress[3 + pos].Total, 1 << 20);
    EXPECT_EQ(progress[3 + pos].Done % 4096, 0);
  }
}

// The bar follows what the phone has taken while the file is still on its way, not only at its end.
TEST(SharedFile, ProgressMovesWhileThePhoneIsStillReading) {
  CTestServer server;
  const int64_t size = 64 << 20;
  WriteFile(server.Dir() / "64M.bin", std::string(static_cast<size_t>(size), 'z'));
  Share(server, "64M.bin");
  const int fd = ConnectLoopback(server.Port(), [](int s) {
    const int small = 64 << 10;
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  });
  ASSERT_GE(fd, 0);
  const std::string request = "GET /f?t=1A2B3C4D HTTP/1.0\r\n\r\n";
  ASSERT_EQ(::send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  char buffer[64 << 10];
  int64_t taken = 0;
  while (taken < (4 << 20)) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    ASSERT_GT(n, 0);
    taken += n;
  }
  // The phone pauses with most of the file still to come.
  EXPECT_TRUE(server.Dialog().WaitUntil(ViewEventId::DownloadProgress,
                                        [&](int64_t done) { return done >= (2 << 20) && done < size / 2; }));
  while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
  }
  ::close(fd);
  EXPECT_TRUE(server.Dialog().WaitFor(ViewEventId::DownloadProgress, size));
}

// A sparse file just over 2 GiB goes out whole with its true length.
TEST(SharedFile, FileOver2GiBIsSentWholeWithItsTrueLength) {
  CTestServer server;
  const int64_t size = (int64_t{1} << 31) + 5;
  {
    const int fd = ::open((server.Dir() / "big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size - 5), 0);
    ASSERT_EQ(::pwrite(fd, "tail!", 5, size - 5), 5);
    ::close(fd);
  }
  Share(server, "big.bin");
  CURL* curl = curl_easy_init();
  const std::string url = server.Base() + "/f?t=1A2B3C4D";
  uint64_t received = 0;
  curl_off_t announced = -1;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CountBytes);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
  ASSERT_EQ(curl_easy_perform(curl), CURLE_OK);
  curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
  curl_easy_cleanup(curl);
  EXPECT_EQ(announced, size);
  EXPECT_EQ(received, static_cast<uint64_t>(size));
  EXPECT_TRUE(server.Dialog().WaitFor(ViewEventId::DownloadProgress, size));
  const std::vector<int64_t> progress = server.Dialog().Progress(ViewEventId::DownloadProgress);
  ASSERT_EQ(progress.size(), 101u);  // one a percent, in bytes past 2 GiB
  EXPECT_LT(progress.front(), size / 100);
  EXPECT_EQ(progress.back(), size);
}
