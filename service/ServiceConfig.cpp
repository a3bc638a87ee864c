#include "service/ServiceConfig.h"

#include <cstdlib>

namespace {

std::string Setting(const char* variable) {
  const char* value = std::getenv(variable);
  return value && *value ? value : kDefaultServiceHost;
}

}  // namespace

std::string ServiceHost() { return Setting("MARLIX_SERVICE_HOST"); }
std::string UploadHost() { return Setting("MARLIX_UPLOAD_HOST"); }

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
