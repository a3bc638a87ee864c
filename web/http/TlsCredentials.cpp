#include "web/http/TlsCredentials.h"

#include <gnutls/abstract.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <microhttpd.h>

#include <cstdint>
#include <fstream>
#include <sstream>

namespace {

// TLS 1.2 and 1.3 only, with GnuTLS's usual ciphers for them.
const char kPriorities[] = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";
constexpr unsigned kMaxChain = 16;

bool ReadFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  out = text.str();
  return in.good() || in.eof();
}

gnutls_datum_t Datum(std::string& text) {
  return {reinterpret_cast<unsigned char*>(text.data()), static_cast<unsigned>(text.size())};
}

// The public key's id of a certificate and of a private key, to tell that they belong together.
std::string KeyId(gnutls_pubkey_t key) {
  unsigned char id[64];
  size_t size = sizeof id;
  if (gnutls_pubkey_get_key_id(key, GNUTLS_KEYID_USE_SHA256, id, &size) != 0) return {};
  return std::string(reinterpret_cast<char*>(id), size);
}

}  // namespace

struct CTlsCredentials::Pair {
  gnutls_pcert_st chain[kMaxChain];
  unsigned length = 0;
  gnutls_privkey_t key = nullptr;

  ~Pair() {
    for (unsigned i = 0; i < length; ++i) gnutls_pcert_deinit(&chain[i]);
    if (key) gnutls_privkey_deinit(key);
  }

  // Empty on success, else what is wrong and with which file.
  std::string Read(const std::string& certFile, const std::string& keyFile) {
    std::string certText, keyText;
    if (!ReadFile(certFile, certText)) return "cannot read the certificate file " + certFile;
    if (!ReadFile(keyFile, keyText)) return "cannot read the key file " + keyFile;
    gnutls_datum_t cert = Datum(certText), keyData = Datum(keyText);
    unsigned count = kMaxChain;
    if (gnutls_pcert_list_import_x509_raw(chain, &count, &cert, GNUTLS_X509_FMT_PEM, 0) < 0 || count == 0)
      return "no PEM certificate in " + certFile;
    length = count;
    if (gnutls_privkey_init(&key) < 0 ||
        gnutls_privkey_import_x509_raw(key, &keyData, GNUTLS_X509_FMT_PEM, nullptr, 0) < 0)
      return "no PEM private key (unencrypted) in " + keyFile;
    gnutls_pubkey_t fromKey = nullptr;
    std::string keyId;
    if (gnutls_pubkey_init(&fromKey) == 0) {
      if (gnutls_pubkey_import_privkey(fromKey, key, 0, 0) == 0) keyId = KeyId(fromKey);
      gnutls_pubkey_deinit(fromKey);
    }
    if (keyId.empty() || keyId != KeyId(chain[0].pubkey))
      return "the key in " + keyFile + " is not the key of the certificate in " + certFile;
    return {};
  }
};

std::shared_ptr<CTlsCredentials> CTlsCredentials::Load(const std::string& certFile, const std::string& keyFile,
                                                       std::string& error) {
  std::shared_ptr<CTlsCredentials> tls(new CTlsCredentials(certFile, keyFile));
  if (!tls->Reload(error)) return nullptr;
  return tls;
}

CTlsCredentials::CTlsCredentials(std::string certFile, std::string keyFile)
    : m_certFile(std::move(certFile)), m_keyFile(std::move(keyFile)) {}

CTlsCredentials::~CTlsCredentials() = default;

bool CTlsCredentials::Reload(std::string& error) {
  auto pair = std::make_unique<Pair>();
  error = pair->Read(m_certFile, m_keyFile);
  if (!error.empty()) return false;
  std::lock_guard<std::mutex> hold(m_lock);
  m_pairs.push_back(std::move(pair));
  return true;
}

const CTlsCredentials::Pair* CTlsCredentials::Current() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_pairs.empty() ? nullptr : m_pairs.back().get();
}

namespace {

// GnuTLS asks for the certificate during a handshake, on the connection's thread. The library set
// the session's pointer to its connection, whose socket context is the server's CTlsConnection.
int RetrieveCertificate(gnutls_session_t session, const gnutls_datum_t*, int, const gnutls_pk_algorithm_t*, int,
                        gnutls_pcert_st** chain, unsigned* length, gnutls_privkey_t* key) {
  auto* conn = static_cast<MHD_Connection*>(gnutls_session_get_ptr(session));
  const MHD_ConnectionInfo* info = conn ? MHD_get_connection_info(conn, MHD_CONNECTION_INFO_SOCKET_CONTEXT) : nullptr;
  const auto* state = info ? static_cast<const CTlsConnection*>(info->socket_context) : nullptr;
  CTlsCredentials* tls = state ? state->credentials : nullptr;
  const CTlsCredentials::Pair* pair = tls ? tls->Current() : nullptr;
  if (!pair) return -1;
  *chain = const_cast<gnutls_pcert_st*>(pair->chain);
  *length = pair->length;
  *key = pair->key;
  return 0;
}

}  // namespace

std::vector<MHD_OptionItem> TlsDaemonOptions(const CTlsCredentials* tls) {
  std::vector<MHD_OptionItem> items;
  if (tls) {
    items.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kPriorities)});
    items.push_back({MHD_OPTION_HTTPS_CERT_CALLBACK, 0, reinterpret_cast<void*>(&RetrieveCertificate)});
  }
  items.push_back({MHD_OPTION_END, 0, nullptr});
  return items;
}
