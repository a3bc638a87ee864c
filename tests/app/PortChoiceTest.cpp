// The port choice. Other programs may hold any of 8081 to 8091 at the same moment, so the tests hold
// ports themselves and never assume which of them are free.

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
