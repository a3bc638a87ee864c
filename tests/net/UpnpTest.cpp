// The router port opening against a real miniupnpd and, for what no real daemon does, a fake
// gateway; both inside network namespaces that the tests create. Discovery runs only there.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "UpnpLab.h"
#include "app/SharedState.h"
#include "net/PublicAddress.h"
#include "net/Upnp.h"
#include "net/WanSetup.h"
#include "support/RecordingMainDialog.h"
#include "support/TestEnv.h"
#include "web/WebService.h"

using marlix_test::CClientRun;
using marlix_test::CountOf;
using marlix_test::CUpnpLab;
using Gateway = CUpnpLab::Gateway;

namespace {

#define REQUIRE_LAB(kind)                                                         \
  do {                                                                            \
    const std::string why = CUpnpLab::WhyUnavailable(kind);                       \
    if (!why.empty()) GTEST_SKIP() << "UPnP test in network namespaces: " << why; \
  } while (0)

// The set-up as the program runs it, for a server on the given port: "ok ADDRESS", "failed ADDRESS"
// or "behind NAT ADDRESS".
std::string WanSetupOnPort(SharedState& state, const std::string& port) {
  state.PortText = port;
  const WanSetupResult result = RunWanSetup(state);
  return std::string(result == WanSetupResult::Mapped   ? "ok "
                     : result == WanSetupResult::Failed ? "failed "
                                                        : "behind NAT ") +
         state.ExternalAddress.Get();
}

std::string WanSetupOnPort(const std::string& port) {
  SharedState state;
  return WanSetupOnPort(state, port);
}

std::string Action(const std::string& name) { return "{\"action\": \"" + name + "\""; }

}  // namespace

TEST(UpnpProtocol, NormalisesTcpAndUdpOnly) {
  std::string canonical;
  EXPECT_TRUE(UpnpNormaliseProtocol("TCP", canonical));
  EXPECT_EQ(canonical, "TCP");
  EXPECT_TRUE(UpnpNormaliseProtocol("tCp", canonical));
  EXPECT_EQ(canonical, "TCP");
  EXPECT_TRUE(UpnpNormaliseProtocol("udp", canonical));
  EXPECT_EQ(canonical, "UDP");
  EXPECT_TRUE(UpnpNormaliseProtocol("Udp more", canonical));
  EXPECT_EQ(canonical, "UDP");
  canonical = "unchanged";
  for (const char* text : {"", "TC", "TCPX", "UDP\t", "ICM", "TDP", " TCP"}) {
    EXPECT_FALSE(UpnpNormaliseProtocol(text, canonical)) << text;
    EXPECT_EQ(canonical, "unchanged");
  }
}

TEST(UpnpGateway, CleanGatewayMapsTheServerPortAndForwards) {
  REQUIRE_LAB(Gateway::Miniupnpd);
  CUpnpLab lab(Gateway::Miniupnpd);
  ASSERT_EQ(lab.Error(), "");
  const std::string isp = lab.IspNs();
  const CClientRun run = lab.RunInClient([&] {
    // The real web service on the server port of the PC, then the set-up, then a phone on the
    // Internet side opening the mapped port of the router.
    marlix_test::WriteFile(lab.Work() + "/index.html", "upload page of this PC");
    CRecordingMainDialog dialog;
    SharedState state;
    state.Home = lab.Work();
    const std::string result = WanSetupOnPort(state, "8081");
    state.Events.Attach(&dialog);
    CWebService* server = StartWebService(state, "8081");
    if (!server) return std::string("no server");
    const std::string page =
        lab.Exec(isp, std::string("curl -s --max-time 5 http://") + CUpnpLab::kGatewayWanIp + ":8081/index.html");
    return result + "\n" + page;
  });
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.result, std::string("ok ") + CUpnpLab::kStunPublicIp + "\nupload page of this PC");
  const std::string leases = lab.Leases();
  EXPECT_EQ(CountOf(leases, "TCP:8081:192.168.77.2:8081:"), 1) << leases;
  EXPECT_EQ(CountOf(leases, ":Marlix\n"), 1) << leases;
  EXPECT_EQ(run.err, "");
}

