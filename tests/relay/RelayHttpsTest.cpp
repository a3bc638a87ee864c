// The relay over HTTPS with a certificate from a test authority: who gets through, the certificate
// read again on SIGHUP while a download goes on, files it refuses at start, the client's https://
// setting through the terminal, and the client addresses that a trusted proxy forwards.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "RelayTestEnv.h"
#include "TestCa.h"

namespace {

class RelayHttpsTest : public RelayTest {
 protected:
  void SetUp() override {
    RelayTest::SetUp();
    m_ca.Issue("first");
    m_ca.Issue("second");
    ASSERT_TRUE(m_ca.Made() && m_other.Made());
  }
  void StartHttpsRelay(uint64_t maxStorage = 0) {
    StartRelay(600000, 4 << 20, maxStorage, [this](RelayOptions& options) {
      std::string error;
      options.Tls = CTlsCredentials::Load(m_ca.Path("first.pem"), m_ca.Path("first.key"), error);
      ASSERT_TRUE(options.Tls) << error;
    });
  }
  CTestCa m_ca{m_dir.Path(), "testca"};
  CTestCa m_other{m_dir.Path(), "otherca"};
};

}  // namespace

TEST_F(RelayHttpsTest, OnlyClientsThatTrustItsAuthorityOverTls12OrLaterGetThrough) {
  StartHttpsRelay();
  const std::string https = Base() + "/login", plain = "http://127.0.0.1:" + std::to_string(m_port) + "/login";
  struct Case {
    const char* what;
    std::string url;
    CTlsRequest request;
    int result;  // libcurl's
  };
  const Case cases[] = {
      {"the test authority", https, {.Ca = m_ca.Cert()}, CURLE_OK},
      {"the system's store", https, {}, CURLE_PEER_FAILED_VERIFICATION},
      {"another authority", https, {.Ca = m_other.Cert()}, CURLE_PEER_FAILED_VERIFICATION},
      {"TLS 1.1 at most", https, {.Ca = m_ca.Cert(), .Tls11 = true}, CURLE_SSL_CONNECT_ERROR},
      {"plain HTTP", plain, {}, CURLE_GOT_NOTHING},
      {"the test authority after all that", https, {.Ca = m_ca.Cert()}, CURLE_OK},
  };
  for (const Case& c : cases) {
    const CTlsReply reply = TlsRequest(c.url, c.request);
    EXPECT_EQ(reply.Result, c.result) << c.what;
    EXPECT_EQ(reply.Status, c.result == CURLE_OK ? 200 : 0) << c.what;
  }
}

TEST_F(RelayHttpsTest, TheProgramRefusesBadCertificateFilesNamingThem) {
  marlix_test::WriteFile(m_dir.Path() / "garbage.pem", "not a certificate\n");
  struct Case {
    std::string cert, key, named;
  };
  const Case cases[] = {
      {m_ca.Path("missing.pem"), m_ca.Path("first.key"), m_ca.Path("missing.pem")},
      {m_ca.Path("first.pem"), m_ca.Path("missing.key"), m_ca.Path("missing.key")},
      {(m_dir.Path() / "garbage.pem").string(), m_ca.Path("first.key"), (m_dir.Path() / "garbage.pem").string()},
      {m_ca.Path("first.pem"), m_ca.Path("second.key"), m_ca.Path("second.key")},  // not its key
  };
  for (const Case& c : cases) {
    const std::string err = (m_dir.Path() / "relay.err").string();
    const pid_t pid =
        SpawnProgram(m_dir.Path(),
                     {"marlix-relay", "--listen", "127.0.0.1:" + std::to_string(marlix_test::FreeLoopbackPort()),
                      "--storage", Storage().string(), "--cert", c.cert, "--key", c.key},
                     err + ".out", err);
    int status = -1;
    ASSERT_TRUE(Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) << c.named;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << c.named;
    EXPECT_NE(marlix_test::ReadFile(err).find(c.named), std::string::npos) << marlix_test::ReadFile(err);
  }
}

