// marlix-relay: the relay service of Marlix's cloud mode.
//   marlix-relay [--listen ADDR] [--storage DIR] [--release N] [--max-body BYTES] [--max-storage BYTES]
//                [--expiry SECONDS]
//   marlix-relay --help | --version
// Serves until SIGINT or SIGTERM.

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/StopSignalWaiter.h"
#include "relay/RelayServer.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: marlix-relay [--listen [ADDRESS:]PORT] [--storage DIR] [--release N]\n"
               "                    [--max-body BYTES] [--max-storage BYTES] [--expiry SECONDS]\n"
               "defaults: --listen 127.0.0.1:8200 --storage relay-files --release %s\n"
               "          --max-body 1073741824 --max-storage 0 (no limit) --expiry 600\n",
               MARLIX_VERSION);
  return 2;
}

bool ParseNumber(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return *text && !*end && value >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  RelayOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return Usage(), 0;
    if (arg == "--version") return std::printf("marlix-relay %s\n", MARLIX_VERSION), 0;
    if (i + 1 >= argc) return Usage();
    const char* value = argv[++i];
    double number = 0;
    if (arg == "--listen") {
      options.Listen = value;
    } else if (arg == "--storage") {
      options.Storage = value;
    } else if (arg == "--release") {
      options.Release = value;
    } else if (arg == "--max-body" && ParseNumber(value, number)) {
      options.MaxBody = static_cast<uint64_t>(number);
    } else if (arg == "--max-storage" && ParseNumber(value, number)) {
      options.MaxStorage = static_cast<uint64_t>(number);
    } else if (arg == "--expiry" && ParseNumber(value, number)) {
      options.ExpiryMs = static_cast<int64_t>(number * 1000);
    } else {
      return Usage();
    }
  }

  CStopSignalWaiter signals;

  CRelayServer server;
  if (!server.Start(options)) return 1;
  signals.Wait();
  server.Stop();
  return 0;
}
