#include "relay/RelayServer.h"

#include <civetweb.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "relay/UploadFrame.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kPieceSize = 65536;
// Stored files carry these suffixes, so that the relay only ever deletes files of its own.
const char kDataSuffix[] = ".marlix-relay";
const char kPartSuffix[] = ".marlix-relay-part";

void Reply(mg_connection* conn, int status, const char* reason, const std::string& body) {
  mg_printf(conn,
            "HTTP/1.1 %d %s\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: %zu\r\n"
            "Cache-Control: no-store\r\nConnection: close\r\n\r\n",
            status, reason, body.size());
  mg_write(conn, body.data(), body.size());
}

void BadRequest(mg_connection* conn, const std::string& why) { Reply(conn, 400, "Bad Request", why + "\n"); }

// Reads exactly n bytes of the request body; false when the client ends or fails first.
bool ReadExactly(mg_connection* conn, char* out, size_t n) {
  while (n > 0) {
    const int got = mg_read(conn, out, n);
    if (got <= 0) return false;
    out += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    const ssize_t written = ::write(fd, data, n);
    if (written <= 0) return false;
    data += written;
    n -= static_cast<size_t>(written);
  }
  return true;
}

std::string PercentEncode(const std::string& text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string QueryVar(const char* query, const char* name) {
  if (!query) return {};
  char value[128];
  if (mg_get_var(query, std::strlen(query), name, value, sizeof value) < 0) return {};
  return value;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

// The number at position i of a dotted release, moving i past it and its dot; 0 where none is left.
static uint64_t NextReleaseNumber(const std::string& release, size_t& i) {
  uint64_t number = 0;
  for (; i < release.size() && release[i] != '.'; ++i) {
    if (std::isdigit(static_cast<unsigned char>(release[i])) && number < (1ull << 40)) {
      number = number * 10 + static_cast<uint64_t>(release[i] - '0');
    }
  }
  ++i;
  return number;
}

bool IsNewerRelease(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    const uint64_t x = NextReleaseNumber(a, i), y = NextReleaseNumber(b, j);
    if (x != y) return x > y;
  }
  return false;
}

bool IsSafeName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameBytes || name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
  }
  return true;
}

bool IsSafeToken(const std::string& token) {
  if (token.empty() || token.size() > kMaxTokenBytes) return false;
  for (unsigned char c : token) {
    if (!std::isalnum(c)) return false;
  }
  return true;
}

CRelayServer::~CRelayServer() { Stop(); }

std::string CRelayServer::DataPath(const std::string& token) const {
  return m_options.Storage + "/" + token + kDataSuffix;
}

std::string CRelayServer::PartPath(const std::string& token) const {
  return m_options.Storage + "/" + token + kPartSuffix;
}

void CRelayServer::Write(const std::string& line) {
  if (m_options.Log) {
    m_options.Log(line);
  } else {
    std::fprintf(stderr, "marlix-relay: %s\n", line.c_str());
    std::fflush(stderr);
  }
}

bool CRelayServer::Start(const RelayOptions& options) {
  Stop();
  m_options = options;
  m_pStore = std::make_unique<CRelayStore>(m_options.MaxStorage);
  std::error_code ec;
  fs::create_directories(m_options.Storage, ec);
  if (!fs::is_directory(m_options.Storage, ec)) {
    Write("cannot use the storage folder " + m_options.Storage);
    return false;
  }
  // Files of an earlier run can no longer be asked for by name: remove them.
  for (const auto& entry : fs::directory_iterator(m_options.Storage, ec)) {
    const std::string file = entry.path().filename().string();
    if (entry.is_regular_file(ec) && (EndsWith(file, kDataSuffix) || EndsWith(file, kPartSuffix))) {
      fs::remove(entry.path(), ec);
    }
  }

  static const bool initialised = (mg_init_library(0), true);
  (void)initialised;
  const char* serverOptions[] = {
      "listening_ports",
      m_options.Listen.c_str(),
      "num_threads",
      "20",
      "enable_keep_alive",
      "no",
      "request_timeout_ms",
      "30000",
      nullptr,
      nullptr,
  };
  mg_callbacks callbacks{};
  callbacks.begin_request = [](mg_connection* conn) {
    return HandleRequest(conn, mg_get_request_info(conn)->user_data);
  };
  callbacks.log_message = [](const mg_connection*, const char*) { return 1; };
  m_pServer = mg_start(&callbacks, this, serverOptions);
  if (!m_pServer) {
    Write("cannot listen on " + m_options.Listen);
    return false;
  }
  m_stopping = false;
  m_sweeper = std::thread([this] { Sweep(); });
  Write("listening on port " + std::to_string(Port()) + ", storing in " + m_options.Storage);
  return true;
}

