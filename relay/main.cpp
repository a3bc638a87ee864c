// marlix-relay: the relay service of Marlix's cloud mode.
//   marlix-relay [--listen ADDR] [--storage DIR] [--release N] [--max-body BYTES] [--max-storage BYTES]
//                [--max-per-client BYTES] [--expiry SECONDS] [--cert FILE --key FILE]
//                [--public-url URL] [--trust-proxy ADDRESS]...
//   marlix-relay --help | --version
// Serves until SIGINT or SIGTERM; SIGHUP reads the certificate files again. Exit 2 for a wrong
// command line or certificate, 1 when it cannot serve.

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/StopSignalWaiter.h"
#include "relay/RelayServer.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: marlix-relay [--listen [ADDRESS:]PORT] [--storage DIR] [--release N]\n"
               "                    [--max-body BYTES] [--max-storage BYTES] [--max-per-client BYTES]\n"
               "                    [--expiry SECONDS] [--cert FILE --key FILE] [--public-url URL]\n"
               "                    [--trust-proxy ADDRESS]...\n"
               "defaults: --listen 127.0.0.1:8200 --storage relay-files --release %s\n"
               "          --max-body 1073741824 --max-storage: 10 GiB or a tenth of the disk, the smaller\n"
               "          (0: no limit) --max-per-client 1073741824 --expiry 600\n",
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
  bool storageLimitGiven = false;
  std::string certFile, keyFile;
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
      storageLimitGiven = true;
    } else if (arg == "--max-per-client" && ParseNumber(value, number)) {
      options.MaxPerClient = static_cast<uint64_t>(number);
    } else if (arg == "--cert") {
      certFile = value;
    } else if (arg == "--key") {
      keyFile = value;
    } else if (arg == "--public-url" &&
               (std::strncmp(value, "https://", 8) == 0 || std::strncmp(value, "http://", 7) == 0)) {
      options.PublicUrl = value;
    } else if (arg == "--trust-proxy") {
      options.TrustedProxies.push_back(value);
    } else if (arg == "--expiry" && ParseNumber(value, number)) {
      options.ExpiryMs = static_cast<int64_t>(number * 1000);
    } else {
      return Usage();
    }
  }

  if (certFile.empty() != keyFile.empty()) return Usage();
  if (!certFile.empty()) {
    std::string error;
    options.Tls = CTlsCredentials::Load(certFile, keyFile, error);
    if (!options.Tls) {
      std::fprintf(stderr, "marlix-relay: %s\n", error.c_str());
      return 2;
    }
  }
  if (!storageLimitGiven) options.MaxStorage = CRelayServer::DefaultMaxStorage(options.Storage);

  CRelayServer server;
  // SIGHUP reads the certificate files again; SIGINT and SIGTERM stop.
  CStopSignalWaiter signals([&server] { server.ReloadCertificate(); });
  if (!server.Start(options)) return 1;
  signals.Wait();
  server.Stop();
  return 0;
}
