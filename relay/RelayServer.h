#pragma once
// marlix-relay: the service that Marlix's cloud mode uploads files to and that phones download them
// from. GET /login?release=N answers "1" when this relay knows of a newer release than the client's N,
// else "0" (also when the client names none);
// GET /logout records the client's counts; POST /upload stores one file framed as
//   u32 token length, token, u32 name length, name (UTF-8), u32 size, content (big-endian lengths);
// an upload that would take the stored total past MaxStorage is answered 507 before anything is
// stored. GET /q?t=TOKEN sends it as an attachment and deletes it once sent whole. A file not downloaded
// within the expiry is deleted.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "relay/RelayStore.h"
#include "web/HttpHandler.h"
#include "web/HttpServer.h"

struct RelayOptions {
  std::string Listen = "127.0.0.1:8200";        // PORT (every address), ADDR:PORT or [IPV6]:PORT
  std::string Storage = "relay-files";          // folder of the stored files; created when missing
  std::string Release = MARLIX_VERSION;         // the newest release this relay knows of
  uint64_t MaxBody = 1ull << 30;                // largest upload body accepted, in bytes
  uint64_t MaxStorage = 0;                      // most file bytes kept at once; 0 for no limit
  int64_t ExpiryMs = 600000;                    // a file not downloaded within this time is deleted
  std::function<void(const std::string&)> Log;  // one line per event; stderr when empty
};

// True when release a is newer than release b, comparing dot-separated numbers ("2.10" > "2.9").
bool IsNewerRelease(const std::string& a, const std::string& b);

// A stored file's name is safe when it is 1 to 511 bytes, not "." or "..", and holds no '/', '\\'
// or control character. A token is 1 to 64 letters and digits.
bool IsSafeName(const std::string& name);
bool IsSafeToken(const std::string& token);

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

 private:
  struct StoredFile {
    std::string Name;
    uint64_t Size = 0;
    std::chrono::steady_clock::time_point Stored;
    bool Sending = false;
  };

  CHttpReply Serve(CHttpRequest& request) override;
  CHttpReply HandleUpload(CHttpRequest& request);
  CHttpReply HandleDownload(const CHttpRequest& request);
  CHttpReply HandleLogout(const CHttpRequest& request);
  void Sweep();
  void Write(const std::string& line);
  std::string DataPath(const std::string& token) const;
  std::string PartPath(const std::string& token) const;

  RelayOptions m_options;
  CHttpServer m_server;
  std::unique_ptr<CRelayStore> m_pStore;  // the bytes of m_files and m_receiving, against MaxStorage
  std::mutex m_lock;
  std::map<std::string, StoredFile> m_files;  // token -> stored file, under m_lock
  std::set<std::string> m_receiving;          // tokens being uploaded, under m_lock
  std::condition_variable m_wake;
  bool m_stopping = false;
  std::thread m_sweeper;
};
