// Tests of the Configurator: its result codes, the search (table, duplicates, late and mute
// modules, statuses, broadcast address), record queries and writes, the address assignment
// datagram, stray datagrams, and the registered server library.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "lan_fixture.h"
#include "platform/registry.h"
#include "platform/testing/server_library.h"
#include "platform/testing/temp_dir.h"

namespace netcfg::testing {
namespace {

using platform::kSFalse;
using platform::kSOk;
using platform::Variant;

std::string hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char b[4];
  for (const std::uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02X ", v);
    text += b;
  }
  return text;
}

TEST(BroadcastAddress, GatewayWithHostBitsOfTheMaskSet) {
  struct row {
    const char* gateway;
    const char* mask;
    const char* expected;
  };
  const row rows[] = {
      {"192.168.1.1", "255.255.255.0", "192.168.1.255"},
      {"10.1.2.254", "255.255.0.0", "10.1.255.255"},
      {"", "255.255.255.0", "255.255.255.255"},  // no gateway: the limited broadcast
      {"172.16.5.9", "255.255.255.252", "172.16.5.11"},
      {"10.0.0.1", "bad", ""},
  };
  for (const row& r : rows) {
    EXPECT_EQ(broadcast_address_of(r.gateway, r.mask), r.expected) << r.gateway << " " << r.mask;
  }
}

TEST(Configurator, EveryMethodBeforeInitGives101AndSFalse) {
  auto c = platform::make_object<Configurator>();
  std::int32_t ret = 0;
  std::int32_t num = 0;
  std::int32_t status = 0;
  std::string ip, mac;
  std::vector<std::uint8_t> data(127);
  EXPECT_EQ(c->FindLanPrinter(num, ret).code, kSFalse);
  EXPECT_EQ(ret, OLP_CONNECTION_NOT_INITIALIZED);
  ret = 0;
  EXPECT_EQ(c->GetLanPrinterInfo(1, ip, mac, status, ret).code, kSFalse);
  EXPECT_EQ(ret, OLP_CONNECTION_NOT_INITIALIZED);
  ret = 0;
  EXPECT_EQ(c->QuerySetupRecord("10.0.0.20", 0xE5, Variant::ref(data), ret).code, kSFalse);
  EXPECT_EQ(ret, OLP_CONNECTION_NOT_INITIALIZED);
  ret = 0;
  EXPECT_EQ(c->WriteSetupRecord("10.0.0.20", 0xC5, Variant(data), ret).code, kSFalse);
  EXPECT_EQ(ret, OLP_CONNECTION_NOT_INITIALIZED);
  ret = 0;
  EXPECT_EQ(c->SetIpAddress("10.0.0.50", "00-80-A3-00-12-34", ret).code, kSFalse);
  EXPECT_EQ(ret, OLP_CONNECTION_NOT_INITIALIZED);
}

TEST(Configurator, OlpNames) {
  EXPECT_EQ(olp_name(0), "OLP_NO_ERROR");
  EXPECT_EQ(olp_name(102), "OLP_PRINTERS_NOT_FOUND");
  EXPECT_EQ(olp_name(1002), "OLP_BOARD_INFO_ERROR");
  EXPECT_EQ(olp_name(7), "");
}

using Search = lan_test;

TEST_F(Search, FindsEveryModuleWithItsMacAndStatus) {
  add(module_n(1, false, "KITCHEN"));
  add(module_n(2, false));
  add(module_n(3, true));
  add(module_n(4, true, "BAR"));
  start();
  auto c = configurator();
  ASSERT_EQ(search(*c), 4);
  struct row {
    int index;
    const char* ip;
    const char* mac;
    std::int32_t status;
  };
  // Answers arrive in any order; the table keeps the order of arrival, so look rows up by IP.
  const row rows[] = {
      {1, "10.0.0.20", "00-80-A3-00-12-34", kStatusWiredNamed},
      {2, "10.0.0.21", "00-80-A3-00-12-35", kStatusWiredNew},
      {3, "10.0.0.22", "00-80-A3-00-12-36", kStatusWirelessNew},
      {4, "10.0.0.23", "00-80-A3-00-12-37", kStatusWirelessNamed},
  };
  std::map<std::string, std::pair<std::string, std::int32_t>> found;
  for (int i = 1; i <= 4; ++i) {
    std::string ip, mac;
    std::int32_t status = -1;
    std::int32_t ret = -1;
    ASSERT_EQ(c->GetLanPrinterInfo(i, ip, mac, status, ret).code, kSOk);
    ASSERT_EQ(ret, OLP_NO_ERROR);
    found[ip] = {mac, status};
  }
  for (const row& r : rows) {
    ASSERT_EQ(found.count(r.ip), 1u) << r.ip;
    EXPECT_EQ(found[r.ip].first, r.mac);
    EXPECT_EQ(found[r.ip].second, r.status) << r.ip;
  }
  EXPECT_EQ(c->broadcast_address(), "10.0.0.255");
}

TEST_F(Search, InfoIndexOutsideOneToCountGives100AndCountGivesTheLast) {
  add(module_n(1));
  add(module_n(2));
  start();
  auto c = configurator();
  ASSERT_EQ(search(*c), 2);
  std::string ip, mac, last_ip, last_mac;
  std::int32_t status = 0;
  std::int32_t ret = 0;
  for (const std::int32_t bad : {0, -1, 3}) {
    EXPECT_EQ(c->GetLanPrinterInfo(bad, ip, mac, status, ret).code, kSFalse) << bad;
    EXPECT_EQ(ret, OLP_INVALID_PARAMETER) << bad;
  }
  ASSERT_EQ(c->GetLanPrinterInfo(2, last_ip, last_mac, status, ret).code, kSOk);
  ASSERT_EQ(c->GetLanPrinterInfo(1, ip, mac, status, ret).code, kSOk);
  EXPECT_NE(ip, last_ip);
  EXPECT_TRUE(last_ip == "10.0.0.20" || last_ip == "10.0.0.21") << last_ip;
}

TEST_F(Search, TwoAnswersFromOneAddressMakeOneEntry) {
  add(module_n(1));
  add(module_n(2));
  start();
  sim_->set_behaviour(0, 0, 2);
  sim_->set_behaviour(1, 30, 3);
  auto c = configurator();
  EXPECT_EQ(search(*c), 2);
}

TEST_F(Search, LateModulesCountAndMuteOnesDoNot) {
  add(module_n(1));
  add(module_n(2));
  add(module_n(3));
  start();
  sim_->set_behaviour(0, 3 * kTestAttemptMs / 2, 1);  // later than one attempt, within the bound
  sim_->set_behaviour(2, 0, 0);                   // never answers
  auto c = configurator();
  ASSERT_EQ(search(*c), 2);
  std::string ip, mac;
  std::int32_t status = 0;
  std::int32_t ret = 0;
  std::vector<std::string> ips;
  for (int i = 1; i <= 2; ++i) {
    ASSERT_EQ(c->GetLanPrinterInfo(i, ip, mac, status, ret).code, kSOk);
    ips.push_back(ip);
  }
  std::sort(ips.begin(), ips.end());
  EXPECT_EQ(ips, (std::vector<std::string>{"10.0.0.20", "10.0.0.21"}));
}

TEST_F(Search, NoModuleGives102AndAnEmptyTable) {
  start();
  auto c = configurator();
  EXPECT_EQ(search(*c), -OLP_PRINTERS_NOT_FOUND);
  std::string ip, mac;
  std::int32_t status = 0;
  std::int32_t ret = 0;
  EXPECT_EQ(c->GetLanPrinterInfo(1, ip, mac, status, ret).code, kSFalse);
  EXPECT_EQ(ret, OLP_PRINTERS_NOT_FOUND);
}

TEST_F(Search, AnAdapterOutsideTheListGives1002) {
  auto c = configurator();
  for (const std::int32_t adapter : {-1, 1000}) {
    std::int32_t num = adapter;
    std::int32_t ret = 0;
    EXPECT_EQ(c->FindLanPrinter(num, ret).code, kSFalse);
    EXPECT_EQ(ret, OLP_BOARD_INFO_ERROR);
  }
}

TEST_F(Search, IdentityAnswersAreMatchedToTheirModulesBySender) {
  for (int n = 1; n <= 30; ++n) add(module_n(n, n % 3 == 0, n % 2 == 0 ? "P" + std::to_string(n) : ""));
  start();
  // The answers come back in any order, some of them twice.
  for (std::size_t i = 0; i < 30; ++i) sim_->set_behaviour(i, static_cast<int>(i % 4) * 20, i % 7 == 0 ? 2 : 1);
  auto c = configurator();
  ASSERT_EQ(search(*c), 30);
  for (int i = 1; i <= 30; ++i) {
    std::string ip, mac;
    std::int32_t status = 0;
    std::int32_t ret = 0;
    ASSERT_EQ(c->GetLanPrinterInfo(i, ip, mac, status, ret).code, kSOk);
    // Module n sits at 10.0.0.(19 + n): even ones are named, every third one is wireless.
    const int n = std::stoi(ip.substr(ip.rfind('.') + 1)) - 19;
    const bool named = n % 2 == 0;
    const bool wireless = n % 3 == 0;
    const std::int32_t expected = wireless ? (named ? kStatusWirelessNamed : kStatusWirelessNew)
                                           : (named ? kStatusWiredNamed : kStatusWiredNew);
    EXPECT_EQ(status, expected) << ip;
  }
}

class SearchWithoutGateway : public lan_test {
 protected:
  void SetUp() override { make_lan(""); }
};

TEST_F(SearchWithoutGateway, BroadcastsTo255255255255) {
  add(module_n(1));
  start();
  auto c = configurator();
  ASSERT_EQ(search(*c), 1);
  EXPECT_EQ(c->broadcast_address(), "255.255.255.255");
  const auto received = sim_->received();
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.front().bytes, (std::vector<std::uint8_t>{0x00, 0x00, 0x00, 0xF6}));
  EXPECT_EQ(received.front().to, "255.255.255.255");
  EXPECT_EQ(received.front().from, "10.0.0.1");
}

