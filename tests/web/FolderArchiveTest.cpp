// The folder archive download through the real server: packed once per folder and run, sent while it
// is packed to HTTP/1.1 clients (libcurl) and shared by concurrent requests, one archive per folder,
// other files left alone, a failed packing never sent as whole, nothing left at shutdown.

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "app/SharedState.h"
#include "support/SmallDisk.h"
#include "support/TestEnv.h"
#include "zip/ZipCheck.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

std::string Header(const std::string& head, const std::string& name) {
  const size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return {};
  const size_t start = at + name.size() + 4;
  return head.substr(start, head.find("\r\n", start) - start);
}

struct CDownload {
  std::string head, body;
};

CDownload Download(CTestServer& server, const std::string& token) {
  CDownload d;
  SplitReply(RawRequest(server.Port(), "GET /z?t=" + token + " HTTP/1.0\r\n\r\n"), d.head, d.body);
  return d;
}

// The archives listed for deletion, by their names in the working directory.
std::vector<std::string> Listed(CTestServer& server) {
  std::lock_guard<std::mutex> lock(server.State().TempArchiveLock);
  std::vector<std::string> names;
  for (const std::string& path : server.State().TempArchiveList)
    names.push_back(std::filesystem::path(path).lexically_relative(server.Dir()).string());
  return names;
}

std::vector<std::string> NamesOf(const CDownload& d, const std::string& file) {
  WriteFile(file, d.body);
  const CPyArchive py = InspectWithPython(file);
  EXPECT_TRUE(py.readable) << py.status;
  EXPECT_TRUE(UnzipTestsClean(file));
  return py.Names();
}

// A download by libcurl over HTTP/1.1, as a phone's browser makes it; `onFirstBytes` runs once, when
// the first body bytes arrive.
struct CCurlDownload {
  CURLcode result = CURLE_OK;
  std::string head, body;
  std::function<void()> onFirstBytes;
};

size_t KeepHead(char* data, size_t size, size_t n, void* to) {
  static_cast<CCurlDownload*>(to)->head.append(data, size * n);
  return size * n;
}
size_t KeepBody(char* data, size_t size, size_t n, void* to) {
  auto* d = static_cast<CCurlDownload*>(to);
  if (d->body.empty() && d->onFirstBytes) d->onFirstBytes();
  d->body.append(data, size * n);
  return size * n;
}

void CurlGet(CTestServer& server, const std::string& token, CCurlDownload& d) {
  CURL* curl = curl_easy_init();
  const std::string url = server.Base() + "/z?t=" + token;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &KeepHead);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &d);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &KeepBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &d);
  d.result = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
}

// A folder of `names` text files of 16 MB, one file on disk under many names: slow to pack.
fs::path MakeLargeFolder(const fs::path& folder, int names) {
  std::string text;
  for (uint64_t i = 0; text.size() < (16u << 20); ++i) text += "line " + std::to_string(i * 2654435761u) + "\n";
  WriteFile(folder / "t00.txt", text);
  for (int i = 1; i < names; ++i)
    fs::create_hard_link(folder / "t00.txt", folder / std::string("t").append(std::to_string(i)).append(".txt"));
  return folder;
}

std::vector<std::string> ZipFilesIn(const fs::path& dir) {
  std::vector<std::string> v;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".zip") v.push_back(e.path().filename().string());
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace

