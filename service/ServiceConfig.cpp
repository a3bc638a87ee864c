#include "service/ServiceConfig.h"

#include "app/SharedState.h"

std::string ServiceHost(const SharedState& state) { return state.ConfiguredRelay.Get(); }

std::string UploadHost(const SharedState& state) {
  const std::string configured = state.ConfiguredUploadHost.Get();
  return configured.empty() ? ServiceHost(state) : configured;
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
