#pragma once
#include <string>

// The relay service's host (host or host:port) that sign-in, sign-out, the relay upload and the cloud
// link use, and the host written in the relay upload's Host line.
std::string ServiceHost();
std::string UploadHost();