TEST(UpnpGateway, EarlierMappingIsReplacedAndOthersStay) {
  REQUIRE_LAB(Gateway::Miniupnpd);
  CUpnpLab lab(Gateway::Miniupnpd);
  ASSERT_EQ(lab.Error(), "");
  // An earlier run's mapping first, then mappings of another host, of UDP and of another program.
  const std::string upnpc = "upnpc -u http://192.168.77.1:5000/rootDesc.xml ";
  for (const char* add : {"-e Marlix -a 192.168.77.2 8081 8081 TCP 0", "-e Marlix -a 192.168.77.3 9000 9000 TCP 0",
                          "-e Marlix -a 192.168.77.2 8081 8081 UDP 0", "-e Other -a 192.168.77.2 8085 8085 TCP 0"})
    lab.Exec(lab.ClientNs(), upnpc + add + " >/dev/null 2>&1");
  const std::string before = lab.Leases();
  ASSERT_EQ(CountOf(before, "\n"), 4) << before;
  ASSERT_EQ(before.rfind("TCP:8081:192.168.77.2:8081:", 0), 0u) << before;

  const CClientRun run = lab.RunInClient([] { return WanSetupOnPort("8081"); });
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.result, std::string("ok ") + CUpnpLab::kStunPublicIp);

  // The own mapping was deleted and added again (now last); the others are untouched.
  const std::string after = lab.Leases();
  EXPECT_EQ(CountOf(after, "\n"), 4) << after;
  EXPECT_EQ(CountOf(after, "TCP:9000:192.168.77.3:9000:"), 1) << after;
  EXPECT_EQ(CountOf(after, "UDP:8081:192.168.77.2:8081:"), 1) << after;
  EXPECT_EQ(CountOf(after, "TCP:8085:192.168.77.2:8085:"), 1) << after;
  const size_t own = after.find("TCP:8081:192.168.77.2:8081:");
  ASSERT_NE(own, std::string::npos) << after;
  EXPECT_EQ(after.find('\n', own), after.size() - 1) << "not re-added:\n" << after;
}

TEST(UpnpGateway, ServerOnAnotherPortIsMappedOnThatPort) {
  REQUIRE_LAB(Gateway::Miniupnpd);
  CUpnpLab lab(Gateway::Miniupnpd);
  ASSERT_EQ(lab.Error(), "");
  const CClientRun run = lab.RunInClient([] { return WanSetupOnPort("8090"); });
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.result, std::string("ok ") + CUpnpLab::kStunPublicIp);
  const std::string leases = lab.Leases();
  EXPECT_EQ(CountOf(leases, "TCP:8090:192.168.77.2:8090:"), 1) << leases;
  EXPECT_EQ(CountOf(leases, "8081"), 0) << leases;
}

TEST(UpnpGateway, NoGatewayFailsAfterTheDiscoveryWait) {
  REQUIRE_LAB(Gateway::None);
  CUpnpLab lab(Gateway::None);
  ASSERT_EQ(lab.Error(), "");
  const CClientRun run = lab.RunInClient([] {
    const auto start = std::chrono::steady_clock::now();
    const std::string result = WanSetupOnPort("8081");
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    return result + (ms >= 1900 ? " waited" : " returned early");
  });
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.result, "failed  waited");
  EXPECT_EQ(run.err,
            "No IGD UPnP Device found on the network !\ninvalid protocol\ninvalid protocol\ninvalid protocol\n");
  EXPECT_EQ(run.out, "GetExternalIPAddress failed.\nGetExternalIPAddress failed.\nGetExternalIPAddress failed.\n");
}

