#pragma once
#include <string>

struct SharedState;

// The relay service's host (host or host:port) that sign-in, sign-out, the relay upload and the cloud
// link use, and the host written in the relay upload's Host line.
// No relay is set until the user sets one: ServiceHost is then empty, and sign-in, sign-out and the
// relay upload send nothing. Both come from the running Marlix's configuration
// (SharedState::ConfiguredRelay, ConfiguredUploadHost). Safe from any thread.
std::string ServiceHost(const SharedState& state);
std::string UploadHost(const SharedState& state);
// True when a relay is set (ServiceHost not empty).
bool RelayConfigured(const SharedState& state);

// Splits "host" or "host:port" (port 80 when none is given). False when the port is not a number
// from 1 to 65535 or the host is empty.
bool SplitHostPort(const std::string& text, std::string& host, int& port);
