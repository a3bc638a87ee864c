#pragma once
// One HTTP request at a time over libcurl (a GET, or a POST whose body is streamed), http:// or
// https:// over IPv4 or IPv6, with fixed request headers (one User-Agent naming Marlix and its
// release), a response store of fixed capacity allocated once per client, and a cookie jar learnt
// from Set-Cookie header lines. An https:// server's certificate is verified against the system's
// store, as libcurl does by default, or against the certificates the caller names.
// Every request gives up connecting after 5 s and ends when no byte has moved for 30 s. A stop flag
// that the caller owns ends it at once, whatever it waits for (the name's resolution, the connection,
// the answer): the transfer runs in a loop that sleeps in curl_multi_poll, and the flag's Set wakes
// it with curl_multi_wakeup. A resolution still under way is left to end by itself on the library's
// own thread (CURLOPT_QUICK_EXIT), so that no request waits for it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "app/StopFlag.h"

typedef void CURL;
struct curl_slist;

// The response of the last request. One block, allocated once by the client's constructor.
struct HttpResponseStore {
  static constexpr int kBodyCapacity = 2097152;  // 2 MiB of data, plus one byte for the NUL
  static constexpr int kHeaderCapacity = 8191;   // header text, plus one byte for the NUL

  char Body[kBodyCapacity + 1];
  int BodyLength;
  char HeaderText[kHeaderCapacity + 1];
  int HeaderLength;
  int BodyOverflow;
  int HeaderOverflow;
  int ResponseCode;

  void Clear();
};

class CHttpClient {
 public:
  CHttpClient();
  ~CHttpClient();
  CHttpClient(const CHttpClient&) = delete;
  CHttpClient& operator=(const CHttpClient&) = delete;

  // Performs one GET of the address; returns the libcurl result code (0 = success;
  // CURLE_ABORTED_BY_CALLBACK when the stop flag ended it, CURLE_OPERATION_TIMEDOUT on a time-out).
  // Runs on the caller's thread.
  int Request(const char* address);

  // Reads the next bytes of a POST body into `into` (at most `room`): their count, 0 at its end, or
  // -1 to end the request (a read that failed).
  using CBodySource = std::function<int64_t(char* into, size_t room)>;
  // Performs one POST of `length` bytes that `source` gives, as application/octet-stream; `host`
  // (when not empty) is sent as the Host line. A server that answers before the body is in (a
  // refusal) is not sent the rest. Returns the libcurl result code, as Request does.
  int Post(const char* address, const std::string& host, uint64_t length, CBodySource source);
  // Called with the bytes of a request's body sent so far, as they go, on the requesting thread.
  void SetSendProgress(std::function<void(int64_t sent)> progress) { m_sendProgress = std::move(progress); }
  // Called once a request's connection is made, before anything is sent, with the server's address.
  void SetConnected(std::function<void(const std::string& address)> connected) { m_connected = std::move(connected); }

  // While the flag is set, requests end at once (or do not start). It must outlive the client's requests.
  void SetStopFlag(const CStopFlag* stop) { m_pStop = stop; }
  // A limit on a whole request's time, in ms (0: none, the default); for calls that must not hold
  // up their caller, such as the sign-out at close.
  void SetTimeLimit(long ms) { m_timeLimitMs = ms; }
  // The library's diagnostics (libcurl's verbose output) on the error stream; off by default.
  void SetDiagnostics(bool on) { m_diagnostics = on; }
  // The certificates a server's must chain to, instead of the system's store: a PEM file and a
  // folder of hashed PEM files (each may be empty: libcurl's default for it).
  void SetTrustedCertificates(std::string file, std::string folder) {
    m_trustedFile = std::move(file);
    m_trustedFolder = std::move(folder);
  }

  // True when the last request was ended by the stop flag or a time-out rather than by its server:
  // the server was silent or too slow (or its name did not resolve in time).
  bool CutShort() const { return m_cutShort; }

  const char* Body() const { return m_pStore->Body; }
  int BodyLength() const { return m_pStore->BodyLength; }
  const char* HeaderText() const { return m_pStore->HeaderText; }
  int HeaderLength() const { return m_pStore->HeaderLength; }
  bool BodyOverflow() const { return m_pStore->BodyOverflow != 0; }
  bool HeaderOverflow() const { return m_pStore->HeaderOverflow != 0; }
  int ResponseCode() const { return m_pStore->ResponseCode; }
  const std::map<std::string, std::string>& CookieJar() const { return m_CookieJar; }

 private:
  void BuildHeaderList();
  void LearnCookies();
  int Perform(const char* address);
  // Runs the prepared transfer until it ends or the stop flag is set; its libcurl result.
  int Transfer();
  static int OnTransferInfo(void* self, int64_t, int64_t, int64_t, int64_t sent);
  static int OnConnectedCall(void* self, char* address, char*, int, int);

  CURL* m_pCurl = nullptr;
  curl_slist* m_pHeaderList = nullptr;
  HttpResponseStore* m_pStore = nullptr;
  std::map<std::string, std::string> m_CookieJar;
  const CStopFlag* m_pStop = nullptr;
  bool m_cutShort = false;
  long m_timeLimitMs = 0;
  bool m_diagnostics = false;
  std::string m_trustedFile, m_trustedFolder;
  std::function<void(int64_t)> m_sendProgress;
  std::function<void(const std::string&)> m_connected;
};

// The User-Agent of every request: "Marlix/" and the release.
std::string HttpUserAgent();
// True when a libcurl result code says that a server's certificate could not be verified.
bool IsCertificateFailure(int result);

inline constexpr long kHttpConnectTimeoutMs = 5000;
inline constexpr long kHttpStallSeconds = 30;
