#include "relay/RelayServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>

#include "relay/TokenAndName.h"
#include "relay/UploadFrame.h"
#include "web/http/ByteRange.h"
#include "web/http/ClientAddress.h"
#include "web/http/PercentCodec.h"
#include "web/http/QueryParameter.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kPieceSize = 65536;
// Stored files carry these suffixes, so that the relay only ever deletes files of its own.
const char kDataSuffix[] = ".marlix-relay";
const char kPartSuffix[] = ".marlix-relay-part";
const char kMetaSuffix[] = ".marlix-relay-meta";  // name, size, time stored (Unix ms), uploader
// A link that has gone is told apart from one that never was for this long.
constexpr auto kGoneMemory = std::chrono::hours(24);
constexpr uint64_t kDefaultStorageCap = 10ull << 30;

const char kGonePage[] =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><meta name=\"viewport\" "
    "content=\"width=device-width\"><title>链接已失效 / Link expired</title></head><body>\n"
    "<p>链接已失效：文件已被下载，或超过时限未下载。</p>\n"
    "<p>This link has expired: the file was downloaded, or not downloaded in time.</p>\n</body></html>\n";

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

// The decoded value of one query variable; empty when missing or implausibly long.
std::string QueryVar(const char* query, const char* name) {
  std::string value;
  if (!query || !QueryParameter(query, name, value) || value.size() >= 128) return {};
  return value;
}

int64_t UnixMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The address that a proxy appended last to X-Forwarded-For, when it is one; else empty.
std::string LastForwarded(const char* header) {
  if (!header) return {};
  std::string last = header;
  last = last.substr(last.rfind(',') + 1);
  const size_t first = last.find_first_not_of(" \t"), end = last.find_last_not_of(" \t");
  if (first == std::string::npos) return {};
  last = last.substr(first, end - first + 1);
  unsigned char bytes[16];
  if (::inet_pton(AF_INET, last.c_str(), bytes) != 1 && ::inet_pton(AF_INET6, last.c_str(), bytes) != 1) return {};
  return last;
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

// A request counted against its client's MaxRequestsPerClient while it lives.
class CRelayServer::CClientSlot {
 public:
  CClientSlot(CRelayServer& relay, std::string client) : m_relay(relay), m_client(std::move(client)) {}
  ~CClientSlot() {
    std::lock_guard<std::mutex> lock(m_relay.m_lock);
    auto it = m_relay.m_clientRequests.find(m_client);
    if (it != m_relay.m_clientRequests.end() && --it->second <= 0) m_relay.m_clientRequests.erase(it);
  }

 private:
  CRelayServer& m_relay;
  const std::string m_client;
};

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

uint64_t CRelayServer::DefaultMaxStorage(const std::string& folder) {
  struct statvfs disk {};
  fs::path at = fs::absolute(folder);  // the folder may not be made yet: its nearest parent then
  while (::statvfs(at.c_str(), &disk) != 0) {
    if (at == at.parent_path()) return kDefaultStorageCap;
    at = at.parent_path();
  }
  return std::min<uint64_t>(kDefaultStorageCap, static_cast<uint64_t>(disk.f_blocks) * disk.f_frsize / 10);
}

bool CRelayServer::Start(const RelayOptions& options) {
  Stop();
  m_options = options;
  m_pStore = std::make_unique<CRelayStore>(m_options.MaxStorage);
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_files.clear();
    m_gone.clear();
    m_clientBytes.clear();
  }
  m_proxyKeys.clear();
  for (const std::string& proxy : m_options.TrustedProxies) m_proxyKeys.insert(ClientAddressKey(proxy));
  std::error_code ec;
  fs::create_directories(m_options.Storage, ec);
  if (!fs::is_directory(m_options.Storage, ec)) {
    Write("cannot use the storage folder " + m_options.Storage);
    return false;
  }
  Restore();

  CHttpServerOptions serverOptions;
  serverOptions.Listen = m_options.Listen;
  serverOptions.Tls = m_options.Tls;
  serverOptions.HeadLimitMs = m_options.HeadLimitMs;
  serverOptions.Uncapped.assign(m_proxyKeys.begin(), m_proxyKeys.end());
  RaiseOpenFileLimit();
  if (!m_server.Start(serverOptions, *this)) {
    Write("cannot listen on " + m_options.Listen);
    return false;
  }
  m_stopping = false;
  m_sweeper = std::thread([this] { Sweep(); });
  Write(std::string("listening on port ") + std::to_string(Port()) + (m_options.Tls ? " (HTTPS)" : " (HTTP)") +
        ", storing in " + m_options.Storage);
  return true;
}

