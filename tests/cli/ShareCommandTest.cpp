// marlix-cli share, end to end: the program run in a temporary folder, fetched with libcurl, stopped
// with SIGTERM.

#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <fstream>
#include <thread>

#include "support/PortHolder.h"
#include "support/TestEnv.h"

using namespace marlix_test;
namespace fs = std::filesystem;

extern char** environ;

namespace {

// marlix-cli running in the given folder, as a shell started there would run it (relative paths name
// the folder's files), with stdout and stderr in the folder's "cli.out" and "cli.err".
class CCliProcess {
 public:
  // `runAs` goes before the program (for example setpriv, to run it as another user).
  CCliProcess(const fs::path& dir, std::vector<std::string> args, const std::vector<std::string>& runAs = {})
      : m_out(dir / "cli.out"), m_err(dir / "cli.err") {
    args.insert(args.begin(), MARLIX_CLI_PATH);
    args.insert(args.begin(), runAs.begin(), runAs.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());  // the child's, never this process's
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~CCliProcess() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }
  std::string Out() const { return ReadFile(m_out); }
  std::string Err() const { return ReadFile(m_err); }

  // Waits until stdout holds `lines` lines or the program has ended.
  bool WaitForLines(size_t lines) {
    return WaitFor([&] {
      const std::string out = Out();
      return static_cast<size_t>(std::count(out.begin(), out.end(), '\n')) >= lines;
    });
  }
  // Waits up to 20 s until stderr holds `text` (the terminal words events on its own thread, so a
  // line may come a moment after what caused it) or the program has ended.
  bool WaitForErr(const std::string& text) {
    return WaitFor([&] { return Err().find(text) != std::string::npos; });
  }
  bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 1000; ++i) {
      if (done()) return true;
      if (Exited()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
  }
  bool Exited() {
    if (m_pid <= 0) return true;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) != m_pid) return false;
    m_status = status;
    m_pid = -1;
    return true;
  }
  // Sends the signal and waits up to 20 s; the wait status, or -1 when the program did not end.
  int Stop(int sig) {
    if (m_pid > 0) ::kill(m_pid, sig);
    for (int i = 0; i < 2000 && !Exited(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return m_pid > 0 ? -1 : m_status;
  }

 private:
  fs::path m_out, m_err;
  pid_t m_pid = -1;
  int m_status = 0;
};

size_t Append(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

std::string Fetch(const std::string& url) {
  std::string body;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
  const CURLcode rc = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  return rc == CURLE_OK ? body : "(failed: " + std::string(curl_easy_strerror(rc)) + ")";
}

// The address with its host replaced by loopback, where the test reaches the program.
std::string OnLoopback(const std::string& address) {
  const size_t colon = address.find(':', 7);
  return colon == std::string::npos ? address : "http://127.0.0.1" + address.substr(colon);
}

// "http://HOST:PORT/KIND?t=TOKEN" with a dotted host (or none), a port of the range and a 22-character URL-safe token.
bool IsShareAddress(const std::string& line, char kind) {
  const std::string prefix = "http://";
  if (line.rfind(prefix, 0) != 0) return false;
  const size_t colon = line.find(':', prefix.size());
  if (colon == std::string::npos) return false;
  for (size_t i = prefix.size(); i < colon; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(line[i])) && line[i] != '.') return false;
  }
  const std::string rest = line.substr(colon + 1);
  if (rest.size() != 4 + 5 + 22) return false;
  const int port = std::atoi(rest.substr(0, 4).c_str());
  if (port < 8081 || port > 8091 || rest.substr(4, 5) != std::string("/") + kind + "?t=") return false;
  for (char c : rest.substr(9)) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
  }
  return true;
}

