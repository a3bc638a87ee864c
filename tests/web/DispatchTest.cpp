// The dispatch table and the small helpers of the web service, against the real server.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "app/SharedState.h"
#include "app/Token.h"
#include "support/TestEnv.h"
#include "web/http/ContentType.h"
#include "web/http/RequestUri.h"
#include "web/send/FileSize.h"
#include "web/send/ItemLookup.h"

using namespace marlix_test;

TEST(ContentType, MatchesExtensionCaseInsensitivelyAndNeedsALongerName) {
  EXPECT_STREQ(LookupContentType("A.JPG"), "image/jpeg");
  EXPECT_EQ(LookupContentType(".jpg"), nullptr);
  EXPECT_EQ(LookupContentType("a.jpgx"), nullptr);
  EXPECT_STREQ(LookupContentType("x.rar"), "application/x-arj-compressed");
  EXPECT_STREQ(LookupContentType("a.xsl"), "application/xml");
  EXPECT_STREQ(LookupContentType("index.html"), "text/html");
}

TEST(Token, Is128BitsOfUrlSafeTextAndVaries) {
  const std::string a = MakeToken(), b = MakeToken();
  ASSERT_EQ(a.size(), 22u);  // 128 bits at 6 a character
  EXPECT_EQ(a.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"), std::string::npos)
      << a;
  EXPECT_NE(a, b);
}

TEST(ItemTokens, SharesGetNewTokensAndAFoldersFileKeepsItsOwn) {
  SharedState state;
  const std::string first = state.AddItem("/x/a.txt"), second = state.AddItem("/x/a.txt");
  EXPECT_NE(first, second);
  const std::string file = state.FolderFileToken("/x/d", "/x/d/b.jpg");
  for (int view = 0; view < 3; ++view) EXPECT_EQ(state.FolderFileToken("/x/d", "/x/d/b.jpg"), file);
  EXPECT_NE(state.FolderFileToken("/x/d", "/x/d/c.jpg"), file);
  EXPECT_EQ(LookupItem(state, ("t=" + file).c_str()), "/x/d/b.jpg");
  {
    std::lock_guard<std::mutex> lock(state.ItemLock);
    EXPECT_EQ(state.ItemTable.size(), 4u);
  }
}

TEST(ItemLookup, TakesEverythingAfterTheFirstEqualsSign) {
  SharedState state;
  state.InsertItem("1A2B3C4D", "/x/a.txt");
  EXPECT_EQ(LookupItem(state, "t=1A2B3C4D"), "/x/a.txt");
  EXPECT_EQ(LookupItem(state, "anything=1A2B3C4D"), "/x/a.txt");
  EXPECT_EQ(LookupItem(state, "=1A2B3C4D"), "");
  EXPECT_EQ(LookupItem(state, "1A2B3C4D"), "");
  EXPECT_EQ(LookupItem(state, "t=1A2B3C4D&x=1"), "");
  EXPECT_EQ(LookupItem(state, nullptr), "");
}

TEST(FileSize, IsZeroForMissingFoldersAndEmptyFiles) {
  CTempWorkDir dir;
  WriteFile(dir.Path() / "empty", "");
  WriteFile(dir.Path() / "five", "12345");
  std::filesystem::create_directory(dir.Path() / "folder");
  EXPECT_EQ(FileSize(dir.Path() / "missing"), 0);
  EXPECT_EQ(FileSize(dir.Path() / "folder"), 0);
  EXPECT_EQ(FileSize(dir.Path() / "empty"), 0);
  EXPECT_EQ(FileSize(dir.Path() / "five"), 5);
}

TEST(Dispatch, GetOfUploadPathWithoutBodySetsReceivedCountToZero) {
  CTestServer server;
  const std::string reply = RawRequest(server.Port(), "GET " + server.WithSecret("/u") + " HTTP/1.0\r\n\r\n");
  EXPECT_EQ(reply, "");
  EXPECT_EQ(server.Dialog().ReceivedCounts(), std::vector<int>{0});
}

namespace {

std::string Get(const CTestServer& server, const std::string& target) {
  return RawRequest(server.Port(), "GET " + target + " HTTP/1.0\r\n\r\n");
}

const std::string kBadRequest = InLibraryOrder(
    "HTTP/1.0 200 OK\r\nContent-Length: 37\r\nContent-Type: text/html\r\n\r\n<html><body>Bad Request</body></html>");

// A connection that asks for a target and then reads nothing, so the server's writes fill the socket
// buffers and its worker stays busy.
int StalledRequest(int port, const std::string& target, const std::string& source = "127.0.0.1") {
  const int fd = ConnectLoopback(port, [&](int s) {
    int small = 4096;
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    ::bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from);
  });
  if (fd < 0) return -1;
  const std::string request = "GET " + target + " HTTP/1.0\r\n\r\n";
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  return fd;
}

void MakeSparseFile(const std::filesystem::path& path, off_t size) {
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, size), 0);
  ::close(fd);
}

}  // namespace

