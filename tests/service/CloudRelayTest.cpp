// The relay upload byte for byte against a server on a loopback port, its refusals, and the hand-off
// of the dialog at shutdown.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "ScriptedServer.h"
#include "ServiceTestEnv.h"
#include "service/ServiceConfig.h"
#include "service/ServiceSession.h"

namespace {

std::string BigEndian(uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
}

// What the relay reads: the frame (token, name, size, each after its 32-bit length) and the file.
std::string Frame(const std::string& token, const std::string& name, const std::string& content) {
  return BigEndian(static_cast<uint32_t>(token.size())) + token + BigEndian(static_cast<uint32_t>(name.size())) + name +
         BigEndian(static_cast<uint32_t>(content.size())) + content;
}

std::string BodyOf(const std::string& request) { return request.substr(request.find("\r\n\r\n") + 4); }

// The value of a header line of the request, or "-" when there is none.
std::string HeaderOf(const std::string& request, const std::string& name) {
  const std::string head = request.substr(0, request.find("\r\n\r\n") + 2);
  const size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "-";
  const size_t from = at + name.size() + 4;
  return head.substr(from, head.find("\r\n", from) - from);
}

}  // namespace

TEST_F(ServiceTest, RelayUploadPostsTheFrameToTheUploadHostOnce) {
  CScriptedServer server([](const std::string&) { return HttpReply("OK"); });
  UseHost(server.Host());
  m_state.ConfiguredUploadHost.Set("upload.example");
  marlix_test::WriteFile(m_dir.Path() / "docs/报告.txt", "hello");
  EXPECT_TRUE(m_uploads.Upload({"1A2B3C4D", ItemKind::File, (m_dir.Path() / "docs/报告.txt").string()}));
  ASSERT_TRUE(server.WaitRequests(1));
  ASSERT_TRUE(m_uploads.WaitIdle(10000));

  const std::string request = server.Requests()[0];
  EXPECT_EQ(request.substr(0, request.find("\r\n")), "POST /upload HTTP/1.1");
  EXPECT_EQ(HeaderOf(request, "Host"), "upload.example");
  EXPECT_EQ(HeaderOf(request, "User-Agent"), "Marlix/" MARLIX_VERSION);
  EXPECT_EQ(BodyOf(request), Frame("1A2B3C4D", "报告.txt", "hello"));
  EXPECT_EQ(m_state.CloudRelayCount, 1);
  EXPECT_EQ(m_dialog.Events(),
            (std::vector<std::string>{"ProgressReset", "ProgressShown", "RelayProgress 1A2B3C4D 5/5"}));
}

TEST_F(ServiceTest, RelayOfAnEmptyFileEndsAfterTheSizeFieldAndShowsTheBarUnmoved) {
  CScriptedServer server([](const std::string&) { return HttpReply("OK"); });
  UseHost(server.Host());
  marlix_test::WriteFile(m_dir.Path() / "empty.bin", "");
  m_uploads.Upload({"0000FFFF", ItemKind::File, (m_dir.Path() / "empty.bin").string()});
  ASSERT_TRUE(server.WaitRequests(1));
  ASSERT_TRUE(m_uploads.WaitIdle(10000));
  EXPECT_EQ(BodyOf(server.Requests()[0]), Frame("0000FFFF", "empty.bin", ""));
  EXPECT_EQ(m_dialog.Events(), (std::vector<std::string>{"ProgressReset", "ProgressShown"}));
}

TEST_F(ServiceTest, RelayRefusesFoldersWithBothTextsAndConnectsNowhere) {
  CScriptedServer server([](const std::string&) { return HttpReply("OK"); });
  UseHost(server.Host());
  std::filesystem::create_directory(m_dir.Path() / "photos");
  for (int i = 0; i < 2; ++i)
    EXPECT_FALSE(m_uploads.Upload({"0000000D", ItemKind::Folder, (m_dir.Path() / "photos").string()}));
  EXPECT_EQ(m_dialog.Events(), std::vector<std::string>(2, "RelayFolderRefused"));
  EXPECT_FALSE(server.WaitRequests(1, 300));
  EXPECT_EQ(m_state.CloudRelayCount, 0);
}

TEST_F(ServiceTest, RelayOfAFileThatCannotBeOpenedOrIsTooLargeSendsNothing) {
  CScriptedServer server([](const std::string&) { return HttpReply("OK"); });
  UseHost(server.Host());
  EXPECT_TRUE(m_uploads.Upload({"00000001", ItemKind::File, (m_dir.Path() / "missing.txt").string()}));
  EXPECT_EQ(m_uploads.UploadsRunning(), 0);

  // 4 GiB does not fit the 32-bit size field: refused with a message (a sparse file takes no space).
  const std::string big = (m_dir.Path() / "big.iso").string();
  marlix_test::WriteFile(big, "");
  ASSERT_EQ(::truncate(big.c_str(), 4ll << 30), 0);
  EXPECT_FALSE(m_uploads.Upload({"00000002", ItemKind::File, big}));
  EXPECT_EQ(m_dialog.Events(), std::vector<std::string>{"RelayFileTooLarge"});

  EXPECT_FALSE(server.WaitRequests(1, 300));
  EXPECT_EQ(m_state.CloudRelayCount, 0);
  EXPECT_TRUE(m_dialog.Reports(ViewEventId::RelayProgress).empty());
}

