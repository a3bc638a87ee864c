// Partial replies: the Range parser, and every file route of the real server answering Range and
// If-Range, with the download count, the progress bar, and curl resuming a download that broke off.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "app/SharedState.h"
#include "support/TestEnv.h"
#include "web/http/ByteRange.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

std::string Request(const CTestServer& server, const std::string& target, const std::string& headers = {}) {
  return RawRequest(server.Port(), "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + headers + "\r\n");
}

std::string Header(const std::string& reply, const std::string& name) {
  const size_t at = reply.find("\r\n" + name + ": ");
  if (at == std::string::npos || at > reply.find("\r\n\r\n")) return {};
  const size_t start = at + name.size() + 4;
  return reply.substr(start, reply.find("\r\n", start) - start);
}

std::string Body(const std::string& reply) {
  std::string head, body;
  SplitReply(reply, head, body);
  return body;
}

std::string Status(const std::string& reply) { return reply.substr(0, reply.find("\r\n")); }

std::string RandomBytes(size_t n) {
  std::mt19937 gen(7);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

}  // namespace

TEST(ByteRange, ParsesTheThreeFormsAndRefusesTheRest) {
  auto parse = [](const char* h, int64_t size) {
    const ByteRange r = ParseByteRange(h, size);
    return std::to_string(r.kind) + ":" + std::to_string(r.first) + "-" + std::to_string(r.last);
  };
  EXPECT_EQ(parse("bytes=0-99", 1000), "1:0-99");
  EXPECT_EQ(parse("bytes=500-", 1000), "1:500-999");
  EXPECT_EQ(parse("bytes=-100", 1000), "1:900-999");
  EXPECT_EQ(parse("BYTES = 10 - 20 ", 1000), "1:10-20");
  EXPECT_EQ(parse("bytes=990-5000", 1000), "1:990-999");  // cut to the end
  EXPECT_EQ(parse("bytes=-5000", 1000), "1:0-999");       // a suffix longer than the file
  EXPECT_EQ(parse("bytes=1000-", 1000), "2:0--1");        // beyond the end
  EXPECT_EQ(parse("bytes=-0", 1000), "2:0--1");
  EXPECT_EQ(parse("bytes=0-", 0), "2:0--1");  // nothing to take a part of
  // Several ranges, malformed or foreign units, reversed or overflowing numbers: the whole file.
  for (const char* h : std::initializer_list<const char*>{"bytes=0-1,5-6", "bytes=5-1", "bytes=", "bytes=-",
                                                          "bytes=a-b", "items=0-1", "bytes 0-1", "bytes=0-1x",
                                                          "bytes=99999999999999999999-", "bytes=--1", nullptr})
    EXPECT_EQ(parse(h, 1000), "0:0--1") << (h ? h : "null");
}

TEST(Range, SharedFileAnswersEachKindOfRangeAndCountsOnlyFromTheFirstByte) {
  CTestServer server;
  const std::string data = RandomBytes(10000);
  WriteFile(server.Dir() / "clip.mp4", data);
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "clip.mp4").string());
  const std::string f = "/f?t=1A2B3C4D";

  const std::string whole = Request(server, f);
  EXPECT_EQ(Status(whole), "HTTP/1.0 200 OK");
  EXPECT_EQ(Header(whole, "Accept-Ranges"), "bytes");
  const std::string etag = Header(whole, "ETag"), date = Header(whole, "Last-Modified");
  EXPECT_EQ(etag.front(), '"');
  EXPECT_TRUE(date.ends_with(" GMT")) << date;
  EXPECT_EQ(Body(whole), data);
  EXPECT_EQ(server.State().DownloadCount, 1);

  struct {
    const char* range;
    size_t first, last;
  } parts[] = {{"bytes=0-99", 0, 99}, {"bytes=9000-", 9000, 9999}, {"bytes=-10", 9990, 9999}, {"bytes=42-42", 42, 42}};
  for (const auto& p : parts) {
    const std::string reply = Request(server, f, std::string("Range: ") + p.range + "\r\n");
    EXPECT_EQ(Status(reply), "HTTP/1.0 206 Partial Content") << p.range;
    EXPECT_EQ(Header(reply, "Content-Range"),
              "bytes " + std::to_string(p.first) + "-" + std::to_string(p.last) + "/10000");
    EXPECT_EQ(Header(reply, "Content-Length"), std::to_string(p.last - p.first + 1));
    EXPECT_EQ(Header(reply, "ETag"), etag);
    EXPECT_EQ(Body(reply), data.substr(p.first, p.last - p.first + 1)) << p.range;
  }
  EXPECT_EQ(server.State().DownloadCount, 2);  // only "0-99" started at the first byte

  const std::string beyond = Request(server, f, "Range: bytes=10000-\r\n");
  EXPECT_EQ(Status(beyond), "HTTP/1.0 416 Range Not Satisfiable");
  EXPECT_EQ(Header(beyond, "Content-Range"), "bytes */10000");
  EXPECT_EQ(Body(beyond), "");
  const std::string several = Request(server, f, "Range: bytes=0-1,5-6\r\n");
  EXPECT_EQ(Status(several), "HTTP/1.0 200 OK");
  EXPECT_EQ(Body(several), data);
  EXPECT_EQ(server.State().DownloadCount, 3);
}

