// marlix-cli: the terminal front end.
//   marlix-cli share [--wan | --cloud] [--no-qr] [--address ADDR] [--port PORT] PATH...
//   marlix-cli receive [--wan] [--no-qr] [--address ADDR] [--port PORT]
//   marlix-cli --help | --version
// Works in MARLIX_HOME (else ~/Marlix), which it lays out at start, and serves until SIGINT or SIGTERM,
// which end it at once whatever it waits for. PATHs relative to the current directory name the same
// files as they do in the shell.
// Exit status: 0 after a stop signal (or --help/--version), else 1 when nothing could be served (no free
// port, or the port asked for is taken; no readable path, the relay refused or failed every item, the
// router port opening failed or its router sits behind another NAT), 2 for a usage error.
// stdout holds what scripts read, one item a line (the address lines, each received file's absolute
// path, a received text as one escaped line); the words for the user go to stderr.

#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "app/MarlixConfig.h"
#include "app/PortChoice.h"
#include "app/SharedState.h"
#include "app/StopSignalWaiter.h"
#include "app/UiLanguage.h"
#include "app/WorkingDirectory.h"
#include "cli/CliMainDialog.h"
#include "cli/TerminalQr.h"
#include "cli/TerminalWords.h"
#include "net/LocalAddress.h"
#include "net/WanSetup.h"
#include "service/Marlix.h"
#include "service/ServiceConfig.h"
#include "service/ShareFlow.h"
#include "web/http/HttpServer.h"
#include "web/send/TextPage.h"

namespace {

struct CliOptions {
  std::string command;  // "share", "receive", "--help" or "--version"
  bool wan = false;
  bool cloud = false;
  bool qr = true;
  std::string address;  // the local address to put in the links; empty for the default rule
  int port = 0;         // the one port to serve on; 0 for the first free one of 8081 to 8091
  std::vector<std::string> paths;
  std::vector<std::string> texts;  // --text: texts shared as pages with a copy button
};

// The terminal's own texts, in English and in Chinese (UiSpeaksChinese chooses).
const char* Say(const char* english, const char* chinese) { return UiSpeaksChinese() ? chinese : english; }

const char* UsageText() {
  return Say(
      "usage: marlix-cli share [--wan | --cloud] [--no-qr] [--address ADDR] [-p PORT] [--text TEXT]... PATH...\n"
      "       marlix-cli receive [--wan] [--no-qr] [--address ADDR] [-p PORT]\n"
      "       marlix-cli --help | --version\n"
      "Serves the paths to phones (share) or receives their uploads (receive) until Ctrl+C. It works in\n"
      "~/Marlix (or in MARLIX_HOME when set): received files land in its tmp/ folder. Relative PATHs name\n"
      "files of the folder where the command is typed. Each address is printed with the item's name;\n"
      "--no-qr skips the QR drawing; --address puts that address of this computer in the links instead\n"
      "of the one chosen by itself; -p/--port serves on that port only (default: the first free one of\n"
      "8081 to 8091).\n",
      "用法: marlix-cli share [--wan | --cloud] [--no-qr] [--address 地址] [-p 端口] [--text 文字]... 路径...\n"
      "      marlix-cli receive [--wan] [--no-qr] [--address 地址] [-p 端口]\n"
      "      marlix-cli --help | --version\n"
      "把文件分享给手机 (share)，或接收手机上传的文件 (receive)，按 Ctrl+C 结束。工作目录是 ~/Marlix\n"
      "（设置了 MARLIX_HOME 时是它），收到的文件存在其中的 tmp/ 文件夹。相对路径指输入命令所在文件夹中的文件。\n"
      "每个地址后面是文件名；--no-qr 不画二维码；--address 在链接中使用本机的这个地址，而不是自动选择的地址；\n"
      "-p/--port 只使用这个端口（默认使用 8081 到 8091 中第一个空闲的端口）。\n");
}

// A byte count as people read it: "512 B", "1.5 KiB", "3.2 MiB".
std::string HumanSize(long long bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) value /= 1024, ++unit;
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
  return text;
}

// The port option's value: a whole number of 1 to 65535, else 0.
int ParsePort(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
  const int port = std::stoi(text);
  return port >= 1 && port <= 65535 ? port : 0;
}

int Usage() {
  std::fputs(UsageText(), stderr);
  return 2;
}

// An event the terminal tells by itself, before or without the dialog: its words, line and message.
void PrintEvent(ViewEventId id) {
  const CTerminalWords words = TerminalWords({id}, UiSpeaksChinese());
  for (const std::string& text : {words.Line, words.Message})
    if (!text.empty()) std::fprintf(stderr, "%s\n", text.c_str());
}