// The no-free-port message, in either language.
bool NoPort(const std::string& err) {
  return err.find("无端口可用") != std::string::npos || err.find("No free port") != std::string::npos;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Reads the terminal drawing back into a grey image: each cell is "ESC[fg;bgm" and an upper half
// block, the foreground the upper module, the background the lower one.
bool DrawingToPgm(const std::vector<std::string>& rows, const std::string& file, int scale = 4) {
  std::vector<std::vector<bool>> dark;
  for (const std::string& row : rows) {
    std::vector<bool> top, bottom;
    for (size_t at = row.find("\x1b["); at != std::string::npos; at = row.find("\x1b[", at + 1)) {
      const size_t m = row.find('m', at);
      if (m == std::string::npos || row.compare(m + 1, 3, "\u2580") != 0) continue;  // the reset at the end
      const std::string colours = row.substr(at + 2, m - at - 2);
      if (colours != "30;40" && colours != "30;107" && colours != "97;40" && colours != "97;107") return false;
      top.push_back(colours.rfind("30;", 0) == 0);
      bottom.push_back(colours.ends_with(";40"));
    }
    if (top.empty()) continue;
    dark.push_back(top);
    dark.push_back(bottom);
  }
  if (dark.empty()) return false;
  const size_t width = dark[0].size();
  std::ofstream out(file, std::ios::binary);
  out << "P5\n" << width * scale << " " << dark.size() * scale << "\n255\n";
  for (const auto& line : dark) {
    if (line.size() != width) return false;
    for (int y = 0; y < scale; ++y) {
      for (bool d : line) out << std::string(scale, d ? '\0' : '\xff');
    }
  }
  return true;
}

}  // namespace

TEST(ShareCommand, ServesEachPathPrintsItsAddressAndEndsCleanlyOnSigterm) {
  CTempWorkDir dir;
  WriteFile(dir.Path() / "report.pdf", "PDF!");
  WriteFile(dir.Path() / "album/one.txt", "1");
  WriteFile(dir.Path() / "index.html", "page");
  CCliProcess cli(dir.Path(), {"share", "--no-qr", "report.pdf", "album"});
  if (!cli.WaitForLines(3)) {
    if (NoPort(cli.Err())) GTEST_SKIP() << "all of 8081 to 8091 are held";
    FAIL() << "stdout: " << cli.Out() << "\nstderr: " << cli.Err();
  }
  std::vector<std::string> lines = Lines(cli.Out());
  // --no-qr: the addresses only, each with its name, and last the upload page with its secret.
  ASSERT_EQ(lines.size(), 3u) << cli.Out();
  ASSERT_TRUE(lines[0].ends_with(" report.pdf") && lines[1].ends_with(" album")) << cli.Out();
  const std::string upload = lines[2].substr(0, lines[2].find(' '));
  EXPECT_EQ(lines[2].substr(upload.size()), " upload");
  EXPECT_EQ(upload.size(), lines[0].find("/f?t=") + std::string("/index.html?k=").size() + 22) << upload;
  for (std::string& line : lines) line.resize(line.find(' '));
  EXPECT_TRUE(IsShareAddress(lines[0], 'f')) << lines[0];
  EXPECT_TRUE(IsShareAddress(lines[1], 'd')) << lines[1];

  EXPECT_EQ(Fetch(OnLoopback(lines[0])), "PDF!");
  const std::string page = Fetch(OnLoopback(lines[1]));
  EXPECT_NE(page.find(">one.txt</span>"), std::string::npos) << page;
  const std::string base = OnLoopback(lines[0]).substr(0, OnLoopback(lines[0]).find("/f?"));
  EXPECT_EQ(Fetch(base + "/index.html"), "page");

  EXPECT_EQ(cli.Stop(SIGTERM), 0);
  EXPECT_NE(cli.Err().find("progress 100\n"), std::string::npos) << cli.Err();
}

