#pragma once
// A relay started on a loopback port inside a temporary folder, with the client's service settings
// pointing at it, and a small HTTP GET that returns the reply whole.

#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/SharedState.h"
#include "relay/RelayServer.h"
#include "service/CloudRelay.h"
#include "service/HttpClient.h"
#include "service/ShareFlow.h"
#include "support/RecordingMainDialog.h"
#include "support/TestEnv.h"

struct HttpGetResult {
  long Status = 0;
  std::string Head;
  std::string Body;
};

inline HttpGetResult HttpGet(const std::string& url) {
  HttpGetResult r;
  CURL* curl = curl_easy_init();
  auto append = [](char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
  };
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &r.Body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, +append);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &r.Head);
  if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &r.Status);
  curl_easy_cleanup(curl);
  return r;
}

// Starts a program of the build in the folder `dir` (its relative paths name the folder's files) with
// its output streams in files; returns its process id, or -1.
inline pid_t SpawnProgram(const std::filesystem::path& dir, const std::vector<std::string>& args,
                          const std::string& out, const std::string& err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());  // the child's, never this process's
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const std::string program = std::string(MARLIX_BINARY_DIR) + "/" + args[0];
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Polls the condition for up to the given time.
template <class F>
bool Eventually(F&& condition, int timeoutMs = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class RelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_state.Home = m_dir.Path().string();
    m_state.Events.Attach(&m_dialog);
    m_state.HttpDiagnostics = false;
  }

  // `adjust` changes the options last (HTTPS, trusted proxies, quotas).
  void StartRelay(int64_t expiryMs = 600000, uint64_t maxBody = 4 << 20, uint64_t maxStorage = 0,
                  const std::function<void(RelayOptions&)>& adjust = {}) {
    RelayOptions options;
    options.Listen = "127.0.0.1:0";
    options.Storage = Storage().string();
    options.ExpiryMs = expiryMs;
    options.MaxBody = maxBody;
    options.MaxStorage = maxStorage;
    options.Log = [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(m_logLock);
      m_log.push_back(line);
    };
    if (adjust) adjust(options);
    m_scheme = options.Tls ? "https://" : "http://";
    ASSERT_TRUE(m_relay.Start(options));
    m_port = m_relay.Port();
    ASSERT_GT(m_port, 0);
    const std::string host = (options.Tls ? "https://127.0.0.1:" : "127.0.0.1:") + std::to_string(m_port);
    m_state.ConfiguredRelay.Set(host);
    setenv("MARLIX_SERVICE_HOST", host.c_str(), 1);  // for the programs the test starts
  }

  void TearDown() override {
    EXPECT_TRUE(m_uploads.WaitIdle(20000));
    m_relay.Stop();
    unsetenv("MARLIX_SERVICE_HOST");
  }

  std::filesystem::path Storage() const { return m_dir.Path() / "store"; }
  std::string Base() const { return m_scheme + "127.0.0.1:" + std::to_string(m_port); }

  // Files in the storage folder, but for the records that go with stored files.
  size_t StoredFiles() const {
    std::error_code ec;
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(Storage(), ec);
         !ec && it != std::filesystem::directory_iterator(); ++it) {
      if (it->path().filename().string().find("-meta") == std::string::npos) ++n;
    }
    return n;
  }

  // Runs `marlix-cli share --cloud` on a file in the test's folder; its exit status, stdout and stderr.
  // The terminal serves on after a stored upload (the phone may still come): once its link is printed
  // (after the relay's answer), SIGINT ends it.
  int Share(const std::string& name, std::string& out, std::string& err) {
    const std::string outFile = (m_dir.Path() / "cli.out").string(), errFile = (m_dir.Path() / "cli.err").string();
    const pid_t pid = SpawnProgram(m_dir.Path(), {"marlix-cli", "share", "--cloud", "--no-qr", name}, outFile, errFile);
    int status = -1;
    Eventually([&] { return m_relay.StoredCount() > 0 || ::waitpid(pid, &status, WNOHANG) == pid; }, 20000);
    if (status == -1) {
      Eventually([&] { return marlix_test::ReadFile(outFile).find('\n') != std::string::npos; }, 5000);
      ::kill(pid, SIGINT);
      ::waitpid(pid, &status, 0);
    }
    out = marlix_test::ReadFile(outFile);
    err = marlix_test::ReadFile(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  bool Logged(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_logLock);
    for (const std::string& line : m_log) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  // Relays a file made in the test's folder under the given name; returns once the upload ended.
  void Relay(const std::string& token, const std::string& name, const std::string& content) {
    marlix_test::WriteFile(m_dir.Path() / name, content);
    m_uploads.Upload({token, ItemKind::File, (m_dir.Path() / name).string()});
    ASSERT_TRUE(m_uploads.WaitIdle(20000));
  }

  marlix_test::CTempWorkDir m_dir;
  CRecordingMainDialog m_dialog;
  SharedState m_state;
  CCloudRelay m_uploads{m_state};  // the relay uploads, counted in m_state
  CRelayServer m_relay;
  int m_port = 0;
  std::string m_scheme = "http://";
  std::mutex m_logLock;
  std::vector<std::string> m_log;
};