// The last element of a path, as the item's name.
std::string ItemName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
}

// True when the item can be read: a file opened for reading, a folder listed.
bool Readable(const std::string& path, bool folder) {
  return ::access(path.c_str(), folder ? (R_OK | X_OK) : R_OK) == 0;
}

bool ParseOptions(int argc, char** argv, CliOptions& opt) {
  if (argc < 2) return false;
  opt.command = argv[1];
  if (opt.command == "--help" || opt.command == "-h" || opt.command == "--version") return argc == 2;
  if (opt.command != "share" && opt.command != "receive") return false;
  bool onlyPaths = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!onlyPaths && arg == "--") {
      onlyPaths = true;
    } else if (!onlyPaths && arg == "--wan") {
      opt.wan = true;
    } else if (!onlyPaths && arg == "--cloud") {
      opt.cloud = true;
    } else if (!onlyPaths && arg == "--no-qr") {
      opt.qr = false;
    } else if (!onlyPaths && arg == "--address") {
      if (++i == argc) return false;
      opt.address = argv[i];
    } else if (!onlyPaths && arg.rfind("--address=", 0) == 0) {
      opt.address = arg.substr(10);
    } else if (!onlyPaths && (arg == "--port" || arg == "-p")) {
      if (++i == argc || !(opt.port = ParsePort(argv[i]))) return false;
    } else if (!onlyPaths && arg.rfind("--port=", 0) == 0) {
      if (!(opt.port = ParsePort(arg.substr(7)))) return false;
    } else if (!onlyPaths && arg == "--text") {
      if (++i == argc) return false;
      opt.texts.push_back(argv[i]);
    } else if (!onlyPaths && arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, Say("marlix-cli: unknown option %s\n", "marlix-cli: 未知选项 %s\n"), arg.c_str());
      return false;
    } else {
      opt.paths.push_back(arg);
    }
  }
  if (opt.wan && opt.cloud) return false;
  if (opt.command == "share" && opt.paths.empty() && opt.texts.empty()) return false;
  if (!opt.texts.empty() && (opt.command != "share" || opt.cloud)) return false;
  if (opt.command == "receive" && (!opt.paths.empty() || opt.cloud)) return false;
  return true;
}

// The local address asked for must be one of this PC's; otherwise says which there are.
bool AcceptChosenAddress(const std::string& address) {
  if (IsLocalAddress(address)) return true;
  std::fprintf(stderr,
               Say("marlix-cli: %s is not an address of this computer. Its addresses:\n",
                   "marlix-cli: %s 不是本机的地址。本机地址:\n"),
               address.c_str());
  for (const AdapterAddress& a : ListLocalAddresses())
    std::fprintf(stderr, "  %s (%s)\n", a.address.c_str(), a.name.c_str());
  return false;
}

// One address line: the address first, then, after one blank, the item's name when there is one.
void PrintAddress(const std::string& address, const std::string& name = {}) {
  std::printf("%s%s%s\n", address.c_str(), name.empty() ? "" : " ", name.c_str());
  std::fflush(stdout);
}

// Answers the phone as the window does, then prints the stored file's path, one line each.
// A text from the phone: "text " and its bytes in one line, line breaks and other control
// characters written as \n, \r, \t or \xHH (and a backslash as \\), so that one text is one line.
void OnTextReceivedPrinted(const std::string& text) {
  std::string line = "text ";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '\\') {
      line += "\\\\";
    } else if (ch == '\n') {
      line += "\\n";
    } else if (ch == '\r') {
      line += "\\r";
    } else if (ch == '\t') {
      line += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      line += esc;
    } else {
      line += ch;
    }
  }
  static std::mutex printLock;
  std::lock_guard<std::mutex> lock(printLock);
  // For the user, the text whole between two marker lines; for scripts, the one line.
  std::fprintf(stderr, "%s\n%s\n%s\n", Say("----- text from the phone -----", "----- 手机发来的文字 -----"),
               text.c_str(), Say("----- end of the text -----", "----- 文字结束 -----"));
  std::fflush(stderr);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// A stored file: its absolute path on stdout for scripts; its path and size on stderr for the user.