// Takes back the files of an earlier run that have not expired; removes the rest of its files.
void CRelayServer::Restore() {
  std::error_code ec;
  const int64_t now = UnixMs();
  std::vector<fs::path> stale;
  std::lock_guard<std::mutex> lock(m_lock);
  for (const auto& entry : fs::directory_iterator(m_options.Storage, ec)) {
    const std::string file = entry.path().filename().string();
    if (!entry.is_regular_file(ec)) continue;
    if (EndsWith(file, kPartSuffix)) stale.push_back(entry.path());
    if (!EndsWith(file, kDataSuffix)) continue;
    const std::string token = file.substr(0, file.size() - std::strlen(kDataSuffix));
    std::ifstream meta(m_options.Storage + "/" + token + kMetaSuffix);
    StoredFile stored;
    int64_t storedMs = 0;
    const bool read = std::getline(meta, stored.Name) && (meta >> stored.Size >> storedMs) && (meta >> stored.Client);
    const int64_t age = now - storedMs;
    if (!read || !IsSafeToken(token) || !IsSafeName(stored.Name) || age < 0 || age >= m_options.ExpiryMs ||
        entry.file_size(ec) != stored.Size || !m_pStore->Reserve(stored.Size)) {
      stale.push_back(entry.path());
      stale.emplace_back(m_options.Storage + "/" + token + kMetaSuffix);
      continue;
    }
    stored.Stored = std::chrono::steady_clock::now() - std::chrono::milliseconds(age);
    m_clientBytes[stored.Client] += stored.Size;
    m_files[token] = stored;
  }
  for (const auto& entry : fs::directory_iterator(m_options.Storage, ec)) {
    const std::string file = entry.path().filename().string();
    if (EndsWith(file, kMetaSuffix) && !m_files.count(file.substr(0, file.size() - std::strlen(kMetaSuffix))))
      stale.push_back(entry.path());
  }
  for (const fs::path& path : stale) fs::remove(path, ec);
  if (!m_files.empty()) Write("kept " + std::to_string(m_files.size()) + " stored files of the earlier run");
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

bool CRelayServer::ReloadCertificate() {
  if (!m_options.Tls) return false;
  std::string error;
  if (!m_options.Tls->Reload(error)) {
    Write("certificate not reloaded, the one in use stays: " + error);
    return false;
  }
  Write("certificate reloaded");
  return true;
}

std::string CRelayServer::ClientOf(const CHttpRequest& request) const {
  const std::string peer = ClientAddressKey(request.Peer);
  if (!m_proxyKeys.count(peer)) return peer;
  const std::string forwarded = LastForwarded(request.Header("X-Forwarded-For"));
  return forwarded.empty() ? peer : ClientAddressKey(forwarded);
}

std::string CRelayServer::LinkOf(const CHttpRequest& request, const std::string& token) const {
  std::string base = m_options.PublicUrl;
  if (base.empty()) {
    const char* host = request.Header("Host");
    base = std::string(m_options.Tls ? "https://" : "http://") + (host ? host : "");
  }
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base + "/q?t=" + token;
}

std::optional<CHttpReply> CRelayServer::RefuseEarly(const CHttpRequest& request, const std::string& client) const {
  const int64_t declared = request.ContentLength;
  if (declared < 0) return Reply(411, "the upload must declare its length\n");
  if (static_cast<uint64_t>(declared) > m_options.MaxBody) return BadRequest("body too large");
  if (declared < 12) return BadRequest("body too short");
  // The least the file can be, whatever its token and name.
  const uint64_t least = static_cast<uint64_t>(std::max<int64_t>(0, declared - 12 - kMaxTokenBytes - kMaxNameBytes));
  std::lock_guard<std::mutex> lock(m_lock);
  if (auto it = m_clientRequests.find(client);
      it != m_clientRequests.end() && it->second >= m_options.MaxRequestsPerClient)
    return Reply(503, "too many requests from one address at once\n");
  if (least > m_pStore->Free())
    return Reply(507, "relay storage full: the file needs " + std::to_string(least) + " bytes, " +
                          std::to_string(m_pStore->Free()) + " of " + std::to_string(m_pStore->Capacity()) +
                          " are free\n");
  const auto used = m_clientBytes.find(client);
  if (m_options.MaxPerClient != 0 && least + (used == m_clientBytes.end() ? 0 : used->second) > m_options.MaxPerClient)
    return Reply(429, "this address keeps as many files on the relay as it may\n");
  return std::nullopt;
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
  // An upload refused anyway (its length, the storage, the client's quota or requests) is answered
  // at once, before its body is read.
  if (method == "POST" && uri == "/upload") {
    if (std::optional<CHttpReply> refused = RefuseEarly(request, ClientOf(request))) return std::move(*refused);
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
  Write("logout from " + ClientOf(request) + " lan=" + number("lan") + " cloud=" + number("cloud"));
  return Reply(200, "OK");
}

CHttpReply CRelayServer::HandleUpload(CHttpRequest& request) {
  const std::string client = ClientOf(request);
  if (std::optional<CHttpReply> refused = RefuseEarly(request, client)) return std::move(*refused);
  const int64_t declared = request.ContentLength;
  const CHttpBodyRead& read = request.ReadBody;
  if (!read) return Reply(503, "busy\n");
  {
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_clientRequests[client];
  }
  const CClientSlot slot(*this, client);

  CUploadFrame frame;
  const std::string refused =
      ReadUploadFrameHead([&read](char* into, size_t count) { return ReadExactly(read, into, count); }, frame);
  if (!refused.empty()) return BadRequest(refused);
  const std::string& token = frame.token;
  const std::string& name = frame.name;
  const uint32_t size = frame.size;
  const uint64_t total = 12ull + token.size() + name.size() + size;
  if (total != static_cast<uint64_t>(declared)) return BadRequest("lengths do not match the body");

  if (!m_pStore->Reserve(size)) {
    Write("upload " + token + " refused: " + std::to_string(size) + " bytes, " + std::to_string(m_pStore->Free()) +
          " free");
    return Reply(507, "relay storage full: the file needs " + std::to_string(size) + " bytes, " +
                          std::to_string(m_pStore->Free()) + " of " + std::to_string(m_pStore->Capacity()) +
                          " are free\n");
  }
  {
    std::lock_guard<std::mutex> lock(m_lock);
    uint64_t& used = m_clientBytes[client];
    const char* why = m_files.count(token) || m_receiving.count(token) || m_gone.count(token) ? "token in use\n"
                      : m_options.MaxPerClient != 0 && used + size > m_options.MaxPerClient
                          ? "this address keeps as many files on the relay as it may\n"
                          : nullptr;
    if (why) {
      if (used == 0) m_clientBytes.erase(client);
      m_pStore->Release(size);
      return Reply(why[0] == 't' ? 409 : 429, why);
    }
    used += size;
    m_receiving.insert(token);
  }
  const std::string part = PartPath(token);
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  bool whole = fd >= 0, written = whole, slow = false;
  if (whole) {
    std::unique_ptr<char[]> piece(new char[kPieceSize]);
    uint64_t left = size, windowBytes = 0;
    auto windowStart = std::chrono::steady_clock::now();
    const uint64_t windowNeed = m_options.MinUploadRate * static_cast<uint64_t>(m_options.RateWindowMs) / 1000;
    while (left > 0) {
      const int got = read(piece.get(), static_cast<size_t>(std::min<uint64_t>(kPieceSize, left)));
      if (got <= 0) {
        whole = false;
        break;
      }
      if (written && !WriteAll(fd, piece.get(), static_cast<size_t>(got))) written = false;
      left -= static_cast<uint64_t>(got);
      // A booking that does not fill at the least rate is given back, so that one trickling
      // client cannot hold the space.
      windowBytes += static_cast<uint64_t>(got);
      const auto now = std::chrono::steady_clock::now();
      if (left > 0 && now - windowStart >= std::chrono::milliseconds(m_options.RateWindowMs)) {
        if (windowBytes < windowNeed) {
          whole = false;
          slow = true;
          break;
        }
        windowStart = now;
        windowBytes = 0;
      }
    }
    if (::close(fd) != 0) written = false;
  }
  bool stored = false;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_receiving.erase(token);
    const std::string metaPath = m_options.Storage + "/" + token + kMetaSuffix;
    if (whole && written) {
      std::ofstream meta(metaPath, std::ios::trunc);
      meta << name << '\n' << size << ' ' << UnixMs() << ' ' << client << '\n';
      meta.close();
      if (meta && std::rename(part.c_str(), DataPath(token).c_str()) == 0) {
        m_files[token] = StoredFile{name, size, std::chrono::steady_clock::now(), client, 0};
        stored = true;
      } else {
        ::unlink(metaPath.c_str());
      }
    }
    if (!stored) {
      if ((m_clientBytes[client] -= std::min<uint64_t>(size, m_clientBytes[client])) == 0) m_clientBytes.erase(client);
    }
  }
  if (!stored) {
    m_pStore->Release(size);
    ::unlink(part.c_str());
    if (slow) {
      Write("upload " + token + " ended: slower than " + std::to_string(m_options.MinUploadRate) + " bytes a second");
      return Reply(408, "upload too slow\n");
    }
    if (!whole) {
      Write("upload " + token + " ended before its " + std::to_string(size) + " bytes");
      return BadRequest("incomplete body");
    }
    Write("upload " + token + " could not be stored");
    return Reply(500, "cannot store\n");
  }
  Write("stored " + token + " (" + std::to_string(size) + " bytes)");
  const std::string link = LinkOf(request, token);
  CHttpReply reply = Reply(200, "OK\n" + link + "\n");
  reply.AddHeader("Location", link);
  return reply;
}

void CRelayServer::Forget(std::map<std::string, StoredFile>::iterator it, const char* why) {
  const std::string& token = it->first;
  ::unlink(DataPath(token).c_str());
  ::unlink((m_options.Storage + "/" + token + kMetaSuffix).c_str());
  m_pStore->Release(it->second.Size);
  if (auto used = m_clientBytes.find(it->second.Client); used != m_clientBytes.end()) {
    used->second -= std::min(used->second, it->second.Size);
    if (used->second == 0) m_clientBytes.erase(used);
  }
  m_gone[token] = std::chrono::steady_clock::now();
  Write(std::string(why) + " " + token + ", deleted");
  m_files.erase(it);
}

void CRelayServer::Delivered(const std::string& token, uint64_t offset, uint64_t sent) {
  std::lock_guard<std::mutex> lock(m_lock);
  auto it = m_files.find(token);
  if (it == m_files.end()) return;
  // A client that asks for the rest from `offset` holds what came before it, whether or not its
  // earlier, broken download was seen to deliver it.
  it->second.Delivered = std::max(it->second.Delivered, offset + sent);
  if (it->second.Delivered >= it->second.Size) Forget(it, "sent");
}

CHttpReply CRelayServer::HandleDownload(const CHttpRequest& request) {
  const std::string client = ClientOf(request);
  const std::string token = QueryVar(request.QueryOrNull(), "t");
  StoredFile file;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    // A blocked guesser is answered as an unknown token is, without a look-up.
    auto it = m_guesses.Admit(client) && IsSafeToken(token) ? m_files.find(token) : m_files.end();
    if (it == m_files.end()) {
      if (m_gone.count(token)) {
        CHttpReply gone = CHttpReply::Text(410, "text/html; charset=utf-8", kGonePage);
        gone.AsHttp10 = false;
        return gone;
      }
      m_guesses.RecordMiss(client);
      return Reply(404, "not found\n");
    }
    if (m_clientRequests[client] >= m_options.MaxRequestsPerClient)
      return Reply(503, "too many requests from one address at once\n");
    ++m_clientRequests[client];
    file = it->second;
  }
  auto slot = std::make_shared<CClientSlot>(*this, client);
  const int fd = ::open(DataPath(token).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Reply(404, "not found\n");
  std::string plain = file.Name;
  for (char& c : plain) {
    if (c == '"' || static_cast<unsigned char>(c) >= 0x80) c = '_';
  }
  const int64_t size = static_cast<int64_t>(file.Size);
  const ByteRange range = ParseByteRange(request.Header("Range"), size);
  CHttpReply reply;
  reply.AsHttp10 = false;
  reply.AddHeader("Content-Type", "application/octet-stream");
  reply.AddHeader("Content-Disposition", "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" +
                                             PercentEncode(file.Name, IsUnreservedByte));
  reply.AddHeader("Cache-Control", "no-store");
  reply.AddHeader("Accept-Ranges", "bytes");
  if (range.kind == ByteRange::Unsatisfiable) {
    ::close(fd);
    CHttpReply refused = Reply(416, "");
    refused.AddHeader("Content-Range", "bytes */" + std::to_string(size));
    return refused;
  }
  const int64_t first = range.kind == ByteRange::Part ? range.first : 0;
  const int64_t last = range.kind == ByteRange::Part ? range.last : size - 1;
  if (range.kind == ByteRange::Part) {
    reply.Status = 206;
    reply.AddHeader("Content-Range",
                    "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size));
  }
  reply.Kind = CHttpReply::Body::File;
  reply.Fd = fd;
  reply.Offset = first;
  reply.Length = last - first + 1;
  if (size == 0) {
    Delivered(token, 0, 0);  // nothing the client could miss
    return reply;
  }
  // The file goes once a client has acknowledged its last byte, with the bytes before it delivered
  // by this request or an earlier one; a download that breaks off leaves it for a retry.
  reply.OnProgress = [this, token, first, slot](int64_t, int64_t sent) {
    Delivered(token, static_cast<uint64_t>(first), static_cast<uint64_t>(sent));
  };
  reply.ProgressOnAcknowledgement = true;
  return reply;
}

void CRelayServer::Sweep() {
  const auto interval = std::chrono::milliseconds(std::clamp<int64_t>(m_options.ExpiryMs / 4, 10, 1000));
  std::unique_lock<std::mutex> lock(m_lock);
  while (!m_stopping) {
    m_wake.wait_for(lock, interval);
    const auto now = std::chrono::steady_clock::now();
    // A download under way does not hold its file past the expiry: it goes on from its open file.
    for (auto it = m_files.begin(); it != m_files.end();) {
      auto next = std::next(it);
      if (now - it->second.Stored >= std::chrono::milliseconds(m_options.ExpiryMs)) Forget(it, "expired");
      it = next;
    }
    for (auto it = m_gone.begin(); it != m_gone.end();)
      it = now - it->second >= kGoneMemory ? m_gone.erase(it) : std::next(it);
  }
}