TEST(UpnpFakeGateway, RefusedMappingFailsAfterThreeAttempts) {
  REQUIRE_LAB(Gateway::Fake);
  CUpnpLab lab(Gateway::Fake, R"({"refuse_add": 718})");
  ASSERT_EQ(lab.Error(), "");
  const CClientRun run = lab.RunInClient([] { return WanSetupOnPort("8081"); });
  ASSERT_TRUE(run.exited) << run.err;
  // The address was learnt, but no address is handed out for a port that is not mapped.
  EXPECT_EQ(run.result, "failed ");
  const std::string calls = lab.Calls();
  EXPECT_EQ(CountOf(calls, Action("AddPortMapping")), 3) << calls;
  EXPECT_EQ(CountOf(calls, Action("GetSpecificPortMappingEntry")), 0) << calls;
}

TEST(UpnpFakeGateway, EmptyAddressAtFirstSucceedsAtTheSecondAttempt) {
  REQUIRE_LAB(Gateway::Fake);
  CUpnpLab lab(Gateway::Fake, R"({"empty_ip_after_listing": 1})");
  ASSERT_EQ(lab.Error(), "");
  const CClientRun run = lab.RunInClient([] { return WanSetupOnPort("8081"); });
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.result, std::string("ok ") + CUpnpLab::kFakePublicIp);
  EXPECT_EQ(run.out, "GetExternalIPAddress failed.\n");
  const std::string calls = lab.Calls();
  // An empty table: the listing stops at index 0 and nothing is deleted.
  EXPECT_EQ(CountOf(calls, Action("GetGenericPortMappingEntry")), 1) << calls;
  EXPECT_EQ(CountOf(calls, Action("DeletePortMapping")), 0) << calls;
  EXPECT_EQ(CountOf(calls, Action("GetSpecificPortMappingEntry")), 2) << calls;
  const std::string add =
      "{\"action\": \"AddPortMapping\", \"args\": {\"NewEnabled\": \"1\", \"NewExternalPort\": \"8081\", "
      "\"NewInternalClient\": \"192.168.77.2\", \"NewInternalPort\": \"8081\", \"NewLeaseDuration\": \"0\", "
      "\"NewPortMappingDescription\": \"Marlix\", \"NewProtocol\": \"TCP\", \"NewRemoteHost\": \"\"}}";
  EXPECT_EQ(CountOf(calls, add), 2) << calls;
}

TEST(UpnpFakeGateway, OnlyTheOwnTcpMappingOfTheServerPortIsDeleted) {
  REQUIRE_LAB(Gateway::Fake);
  CUpnpLab lab(Gateway::Fake, R"({"table": [
    {"port": "8081", "protocol": "ICMP", "client": "192.168.77.2", "description": "Marlix"},
    {"port": "8081", "protocol": "tcp", "client": "192.168.77.2", "description": "Marlix"},
    {"port": "8081", "protocol": "UDP", "client": "192.168.77.2", "description": "Marlix"},
    {"port": "8081", "protocol": "TCP", "client": "192.168.77.3", "description": "Marlix"},
    {"port": "8081", "protocol": "TCP", "client": "192.168.77.2", "description": "Other"},
    {"port": "8082", "protocol": "TCP", "client": "192.168.77.2", "description": "Marlix"}]})");
  ASSERT_EQ(lab.Error(), "");
  const CClientRun run = lab.RunInClient([] { return WanSetupOnPort("8081"); });
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.result, std::string("ok ") + CUpnpLab::kFakePublicIp);
  EXPECT_EQ(run.err, "protocol invalid\n");
  const std::string calls = lab.Calls();
  EXPECT_EQ(CountOf(calls, Action("GetGenericPortMappingEntry")), 7) << calls;
  EXPECT_EQ(CountOf(calls, Action("DeletePortMapping")), 1) << calls;
  EXPECT_EQ(CountOf(calls,
                    "{\"action\": \"DeletePortMapping\", \"args\": {\"NewExternalPort\": \"8081\", "
                    "\"NewProtocol\": \"TCP\", \"NewRemoteHost\": \"\"}}"),
            1)
      << calls;
}

