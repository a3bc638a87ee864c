// The local address: the selection rule over adapter lists, and the discovery on this machine.

#include <gtest/gtest.h>

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
  g_State.Reset();
  g_State.LocalAddress.Set("old");
  const std::string expected = ChooseLocalAddress(ListAdapterAddresses());
  DiscoverLocalAddress();
  EXPECT_EQ(g_State.LocalAddress.Get(), expected.empty() ? "old" : expected);
  g_State.Reset();
}
