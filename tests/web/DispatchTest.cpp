// The dispatch table and the small helpers of the web service, against the real server.

#include <gtest/gtest.h>

#include "app/SharedState.h"
#include "support/TestEnv.h"
#include "web/ContentType.h"
#include "web/FileSize.h"
#include "web/ItemLookup.h"
#include "web/Token.h"

using namespace marlix_test;

TEST(ContentType, MatchesExtensionCaseInsensitivelyAndNeedsALongerName) {
  EXPECT_STREQ(LookupContentType("A.JPG"), "image/jpeg");
  EXPECT_EQ(LookupContentType(".jpg"), nullptr);
  EXPECT_EQ(LookupContentType("a.jpgx"), nullptr);
  EXPECT_STREQ(LookupContentType("x.rar"), "application/x-arj-compressed");
  EXPECT_STREQ(LookupContentType("a.xsl"), "application/xml");
  EXPECT_STREQ(LookupContentType("index.html"), "text/html");
}

TEST(Token, IsEightUpperCaseHexDigitsAndVaries) {
  const std::string a = MakeToken(), b = MakeToken();
  ASSERT_EQ(a.size(), 8u);
  for (char c : a) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << a;
  EXPECT_NE(a, b);
}

TEST(ItemLookup, TakesEverythingAfterTheFirstEqualsSign) {
  g_State.Reset();
  InsertItem("1A2B3C4D", "/x/a.txt");
  EXPECT_EQ(LookupItem("t=1A2B3C4D"), "/x/a.txt");
  EXPECT_EQ(LookupItem("anything=1A2B3C4D"), "/x/a.txt");
  EXPECT_EQ(LookupItem("=1A2B3C4D"), "");
  EXPECT_EQ(LookupItem("1A2B3C4D"), "");
  EXPECT_EQ(LookupItem("t=1A2B3C4D&x=1"), "");
  EXPECT_EQ(LookupItem(nullptr), "");
  g_State.Reset();
}

TEST(FileSize, IsZeroForMissingFoldersAndEmptyFiles) {
  CTempWorkDir dir;
  WriteFile("empty", "");
  WriteFile("five", "12345");
  std::filesystem::create_directory("folder");
  EXPECT_EQ(FileSize("missing"), 0);
  EXPECT_EQ(FileSize("folder"), 0);
  EXPECT_EQ(FileSize("empty"), 0);
  EXPECT_EQ(FileSize("five"), 5);
}

TEST(Dispatch, GetOfUploadPathWithoutBodySetsReceivedCountToZero) {
  CTestServer server;
  const std::string reply = RawRequest(server.Port(), "GET /u HTTP/1.0\r\n\r\n");
  EXPECT_EQ(reply, "");
  EXPECT_EQ(server.Dialog().ReceivedCounts(), std::vector<int>{0});
}
