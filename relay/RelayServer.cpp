#include "relay/RelayServer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "relay/UploadFrame.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kPieceSize = 65536;
// Stored files carry these suffixes, so that the relay only ever deletes files of its own.
const char kDataSuffix[] = ".marlix-relay";
const char kPartSuffix[] = ".marlix-relay-part";

CHttpReply Reply(int status, const std::string& body) {
  CHttpReply reply = CHttpReply::Text(status, "text/plain; charset=utf-8", body);
  reply.AsHttp10 = false;
  reply.AddHeader("Cache-Control", "no-store");
  return reply;
}

CHttpReply BadRequest(const std::string& why) { return Reply(400, why + "\n"); }

// Reads exactly n bytes of the request body; false when the client ends or fails first.
bool ReadExactly(const CHttpBodyRead& read, char* out, size_t n) {
  while (n > 0) {
    const int got = read(out, n);
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

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The form-decoded value of one query variable; empty when missing.
std::string QueryVar(const char* query, const char* name) {
  if (!query) return {};
  const std::string q = query, key = std::string(name) + "=";
  for (size_t at = 0; at <= q.size();) {
    size_t end = q.find('&', at);
    if (end == std::string::npos) end = q.size();
    if (q.compare(at, key.size(), key) == 0) {
      std::string value;
      for (size_t i = at + key.size(); i < end; ++i) {
        if (q[i] == '+') {
          value += ' ';
        } else if (q[i] == '%' && i + 2 < end + 1 && Hex(q[i + 1]) >= 0 && Hex(q[i + 2]) >= 0) {
          value += static_cast<char>(Hex(q[i + 1]) * 16 + Hex(q[i + 2]));
          i += 2;
        } else {
          value += q[i];
        }
      }
      return value.size() < 128 ? value : std::string();
    }
    at = end + 1;
  }
  return {};
}

// A stored file sent as it is read; tells at its end whether every byte went out.
class CStoredFileSender : public CReplyProducer {
 public:
  CStoredFileSender(int fd, uint64_t size, std::function<void(bool)> done)
      : m_fd(fd), m_left(size), m_done(std::move(done)) {}
  ~CStoredFileSender() override {
    ::close(m_fd);
    m_done(m_left == 0);
  }
  void SetWake(std::function<void()>) override {}
  ssize_t Produce(char* into, size_t room) override {
    if (m_left == 0) return kEnd;
    const ssize_t got = ::read(m_fd, into, static_cast<size_t>(std::min<uint64_t>(room, m_left)));
    if (got <= 0) return kFailed;
    m_left -= static_cast<uint64_t>(got);
    return got;
  }

 private:
  int m_fd;
  uint64_t m_left;
  std::function<void(bool)> m_done;
};

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
    if (!std::isalnum(c) && c != '-' && c != '_') return false;  // the URL-safe alphabet of tokens
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

  CHttpServerOptions serverOptions;
  serverOptions.Listen = m_options.Listen;
  RaiseOpenFileLimit();
  if (!m_server.Start(serverOptions, *this)) {
    Write("cannot listen on " + m_options.Listen);
    return false;
  }
  m_stopping = false;
  m_sweeper = std::thread([this] { Sweep(); });
  Write("listening on port " + std::to_string(Port()) + ", storing in " + m_options.Storage);
  return true;
}

void CRelayServer::Stop() {
  m_server.Stop();
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stopping = true;
  }
  m_wake.notify_all();
  if (m_sweeper.joinable()) m_sweeper.join();
}

int CRelayServer::Port() const { return m_server.Port(); }

int CRelayServer::StoredCount() {
  std::lock_guard<std::mutex> lock(m_lock);
  return static_cast<int>(m_files.size());
}

CHttpReply CRelayServer::Serve(CHttpRequest& request) {
  const std::string& method = request.Method;
  const std::string& uri = request.Path;
  if (method == "GET" && uri == "/login") {
    const std::string release = QueryVar(request.QueryOrNull(), "release");
    return Reply(200, !release.empty() && IsNewerRelease(m_options.Release, release) ? "1" : "0");
  }
  if (method == "GET" && uri == "/logout") return HandleLogout(request);
  // An upload waits for its body and the disk, a download for the disk: both run on a handler thread.
  // A declared body that is refused anyway is answered at once, before it is read.
  if (method == "POST" && uri == "/upload") {
    if (request.ContentLength >= 0 &&
        (static_cast<uint64_t>(request.ContentLength) > m_options.MaxBody || request.ContentLength < 12))
      return HandleUpload(request);
    return CHttpReply::Later([this](CHttpRequest& r) { return HandleUpload(r); });
  }
  if (method == "GET" && uri == "/q") return CHttpReply::Later([this](CHttpRequest& r) { return HandleDownload(r); });
  return Reply(404, "not found\n");
}