TEST(ShareCommand, WorksInItsOwnHomeWhileRelativePathsNameTheCallersFiles) {
  CTempWorkDir dir;
  WriteFile(dir.Path() / "a.txt", "caller's a");
  WriteFile(dir.Path() / "index.html", "caller's private page");
  const fs::path home = dir.Path() / "deeper/home";
  ::setenv("MARLIX_HOME", home.c_str(), 1);
  CCliProcess cli(dir.Path(), {"share", "--no-qr", "a.txt"});
  if (!cli.WaitForLines(1)) {
    if (cli.Err().find("无端口可用") != std::string::npos) GTEST_SKIP() << "all of 8081 to 8091 are held";
    FAIL() << "stdout: " << cli.Out() << "\nstderr: " << cli.Err();
  }
  const std::string line = Lines(cli.Out())[0];
  const std::string address = OnLoopback(line.substr(0, line.find(' ')));
  EXPECT_EQ(Fetch(address), "caller's a");
  // The home is laid out from the data folder beside the program; the caller's folder is not served.
  EXPECT_EQ(Fetch(address.substr(0, address.find("/f?")) + "/index.html"),
            ReadFile(MARLIX_BINARY_DIR "/data/index.html"));
  EXPECT_TRUE(fs::is_directory(home / "tmp"));
  // "1.bmp" is written just after the address lines are printed: give a slow (sanitizer) build a moment.
  for (int i = 0; i < 200 && !fs::exists(home / "1.bmp"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  for (const char* name : {"upload.js", "upload.css", "dnd.png", "ban.png", "1.bmp"})
    EXPECT_TRUE(fs::exists(home / name)) << name;
  EXPECT_FALSE(fs::exists(dir.Path() / "1.bmp"));
  EXPECT_EQ(cli.Stop(SIGTERM), 0);
}

TEST(ShareCommand, DrawsAReadableQrCodeOfTheLastAddressAndEndsOnSigint) {
  CTempWorkDir dir;
  WriteFile(dir.Path() / "a.txt", "a");
  WriteFile(dir.Path() / "b.txt", "b");
  CCliProcess cli(dir.Path(), {"share", "a.txt", "b.txt"});
  if (!cli.WaitForLines(20)) {
    if (NoPort(cli.Err())) GTEST_SKIP() << "all of 8081 to 8091 are held";
    FAIL() << "stdout: " << cli.Out() << "\nstderr: " << cli.Err();
  }
  // The drawing is square: wait until its rows (two of the code's rows each) are all out.
  std::vector<std::string> lines;
  for (int i = 0; i < 500; ++i) {
    lines = Lines(cli.Out());
    size_t rows = 0, width = 0;
    for (const std::string& line : lines) {
      size_t cells = 0;
      for (size_t at = line.find("\u2580"); at != std::string::npos; at = line.find("\u2580", at + 1)) ++cells;
      if (cells > 0) ++rows;
      width = std::max(width, cells);
    }
    if (width > 0 && rows * 2 >= width) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_GT(lines.size(), 2u);
  const std::vector<std::string> drawing(lines.begin() + 2, lines.end());
  const fs::path pgm = dir.Path() / "qr.pgm";
  ASSERT_TRUE(DrawingToPgm(drawing, pgm));
  // A 128-bit token's link still fits an 80 x 24 terminal.
  EXPECT_LE(drawing.size(), 23u);
  size_t cells = 0;
  for (size_t at = drawing[0].find("\u2580"); at != std::string::npos; at = drawing[0].find("\u2580", at + 1)) ++cells;
  EXPECT_LE(cells, 80u);
  // The quiet zone: the first two rows of cells are all light.
  EXPECT_EQ(drawing[0].find("\x1b[30"), std::string::npos);
  EXPECT_EQ(drawing[1].find("\x1b[30"), std::string::npos);

  std::string decoded;
  if (FILE* zbar = ::popen(("zbarimg -q --raw --nodbus '" + pgm.string() + "'").c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, zbar)) decoded += buffer;
    ::pclose(zbar);
  }
  ASSERT_TRUE(lines[1].ends_with(" b.txt")) << lines[1];
  EXPECT_EQ(decoded, lines[1].substr(0, lines[1].find(' ')) + "\n");
  EXPECT_EQ(cli.Stop(SIGINT), 0);
}

TEST(ShareCommand, NoFreePortShowsTheMessageAndEndsWithOne) {
  CTempWorkDir dir;
  WriteFile(dir.Path() / "a.txt", "a");
  CPortHolder holder;
  holder.HoldAllServerPorts();
  ::setenv("LANGUAGE", "zh_CN:en", 1);  // the Chinese text, as the program's own
  CCliProcess cli(dir.Path(), {"share", "a.txt"});
  ::unsetenv("LANGUAGE");
  int status = -1;
  for (int i = 0; i < 1000 && status == -1; ++i) {
    if (cli.Exited()) status = cli.Stop(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (status == -1 && !cli.Out().empty()) GTEST_SKIP() << "another program freed a port of the range meanwhile";
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(cli.Err(), "无端口可用，程序无法运行！！！\n");
  EXPECT_EQ(cli.Out(), "");
}

TEST(ShareCommand, UsageErrorsAndUnsharablePaths) {
  CTempWorkDir dir;
  {
    CCliProcess cli(dir.Path(), {"--help"});
    EXPECT_EQ(cli.Stop(0), 0);
    EXPECT_NE(cli.Out().find("usage: marlix-cli share"), std::string::npos) << cli.Out();
  }
  {
    CCliProcess cli(dir.Path(), {"--version"});
    EXPECT_EQ(cli.Stop(0), 0);
    EXPECT_EQ(cli.Out(), "marlix-cli " MARLIX_VERSION "\n");
  }
  {
    CCliProcess cli(dir.Path(), {"share"});
    EXPECT_EQ(cli.Stop(0), 2 << 8);
  }
  {
    CCliProcess cli(dir.Path(), {"share", "--bogus", "x"});
    EXPECT_EQ(cli.Stop(0), 2 << 8);
  }
  {
    CCliProcess cli(dir.Path(), {"share", "missing.txt"});
    const int status = cli.Stop(0);
    if (!NoPort(cli.Err())) {
      EXPECT_EQ(status, 1 << 8) << cli.Err();
      EXPECT_NE(cli.Err().find("missing.txt"), std::string::npos) << cli.Err();
    }
  }
  {
    // The relay takes no folders: said once, and with nothing else to share the program ends.
    fs::create_directory(dir.Path() / "album");
    CCliProcess noRelay(dir.Path(), {"share", "--cloud", "--no-qr", "album"});
    EXPECT_EQ(noRelay.Stop(0), 1 << 8);
    EXPECT_NE(noRelay.Err().find("no relay is set"), std::string::npos) << noRelay.Err();
    ::setenv("MARLIX_SERVICE_HOST", "127.0.0.1:9", 1);  // a port where nothing answers
    CCliProcess cli(dir.Path(), {"share", "--cloud", "--no-qr", "album"});
    ::unsetenv("MARLIX_SERVICE_HOST");
    const int status = cli.Stop(0);
    if (!NoPort(cli.Err())) {
      EXPECT_EQ(status, 1 << 8) << cli.Err();
      EXPECT_EQ(Lines(cli.Err()),
                std::vector<std::string>{"album: Sorry: whole folders cannot be relayed through the cloud."});
    }
  }
}

TEST(ShareCommand, AnUnreadableItemIsNamedWithAWarningAndChineseFollowsTheLanguage) {
  CTempWorkDir dir;
  WriteFile(dir.Path() / "secret.txt", "s");
  fs::permissions(dir.Path() / "secret.txt", fs::perms::none);
  // Root reads every file: then the program runs as nobody, in a folder it may write.
  std::vector<std::string> runAs;
  if (::geteuid() == 0) {
    fs::permissions(dir.Path(), fs::perms::all);
    runAs = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  CCliProcess cli(dir.Path(), {"share", "--no-qr", "secret.txt"}, runAs);
  if (!cli.WaitForLines(1)) {
    if (NoPort(cli.Err())) GTEST_SKIP() << "all of 8081 to 8091 are held";
    FAIL() << cli.Err();
  }
  EXPECT_NE(cli.Err().find("marlix-cli: warning: secret.txt cannot be read"), std::string::npos) << cli.Err();
  EXPECT_EQ(cli.Stop(SIGTERM), 0);
  ::setenv("LANGUAGE", "zh_CN", 1);
  CCliProcess chinese(dir.Path(), {"--help"});
  ::unsetenv("LANGUAGE");
  EXPECT_EQ(chinese.Stop(0), 0);
  EXPECT_EQ(chinese.Out().rfind("用法: marlix-cli share", 0), 0u) << chinese.Out();
}

TEST(ShareCommand, AddressOptionPutsTheChosenAddressInLinksAndUploadRepliesAndRefusesAForeignOne) {
  CTempWorkDir dir;
  {
    CCliProcess cli(dir.Path(), {"receive", "--no-qr", "--address", "203.0.113.9"});
    EXPECT_EQ(cli.Stop(0), 2 << 8);
    EXPECT_NE(cli.Err().find("203.0.113.9 is not an address of this computer"), std::string::npos) << cli.Err();
    EXPECT_NE(cli.Err().find("  127.0.0.1 (lo)\n"), std::string::npos) << cli.Err();
  }
  fs::create_directory(dir.Path() / "tmp");
  CCliProcess cli(dir.Path(), {"receive", "--no-qr", "--address=127.0.0.1"});
  if (!cli.WaitForLines(1)) {
    if (cli.Err().find("无端口可用") != std::string::npos) GTEST_SKIP() << "all of 8081 to 8091 are held";
    FAIL() << "stdout: " << cli.Out() << "\nstderr: " << cli.Err();
  }
  const std::string page = Lines(cli.Out())[0];
  ASSERT_EQ(page.rfind("http://127.0.0.1:", 0), 0u) << page;
  const std::string base = page.substr(0, page.find("/index.html"));
  const std::string k = page.substr(page.find("?k="));
  WriteFile(dir.Path() / "up.txt", "U");
  const std::string command =
      "cd '" + dir.Path().string() + "' && curl -sS -F 'file=@up.txt' '" + base + "/u" + k + "' > reply.json";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string reply = ReadFile(dir.Path() / "reply.json");
  EXPECT_NE(reply.find("\"" + base + "/tmp/up.txt" + k + "\""), std::string::npos) << reply;
  EXPECT_EQ(cli.Stop(SIGTERM), 0);
}

// The terminal says how many entries a folder archive left out; SIGINT while a big folder is being
// packed ends the program within 2 s and leaves no archive behind.
TEST(ShareCommand, ArchivesTellWhatWasLeftOutAndAStopWhilePackingIsPrompt) {
  CTempWorkDir dir;
  ::setenv("MARLIX_HOME", dir.Path().c_str(), 1);
  ::setenv("LANGUAGE", "zh_CN", 1);  // the core's texts as written
  const fs::path shared = dir.Path() / "shared";
  WriteFile(shared / "Mixed/a.txt", "a");
  fs::create_symlink("/nonexistent", shared / "Mixed/b-link");
  std::string text;
  for (uint64_t i = 0; text.size() < (16u << 20); ++i) text += "line " + std::to_string(i * 2654435761u) + "\n";
  WriteFile(shared / "Large/t0.txt", text);
  for (int i = 1; i < 50; ++i)
    fs::create_hard_link(shared / "Large/t0.txt",
                         shared / "Large" / std::string("t").append(std::to_string(i)).append(".txt"));
  CCliProcess cli(dir.Path(), {"share", "--no-qr", "shared/Mixed", "shared/Large"});
  if (!cli.WaitForLines(2)) {
    if (cli.Err().find("无端口可用") != std::string::npos) GTEST_SKIP() << "all of 8081 to 8091 are held";
    FAIL() << "stdout: " << cli.Out() << "\nstderr: " << cli.Err();
  }
  const std::vector<std::string> lines = Lines(cli.Out());
  const auto archiveOf = [](const std::string& address) {
    std::string z = OnLoopback(address.substr(0, address.find(' ')));
    z[z.find("/d?") + 1] = 'z';
    return z;
  };
  EXPECT_NE(Fetch(archiveOf(lines[0])).rfind("PK", 0), std::string::npos);
  EXPECT_TRUE(cli.WaitForErr("有 1 项无法读取，未打包\n")) << cli.Err();

  std::thread phone([&] { Fetch(archiveOf(lines[1])); });
  const auto packing = [&] {
    const std::string err = cli.Err();
    return std::count(err.begin(), err.end(), '\n') > 0 && err.rfind("正在压缩...") > err.rfind("未打包");
  };
  for (int i = 0; i < 500 && !packing(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(cli.Stop(SIGINT), 0);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
  phone.join();
  for (const auto& e : fs::recursive_directory_iterator(dir.Path()))
    EXPECT_NE(e.path().extension(), ".zip") << e.path();
  ::unsetenv("MARLIX_HOME");
  ::unsetenv("LANGUAGE");
}

// receive on the port asked for: what the lines are for, each received file by its absolute path on
// stdout and with its size on stderr, a text whole between markers; a port that is taken is named.
TEST(ReceiveCommand, SaysWhatToDoServesOnThePortAskedForAndNamesEachReceivedFile) {
  CTempWorkDir dir;
  ::setenv("MARLIX_HOME", dir.Path().c_str(), 1);
  const int port = FreeLoopbackPort();
  CCliProcess cli(dir.Path(), {"receive", "--no-qr", "--address=127.0.0.1", "-p", std::to_string(port)});
  ASSERT_TRUE(cli.WaitForLines(1)) << cli.Err();
  const std::string page = Lines(cli.Out())[0];
  EXPECT_EQ(page.rfind("http://127.0.0.1:" + std::to_string(port) + "/index.html?k=", 0), 0u) << page;
  const std::string secret = page.substr(page.find("?k=") + 3);
  EXPECT_NE(cli.Err().find("Scan the code with the phone to send files to this PC.\n"), std::string::npos);
  EXPECT_NE(cli.Err().find("Received files are saved in " + (dir.Path() / "tmp").string() + ". Press Ctrl+C to stop."),
            std::string::npos)
      << cli.Err();

  CURL* curl = curl_easy_init();
  curl_mime* mime = curl_mime_init(curl);
  curl_mimepart* part = curl_mime_addpart(mime);
  curl_mime_name(part, "file");
  curl_mime_filename(part, "photo.jpg");
  curl_mime_data(part, std::string(3000, 'p').c_str(), 3000);
  const std::string upload = "http://127.0.0.1:" + std::to_string(port) + "/u?k=" + secret;
  curl_easy_setopt(curl, CURLOPT_URL, upload.c_str());
  curl_easy_setopt(curl, CURLOPT_MIMEPOST, mime);
  std::string reply;
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
  EXPECT_EQ(curl_easy_perform(curl), CURLE_OK);
  curl_mime_free(mime);
  curl_easy_cleanup(curl);
  ASSERT_TRUE(cli.WaitForLines(2)) << cli.Err();
  const std::string stored = (dir.Path() / "tmp" / "photo.jpg").string();
  EXPECT_EQ(Lines(cli.Out())[1], stored);
  EXPECT_NE(cli.Err().find("Received " + stored + " (2.9 KiB)"), std::string::npos) << cli.Err();

  // Another receive on that port is refused, by its number.
  CTempWorkDir other;
  CCliProcess second(other.Path(), {"receive", "--no-qr", "--port", std::to_string(port)});
  EXPECT_EQ(second.Stop(0), 1 << 8);
  EXPECT_EQ(second.Err(), "marlix-cli: port " + std::to_string(port) + " is taken by another program\n");
  EXPECT_EQ(cli.Stop(SIGTERM), 0);
  for (const char* bad : {"0", "65536", "80x"}) {
    CCliProcess usage(other.Path(), {"receive", "--port", bad});
    EXPECT_EQ(usage.Stop(0), 2 << 8) << bad;
  }
  ::unsetenv("MARLIX_HOME");
}
