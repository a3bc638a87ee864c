#pragma once
// marlix-relay: the service that Marlix's cloud mode uploads files to and that phones download them
// from. GET /login?release=N answers "1" when this relay knows of a newer release than the client's N,
// else "0" (also when the client names none);
// GET /logout records the client's counts; POST /upload stores one file framed as
//   u32 token length, token, u32 name length, name (UTF-8), u32 size, content (big-endian lengths)
// and answers with the file's link (Location, and the body's second line). An upload that would take
// the stored total past MaxStorage, or its client's live files past MaxPerClient, is refused (507,
// 429) before its body is read; one that sends less than MinUploadRate is ended. GET /q?t=TOKEN
// sends the file as an attachment (Range honoured) and deletes it once the client has acknowledged
// its last byte; a link that has expired or was taken answers 410, one that never was 404. A file not
// downloaded within the expiry is deleted; stored files outlive a restart until then.
// Clients are counted by their address or, for requests from a trusted proxy, by the address that
// the proxy names last in X-Forwarded-For.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "relay/RelayStore.h"
#include "web/GuessLimiter.h"
#include "web/http/HttpHandler.h"
#include "web/http/HttpServer.h"
#include "web/http/TlsCredentials.h"

struct RelayOptions {
  std::string Listen = "127.0.0.1:8200";    // PORT (every address), ADDR:PORT or [IPV6]:PORT
  std::string Storage = "relay-files";      // folder of the stored files; created when missing
  std::string Release = MARLIX_VERSION;     // the newest release this relay knows of
  uint64_t MaxBody = 1ull << 30;            // largest upload body accepted, in bytes
  uint64_t MaxStorage = 0;                  // most file bytes kept at once; 0 for no limit
  uint64_t MaxPerClient = 1ull << 30;       // most live file bytes one client may keep; 0: none
  int64_t ExpiryMs = 600000;                // a file not downloaded within this time is deleted
  std::string PublicUrl;                    // "https://host[/prefix]" of the links; else the Host
  std::vector<std::string> TrustedProxies;  // addresses whose X-Forwarded-For names the client
  int MaxRequestsPerClient = 8;             // uploads and downloads of one client at once
  uint64_t MinUploadRate = 16384;           // bytes a second, averaged over each RateWindowMs
  int64_t RateWindowMs = 30000;
  int HeadLimitMs = 10000;                      // a request's head (and TLS handshake) must be in by then
  std::shared_ptr<CTlsCredentials> Tls;         // HTTPS when set
  std::function<void(const std::string&)> Log;  // one line per event; stderr when empty
};

// True when release a is newer than release b, comparing dot-separated numbers ("2.10" > "2.9").
bool IsNewerRelease(const std::string& a, const std::string& b);

class CRelayServer : private IHttpHandler {
 public:
  CRelayServer() = default;
  ~CRelayServer() override;
  CRelayServer(const CRelayServer&) = delete;
  CRelayServer& operator=(const CRelayServer&) = delete;

  // Starts listening; false (with a log line) when the storage folder or the listener cannot be made.
  bool Start(const RelayOptions& options);
  void Stop();
  // The first listening port.
  int Port() const;
  // Tokens of the files stored and not yet downloaded.
  int StoredCount();
  // Reads the certificate files again (SIGHUP); false, with a log line, when the old ones stay.
  bool ReloadCertificate();
  // The storage limit when none is given: 10 GiB or a tenth of the folder's disk, the smaller.
  static uint64_t DefaultMaxStorage(const std::string& folder);

 private:
  struct StoredFile {
    std::string Name;
    uint64_t Size = 0;
    std::chrono::steady_clock::time_point Stored;
    std::string Client;      // the uploader, whose quota the file counts in
    uint64_t Delivered = 0;  // bytes from the start that a client has acknowledged
  };
  class CClientSlot;

  CHttpReply Serve(CHttpRequest& request) override;
  CHttpReply HandleUpload(CHttpRequest& request);
  CHttpReply HandleDownload(const CHttpRequest& request);
  CHttpReply HandleLogout(const CHttpRequest& request);
  // The answer to an upload that is refused on its head alone; none when its body may come.
  std::optional<CHttpReply> RefuseEarly(const CHttpRequest& request, const std::string& client) const;
  std::string ClientOf(const CHttpRequest& request) const;
  std::string LinkOf(const CHttpRequest& request, const std::string& token) const;
  void Delivered(const std::string& token, uint64_t offset, uint64_t sent);
  void Forget(std::map<std::string, StoredFile>::iterator it, const char* why);  // under m_lock
  void Restore();
  void Sweep();
  void Write(const std::string& line);
  std::string DataPath(const std::string& token) const;
  std::string PartPath(const std::string& token) const;

  RelayOptions m_options;
  CHttpServer m_server;
  std::unique_ptr<CRelayStore> m_pStore;  // the bytes of m_files and m_receiving, against MaxStorage
  mutable std::mutex m_lock;
  std::map<std::string, StoredFile> m_files;                            // token -> stored file, under m_lock
  std::set<std::string> m_receiving;                                    // tokens being uploaded, under m_lock
  std::map<std::string, std::chrono::steady_clock::time_point> m_gone;  // expired or taken, under m_lock
  std::map<std::string, uint64_t> m_clientBytes;                        // live bytes per uploader, under m_lock
  std::map<std::string, int> m_clientRequests;                          // requests at once per client, under m_lock
  std::set<std::string> m_proxyKeys;                                    // ClientAddressKey of the trusted proxies
  CGuessLimiter m_guesses;
  std::condition_variable m_wake;
  bool m_stopping = false;
  std::thread m_sweeper;
};
