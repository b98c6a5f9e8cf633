// Tests of the network-module simulator on its own: default records, MAC texts, refused
// modules, the printer port, and the lansim program answering a search.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

#include "lan_fixture.h"
#include "platform/testing/scoped_process.h"
#include "platform/testing/temp_dir.h"

namespace netcfg::testing {
namespace {

TEST(LanSimulatorRecords, DefaultsHoldPortMaskNameAndWirelessSettings) {
  sim::module_config m = module_n(1, true, "FRONT");
  const auto network = sim::lan_simulator::default_record(0xE0, m);
  ASSERT_EQ(network.size(), 120u);
  EXPECT_EQ(network[6], 8);      // 255.255.255.0
  EXPECT_EQ(network[20], 0x11);  // 10001, low byte first
  EXPECT_EQ(network[21], 0x27);
  const auto identity = sim::lan_simulator::default_record(0xE5, m);
  ASSERT_EQ(identity.size(), 126u);
  EXPECT_EQ(std::string(identity.begin() + 102, identity.begin() + 107), "FRONT");
  EXPECT_EQ(identity[107], 0);
  const auto wireless = sim::lan_simulator::default_record(0xE8, m);
  EXPECT_EQ(wireless[1] & 1, 0);  // infrastructure
  EXPECT_EQ(wireless[1] >> 4, 1); // channel 1
  EXPECT_EQ(std::string(wireless.begin() + 3, wireless.begin() + 9), "POSLAN");
  EXPECT_EQ(sim::lan_simulator::default_record(0xE8, module_n(2)), std::vector<std::uint8_t>(126, 0));
}

TEST(LanSimulatorMac, TextRoundTripsAndMalformedTextIsRefused) {
  const std::array<std::uint8_t, 6> mac = {0x00, 0x80, 0xA3, 0x0B, 0x34, 0x5F};
  EXPECT_EQ(sim::format_mac(mac), "00-80-A3-0B-34-5F");
  EXPECT_EQ(sim::parse_mac("00-80-a3-0b-34-5f"), mac);
  EXPECT_EQ(sim::parse_mac("00:80:A3:0B:34:5F"), mac);
  for (const char* bad : {"", "00-80-A3-0B-34", "00-80-A3-0B-34-5F-01", "zz-80-A3-0B-34-5F"}) {
    EXPECT_FALSE(sim::parse_mac(bad).has_value()) << bad;
  }
}

TEST(LanSimulatorModules, BadAddressesAndLongNamesAreRefused) {
  sim::lan_simulator simulator({});
  std::string error;
  sim::module_config m = module_n(1);
  m.ip = "10.0.0";
  EXPECT_FALSE(simulator.add_module(m, error).has_value());
  EXPECT_NE(error.find("10.0.0"), std::string::npos);
  m = module_n(1, false, std::string(25, 'N'));
  EXPECT_FALSE(simulator.add_module(m, error).has_value());
  EXPECT_NE(error.find("24"), std::string::npos);
  m = module_n(1, false, std::string(24, 'N'));
  EXPECT_TRUE(simulator.add_module(m, error).has_value()) << error;
}

using LanSimulator = lan_test;

TEST_F(LanSimulator, ThePrinterPortKeepsWhatItReceivesAndFollowsAPortChange) {
  add(module_n(1));
  start();
  const auto send_to_port = [](std::uint16_t port, const std::string& text) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(*platform::net::parse_ipv4("10.0.0.20"));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
                    ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
  };
  const auto wait_printed = [&](const std::string& text) {
    for (int i = 0; i < 400 && sim_->module(0).printed != text; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return sim_->module(0).printed;
  };
  ASSERT_TRUE(send_to_port(10001, "\x1b@HELLO"));
  EXPECT_EQ(wait_printed("\x1b@HELLO"), "\x1b@HELLO");

  // A network-record write with port 9100 moves the printer port.
  auto c = configurator();
  std::vector<std::uint8_t> network(120, 0);
  network[6] = 8;
  network[20] = 9100 & 0xFF;
  network[21] = 9100 >> 8;
  std::int32_t ret = -1;
  ASSERT_EQ(c->WriteSetupRecord("10.0.0.20", 0xFA, platform::Variant(network), ret).code, platform::kSOk);
  ASSERT_EQ(ret, OLP_NO_ERROR);
  EXPECT_EQ(sim_->module(0).config.tcp_port, 9100);
  EXPECT_FALSE(send_to_port(10001, "lost"));
  ASSERT_TRUE(send_to_port(9100, "AGAIN"));
  EXPECT_EQ(wait_printed("\x1b@HELLOAGAIN"), "\x1b@HELLOAGAIN");
}

TEST_F(LanSimulator, ThePrinterPortPassesItsBytesOnToAPrinter) {
  // The printer: a listener on loopback.
  const int printer = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  ASSERT_EQ(::bind(printer, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::listen(printer, 1), 0);
  ASSERT_EQ(::getsockname(printer, reinterpret_cast<sockaddr*>(&at), &size), 0);
  sim::lan_simulator::options opts;
  opts.interface_name = "lan1";
  opts.printer = "127.0.0.1:" + std::to_string(ntohs(at.sin_port));
  sim_ = std::make_unique<sim::lan_simulator>(opts);
  add(module_n(1));
  start();

  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(10001);
  to.sin_addr.s_addr = htonl(*platform::net::parse_ipv4("10.0.0.20"));
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  ASSERT_EQ(::write(client, "\x1b@PAGE", 6), 6);
  ::close(client);
  pollfd p{printer, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  const int link = ::accept(printer, nullptr, nullptr);
  ASSERT_GE(link, 0);
  std::string received;
  char buffer[64];
  for (pollfd q{link, POLLIN, 0}; received.size() < 6 && ::poll(&q, 1, 2000) == 1;) {
    const ssize_t n = ::read(link, buffer, sizeof buffer);
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(received, "\x1b@PAGE");
  EXPECT_EQ(sim_->module(0).printed, "");  // passed on, not kept
  ::close(link);
  ::close(printer);
}

TEST_F(LanSimulator, TheProgramPutsItsModulesOnTheLan) {
  platform::testing::temp_dir dir;
  platform::testing::scoped_process lansim(
      {LANSIM_PATH, "--interface", "lan1", "--wired", "3", "--wireless", "2", "--named", "1", "--no-tcp"},
      dir / "lansim.log", true);
  ASSERT_TRUE(lansim.started());
  ASSERT_EQ(lansim.first_line(5000), "ready 5 modules");
  auto c = configurator();
  ASSERT_EQ(search(*c), 5);
  std::map<std::string, std::int32_t> statuses;
  for (int i = 1; i <= 5; ++i) {
    std::string ip, mac;
    std::int32_t status = 0;
    std::int32_t ret = 0;
    ASSERT_EQ(c->GetLanPrinterInfo(i, ip, mac, status, ret).code, platform::kSOk);
    statuses[mac] = status;
  }
  const std::map<std::string, std::int32_t> expected = {
      {"00-80-A3-00-00-01", kStatusWiredNamed},  {"00-80-A3-00-00-02", kStatusWiredNew},
      {"00-80-A3-00-00-03", kStatusWiredNew},    {"00-80-A3-00-00-04", kStatusWirelessNew},
      {"00-80-A3-00-00-05", kStatusWirelessNew},
  };
  EXPECT_EQ(statuses, expected);
}

TEST(LanSimulatorProgram, BadArgumentsExitWith2AndOneLine) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--wired", "x"}, {"--first-ip", "10.0.0"}, {"--bogus"}, {"--printer", "nohost"}}) {
    std::string command = LANSIM_PATH;
    for (const std::string& a : args) command += " '" + a + "'";
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << command;
  }
}

}  // namespace
}  // namespace netcfg::testing
