#include "service/ServiceConfig.h"

#include <arpa/inet.h>

#include <cstring>

#include "app/SharedState.h"
#include "service/HttpClient.h"

std::string ServiceHost(const SharedState& state) { return state.ConfiguredRelay.Get(); }

std::string UploadHost(const SharedState& state) {
  const std::string configured = state.ConfiguredUploadHost.Get();
  return RelayHostOf(configured.empty() ? ServiceHost(state) : configured);
}

std::string RelayBase(const SharedState& state) {
  std::string base = ServiceHost(state);
  if (base.empty()) return base;
  if (base.rfind("https://", 0) != 0 && base.rfind("http://", 0) != 0) base = "http://" + base;
  while (base.back() == '/') base.pop_back();
  return base;
}

std::string RelayHostOf(const std::string& setting) {
  size_t start = setting.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  return setting.substr(start, setting.find('/', start) - start);
}

bool IsNearAddress(const std::string& address) {
  std::string host = address;
  if (!host.empty() && host[0] == '[') host = host.substr(1, host.find(']') - 1);
  if (host == "localhost") return true;
  unsigned char a[16];
  if (::inet_pton(AF_INET, host.c_str(), a) == 1)
    return a[0] == 127 || a[0] == 10 || (a[0] == 172 && (a[1] & 0xF0) == 16) || (a[0] == 192 && a[1] == 168) ||
           (a[0] == 169 && a[1] == 254) || (a[0] == 100 && (a[1] & 0xC0) == 64);
  if (::inet_pton(AF_INET6, host.c_str(), a) == 1) {
    static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const bool mapped = std::memcmp(a, "\0\0\0\0\0\0\0\0\0\0\xff\xff", 12) == 0;
    if (mapped)
      return IsNearAddress(std::to_string(a[12]) + "." + std::to_string(a[13]) + "." + std::to_string(a[14]) + "." +
                           std::to_string(a[15]));
    return std::memcmp(a, loopback, 16) == 0 || (a[0] & 0xFE) == 0xFC || (a[0] == 0xFE && (a[1] & 0xC0) == 0x80);
  }
  return false;
}

void UseRelaySettings(CHttpClient& client, const SharedState& state) {
  client.SetDiagnostics(state.HttpDiagnostics);
  client.SetTrustedCertificates(state.TrustedCertificateFile, state.TrustedCertificateFolder);
}

bool RelayConfigured(const SharedState& state) { return !ServiceHost(state).empty(); }

bool SplitHostPort(const std::string& text, std::string& host, int& port) {
  const size_t colon = text.rfind(':');
  host = text.substr(0, colon);
  port = 80;
  if (colon != std::string::npos) {
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    port = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return false;
  }
  return !host.empty();
}
