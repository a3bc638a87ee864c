#include "service/HttpClient.h"

#include <curl/curl.h>

#include <cstring>
#include <optional>
#include <vector>

#include "service/CookieJar.h"

namespace {

// Appends one chunk to a fixed area; on overflow sets the flag and returns 0, which aborts the transfer.
size_t Collect(const char* data, size_t n, char* area, int& length, int capacity, int& overflow) {
  if (static_cast<size_t>(length) + n > static_cast<size_t>(capacity)) {
    overflow = 1;
    return 0;
  }
  std::memcpy(area + length, data, n);
  length += static_cast<int>(n);
  area[length] = '\0';
  return n;
}

size_t CollectBody(char* data, size_t size, size_t count, void* userdata) {
  auto* store = static_cast<HttpResponseStore*>(userdata);
  return Collect(data, size * count, store->Body, store->BodyLength, HttpResponseStore::kBodyCapacity,
                 store->BodyOverflow);
}

size_t CollectHeader(char* data, size_t size, size_t count, void* userdata) {
  auto* store = static_cast<HttpResponseStore*>(userdata);
  return Collect(data, size * count, store->HeaderText, store->HeaderLength, HttpResponseStore::kHeaderCapacity,
                 store->HeaderOverflow);
}

size_t ReadBody(char* into, size_t size, size_t count, void* reader) {
  const int64_t got = (*static_cast<CHttpClient::CBodySource*>(reader))(into, size * count);
  return got < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(got);
}

}  // namespace

void HttpResponseStore::Clear() {
  std::memset(Body, 0, sizeof Body);
  BodyLength = 0;
  std::memset(HeaderText, 0, sizeof HeaderText);
  HeaderLength = 0;
  BodyOverflow = 0;
  HeaderOverflow = 0;
  ResponseCode = 0;
}

CHttpClient::CHttpClient() : m_pStore(new HttpResponseStore) { m_pStore->Clear(); }

CHttpClient::~CHttpClient() {
  if (m_pCurl) curl_easy_cleanup(m_pCurl);
  curl_slist_free_all(m_pHeaderList);
  delete m_pStore;
}

void CHttpClient::BuildHeaderList() {
  curl_slist_free_all(m_pHeaderList);
  m_pHeaderList = nullptr;
  static const char* const kFixed[] = {
      "Accept: */*",     "Accept-Language: en",     "Accept-Encoding: gzip, deflate", "Connection: Keep-Alive",
      "Keep-Alive: 300", "Cache-Control: no-cache",
  };
  for (const char* line : kFixed) m_pHeaderList = curl_slist_append(m_pHeaderList, line);
  m_pHeaderList = curl_slist_append(m_pHeaderList, ("User-Agent: " + HttpUserAgent()).c_str());
  // With an empty jar the line is "Cookie:" alone, which libcurl does not send.
  m_pHeaderList = curl_slist_append(m_pHeaderList, CookieLine(m_CookieJar).c_str());
}

std::string HttpUserAgent() { return std::string("Marlix/") + MARLIX_VERSION; }

bool IsCertificateFailure(int result) {
  return result == CURLE_PEER_FAILED_VERIFICATION || result == CURLE_SSL_CACERT_BADFILE ||
         result == CURLE_SSL_ISSUER_ERROR || result == CURLE_SSL_PINNEDPUBKEYNOTMATCH;
}

int CHttpClient::OnTransferInfo(void* self, int64_t, int64_t, int64_t, int64_t sent) {
  auto* client = static_cast<CHttpClient*>(self);
  if (client->m_sendProgress && sent > 0) client->m_sendProgress(sent);
  return 0;
}

int CHttpClient::OnConnectedCall(void* self, char* address, char*, int, int) {
  auto* client = static_cast<CHttpClient*>(self);
  if (client->m_connected) client->m_connected(address ? address : "");
  return CURL_PREREQFUNC_OK;
}

int CHttpClient::Request(const char* address) {
  BuildHeaderList();
  m_pStore->Clear();
  m_cutShort = m_pStop && *m_pStop;
  if (m_cutShort) return CURLE_ABORTED_BY_CALLBACK;
  m_pCurl = curl_easy_init();
  if (!m_pCurl) return CURLE_FAILED_INIT;
  m_pHeaderList = curl_slist_append(m_pHeaderList, "Content-Type: application/x-www-form-urlencoded");
  return Perform(address);
}

int CHttpClient::Post(const char* address, const std::string& host, uint64_t length, CBodySource source) {
  BuildHeaderList();
  m_pStore->Clear();
  m_cutShort = m_pStop && *m_pStop;
  if (m_cutShort) return CURLE_ABORTED_BY_CALLBACK;
  m_pCurl = curl_easy_init();
  if (!m_pCurl) return CURLE_FAILED_INIT;
  m_pHeaderList = curl_slist_append(m_pHeaderList, "Content-Type: application/octet-stream");
  if (!host.empty()) m_pHeaderList = curl_slist_append(m_pHeaderList, ("Host: " + host).c_str());
  // The body waits for the server's leave, whatever its size: a refusal on the head is then read
  // before anything is sent, rather than lost when the server closes on a body it did not want.
  m_pHeaderList = curl_slist_append(m_pHeaderList, "Expect: 100-continue");
  curl_easy_setopt(m_pCurl, CURLOPT_EXPECT_100_TIMEOUT_MS, 5000L);
  curl_easy_setopt(m_pCurl, CURLOPT_POST, 1L);
  curl_easy_setopt(m_pCurl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(length));
  curl_easy_setopt(m_pCurl, CURLOPT_READFUNCTION, &ReadBody);
  curl_easy_setopt(m_pCurl, CURLOPT_READDATA, &source);
  return Perform(address);
}

