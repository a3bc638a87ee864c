// The receiving side under hostile and odd requests, against the real server on loopback: one table
// of requests, each with what the phone must be told and what the folder must hold after it; then
// the cases that need time or many clients (a file still arriving, the bookings, the limiter).

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "support/SmallDisk.h"
#include "support/TestEnv.h"
#include "web/receive/FreeSpace.h"
#include "web/receive/PartialUploads.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

const std::string kB = "hostileBoundary";

std::string Part(const std::string& disposition, const std::string& data) {
  return "--" + kB + "\r\nContent-Disposition: " + disposition + "\r\n\r\n" + data + "\r\n";
}
std::string File(const std::string& name, const std::string& data) {
  return Part("form-data; name=\"file\"; filename=\"" + name + "\"", data);
}
std::string End() { return "--" + kB + "--\r\n"; }

std::string Post(const CTestServer& s, const std::string& body, const std::string& method = "POST",
                 const std::string& extra = "") {
  return method + " " + s.WithSecret("/u") + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(s.Port()) +
         "\r\nContent-Type: multipart/form-data; boundary=" + kB + "\r\n" + extra +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}
std::string Plain(const CTestServer& s, const std::string& method, const std::string& target) {
  return method + " " + s.WithSecret(target) + " HTTP/1.0\r\n\r\n";
}

std::string Body(const std::string& reply) {
  const size_t at = reply.find("\r\n\r\n");
  return at == std::string::npos ? std::string() : reply.substr(at + 4);
}

std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

long ResidentKiB() {
  long kib = 0;
  std::string line;
  std::ifstream status("/proc/self/status");
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) kib = std::stol(line.substr(6));
  return kib;
}

}  // namespace