void CRelayServer::Stop() {
  if (m_pServer) {
    mg_stop(m_pServer);
    m_pServer = nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stopping = true;
  }
  m_wake.notify_all();
  if (m_sweeper.joinable()) m_sweeper.join();
}

int CRelayServer::Port() const {
  if (!m_pServer) return 0;
  mg_server_port ports[4] = {};
  return mg_get_server_ports(m_pServer, 4, ports) > 0 ? ports[0].port : 0;
}

int CRelayServer::StoredCount() {
  std::lock_guard<std::mutex> lock(m_lock);
  return static_cast<int>(m_files.size());
}

int CRelayServer::HandleRequest(mg_connection* conn, void* self) {
  auto* server = static_cast<CRelayServer*>(self);
  const mg_request_info* ri = mg_get_request_info(conn);
  const std::string method = ri->request_method ? ri->request_method : "";
  const std::string uri = ri->local_uri ? ri->local_uri : "";
  if (method == "GET" && uri == "/login") {
    Reply(conn, 200, "OK", IsNewerRelease(server->m_options.Release, kClientRelease) ? "1" : "0");
  } else if (method == "GET" && uri == "/logout") {
    server->HandleLogout(conn, ri->query_string);
  } else if (method == "POST" && uri == "/upload") {
    server->HandleUpload(conn);
  } else if (method == "GET" && uri == "/q") {
    server->HandleDownload(conn, ri->query_string);
  } else {
    Reply(conn, 404, "Not Found", "not found\n");
  }
  return 1;
}

void CRelayServer::HandleLogout(mg_connection* conn, const char* query) {
  const mg_request_info* ri = mg_get_request_info(conn);
  auto number = [&](const char* name) {
    const std::string text = QueryVar(query, name);
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return text.empty() || *end ? std::string("?") : std::to_string(value);
  };
  Write(std::string("logout from ") + ri->remote_addr + " lan=" + number("lan") + " cloud=" + number("cloud"));
  Reply(conn, 200, "OK", "OK");
}

void CRelayServer::HandleUpload(mg_connection* conn) {
  const mg_request_info* ri = mg_get_request_info(conn);
  const int64_t declared = ri->content_length;  // -1 when chunked
  if (declared >= 0 && static_cast<uint64_t>(declared) > m_options.MaxBody) {
    return BadRequest(conn, "body too large");
  }
  if (declared >= 0 && declared < 12) return BadRequest(conn, "body too short");

  CUploadFrame frame;
  const std::string refused =
      ReadUploadFrameHead([conn](char* into, size_t count) { return ReadExactly(conn, into, count); }, frame);
  if (!refused.empty()) return BadRequest(conn, refused);
  const std::string& token = frame.token;
  const std::string& name = frame.name;
  const uint32_t size = frame.size;
  const uint64_t total = 12ull + token.size() + name.size() + size;
  if (declared >= 0 && total != static_cast<uint64_t>(declared))
    return BadRequest(conn, "lengths do not match the body");
  if (total > m_options.MaxBody) return BadRequest(conn, "body too large");

  if (!m_pStore->Reserve(size)) {
    Write("upload " + token + " refused: " + std::to_string(size) + " bytes, " + std::to_string(m_pStore->Free()) +
          " free");
    return Reply(conn, 507, "Insufficient Storage",
                 "relay storage full: the file needs " + std::to_string(size) + " bytes, " +
                     std::to_string(m_pStore->Free()) + " of " + std::to_string(m_pStore->Capacity()) + " are free\n");
  }
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_files.count(token) || m_receiving.count(token)) {
      m_pStore->Release(size);
      return Reply(conn, 409, "Conflict", "token in use\n");
    }
    m_receiving.insert(token);
  }
  const std::string part = PartPath(token);
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  bool whole = fd >= 0;
  bool written = whole;
  if (whole) {
    std::unique_ptr<char[]> piece(new char[kPieceSize]);
    uint64_t left = size;
    while (left > 0) {
      const int got = mg_read(conn, piece.get(), static_cast<size_t>(std::min<uint64_t>(kPieceSize, left)));
      if (got <= 0) {
        whole = false;
        break;
      }
      if (written && !WriteAll(fd, piece.get(), static_cast<size_t>(got))) written = false;
      left -= static_cast<uint64_t>(got);
    }
    if (::close(fd) != 0) written = false;
  }
  bool stored = false;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_receiving.erase(token);
    if (whole && written && std::rename(part.c_str(), DataPath(token).c_str()) == 0) {
      m_files[token] = StoredFile{name, size, std::chrono::steady_clock::now(), false};
      stored = true;
    }
  }
  if (!stored) {
    m_pStore->Release(size);
    ::unlink(part.c_str());
    if (!whole) {
      Write("upload " + token + " ended before its " + std::to_string(size) + " bytes");
      return BadRequest(conn, "incomplete body");
    }
    Write("upload " + token + " could not be stored");
    return Reply(conn, 500, "Internal Server Error", "cannot store\n");
  }
  Write("stored " + token + " (" + std::to_string(size) + " bytes)");
  Reply(conn, 200, "OK", "OK");
}

