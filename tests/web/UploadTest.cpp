// Receiving uploads against the real server, with raw sockets and libcurl as the phone.

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "app/SharedState.h"
#include "support/SmallDisk.h"
#include "support/TestEnv.h"
#include "web/WebService.h"
#include "web/receive/Upload.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

const std::string kBoundary = "----MarlixTestBoundary7MA4YWxkTrZu0gW";

std::string FilePart(const std::string& filename, const std::string& content,
                     const std::string& type = "application/octet-stream") {
  return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + filename +
         "\"\r\nContent-Type: " + type + "\r\n\r\n" + content + "\r\n";
}

std::string FieldPart(const std::string& name, const std::string& value) {
  return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

std::string Close() { return "--" + kBoundary + "--\r\n"; }

std::string PostRequest(const CTestServer& server, const std::string& body, const std::string& contentType = "") {
  const std::string type = contentType.empty() ? "multipart/form-data; boundary=" + kBoundary : contentType;
  return "POST " + server.WithSecret("/u") + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Upload(CTestServer& server, const std::string& filename, const std::string& content) {
  return RawRequest(server.Port(), PostRequest(server, FilePart(filename, content) + Close()));
}

std::string Body(const std::string& reply) {
  std::string head, body;
  SplitReply(reply, head, body);
  return body;
}

// The reply's entry for a stored file, and the reply that lists that file alone.
std::string Entry(const CTestServer& server, const std::string& name, size_t size, const std::string& type,
                  const std::string& base) {
  return "{\"name\":\"" + name + "\",\"size\":\"" + std::to_string(size) + "\",\"type\":\"" + type + "\",\"url\":\"" +
         server.WithSecret(base + "/tmp/" + name) + "\",\"thumbnail_url\":\"\",\"delete_url\":\"" +
         server.WithSecret(base + "/tmp/" + name) + "\",\"delete_type\":\"DELETE\"}";
}

std::string Reply(const CTestServer& server, const std::string& name, size_t size, const std::string& type,
                  const std::string& base) {
  return "{\"files\":[" + Entry(server, name, size, type, base) + "]}";
}

std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  unsigned x = seed;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

// Sends the request in pieces of the given sizes, pausing after each so that the server reads them
// separately, and returns the whole reply.
std::string SendInPieces(int port, const std::string& request, const std::vector<size_t>& cuts) {
  const int fd = ConnectLoopback(port, [](int s) {
    int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  });
  if (fd < 0) return {};
  size_t pos = 0;
  for (size_t cut : cuts) {
    cut = std::min(cut, request.size());
    if (cut <= pos) continue;
    ::send(fd, request.data() + pos, cut - pos, MSG_NOSIGNAL);
    pos = cut;
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  }
  if (pos < request.size()) ::send(fd, request.data() + pos, request.size() - pos, MSG_NOSIGNAL);
  std::string reply;
  char buf[65536];
  for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) reply.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return reply;
}

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(server.Dir() / "tmp"); }
  std::string Stored(const std::string& name) { return ReadFile(server.Dir() / "tmp" / name); }
  std::vector<std::string> Listing() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(server.Dir() / "tmp")) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  CTestServer server;
};

}  // namespace

