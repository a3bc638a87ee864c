// marlix-cli share --cloud through a relay: sign-in, the upload with its progress on stderr, the link
// on stdout, and the sign-out at the end.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "RelayTestEnv.h"
#include "support/SilentListener.h"

TEST_F(RelayTest, TheTerminalFrontEndSharesAFileThroughTheRelay) {
  StartRelay();
  marlix_test::WriteFile(m_dir.Path() / "notes.txt", std::string(300000, 'n'));
  const std::string out = (m_dir.Path() / "cli.out").string();
  const std::string err = (m_dir.Path() / "cli.err").string();
  const pid_t pid = SpawnProgram(m_dir.Path(), {"marlix-cli", "share", "--cloud", "--no-qr", "notes.txt"}, out, err);
  ASSERT_GT(pid, 0);
  const bool stored = Eventually([&] { return m_relay.StoredCount() == 1; });
  // The link is printed only once the relay has answered the upload, a moment after it stored it.
  Eventually([&] { return marlix_test::ReadFile(out).find(" notes.txt\n") != std::string::npos; }, 5000);
  ::kill(pid, SIGINT);
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(stored) << marlix_test::ReadFile(err);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  const std::string line = marlix_test::ReadFile(out).substr(0, marlix_test::ReadFile(out).find('\n'));
  EXPECT_TRUE(line.ends_with(" notes.txt")) << line;  // the address, one blank, the item's name
  const std::string link = line.substr(0, line.find(' '));
  ASSERT_EQ(link.size(), (Base() + "/q?t=").size() + 22) << link;
  EXPECT_EQ(link.substr(0, link.size() - 22), Base() + "/q?t=");
  EXPECT_NE(marlix_test::ReadFile(err).find("progress 100\n"), std::string::npos);
  EXPECT_EQ(HttpGet(link).Body, std::string(300000, 'n'));
  EXPECT_TRUE(Logged("logout from 127.0.0.1 lan=0 cloud=1"));
}

TEST_F(RelayTest, ARefusedUploadShowsTheRelaysReasonNoAddressAndExitsOne) {
  StartRelay(600000, 4 << 20, 1000);
  marlix_test::WriteFile(m_dir.Path() / "notes.txt", std::string(300000, 'n'));
  const std::string out = (m_dir.Path() / "cli.out").string();
  const std::string err = (m_dir.Path() / "cli.err").string();
  const pid_t pid = SpawnProgram(m_dir.Path(), {"marlix-cli", "share", "--cloud", "--no-qr", "notes.txt"}, out, err);
  ASSERT_GT(pid, 0);
  int status = -1;
  const bool ended = Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 20000);
  if (!ended) {
    ::kill(pid, SIGINT);
    ::waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(ended) << "still serving after the refusal";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_EQ(marlix_test::ReadFile(out), "");
  EXPECT_NE(marlix_test::ReadFile(err).find("relay storage full: the file needs "), std::string::npos)
      << marlix_test::ReadFile(err);
  EXPECT_EQ(m_relay.StoredCount(), 0);
}

// A relay that takes connections and never answers holds the sign-in: Ctrl+C ends the terminal at
// once all the same (the sign-in is cut, the sign-out gives up), with the status of a stop.
TEST_F(RelayTest, CtrlCEndsTheTerminalAtOnceWhileTheRelayIsSilent) {
  CSilentListener relay;
  setenv("MARLIX_SERVICE_HOST", relay.Host().c_str(), 1);
  marlix_test::WriteFile(m_dir.Path() / "notes.txt", "n");
  const std::string err = (m_dir.Path() / "cli.err").string();
  const pid_t pid = SpawnProgram(m_dir.Path(), {"marlix-cli", "share", "--cloud", "--no-qr", "notes.txt"},
                                 (m_dir.Path() / "cli.out").string(), err);
  unsetenv("MARLIX_SERVICE_HOST");
  ASSERT_GT(pid, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the sign-in waits on the relay
  const auto began = std::chrono::steady_clock::now();
  ::kill(pid, SIGINT);
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  RecordProperty("stop_seconds", std::to_string(seconds));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << marlix_test::ReadFile(err);
  EXPECT_LT(seconds, 5.0) << "the stop waited on the relay";  // a hang check; well under 1 s here
}