int CHttpClient::Perform(const char* address) {
  // A blank value: libcurl leaves it out.
  m_pHeaderList = curl_slist_append(m_pHeaderList, "Referer: ");

  curl_easy_setopt(m_pCurl, CURLOPT_URL, address);
  curl_easy_setopt(m_pCurl, CURLOPT_HEADERFUNCTION, &CollectHeader);
  curl_easy_setopt(m_pCurl, CURLOPT_WRITEHEADER, m_pStore);
  curl_easy_setopt(m_pCurl, CURLOPT_WRITEFUNCTION, &CollectBody);
  curl_easy_setopt(m_pCurl, CURLOPT_WRITEDATA, m_pStore);
  curl_easy_setopt(m_pCurl, CURLOPT_HTTPHEADER, m_pHeaderList);
  curl_easy_setopt(m_pCurl, CURLOPT_ENCODING, "gzip");
  curl_easy_setopt(m_pCurl, CURLOPT_HEADER, 0L);
  curl_easy_setopt(m_pCurl, CURLOPT_VERBOSE, m_diagnostics ? 1L : 0L);
  curl_easy_setopt(m_pCurl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(m_pCurl, CURLOPT_CONNECTTIMEOUT_MS, kHttpConnectTimeoutMs);
  // Below one byte a second for 30 s: the transfer stalled.
  curl_easy_setopt(m_pCurl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(m_pCurl, CURLOPT_LOW_SPEED_TIME, kHttpStallSeconds);
  if (m_timeLimitMs > 0) curl_easy_setopt(m_pCurl, CURLOPT_TIMEOUT_MS, m_timeLimitMs);
  if (!m_trustedFile.empty()) curl_easy_setopt(m_pCurl, CURLOPT_CAINFO, m_trustedFile.c_str());
  if (!m_trustedFolder.empty()) curl_easy_setopt(m_pCurl, CURLOPT_CAPATH, m_trustedFolder.c_str());
  // A resolution still running when the transfer ends is not waited for: its thread ends by itself.
  curl_easy_setopt(m_pCurl, CURLOPT_QUICK_EXIT, 1L);
  if (m_sendProgress) {
    curl_easy_setopt(m_pCurl, CURLOPT_XFERINFOFUNCTION, &OnTransferInfo);
    curl_easy_setopt(m_pCurl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(m_pCurl, CURLOPT_NOPROGRESS, 0L);
  }
  if (m_connected) {
    curl_easy_setopt(m_pCurl, CURLOPT_PREREQFUNCTION, &OnConnectedCall);
    curl_easy_setopt(m_pCurl, CURLOPT_PREREQDATA, this);
  }

  const int result = Transfer();
  if (result == CURLE_OPERATION_TIMEDOUT) m_cutShort = true;
  LearnCookies();
  long code = 0;
  curl_easy_getinfo(m_pCurl, CURLINFO_RESPONSE_CODE, &code);
  m_pStore->ResponseCode = static_cast<int>(code);
  curl_easy_cleanup(m_pCurl);
  m_pCurl = nullptr;
  return result;
}

int CHttpClient::Transfer() {
  CURLM* multi = curl_multi_init();
  if (!multi || curl_multi_add_handle(multi, m_pCurl) != CURLM_OK) {
    curl_multi_cleanup(multi);
    return CURLE_FAILED_INIT;
  }
  CURLcode result = CURLE_FAILED_INIT;
  {
    // From here on, a Set of the stop flag interrupts the poll below at once.
    std::optional<CStopFlag::CWaking> waking;
    if (m_pStop) waking.emplace(*m_pStop, [multi] { curl_multi_wakeup(multi); });
    for (int running = 1;;) {
      if (m_pStop && *m_pStop) {
        m_cutShort = true;
        result = CURLE_ABORTED_BY_CALLBACK;
        break;
      }
      if (curl_multi_perform(multi, &running) != CURLM_OK) break;
      if (running == 0) {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left))
          if (message->msg == CURLMSG_DONE) result = message->data.result;
        break;
      }
      // The library shortens the wait to its own next deadline (the time-outs).
      if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) break;
    }
  }
  curl_multi_remove_handle(multi, m_pCurl);
  curl_multi_cleanup(multi);
  return result;
}

void CHttpClient::LearnCookies() {
  LearnSetCookieLines(std::string(m_pStore->HeaderText, static_cast<size_t>(m_pStore->HeaderLength)), m_CookieJar);
}
