// The local address: the selection rule over adapter lists, the discovery on this machine, and the
// discovery among interfaces built in a network namespace of the test's own.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <set>

#include "app/SharedState.h"
#include "net/LocalAddress.h"

TEST(LocalAddress, FirstAssignedAdapterInTheSystemsOrderWins) {
  EXPECT_EQ(ChooseLocalAddress({{"eth0", "0.0.0.0"}, {"wlan0", "192.168.1.5"}}), "192.168.1.5");
  EXPECT_EQ(ChooseLocalAddress({{"wlan0", "10.0.0.7"}, {"eth0", "192.168.1.5"}}), "10.0.0.7");
  EXPECT_EQ(ChooseLocalAddress({{"lo", "127.0.0.1", true}, {"eth0", "192.168.1.5"}}), "192.168.1.5");
  EXPECT_EQ(ChooseLocalAddress({{"x", "0.1.2.3"}, {"y", "bad"}, {"z", "172.16.0.1"}}), "172.16.0.1");
  EXPECT_EQ(ChooseLocalAddress({{"lo", "127.0.0.1", true}, {"eth0", "0.0.0.0"}}), "");
  EXPECT_EQ(ChooseLocalAddress({}), "");
}

TEST(LocalAddress, VirtualAndLinkLocalAdaptersArePassedOverWhenABetterOneExists) {
  EXPECT_EQ(ChooseLocalAddress({{"docker0", "172.17.0.1"},
                                {"br-1f2e", "172.18.0.1"},
                                {"virbr0", "192.168.122.1"},
                                {"vethab12", "10.200.0.1"},
                                {"vboxnet0", "192.168.56.1"},
                                {"vmnet8", "172.16.5.1"},
                                {"tun0", "10.8.0.2"},
                                {"tap0", "10.9.0.2"},
                                {"eth0", "169.254.10.20"},
                                {"wlp2s0", "192.168.1.23"},
                                {"eth1", "10.0.0.9"}}),
            "192.168.1.23");
  // Only such adapters: the first assigned one all the same.
  EXPECT_EQ(ChooseLocalAddress({{"lo", "127.0.0.1", true}, {"eth0", "169.254.1.2"}, {"docker0", "172.17.0.1"}}),
            "169.254.1.2");
  EXPECT_FALSE(IsVirtualInterface("eth0"));
  EXPECT_FALSE(IsVirtualInterface("bridge0"));  // "br-" is Docker's network bridges, not every bridge
  EXPECT_TRUE(IsVirtualInterface("br-x"));
}

namespace {

// Runs `build` (shell commands) and then `probe` in a child process with a network namespace of its
// own, which ends with the child; returns what the probe wrote, or "SKIP" without the rights.
std::string InNewNetworkNamespace(const std::string& build, const std::function<std::string()>& probe) {
  int out[2];
  if (::pipe(out) != 0) return "SKIP";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(out[0]);
    std::string result = "SKIP";
    if (::unshare(CLONE_NEWNET) == 0) result = std::system(build.c_str()) == 0 ? probe() : "BUILD FAILED";
    (void)!::write(out[1], result.data(), result.size());
    ::_exit(0);
  }
  ::close(out[1]);
  std::string result;
  char buffer[512];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) result.append(buffer, static_cast<size_t>(n));
  ::close(out[0]);
  ::waitpid(pid, nullptr, 0);
  return result;
}

std::string Listed(const std::vector<AdapterAddress>& list) {
  std::string text;
  for (const AdapterAddress& a : list) text += a.name + "=" + a.address + " ";
  return text;
}

}  // namespace

TEST(LocalAddress, DiscoveryInANamespaceTakesTheRealAdapterAndKeepsTheChoiceWhileItExists) {
  // Links in the order a machine with Docker lists them: bridges first, then a virtual pair with a
  // link-local address, then the adapter a phone reaches (a veth named like Ethernet).
  const std::string build =
      "set -e; exec >/dev/null 2>&1; ip link set lo up;"
      "ip link add docker0 type bridge; ip addr add 172.17.0.1/16 dev docker0;"
      "ip link add br-x type bridge; ip addr add 172.18.0.1/16 dev br-x;"
      "ip link add vethq1 type veth peer name vethq2; ip addr add 169.254.7.7/16 dev vethq1;"
      "ip link add enp3s0 type veth peer name peer0; ip addr add 192.168.77.5/24 dev enp3s0;"
      "ip addr add 10.77.0.5/24 dev enp3s0";
  const std::string seen = InNewNetworkNamespace(build, [] {
    std::string r = ChooseLocalAddress(ListAdapterAddresses()) + "|" + Listed(ListLocalAddresses()) + "|";
    SharedState state;
    state.ChosenAddress.Set("10.77.0.5");
    DiscoverLocalAddress(state);
    r += state.LocalAddress.Get() + "|";
    state.ChosenAddress.Set("10.66.0.1");  // kept from a run on another network
    DiscoverLocalAddress(state);
    r += state.LocalAddress.Get() + "|";
    std::system("ip link del enp3s0 >/dev/null 2>&1");
    r += ChooseLocalAddress(ListAdapterAddresses());
    return r;
  });
  if (seen == "SKIP") GTEST_SKIP() << "no rights to make a network namespace";
  // The choice list ends with the IPv6 addresses (none link-local); the pick stays IPv4.
  EXPECT_EQ(seen,
            "192.168.77.5|lo=127.0.0.1 docker0=172.17.0.1 br-x=172.18.0.1 vethq1=169.254.7.7 enp3s0=192.168.77.5 "
            "enp3s0=10.77.0.5 lo=::1 |10.77.0.5|192.168.77.5|172.17.0.1");
}

TEST(LocalAddress, AdapterListHoldsEachAdapterOnceWithItsFirstIPv4Address) {
  const std::vector<AdapterAddress> adapters = ListAdapterAddresses();
  std::set<std::string> names;
  bool loopbackSeen = false;
  for (const AdapterAddress& adapter : adapters) {
    EXPECT_TRUE(names.insert(adapter.name).second) << adapter.name;
    EXPECT_EQ(adapter.name.find(':'), std::string::npos);
    if (adapter.loopback) {
      loopbackSeen = true;
      EXPECT_EQ(adapter.address.rfind("127.", 0), 0u) << adapter.address;
    }
  }
  EXPECT_TRUE(loopbackSeen);
}

TEST(LocalAddress, DiscoveryPublishesTheChoiceOrLeavesTheOldValue) {
  SharedState state;
  state.LocalAddress.Set("old");
  const std::string expected = ChooseLocalAddress(ListAdapterAddresses());
  DiscoverLocalAddress(state);
  EXPECT_EQ(state.LocalAddress.Get(), expected.empty() ? "old" : expected);
}
