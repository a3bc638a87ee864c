#pragma once
// The certificate and key that a server speaking HTTPS shows (GnuTLS, the TLS of the server
// library), read from PEM files and read again on demand: a renewed certificate is taken up by the
// next handshakes while connections in progress go on with the one they began with. Thread-safe:
// the server's threads read the current pair during handshakes while another thread reloads.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct MHD_Daemon;
struct MHD_OptionItem;

class CTlsCredentials {
 public:
  // Reads the certificate chain (the server's first) and its private key. Null, with the reason in
  // `error` naming the file at fault, when a file cannot be read or parsed, or the key is not the
  // certificate's.
  static std::shared_ptr<CTlsCredentials> Load(const std::string& certFile, const std::string& keyFile,
                                               std::string& error);
  ~CTlsCredentials();
  CTlsCredentials(const CTlsCredentials&) = delete;
  CTlsCredentials& operator=(const CTlsCredentials&) = delete;

  // Reads both files again. On failure the pair in use stays, and `error` says why.
  bool Reload(std::string& error);

  // The pair for a handshake (GnuTLS types, as void* to keep them out of this header). The pair
  // stays valid for the credentials' life: an earlier pair is kept after a reload, since sessions
  // that began with it may still refer to it.
  struct Pair;
  const Pair* Current();

 private:
  CTlsCredentials(std::string certFile, std::string keyFile);
  const std::string m_certFile, m_keyFile;
  std::mutex m_lock;                           // guards the two below
  std::vector<std::unique_ptr<Pair>> m_pairs;  // every pair read; the last is current
};

// What a server keeps for each connection that its handshake needs. The server library's socket
// context of a connection (MHD_CONNECTION_INFO_SOCKET_CONTEXT, the `void**` of
// MHD_OPTION_NOTIFY_CONNECTION) must point to one of these on a server started with
// TlsDaemonOptions: it is set when the connection starts, before its handshake. A connection
// without one, or without credentials in it, fails its handshake.
struct CTlsConnection {
  CTlsCredentials* credentials = nullptr;  // outlives the server
};

// The server library's options for HTTPS with these credentials (TLS 1.2 and later), ending with
// MHD_OPTION_END; only the end when `tls` is null. Given to MHD_start_daemon with MHD_OPTION_ARRAY.
std::vector<MHD_OptionItem> TlsDaemonOptions(const CTlsCredentials* tls);
