// The cloud relay end to end: the client's upload into marlix-relay, the phone's download through the
// link, the deletion after it and the expiry.

#include <algorithm>

#include "RelayTestEnv.h"
#include "service/ServiceSession.h"

namespace {

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

}  // namespace

TEST_F(RelayTest, TheLinkDownloadsTheFileUnderItsNameOnceAndThenItIsGone) {
  StartRelay();
  Relay("1A2B3C4DAAAAAAAAAAAAAA", "报告.txt", "hello");
  ASSERT_TRUE(Eventually([&] { return m_relay.StoredCount() == 1; }));
  EXPECT_EQ(m_state.CloudRelayCount, 1);

  const std::string link = ItemAddress(m_state, ReachMode::Cloud, {"1A2B3C4DAAAAAAAAAAAAAA", ItemKind::File, ""});
  EXPECT_EQ(link, Base() + "/q?t=1A2B3C4DAAAAAAAAAAAAAA");
  const HttpGetResult got = HttpGet(link);
  EXPECT_EQ(got.Status, 200);
  EXPECT_EQ(got.Body, "hello");
  EXPECT_NE(got.Head.find("Content-Disposition: attachment;"), std::string::npos) << got.Head;
  EXPECT_NE(got.Head.find("filename*=UTF-8''%E6%8A%A5%E5%91%8A.txt"), std::string::npos) << got.Head;

  ASSERT_TRUE(Eventually([&] { return StoredFiles() == 0; }));
  EXPECT_EQ(m_relay.StoredCount(), 0);
  EXPECT_EQ(HttpGet(link).Status, 410);  // taken: the link has gone
}

TEST_F(RelayTest, AnEmptyFileIsStoredAndDownloadedEmpty) {
  StartRelay();
  Relay("0000EEEEAAAAAAAAAAAAAA", "empty.txt", "");
  ASSERT_TRUE(Eventually([&] { return m_relay.StoredCount() == 1; }));
  const HttpGetResult got = HttpGet(Base() + "/q?t=0000EEEEAAAAAAAAAAAAAA");
  EXPECT_EQ(got.Status, 200);
  EXPECT_TRUE(got.Body.empty());
  EXPECT_NE(got.Head.find("Content-Length: 0\r\n"), std::string::npos);
}

TEST_F(RelayTest, AMebibyteGoesInEightChunksWithTheBarEndingAtOneHundred) {
  StartRelay();
  const std::string content = Pattern(1 << 20);
  Relay("00100000AAAAAAAAAAAAAA", "one.bin", content);
  EXPECT_EQ(m_dialog.Events().front(), "ProgressReset");  // before it connects
  const std::vector<int64_t> progress = m_dialog.Progress(ViewEventId::RelayProgress);
  ASSERT_GE(progress.size(), 8u);    // at least one a chunk
  EXPECT_LE(progress.size(), 101u);  // at most one a percent
  EXPECT_EQ(progress.back(), 1 << 20);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  ASSERT_TRUE(Eventually([&] { return m_relay.StoredCount() == 1; }));
  EXPECT_EQ(HttpGet(Base() + "/q?t=00100000AAAAAAAAAAAAAA").Body, content);
}

TEST_F(RelayTest, NoRelayListeningMeansNoCountAndNoProgress) {
  StartRelay();
  m_relay.Stop();  // the port now refuses connections
  Relay("0000DEADAAAAAAAAAAAAAA", "a.txt", "abc");
  EXPECT_EQ(m_state.CloudRelayCount, 0);
  EXPECT_EQ(m_dialog.Events(), (std::vector<std::string>{"ProgressReset", "RelayFailed 0000DEADAAAAAAAAAAAAAA 1"}));
  EXPECT_EQ(StoredFiles(), 0u);
}

