#pragma once
// One HTTP GET at a time over libcurl, with fixed browser-like request headers, a response store of
// fixed capacity allocated once per client, and a cookie jar learnt from Set-Cookie header lines.
// Every request gives up connecting after 5 s and ends when no byte has moved for 30 s; a stop flag
// that the caller owns ends it at once (within the library's progress interval, under a second).

#include <atomic>
#include <map>
#include <string>

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
  int Request(const char* address);

  // While *stop is true, requests end (or do not start). The flag must outlive the client's requests.
  void SetStopFlag(const std::atomic<bool>* stop) { m_pStop = stop; }
  // A limit on a whole request's time, in ms (0: none, the default); for calls that must not hold
  // up their caller, such as the sign-out at close.
  void SetTimeLimit(long ms) { m_timeLimitMs = ms; }
  // The library's diagnostics (libcurl's verbose output) on the error stream; off by default.
  void SetDiagnostics(bool on) { m_diagnostics = on; }

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

  CURL* m_pCurl = nullptr;
  curl_slist* m_pHeaderList = nullptr;
  HttpResponseStore* m_pStore = nullptr;
  std::map<std::string, std::string> m_CookieJar;
  const std::atomic<bool>* m_pStop = nullptr;
  long m_timeLimitMs = 0;
  bool m_diagnostics = false;
};

inline constexpr long kHttpConnectTimeoutMs = 5000;
inline constexpr long kHttpStallSeconds = 30;