TEST(UpnpFakeGateway, PublicAddressThatIsNotIpv4IsNotTaken) {
  REQUIRE_LAB(Gateway::Fake);
  // The address goes into the links that phones open; the mapping itself is accepted.
  CUpnpLab lab(Gateway::Fake, R"({"external_ip": "evil.example/x"})");
  ASSERT_EQ(lab.Error(), "");
  const CClientRun run = lab.RunInClient([] { return WanSetupOnPort("8081"); });
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.result, "failed ");
  EXPECT_EQ(run.out, "GetExternalIPAddress failed.\nGetExternalIPAddress failed.\nGetExternalIPAddress failed.\n");
  EXPECT_EQ(CountOf(lab.Calls(), Action("AddPortMapping")), 3);
}

TEST(PublicAddress, OnlyAddressesThatTheInternetReachesArePublic) {
  for (const char* address : {"198.51.100.7", "8.8.8.8", "100.63.255.255", "100.128.0.1", "172.15.0.1", "172.32.0.1",
                              "192.167.1.1", "169.253.0.1", "223.255.255.255", "1.0.0.0"})
    EXPECT_TRUE(IsPublicIpv4(address)) << address;
  for (const char* address :
       {"10.0.0.1", "172.16.0.1", "172.31.255.255", "192.168.1.1", "100.64.0.1", "100.127.255.254", "169.254.3.4",
        "127.0.0.1", "0.0.0.0", "224.0.0.1", "255.255.255.255", "", "1.2.3", "evil.example"})
    EXPECT_FALSE(IsPublicIpv4(address)) << address;
}

TEST(UpnpFakeGateway, RouterBehindACarrierNatKeepsNoMappingAndGivesNoAddress) {
  REQUIRE_LAB(Gateway::Fake);
  // As many routers' firmware does, the gateway maps the port though its own address is shared.
  CUpnpLab lab(Gateway::Fake, R"({"external_ip": "100.64.3.4"})");
  ASSERT_EQ(lab.Error(), "");
  const CClientRun run = lab.RunInClient([] { return WanSetupOnPort("8081"); });
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.result, "behind NAT ");
  // One mapping made (not retried), then removed again: the delete comes after the add.
  const std::string calls = lab.Calls();
  EXPECT_EQ(CountOf(calls, Action("AddPortMapping")), 1) << calls;
  ASSERT_EQ(CountOf(calls, Action("DeletePortMapping")), 1) << calls;
  EXPECT_GT(calls.find(Action("DeletePortMapping")), calls.find(Action("AddPortMapping"))) << calls;
  EXPECT_EQ(WanSetupFailureEvent(WanSetupResult::BehindNat), ViewEventId::WanBehindNat);
}

TEST(UpnpGateway, MiniupnpdOnAPrivateWanAddressIsSaidToSitBehindAnotherNat) {
  REQUIRE_LAB(Gateway::MiniupnpdPrivateWan);
  CUpnpLab lab(Gateway::MiniupnpdPrivateWan);
  ASSERT_EQ(lab.Error(), "");
  const CClientRun run = lab.RunInClient([] { return WanSetupOnPort("8081"); });
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.result, "behind NAT ");  // it answers 501 and names no external address
  EXPECT_EQ(lab.Leases(), "");
}

TEST(UpnpGateway, TheMappingOfThisRunGoesAtShutdownWithoutANewDiscovery) {
  REQUIRE_LAB(Gateway::Miniupnpd);
  CUpnpLab lab(Gateway::Miniupnpd);
  ASSERT_EQ(lab.Error(), "");
  const CClientRun run = lab.RunInClient([&] {
    SharedState state;
    const std::string result = WanSetupOnPort(state, "8081");
    const std::string leases = marlix_test::ReadFile(lab.Dir() + "/leases");
    const auto start = std::chrono::steady_clock::now();
    RemoveWanMapping(state);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result + "\n" + std::to_string(CountOf(leases, "TCP:8081:")) + " " + (seconds < 1.5 ? "fast" : "slow");
  });
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.result, std::string("ok ") + CUpnpLab::kStunPublicIp + "\n1 fast");
  EXPECT_EQ(CountOf(lab.Leases(), "TCP:8081:"), 0) << lab.Leases();
}