TEST(HostileInput, EachRequestGetsTheSoundAnswerAndLeavesTheFolderRight) {
  CTestServer server;
  const fs::path tmp = server.Dir() / "tmp";
  fs::create_directories(tmp / "folder");
  WriteFile(tmp / "a.txt", "A");
  WriteFile(tmp / ".dot.txt", "D");
  WriteFile(server.Dir() / "index.html", "P");
  fs::create_symlink("/etc/hostname", tmp / "link.txt");
  ::mkfifo((tmp / "fifo.txt").c_str(), 0600);
  const std::vector<std::string> before = Listing(tmp);
  const std::string bigHeader = "form-data; name=\"f\"; filename=\"big.txt\"\r\nX-Pad: " + std::string(8200, 'p');
  const std::string missing = "Content-Length: 0\r\n\r\n";  // the missing-file reply's end

  struct Row {
    const char* what;
    std::string request;
    std::string status;             // the reply's status line starts with it
    std::string body;               // the body holds it ("" for an empty body)
    std::vector<std::string> adds;  // names that appear in tmp/
  };
  const std::vector<Row> rows = {
      {"a text field before the file",
       Post(server, Part("form-data; name=\"a\"", "b") + File("f1.txt", "1") + End()),
       "HTTP/1.1 200",
       "\"name\":\"f1.txt\"",
       {"f1.txt"}},
      {"a field name with a space",
       Post(server, Part("form-data; name=\"my files\"; filename=\"sp.txt\"", "2") + End()),
       "HTTP/1.1 200",
       "\"name\":\"sp.txt\"",
       {"sp.txt"}},
      {"an escaped quote in the name",
       Post(server, File("q\\\"t.txt", "3") + End()),
       "HTTP/1.1 200",
       "\"name\":\"q\\\"t.txt\"",
       {"q\"t.txt"}},
      {"filename* in UTF-8 over filename",
       Post(server, Part("form-data; name=\"f\"; filename=\"x.jpg\"; filename*=UTF-8''%E7%85%A7.jpg", "4") + End()),
       "HTTP/1.1 200",
       "\"name\":\"照.jpg\"",
       {"照.jpg"}},
      {"a control character in the name",
       Post(server, File("c\x01"
                         "d.txt",
                         "5") +
                        End()),
       "HTTP/1.1 200",
       "\"name\":\"c_d.txt\"",
       {"c_d.txt"}},
      {"a dot-name", Post(server, File(".bashrc", "6") + End()), "HTTP/1.1 200", "\"name\":\"_.bashrc\"", {"_.bashrc"}},
      {"a direction override",
       Post(server, File("\u202Efdp.exe", "7") + End()),
       "HTTP/1.1 200",
       "\"name\":\"_fdp.exe\"",
       {"_fdp.exe"}},
      {"an empty file name", Post(server, File("", "8") + End()), "HTTP/1.1 400", "\"error\":\"no_name\"", {}},
      {"a part header over 8 KiB",
       Post(server, Part(bigHeader, "9") + End()),
       "HTTP/1.1 400",
       "\"error\":\"bad_form\"",
       {}},
      {"a quoted string that never ends",
       Post(server, Part("form-data; name=\"f\"; filename=\"x.txt", "0") + End()),
       "HTTP/1.1 400",
       "\"error\":\"bad_form\"",
       {}},
      {"a part without Content-Disposition",
       Post(server, "--" + kB + "\r\nX: y\r\n\r\nz\r\n" + End()),
       "HTTP/1.1 400",
       "\"error\":\"bad_form\"",
       {}},
      {"a body without a boundary", Post(server, "just text"), "HTTP/1.1 400", "\"error\":\"bad_form\"", {}},
      {"a form of text fields only",
       Post(server, Part("form-data; name=\"a\"", "b") + End()),
       "HTTP/1.1 200",
       "{\"files\":[]}",
       {}},
      {"a GET of /u with a body from another site",
       Post(server, File("x.txt", "x") + End(), "GET", "Origin: http://evil.example\r\n"),
       "HTTP/1.0 403",
       "",
       {}},
      {"%00 before an extension", Plain(server, "GET", "/tmp/a.txt%00.html"), "HTTP/1.0 400", "Bad Request", {}},
      {"%00 in a DELETE", Plain(server, "DELETE", "/tmp/a.txt%00junk"), "HTTP/1.0 400", "Bad Request", {}},
      {"%00 in a page name", Plain(server, "GET", "/index.html%00.txt"), "HTTP/1.0 400", "Bad Request", {}},
      {"%00 in a resumable name",
       Plain(server, "POST", "/r?name=a.txt%00.html&size=1&mtime=1"),
       "HTTP/1.1 400",
       "\"error\":\"bad_form\"",
       {}},
      {"DELETE of a link", Plain(server, "DELETE", "/tmp/link.txt"), "HTTP/1.0 200", "", {}},
      {"DELETE of a FIFO", Plain(server, "DELETE", "/tmp/fifo.txt"), "HTTP/1.0 200", "", {}},
      {"DELETE of a dot-file", Plain(server, "DELETE", "/tmp/.dot.txt"), "HTTP/1.0 200", "", {}},
      {"DELETE of a folder", Plain(server, "DELETE", "/tmp/folder"), "HTTP/1.0 200", "", {}},
      {"DELETE of /tmp/..", Plain(server, "DELETE", "/tmp/.."), "HTTP/1.0 200", "", {}},
      {"DELETE of a page file", Plain(server, "DELETE", "/index.html"), "HTTP/1.0 200", "", {}},
  };
  std::vector<std::string> expected = before;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string reply = RawRequest(server.Port(), row.request);
    EXPECT_EQ(reply.rfind(row.status, 0), 0u) << reply;
    if (row.body.empty()) {
      EXPECT_TRUE(reply.ends_with(missing) || reply.find(" 403 ") != std::string::npos) << reply;
    } else {
      EXPECT_NE(Body(reply).find(row.body), std::string::npos) << reply;
    }
    expected.insert(expected.end(), row.adds.begin(), row.adds.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Listing(tmp), expected);
  }
  EXPECT_EQ(ReadFile(tmp / "a.txt"), "A");
  EXPECT_EQ(ReadFile(server.Dir() / "index.html"), "P");
}

