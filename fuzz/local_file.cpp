// The URI cleaning and the local-file route's confinement, against the real server on loopback in a
// working directory of its own. Whatever the address (GET or DELETE), no reply carries a file that is
// not a page file or directly inside tmp/ (links, subfolders, other files of the working directory,
// files outside it), and no DELETE removes anything but a regular file directly inside tmp/ (never a
// link), and says it did exactly when it did. A path with a NUL in it is a bad request. The cleaned
// address never holds a ".." segment.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzCheck.h"
#include "app/SharedState.h"
#include "web/WebService.h"
#include "web/http/RequestUri.h"

namespace fs = std::filesystem;

namespace {

int g_port = 0;
SharedState* g_state = nullptr;   // the served state, for the life of the process
CWebService* g_server = nullptr;  // runs until the process ends
fs::path g_root;

void Put(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// Files that must never be sent nor deleted; each holds the word SECRET.
const char* const kSecrets[] = {"home/notes.txt",         "home/1.bmp",         "home/Docs.zip",
                                "home/tmp/sub/inner.txt", "outside/secret.txt", "home/.hidden.txt"};

void LayOut() {
  Put(g_root / "home/index.html", "PAGE");
  Put(g_root / "home/upload.js", "SCRIPT");
  Put(g_root / "home/tmp/ok.txt", "RECEIVED");
  for (const char* s : kSecrets) Put(g_root / s, "SECRET");
  std::error_code ec;
  fs::create_symlink(g_root / "outside/secret.txt", g_root / "home/tmp/link.txt", ec);
  fs::create_directory_symlink(g_root / "outside", g_root / "home/tmp/out", ec);
}

std::string Ask(const std::string& request) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(g_port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int fd = -1;
  // Hundreds of thousands of connections: each one ends with a reset, so that no TIME_WAIT entry is
  // left to use up the loopback ports; a connect that still finds none free is tried again.
  for (int attempt = 0; attempt < 200 && fd < 0; ++attempt) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FUZZ_CHECK(fd >= 0);
    const linger reset{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd);
      fd = -1;
      ::usleep(10000);
    }
  }
  FUZZ_CHECK(fd >= 0);
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string reply;
  char buf[8192];
  for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) reply.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return reply;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/marlix-fuzz-XXXXXX";
  FUZZ_CHECK(::mkdtemp(pattern));
  g_root = pattern;
  LayOut();
  g_state = new SharedState;
  g_state->Home = (g_root / "home").string();
  for (int port = 20000 + ::getpid() % 20000;; ++port) {
    g_server = StartWebService(*g_state, "127.0.0.1:" + std::to_string(port));
    if (g_server) {
      g_port = port;
      break;
    }
  }
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(g_root, ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool del = data[0] & 1;
  std::string path = "/";
  for (size_t i = 1; i < size; ++i) {
    const unsigned char c = data[i];
    if (c > 0x20 && c < 0x7F) {
      path += static_cast<char>(c);
    } else {
      static const char hex[] = "0123456789ABCDEF";
      path += '%';
      path += hex[c >> 4];
      path += hex[c & 15];
    }
  }
  // The server hands the dispatch a decoded path that starts with "/".
  const std::string cleaned = CleanRequestUri("/" + std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  size_t start = 0;
  while (start <= cleaned.size()) {
    size_t end = cleaned.find_first_of("/\\", start);
    if (end == std::string::npos) end = cleaned.size();
    FUZZ_CHECK(cleaned.compare(start, end - start, "..") != 0 || end - start != 2);
    start = end + 1;
  }

  // Every input starts unblocked: the misses of earlier inputs (unknown tokens) would otherwise soon
  // refuse this address everything of the upload direction.
  g_server->Limiter().Reset();
  // With the run's upload secret, as the owner's phone asks: the confinement must hold even then.
  const std::string target = path + (path.find('?') == std::string::npos ? "?k=" : "&k=") + g_state->UploadSecret;
  const std::string reply = Ask((del ? "DELETE " : "GET ") + target + " HTTP/1.0\r\n\r\n");
  FUZZ_CHECK(reply.find("SECRET") == std::string::npos);
  // The secret does open tmp/: the received file itself is served.
  if (!del && path == "/tmp/ok.txt") FUZZ_CHECK(reply.ends_with("RECEIVED"));
  if (cleaned.find('\0') < cleaned.find('?')) FUZZ_CHECK(reply.rfind("HTTP/1.0 400", 0) == 0);
  if (del) {
    for (const char* s : kSecrets) FUZZ_CHECK(fs::exists(g_root / s));
    FUZZ_CHECK(fs::exists(g_root / "home/index.html") && fs::exists(g_root / "outside"));
    FUZZ_CHECK(fs::is_symlink(g_root / "home/tmp/link.txt") && fs::is_symlink(g_root / "home/tmp/out"));
    // The received file itself may go, and only its removal is answered as a success: put it back.
    const bool removed = !fs::exists(g_root / "home/tmp/ok.txt");
    FUZZ_CHECK(removed == reply.ends_with("{\"success\":true}"));
    if (removed) Put(g_root / "home/tmp/ok.txt", "RECEIVED");
  }
  return 0;
}
