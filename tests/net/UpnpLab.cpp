#include "UpnpLab.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/TestEnv.h"

namespace fs = std::filesystem;

namespace marlix_test {

namespace {

const std::string kLabScript = std::string(MARLIX_SOURCE_DIR) + "/tests/net/upnp_lab.py";

std::string Run(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = ::pclose(p);
  if (status) *status = rc;
  return out;
}

// Debian's interpreter when there is one: version-manager shims cost a second a start.
std::string Python() { return ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

bool Have(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

int CountOf(const std::string& haystack, const std::string& needle) {
  int count = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + needle.size()))
    ++count;
  return count;
}

std::string CUpnpLab::WhyUnavailable(Gateway gateway) {
  if (::geteuid() != 0) return "needs root for network namespaces";
  for (const char* tool : {"ip", "python3"})
    if (!Have(tool)) return std::string("needs ") + tool;
  if ((gateway == Gateway::Miniupnpd || gateway == Gateway::MiniupnpdPrivateWan) &&
      (!Have("miniupnpd") || !Have("nft") || !Have("upnpc")))
    return "needs miniupnpd, nft and upnpc";
  const std::string probe = "marlix-probe-" + std::to_string(::getpid());
  if (std::system(("ip netns add " + probe + " 2>/dev/null").c_str()) != 0) return "cannot create network namespaces";
  std::system(("ip netns del " + probe + " 2>/dev/null").c_str());
  return "";
}

CUpnpLab::CUpnpLab(Gateway gateway, const std::string& scenario) {
  static std::atomic<int> serial{0};
  m_prefix = "mx" + std::to_string(::getpid()) + "n" + std::to_string(serial++);
  std::string tmpl = (fs::temp_directory_path() / "marlix-upnp-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  m_dir = tmpl;
  const char* kind = gateway == Gateway::Miniupnpd             ? "miniupnpd"
                     : gateway == Gateway::MiniupnpdPrivateWan ? "miniupnpd-private"
                     : gateway == Gateway::Fake                ? "fake"
                                                               : "none";
  WriteFile(m_dir + "/scenario.json", scenario);
  int status = 0;
  const std::string out = Run(Python() + " '" + kLabScript + "' up " + m_prefix + " '" + m_dir + "' --gateway " + kind +
                                  " --scenario '" + m_dir + "/scenario.json' 2>&1",
                              &status);
  if (status != 0) m_error = "the lab did not come up: " + out + ReadFile(m_dir + "/miniupnpd.log");
}

CUpnpLab::~CUpnpLab() {
  std::system((Python() + " '" + kLabScript + "' down " + m_prefix + " '" + m_dir + "' >/dev/null 2>&1").c_str());
  std::error_code ec;
  fs::remove_all(m_dir, ec);
}

CClientRun CUpnpLab::RunInClient(const std::function<std::string()>& fn) const {
  const std::string work = Work();
  fs::create_directories(work);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(120);  // never outlive a stuck exchange
    const int out = ::open((m_dir + "/client.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open((m_dir + "/client.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int ns = ::open(("/run/netns/" + ClientNs()).c_str(), O_RDONLY);
    if (out < 0 || err < 0 || ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) ::_exit(3);
    ::setenv("MARLIX_HOME", work.c_str(), 1);  // programs started here work in it too
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    std::string result;
    try {
      result = fn();
    } catch (const std::exception& e) {
      result = std::string("exception: ") + e.what();
    }
    std::fflush(nullptr);
    WriteFile(m_dir + "/client.result", result);
    ::_exit(0);
  }
  CClientRun run;
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid) run.exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.result = ReadFile(m_dir + "/client.result");
  run.out = ReadFile(m_dir + "/client.out");
  run.err = ReadFile(m_dir + "/client.err");
  return run;
}

std::string CUpnpLab::Exec(const std::string& ns, const std::string& command) const {
  return Run("ip netns exec " + ns + " " + command);
}

std::string CUpnpLab::Leases() const { return ReadFile(m_dir + "/leases"); }
std::string CUpnpLab::Calls() const { return ReadFile(m_dir + "/calls.jsonl"); }

}  // namespace marlix_test