TEST(HostileInput, AFileStillArrivingIsNeitherServedNorDeletedAndNeverStandsUnderItsName) {
  CTestServer server;
  const fs::path tmp = server.Dir() / "tmp";
  fs::create_directory(tmp);
  const std::string data(300000, 'd');
  const std::string request = Post(server, File("late.txt", data) + End());
  const int fd = ConnectLoopback(server.Port());
  ASSERT_GE(fd, 0);
  const size_t half = request.size() / 2;
  ASSERT_EQ(::send(fd, request.data(), half, MSG_NOSIGNAL), static_cast<ssize_t>(half));
  // Wait until the first half is written under its hidden name.
  for (int i = 0; i < 500 && Listing(tmp).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::vector<std::string> during = Listing(tmp);
  ASSERT_EQ(during.size(), 1u);
  EXPECT_EQ(during[0].rfind(".upload-", 0), 0u) << during[0];
  for (const char* method : {"GET", "DELETE"}) {
    const std::string reply = RawRequest(server.Port(), Plain(server, method, "/tmp/late.txt"));
    EXPECT_TRUE(reply.ends_with("Content-Length: 0\r\n\r\n")) << method << reply;
    EXPECT_EQ(RawRequest(server.Port(), Plain(server, method, "/tmp/" + during[0])).find("dddd"), std::string::npos);
  }
  ::send(fd, request.data() + half, request.size() - half, MSG_NOSIGNAL);
  std::string reply;
  char buf[4096];
  for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) reply.append(buf, static_cast<size_t>(n));
  ::close(fd);
  EXPECT_NE(reply.find("\"name\":\"late.txt\",\"size\":\"300000\""), std::string::npos) << reply;
  EXPECT_EQ(Listing(tmp), std::vector<std::string>{"late.txt"});
}

TEST(HostileInput, BookingsAndOpenUploadsAreBoundedPerAddress) {
  CTestServer server;
  const fs::path tmp = server.Dir() / "tmp";
  fs::create_directory(tmp);
  const auto ask = [&](const std::string& method, const std::string& target, const std::string& from = "127.0.0.2") {
    return RawRequest(server.Port(), Plain(server, method, target), from);
  };
  // One start that declares nearly all the free space books at most 4 GiB while it sends nothing.
  // It leaves 512 MiB, since tests beside this one write to the same disk meanwhile.
  const int64_t free = FreeSpace(tmp.string());
  if (free > (int64_t{6} << 30)) {
    const std::string hog = ask("POST", "/r?name=hog.bin&size=" + std::to_string(free - (512 << 20)) + "&mtime=9");
    ASSERT_EQ(hog.rfind("HTTP/1.1 200", 0), 0u) << hog;
    const std::string id = Body(hog).substr(7, 16);
    EXPECT_NE(Body(ask("GET", "/r?id=" + id)).find("\"booked\":" + std::to_string(CPartialUploads::kIdleBookingCap)),
              std::string::npos);
    EXPECT_EQ(ask("POST", "/r?name=next.bin&size=2097152&mtime=1", "127.0.0.3").rfind("HTTP/1.1 200", 0), 0u);
    EXPECT_NE(RawRequest(server.Port(), Post(server, File("two.bin", std::string(2 << 20, 't')) + End()))
                  .find("\"name\":\"two.bin\""),
              std::string::npos);
  }
  // 64 unfinished uploads per address: the next one is refused and kept nowhere; another address goes on.
  const size_t known = server.Service().PartialUploads().Count();
  for (size_t i = 0; i < CPartialUploads::kMaxOpenPerAddress; ++i)
    ask("POST", "/r?name=" + std::string(30000, 'n') + "&size=0&mtime=" + std::to_string(i), "127.0.0.4");
  const std::string refused = ask("POST", "/r?name=over.bin&size=0&mtime=1", "127.0.0.4");
  EXPECT_EQ(refused.rfind("HTTP/1.1 429", 0), 0u) << refused;
  EXPECT_NE(refused.find("\r\nRetry-After: 60\r\n"), std::string::npos);
  EXPECT_EQ(server.Service().PartialUploads().Count(), known + CPartialUploads::kMaxOpenPerAddress);
  EXPECT_EQ(ask("POST", "/r?name=ok.bin&size=0&mtime=1", "127.0.0.5").rfind("HTTP/1.1 200", 0), 0u);
  // Measured, not asserted: what refused starts cost.
  const long rss = ResidentKiB();
  for (int i = 0; i < 2000; ++i)
    ask("POST", "/r?name=" + std::string(30000, 'n') + "&size=0&mtime=" + std::to_string(100000 + i), "127.0.0.4");
  std::cout << "[ FIGURE   ] resident memory after 2,000 refused starts: " << ResidentKiB() - rss << " KiB more\n";
}

