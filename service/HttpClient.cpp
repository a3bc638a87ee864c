#include "service/HttpClient.h"

#include <curl/curl.h>

#include <atomic>
#include <cstring>
#include <vector>

namespace {

std::atomic<bool> g_diagnostics{true};

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

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Strip(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

}  // namespace

void SetHttpClientDiagnostics(bool on) { g_diagnostics = on; }

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
      "Accept: */*",
      "Accept-Language: en",
      "Accept-Encoding: gzip, deflate",
      "User-Agent: Mozilla/5.0 (Windows NT 5.1; rv:21.0) Gecko/20100101 Firefox/21.0",
      "Content-Type: application/x-www-form-urlencoded",
      "Connection: Keep-Alive",
      "Keep-Alive: 300",
      "Cache-Control: no-cache",
  };
  for (const char* line : kFixed) m_pHeaderList = curl_slist_append(m_pHeaderList, line);
  // With an empty jar the line is "Cookie:" alone, which libcurl does not send.
  std::string cookie = "Cookie:";
  for (const auto& [name, value] : m_CookieJar) cookie += name + "=" + value + "; ";
  m_pHeaderList = curl_slist_append(m_pHeaderList, cookie.c_str());
}

int CHttpClient::Request(const char* address) {
  BuildHeaderList();
  m_pStore->Clear();

  m_pCurl = curl_easy_init();
  if (!m_pCurl) return CURLE_FAILED_INIT;
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
  curl_easy_setopt(m_pCurl, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(m_pCurl, CURLOPT_VERBOSE, g_diagnostics ? 1L : 0L);

  const CURLcode result = curl_easy_perform(m_pCurl);
  LearnCookies();
  long code = 0;
  curl_easy_getinfo(m_pCurl, CURLINFO_RESPONSE_CODE, &code);
  m_pStore->ResponseCode = static_cast<int>(code);
  curl_easy_cleanup(m_pCurl);
  m_pCurl = nullptr;
  return result;
}

void CHttpClient::LearnCookies() {
  const std::string text(m_pStore->HeaderText, static_cast<size_t>(m_pStore->HeaderLength));
  if (text.empty()) return;
  // One spelling is matched per response: the lower-case-led one wins when it occurs at all.
  const std::string word = text.find("set-Cookie") != std::string::npos ? "set-Cookie" : "Set-Cookie";

  std::vector<std::string> lines;
  for (size_t at = text.find(word); at != std::string::npos && lines.size() < kMaxCookieLines;
       at = text.find(word, at + word.size())) {
    const size_t start = at + word.size() + 1;  // skips the colon
    if (start > text.size()) continue;
    const size_t lf = text.find('\n', start);
    if (lf == std::string::npos) continue;
    std::string line = Strip(text.substr(start, lf + 1 - start));
    if (line.size() > kCookieLineSlot) line.resize(kCookieLineSlot);
    lines.push_back(std::move(line));
  }

  for (const std::string& line : lines) {
    size_t begin = 0;
    while (begin <= line.size()) {
      size_t end = line.find(';', begin);
      if (end == std::string::npos) end = line.size();
      const std::string piece = line.substr(begin, end - begin);
      begin = end + 1;
      const size_t eq = piece.find('=');
      if (eq == std::string::npos || eq == 0) continue;
      std::string name = piece.substr(0, eq);
      std::string value = piece.substr(eq + 1);
      if (name.size() > kCookiePartSlot) name.resize(kCookiePartSlot);
      if (value.size() > kCookiePartSlot) value.resize(kCookiePartSlot);
      m_CookieJar[name] = value;
    }
  }
}
