// The port choice. Other programs may hold any of 8081 to 8091 at the same moment, so the tests hold
// ports themselves, pass the choice a range they hold, and never assume which ports are free.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

TEST(PortChoice, PortWhoseLastConnectionsLingerInTimeWaitIsFree) {
  // A server that closed its connections first leaves them in TIME_WAIT on its port for a minute;
  // the next run must still be able to take that port.
  int port = 20400;
  const int server = ::socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (;; ++port) {
    ASSERT_LT(port, 20600);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) break;
  }
  ASSERT_EQ(::listen(server, 1), 0);
  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const int accepted = ::accept(server, nullptr, nullptr);
  ASSERT_GE(accepted, 0);
  ::close(accepted);  // the server side closes first: its end goes to TIME_WAIT
  char byte;
  EXPECT_EQ(::read(client, &byte, 1), 0);
  ::close(client);
  EXPECT_FALSE(ProbePort(port));  // still listening
  ::close(server);
  EXPECT_TRUE(ProbePort(port));
}

TEST(PortChoice, ChoosesTheFirstFreePortOfTheRangeOrNoneWhenAllAreHeld) {
  // A range of eleven ports this test holds itself stands for 8081 to 8091.
  CPortHolder holder;
  const PortRange range = holder.HoldRange(kServerPorts.Count);
  ASSERT_EQ(range.Count, kServerPorts.Count) << "no eleven consecutive ports free below 30000";
  EXPECT_EQ(ChooseServerPort(range), "");

  // With the first five still taken, the sixth is chosen; then a freed earlier one comes first.
  holder.Release(range.First + 5);
  holder.Release(range.First + 6);
  EXPECT_EQ(ChooseServerPort(range), std::to_string(range.First + 5));
  holder.Release(range.First + 2);
  EXPECT_EQ(ChooseServerPort(range), std::to_string(range.First + 2));
  holder.Release(range.First + range.Count - 1);
  EXPECT_EQ(ChooseServerPort({range.First + 7, 4}), std::to_string(range.First + range.Count - 1));

  EXPECT_EQ(kServerPorts.First, 8081);
  EXPECT_EQ(kServerPorts.Count, 11);
}
