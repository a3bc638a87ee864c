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
// The relay's address as the setting names it: "https://HOST[:PORT]" and "http://HOST[:PORT]" as
// they are, a bare "HOST[:PORT]" as "http://HOST[:PORT]"; no '/' at the end. Empty when none is set.
std::string RelayBase(const SharedState& state);
// The host (and port) of a relay setting or address, without its scheme or path.
std::string RelayHostOf(const std::string& setting);
// True when the address is a loopback or private one (IPv4 or IPv6 literal, or "localhost"): an
// http:// relay there does not send the file across the Internet.
bool IsNearAddress(const std::string& address);
// Gives a client for the relay the state's settings: its diagnostics and the certificates that the
// relay's must chain to.
class CHttpClient;
void UseRelaySettings(CHttpClient& client, const SharedState& state);

// True when a relay is set (ServiceHost not empty).
bool RelayConfigured(const SharedState& state);

// Splits "host" or "host:port" (port 80 when none is given). False when the port is not a number
// from 1 to 65535 or the host is empty.
bool SplitHostPort(const std::string& text, std::string& host, int& port);
