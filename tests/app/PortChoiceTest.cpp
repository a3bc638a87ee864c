// The port choice. Other programs may hold any of 8081 to 8091 at the same moment, so the tests hold
// ports themselves and never assume which of them are free.

#include <gtest/gtest.h>

#include "app/PortChoice.h"
#include "support/PortHolder.h"

using namespace marlix_test;

TEST(PortChoice, PortHeldOnLoopbackOrOnAnyAddressIsTaken) {
  // Ephemeral ports below the fixed range: pick ones this test can hold.
  CPortHolder holder;
  int loopbackPort = 0, anyPort = 0;
  for (int port = 20000; port < 20200 && !anyPort; ++port) {
    if (!loopbackPort) {
      if (holder.Hold(port)) loopbackPort = port;
    } else if (holder.Hold(port, true)) {
      anyPort = port;
    }
  }
  ASSERT_NE(anyPort, 0);
  EXPECT_FALSE(ProbePort(loopbackPort));
  EXPECT_FALSE(ProbePort(anyPort));
}

TEST(PortChoice, ProbeLeavesTheFreePortFree) {
  int port = 20300;
  {
    CPortHolder briefly;
    while (!briefly.Hold(port)) ++port;
  }
  EXPECT_TRUE(ProbePort(port));
  EXPECT_TRUE(ProbePort(port));  // the probe closed its socket
  CPortHolder holder;
  EXPECT_TRUE(holder.Hold(port));
}

TEST(PortChoice, ChoosesTheFirstFreePortOfTheRangeAndSkipsHeldOnes) {
  const std::string first = ChooseServerPort();
  if (first.empty()) GTEST_SKIP() << "all of 8081 to 8091 are held by other programs";
  const int port = std::stoi(first);
  EXPECT_GE(port, 8081);
  EXPECT_LE(port, 8091);
  EXPECT_EQ(first, std::to_string(port));

  CPortHolder holder;
  if (!holder.Hold(port)) GTEST_SKIP() << "another program took " << port << " meanwhile";
  const std::string next = ChooseServerPort();
  EXPECT_NE(next, first);
  if (!next.empty()) {
    EXPECT_GE(std::stoi(next), 8081);
    EXPECT_LE(std::stoi(next), 8091);
  }
}

TEST(PortChoice, NoPortWhenAllElevenAreHeld) {
  // Another program may free a port of the range at any moment: hold again until none is left.
  CPortHolder holder;
  std::string chosen = "unset";
  for (int attempt = 0; attempt < 20 && !chosen.empty(); ++attempt) {
    holder.HoldAllServerPorts();
    chosen = ChooseServerPort();
  }
  EXPECT_EQ(chosen, "");
  for (int port = 8081; port <= 8091; ++port) EXPECT_FALSE(ProbePort(port)) << port;
  EXPECT_STREQ(kNoPortMessage, "无端口可用，程序无法运行！！！");
}