CHttpReply CRelayServer::HandleLogout(const CHttpRequest& request) {
  const char* query = request.QueryOrNull();
  auto number = [&](const char* name) {
    const std::string text = QueryVar(query, name);
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return text.empty() || *end ? std::string("?") : std::to_string(value);
  };
  Write("logout from " + request.Peer + " lan=" + number("lan") + " cloud=" + number("cloud"));
  return Reply(200, "OK");
}

CHttpReply CRelayServer::HandleUpload(CHttpRequest& request) {
  const int64_t declared = request.ContentLength;  // -1 when chunked
  const CHttpBodyRead& read = request.ReadBody;
  if (declared >= 0 && static_cast<uint64_t>(declared) > m_options.MaxBody) {
    return BadRequest("body too large");
  }
  if (declared >= 0 && declared < 12) return BadRequest("body too short");

  CUploadFrame frame;
  const std::string refused =
      ReadUploadFrameHead([&read](char* into, size_t count) { return ReadExactly(read, into, count); }, frame);
  if (!refused.empty()) return BadRequest(refused);
  const std::string& token = frame.token;
  const std::string& name = frame.name;
  const uint32_t size = frame.size;
  const uint64_t total = 12ull + token.size() + name.size() + size;
  if (declared >= 0 && total != static_cast<uint64_t>(declared)) return BadRequest("lengths do not match the body");
  if (total > m_options.MaxBody) return BadRequest("body too large");

  if (!m_pStore->Reserve(size)) {
    Write("upload " + token + " refused: " + std::to_string(size) + " bytes, " + std::to_string(m_pStore->Free()) +
          " free");
    return Reply(507, "relay storage full: the file needs " + std::to_string(size) + " bytes, " +
                          std::to_string(m_pStore->Free()) + " of " + std::to_string(m_pStore->Capacity()) +
                          " are free\n");
  }
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_files.count(token) || m_receiving.count(token)) {
      m_pStore->Release(size);
      return Reply(409, "token in use\n");
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
      const int got = read(piece.get(), static_cast<size_t>(std::min<uint64_t>(kPieceSize, left)));
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
      return BadRequest("incomplete body");
    }
    Write("upload " + token + " could not be stored");
    return Reply(500, "cannot store\n");
  }
  Write("stored " + token + " (" + std::to_string(size) + " bytes)");
  return Reply(200, "OK");
}

CHttpReply CRelayServer::HandleDownload(const CHttpRequest& request) {
  const std::string token = QueryVar(request.QueryOrNull(), "t");
  StoredFile file;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = IsSafeToken(token) ? m_files.find(token) : m_files.end();
    if (it == m_files.end() || it->second.Sending) return Reply(404, "not found\n");
    it->second.Sending = true;
    file = it->second;
  }
  const std::string path = DataPath(token);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pStore->Release(file.Size);
    m_files.erase(token);
    return Reply(404, "not found\n");
  }
  std::string plain = file.Name;
  for (char& c : plain) {
    if (c == '"' || static_cast<unsigned char>(c) >= 0x80) c = '_';
  }
  CHttpReply reply;
  reply.AsHttp10 = false;
  reply.AddHeader("Content-Type", "application/octet-stream");
  reply.AddHeader("Content-Disposition",
                  "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" + PercentEncode(file.Name));
  reply.AddHeader("Cache-Control", "no-store");
  reply.Kind = CHttpReply::Body::Producer;
  reply.ProducerLength = static_cast<int64_t>(file.Size);
  // Once every byte has gone to the connection the file is deleted; a download that breaks off
  // leaves it for another try.
  reply.Producer =
      std::make_shared<CStoredFileSender>(fd, file.Size, [this, token, path, size = file.Size](bool whole) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (whole) {
          ::unlink(path.c_str());
          m_pStore->Release(size);
          m_files.erase(token);
          Write("sent " + token + ", deleted");
        } else if (auto it = m_files.find(token); it != m_files.end()) {
          it->second.Sending = false;
        }
      });
  return reply;
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