TEST(FolderArchive, FirstRequestPacksLaterOnesReuseAndShutdownDeletes) {
  CTestServer server;
  const fs::path outside = server.Dir() / "elsewhere";  // shared folders lie outside the working directory
  WriteFile(outside / "Trip/a.jpg", "jpeg bytes");
  WriteFile(outside / "Trip/sub/b.txt", std::string(20000, 'b'));
  server.State().InsertItem("1A2B3C4D", (outside / "Trip").string());
  server.State().InsertItem("0000AAAA", (outside / "Trip").string());  // the same folder shared twice

  const CDownload first = Download(server, "1A2B3C4D");
  EXPECT_EQ(first.head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << first.head;
  EXPECT_EQ(Header(first.head, "Content-Type"), "application/x-zip-compressed");
  EXPECT_EQ(Header(first.head, "Content-Disposition"), "attachment;filename=\"Trip.zip\";filename*=UTF-8''Trip.zip");
  EXPECT_EQ(Header(first.head, "Content-Length"), std::to_string(first.body.size()));
  EXPECT_EQ(NamesOf(first, outside / "first.zip"), (std::vector<std::string>{"a.jpg", "sub/", "sub/b.txt"}));
  EXPECT_EQ(Listed(server), std::vector<std::string>{"Trip.zip"});
  EXPECT_EQ(ReadFile(server.Dir() / "Trip.zip"), first.body);

  // The window was told of the packing and of its end with nothing left out, then the archive's
  // bytes went out to its end.
  EXPECT_TRUE(server.Dialog().WaitFor(ViewEventId::DownloadProgress, static_cast<int64_t>(first.body.size())));
  const std::vector<std::string> events = server.Dialog().Events();
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 3),
            (std::vector<std::string>{"ProgressShown", "PackingStarted", "PackingFinished 0"}));
  EXPECT_EQ(events.back(),
            "DownloadProgress " + std::to_string(first.body.size()) + "/" + std::to_string(first.body.size()));

  // Later requests, by either token, get the same archive even though the folder changed.
  WriteFile(outside / "Trip/new.txt", "added later");
  EXPECT_EQ(Download(server, "1A2B3C4D").body, first.body);
  EXPECT_EQ(Download(server, "0000AAAA").body, first.body);
  EXPECT_EQ(Listed(server), std::vector<std::string>{"Trip.zip"});
  EXPECT_EQ(server.State().DownloadCount.load(), 3);

  // Unknown tokens and malformed queries get no reply.
  EXPECT_EQ(RawRequest(server.Port(), "GET /z?t=FFFFFFFF HTTP/1.0\r\n\r\n"), "");
  EXPECT_EQ(RawRequest(server.Port(), "GET /z?1A2B3C4D HTTP/1.0\r\n\r\n"), "");

  server.Stop();
  server.State().DeleteTempArchives();
  EXPECT_TRUE(ZipFilesIn(server.Dir()).empty());
}

TEST(FolderArchive, ConcurrentFirstRequestsBothGetTheWholeArchivePackedOnce) {
  CTestServer server;
  // Enough text that packing takes a while.
  std::string text;
  for (uint64_t i = 0; text.size() < 6 * 1024 * 1024; ++i) text += "row " + std::to_string(i * 7919 % 100003) + "\n";
  for (int i = 0; i < 4; ++i)
    WriteFile(server.Dir() / "src/Big" / std::string("f").append(std::to_string(i)).append(".txt"), text);
  server.State().InsertItem("00000001", (server.Dir() / "src/Big").string());
  CDownload a, b;
  std::thread ta([&] { a = Download(server, "00000001"); });
  std::thread tb([&] { b = Download(server, "00000001"); });
  ta.join();
  tb.join();
  ASSERT_FALSE(a.body.empty());
  EXPECT_EQ(a.body, b.body);
  EXPECT_EQ(Header(b.head, "Content-Length"), std::to_string(b.body.size()));
  EXPECT_EQ(NamesOf(a, server.Dir() / "src/a.zip").size(), 4u);
  EXPECT_EQ(Listed(server), std::vector<std::string>{"Big.zip"});
  // Each request told of its packing (or its wait for it) and of its end: the window puts its caption
  // back after the last.
  EXPECT_EQ(server.Dialog().Reports(ViewEventId::PackingStarted).size(), 2u);
  const std::vector<CViewEvent> finished = server.Dialog().Reports(ViewEventId::PackingFinished);
  ASSERT_EQ(finished.size(), 2u);
  EXPECT_EQ(finished[0].Count + finished[1].Count, 0);
  // The core counts the packings under way, in the order it tells of them.
  int underWay = 0;
  for (const CViewEvent& e : server.Dialog().Reports()) {
    if (e.Id == ViewEventId::PackingStarted || e.Id == ViewEventId::PackingFinished) {
      underWay += e.Id == ViewEventId::PackingStarted ? 1 : -1;
      EXPECT_EQ(e.Packings, underWay);
    }
  }
}

