// Sign-in with the new-release notice and sign-out with the usage counts, against a server on a
// loopback port.

#include <gtest/gtest.h>

#include "ScriptedServer.h"
#include "ServiceTestEnv.h"
#include "service/ServiceConfig.h"
#include "service/ServiceSession.h"

namespace {

// The first line of the request that the server saw last.
std::string RequestLine(CScriptedServer& server, size_t n) {
  EXPECT_TRUE(server.WaitRequests(n));
  const std::string request = server.Requests().at(n - 1);
  return request.substr(0, request.find("\r\n"));
}

}  // namespace

TEST_F(ServiceTest, SignInShowsTheNoticeAndOpensTheHomePageWhenTheAnswerBeginsWithOne) {
  for (const std::string answer : {"1", "1.2"}) {
    CRecordingMainDialog dialog;
    CScriptedServer server([&](const std::string&) { return HttpReply(answer); });
    UseHost(server.Host());
    ServiceSignIn(m_state, dialog);
    EXPECT_EQ(RequestLine(server, 1), "GET /login?release=" MARLIX_VERSION " HTTP/1.1");
    // The notice, with the home page to open after it.
    EXPECT_EQ(dialog.Events(), std::vector<std::string>{"NewVersion http://" + server.Host()}) << answer;
  }
}

TEST_F(ServiceTest, SignInShowsNothingForOtherAnswersOrNoService) {
  for (const std::string answer : {"0", "", " 1"}) {
    CScriptedServer server([&](const std::string&) { return HttpReply(answer); });
    UseHost(server.Host());
    ServiceSignIn(m_state, m_dialog);
    EXPECT_EQ(RequestLine(server, 1), "GET /login?release=" MARLIX_VERSION " HTTP/1.1");
  }
  UseRefusingHost();
  ServiceSignIn(m_state, m_dialog);
  EXPECT_TRUE(m_dialog.Events().empty());
}

TEST_F(ServiceTest, SignOutReportsDownloadsAndRelaysThatConnected) {
  CScriptedServer server([](const std::string&) { return HttpReply("OK"); });
  UseHost(server.Host());
  ServiceSignOut(m_state);
  EXPECT_EQ(RequestLine(server, 1), "GET /logout?lan=0&cloud=0 HTTP/1.1");

  // Three file downloads and one folder download, as the web service counts them once their reply
  // header is written (the delivery itself is tested with the web service).
  for (int i = 0; i < 4; ++i) ++m_state.DownloadCount;
  // Two relays: one reaches the service, one finds no service listening.
  marlix_test::WriteFile(m_dir.Path() / "a.txt", "abc");
  const std::string path = (m_dir.Path() / "a.txt").string();
  m_uploads.Upload({"0000000A", ItemKind::File, path});
  ASSERT_TRUE(m_uploads.WaitIdle(10000));
  ASSERT_TRUE(server.WaitRequests(2));
  UseRefusingHost();
  m_uploads.Upload({"0000000B", ItemKind::File, path});
  ASSERT_TRUE(m_uploads.WaitIdle(10000));

  UseHost(server.Host());
  ServiceSignOut(m_state);
  EXPECT_EQ(RequestLine(server, 3), "GET /logout?lan=4&cloud=1 HTTP/1.1");
}

TEST(ServiceConfig, NoRelayUntilSetTheUploadHostOverridesAndHostOrHostAndPort) {
  SharedState state;
  EXPECT_EQ(ServiceHost(state), "");
  EXPECT_FALSE(RelayConfigured(state));
  state.ConfiguredRelay.Set("relay.example:8200");
  EXPECT_EQ(ServiceHost(state), "relay.example:8200");
  EXPECT_EQ(UploadHost(state), "relay.example:8200");
  state.ConfiguredUploadHost.Set("upload.example:81");
  EXPECT_EQ(ServiceHost(state), "relay.example:8200");
  EXPECT_EQ(UploadHost(state), "upload.example:81");

  std::string host;
  int port = 0;
  EXPECT_TRUE(SplitHostPort("relay.example", host, port));
  EXPECT_EQ(host, "relay.example");
  EXPECT_EQ(port, 80);
  EXPECT_TRUE(SplitHostPort("10.0.0.1:8200", host, port));
  EXPECT_EQ(host, "10.0.0.1");
  EXPECT_EQ(port, 8200);
  EXPECT_FALSE(SplitHostPort("h:", host, port));
  EXPECT_FALSE(SplitHostPort("h:70000", host, port));
  EXPECT_FALSE(SplitHostPort("h:8x", host, port));
  EXPECT_FALSE(SplitHostPort(":80", host, port));
}
