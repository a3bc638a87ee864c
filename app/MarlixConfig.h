#pragma once
// The choices a running Marlix is made with: made once at start by the front end, from what the
// user kept in its settings and from the environment, and given to the core (CMarlix). The core reads
// no environment itself: the front end hands over the variables' values (CEnvironment).

#include <functional>
#include <string>

// A variable of the front end's environment by name; empty when it is not set.
using CEnvironment = std::function<std::string(const char* name)>;

// What the window keeps in its settings (the terminal keeps none).
struct CKeptSettings {
  std::string Home{};   // the working directory chosen in the window; empty for the default
  std::string Relay{};  // the relay, host or host:port; empty for none
};

struct CMarlixConfig {
  // The working directory: MARLIX_HOME, else the kept one, else ~/Marlix (HOME, else the password
  // database). Empty when none is known.
  std::string Home{};
  bool HomeFromEnvironment = false;  // MARLIX_HOME chose it: it wins over the kept one while set
  // Where the page files come from: MARLIX_DATA_DIR, else "data" beside the program (the build tree),
  // else "../share/marlix" beside it (an installed program). Empty when none is found.
  std::string DataDir{};
  // The relay (host or host:port) for sign-in, sign-out, uploads and links: MARLIX_SERVICE_HOST,
  // else the kept one; empty for none.
  std::string Relay{};
  bool RelayFromEnvironment = false;
  // The host written in the relay upload's Host line: MARLIX_UPLOAD_HOST, else the relay's.
  std::string UploadHost{};
  // libcurl's verbose trace of the relay sign-in and sign-out on the error stream.
  bool HttpDiagnostics = true;
  // The certificates that an https:// relay's must chain to: SSL_CERT_FILE and SSL_CERT_DIR, as for
  // other programs (libcurl reads neither itself); both empty for the system's store.
  std::string TrustedCertificateFile{};
  std::string TrustedCertificateFolder{};
};

CMarlixConfig MakeConfig(const CEnvironment& variable, const CKeptSettings& kept = {});
