#pragma once
#include <string>

// The relay service's host (host or host:port) that sign-in, sign-out, the relay upload and the cloud
// link use, and the host written in the relay upload's Host line.
// Both default to kDefaultServiceHost, where marlix-relay listens by default, so that nothing leaves
// the machine until a relay is configured; MARLIX_SERVICE_HOST and MARLIX_UPLOAD_HOST set them.
std::string ServiceHost();
std::string UploadHost();

inline constexpr const char* kDefaultServiceHost = "127.0.0.1:8200";

// Splits "host" or "host:port" (port 80 when none is given). False when the port is not a number
// from 1 to 65535 or the host is empty.
bool SplitHostPort(const std::string& text, std::string& host, int& port);