TEST_F(ServiceTest, RelayToNoServiceCountsNothingAndShowsNoProgress) {
  UseRefusingHost();
  marlix_test::WriteFile(m_dir.Path() / "a.txt", "abc");
  m_uploads.Upload({"0000000A", ItemKind::File, (m_dir.Path() / "a.txt").string()});
  ASSERT_TRUE(m_uploads.WaitIdle(10000));
  EXPECT_EQ(m_state.CloudRelayCount, 0);
  EXPECT_EQ(m_dialog.Events(), (std::vector<std::string>{"ProgressReset", "RelayFailed 0000000A 1"}));
}

TEST_F(ServiceTest, EveryRelayReplyIsReadAndAFailureSaysTheRelaysReason) {
  struct Case {
    std::string Reply;    // what the relay answers; empty: it closes without a word
    std::string Failure;  // the failure's code and the relay's reason; empty: stored
  };
  const Case cases[] = {
      {HttpReply("OK"), ""},
      {"HTTP/1.1 507 Insufficient Storage\r\nContent-Length: 19\r\n\r\nrelay storage full\n", "3 relay storage full"},
      {"HTTP/1.1 409 Conflict\r\nContent-Length: 0\r\n\r\n", "3 409 Conflict"},
      {"HTTP/1.1 500 Oops\r\nContent-Length: 9\r\n\r\nbad\x01\tname", "3 badname"},
      {"", "2"},  // no answer
  };
  marlix_test::WriteFile(m_dir.Path() / "a.txt", "abc");
  for (const Case& c : cases) {
    CRecordingMainDialog dialog;
    m_state.Events.Attach(&dialog);
    CScriptedServer server([&](const std::string&) { return c.Reply; });
    UseHost(server.Host());
    m_uploads.Upload({"0000000A", ItemKind::File, (m_dir.Path() / "a.txt").string()});
    ASSERT_TRUE(m_uploads.WaitIdle(10000));
    const std::vector<std::string> events = dialog.Events();
    if (c.Failure.empty()) {
      EXPECT_EQ(events.back(), "RelayProgress 0000000A 3/3");
    } else {
      EXPECT_EQ(events.back(), "RelayFailed 0000000A " + c.Failure) << c.Reply;
    }
    m_state.Events.Detach();
  }
}

TEST_F(ServiceTest, AnUploadStillRunningAtShutdownNeverTouchesTheGoneDialog) {
  CScriptedServer server([](const std::string&) { return HttpReply("OK"); });
  server.Hold();
  UseHost(server.Host());
  marlix_test::WriteFile(m_dir.Path() / "big.bin", std::string(16 << 20, 'q'));
  auto dialog = std::make_unique<CRecordingMainDialog>();
  m_state.Events.Attach(dialog.get());
  m_uploads.Upload({"0000000E", ItemKind::File, (m_dir.Path() / "big.bin").string()});
  ASSERT_TRUE(server.WaitHead());
  EXPECT_EQ(m_uploads.UploadsRunning(), 1);

  // Shutdown: the dialog is detached and destroyed while the upload waits on the service.
  m_state.Events.Detach();
  dialog.reset();
  EXPECT_EQ(m_uploads.UploadsRunning(), 1);
  server.Release();
  ASSERT_TRUE(m_uploads.WaitIdle(20000));
  ASSERT_TRUE(server.WaitRequests(1));
  EXPECT_EQ(BodyOf(server.Requests()[0]), Frame("0000000E", "big.bin", std::string(16 << 20, 'q')));
}

// The close: an upload to a relay that takes the request and never answers ends at once when the
// uploads are stopped, and its thread is joined; the stop is no failure to tell, and nothing is told
// after it.
TEST_F(ServiceTest, StoppingTheUploadsEndsOneTheRelayNeverAnswersAtOnce) {
  CScriptedServer server([](const std::string&) { return HttpReply("OK"); });
  server.Hold();
  UseHost(server.Host());
  marlix_test::WriteFile((m_dir.Path() / "a.bin").string(), std::string(1 << 20, 'q'));
  m_uploads.Upload({"0000000F", ItemKind::File, (m_dir.Path() / "a.bin").string()});
  ASSERT_TRUE(server.WaitHead());
  const auto start = std::chrono::steady_clock::now();
  m_uploads.Stop();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
  EXPECT_EQ(m_uploads.UploadsRunning(), 0);
  const size_t events = m_dialog.Events().size();
  server.Release();
  EXPECT_EQ(m_dialog.Events().size(), events);
  EXPECT_TRUE(m_dialog.Reports(ViewEventId::RelayFailed).empty());
}

TEST_F(ServiceTest, WithNoRelaySetNothingStartsAndNoLinkIsMade) {
  marlix_test::WriteFile(m_dir.Path() / "a.txt", "a");
  EXPECT_FALSE(m_uploads.Upload({"1A2B3C4D", ItemKind::File, (m_dir.Path() / "a.txt").string()}));
  EXPECT_EQ(ItemAddress(m_state, ReachMode::Cloud, {"1A2B3C4D", ItemKind::File, ""}), "");
  ServiceSignIn(m_state, m_dialog);
  ServiceSignOut(m_state);
  EXPECT_EQ(m_uploads.UploadsRunning(), 0);
  EXPECT_TRUE(m_dialog.Events().empty());
}
