#include "app/MarlixConfig.h"

#include "app/WorkingDirectory.h"

CMarlixConfig MakeConfig(const CEnvironment& variable, const CKeptSettings& kept) {
  CMarlixConfig config;
  config.Home = variable("MARLIX_HOME");
  config.HomeFromEnvironment = !config.Home.empty();
  if (config.Home.empty()) config.Home = kept.Home;
  if (config.Home.empty()) config.Home = DefaultHomeDirectory(variable("HOME"));
  config.DataDir = variable("MARLIX_DATA_DIR");
  if (config.DataDir.empty()) config.DataDir = FindDataDirectory();
  config.Relay = variable("MARLIX_SERVICE_HOST");
  config.RelayFromEnvironment = !config.Relay.empty();
  if (config.Relay.empty()) config.Relay = kept.Relay;
  config.UploadHost = variable("MARLIX_UPLOAD_HOST");
  config.TrustedCertificateFile = variable("SSL_CERT_FILE");
  config.TrustedCertificateFolder = variable("SSL_CERT_DIR");
  return config;
}