using Records = lan_test;

TEST_F(Records, QueryCopiesTheDataPartOfEachRecord) {
  add(module_n(1, true, "FRONT DESK"));
  start();
  auto c = configurator();
  for (int record = 0xE0; record <= 0xE9; ++record) {
    std::vector<std::uint8_t> data(127, 0xAA);
    std::int32_t ret = -1;
    ASSERT_EQ(c->QuerySetupRecord("10.0.0.20", record, Variant::ref(data), ret).code, kSOk) << record;
    ASSERT_EQ(ret, OLP_NO_ERROR);
    const auto expected = sim_->module(0).records[static_cast<std::size_t>(record - 0xE0)];
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), data.begin())) << record;
    // Nothing is written past the record's length.
    EXPECT_TRUE(std::all_of(data.begin() + static_cast<std::ptrdiff_t>(expected.size()), data.end(),
                            [](std::uint8_t b) { return b == 0xAA; }))
        << record;
  }
}

TEST_F(Records, BadArgumentsGive100WithoutAnyDatagram) {
  add(module_n(1));
  start();
  auto c = configurator();
  std::vector<std::uint8_t> data(127);
  std::vector<std::uint8_t> short_array(125);
  std::int32_t ret = 0;
  struct row {
    const char* what;
    std::function<platform::hresult()> call;
  };
  const row rows[] = {
      {"query record 234", [&] { return c->QuerySetupRecord("10.0.0.20", 234, Variant::ref(data), ret).code; }},
      {"query record 223", [&] { return c->QuerySetupRecord("10.0.0.20", 223, Variant::ref(data), ret).code; }},
      {"query into an array too short", [&] { return c->QuerySetupRecord("10.0.0.20", 0xE5, Variant::ref(short_array), ret).code; }},
      {"query into a value, not an array cell", [&] { return c->QuerySetupRecord("10.0.0.20", 0xE5, Variant(7), ret).code; }},
      {"query of a bad address", [&] { return c->QuerySetupRecord("10.0.0.256", 0xE5, Variant::ref(data), ret).code; }},
      {"write record 0xCA", [&] { return c->WriteSetupRecord("10.0.0.20", 0xCA, Variant(data), ret).code; }},
      {"write record 0xE5", [&] { return c->WriteSetupRecord("10.0.0.20", 0xE5, Variant(data), ret).code; }},
      {"write from an array too short", [&] { return c->WriteSetupRecord("10.0.0.20", 0xC5, Variant(short_array), ret).code; }},
      {"write from a string", [&] { return c->WriteSetupRecord("10.0.0.20", 0xC5, Variant("abc"), ret).code; }},
      {"write to a bad address", [&] { return c->WriteSetupRecord("10.0.0", 0xC5, Variant(data), ret).code; }},
      {"set ip to a bad address", [&] { return c->SetIpAddress("10.0.0.x", "00-80-A3-00-12-34", ret).code; }},
      {"set ip with a short MAC", [&] { return c->SetIpAddress("10.0.0.50", "00-80-A3", ret).code; }},
      {"set ip with a MAC that is not hexadecimal", [&] { return c->SetIpAddress("10.0.0.50", "00-80-A3-00-1G-34", ret).code; }},
  };
  for (const row& r : rows) {
    ret = 0;
    EXPECT_EQ(r.call(), kSFalse) << r.what;
    EXPECT_EQ(ret, OLP_INVALID_PARAMETER) << r.what;
  }
  EXPECT_TRUE(sim_->received().empty()) << sim_->received().size() << " datagrams sent";
}