// A renewed certificate is taken on SIGHUP by the next connections, while a download that began with
// the old one goes on to its end.
TEST_F(RelayHttpsTest, SighupTakesARenewedCertificateWhileADownloadGoesOn) {
  const int port = marlix_test::FreeLoopbackPort();
  const std::string cert = (m_dir.Path() / "live.pem").string(), key = (m_dir.Path() / "live.key").string();
  std::filesystem::copy_file(m_ca.Path("first.pem"), cert);
  std::filesystem::copy_file(m_ca.Path("first.key"), key);
  const std::string log = (m_dir.Path() / "relay.log").string();
  const pid_t pid = SpawnProgram(m_dir.Path(),
                                 {"marlix-relay", "--listen", "127.0.0.1:" + std::to_string(port), "--storage",
                                  Storage().string(), "--cert", cert, "--key", key},
                                 log + ".out", log);
  ASSERT_GT(pid, 0);
  const std::string base = "https://127.0.0.1:" + std::to_string(port);
  ASSERT_TRUE(Eventually([&] { return TlsRequest(base + "/login", {.Ca = m_ca.Cert()}).Status == 200; }));
  EXPECT_EQ(TlsRequest(base + "/login", {.Ca = m_ca.Cert()}).Subject, "CN = first");

  const std::string token = "0000CE27AAAAAAAAAAAAAA", content(2 << 20, 'c');
  ASSERT_EQ(TlsRequest(base + "/upload", {.Ca = m_ca.Cert(), .Post = RelayFrame(token, "c.bin", content)}).Status, 200);
  std::atomic<bool> renewed{false};
  const CTlsReply download = TlsRequest(
      base + "/q?t=" + token,
      {.Ca = m_ca.Cert(), .OnFirstBytes = [&] {
         // Mid-download: the files are renewed and the relay told; this connection waits until a new one
         // is shown the new certificate.
         std::filesystem::copy_file(m_ca.Path("second.pem"), cert, std::filesystem::copy_options::overwrite_existing);
         std::filesystem::copy_file(m_ca.Path("second.key"), key, std::filesystem::copy_options::overwrite_existing);
         ::kill(pid, SIGHUP);
         renewed =
             Eventually([&] { return TlsRequest(base + "/login", {.Ca = m_ca.Cert()}).Subject == "CN = second"; });
       }});
  EXPECT_TRUE(renewed);
  EXPECT_EQ(download.Result, CURLE_OK);
  EXPECT_EQ(download.Subject, "CN = first");
  EXPECT_TRUE(download.Body == content) << download.Body.size();

  // A renewal that fails keeps the certificate in use.
  marlix_test::WriteFile(cert, "broken\n");
  ::kill(pid, SIGHUP);
  EXPECT_TRUE(Eventually([&] { return marlix_test::ReadFile(log).find("not reloaded") != std::string::npos; }));
  EXPECT_EQ(TlsRequest(base + "/login", {.Ca = m_ca.Cert()}).Subject, "CN = second");
  ::kill(pid, SIGTERM);
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << marlix_test::ReadFile(log);
}

// The terminal with an https:// relay: the link is the relay's https:// one when its certificate is
// verified against SSL_CERT_FILE; with another authority there, nothing is stored and it exits 1.
TEST_F(RelayHttpsTest, TheTerminalSharesThroughAnHttpsRelayItCanVerifyOnly) {
  StartHttpsRelay();
  marlix_test::WriteFile(m_dir.Path() / "notes.txt", std::string(300000, 'n'));
  std::string out, err;
  ::setenv("SSL_CERT_FILE", m_other.Cert().c_str(), 1);
  EXPECT_EQ(Share("notes.txt", out, err), 1) << err;
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find("the relay's certificate could not be verified"), std::string::npos) << err;
  EXPECT_EQ(StoredFiles(), 0u);

  ::setenv("SSL_CERT_FILE", m_ca.Cert().c_str(), 1);
  EXPECT_EQ(Share("notes.txt", out, err), 0) << err;
  ::unsetenv("SSL_CERT_FILE");
  const std::string link = out.substr(0, out.find(' '));
  ASSERT_EQ(link.rfind(Base() + "/q?t=", 0), 0u) << out;
  EXPECT_TRUE(TlsRequest(link, {.Ca = m_ca.Cert()}).Body == std::string(300000, 'n'));
}

// Behind a proxy: its X-Forwarded-For names the client whose quota counts, and only when the request
// comes from the proxy that the relay trusts.
TEST_F(RelayTest, ForwardedAddressesCountOnlyFromTheTrustedProxy) {
  struct Case {
    const char* proxy;  // the address the relay trusts
    long secondClient;  // the answer to a client with another forwarded address
    const char* logged;
  };
  const Case cases[] = {
      {"127.0.0.1", 200, "logout from 198.51.100.9 "},  // the request comes from the proxy
      {"127.0.0.2", 429, "logout from 127.0.0.1 "},     // from elsewhere: the header is ignored
  };
  const std::string file(800, 'q');
  for (const Case& c : cases) {
    StartRelay(600000, 4 << 20, 0, [&](RelayOptions& options) {
      options.TrustedProxies = {c.proxy};
      options.MaxPerClient = 1000;
    });
    auto upload = [&](const std::string& token, const std::string& client) {
      return TlsRequest(Base() + "/upload",
                        {.Headers = {"X-Forwarded-For: 10.1.1.1, " + client}, .Post = RelayFrame(token, "q.bin", file)})
          .Status;
    };
    EXPECT_EQ(upload("0000F0A1AAAAAAAAAAAAAA", "203.0.113.7"), 200) << c.proxy;
    EXPECT_EQ(upload("0000F0A2AAAAAAAAAAAAAA", "203.0.113.7"), 429) << c.proxy;  // past its quota
    EXPECT_EQ(upload("0000F0A3AAAAAAAAAAAAAA", "203.0.113.8"), c.secondClient) << c.proxy;
    TlsRequest(Base() + "/logout?lan=0&cloud=0", {.Headers = {"X-Forwarded-For: 198.51.100.9"}});
    EXPECT_TRUE(Logged(c.logged)) << c.proxy;
    m_relay.Stop();
    std::filesystem::remove_all(Storage());
  }
}

