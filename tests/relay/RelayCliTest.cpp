// marlix-cli share --cloud through a relay: sign-in, the upload with its progress on stderr, the link
// on stdout, the sign-out at the end, and Ctrl+C while the relay holds the sign-in.

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <thread>

#include "RelayTestEnv.h"
#include "support/SilentListener.h"

namespace {

const std::vector<std::string> kShareNotes = {"marlix-cli", "share", "--cloud", "--no-qr", "notes.txt"};

}  // namespace

TEST_F(RelayTest, TheTerminalFrontEndSharesAFileThroughTheRelay) {
  StartRelay();
  marlix_test::WriteFile(m_dir.Path() / "notes.txt", std::string(300000, 'n'));
  std::string out, err;
  EXPECT_EQ(Share("notes.txt", out, err), 0) << err;
  ASSERT_EQ(m_relay.StoredCount(), 1) << err;

  const std::string line = out.substr(0, out.find('\n'));
  EXPECT_TRUE(line.ends_with(" notes.txt")) << line;  // the address, one blank, the item's name
  const std::string link = line.substr(0, line.find(' '));
  ASSERT_EQ(link.size(), (Base() + "/q?t=").size() + 22) << link;
  EXPECT_EQ(link.substr(0, link.size() - 22), Base() + "/q?t=");
  EXPECT_NE(err.find("progress 100\n"), std::string::npos);
  EXPECT_EQ(HttpGet(link).Body, std::string(300000, 'n'));
  EXPECT_TRUE(Logged("logout from 127.0.0.1 lan=0 cloud=1"));
}

TEST_F(RelayTest, ARefusedUploadShowsTheRelaysReasonNoAddressAndExitsOne) {
  StartRelay(600000, 4 << 20, 1000);
  marlix_test::WriteFile(m_dir.Path() / "notes.txt", std::string(300000, 'n'));
  std::string out, err;
  EXPECT_EQ(Share("notes.txt", out, err), 1) << "still serving after the refusal, or another status\n" << err;
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find("relay storage full: the file needs "), std::string::npos) << err;
  EXPECT_EQ(m_relay.StoredCount(), 0);
}

namespace {

// Starts marlix-cli (as SpawnProgram does) in a network and mount namespace of its own, where the one
// name server, 127.0.0.1:53, is a socket that takes queries and never answers: every name's
// resolution hangs, and nothing leaves the namespace. -1 when no namespace can be made here.
pid_t SpawnWithHangingResolver(const std::filesystem::path& dir, const std::vector<std::string>& args,
                               const std::string& out, const std::string& err) {
  const std::string resolv = (dir / "resolv.conf").string();
  marlix_test::WriteFile(resolv, "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n");
  const std::string program = std::string(MARLIX_BINARY_DIR) + "/" + args[0];
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int ready[2];  // closed by the exec; a byte when the set-up failed
  if (::pipe2(ready, O_CLOEXEC) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {  // only system calls from here on: the parent has other threads
    ifreq lo{};
    std::memcpy(lo.ifr_name, "lo", 3);
    sockaddr_in dns{};
    dns.sin_family = AF_INET;
    dns.sin_port = htons(53);
    dns.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int ioctlSocket = ::unshare(CLONE_NEWNET | CLONE_NEWNS) == 0 ? ::socket(AF_INET, SOCK_DGRAM, 0) : -1;
    const int dnsSocket = ioctlSocket >= 0 ? ::socket(AF_INET, SOCK_DGRAM, 0) : -1;  // kept open by the exec
    if (dnsSocket < 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(resolv.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0 ||
        ::ioctl(ioctlSocket, SIOCGIFFLAGS, &lo) != 0 || (lo.ifr_flags |= IFF_UP, false) ||
        ::ioctl(ioctlSocket, SIOCSIFFLAGS, &lo) != 0 ||
        ::bind(dnsSocket, reinterpret_cast<sockaddr*>(&dns), sizeof dns) != 0 || ::chdir(dir.c_str()) != 0 ||
        ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1) < 0 ||
        ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2) < 0) {
      (void)!::write(ready[1], "x", 1);
      ::_exit(127);
    }
    ::execve(program.c_str(), argv.data(), environ);
    (void)!::write(ready[1], "x", 1);
    ::_exit(127);
  }
  ::close(ready[1]);
  char failed = 0;
  const bool started = pid > 0 && ::read(ready[0], &failed, 1) == 0;
  ::close(ready[0]);
  if (pid > 0 && !started) ::waitpid(pid, nullptr, 0);
  return started ? pid : -1;
}

}  // namespace

// Ctrl+C ends the terminal at once whatever the relay does while the sign-in waits on it: a relay that
// takes connections and never answers, one that answers too slowly ever to finish, and a relay name
// whose resolution hangs. The sign-in is cut, the sign-out gives up soon, and the status is a stop's.
TEST_F(RelayTest, CtrlCEndsTheTerminalAtOnceWhileTheRelayIsSilentSlowOrUnresolved) {
  enum Relay { Silent, Slow, Unresolved };
  for (const Relay kind : {Silent, Slow, Unresolved}) {
    const char* name = kind == Silent ? "silent" : kind == Slow ? "slow" : "unresolved";
    CSilentListener relay(kind == Slow ? CSilentListener::Trickle : CSilentListener::Silent);
    setenv("MARLIX_SERVICE_HOST", kind == Unresolved ? "relay.marlix.test" : relay.Host().c_str(), 1);
    marlix_test::WriteFile(m_dir.Path() / "notes.txt", "n");
    const std::string err = (m_dir.Path() / "cli.err").string();
    const std::string out = (m_dir.Path() / "cli.out").string();
    const pid_t pid = kind == Unresolved ? SpawnWithHangingResolver(m_dir.Path(), kShareNotes, out, err)
                                         : SpawnProgram(m_dir.Path(), kShareNotes, out, err);
    unsetenv("MARLIX_SERVICE_HOST");
    if (kind == Unresolved && pid < 0) {
      std::cout << "no network namespace here: the hanging resolver is not tried\n";
      continue;
    }
    ASSERT_GT(pid, 0) << name;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the sign-in waits on the relay
    const auto began = std::chrono::steady_clock::now();
    ::kill(pid, SIGINT);
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    RecordProperty(std::string("stop_seconds_") + name, std::to_string(seconds));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << name << " " << status << marlix_test::ReadFile(err);
    EXPECT_LT(seconds, 5.0) << "the stop waited on the " << name << " relay";  // a hang check; well under 1 s
  }
}