TEST(FolderArchive, FoldersOfTheSameNameGetTheirOwnArchivesAndForeignFilesAreLeftAlone) {
  CTestServer server;
  const fs::path outside = server.Dir() / "elsewhere";
  WriteFile(outside / "a/Docs/one.txt", "one");
  WriteFile(outside / "b/Docs/two.txt", "two");
  server.State().InsertItem("AAAAAAAA", (outside / "a/Docs").string());
  server.State().InsertItem("BBBBBBBB", (outside / "b/Docs").string());
  // A file at the archive's path that this run did not make: left from a crash, or the user's.
  WriteFile(server.Dir() / "Docs.zip", "the user's own file");

  const CDownload a = Download(server, "AAAAAAAA");
  const CDownload b = Download(server, "BBBBBBBB");
  EXPECT_EQ(Header(a.head, "Content-Disposition"), "attachment;filename=\"Docs.zip\";filename*=UTF-8''Docs.zip");
  EXPECT_EQ(Header(b.head, "Content-Disposition"), Header(a.head, "Content-Disposition"));
  EXPECT_EQ(NamesOf(a, outside / "a.zip"), std::vector<std::string>{"one.txt"});
  EXPECT_EQ(NamesOf(b, outside / "b.zip"), std::vector<std::string>{"two.txt"});
  EXPECT_EQ(Download(server, "AAAAAAAA").body, a.body);
  EXPECT_EQ(Download(server, "BBBBBBBB").body, b.body);
  const auto listed = Listed(server);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_NE(listed[0], listed[1]);
  EXPECT_EQ(ReadFile(server.Dir() / "Docs.zip"), "the user's own file");

  server.Stop();
  server.State().DeleteTempArchives();
  EXPECT_EQ(ZipFilesIn(server.Dir()), std::vector<std::string>{"Docs.zip"});
  EXPECT_EQ(ReadFile(server.Dir() / "Docs.zip"), "the user's own file");
}

TEST(FolderArchive, AttachmentNameCannotBreakTheHeaderAndCarriesUtf8) {
  CTestServer server;
  const fs::path outside = server.Dir() / "elsewhere";
  const std::string evil = "a\"b\r\nX-Evil: 1";
  WriteFile(outside / evil / "f.txt", "f");
  WriteFile(outside / "照片/猫.jpg", "cat");
  server.State().InsertItem("EEEEEEEE", (outside / evil).string());
  server.State().InsertItem("CCCCCCCC", (outside / "照片").string());

  const CDownload e = Download(server, "EEEEEEEE");
  EXPECT_EQ(e.head.find("\r\nX-Evil"), std::string::npos);  // no header line of its own
  EXPECT_EQ(Header(e.head, "Content-Disposition"),
            "attachment;filename=\"a\\\"b__X-Evil: 1.zip\";filename*=UTF-8''a%22b%0D%0AX-Evil%3A%201.zip");
  EXPECT_EQ(NamesOf(e, outside / "e.zip"), std::vector<std::string>{"f.txt"});

  const CDownload c = Download(server, "CCCCCCCC");
  EXPECT_EQ(Header(c.head, "Content-Disposition"),
            "attachment;filename=\"照片.zip\";filename*=UTF-8''%E7%85%A7%E7%89%87.zip");
  EXPECT_EQ(NamesOf(c, outside / "c.zip"), std::vector<std::string>{"猫.jpg"});
  EXPECT_TRUE(fs::exists(server.Dir() / "照片.zip"));
}

