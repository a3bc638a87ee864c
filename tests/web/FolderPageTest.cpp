// Folder pages under "/d": rows, sizes and subfolders, tokens per view, escaping, size, and the listing.

#include <gtest/gtest.h>

#include <filesystem>

#include "app/SharedState.h"
#include "support/TestEnv.h"
#include "web/send/FolderPage.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

// A Chinese phone's request, unless the languages say otherwise ("" sends no Accept-Language).
std::string Get(const CTestServer& server, const std::string& target, const std::string& languages = "zh-CN,zh;q=0.9") {
  const std::string header = languages.empty() ? "" : "Accept-Language: " + languages + "\r\n";
  return RawRequest(server.Port(), "GET " + target + " HTTP/1.0\r\n" + header + "\r\n");
}

std::string Body(const std::string& reply) {
  std::string head, body;
  SplitReply(reply, head, body);
  return body;
}

std::vector<std::string> LinkTokens(const std::string& page) {
  std::vector<std::string> tokens;
  const std::string link = "<li><a href=\"/f?t=";
  for (size_t at = page.find(link); at != std::string::npos; at = page.find(link, at + 1)) {
    const size_t start = at + link.size();
    tokens.push_back(page.substr(start, page.find('"', start) - start));
  }
  return tokens;
}

}  // namespace

TEST(FolderPage, RowsShowNamesSizesAndSubfoldersAndTheirLinksDownload) {
  CTestServer server;
  WriteFile(server.Dir() / "Photos/Trip/a.jpg", "AAA");
  WriteFile(server.Dir() / "Photos/Trip/day1/b.txt", "BB");
  const std::string folder = (server.Dir() / "Photos/Trip").string();
  server.State().InsertItem("1A2B3C4D", folder);

  const std::string reply = Get(server, "/d?t=1A2B3C4D");
  std::string head, page;
  SplitReply(reply, head, page);
  for (const char* line : {"HTTP/1.0 200 OK\r\n", "\r\nContent-Type: text/html; charset=utf-8\r\n",
                           "\r\nContent-Security-Policy: sandbox allow-scripts; script-src 'none'\r\n",
                           "\r\nX-Content-Type-Options: nosniff\r\n"})
    EXPECT_NE(head.find(line), std::string::npos) << line << head;
  const std::vector<std::string> tokens = LinkTokens(page);
  ASSERT_EQ(tokens.size(), 2u) << page;
  // The top folder's files first, then the subfolder's under its path; a picture has a thumbnail.
  const std::string rows =
      "<ul><li><a href=\"/f?t=" + tokens[0] + "\"><span class=ic><img src=\"/t?t=" + tokens[0] +
      "\" loading=lazy decoding=async alt=\"\"></span><span class=nm>a.jpg</span><span "
      "class=sz>3 B</span></a></li></ul><h2>day1/</h2><ul><li><a href=\"/f?t=" +
      tokens[1] + "\"><span class=ic></span><span class=nm>b.txt</span><span class=sz>2 B</span></a></li></ul>";
  EXPECT_NE(page.find(rows), std::string::npos) << page;
  EXPECT_NE(
      page.find("<a class=zip href=\"/z?t=1A2B3C4D\"><span class=zl>打包下载</span><span class=zs>2 个文件，共 5 B"),
      std::string::npos)
      << page;
  EXPECT_EQ(Body(Get(server, "/f?t=" + tokens[0])), "AAA");
  EXPECT_EQ(Body(Get(server, "/f?t=" + tokens[1])), "BB");
  EXPECT_EQ(server.State().DownloadCount, 2);
  EXPECT_TRUE(server.Dialog().WaitFor(ViewEventId::DownloadProgress, 2));
  EXPECT_EQ(server.Dialog().Progress(ViewEventId::DownloadProgress), (std::vector<int64_t>{3, 2}));
  // "AAA" is no picture: its thumbnail is refused, and the row stays as it is.
  EXPECT_EQ(Get(server, "/t?t=" + tokens[0]).substr(0, 22), "HTTP/1.0 404 Not Found");
}

TEST(FolderPage, EveryViewGivesTheSameWorkingTokens) {
  CTestServer server;
  WriteFile(server.Dir() / "f/one.txt", "1");
  WriteFile(server.Dir() / "f/two.txt", "2");
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "f").string());
  const std::vector<std::string> first = LinkTokens(Body(Get(server, "/d?t=1A2B3C4D")));
  const std::vector<std::string> second = LinkTokens(Body(Get(server, "/d?t=1A2B3C4D")));
  ASSERT_EQ(first.size(), 2u);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(first, second);
  for (const auto& tokens : {first, second}) {
    std::string both;
    for (const std::string& token : tokens) both += Body(Get(server, "/f?t=" + token));
    std::sort(both.begin(), both.end());
    EXPECT_EQ(both, "12");
  }
}