TEST(Dispatch, RoutesByMethodUriAndQuery) {
  CTestServer server;
  WriteFile(server.Dir() / "shared.txt", "S");
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "shared.txt").string());
  // DELETE belongs to the delete rule whatever the URI; it never serves the shared file.
  const std::string deleted =
      RawRequest(server.Port(), "DELETE " + server.WithSecret("/f?t=1A2B3C4D") + " HTTP/1.0\r\n\r\n");
  EXPECT_EQ(deleted.find("attachment"), std::string::npos) << deleted;
  EXPECT_TRUE(deleted.ends_with("\r\nContent-Length: 0\r\n\r\n")) << deleted;  // nothing removed
  EXPECT_TRUE(std::filesystem::exists(server.Dir() / "shared.txt"));
  EXPECT_EQ(server.State().DownloadCount, 0);
  // "/f", "/d" and "/z" without a query are local files without an extension.
  EXPECT_EQ(Get(server, "/f"), kBadRequest);
  EXPECT_EQ(Get(server, "/d"), kBadRequest);
  EXPECT_EQ(Get(server, "/z"), kBadRequest);
  EXPECT_EQ(Get(server, "/readme"), kBadRequest);
  // An empty query is a query.
  EXPECT_EQ(Get(server, "/f?"), "");
  // Methods other than DELETE are all answered like GET; HEAD without the body, as HTTP has it.
  EXPECT_TRUE(RawRequest(server.Port(), "HEAD /f?t=1A2B3C4D HTTP/1.0\r\n\r\n").ends_with("Content-Length: 1\r\n\r\n"));
  EXPECT_EQ(RawRequest(server.Port(), "POST /f?t=1A2B3C4D HTTP/1.0\r\nContent-Length: 0\r\n\r\n").back(), 'S');
}

TEST(Dispatch, LocalFilesByExtension) {
  CTestServer server;
  WriteFile(server.Dir() / "index.html", "<p>up</p>");
  WriteFile(server.Dir() / "tmp/photo.jpg", "JPEG");
  WriteFile(server.Dir() / "tmp/a b.txt", "spaced");
  EXPECT_EQ(
      WithoutValidators(Get(server, "/index.html")),
      InLibraryOrder(
          "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 9\r\nAccept-Ranges: bytes\r\n\r\n<p>up</p>"));
  EXPECT_EQ(
      WithoutValidators(RawRequest(server.Port(), "HEAD /index.html HTTP/1.1\r\nHost: x\r\n\r\n")),
      InLibraryOrder(
          "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 9\r\nAccept-Ranges: bytes\r\n\r\n"));  // HEAD:
                                                                                                                // no
                                                                                                                // body
  const std::string sandbox = "Content-Security-Policy: sandbox\r\nX-Content-Type-Options: nosniff\r\n";
  EXPECT_EQ(WithoutValidators(Get(server, server.WithSecret("/tmp/photo.jpg"))),
            InLibraryOrder("HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n" + sandbox +
                           "Content-Length: 4\r\nAccept-Ranges: bytes\r\n\r\nJPEG"));
  EXPECT_EQ(WithoutValidators(Get(server, server.WithSecret("/tmp//a%20b.txt"))),
            InLibraryOrder("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n" + sandbox +
                           "Content-Length: 6\r\nAccept-Ranges: bytes\r\n\r\nspaced"));
  EXPECT_EQ(Get(server, "/favicon.ico"),
            InLibraryOrder("HTTP/1.0 200 OK\r\nContent-Type: image/x-icon\r\nContent-Length: 0\r\n\r\n"));
  EXPECT_EQ(server.State().DownloadCount, 0);
  EXPECT_TRUE(server.Dialog().Reports().empty());
}

TEST(Dispatch, UriIsCleanedByTheDispatchRule) {
  EXPECT_EQ(CleanRequestUri("/a//b"), "/a/b");
  EXPECT_EQ(CleanRequestUri("/../x"), "/x");
  EXPECT_EQ(CleanRequestUri("/a/../b"), "/a/b");
  EXPECT_EQ(CleanRequestUri("/./x"), "/./x");
  EXPECT_EQ(CleanRequestUri("/\\..\\..//x"), "/x");
  EXPECT_EQ(CleanRequestUri("/...x"), "/.x");
  EXPECT_EQ(CleanRequestUri("*"), "*");
}

TEST(Dispatch, NothingOutsideTheWorkingDirectoryIsServed) {
  CTestServer server;
  const std::filesystem::path outside = server.Dir().parent_path() / (server.Dir().filename().string() + "-secret.txt");
  WriteFile(outside, "secret");
  const std::string name = outside.filename().string();
  WriteFile(server.Dir() / "sub/x.txt", "inside");
  const std::string zero = InLibraryOrder("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 0\r\n\r\n");
  // Appended in place: GCC 12 at -O3 misreads "literal" + string as an overlapping copy (-Wrestrict).
  const auto at = [](const char* prefix, const std::string& rest) { return std::string(prefix).append(rest); };
  for (const std::string& target :
       {at("/../", name), at("/%2e%2e/", name), at("/..%2f", name), at("/sub/..%2f..%2f", name), at("/%2E%2E%5C", name),
        at("/.%2e/", name), at("/", outside.string()), at("//", outside.string()), at("/%2F", outside.string())}) {
    EXPECT_TRUE(RawRequest(server.Port(), "GET " + target + " HTTP/1.0\r\n\r\n").ends_with("Content-Length: 0\r\n\r\n"))
        << target;
  }
  std::filesystem::remove(outside);
  EXPECT_EQ(Get(server, "/sub/../sub/x.txt"), zero);  // "/sub/sub/x.txt" by the rule
}

