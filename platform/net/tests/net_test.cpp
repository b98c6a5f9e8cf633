// Tests of the network helpers: dotted text, the adapter list in a private namespace (order,
// masks, gateways from the routing table), addresses on an interface, and ICMP echo.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/net.h"
#include "platform/testing/netns.h"
#include "platform/testing/temp_dir.h"

namespace platform::net {
namespace {

TEST(Ipv4Text, StrictDottedQuadsOnly) {
  struct row {
    const char* text;
    std::optional<std::uint32_t> value;
  };
  const row rows[] = {
      {"192.168.1.50", 0xC0A80132u}, {"0.0.0.0", 0u},          {"255.255.255.255", 0xFFFFFFFFu},
      {"010.1.1.1", 0x0A010101u},    {"256.1.1.1", std::nullopt}, {"1.2.3", std::nullopt},
      {"1.2.3.4.5", std::nullopt},   {"1..3.4", std::nullopt},    {"1.2.3.4.", std::nullopt},
      {"a.b.c.d", std::nullopt},     {"1.2.3.-4", std::nullopt},  {"1234.1.1.1", std::nullopt},
      {"", std::nullopt},            {" 1.2.3.4", std::nullopt},
  };
  for (const row& r : rows) EXPECT_EQ(parse_ipv4(r.text), r.value) << r.text;
  EXPECT_EQ(format_ipv4(0xC0A80132u), "192.168.1.50");
}

class PrivateNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto why = platform::testing::enter_private_network()) GTEST_SKIP() << *why;
  }
};

TEST_F(PrivateNetwork, AdaptersComeInInterfaceOrderWithMaskGatewayAndMac) {
  std::string output;
  ASSERT_TRUE(platform::testing::run_shell(
      "ip link add first0 type veth peer name first1 && ip link add second0 type veth peer name second1 && "
      "ip link set first0 address 02:00:00:aa:bb:01 && "
      "ip addr add 10.1.2.3/16 dev first0 && ip addr add 10.1.9.9/16 dev first0 && "
      "ip addr add 192.168.7.10/24 dev second0 && ip link set first0 up && ip link set second0 up && "
      "ip route add default via 192.168.7.1 dev second0", &output)) << output;
  std::vector<adapter_info> adapters;
  int error = -1;
  ASSERT_TRUE(list_adapters(adapters, error));
  EXPECT_EQ(error, 0);
  // Loopback and the address-less far ends are not listed; first0 (created first) comes first,
  // with its first address only.
  ASSERT_EQ(adapters.size(), 2u);
  EXPECT_EQ(adapters[0].name, "first0");
  EXPECT_EQ(adapters[0].ip, "10.1.2.3");
  EXPECT_EQ(adapters[0].mask, "255.255.0.0");
  EXPECT_EQ(adapters[0].gateway, "");
  EXPECT_EQ(adapters[0].mac, "02-00-00-AA-BB-01");
  EXPECT_EQ(adapters[0].type, adapter_type::ethernet);
  EXPECT_FALSE(adapters[0].dhcp);
  EXPECT_EQ(adapters[1].name, "second0");
  EXPECT_EQ(adapters[1].gateway, "192.168.7.1");
  EXPECT_LT(adapters[0].index, adapters[1].index);

  // A leased address (limited lifetime) counts as handed out by DHCP.
  ASSERT_TRUE(platform::testing::run_shell(
      "ip addr del 192.168.7.10/24 dev second0 && "
      "ip addr add 192.168.7.10/24 dev second0 valid_lft 3600 preferred_lft 3600", &output)) << output;
  ASSERT_TRUE(list_adapters(adapters, error));
  ASSERT_EQ(adapters.size(), 2u);
  EXPECT_TRUE(adapters[1].dhcp);
}

TEST_F(PrivateNetwork, GatewaysAreTheFirstDefaultRouteOfEachInterface) {
  platform::testing::temp_dir dir;
  {
    std::ofstream route(dir / "route");
    route << "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
             "ethx\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
             "ethx\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
             "ethx\t00000000\t0201A8C0\t0003\t0\t0\t200\t00000000\t0\t0\t0\n";
  }
  std::string output;
  ASSERT_TRUE(platform::testing::run_shell(
      "ip link add ethx type veth peer name ethy && ip addr add 192.168.1.5/24 dev ethx", &output)) << output;
  std::vector<adapter_info> adapters;
  int error = 0;
  ASSERT_TRUE(list_adapters(adapters, error, (dir / "route").string()));
  ASSERT_EQ(adapters.size(), 1u);
  EXPECT_EQ(adapters[0].gateway, "192.168.1.1");
}

TEST_F(PrivateNetwork, AddressesAreAddedAndRemoved) {
  std::string output;
  ASSERT_TRUE(platform::testing::run_shell("ip link add a0 type veth peer name a1", &output)) << output;
  const std::uint32_t ip = *parse_ipv4("10.9.8.7");
  EXPECT_EQ(add_ipv4_address("a0", ip, 32), 0);
  EXPECT_EQ(add_ipv4_address("a0", ip, 32), EEXIST);
  ASSERT_TRUE(platform::testing::run_shell("ip -4 addr show dev a0", &output));
  EXPECT_NE(output.find("10.9.8.7/32"), std::string::npos) << output;
  EXPECT_EQ(remove_ipv4_address("a0", ip, 32), 0);
  ASSERT_TRUE(platform::testing::run_shell("ip -4 addr show dev a0", &output));
  EXPECT_EQ(output.find("10.9.8.7"), std::string::npos) << output;
  EXPECT_EQ(add_ipv4_address("nosuch0", ip, 32), ENODEV);
}

TEST_F(PrivateNetwork, EchoAnswersForAnAddressInUseAndTimesOutForAFreeOne) {
  std::string output;
  ASSERT_TRUE(platform::testing::run_shell(
      "ip link add p0 type veth peer name p1 && ip addr add 10.5.0.1/24 dev p0 && "
      "ip link set p0 up && ip link set p1 up", &output)) << output;
  EXPECT_EQ(icmp_echo(*parse_ipv4("10.5.0.1"), "Echo This", 1000), kIpSuccess);
  EXPECT_EQ(icmp_echo(*parse_ipv4("10.5.0.77"), "Echo This", 200), kIpReqTimedOut);
}

}  // namespace
}  // namespace platform::net