TEST(Range, IfRangeSendsTheWholeNewFileOnceTheFileHasChanged) {
  CTestServer server;
  const fs::path doc = server.Dir() / "doc.txt";
  WriteFile(doc, "first version");
  server.State().InsertItem("1A2B3C4D", doc.string());
  const std::string old = Request(server, "/f?t=1A2B3C4D");
  const std::string etag = Header(old, "ETag"), date = Header(old, "Last-Modified");

  for (const std::string& validator : {etag, date}) {
    const std::string same = Request(server, "/f?t=1A2B3C4D", "Range: bytes=6-\r\nIf-Range: " + validator + "\r\n");
    EXPECT_EQ(Status(same), "HTTP/1.0 206 Partial Content") << validator;
    EXPECT_EQ(Body(same), "version");
  }
  // A weak or unknown validator never allows a part.
  EXPECT_EQ(Status(Request(server, "/f?t=1A2B3C4D", "Range: bytes=6-\r\nIf-Range: W/" + etag + "\r\n")),
            "HTTP/1.0 200 OK");

  WriteFile(server.Dir() / "doc.txt.new", "second version!");
  fs::rename(server.Dir() / "doc.txt.new", doc);
  const std::string changed = Request(server, "/f?t=1A2B3C4D", "Range: bytes=6-\r\nIf-Range: " + etag + "\r\n");
  EXPECT_EQ(Status(changed), "HTTP/1.0 200 OK");
  EXPECT_EQ(Body(changed), "second version!");
  EXPECT_NE(Header(changed, "ETag"), etag);
}

TEST(Range, ArchivesReceivedFilesAndPageFilesTakeRangesToo) {
  CTestServer server;
  WriteFile(server.Dir() / "Trip/a.txt", RandomBytes(3000));
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "Trip").string());
  const std::string archive = Body(Request(server, "/z?t=1A2B3C4D"));
  ASSERT_GT(archive.size(), 100u);
  const std::string tail = Request(server, "/z?t=1A2B3C4D", "Range: bytes=100-\r\n");
  EXPECT_EQ(Status(tail), "HTTP/1.0 206 Partial Content");
  EXPECT_EQ(Body(tail), archive.substr(100));
  EXPECT_EQ(server.State().DownloadCount, 1);

  WriteFile(server.Dir() / "tmp/photo.jpg", "0123456789");
  WriteFile(server.Dir() / "index.html", "<p>up</p>");
  EXPECT_EQ(Body(Request(server, server.WithSecret("/tmp/photo.jpg"), "Range: bytes=-3\r\n")), "789");
  EXPECT_EQ(Body(Request(server, "/index.html", "Range: bytes=3-4\r\n")), "up");
  // A missing file is answered as before, whatever the Range.
  EXPECT_EQ(Request(server, "/favicon.ico", "Range: bytes=0-\r\n"),
            InLibraryOrder("HTTP/1.0 200 OK\r\nContent-Type: image/x-icon\r\nContent-Length: 0\r\n\r\n"));
  EXPECT_EQ(server.State().DownloadCount, 1);
}

TEST(Range, ProgressShowsThePositionWithinTheWholeFile) {
  CTestServer server;
  WriteFile(server.Dir() / "10000.bin", std::string(10000, 'x'));
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "10000.bin").string());
  Request(server, "/f?t=1A2B3C4D", "Range: bytes=5000-\r\n");
  EXPECT_TRUE(server.Dialog().WaitFor(ViewEventId::DownloadProgress, 10000));
  EXPECT_EQ(server.Dialog().Progress(ViewEventId::DownloadProgress), (std::vector<int64_t>{9096, 10000}));
}

TEST(Range, CurlResumesADownloadThatBrokeOffAndGetsTheSameBytes) {
  CTestServer server;
  // Large enough that both the cut and the rest go through the kernel copy.
  const std::string data = RandomBytes(3 << 20);
  WriteFile(server.Dir() / "big.bin", data);
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "big.bin").string());
  const std::string url = server.Base() + "/f?t=1A2B3C4D";

  // The phone drops off after about a third of the file: the part it has lies on disk.
  const int fd = ConnectLoopback(server.Port());
  ASSERT_GE(fd, 0);
  const std::string get = "GET /f?t=1A2B3C4D HTTP/1.0\r\n\r\n";
  ASSERT_EQ(::send(fd, get.data(), get.size(), 0), static_cast<ssize_t>(get.size()));
  std::string got;
  char buffer[65536];
  while (got.size() < (1u << 20) + 4096) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    ASSERT_GT(n, 0);
    got.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  const std::string part = got.substr(got.find("\r\n\r\n") + 4);
  ASSERT_LT(part.size(), data.size());
  const fs::path out = server.Dir() / "out.bin";
  WriteFile(out, part);

  const std::string command = "curl -sS -f -C - -o '" + out.string() + "' '" + url + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_TRUE(ReadFile(out) == data) << "resumed file differs";
  for (int i = 0; i < 200 && server.State().DownloadCount < 1; ++i) ::usleep(10000);
  EXPECT_EQ(server.State().DownloadCount, 1);  // the resumed request is the same download
}