TEST(Dispatch, RequestsAreServedWhileTwentyDownloadsStall) {
  CTestServer server;
  MakeSparseFile(server.Dir() / "big.bin", off_t{1} << 30);
  WriteFile(server.Dir() / "index.html", "small");
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "big.bin").string());
  std::vector<int> stalled;
  // From twenty addresses: one address may hold only a few workers.
  for (int i = 0; i < 20; ++i)
    stalled.push_back(StalledRequest(server.Port(), "/f?t=1A2B3C4D", "127.0.0." + std::to_string(10 + i)));
  // Every download has started once the count reaches 20.
  for (int i = 0; i < 500 && server.State().DownloadCount < 20; ++i) ::usleep(10000);
  ASSERT_EQ(server.State().DownloadCount, 20);

  // Stalled downloads hold no thread: the next request is served meanwhile.
  std::future<std::string> waiting = std::async(std::launch::async, [&] { return Get(server, "/index.html"); });
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(
      WithoutValidators(waiting.get()),
      InLibraryOrder(
          "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\nAccept-Ranges: bytes\r\n\r\nsmall"));
  for (int fd : stalled) ::close(fd);
}

TEST(Dispatch, StoppingTheServiceDuringADownloadDoesNotHang) {
  CTestServer server;
  MakeSparseFile(server.Dir() / "big.bin", off_t{1} << 30);
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "big.bin").string());
  const int fd = StalledRequest(server.Port(), "/f?t=1A2B3C4D");
  for (int i = 0; i < 500 && server.State().DownloadCount < 1; ++i) ::usleep(10000);
  ASSERT_EQ(server.State().DownloadCount, 1);
  std::future<void> stop = std::async(std::launch::async, [&] { server.Stop(); });
  EXPECT_EQ(stop.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  stop.wait();
  ::close(fd);
}

// Every guarded route, asked without what it needs, names nothing: a token route answers nothing and
// an upload-direction route answers as a missing file, each a miss of its address. With the secret, a
// write from another site's page is still refused on every route that writes; a read is not.
TEST(Dispatch, EveryGuardedRouteRefusesWhatLacksItsCredentialAndEveryWriteFromAnotherSite) {
  CTestServer server;
  WriteFile(server.Dir() / "tmp/a.txt", "A");
  const auto ask = [&](const std::string& method, const std::string& target, const std::string& from,
                       const std::string& extra = "") {
    return RawRequest(server.Port(), method + " " + target + " HTTP/1.0\r\n" + extra + "Content-Length: 0\r\n\r\n",
                      from);
  };
  enum Guard { kToken, kSecret, kSecretAndSite };
  const struct {
    const char *method, *target;
    Guard guard;
  } routes[] = {{"GET", "/f?t=x", kToken},
                {"GET", "/d?t=x", kToken},
                {"GET", "/z?t=x", kToken},
                {"GET", "/t?t=x", kToken},
                {"GET", "/m?t=x", kToken},
                {"GET", "/tmp/a.txt", kSecret},
                {"POST", "/x", kSecretAndSite},
                {"POST", "/u", kSecretAndSite},
                {"POST", "/r?name=b.txt&size=1&mtime=1", kSecretAndSite},
                {"DELETE", "/tmp/a.txt", kSecretAndSite}};
  size_t n = 0;
  for (const auto& r : routes) {
    SCOPED_TRACE(std::string(r.method) + " " + r.target);
    const std::string reply = ask(r.method, r.target, "127.0.3." + std::to_string(++n));
    if (r.guard == kToken)
      EXPECT_EQ(reply, "");
    else
      EXPECT_TRUE(reply.ends_with("Content-Length: 0\r\n\r\n")) << reply;
    EXPECT_EQ(server.Service().Limiter().Tracked(), n);
    if (r.guard != kSecretAndSite) continue;
    const std::string foreign =
        ask(r.method, server.WithSecret(r.target), "127.0.0.1", "Origin: http://evil.example\r\n");
    EXPECT_EQ(foreign.rfind("HTTP/1.0 403", 0), 0u) << foreign;
  }
  EXPECT_EQ(ReadFile(server.Dir() / "tmp/a.txt"), "A");
  EXPECT_TRUE(server.Dialog().Reports().empty());
  EXPECT_TRUE(
      ask("GET", server.WithSecret("/tmp/a.txt"), "127.0.0.1", "Origin: http://evil.example\r\n").ends_with("A"));
}