void CRelayServer::HandleDownload(mg_connection* conn, const char* query) {
  const std::string token = QueryVar(query, "t");
  StoredFile file;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = IsSafeToken(token) ? m_files.find(token) : m_files.end();
    if (it == m_files.end() || it->second.Sending) return Reply(conn, 404, "Not Found", "not found\n");
    it->second.Sending = true;
    file = it->second;
  }
  const std::string path = DataPath(token);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  bool whole = false;
  if (fd >= 0) {
    std::string plain = file.Name;
    for (char& c : plain) {
      if (c == '"' || static_cast<unsigned char>(c) >= 0x80) c = '_';
    }
    mg_printf(conn,
              "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
              "Content-Disposition: attachment; filename=\"%s\"; filename*=UTF-8''%s\r\n"
              "Content-Length: %llu\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n",
              plain.c_str(), PercentEncode(file.Name).c_str(), static_cast<unsigned long long>(file.Size));
    std::unique_ptr<char[]> piece(new char[kPieceSize]);
    uint64_t left = file.Size;
    while (left > 0) {
      const ssize_t got = ::read(fd, piece.get(), static_cast<size_t>(std::min<uint64_t>(kPieceSize, left)));
      if (got <= 0 || mg_write(conn, piece.get(), static_cast<size_t>(got)) != got) break;
      left -= static_cast<uint64_t>(got);
    }
    whole = left == 0;
    ::close(fd);
  } else {
    Reply(conn, 404, "Not Found", "not found\n");
  }
  std::lock_guard<std::mutex> lock(m_lock);
  if (whole || fd < 0) {
    ::unlink(path.c_str());
    m_pStore->Release(file.Size);
    m_files.erase(token);
    if (whole) Write("sent " + token + ", deleted");
  } else {
    m_files[token].Sending = false;
  }
}

void CRelayServer::Sweep() {
  const auto interval = std::chrono::milliseconds(std::clamp<int64_t>(m_options.ExpiryMs / 4, 10, 1000));
  std::unique_lock<std::mutex> lock(m_lock);
  while (!m_stopping) {
    m_wake.wait_for(lock, interval);
    const auto now = std::chrono::steady_clock::now();
    for (auto it = m_files.begin(); it != m_files.end();) {
      if (!it->second.Sending && now - it->second.Stored >= std::chrono::milliseconds(m_options.ExpiryMs)) {
        ::unlink(DataPath(it->first).c_str());
        m_pStore->Release(it->second.Size);
        Write("expired " + it->first + ", deleted");
        it = m_files.erase(it);
      } else {
        ++it;
      }
    }
  }
}