TEST(FolderPage, EmptyOrDeletedFolderGivesAnEmptyList) {
  CTestServer server;
  fs::create_directory(server.Dir() / "empty");
  server.State().InsertItem("00000001", (server.Dir() / "empty").string());
  server.State().InsertItem("00000002", (server.Dir() / "deleted").string());
  for (const char* token : {"00000001", "00000002"}) {
    const std::string page = Body(Get(server, std::string("/d?t=") + token));
    EXPECT_NE(page.find("<a class=zip href=\"/z?t=" + std::string(token) + "\">"), std::string::npos) << page;
    EXPECT_NE(page.find("0 个文件，共 0 B"), std::string::npos) << page;
    EXPECT_EQ(page.find("<li>"), std::string::npos) << page;
  }
  EXPECT_EQ(Get(server, "/d?t=DEADBEEF"), "");
  EXPECT_EQ(Get(server, "/d?1A2B3C4D"), "");
}

TEST(FolderPage, NamesAreEscapedAndTheQueryIsNotEchoed) {
  CTestServer server;
  WriteFile(server.Dir() / "f/<b>&\"x'.txt", "x");
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "f").string());
  // The query resolves to the token after its first "=", so the markup before it must not reach the page.
  const std::string page = Body(Get(server, "/d?%22%3E%3Cscript%3Ealert(1)%3C/script%3E=1A2B3C4D"));
  EXPECT_EQ(page.find("<script>"), std::string::npos) << page;
  EXPECT_EQ(page.find("%3Cscript"), std::string::npos) << page;
  EXPECT_NE(page.find("<a class=zip href=\"/z?t=1A2B3C4D\">"), std::string::npos) << page;
  const std::string raw = Body(Get(server, "/d?\"><script>alert(1)</script>=1A2B3C4D"));
  EXPECT_EQ(raw.find("<script>"), std::string::npos) << raw;
  EXPECT_NE(raw.find("<a class=zip href=\"/z?t=1A2B3C4D\">"), std::string::npos) << raw;
  EXPECT_NE(page.find("<span class=nm>&lt;b&gt;&amp;&quot;x&#39;.txt</span>"), std::string::npos) << page;
}

TEST(FolderPage, PageOfAnySizeIsBuiltWhole) {
  CTestServer server;
  const std::string longName(200, 'n');
  for (int i = 0; i < 6000; ++i) WriteFile(server.Dir() / "big" / (std::to_string(i) + longName), "");
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "big").string());
  const std::string page = Body(Get(server, "/d?t=1A2B3C4D"));
  EXPECT_GT(page.size(), 1u << 20);
  EXPECT_EQ(LinkTokens(page).size(), 6000u);
  EXPECT_TRUE(page.ends_with("</a></li></ul></main></body></html>"));
}

TEST(FolderListing, DepthFirstFilesOnlyAndLinkLoopsEnd) {
  CTempWorkDir dir;
  const fs::path t = dir.Path() / "t";
  WriteFile(t / "a.txt", "");
  WriteFile(t / "sub/deeper/b.txt", "");
  fs::create_directories(t / "emptysub");
  fs::create_directory_symlink("..", t / "sub/loop");
  const std::string root = t.string();
  std::vector<std::string> files = ListFolderFiles(root);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{root + "/a.txt", root + "/sub/deeper/b.txt"}));
  EXPECT_TRUE(ListFolderFiles(root + "/a.txt").empty());
  EXPECT_TRUE(ListFolderFiles(root + "/missing").empty());
}

TEST(FolderPage, TheArchiveLinkReadsEnglishUnlessTheBrowserAsksForChinese) {
  CTestServer server;
  fs::create_directory(server.Dir() / "f");
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "f").string());
  for (const char* languages : {"", "de-DE,de;q=0.9", "en-US,en;q=0.9,zh-CN;q=0.8", "zh;q=0", "fr, *;q=0.5"})
    EXPECT_NE(Body(Get(server, "/d?t=1A2B3C4D", languages)).find(">Download all as ZIP</span>"), std::string::npos)
        << languages;
  for (const char* languages : {"zh-TW", "de-DE,zh;q=0.5", "ZH-cn;q=0.8, en;q=0.7", "zh_CN,en"})
    EXPECT_NE(Body(Get(server, "/d?t=1A2B3C4D", languages)).find(">打包下载</span>"), std::string::npos) << languages;
}
