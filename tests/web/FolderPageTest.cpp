// Folder pages under "/d": the page byte for byte, tokens per view, escaping, size, and the listing.

#include <gtest/gtest.h>

#include <filesystem>

#include "app/SharedState.h"
#include "support/TestEnv.h"
#include "web/FolderPage.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

const std::string kHead =
    "<HTML lang=en><HEAD><TITLE>Marlix</TITLE><meta name=\"viewport\" content=\"width=device-width, "
    "initial-scale=1, minimum-scale=1, maximum-scale=1, user-scalable=0\"><META name=description "
    "content=\"Marlix\"><META content=\"text/html; charset=UTF-8\" http-equiv=Content-type></HEAD><BODY><center><DIV "
    " align= \"left \">";

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
    tokens.push_back(page.substr(at + link.size(), 8));
  }
  return tokens;
}

}  // namespace

TEST(FolderPage, PageIsExactAndItsLinksDownload) {
  CTestServer server;
  WriteFile("Photos/Trip/a.jpg", "AAA");
  WriteFile("Photos/Trip/day1/b.jpg", "BB");
  const std::string folder = fs::absolute("Photos/Trip").string();
  InsertItem("1A2B3C4D", folder);
  const std::vector<std::string> files = ListFolderFiles(folder);
  ASSERT_EQ(files.size(), 2u);

  const std::string reply = Get(server, "/d?t=1A2B3C4D");
  std::string head, page;
  SplitReply(reply, head, page);
  EXPECT_EQ(head, InLibraryOrder("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                                 std::to_string(page.size()) + "\r\n\r\n"));
  const std::vector<std::string> tokens = LinkTokens(page);
  ASSERT_EQ(tokens.size(), 2u) << page;
  std::string expected = kHead + "<DIV align=\"center\"><h3><a href=\"/z?t=1A2B3C4D\">打包下载</a></h3></DIV><ul>";
  for (size_t i = 0; i < files.size(); ++i) {
    expected += "<li><a href=\"/f?t=" + tokens[i] + "\">" + files[i].substr(folder.size() - 4) + "</a></li>";
  }
  expected += "</ul></DIV></center></BODY></HTML>";
  EXPECT_EQ(page, expected);

  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(Body(Get(server, "/f?t=" + tokens[i])), ReadFile(files[i]));
  }
  EXPECT_EQ(g_State.DownloadCount, 2);
  EXPECT_EQ(server.Dialog().Progress(), (std::vector<int>{100, 100}));
}

TEST(FolderPage, TwoViewsGiveTwoSetsOfWorkingTokens) {
  CTestServer server;
  WriteFile("f/one.txt", "1");
  WriteFile("f/two.txt", "2");
  InsertItem("1A2B3C4D", fs::absolute("f").string());
  const std::vector<std::string> first = LinkTokens(Body(Get(server, "/d?t=1A2B3C4D")));
  const std::vector<std::string> second = LinkTokens(Body(Get(server, "/d?t=1A2B3C4D")));
  ASSERT_EQ(first.size(), 2u);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_NE(first, second);
  for (const auto& tokens : {first, second}) {
    std::string both;
    for (const std::string& token : tokens) both += Body(Get(server, "/f?t=" + token));
    std::sort(both.begin(), both.end());
    EXPECT_EQ(both, "12");
  }
}

TEST(FolderPage, EmptyOrDeletedFolderGivesAnEmptyList) {
  CTestServer server;
  fs::create_directory("empty");
  InsertItem("00000001", fs::absolute("empty").string());
  InsertItem("00000002", fs::absolute("deleted").string());
  for (const char* token : {"00000001", "00000002"}) {
    const std::string page = Body(Get(server, std::string("/d?t=") + token));
    EXPECT_EQ(page, kHead + "<DIV align=\"center\"><h3><a href=\"/z?t=" + token +
                        "\">打包下载</a></h3></DIV><ul></ul></DIV></center></BODY></HTML>");
  }
  EXPECT_EQ(Get(server, "/d?t=DEADBEEF"), "");
  EXPECT_EQ(Get(server, "/d?1A2B3C4D"), "");
}

TEST(FolderPage, NamesAreEscapedAndTheQueryIsNotEchoed) {
  CTestServer server;
  WriteFile("f/<b>&\"x'.txt", "x");
  InsertItem("1A2B3C4D", fs::absolute("f").string());
  // The query resolves to the token after its first "=", so the markup before it must not reach the page.
  const std::string page = Body(Get(server, "/d?%22%3E%3Cscript%3Ealert(1)%3C/script%3E=1A2B3C4D"));
  EXPECT_EQ(page.find("<script>"), std::string::npos) << page;
  EXPECT_EQ(page.find("%3Cscript"), std::string::npos) << page;
  EXPECT_NE(page.find("<a href=\"/z?t=1A2B3C4D\">"), std::string::npos) << page;
  const std::string raw = Body(Get(server, "/d?\"><script>alert(1)</script>=1A2B3C4D"));
  EXPECT_EQ(raw.find("<script>"), std::string::npos) << raw;
  EXPECT_NE(raw.find("<a href=\"/z?t=1A2B3C4D\">"), std::string::npos) << raw;
  EXPECT_NE(page.find("\">f/&lt;b&gt;&amp;&quot;x&#39;.txt</a></li>"), std::string::npos) << page;
}

TEST(FolderPage, PageOfAnySizeIsBuiltWhole) {
  CTestServer server;
  const std::string longName(200, 'n');
  for (int i = 0; i < 6000; ++i) WriteFile("big/" + std::to_string(i) + longName, "");
  InsertItem("1A2B3C4D", fs::absolute("big").string());
  const std::string page = Body(Get(server, "/d?t=1A2B3C4D"));
  EXPECT_GT(page.size(), 1u << 20);
  EXPECT_EQ(LinkTokens(page).size(), 6000u);
  EXPECT_TRUE(page.ends_with("</a></li></ul></DIV></center></BODY></HTML>"));
}

TEST(FolderListing, DepthFirstFilesOnlyAndLinkLoopsEnd) {
  CTempWorkDir dir;
  WriteFile("t/a.txt", "");
  WriteFile("t/sub/deeper/b.txt", "");
  fs::create_directories("t/emptysub");
  fs::create_directory_symlink("..", "t/sub/loop");
  const std::string root = fs::absolute("t").string();
  std::vector<std::string> files = ListFolderFiles(root);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{root + "/a.txt", root + "/sub/deeper/b.txt"}));
  EXPECT_TRUE(ListFolderFiles(root + "/a.txt").empty());
  EXPECT_TRUE(ListFolderFiles(root + "/missing").empty());
}

TEST(FolderPage, TheArchiveLinkReadsEnglishUnlessTheBrowserAsksForChinese) {
  CTestServer server;
  fs::create_directory("f");
  InsertItem("1A2B3C4D", fs::absolute("f").string());
  for (const char* languages : {"", "de-DE,de;q=0.9", "en-US,en;q=0.9,zh-CN;q=0.8", "zh;q=0", "fr, *;q=0.5"})
    EXPECT_NE(Body(Get(server, "/d?t=1A2B3C4D", languages)).find(">Download all as ZIP</a>"), std::string::npos)
        << languages;
  for (const char* languages : {"zh-TW", "de-DE,zh;q=0.5", "ZH-cn;q=0.8, en;q=0.7", "zh_CN,en"})
    EXPECT_NE(Body(Get(server, "/d?t=1A2B3C4D", languages)).find(">打包下载</a>"), std::string::npos) << languages;
}