void PrintUploadSaved(const std::string& path) {
  static std::mutex printLock;
  std::lock_guard<std::mutex> lock(printLock);
  struct stat st {};
  const long long size = ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
  std::fprintf(stderr, Say("Received %s (%s)\n", "收到 %s (%s)\n"), path.c_str(), HumanSize(size).c_str());
  std::fflush(stderr);
  std::printf("%s\n", path.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  CliOptions opt;
  if (!ParseOptions(argc, argv, opt)) return Usage();
  if (opt.command == "--version") {
    std::printf("marlix-cli %s\n", MARLIX_VERSION);
    return 0;
  }
  if (opt.command == "--help" || opt.command == "-h") {
    std::fputs(UsageText(), stdout);
    return 0;
  }
  if (!opt.address.empty() && !AcceptChosenAddress(opt.address)) return 2;

  // The paths as the caller meant them, against the folder the command was typed in.
  std::vector<std::string> givenPaths;
  for (std::string& path : opt.paths) {
    givenPaths.push_back(path);  // as the user typed it, for messages
    path = AbsolutePath(path);
  }
  CMarlixConfig config = MakeConfig([](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
  });
  config.HttpDiagnostics = false;  // the HTTP client's diagnostics stay off the terminal
  const std::string layoutError = PrepareWorkingDirectory(config.Home, config.DataDir);
  if (!layoutError.empty()) {
    std::fprintf(stderr, "marlix-cli: %s\n", layoutError.c_str());
    return 1;
  }
  // Every thread started from here on inherits the blocked stop signals.
  CStopSignalWaiter signals;
  CMarlix marlix(config);
  SharedState& state = marlix.State();
  CShareSession& session = marlix.Session();
  if (!opt.address.empty()) state.ChosenAddress.Set(opt.address);
  if (opt.cloud && !RelayConfigured(state)) {  // the terminal's relay comes from MARLIX_SERVICE_HOST
    PrintEvent(ViewEventId::NoRelaySet);
    return 1;
  }
  RaiseOpenFileLimit();

  // The port asked for, and only that one; else the first free one of the range.
  if (opt.port && !ProbePort(opt.port)) {
    std::fprintf(stderr,
                 Say("marlix-cli: port %d is taken by another program\n", "marlix-cli: 端口 %d 已被其他程序占用\n"),
                 opt.port);
    return 1;
  }
  const std::string port = opt.port ? std::to_string(opt.port) : ChooseServerPort();
  if (port.empty()) {
    PrintEvent(ViewEventId::NoFreePort);
    return 1;
  }
  const ReachMode mode = opt.cloud ? ReachMode::Cloud : opt.wan ? ReachMode::Wan : ReachMode::Lan;
  session.SelectMode(mode);
  CCliMainDialog dialog;
  if (opt.command == "receive") {
    dialog.OnReceived = [&state](const CViewEvent& event) {
      if (event.Id == ViewEventId::TextReceived)
        OnTextReceivedPrinted(event.Name);
      else
        PrintUploadSaved(event.Name.rfind('/', 0) == 0 ? event.Name : state.HomePath(event.Name));
    };
  }
  state.Events.Attach(&dialog);

  // From here on, a stop signal ends whatever the terminal waits for (the sign-in, a relay upload)
  // at once, and then the run.
  std::mutex stopLock;
  std::condition_variable stopped;
  bool stopSignalled = false;
  signals.Start([&] {
    session.RequestStop();
    std::lock_guard<std::mutex> lock(stopLock);
    stopSignalled = true;
    stopped.notify_all();
  });
  const auto run = [&]() -> bool {
    // Without a port asked for, the next free one when the first was taken meanwhile.
    if (!opt.port && !marlix.StartWebOnFreePort()) {
      PrintEvent(ViewEventId::NoFreePort);
      return false;
    }
    if (opt.port && !marlix.StartWeb(port)) {
      std::fprintf(
          stderr,
          Say("marlix-cli: the web service could not start on port %s\n", "marlix-cli: 端口 %s 上的网络服务无法启动\n"),
          port.c_str());
      return false;
    }
    // What the window's start-up worker does: sign in, then find the local address.
    session.Operations().StartupWork(state, state.Events, session.StopFlag());
    if (session.StopFlag()) return false;

    const ReachMode direct = opt.wan ? ReachMode::Wan : ReachMode::Lan;  // the mode of the upload page
    if (opt.wan) {
      const WanSetupResult wan = RunWanSetup(state);
      if (session.PortOpened(wan)) {
        std::fprintf(stderr, "%s\n", state.ExternalAddress.Get().c_str());
      } else {
        PrintEvent(WanSetupFailureEvent(wan));
        return false;
      }
    }
    const std::string host = opt.wan ? state.ExternalAddress.Get() : state.LocalAddress.Get();
    if (host.empty() && !opt.cloud)
      std::fputs(Say("marlix-cli: no network address found\n", "marlix-cli: 找不到网络地址\n"), stderr);

    std::string lastAddress;
    if (opt.command == "share") {
      // Said once, before the first address line.
      bool told = false;
      const auto printItem = [&told](const std::string& address, const std::string& name) {
        if (!told)
          std::fputs(Say("Shared: each line below is an item's address and name; the last line is the upload\n"
                         "page, for the phone to send files back.\n",
                         "已分享：下面每行是一项的地址和名称；最后一行是上传页面，手机可从那里把文件发回本机。\n"),
                     stderr);
        std::fflush(stderr);
        told = true;
        PrintAddress(address, name);
      };
      for (size_t i = 0; i < opt.paths.size() && !session.StopFlag(); ++i) {
        const std::string& path = opt.paths[i];
        const std::string& given = givenPaths[i];
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
          std::fprintf(stderr, "marlix-cli: %s: %s\n", given.c_str(), std::strerror(errno));
          continue;
        }
        char* full = ::realpath(path.c_str(), nullptr);
        const std::string fullPath = full ? full : path;
        std::free(full);
        const bool folder = S_ISDIR(st.st_mode);
        if (!Readable(fullPath, folder)) {
          const int error = errno;
          std::fprintf(stderr,
                       Say("marlix-cli: warning: %s cannot be read (%s); phones will not get it\n",
                           "marlix-cli: 警告: 无法读取 %s (%s)，手机将下载不到\n"),
                       given.c_str(), std::strerror(error));
        }
        if (opt.cloud && folder) {  // the relay takes files only: said once, nothing started
          std::fprintf(stderr, "%s: %s\n", given.c_str(),
                       TerminalWords({ViewEventId::RelayFolderRefused}, UiSpeaksChinese()).Message.c_str());
          continue;
        }
        const int failures = dialog.RelayFailures();
        const CSharedItem item = session.Share(fullPath);
        const CShareViewState view = session.ShowSharePage(mode);
        if (opt.cloud) {
          // The address is shown only once the relay has stored the file; a refusal has been printed.
          while (!session.StopFlag() && !marlix.Relay().WaitIdle(100)) {
          }
          if (dialog.RelayFailures() != failures) session.RelayFailed(item.Token);
          if (dialog.RelayFailures() != failures || session.StopFlag()) continue;
        }
        if (view.View != ShareView::ItemCode) continue;
        lastAddress = view.Address;
        printItem(lastAddress, ItemName(fullPath));
      }
      for (const std::string& text : opt.texts) {
        if (text.size() > kMaxSharedText) {
          std::fputs(
              Say("marlix-cli: a text longer than 64 KiB cannot be shared\n", "marlix-cli: 文字超过 64 KB，无法分享\n"),
              stderr);
          continue;
        }
        int error = 0;
        const CSharedItem item = session.ShareText(text, error);
        if (item.Token.empty()) {
          std::fprintf(stderr, "marlix-cli: %s\n", std::strerror(error ? error : EIO));
          continue;
        }
        const CShareViewState view = session.ShowSharePage(direct);
        if (view.View != ShareView::ItemCode) continue;
        lastAddress = view.Address;
        printItem(lastAddress, "text");
      }
      // Last, the upload page, so that the phone can send files back.
      if (!lastAddress.empty() && !opt.cloud && !host.empty()) PrintAddress(UploadPageAddress(state, direct), "upload");
    } else {
      const CShareViewState view = session.ShowUploadPage(direct);
      lastAddress = view.Address;
      if (!lastAddress.empty()) {
        std::fputs(
            Say("Scan the code with the phone to send files to this PC.\n", "用手机扫描二维码，把文件发到这台电脑。\n"),
            stderr);
        std::fflush(stderr);
        PrintAddress(lastAddress);
        std::fprintf(
            stderr,
            Say("Received files are saved in %s. Press Ctrl+C to stop.\n", "收到的文件保存在 %s。按 Ctrl+C 结束。\n"),
            state.HomePath("tmp").c_str());
      }
    }
    if (lastAddress.empty()) return false;
    if (opt.command == "share")
      std::fputs(Say("The code below is the last item's. Press Ctrl+C to stop sharing.\n",
                     "下面的二维码是最后一项的。按 Ctrl+C 结束分享。\n"),
                 stderr);
    std::fflush(stderr);
    if (opt.qr) DrawTerminalQr(lastAddress, stdout);
    return true;
  };
  // Nothing could be shared: said by the exit status instead of serving nothing. A stop signal
  // always ends with 0.
  const bool serving = run();
  if (serving) {
    std::unique_lock<std::mutex> lock(stopLock);
    stopped.wait(lock, [&] { return stopSignalled; });
  }
  signals.Stop();
  session.End();
  state.Events.Detach();
  std::lock_guard<std::mutex> lock(stopLock);
  return serving || stopSignalled ? 0 : 1;
}