TEST_F(UploadTest, OneFileIsStoredAndAnsweredWithTheFixedHeaderAndJson) {
  const std::string reply = Upload(server, "photo.jpg", "JPEGDATA");
  EXPECT_EQ(Stored("photo.jpg"), "JPEGDATA");
  const std::string body = Reply(server, "photo.jpg", 8, "image/jpeg", server.Base());
  // The fixed header, in the HTTP library's order; it closes the connection and says so, where the
  // header used to claim "Connection: Keep-Alive".
  EXPECT_EQ(reply,
            InLibraryOrder("HTTP/1.1 200 OK\r\nServer: Marlix 1.0\r\nX-Powered-By: Dorvane\r\nPragma: no-cache\r\n"
                           "Cache-Control: no-store, no-cache, must-revalidate\r\n"
                           "Content-Disposition: inline; filename=\"files.json\"\r\nX-Content-Type-Options: nosniff\r\n"
                           "Vary: Accept\r\nContent-Length: " +
                           std::to_string(body.size()) +
                           "\r\nKeep-Alive: timeout=15, max=100\r\n"
                           "Content-Type: application/json\r\n\r\n" +
                           body));
  EXPECT_EQ(server.Dialog().ReceivedCounts(), std::vector<int>{1});
  // The bytes as they came, of the request's length; then the file received, stored and counted.
  const std::string of = "/" + std::to_string((FilePart("photo.jpg", "JPEGDATA") + Close()).size());
  EXPECT_EQ(server.Dialog().Events(),
            (std::vector<std::string>{"ProgressShown", "UploadProgress photo.jpg 0" + of,
                                      "UploadProgress photo.jpg 8" + of, "FileReceived tmp/photo.jpg", "ProgressShown",
                                      "FileStored tmp/photo.jpg", "ReceivedCount 1"}));
}

TEST_F(UploadTest, TakenNamesAreNumberedAndNoFileIsEverReplaced) {
  EXPECT_EQ(Body(Upload(server, "photo.jpg", "a")), Reply(server, "photo.jpg", 1, "image/jpeg", server.Base()));
  EXPECT_EQ(Body(Upload(server, "photo.jpg", "bb")), Reply(server, "photo(0).jpg", 2, "image/jpeg", server.Base()));
  EXPECT_EQ(Body(Upload(server, "photo.jpg", "ccc")), Reply(server, "photo(1).jpg", 3, "image/jpeg", server.Base()));
  Upload(server, "README", "one");
  EXPECT_EQ(Body(Upload(server, "README", "two")),
            Reply(server, "README(0)", 3, "application/octet-stream", server.Base()));
  EXPECT_EQ(Stored("photo.jpg"), "a");
  EXPECT_EQ(Stored("photo(0).jpg"), "bb");
  EXPECT_EQ(Stored("photo(1).jpg"), "ccc");
  EXPECT_EQ(Stored("README"), "one");
  EXPECT_EQ(Stored("README(0)"), "two");
}

TEST_F(UploadTest, EmptyFileAndBoundaryTextInsideTheDataAreStoredWhole) {
  EXPECT_EQ(Body(Upload(server, "empty.txt", "")), Reply(server, "empty.txt", 0, "text/plain", server.Base()));
  EXPECT_TRUE(fs::exists(server.Dir() / "tmp/empty.txt"));
  EXPECT_EQ(Stored("empty.txt"), "");

  const std::string tricky = "--" + kBoundary + "\r\n--" + kBoundary.substr(0, 10) + "\n--" + kBoundary + "--\r\n";
  Upload(server, "tricky.bin", tricky);
  EXPECT_EQ(Stored("tricky.bin"), tricky);
}

TEST_F(UploadTest, LargeFileInWritesOfVariedSizesWithTheDelimiterSplitBetweenReads) {
  const std::string data = Pattern(100000, 7);
  const std::string request = PostRequest(server, FilePart("big.bin", data) + Close());
  const size_t delimiterAt = request.find("\r\n--" + kBoundary, request.find("\r\n\r\n") + 4 + 200);
  ASSERT_NE(delimiterAt, std::string::npos);
  const size_t d = kBoundary.size() + 4;
  int run = 0;
  for (size_t inside : {size_t{1}, size_t{2}, size_t{4}, d / 2, d - 1}) {
    std::vector<size_t> cuts;
    size_t pos = 0;
    for (size_t step : {1, 7, 300, 4096, 8191, 8192, 8193, 13, 20000}) cuts.push_back(pos += step);
    cuts.push_back(delimiterAt + inside);
    const std::string reply = SendInPieces(server.Port(), request, cuts);
    const std::string name = run == 0 ? "big.bin" : "big(" + std::to_string(run - 1) + ").bin";
    EXPECT_EQ(Body(reply), Reply(server, name, data.size(), "application/octet-stream", server.Base())) << inside;
    EXPECT_TRUE(Stored(name) == data) << "split " << inside << " bytes into the delimiter";
    ++run;
  }
}

