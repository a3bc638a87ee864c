// Two running Marlix objects in one process: each serves only its own items, receives into its own
// working directory, and writes its own "1.bmp"; one stopping leaves the other serving.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "service/Marlix.h"
#include "service/ShareFlow.h"
#include "support/TestEnv.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

std::string Get(CMarlix& marlix, const std::string& target) {
  return RawRequest(marlix.Web()->Port(), "GET " + target + " HTTP/1.0\r\n\r\n");
}

std::string Upload(CMarlix& marlix, const std::string& secret, const std::string& name) {
  const std::string body = "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + name +
                           "\"\r\n\r\nfrom a phone\r\n--b--\r\n";
  return RawRequest(marlix.Web()->Port(), "POST /u?k=" + secret +
                                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; "
                                              "boundary=b\r\nContent-Length: " +
                                              std::to_string(body.size()) + "\r\n\r\n" + body);
}

}  // namespace

TEST(Marlix, TwoInOneProcessKeepTheirItemsUploadsAndPicturesApart) {
  const fs::path started = fs::current_path();
  CTempWorkDir dir;
  for (const char* home : {"a", "b"}) fs::create_directories(dir.Path() / home / "tmp");
  CMarlix a((dir.Path() / "a").string()), b((dir.Path() / "b").string());
  ASSERT_TRUE(a.StartWeb("127.0.0.1:0"));
  ASSERT_TRUE(b.StartWeb("127.0.0.1:0"));
  EXPECT_NE(a.State().PortText, b.State().PortText);
  EXPECT_NE(a.State().UploadSecret, b.State().UploadSecret);

  WriteFile(dir.Path() / "one.txt", "ONE");
  WriteFile(dir.Path() / "two.txt", "TWO");
  const CSharedItem one = ShareItem(a.State(), (dir.Path() / "one.txt").string());
  const CSharedItem two = ShareItem(b.State(), (dir.Path() / "two.txt").string());
  EXPECT_TRUE(Get(a, "/f?t=" + one.Token).ends_with("\r\n\r\nONE"));
  EXPECT_TRUE(Get(b, "/f?t=" + two.Token).ends_with("\r\n\r\nTWO"));
  EXPECT_EQ(Get(a, "/f?t=" + two.Token), "");  // the other's token names nothing here

  // Each receives with its own secret into its own tmp/; the other's secret opens nothing.
  EXPECT_NE(Upload(a, a.State().UploadSecret, "up.txt").find("200 OK"), std::string::npos);
  EXPECT_EQ(ReadFile(dir.Path() / "a/tmp/up.txt"), "from a phone");
  EXPECT_FALSE(fs::exists(dir.Path() / "b/tmp/up.txt"));
  EXPECT_EQ(Upload(b, a.State().UploadSecret, "up.txt").find("\"files\""), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.Path() / "b/tmp/up.txt"));

  a.State().LocalAddress.Set("127.0.0.1");
  ShowAddress(a.State(), ItemAddress(a.State(), ReachMode::Lan, one));
  EXPECT_EQ(ItemAddress(a.State(), ReachMode::Lan, one),
            "http://127.0.0.1:" + a.State().PortText + "/f?t=" + one.Token);
  EXPECT_TRUE(fs::exists(dir.Path() / "a/1.bmp"));
  EXPECT_FALSE(fs::exists(dir.Path() / "b/1.bmp"));

  a.StopWeb();
  EXPECT_TRUE(Get(b, "/f?t=" + two.Token).ends_with("\r\n\r\nTWO"));
  EXPECT_EQ(fs::current_path(), started);  // neither moved the process
}
