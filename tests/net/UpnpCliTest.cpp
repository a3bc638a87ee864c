// marlix-cli --wan inside the lab's client namespace: the Internet address, its "1.bmp", and the
// failure text without a gateway.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "UpnpLab.h"
#include "app/UiLanguage.h"
#include "cli/TerminalWords.h"
#include "net/WanSetup.h"
#include "support/TestEnv.h"

namespace fs = std::filesystem;
using marlix_test::CClientRun;
using marlix_test::CUpnpLab;
using marlix_test::ReadFile;
using Gateway = CUpnpLab::Gateway;

namespace {

const std::string kCli = std::string(MARLIX_BINARY_DIR) + "/marlix-cli";

// Runs marlix-cli in the folder `work` until it has printed a line or ended, then stops it as Ctrl+C
// would. Returns "exit N" with its output in the folder's cli.out and cli.err.
std::string RunCli(const std::string& work, const std::vector<std::string>& args) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(work.c_str()) != 0) ::_exit(126);  // the program's folder; the caller stays where it is
    std::freopen((work + "/cli.out").c_str(), "w", stdout);
    std::freopen((work + "/cli.err").c_str(), "w", stderr);
    std::vector<char*> argv{const_cast<char*>(kCli.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(kCli.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  bool ended = false;
  for (int i = 0; i < 300 && !ended; ++i) {
    if (::waitpid(pid, &status, WNOHANG) == pid)
      ended = true;
    else if (ReadFile(work + "/cli.out").find("http://") != std::string::npos)
      break;
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!ended) {
    ::kill(pid, SIGINT);
    ::waitpid(pid, &status, 0);
  }
  return "exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

std::string Decode(const std::string& file) {
  std::string out;
  FILE* p = ::popen(("zbarimg -q --raw --nodbus '" + file + "' 2>/dev/null").c_str(), "r");
  if (!p) return out;
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

}  // namespace

TEST(UpnpCli, ShareWanShowsTheInternetAddressAndWritesItsImage) {
  const std::string why = CUpnpLab::WhyUnavailable(Gateway::Miniupnpd);
  if (!why.empty()) GTEST_SKIP() << "UPnP test in network namespaces: " << why;
  if (!fs::exists(kCli)) GTEST_SKIP() << "marlix-cli is not built";
  CUpnpLab lab(Gateway::Miniupnpd);
  ASSERT_EQ(lab.Error(), "");
  const std::string work = lab.Work();
  const CClientRun run = lab.RunInClient([&] {
    marlix_test::WriteFile(work + "/photo.jpg", "jpeg bytes");
    const std::string rc = RunCli(work, {"share", "--wan", "--no-qr", "photo.jpg"});
    return rc + "\n" + ReadFile(work + "/cli.out") + "--\n" + ReadFile(work + "/cli.err") + "--\n" +
           Decode(work + "/1.bmp");
  });
  ASSERT_TRUE(run.exited) << run.err;
  // "exit 0", the address line, the upload page's line, "--", stderr with the external address, "--",
  // the decoded image.
  const std::string prefix = "exit 0\nhttp://198.51.100.7:8081/f?t=";
  ASSERT_EQ(run.result.rfind(prefix, 0), 0u) << run.result;
  const std::string token = run.result.substr(prefix.size(), 22);
  EXPECT_EQ(token.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
            std::string::npos)
      << run.result;
  const std::string address = "http://198.51.100.7:8081/f?t=" + token;
  const std::string lines = address + " photo.jpg\nhttp://198.51.100.7:8081/index.html?k=";
  EXPECT_EQ(run.result.substr(7, lines.size()), lines) << run.result;
  EXPECT_NE(run.result.find(" upload\n--\n"), std::string::npos) << run.result;
  EXPECT_NE(run.result.find("\n198.51.100.7\n"), std::string::npos) << run.result;
  EXPECT_EQ(run.result.substr(run.result.size() - address.size() - 4), "--\n" + address + "\n") << run.result;
}

TEST(UpnpCli, ReceiveWanWithoutGatewayPrintsTheFailure) {
  const std::string why = CUpnpLab::WhyUnavailable(Gateway::None);
  if (!why.empty()) GTEST_SKIP() << "UPnP test in network namespaces: " << why;
  if (!fs::exists(kCli)) GTEST_SKIP() << "marlix-cli is not built";
  CUpnpLab lab(Gateway::None);
  ASSERT_EQ(lab.Error(), "");
  const std::string work = lab.Work();
  const CClientRun run = lab.RunInClient([&] {
    const std::string rc = RunCli(work, {"receive", "--wan", "--no-qr"});
    return rc + "\n" + ReadFile(work + "/cli.out") + "--\n" + ReadFile(work + "/cli.err") + "--\n" +
           (fs::exists(work + "/1.bmp") ? "1.bmp" : "no image");
  });
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_NE(run.result.rfind("exit 1\n", 0), std::string::npos) << run.result;
  EXPECT_NE(run.result.find(TerminalWords({ViewEventId::WanFailed}, UiSpeaksChinese()).Line + "\n--\nno image"),
            std::string::npos)
      << run.result;
  EXPECT_EQ(run.result.find("http://"), std::string::npos) << run.result;
}

TEST(UpnpCli, BehindAnotherNatShareAndReceiveSayItAndExitOne) {
  const std::string why = CUpnpLab::WhyUnavailable(Gateway::Fake);
  if (!why.empty()) GTEST_SKIP() << "UPnP test in network namespaces: " << why;
  if (!fs::exists(kCli)) GTEST_SKIP() << "marlix-cli is not built";
  CUpnpLab lab(Gateway::Fake, R"({"external_ip": "100.64.3.4"})");
  ASSERT_EQ(lab.Error(), "");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"share", "--wan", "--no-qr", "photo.jpg"}, {"receive", "--wan", "--no-qr"}}) {
    const std::string work = lab.Work();
    const CClientRun run = lab.RunInClient([&] {
      marlix_test::WriteFile(work + "/photo.jpg", "jpeg bytes");
      const std::string rc = RunCli(work, args);
      return rc + "\n" + ReadFile(work + "/cli.out") + "--\n" + ReadFile(work + "/cli.err");
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.result.rfind("exit 1\n--\n", 0), 0u) << run.result;
    EXPECT_NE(run.result.find(TerminalWords({ViewEventId::WanBehindNat}, UiSpeaksChinese()).Line + "\n"),
              std::string::npos)
        << run.result;
    EXPECT_EQ(run.result.find("100.64.3.4"), std::string::npos) << run.result;
  }
  // Each run mapped the port and removed it again.
  const std::string calls = lab.Calls();
  EXPECT_EQ(marlix_test::CountOf(calls, "\"action\": \"AddPortMapping\""), 2) << calls;
  EXPECT_EQ(marlix_test::CountOf(calls, "\"action\": \"DeletePortMapping\""), 2) << calls;
}
