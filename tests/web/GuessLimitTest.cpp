// Token guessing against the real server: slowed per address, never for hits, and never for a
// phone's whole normal use.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "app/SharedState.h"
#include "support/TestEnv.h"
#include "web/GuessLimiter.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

std::string GetFrom(const CTestServer& server, const std::string& source, const std::string& target) {
  return RawRequest(server.Port(), "GET " + target + " HTTP/1.0\r\n\r\n", source);
}

void Sleep(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

}  // namespace

TEST(GuessLimit, MissesBeyondTheFreeOnesBlockOnlyThatAddressForGrowingTimesAndNeverAHit) {
  CTestServer server;
  CGuessLimits limits;
  limits.ForgivenPerSecond = 1e-9;
  limits.FirstBlockSeconds = 1;
  CGuessLimiter& limiter = server.Service().Limiter();
  limiter.SetLimits(limits);
  WriteFile(server.Dir() / "x.txt", "X");
  server.State().InsertItem("1A2B3C4D", (server.Dir() / "x.txt").string());
  const auto live = [&](const std::string& from) { return GetFrom(server, from, "/f?t=1A2B3C4D").ends_with("X"); };

  for (int i = 0; i < 30; ++i) ASSERT_TRUE(live("127.0.0.2")) << i;  // hits never count
  for (int i = 0; i < 10; ++i) EXPECT_EQ(GetFrom(server, "127.0.0.2", "/d?t=0000000" + std::to_string(i)), "");
  EXPECT_TRUE(limiter.Admit("127.0.0.2"));  // ten misses are free
  // The eleventh blocks the address for 1 s, the next for 2 s: each one's answer is held back as long.
  for (const double block : {1.0, 2.0}) {
    const auto begin = std::chrono::steady_clock::now();
    auto miss = std::async(std::launch::async, [&] { return GetFrom(server, "127.0.0.2", "/z?t=DEADBEEF"); });
    Sleep(0.3);
    EXPECT_FALSE(limiter.Admit("127.0.0.2"));
    // Blocked, the address is still served at once what it names rightly: a live token, the secret.
    EXPECT_TRUE(live("127.0.0.2"));
    WriteFile(server.Dir() / "tmp/r.txt", "R");
    EXPECT_TRUE(GetFrom(server, "127.0.0.2", server.WithSecret("/tmp/r.txt")).ends_with("R"));
    EXPECT_TRUE(limiter.Admit("127.0.0.3"));
    EXPECT_EQ(miss.get(), "");
    EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), block - 0.1);
    EXPECT_TRUE(limiter.Admit("127.0.0.2"));
  }
}

TEST(GuessLimit, AFullTableForgetsTheOldestUnblockedRecordsAndBlocksNoNewcomer) {
  CGuessLimiter limiter;
  CGuessLimits limits;
  limits.MaxAddresses = 4;
  limits.ForgivenPerSecond = 1e-9;
  limiter.SetLimits(limits);
  for (int i = 0; i < 11; ++i) limiter.RecordMiss("10.0.0.1");                      // blocked
  for (int a = 2; a < 100; ++a) limiter.RecordMiss("10.0.0." + std::to_string(a));  // one miss each
  EXPECT_EQ(limiter.Tracked(), 4u);
  EXPECT_FALSE(limiter.Admit("10.0.0.1"));  // kept while unblocked ones could go
  EXPECT_TRUE(limiter.Admit("10.0.0.200"));
  for (int i = 0; i < 11; ++i) limiter.RecordMiss("10.0.0.200");
  EXPECT_FALSE(limiter.Admit("10.0.0.200"));  // a newcomer gets a record of its own
  limiter.Reset();
  EXPECT_TRUE(limiter.Admit("10.0.0.1"));
}

TEST(GuessLimit, APhonesWholeNormalUseNeverMeetsTheLimit) {
  CTestServer server;
  WriteFile(server.Dir() / "index.html", "page");
  WriteFile(server.Dir() / "shared/report.pdf", "PDF");
  WriteFile(server.Dir() / "shared/Album/a.jpg", "A");
  WriteFile(server.Dir() / "shared/Album/sub/b.jpg", "B");
  fs::create_directory(server.Dir() / "tmp");
  server.State().InsertItem("11111111", (server.Dir() / "shared/report.pdf").string());
  server.State().InsertItem("22222222", (server.Dir() / "shared/Album").string());
  const std::string phone = "127.0.0.2";
  const std::string boundary = "----phone";
  // More rounds than free misses: a single step counted as a miss would show.
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    EXPECT_TRUE(GetFrom(server, phone, "/index.html").ends_with("page"));
    EXPECT_TRUE(GetFrom(server, phone, "/f?t=11111111").ends_with("PDF"));
    const std::string page = GetFrom(server, phone, "/d?t=22222222");
    // Every link of the page: href="/f?t=XXXXXXXX" or href="/z?t=XXXXXXXX".
    int links = 0;
    for (size_t at = page.find("href=\"/"); at != std::string::npos; at = page.find("href=\"/", at + 1)) {
      const std::string target = page.substr(at + 6, page.find('"', at + 6) - (at + 6));
      if (!target.starts_with("/f?t=") && !target.starts_with("/z?t=")) continue;
      ++links;
      const std::string got = GetFrom(server, phone, target);
      EXPECT_TRUE(got.ends_with("A") || got.ends_with("B") || got.find("PK") != std::string::npos) << target;
    }
    EXPECT_EQ(links, 3) << page;
    const std::string body = "--" + boundary +
                             "\r\nContent-Disposition: form-data; name=\"files[]\"; filename=\"up.txt\"\r\n"
                             "Content-Type: text/plain\r\n\r\nUP\r\n--" +
                             boundary + "--\r\n";
    const std::string stored = RawRequest(server.Port(),
                                          "POST " + server.WithSecret("/u") +
                                              " HTTP/1.0\r\nContent-Type: multipart/form-data; boundary=" + boundary +
                                              "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
                                          phone);
    EXPECT_NE(stored.find("\"name\":\"up.txt\""), std::string::npos) << stored;
    EXPECT_TRUE(GetFrom(server, phone, server.WithSecret("/tmp/up.txt")).ends_with("UP"));
    EXPECT_TRUE(RawRequest(server.Port(), "DELETE " + server.WithSecret("/tmp/up.txt") + " HTTP/1.0\r\n\r\n", phone)
                    .ends_with("{\"success\":true}"));
    EXPECT_FALSE(fs::exists(server.Dir() / "tmp/up.txt"));
  }
}