TEST_F(Records, WriteChangesTheModuleAndAnUnacknowledgedWriteGives103WithSOk) {
  add(module_n(1));
  start();
  auto c = configurator();
  std::vector<std::uint8_t> data(127, 0);
  const std::string name = "COUNTER 2";
  std::copy(name.begin(), name.end(), data.begin() + 102);
  std::int32_t ret = -1;
  ASSERT_EQ(c->WriteSetupRecord("10.0.0.20", 0xC5, Variant(data), ret).code, kSOk);
  EXPECT_EQ(ret, OLP_NO_ERROR);
  EXPECT_EQ(sim_->module(0).config.name, name);
  const auto log = sim_->received();
  ASSERT_EQ(log.size(), 1u);
  ASSERT_EQ(log[0].bytes.size(), 130u);
  EXPECT_EQ(std::vector<std::uint8_t>(log[0].bytes.begin(), log[0].bytes.begin() + 4),
            (std::vector<std::uint8_t>{0x00, 0x01, 0x00, 0xC5}));

  // The network record travels with 120 data bytes.
  std::vector<std::uint8_t> network(127, 0);
  network[20] = 0x11;
  network[21] = 0x27;
  sim_->clear_received();
  ASSERT_EQ(c->WriteSetupRecord("10.0.0.20", 0xFA, Variant(network), ret).code, kSOk);
  EXPECT_EQ(ret, OLP_NO_ERROR);
  ASSERT_EQ(sim_->received().size(), 1u);
  EXPECT_EQ(sim_->received()[0].bytes.size(), 124u);

  sim_->set_behaviour(0, 0, 0);
  ret = -1;
  EXPECT_EQ(c->WriteSetupRecord("10.0.0.20", 0xC5, Variant(data), ret).code, kSOk);
  EXPECT_EQ(ret, OLP_WRITE_RECORD_ERROR);
  std::vector<std::uint8_t> answer(127);
  EXPECT_EQ(c->QuerySetupRecord("10.0.0.20", 0xE5, Variant::ref(answer), ret).code, kSFalse);
  EXPECT_EQ(ret, OLP_QUERY_RECORD_ERROR);
}