TEST_F(RelayTest, TheStorageLimitRefusesBeforeStoringTheClientSaysWhyAndADownloadFreesTheRoom) {
  StartRelay(600000, 4 << 20, 1000);
  Relay("0000A001AAAAAAAAAAAAAA", "a.bin", std::string(600, 'a'));
  Relay("0000A002AAAAAAAAAAAAAA", "b.bin", std::string(600, 'b'));  // 600 bytes, 400 left
  ASSERT_TRUE(Logged("upload 0000A002AAAAAAAAAAAAAA refused"));
  EXPECT_EQ(m_relay.StoredCount(), 1);
  EXPECT_EQ(StoredFiles(), 1u);
  const std::vector<std::string> events = m_dialog.Events();
  EXPECT_EQ(
      std::count(
          events.begin(), events.end(),
          "RelayFailed 0000A002AAAAAAAAAAAAAA 3 relay storage full: the file needs 600 bytes, 400 of 1000 are free"),
      1)
      << ::testing::PrintToString(events);
  EXPECT_EQ(events.back().rfind("RelayFailed", 0), 0u);

  // The download deletes the first file and gives its bytes back: the second fits now.
  EXPECT_EQ(HttpGet(Base() + "/q?t=0000A001AAAAAAAAAAAAAA").Body, std::string(600, 'a'));
  ASSERT_TRUE(Eventually([&] { return m_relay.StoredCount() == 0; }));
  Relay("0000A003AAAAAAAAAAAAAA", "b.bin", std::string(600, 'b'));
  EXPECT_EQ(m_relay.StoredCount(), 1);
  EXPECT_EQ(m_dialog.Events().back().rfind("RelayFailed", 0), std::string::npos);
}

TEST_F(RelayTest, AFileNotDownloadedInTimeIsDeleted) {
  StartRelay(300);
  Relay("0000AAAAAAAAAAAAAAAAAA", "late.txt", "too late");
  ASSERT_TRUE(Eventually([&] { return Logged("stored 0000AAAAAAAAAAAAAAAAAA"); }));
  ASSERT_TRUE(Eventually([&] { return m_relay.StoredCount() == 0 && StoredFiles() == 0; }));
  EXPECT_TRUE(Logged("expired 0000AAAAAAAAAAAAAAAAAA"));
  EXPECT_EQ(HttpGet(Base() + "/q?t=0000AAAAAAAAAAAAAAAAAA").Status, 410);
  EXPECT_EQ(HttpGet(Base() + "/q?t=0000BBBBAAAAAAAAAAAAAA").Status, 404);  // never was
}

TEST_F(RelayTest, SignInAndSignOutReachTheRelay) {
  StartRelay();
  EXPECT_EQ(HttpGet(Base() + "/login").Body, "0");
  ServiceSignIn(m_state, m_dialog);
  EXPECT_TRUE(m_dialog.Events().empty());
  m_state.DownloadCount = 4;
  m_state.CloudRelayCount = 1;
  ServiceSignOut(m_state);
  EXPECT_TRUE(Logged("logout from 127.0.0.1 lan=4 cloud=1"));
}

TEST(RelayRelease, ComparesDotSeparatedNumbers) {
  EXPECT_TRUE(IsNewerRelease("2.2", "2.1"));
  EXPECT_TRUE(IsNewerRelease("2.10", "2.9"));
  EXPECT_TRUE(IsNewerRelease("3", "2.1"));
  EXPECT_TRUE(IsNewerRelease("2.1.1", "2.1"));
  EXPECT_FALSE(IsNewerRelease("2.1", "2.1"));
  EXPECT_FALSE(IsNewerRelease("2.1.0", "2.1"));
  EXPECT_FALSE(IsNewerRelease("2.0.9", "2.1"));
}

TEST_F(RelayTest, StartingClearsOnlyTheRelaysOwnLeftoverFiles) {
  marlix_test::WriteFile(Storage() / "0000AAAA.marlix-relay", "left from an earlier run");
  marlix_test::WriteFile(Storage() / "0000BBBB.marlix-relay-part", "half");
  marlix_test::WriteFile(Storage() / "keep.txt", "not the relay's");
  StartRelay();
  EXPECT_EQ(StoredFiles(), 1u);
  EXPECT_EQ(marlix_test::ReadFile(Storage() / "keep.txt"), "not the relay's");
  EXPECT_EQ(HttpGet(Base() + "/q?t=0000AAAAAAAAAAAAAAAAAA").Status, 404);  // no record of it: not the relay's
}

TEST_F(RelayTest, AStoredFileOutlivesARestartUntilItExpires) {
  StartRelay();
  Relay("0000CAFEAAAAAAAAAAAAAA", "kept.txt", "still here");
  ASSERT_EQ(m_relay.StoredCount(), 1);
  m_relay.Stop();
  StartRelay();
  EXPECT_EQ(m_relay.StoredCount(), 1);
  EXPECT_EQ(HttpGet(Base() + "/q?t=0000CAFEAAAAAAAAAAAAAA").Body, "still here");
}