// An archive past 4 GiB, from sparse files that are stored: ZIP64 sizes, offsets and end records,
// a 64-bit Content-Length, and the archive read back whole by Python's zipfile.
TEST(FolderArchive, ArchiveOverFourGiBUsesZip64AndIsSentWhole) {
  CTestServer server;
  const fs::path folder = server.Dir() / "src/Huge";
  fs::create_directories(folder);
  const uint64_t big = (4ull << 30) + 4096;
  for (const char* name : {"disk.gz"}) {
    const int fd = ::open((folder / name).c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "head", 4, 0), 4);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(big)), 0);
    ::close(fd);
  }
  WriteFile(folder / "z-after.txt", "an entry past 4 GiB");
  server.State().InsertItem("44444444", folder.string());

  // Stream the reply, keeping the header, the byte count and the end.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(server.Port()));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const std::string request = "GET /z?t=44444444 HTTP/1.0\r\n\r\n";
  ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  // The header, then the body counted without copying it out of the kernel.
  std::string head;
  uint64_t bodyBytes = 0;
  char c;
  while (head.find("\r\n\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1) head += c;
  for (;;) {
    const ssize_t n = ::recv(fd, nullptr, 1 << 24, MSG_TRUNC);
    if (n <= 0) break;
    bodyBytes += static_cast<uint64_t>(n);
  }
  ::close(fd);
  const fs::path archive = server.Dir() / "Huge.zip";
  const uint64_t size = fs::file_size(archive);
  EXPECT_GT(size, big);
  EXPECT_EQ(Header(head, "Content-Length"), std::to_string(size));
  EXPECT_EQ(bodyBytes, size);
  std::string tail(4096, '\0');
  const int in = ::open(archive.c_str(), O_RDONLY);
  ASSERT_EQ(::pread(in, tail.data(), tail.size(), static_cast<off_t>(size - tail.size())), 4096);
  ::close(in);
  EXPECT_EQ(tail.substr(tail.size() - 22, 4), std::string("PK\x05\x06", 4));
  EXPECT_NE(tail.find(std::string("PK\x06\x06", 4)), std::string::npos);

  const CPyArchive py = InspectWithPython((server.Dir() / "Huge.zip").string());
  ASSERT_TRUE(py.readable) << py.status;
  ASSERT_EQ(py.entries.size(), 2u);
  EXPECT_EQ(py.entries[0].name, "disk.gz");
  EXPECT_EQ(py.entries[0].method, 0);
  EXPECT_EQ(py.entries[0].size, big);
  EXPECT_EQ(py.entries[0].needed, 45);
  EXPECT_EQ(py.entries[1].name, "z-after.txt");
  EXPECT_GT(py.entries[1].offset, 4ull << 30);
  EXPECT_EQ(py.entries[1].needed, 45);
  EXPECT_EQ(py.entries[1].method, 8);

  server.Stop();
  server.State().DeleteTempArchives();
  EXPECT_FALSE(fs::exists(server.Dir() / "Huge.zip"));
}

TEST(FolderArchive, UnreadableEntriesAreLeftOutAndCountedOnTheCaptionAndFileTokensGetNoArchive) {
  CTestServer server;
  const fs::path folder = server.Dir() / "src/Mixed";
  WriteFile(folder / "a.txt", "a");
  WriteFile(folder / "z.txt", "z");
  fs::create_symlink("/nonexistent", folder / "m-link");
  fs::create_symlink("/nonexistent", folder / "n-link");
  server.State().InsertItem("11111111", folder.string());
  server.State().InsertItem("22222222", (folder / "a.txt").string());

  const CDownload d = Download(server, "11111111");
  EXPECT_EQ(d.head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
  EXPECT_EQ(NamesOf(d, server.Dir() / "src/out.zip"), (std::vector<std::string>{"a.txt", "z.txt"}));
  EXPECT_EQ(server.Dialog().Reports(ViewEventId::PackingFinished).back().Count, 2);

  // A file's token: nothing packed, nothing answered, as for an unknown token.
  EXPECT_EQ(RawRequest(server.Port(), "GET /z?t=22222222 HTTP/1.0\r\n\r\n"), "");
  EXPECT_EQ(ZipFilesIn(server.Dir()), std::vector<std::string>{"Mixed.zip"});
  EXPECT_EQ(Listed(server), std::vector<std::string>{"Mixed.zip"});
}

TEST(FolderArchive, ArchiveNotWrittenWholeIsNeverSentAndTheNextRequestPacksAgain) {
  CTestServer server;
  const fs::path small = server.Dir() / "small";
  CSmallDisk disk(small.string(), 1 << 20);
  if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs is not allowed here";
  std::string noise(3 << 20, '\0');
  unsigned x = 7;
  for (char& c : noise) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
  WriteFile(server.Dir() / "src/Full/noise.bin", noise);
  server.State().InsertItem("33333333", (server.Dir() / "src/Full").string());
  server.State().Home = small.string();  // archives are made in the working directory, here on the small disk

  const CDownload full = Download(server, "33333333");
  EXPECT_EQ(full.head.rfind("HTTP/1.0 507 Insufficient Storage\r\n", 0), 0u) << full.head;
  EXPECT_EQ(Header(full.head, "Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(full.body.find("The PC's disk is full"), std::string::npos);
  EXPECT_TRUE(ZipFilesIn(small).empty());

  // Sent while it is packed: 256 MiB of zeros pack slowly into little, then the noise fills the disk.
  // The reply had begun, so it is broken off: a failed transfer, never a whole-looking archive.
  const fs::path slow = server.Dir() / "src/Slow";
  WriteFile(slow / "z-noise.bin", noise);
  const int zeros = ::open((slow / "a-zeros.bin").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(::ftruncate(zeros, 256 << 20), 0);
  ::close(zeros);
  server.State().InsertItem("34343434", slow.string());
  CCurlDownload streamed;
  CurlGet(server, "34343434", streamed);
  EXPECT_EQ(streamed.head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << streamed.head;
  EXPECT_NE(streamed.result, CURLE_OK);
  EXPECT_TRUE(ZipFilesIn(small).empty());

  ASSERT_TRUE(disk.Resize(16 << 20));
  const CDownload later = Download(server, "33333333");
  EXPECT_EQ(later.head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << later.head;
  EXPECT_EQ(NamesOf(later, server.Dir() / "src/later.zip"), std::vector<std::string>{"noise.bin"});
  EXPECT_EQ(Listed(server), (std::vector<std::string>{"small/Full.zip", "small/Slow.zip"}));
}

TEST(FolderArchive, StoppingWhilePackingEndsWithinTwoSecondsAndLeavesNoArchive) {
  CTestServer server;
  // About 800 MB to pack from 16 MB on disk.
  server.State().InsertItem("55555555", MakeLargeFolder(server.Dir() / "src/Large", 50).string());

  std::string reply = "unset";
  std::thread phone([&] { reply = RawRequest(server.Port(), "GET /z?t=55555555 HTTP/1.0\r\n\r\n"); });
  for (int i = 0; i < 500 && server.Dialog().Reports(ViewEventId::PackingStarted).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  server.Stop();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  phone.join();
  EXPECT_LT(seconds, 2.0);
  EXPECT_EQ(reply, "");
  EXPECT_TRUE(ZipFilesIn(server.Dir()).empty());
  server.State().DeleteTempArchives();
}

// A phone on HTTP/1.1 gets the first bytes while the folder is still being packed (the caption still
// says so), and a stop during that stream ends within 2 s, breaks the reply off and leaves no archive.
TEST(FolderArchive, FirstBytesLeaveWhilePackingAndAStopBreaksTheStreamOff) {
  CTestServer server;
  server.State().InsertItem("66666666", MakeLargeFolder(server.Dir() / "src/Large", 50).string());  // about 800 MB
  std::promise<bool> packingAtFirstBytes;  // told started, not yet finished
  CCurlDownload d;
  d.onFirstBytes = [&] {
    packingAtFirstBytes.set_value(server.Dialog().Reports(ViewEventId::PackingStarted).size() == 1 &&
                                  server.Dialog().Reports(ViewEventId::PackingFinished).empty());
  };
  std::thread phone([&] {
    CurlGet(server, "66666666", d);
    if (d.body.empty()) packingAtFirstBytes.set_value(false);  // no bytes came
  });
  const bool packing = packingAtFirstBytes.get_future().get();
  const auto start = std::chrono::steady_clock::now();
  server.Stop();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  phone.join();
  EXPECT_TRUE(packing);
  EXPECT_EQ(d.head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << d.head;
  EXPECT_NE(d.head.find("Transfer-Encoding: chunked\r\n"), std::string::npos) << d.head;
  EXPECT_EQ(d.body.substr(0, 4), std::string("PK\x03\x04", 4));
  EXPECT_NE(d.result, CURLE_OK);
  EXPECT_LT(seconds, 2.0);
  EXPECT_TRUE(ZipFilesIn(server.Dir()).empty());
  server.State().DeleteTempArchives();
}

// Phones that ask while the folder is packed share that one packing and all receive exactly the kept
// archive; the next request gets that archive as a file, with its length, validators and ranges.
TEST(FolderArchive, StreamedArchiveIsTheKeptOneSharedByConcurrentRequestsThenSentAsAFile) {
  CTestServer server;
  const fs::path folder = MakeLargeFolder(server.Dir() / "src/Big", 3);  // about 50 MB
  WriteFile(folder / "sub/small.txt", "small");
  server.State().InsertItem("77777777", folder.string());
  const fs::path kept = server.Dir() / "Big.zip";

  CCurlDownload a, b, c;
  int keptFd = -1;  // the file being written when the first bytes went out
  std::thread tb, tc;
  a.onFirstBytes = [&] {
    keptFd = ::open(kept.c_str(), O_RDONLY | O_CLOEXEC);
    tb = std::thread([&] { CurlGet(server, "77777777", b); });
    tc = std::thread([&] { CurlGet(server, "77777777", c); });
  };
  CurlGet(server, "77777777", a);
  tb.join();
  tc.join();
  ASSERT_GE(keptFd, 0);
  struct stat st {};
  ASSERT_EQ(::fstat(keptFd, &st), 0);
  ::close(keptFd);
  EXPECT_EQ(st.st_nlink, 1u);  // still the kept archive: nothing deleted it to pack again

  const std::string archive = ReadFile(kept);
  EXPECT_NE(a.head.find("Transfer-Encoding: chunked\r\n"), std::string::npos) << a.head;
  for (const CCurlDownload* d : {&a, &b, &c}) {
    EXPECT_EQ(d->result, CURLE_OK);
    EXPECT_TRUE(d->body == archive);
  }
  EXPECT_EQ(NamesOf(CDownload{a.head, a.body}, server.Dir() / "src/a.zip").size(), 5u);
  EXPECT_EQ(Listed(server), std::vector<std::string>{"Big.zip"});
  EXPECT_EQ(server.State().DownloadCount.load(), 3);
  // Every request that told of the packing also told of its end.
  EXPECT_EQ(server.Dialog().Reports(ViewEventId::PackingFinished).size(),
            server.Dialog().Reports(ViewEventId::PackingStarted).size());

  CDownload whole;
  SplitReply(RawRequest(server.Port(), "GET /z?t=77777777 HTTP/1.1\r\nHost: x\r\n\r\n"), whole.head, whole.body);
  EXPECT_EQ(Header(whole.head, "Content-Length"), std::to_string(archive.size()));
  EXPECT_EQ(Header(whole.head, "Accept-Ranges"), "bytes");
  EXPECT_FALSE(Header(whole.head, "ETag").empty());
  EXPECT_TRUE(whole.body == archive);
  CDownload part;
  SplitReply(RawRequest(server.Port(), "GET /z?t=77777777 HTTP/1.1\r\nHost: x\r\nRange: bytes=100-199\r\n\r\n"),
             part.head, part.body);
  EXPECT_EQ(part.head.rfind("HTTP/1.0 206 Partial Content\r\n", 0), 0u) << part.head;
  EXPECT_EQ(part.body, archive.substr(100, 100));
}