TEST_F(Records, StrayDatagramsAreDropped) {
  add(module_n(1));
  start();
  auto c = configurator();
  ASSERT_EQ(search(*c), 1);  // binds the configurator to 10.0.0.1:30718
  sim_->set_behaviour(0, 0, 0);
  // A stranger sends answers of every size the query could want, and an oversized one.
  const int stranger = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(stranger, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kModulePort);
  to.sin_addr.s_addr = htonl(*platform::net::parse_ipv4("10.0.0.1"));
  std::thread noise([&] {
    for (int i = 0; i < 5; ++i) {
      for (const std::size_t size : {130u, 124u, 4u, 300u}) {
        const std::vector<std::uint8_t> junk(size, 0x41);
        ::sendto(stranger, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  std::vector<std::uint8_t> data(127, 0);
  std::int32_t ret = 0;
  EXPECT_EQ(c->QuerySetupRecord("10.0.0.20", 0xE5, Variant::ref(data), ret).code, kSFalse);
  EXPECT_EQ(ret, OLP_QUERY_RECORD_ERROR);
  EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0; }));
  noise.join();
  ::close(stranger);
}

TEST_F(Records, SetIpAddressBroadcastsTheAssignmentByteForByteAndTheModuleMoves) {
  sim::module_config m = module_n(1);
  m.mac = {0x00, 0x80, 0xA3, 0x00, 0x34, 0x56};
  add(m);
  start();
  auto c = configurator();
  ASSERT_EQ(search(*c), 1);
  sim_->clear_received();
  std::int32_t ret = -1;
  ASSERT_EQ(c->SetIpAddress("192.168.1.50", "00-80-A3-00-34-56", ret).code, kSOk);
  EXPECT_EQ(ret, OLP_NO_ERROR);
  const std::vector<std::uint8_t> expected = {0x00, 0x00, 0x00, 0xFC, 'I',  'P',  '-',  'S',  'E',  'T',
                                              'U',  'P',  0x00, 0x00, 0x34, 0x56, 0xC0, 0xA8, 0x01, 0x32};
  EXPECT_EQ(wait_for_address(0, "192.168.1.50"), "192.168.1.50");
  const auto log = sim_->received();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].bytes, expected) << hex(log[0].bytes);
  EXPECT_EQ(log[0].to, "10.0.0.255");
  std::vector<std::uint8_t> data(127);
  EXPECT_EQ(c->QuerySetupRecord("192.168.1.50", 0xE0, Variant::ref(data), ret).code, kSOk);
}