// Behind Debian's nginx with the packaged site file, nginx holding the test authority's certificate:
// the terminal's kind of upload and a phone's download pass through, the links name the public
// address, and the relay counts each client by the address nginx saw, whatever the client claims.
TEST_F(RelayHttpsTest, BehindNginxWithThePackagedSiteFile) {
  if (::access("/usr/sbin/nginx", X_OK) != 0) GTEST_SKIP() << "no nginx (scripts/install-deps.sh test)";
  const int port = marlix_test::FreeLoopbackPort();
  const std::string front = "127.0.0.1:" + std::to_string(port),
                    publicUrl = "https://localhost:" + std::to_string(port);
  StartRelay(600000, 4 << 20, 0, [&](RelayOptions& options) {
    options.TrustedProxies = {"127.0.0.1"};
    options.PublicUrl = publicUrl;
  });
  std::string site = marlix_test::ReadFile(MARLIX_SOURCE_DIR "/packaging/relay/marlix-relay.nginx");
  auto replace = [&](const std::string& from, const std::string& to) {
    const size_t at = site.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    site.replace(at, from.size(), to);
  };
  replace("server 127.0.0.1:8200;", "server 127.0.0.1:" + std::to_string(m_port) + ";");
  replace("listen 443 ssl;", "listen " + front + " ssl;");
  replace("listen [::]:443 ssl;", "");
  replace("/etc/letsencrypt/live/relay.example.org/fullchain.pem", m_ca.Path("first.pem"));
  replace("/etc/letsencrypt/live/relay.example.org/privkey.pem", m_ca.Path("first.key"));
  const std::string dir = (m_dir.Path() / "nginx").string();
  std::filesystem::create_directories(dir);
  marlix_test::WriteFile(dir + "/site.conf", site);
  marlix_test::WriteFile(dir + "/nginx.conf",
                         "daemon off;\nmaster_process off;\npid " + dir + "/nginx.pid;\n" + "error_log " + dir +
                             "/error.log;\nevents { worker_connections 64; }\n" +
                             "http {\n access_log off;\n client_body_temp_path " + dir + "/body;\n proxy_temp_path " +
                             dir + "/proxy;\n fastcgi_temp_path " + dir + "/fcgi;\n uwsgi_temp_path " + dir +
                             "/uwsgi;\n scgi_temp_path " + dir + "/scgi;\n include " + dir + "/site.conf;\n}\n");
  std::vector<std::string> args = {"nginx", "-e", dir + "/error.log", "-p", dir, "-c", dir + "/nginx.conf"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t nginx = -1;
  ASSERT_EQ(posix_spawn(&nginx, "/usr/sbin/nginx", nullptr, nullptr, argv.data(), environ), 0);
  const std::string base = "https://" + front;
  const bool up = Eventually([&] { return TlsRequest(base + "/login", {.Ca = m_ca.Cert()}).Status == 200; });

  if (up) {
    // The client's upload through nginx, its certificate verified against the test authority.
    const std::string token = "0000E61AAAAAAAAAAAAAAA", content(3 << 20, 'n');
    ::setenv("MARLIX_SERVICE_HOST", base.c_str(), 1);
    ::setenv("MARLIX_UPLOAD_HOST", front.c_str(), 1);
    m_state.TrustedCertificateFile = m_ca.Cert();
    Relay(token, "n.bin", content);
    EXPECT_EQ(m_dialog.Reports(ViewEventId::RelayFailed).size(), 0u);
    EXPECT_EQ(m_relay.StoredCount(), 1);
    EXPECT_TRUE(TlsRequest(base + "/q?t=" + token, {.Ca = m_ca.Cert()}).Body == content);
    // A link handed out names the public address.
    const std::string second = "0000E61BAAAAAAAAAAAAAA";
    EXPECT_NE(TlsRequest(base + "/upload", {.Ca = m_ca.Cert(), .Post = RelayFrame(second, "s.txt", "s")})
                  .Body.find(publicUrl + "/q?t=" + second),
              std::string::npos);
    // The client's own claim comes first in X-Forwarded-For; nginx's, the address it saw, last.
    TlsRequest(base + "/logout?lan=0&cloud=0",
               {.Ca = m_ca.Cert(), .Headers = {"X-Forwarded-For: 6.6.6.6"}, .From = "127.0.0.3"});
    EXPECT_TRUE(Logged("logout from 127.0.0.3 ")) << marlix_test::ReadFile(dir + "/error.log");
  }
  ::kill(nginx, SIGTERM);
  ::waitpid(nginx, nullptr, 0);
  ASSERT_TRUE(up) << marlix_test::ReadFile(dir + "/error.log");
}