TEST(HostileInput, AnUnsentBookingIsReleasedAfterTenMinutesAndTheChunkedBodyCountsTheBookings) {
  CTempWorkDir dir;
  fs::create_directory(dir.Path() / "tmp");
  auto now = CPartialUploads::Clock::now();
  CPartialUploads uploads((dir.Path() / ".uploading").string(), (dir.Path() / "tmp").string(), [&] { return now; });
  std::string id;
  int64_t held = 0;
  ASSERT_EQ(uploads.Start(std::string(1000, 'x') + ".bin", 100, 1, id, held, "10.0.0.1"), PartialStatus::Ok);
  EXPECT_EQ(uploads.BookedFor(id), 100);
  now += CPartialUploads::kMaxUnsentBooking + std::chrono::seconds(1);
  uploads.RemoveExpired();
  EXPECT_EQ(uploads.Count(), 0u);
  EXPECT_TRUE(fs::is_empty(dir.Path() / ".uploading"));

  // A chunked multipart body that would eat into the bookings stops with 507 and keeps nothing.
  CTestServer server;
  fs::create_directory(server.Dir() / "tmp");
  const CSmallDisk disk((server.Dir() / "tmp").string(), 16 << 20);
  if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs is not allowed here";
  const std::string start = RawRequest(server.Port(), Plain(server, "POST", "/r?name=b.bin&size=9437184&mtime=1"));
  ASSERT_EQ(start.rfind("HTTP/1.1 200", 0), 0u) << start;
  const std::string body = File("chunked.bin", std::string(4 << 20, 'c')) + End();
  std::string request = "POST " + server.WithSecret("/u") +
                        " HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; "
                        "boundary=" +
                        kB + "\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (size_t at = 0; at < body.size(); at += 65536) {
    const std::string piece = body.substr(at, 65536);
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    request += size + piece + "\r\n";
  }
  const std::string reply = RawRequest(server.Port(), request + "0\r\n\r\n");
  EXPECT_EQ(reply.rfind("HTTP/1.1 507", 0), 0u) << reply;
  EXPECT_TRUE(fs::is_empty(server.Dir() / "tmp"));
}

TEST(HostileInput, TenThousandGuessingAddressesLockNoOneElseOut) {
  CTestServer server;
  fs::create_directory(server.Dir() / "tmp");
  WriteFile(server.Dir() / "tmp/a.txt", "A");
  CGuessLimiter& limiter = server.Service().Limiter();
  for (int a = 0; a < 10000; ++a) {
    const std::string v4 = "10." + std::to_string(a / 256) + "." + std::to_string(a % 256) + ".1";
    char v6[64];
    std::snprintf(v6, sizeof v6, "2001:db8:%x:%x::/64", a / 65536, a % 65536);
    for (int i = 0; i < 12; ++i) limiter.RecordMiss(a % 2 ? v4 : v6);
  }
  EXPECT_LE(limiter.Tracked(), CGuessLimits{}.MaxAddresses);
  // A new address with the right secret, then with a wrong one: served, then answered as missing.
  EXPECT_TRUE(RawRequest(server.Port(), Plain(server, "GET", "/tmp/a.txt"), "127.0.0.9").ends_with("A"));
  const std::string wrong = RawRequest(server.Port(), "GET /tmp/a.txt?k=wrong HTTP/1.0\r\n\r\n", "127.0.0.9");
  EXPECT_TRUE(wrong.ends_with("Content-Length: 0\r\n\r\n")) << wrong;
  EXPECT_TRUE(limiter.Admit("127.0.0.9"));
}