// The server library, registered in a private registry and created by ProgID.
TEST(NetcfgLibrary, RegistersAndServesTheConfiguratorByNameWithItsDispatchIds) {
  platform::testing::scoped_registry_dir registry;
  std::string error;
  ASSERT_EQ(platform::testing::register_server_library(NETCFG_LIBRARY_PATH, error), kSOk)
      << error << " " << platform::take_error_info();
  platform::registry_key key;
  std::string text;
  ASSERT_EQ(platform::registry_key::open(platform::registry_root::classes_root,
                                         "TypeLib\\{E444F748-2C5E-4C1A-8F2D-C84B7EA958B2}\\1.0", key),
            platform::kErrorSuccess);
  EXPECT_EQ(key.query_string("", text), platform::kErrorSuccess);
  EXPECT_EQ(text, "Netcfg 1.0 Type Library");
  ASSERT_EQ(platform::registry_key::open(platform::registry_root::classes_root,
                                         "Interface\\{A53E5383-895B-4E9D-937D-ACEC833E30A9}\\TypeLib", key),
            platform::kErrorSuccess);
  EXPECT_EQ(key.query_string("", text), platform::kErrorSuccess);
  EXPECT_EQ(text, "{E444F748-2C5E-4C1A-8F2D-C84B7EA958B2}");
  ASSERT_EQ(platform::registry_key::open(platform::registry_root::classes_root,
                                         "CLSID\\{1BAA928D-7A6A-4EEB-B89C-D6166EFB77AE}\\InProcServer32", key),
            platform::kErrorSuccess);
  EXPECT_EQ(key.query_string("ThreadingModel", text), platform::kErrorSuccess);
  EXPECT_EQ(text, "Apartment");
  for (const char* prog_id : {"Netcfg.Configurator", "Netcfg.Configurator.1"}) {
    platform::com_ptr<platform::dispatch> object;
    ASSERT_EQ(platform::create_instance(prog_id, object), kSOk) << prog_id << " " << platform::com_last_error();
    const std::pair<const char*, long> ids[] = {{"Init", 1},          {"FindLanPrinter", 2},
                                                {"GetLanPrinterInfo", 3}, {"QuerySetupRecord", 4},
                                                {"WriteSetupRecord", 5},  {"SetIpAddress", 6}};
    for (const auto& [name, expected] : ids) {
      long id = 0;
      ASSERT_EQ(object->get_ids_of_names(name, id), kSOk) << name;
      EXPECT_EQ(id, expected) << name;
    }
    std::int32_t ret = -1;
    std::int32_t status = 0;
    std::string ip, mac;
    EXPECT_EQ(platform::call(object.get(), "Init", Variant::ref(ret)).hr, kSOk);
    EXPECT_EQ(ret, OLP_NO_ERROR);
    EXPECT_EQ(platform::call(object.get(), "GetLanPrinterInfo", 1, Variant::ref(ip), Variant::ref(mac),
                             Variant::ref(status), Variant::ref(ret)).hr,
              kSFalse);
    EXPECT_EQ(ret, OLP_PRINTERS_NOT_FOUND);
  }
}

}  // namespace
}  // namespace netcfg::testing
