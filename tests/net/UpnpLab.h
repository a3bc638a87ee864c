#pragma once
// A home network in network namespaces for the UPnP tests (tests/net/upnp_lab.py): the PC (client),
// the router (miniupnpd, the fake gateway, or nothing) and the "ISP" side. Torn down in the destructor.

#include <functional>
#include <string>

namespace marlix_test {

struct CClientRun {
  bool exited = false;  // the child ended normally with status 0
  std::string result;   // what the function returned
  std::string out;      // its standard output
  std::string err;      // its standard error
};

class CUpnpLab {
 public:
  // MiniupnpdPrivateWan: miniupnpd without STUN, seeing only its private WAN address.
  enum class Gateway { None, Miniupnpd, MiniupnpdPrivateWan, Fake };

  static constexpr const char* kClientIp = "192.168.77.2";
  static constexpr const char* kGatewayWanIp = "10.77.0.1";
  static constexpr const char* kStunPublicIp = "198.51.100.7";
  static constexpr const char* kFakePublicIp = "198.51.100.9";

  // Empty when the lab can run on this machine, else the reason it cannot (for GTEST_SKIP).
  static std::string WhyUnavailable(Gateway gateway);

  // Builds the namespaces and starts the gateway; scenario is the fake gateway's JSON.
  explicit CUpnpLab(Gateway gateway, const std::string& scenario = "{}");
  ~CUpnpLab();
  CUpnpLab(const CUpnpLab&) = delete;
  CUpnpLab& operator=(const CUpnpLab&) = delete;

  const std::string& Error() const { return m_error; }  // empty when the lab is up
  std::string ClientNs() const { return m_prefix + "-c"; }
  std::string IspNs() const { return m_prefix + "-i"; }
  const std::string& Dir() const { return m_dir; }

  // The client's folder: MARLIX_HOME of what runs in the client; its files are named as Work() + "/x".
  std::string Work() const { return m_dir + "/client-work"; }

  // Runs fn in a child process inside the client namespace, with Work() made afresh.
  CClientRun RunInClient(const std::function<std::string()>& fn) const;

  // Runs a shell command inside a namespace and returns its standard output.
  std::string Exec(const std::string& ns, const std::string& command) const;

  // What the gateway holds or did: miniupnpd's lease file, the fake's recorded SOAP calls.
  std::string Leases() const;
  std::string Calls() const;

 private:
  std::string m_prefix;
  std::string m_dir;
  std::string m_error;
};

// How often the text occurs in the haystack.
int CountOf(const std::string& haystack, const std::string& needle);

}  // namespace marlix_test
