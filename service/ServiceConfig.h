#pragma once
#include <string>

// The relay service's host (host or host:port) that sign-in, sign-out, the relay upload and the cloud
// link use, and the host written in the relay upload's Host line.
// No relay is set until the user sets one: ServiceHost is then empty, and sign-in, sign-out and the
// relay upload send nothing. MARLIX_SERVICE_HOST (and MARLIX_UPLOAD_HOST for the Host line) override
// the relay that the window's settings gave (SetConfiguredRelay). Safe from any thread.
std::string ServiceHost();
std::string UploadHost();
// True when a relay is set (ServiceHost not empty).
bool RelayConfigured();
// The relay address from the window's settings ("" for none); applies from the next request on.
void SetConfiguredRelay(const std::string& hostAndPort);

// Splits "host" or "host:port" (port 80 when none is given). False when the port is not a number
// from 1 to 65535 or the host is empty.
bool SplitHostPort(const std::string& text, std::string& host, int& port);
