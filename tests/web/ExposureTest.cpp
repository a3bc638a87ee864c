// What the local-file route and DELETE give a stranger: only the page files and regular files
// directly inside "tmp/", never through a symbolic link; everything else looks like a missing file.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestEnv.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

std::string Get(const CTestServer& server, const std::string& target) {
  return RawRequest(server.Port(), "GET " + target + " HTTP/1.0\r\n\r\n");
}

// The reply to a file that is not there, by its type and whether it lies under "tmp/".
std::string Missing(const std::string& type, bool received = false) {
  return InLibraryOrder("HTTP/1.0 200 OK\r\nContent-Type: " + type + "\r\n" +
                        (received ? "Content-Security-Policy: sandbox\r\nX-Content-Type-Options: nosniff\r\n" : "") +
                        "Content-Length: 0\r\n\r\n");
}

}  // namespace

TEST(LocalFileExposure, OnlyPageFilesAndFilesDirectlyInTmpAreServed) {
  CTestServer server;
  for (const char* name : {"index.html", "upload.js", "dnd.png", "tmp/ok.txt", "tmp/x.svg"})
    WriteFile(server.Dir() / name, "served");
  for (const char* name :
       {"1.bmp", "Docs.zip", "notes.txt", "sub/a.txt", ".docker/config.json", "tmp/sub/b.txt", "tmp/.hidden.txt"})
    WriteFile(server.Dir() / name, "private");
  EXPECT_EQ(
      WithoutValidators(Get(server, "/index.html")),
      InLibraryOrder(
          "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 6\r\nAccept-Ranges: bytes\r\n\r\nserved"));
  EXPECT_TRUE(Get(server, "/upload.js").ends_with("served"));
  EXPECT_TRUE(Get(server, "/dnd.png").ends_with("served"));
  EXPECT_TRUE(Get(server, server.WithSecret("/tmp/ok.txt")).ends_with("served"));
  // A received picture or page is sandboxed: its script cannot act in the upload page's origin.
  EXPECT_EQ(
      WithoutValidators(Get(server, server.WithSecret("/tmp/x.svg"))),
      InLibraryOrder("HTTP/1.0 200 OK\r\nContent-Type: image/svg+xml\r\nContent-Security-Policy: sandbox\r\n"
                     "X-Content-Type-Options: nosniff\r\nContent-Length: 6\r\nAccept-Ranges: bytes\r\n\r\nserved"));

  EXPECT_EQ(Get(server, "/1.bmp"), Missing("image/bmp"));
  EXPECT_EQ(Get(server, "/1.bmp"), Get(server, "/2.bmp"));
  EXPECT_EQ(Get(server, "/Docs.zip"), Missing("application/x-zip-compressed"));
  EXPECT_EQ(Get(server, "/notes.txt"), Missing("text/plain"));
  EXPECT_EQ(Get(server, "/sub/a.txt"), Missing("text/plain"));
  EXPECT_EQ(Get(server, server.WithSecret("/sub/a.txt")), Missing("text/plain"));  // the secret opens only tmp/
  EXPECT_EQ(Get(server, "/.docker/config.json"), Missing("text/json"));
  EXPECT_EQ(Get(server, server.WithSecret("/tmp/sub/b.txt")), Missing("text/plain", true));
  EXPECT_EQ(Get(server, server.WithSecret("/tmp/.hidden.txt")), Missing("text/plain", true));
}

TEST(LocalFileExposure, NoSymbolicLinkIsFollowedByGetOrDelete) {
  CTestServer server;
  const fs::path outside = server.Dir().string() + "-outside";
  WriteFile(outside / "secret.txt", "secret");
  const fs::path tmp = server.Dir() / "tmp";
  fs::create_directory(tmp);
  fs::create_symlink(outside / "secret.txt", server.Dir() / "index.html");
  fs::create_symlink(outside / "secret.txt", tmp / "link.txt");
  EXPECT_EQ(Get(server, "/index.html"), Missing("text/html"));
  EXPECT_EQ(Get(server, server.WithSecret("/tmp/link.txt")), Missing("text/plain", true));
  // A link is not deleted either, nor what it points at.
  EXPECT_EQ(RawRequest(server.Port(), "DELETE " + server.WithSecret("/tmp/link.txt") + " HTTP/1.0\r\n\r\n"),
            Missing("text/plain", true));
  EXPECT_TRUE(fs::is_symlink(tmp / "link.txt"));
  EXPECT_TRUE(fs::exists(outside / "secret.txt"));

  // "tmp" itself a link to another folder: nothing in it is served or deleted.
  fs::remove_all(tmp);
  fs::create_directory_symlink(outside, tmp);
  EXPECT_EQ(Get(server, server.WithSecret("/tmp/secret.txt")), Missing("text/plain", true));
  const std::string deleted =
      RawRequest(server.Port(), "DELETE " + server.WithSecret("/tmp/secret.txt") + " HTTP/1.0\r\n\r\n");
  EXPECT_EQ(deleted, Missing("text/plain", true));
  EXPECT_TRUE(fs::exists(outside / "secret.txt"));
  fs::remove_all(outside);
}