TEST_F(UploadTest, SeveralFilePartsGetOneReplyListingEachInOrder) {
  const std::string reply =
      RawRequest(server.Port(), PostRequest(server, FilePart("a.txt", "first") + FieldPart("note", "hi") +
                                                        FilePart("", "none") + FilePart("b.png", "second") + Close()));
  EXPECT_EQ(Stored("a.txt"), "first");
  EXPECT_EQ(Stored("b.png"), "second");
  // The empty file field is listed as skipped, and the status tells that something failed.
  EXPECT_EQ(reply.rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << reply;
  EXPECT_EQ(Body(reply), "{\"files\":[" + Entry(server, "a.txt", 5, "text/plain", server.Base()) +
                             ",{\"name\":\"\",\"error\":\"no_name\",\"message\":\"A file field holds no file\"}," +
                             Entry(server, "b.png", 6, "image/png", server.Base()) +
                             "],\"error\":\"no_name\",\"message\":\"A file field holds no file\"}");
  EXPECT_EQ(server.Dialog().ReceivedCounts(), std::vector<int>{2});
}

// The error reply of an upload that was not stored: its status line and its JSON code.
void ExpectError(const std::string& reply, const std::string& status, const std::string& code) {
  EXPECT_EQ(reply.rfind("HTTP/1.1 " + status + "\r\n", 0), 0u) << reply;
  EXPECT_NE(reply.find("\r\nContent-Type: application/json\r\n"), std::string::npos) << reply;
  EXPECT_EQ(Body(reply).rfind("{\"error\":\"" + code + "\",\"message\":\"", 0), 0u) << Body(reply);
}

TEST_F(UploadTest, MissingFolderEarlyEndAndPlainGetSaveNothing) {
  // The body ends before the closing delimiter: nothing stays under the name, and the phone is told.
  Upload(server, "kept.txt", "finished earlier");
  const std::string data = Pattern(20000, 3);
  const std::string partial = FilePart("cut.bin", data);
  const std::string request =
      "POST " + server.WithSecret("/u") + " HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + kBoundary +
      "\r\nContent-Length: " + std::to_string(partial.size() - 2) + "\r\n\r\n" + partial.substr(0, partial.size() - 2);
  ExpectError(RawRequest(server.Port(), request), "400 Bad Request", "incomplete");
  // The phone drops off halfway: the connection ends inside the body.
  const std::string whole = PostRequest(server, FilePart("dropped.bin", data) + Close());
  const int fd = ConnectLoopback(server.Port());
  ASSERT_GE(fd, 0);
  ::send(fd, whole.data(), whole.size() / 2, MSG_NOSIGNAL);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ::close(fd);
  for (int i = 0; i < 200 && server.Dialog().ReceivedCounts().size() < 3; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(Listing(), std::vector<std::string>{"kept.txt"});
  EXPECT_EQ(Stored("kept.txt"), "finished earlier");

  EXPECT_EQ(RawRequest(server.Port(), "GET " + server.WithSecret("/u") + " HTTP/1.1\r\nHost: x\r\n\r\n"), "");
  EXPECT_EQ(RawRequest(server.Port(), PostRequest(server, FilePart("a.txt", "x") + Close(), "multipart/form-data")),
            "");

  fs::remove_all(server.Dir() / "tmp");
  ExpectError(Upload(server, "a.txt", "x"), "500 Internal Server Error", "cannot_store");
  EXPECT_FALSE(fs::exists(server.Dir() / "tmp"));
  EXPECT_EQ(server.Dialog().ReceivedCounts(), (std::vector<int>{1, 0, 0, 0, 0, 0}));
}

TEST_F(UploadTest, BoundariesAreReadWholeOrRefused) {
  const auto post = [&](const std::string& boundary, const std::string& typeTail, const std::string& name) {
    const std::string body = "--" + boundary + "\r\ncontent-disposition: form-data; name=\"f\"; filename=\"" + name +
                             "\"\r\nCONTENT-TYPE: text/plain\r\n\r\n" + Pattern(109, 5) + "\r\n--" + boundary +
                             "--\r\n";
    return RawRequest(server.Port(), PostRequest(server, body, "multipart/form-data; " + typeTail));
  };
  const std::string b70(70, 'b'), b71(71, 'b'), b200(200, 'c');
  EXPECT_NE(Body(post(b70, "boundary=" + b70, "70.txt")), "");
  EXPECT_NE(Body(post("X", "boundary=X; charset=UTF-8", "x.txt")), "");
  EXPECT_NE(Body(post("a b:c", "BOUNDARY=\"a b:c\"; charset=UTF-8", "q.txt")), "");
  EXPECT_NE(Body(post("tab", "charset=utf-8;  Boundary=tab ", "t.txt")), "");
  for (const char* name : {"70.txt", "x.txt", "q.txt", "t.txt"}) EXPECT_EQ(Stored(name), Pattern(109, 5)) << name;

  for (const auto& [boundary, tail] : std::vector<std::pair<std::string, std::string>>{
           {b71, "boundary=" + b71},
           {b200, "boundary=" + b200},
           {b200, "boundary=\"" + b200 + "\""},
           {"a\\b", "boundary=\"a\\b\""},
           {"x", "boundary=\"x"},
           {"", "boundary="},
           {"t ", "boundary=\"t \""},
       }) {
    ExpectError(post(boundary, tail, "refused.txt"), "400 Bad Request", "bad_form");
  }
  EXPECT_EQ(Listing(), (std::vector<std::string>{"70.txt", "q.txt", "t.txt", "x.txt"}));
}

TEST_F(UploadTest, FullDiskKeepsFinishedFilesAndLeavesNoPartialOne) {
  const CSmallDisk disk((server.Dir() / "tmp").string(), 8 << 20);
  if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs is not allowed here";
  Upload(server, "first.txt", "safe");
  // A declared length that does not fit is refused before anything is written.
  ExpectError(Upload(server, "six.bin", Pattern(6 << 20, 1)), "507 Insufficient Storage", "disk_full");
  EXPECT_EQ(Listing(), std::vector<std::string>{"first.txt"});

  // Without a declared length the disk fills during the write: the partial file goes.
  const std::string body = FilePart("twelve.bin", Pattern(12 << 20, 2)) + Close();
  std::string chunked = "POST " + server.WithSecret("/u") +
                        " HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=" + kBoundary +
                        "\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (size_t at = 0; at < body.size(); at += 65536) {
    const size_t n = std::min<size_t>(65536, body.size() - at);
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", n);
    chunked += size + body.substr(at, n) + "\r\n";
  }
  chunked += "0\r\n\r\n";
  ExpectError(RawRequest(server.Port(), chunked), "507 Insufficient Storage", "disk_full");
  EXPECT_EQ(Listing(), std::vector<std::string>{"first.txt"});
  EXPECT_EQ(Stored("first.txt"), "safe");
  // The room is free again for the next upload.
  EXPECT_NE(Body(Upload(server, "after.bin", Pattern(2 << 20, 3))), "");
  EXPECT_EQ(Stored("after.bin"), Pattern(2 << 20, 3));
}

TEST_F(UploadTest, PartHeaderBlockMustEndWithinTheFirst8192Bytes) {
  const auto padded = [&](const std::string& filename, size_t blockSize) {
    const std::string head = "Content-Disposition: form-data; name=\"file\"; filename=\"" + filename + "\"\r\nX-Pad: ";
    const std::string block = head + std::string(blockSize - head.size() - 4, 'p') + "\r\n\r\n";
    EXPECT_EQ(block.size(), blockSize);
    return "--" + kBoundary + "\r\n" + block + Pattern(50000, 9) + "\r\n" + Close();
  };
  EXPECT_NE(Body(RawRequest(server.Port(), PostRequest(server, padded("fits.bin", 8192)))), "");
  EXPECT_EQ(Stored("fits.bin"), Pattern(50000, 9));
  ExpectError(RawRequest(server.Port(), PostRequest(server, padded("over.bin", 8193))), "400 Bad Request", "bad_form");
  EXPECT_EQ(Listing(), std::vector<std::string>{"fits.bin"});
}

TEST_F(UploadTest, SizesOfTwoGibibytesAndMoreAreRight) {
  // Told of the file received, before its entry is made, a sink grows it (sparsely) past 4 GiB.
  struct CGrower : CMainDialogView {
    std::string Home;
    void Report(const CViewEvent& e) override {
      if (e.Id == ViewEventId::FileReceived) {
        EXPECT_EQ(::truncate((Home + "/" + e.Name).c_str(), 5'000'000'000LL), 0);
      }
    }
  } grower;
  grower.Home = server.State().Home;
  server.State().Events.Attach(&grower);
  EXPECT_EQ(Body(Upload(server, "huge.mp4", "x")),
            Reply(server, "huge.mp4", 5'000'000'000ULL, "video/mp4", server.Base()));
  server.State().Events.Attach(&server.Dialog());
}

TEST_F(UploadTest, QuotedBoundaryAndCloudModeWithEmptyReply) {
  SharedState& state = server.State();
  state.SelectedMode = ReachMode::Cloud;  // told by the front end
  const std::string reply =
      RawRequest(server.Port(), PostRequest(server, FilePart("q.txt", "quoted") + Close(),
                                            "multipart/form-data; boundary=\"" + kBoundary + "\"; charset=utf-8"));
  EXPECT_NE(reply.find("\r\nContent-Length: 0\r\n"), std::string::npos);
  EXPECT_EQ(Body(reply), "");
  EXPECT_EQ(Stored("q.txt"), "quoted");

  state.SelectedMode = ReachMode::Wan;
  state.ExternalAddress.Set("198.51.100.7");
  EXPECT_EQ(Body(Upload(server, "w.txt", "wan")),
            Reply(server, "w.txt", 3, "text/plain", "http://198.51.100.7:" + state.PortText));
}

TEST_F(UploadTest, DeleteRemovesOnlyFilesDirectlyInsideTmp) {
  Upload(server, "photo.jpg", "a");
  Upload(server, "photo.jpg", "b");
  WriteFile(server.Dir() / "keep.txt", "k");
  WriteFile(server.Dir() / "tmp/sub/inner.txt", "i");
  // Only a removal is answered {"success":true}; anything else gets the missing-file reply.
  const auto del = [&](const std::string& target, bool removes) {
    const std::string reply =
        RawRequest(server.Port(), "DELETE " + server.WithSecret(target) + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(reply.find("\r\nContent-Length: 16\r\n") != std::string::npos, removes) << target;
    EXPECT_EQ(Body(reply), removes ? "{\"success\":true}" : "") << target;
  };
  del("/tmp/photo(0).jpg", true);
  EXPECT_FALSE(fs::exists(server.Dir() / "tmp/photo(0).jpg"));
  del("/tmp/photo(0).jpg", false);
  EXPECT_TRUE(fs::exists(server.Dir() / "tmp/photo.jpg"));

  for (const char* outside : {"/keep.txt", "/tmp/../keep.txt", "/tmp/%2e%2e/keep.txt", "/tmp/sub/inner.txt", "/tmp/sub",
                              "/tmp", "/tmp/", "/tmp/%2Fkeep.txt", "/f?t=x", "/tmp/..%5ckeep.txt"}) {
    del(outside, false);
  }
  EXPECT_TRUE(fs::exists(server.Dir() / "keep.txt"));
  EXPECT_TRUE(fs::exists(server.Dir() / "tmp/sub/inner.txt"));
  EXPECT_TRUE(fs::exists(server.Dir() / "tmp/photo.jpg"));
}

TEST_F(UploadTest, HostileNamesStayInsideTmpAndTheReplyStaysValidJson) {
  fs::create_directory(server.Dir() / "tmp/dir");
  struct Case {
    std::string sent;
    std::string stored;  // empty: refused
  };
  const std::string longName = std::string(300, 'x') + ".txt";
  std::string chinese;
  for (int i = 0; i < 100; ++i) chinese += "文";
  const std::vector<Case> cases = {
      {"../../escape.txt", "escape.txt"},
      {"..\\..\\win.txt", "win.txt"},
      {"C:\\fakepath\\photo.png", "photo.png"},
      {"/etc/passwd", "passwd"},
      {"..", ""},
      {"...", ""},
      {"a/", ""},
      {"quote\\\"d.txt", "quote\"d.txt"},  // an escaped quote is part of the name
      {"dir", "dir(0)"},
      {"tab\x7fname.txt", "tab_name.txt"},
      {".profile", "_.profile"},
      {"bad\xff\xfe.txt", "bad__.txt"},
      {"50%#?.txt", "50%#?.txt"},
      {longName, std::string(236, 'x') + ".txt"},
  };
  for (const Case& c : cases) {
    const std::string reply = Upload(server, c.sent, "data");
    if (c.stored.empty()) {
      ExpectError(reply, "500 Internal Server Error", "cannot_store");
      continue;
    }
    EXPECT_EQ(Stored(c.stored), "data") << c.sent;
    const std::string base = server.Base() + "/tmp/";
    if (c.stored == "50%#?.txt") {
      EXPECT_NE(Body(reply).find("\"url\":\"" + server.WithSecret(base + "50%25%23%3F.txt") + "\""), std::string::npos)
          << Body(reply);
      // The address in the reply fetches and deletes exactly that file.
      const std::string got =
          RawRequest(server.Port(), "GET " + server.WithSecret("/tmp/50%25%23%3F.txt") + " HTTP/1.0\r\n\r\n");
      EXPECT_EQ(Body(got), "data");
    }
  }
  // The long Chinese name is shortened at a character boundary, keeping its extension, and the reply
  // stays within 1023 bytes.
  const std::string reply = Upload(server, chinese + ".jpg", "zh");
  const std::string body = Body(reply);
  EXPECT_LE(body.size(), 1023u);
  const size_t start = body.find("\"name\":\"") + 8;
  const std::string stored = body.substr(start, body.find('"', start) - start);
  EXPECT_EQ(stored.size() % 3, 1u);  // whole three-byte characters and ".jpg"
  EXPECT_EQ(stored.substr(stored.size() - 4), ".jpg");
  EXPECT_EQ(Stored(stored), "zh");

  // Only files inside tmp were made; nothing escaped to the working directory or above it.
  std::set<std::string> top;
  for (const auto& e : fs::directory_iterator(server.Dir())) top.insert(e.path().filename());
  EXPECT_EQ(top, std::set<std::string>{"tmp"});
  EXPECT_FALSE(fs::exists(server.Dir().parent_path() / "escape.txt"));
}

namespace {

size_t Discard(char*, size_t size, size_t n, void*) { return size * n; }

}  // namespace

TEST_F(UploadTest, FiftyConcurrentUploadsOfOneNameAllArriveUnderFiftyNames) {
  constexpr int kUploads = 50;
  std::vector<std::string> contents;
  for (int i = 0; i < kUploads; ++i) contents.push_back(Pattern(30000 + static_cast<size_t>(i) * 977, 100u + i));
  std::vector<std::thread> threads;
  std::vector<long> statuses(kUploads, 0);
  const std::string url = server.Base() + server.WithSecret("/u");
  for (int i = 0; i < kUploads; ++i) {
    threads.emplace_back([&, i] {
      CURL* curl = curl_easy_init();
      curl_mime* mime = curl_mime_init(curl);
      curl_mimepart* part = curl_mime_addpart(mime);
      curl_mime_name(part, "file");
      curl_mime_filename(part, "same.dat");
      curl_mime_data(part, contents[i].data(), contents[i].size());
      curl_slist* headers = curl_slist_append(nullptr, "Expect:");
      curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
      // From fifty phones: one address may hold only a few of the workers at once.
      const std::string phone = "host!127.0.1." + std::to_string(i + 1);
      curl_easy_setopt(curl, CURLOPT_INTERFACE, phone.c_str());
      curl_easy_setopt(curl, CURLOPT_MIMEPOST, mime);
      curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
      curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Discard);
      curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
      if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &statuses[i]);
      curl_slist_free_all(headers);
      curl_mime_free(mime);
      curl_easy_cleanup(curl);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(statuses, std::vector<long>(kUploads, 200));
  std::multiset<std::string> expected(contents.begin(), contents.end());
  std::multiset<std::string> stored;
  for (const std::string& name : Listing()) stored.insert(Stored(name));
  EXPECT_EQ(Listing().size(), static_cast<size_t>(kUploads));
  EXPECT_TRUE(stored == expected);
}

// The window's bar as a phone's upload arrives, by the multipart receiver and by the upload page's
// resumable pieces: events in bytes of the file as it comes, named as sent, at most one a percent,
// then the stored file.
TEST_F(UploadTest, ProgressIsReportedInBytesAsTheFileArrives) {
  const std::string data = Pattern(3 << 20, 11);
  const auto exchange = [&](const std::string& method, const std::string& target, const std::string& body) {
    return RawRequest(server.Port(), method + " " + server.WithSecret(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  };
  struct Case {
    std::string name;
    bool resumable;
  } cases[] = {{"multi.bin", false}, {"resumed.bin", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int64_t total = static_cast<int64_t>(data.size());
    if (c.resumable) {
      // Started, then sent in three pieces of one MiB.
      const std::string started =
          Body(exchange("POST", "/r?name=" + c.name + "&size=" + std::to_string(data.size()) + "&mtime=1", ""));
      const size_t at = started.find("\"id\":\"");
      ASSERT_NE(at, std::string::npos) << started;
      const std::string id = started.substr(at + 6, started.find('"', at + 6) - at - 6);
      for (size_t offset = 0; offset < data.size(); offset += 1 << 20)
        exchange("PUT", "/r?id=" + id + "&offset=" + std::to_string(offset), data.substr(offset, 1 << 20));
    } else {
      const std::string body = FilePart(c.name, data) + Close();
      total = static_cast<int64_t>(body.size());  // the request's declared length
      RawRequest(server.Port(), PostRequest(server, body));
    }
    EXPECT_EQ(Stored(c.name), data);
    std::vector<CViewEvent> progress;
    for (const CViewEvent& e : server.Dialog().Reports(ViewEventId::UploadProgress))
      if (e.Name == c.name) progress.push_back(e);
    ASSERT_GE(progress.size(), 10u);   // the bar moves as the pieces are written
    EXPECT_LE(progress.size(), 101u);  // at most once a percent
    EXPECT_EQ(progress.front().Done, 0);
    for (size_t i = 1; i < progress.size(); ++i) EXPECT_GT(PercentDone(progress[i]), PercentDone(progress[i - 1]));
    // The last event is the last whole percent reached: the file's end for the resumable file; for
    // the multipart body (whose total counts its headers too) somewhere within its last percent.
    if (c.resumable) {
      EXPECT_EQ(progress.back().Done, total);
    }
    EXPECT_GE(PercentDone(progress.back()), 99);
    for (const CViewEvent& e : progress) EXPECT_EQ(e.Total, total);
    const std::vector<std::string> events = server.Dialog().Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "FileStored tmp/" + c.name), events.end());
  }
}
