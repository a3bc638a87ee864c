#include "service/ServiceConfig.h"

#include <cstdlib>

#include "app/SharedState.h"

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : "";
}

}  // namespace

std::string ServiceHost(const SharedState& state) {
  const std::string fromEnvironment = Variable("MARLIX_SERVICE_HOST");
  return fromEnvironment.empty() ? state.ConfiguredRelay.Get() : fromEnvironment;
}

std::string UploadHost(const SharedState& state) {
  const std::string fromEnvironment = Variable("MARLIX_UPLOAD_HOST");
  return fromEnvironment.empty() ? ServiceHost(state) : fromEnvironment;
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
