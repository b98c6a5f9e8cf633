// Tests of the setup program's model: fixed lists and text checks, and every command against a
// real Configurator and the network-module simulator in a private network namespace.
#include "netsetup/netsetup_model.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "lan_fixture.h"

namespace netsetup {
namespace {

using netcfg::testing::module_n;

TEST(FixedLists, SubnetMasksAndTheirCodes) {
  const auto masks = subnet_masks();
  ASSERT_EQ(masks.size(), 32u);
  struct row {
    int index;
    const char* mask;
    int code;
  };
  const row rows[] = {{0, "255.255.255.254", 1}, {7, "255.255.255.0", 8},  {23, "255.0.0.0", 24},
                      {24, "254.0.0.0", 0},      {30, "128.0.0.0", 0},     {31, "0.0.0.0", 0}};
  for (const row& r : rows) {
    EXPECT_EQ(masks[static_cast<std::size_t>(r.index)], r.mask) << r.index;
    EXPECT_EQ(mask_code(r.index), r.code) << r.index;
  }
}

TEST(FixedLists, ChannelsFollowTheCountry) {
  struct row {
    int country;
    const char* first;
    const char* last;
    std::size_t count;
  };
  const row rows[] = {{0, "Channel 1", "Channel 11", 11}, {1, "Channel 10", "Channel 13", 4},
                      {2, "Channel 1", "Channel 14", 14}, {3, "Channel 1", "Channel 13", 13}};
  for (const row& r : rows) {
    const auto list = channels(r.country);
    ASSERT_EQ(list.size(), r.count) << r.country;
    EXPECT_EQ(list.front(), r.first);
    EXPECT_EQ(list.back(), r.last);
  }
  EXPECT_EQ(channel_of(kCountryFrance, 0), 10);
  EXPECT_EQ(channel_of(0, 0), 1);
  EXPECT_EQ(channel_index(kCountryFrance, 13), 3);
}

TEST(TextChecks, IpAddresses) {
  const std::pair<const char*, bool> rows[] = {
      {"192.168.1.50", true}, {"0.0.0.0", true},     {"255.255.255.255", true}, {"", false},
      {"1.2.3", false},       {"1.2.3.4.5", false},  {"1.2.3.256", false},      {"1.2.3.-4", false},
      {"1.2..4", false},      {"a.b.c.d", false},    {"1.2.3.0004", false},     {"100.100.100.1000", false},
  };
  for (const auto& [text, valid] : rows) EXPECT_EQ(valid_ip_text(text), valid) << text;
}

TEST(TextChecks, PortsOutsideTheReservedOnes) {
  const std::pair<const char*, bool> rows[] = {
      {"10001", true}, {"1025", true},   {"9100", true},   {"1", false},     {"1024", false}, {"9999", false},
      {"14000", false}, {"14009", false}, {"14010", true}, {"30704", false}, {"30718", false}, {"123456", false},
      {"abc", false},   {"", false},      {"0", true},
  };
  for (const auto& [text, passes] : rows) EXPECT_EQ(port_passes(text), passes) << text;
}

TEST(TextChecks, PingStatusTexts) {
  const std::pair<int, const char*> rows[] = {
      {0, "ip success"},           {200, "ping timeout"},       {11003, "ip dest host unreachable"},
      {11010, "ip req timed out"}, {11050, "ip general failure"}, {11255, "ip pending"},
      {42, "unknown  msg returned   [ 42 ]"}};
  for (const auto& [status, text] : rows) EXPECT_EQ(ping_status_text(status), text) << status;
}

TEST(TestPage, BytesInOrder) {
  const std::string expected =
      "\x1b@LAN PRINTER TEST\r\nTCP address : 10.0.0.20\nMAC address : 00-80-A3-00-12-34\n"
      "TCP port : 10001\nPrinter Name : BAR\n\x1b" "d\x0a\x1dV0\x1b" "d\x0a";
  EXPECT_EQ(test_page_bytes("10.0.0.20", "00-80-A3-00-12-34", "10001", "BAR"), expected);
}

// A stand-in configurator whose Init fails, for the start-up message.
class failing_init final : public platform::dispatch_object<failing_init> {
 public:
  static std::span<const platform::dispatch_member<failing_init>> dispatch_members() {
    static constexpr platform::dispatch_member<failing_init> members[] = {
        platform::dispatch_method<&failing_init::Init>("Init", 1)};
    return members;
  }
  platform::com_status Init(std::int32_t& ret) {
    ret = netcfg::OLP_SOCKET_ERROR;
    return {platform::kSFalse};
  }
};

TEST(StartUp, AFailingInitGivesTheWarning) {
  netsetup_model model(platform::make_object<failing_init>(), default_services());
  EXPECT_EQ(model.start(), "Lan initialization error 1001 !");
}

class Model : public netcfg::testing::lan_test {
 protected:
  void SetUp() override {
    lan_test::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    auto c = configurator();
    configurator_ = c;
    services svc = default_services();
    svc.wait = [this](int ms) { waits_.push_back(ms); };
    svc.adapters = [](std::vector<platform::net::adapter_info>& out, int& error) {
      if (!platform::net::list_adapters(out, error)) return false;
      // Searches go through lan0 alone, whatever else the simulator's addresses list.
      std::erase_if(out, [](const platform::net::adapter_info& a) { return a.name != "lan0"; });
      return true;
    };
    model_ = std::make_unique<netsetup_model>(platform::com_ptr<platform::dispatch>(c.get()), svc);
    ASSERT_EQ(model_->start(), std::nullopt);
  }

  // Points the model at lan0 and searches.
  void search() {
    ASSERT_TRUE(model_->apply_adapter(lan0_index()).ok);
    model_->search();
  }

  // Selects the row of the module at `ip`.
  void select(const std::string& ip) {
    const auto& rows = model_->rows();
    const auto it = std::find_if(rows.begin(), rows.end(), [&](const printer_row& r) { return r.ip == ip; });
    ASSERT_NE(it, rows.end()) << ip;
    model_->select(static_cast<int>(it - rows.begin()) + 1);
  }

  std::vector<std::uint8_t> record(std::size_t module, int r) {
    return sim_->module(module).records[static_cast<std::size_t>(r - 0xE0)];
  }

  platform::com_ptr<netcfg::Configurator> configurator_;
  std::unique_ptr<netsetup_model> model_;
  std::vector<int> waits_;
};

TEST_F(Model, SearchListsEachPrinterWithItsStatusNameAndPort) {
  add(module_n(1, false, "KITCHEN"));
  add(module_n(2, true));
  start();
  search();
  EXPECT_EQ(model_->status_operation(), "SEARCH");
  EXPECT_EQ(model_->status_result(), "OLP_NO_ERROR");
  ASSERT_EQ(model_->rows().size(), 2u);
  EXPECT_EQ(model_->selected(), 1);
  for (const printer_row& r : model_->rows()) {
    const std::string n = r.index.substr(r.index.find_last_of(' ') + 1);
    if (r.ip == "10.0.0.20") {
      EXPECT_EQ(r.index, "Xport   " + n);
      EXPECT_EQ(r.name, "KITCHEN");
      EXPECT_EQ(r.status, "INITIALIZED");
      EXPECT_FALSE(r.wireless());
    } else {
      // A wireless module without a name: status 50.
      EXPECT_EQ(r.index, "WiPort " + n);
      EXPECT_EQ(r.name, "");
      EXPECT_EQ(r.status, "NOT INITIALIZED");
      EXPECT_TRUE(r.wireless());
    }
    EXPECT_EQ(r.port, "10001");
    EXPECT_FALSE(r.port_grey);
  }
  select("10.0.0.20");
  command_states s = model_->commands();
  EXPECT_TRUE(s.refresh && s.set_ip && s.reset && s.initialize && s.configure);
  select("10.0.0.21");
  s = model_->commands();
  EXPECT_TRUE(s.initialize);
  EXPECT_FALSE(s.configure);
}

TEST_F(Model, AFailedSearchEmptiesTheListAndDisablesTheRowCommands) {
  start();
  search();
  EXPECT_TRUE(model_->rows().empty());
  EXPECT_EQ(model_->status_operation(), "SEARCH");
  EXPECT_EQ(model_->status_result(), "OLP_PRINTERS_NOT_FOUND");
  const command_states s = model_->commands();
  EXPECT_FALSE(s.refresh || s.set_ip || s.configure || s.initialize);
  EXPECT_TRUE(s.search);
}

TEST_F(Model, InitializeChecksTheNameAndWritesIt) {
  add(module_n(1));
  start();
  search();
  struct row {
    std::string name;
    const char* message;
  };
  const row refused[] = {{"", "Insert a valid printer name !"},
                         {std::string(25, 'X'), "The printer name must be at most 24 characters !"}};
  sim_->clear_received();
  for (const row& r : refused) {
    const outcome o = model_->initialize(r.name);
    EXPECT_EQ(o.messages, std::vector<std::string>{r.message});
    EXPECT_FALSE(o.close);
  }
  EXPECT_TRUE(sim_->received().empty());
  const outcome o = model_->initialize(std::string(24, 'N'));
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(sim_->module(0).config.name, std::string(24, 'N'));
  EXPECT_EQ(model_->rows()[0].name, std::string(24, 'N'));
  EXPECT_EQ(model_->rows()[0].status, "INITIALIZED");
  EXPECT_EQ(model_->status_operation(), "INITIALIZE");
  EXPECT_EQ(model_->status_result(), "OLP_NO_ERROR");
}

TEST_F(Model, ConfigureTcpStoresPortMaskAndGateway) {
  add(module_n(1, false, "A"));
  start();
  search();
  auto settings = model_->open_configure();
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->mask_index, 7);  // code 8: 255.255.255.0
  EXPECT_EQ(settings->gateway, "0.0.0.0");
  EXPECT_EQ(settings->port, "10001");

  tcp_edit edit{*settings, true, true, true};
  edit.values.mask_index = 7;
  edit.values.gateway = "10.0.0.254";
  edit.values.port = "10001";
  // Refusals first: nothing is written.
  struct row {
    const char* port;
    const char* gateway;
    const char* message;
  };
  const row refused[] = {{"9999", "10.0.0.254", "This Port Number is reserved !"},
                         {"abc", "10.0.0.254", "This Port Number is reserved !"},
                         {"0", "10.0.0.254", "Insert a valid TCP Port number !"},
                         {"70000", "10.0.0.254", "Insert a valid TCP Port number !"},
                         {"10001", "10.0.0", "Insert a valid IP address !"}};
  sim_->clear_received();
  for (const row& r : refused) {
    tcp_edit bad = edit;
    bad.values.port = r.port;
    bad.values.gateway = r.gateway;
    const outcome o = model_->apply_tcp(bad);
    EXPECT_EQ(o.messages, std::vector<std::string>{r.message}) << r.port << " " << r.gateway;
  }
  EXPECT_TRUE(sim_->received().empty());

  edit.values.port = "10001";
  outcome o = model_->apply_tcp(edit);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.messages, std::vector<std::string>{"Switch off/on the printer to make the new TCP port value active."});
  auto network = record(0, 0xE0);
  EXPECT_EQ(network[6], 8);
  EXPECT_EQ(network[20], 0x11);
  EXPECT_EQ(network[21], 0x27);
  EXPECT_EQ(std::vector<std::uint8_t>(network.begin() + 12, network.begin() + 16),
            (std::vector<std::uint8_t>{10, 0, 0, 254}));
  EXPECT_EQ(model_->status_operation(), "CONFIGURE");

  // Only what was touched changes; no change at all sends nothing.
  tcp_edit mask_only{*settings, true, false, false};
  mask_only.values.mask_index = 23;
  ASSERT_TRUE(model_->apply_tcp(mask_only).ok);
  network = record(0, 0xE0);
  EXPECT_EQ(network[6], 24);
  EXPECT_EQ(network[12], 10);
  sim_->clear_received();
  EXPECT_TRUE(model_->apply_tcp(tcp_edit{*settings, false, false, false}).close);
  EXPECT_TRUE(sim_->received().empty());

  // A mask code of 0 leaves the list without a selection.
  mask_only.values.mask_index = 31;
  ASSERT_TRUE(model_->apply_tcp(mask_only).ok);
  EXPECT_EQ(model_->open_configure()->mask_index, -1);
}

TEST_F(Model, WifiTabReadsAndWritesAdHocWepAndInfrastructure) {
  add(module_n(1, false, "WIRED"));
  add(module_n(2, true, "RADIO"));
  start();
  search();
  select("10.0.0.20");
  std::string message;
  EXPECT_FALSE(model_->open_wifi(message).has_value());  // tab 1 is for wireless rows only
  select("10.0.0.21");
  auto s = model_->open_wifi(message);
  ASSERT_TRUE(s.has_value()) << message;
  EXPECT_FALSE(s->ad_hoc);
  EXPECT_EQ(s->ssid, "POSLAN");
  EXPECT_EQ(s->tx_rate, 6);
  EXPECT_FALSE(s->wep);

  // Ad hoc, FRANCE channel 11, 64-bit WEP with a shared key.
  wifi_settings w = *s;
  w.ad_hoc = true;
  w.ssid_ad_hoc = "SHOP";
  w.country = kCountryFrance;
  w.channel_index = 1;
  w.tx_rate = 3;
  w.wep = true;
  w.authentication = 1;
  w.key_length = 1;
  struct row {
    int key_length;
    const char* key;
    const char* ssid;
    const char* message;
  };
  const row refused[] = {{0, "0123456789", "SHOP", "Insert a valid key length !"},
                         {1, "012345678", "SHOP", "The key lenght must be 10 or 26 char !"},
                         {2, "0123456789", "SHOP", "The key lenght must be 10 or 26 char !"},
                         {1, "01234567ZZ", "SHOP", "The key lenght must be 10 or 26 char !"},
                         {1, "0123456789", "", "Insert a valid printer name !"}};
  sim_->clear_received();
  for (const row& r : refused) {
    wifi_settings bad = w;
    bad.key_length = r.key_length;
    bad.key = r.key;
    bad.ssid_ad_hoc = r.ssid;
    const outcome o = model_->apply_wifi(bad);
    EXPECT_EQ(o.messages, std::vector<std::string>{r.message}) << r.key;
  }
  for (const auto& d : sim_->received()) EXPECT_NE(d.bytes[1], 0x01) << "a refused apply wrote a record";

  w.key = "A1b2C3d4E5";
  outcome o = model_->apply_wifi(w);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.messages, std::vector<std::string>{"Switch off/on the printer to make the new settings active."});
  auto wireless = record(1, 0xE8);
  EXPECT_EQ(wireless[0], 0x31);  // rate 3 in bits 4 to 6 (the default 6 replaced), bit 0 set
  EXPECT_EQ(wireless[1], 1 + 2 * 1 + 16 * 11);
  EXPECT_EQ(wireless[2], 1 + 4 * 1 + 32 * 1);
  EXPECT_EQ(std::string(wireless.begin() + 3, wireless.begin() + 8), std::string("SHOP\0", 5));
  auto key = record(1, 0xE9);
  EXPECT_EQ(std::vector<std::uint8_t>(key.begin() + 7, key.begin() + 13),
            (std::vector<std::uint8_t>{0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0x00}));
  EXPECT_EQ(record(1, 0xE4)[10], kCountryFrance);

  // Reading back what was written.
  s = model_->open_wifi(message);
  ASSERT_TRUE(s.has_value()) << message;
  EXPECT_TRUE(s->ad_hoc);
  EXPECT_EQ(s->ssid_ad_hoc, "SHOP");
  EXPECT_EQ(s->country, kCountryFrance);
  EXPECT_EQ(s->channel_index, 1);
  EXPECT_TRUE(s->wep);
  EXPECT_EQ(s->key_max_chars, 10);
  EXPECT_EQ(s->key, "");  // the key is never shown

  // Back to infrastructure: the mode bit clears, the key record is kept as it was.
  w = *s;
  w.ad_hoc = false;
  w.ssid = "STORE";
  ASSERT_TRUE(model_->apply_wifi(w).ok);
  wireless = record(1, 0xE8);
  EXPECT_EQ(wireless[1] & 1, 0);
  EXPECT_EQ(std::string(wireless.begin() + 3, wireless.begin() + 8), "STORE");
  EXPECT_EQ(record(1, 0xE9)[7], 0xA1);

  // Ad hoc without WEP clears the key.
  w.ad_hoc = true;
  w.ssid_ad_hoc = "SHOP";
  w.wep = false;
  ASSERT_TRUE(model_->apply_wifi(w).ok);
  key = record(1, 0xE9);
  EXPECT_TRUE(std::all_of(key.begin() + 7, key.begin() + 72, [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(record(1, 0xE8)[2], 0);

  // A module that stops answering: the tab's message.
  sim_->set_behaviour(1, 0, 0);
  EXPECT_FALSE(model_->open_wifi(message).has_value());
  EXPECT_EQ(message, "QuerySetupRecord comunication error !");
}

TEST_F(Model, SetIpRefusesAnAddressInUseWithoutSendingAndMovesTheModuleOtherwise) {
  add(module_n(1));
  add(module_n(2));
  start();
  search();
  select("10.0.0.20");
  sim_->clear_received();
  outcome o = model_->set_ip("10.0.0.21");  // module 2 answers the ping
  EXPECT_EQ(o.messages, std::vector<std::string>{"IP address in use !"});
  EXPECT_TRUE(sim_->received().empty());
  o = model_->set_ip("10.0.0.300");
  EXPECT_EQ(o.messages, std::vector<std::string>{"Insert a valid IP address !"});

  o = model_->set_ip("10.0.0.77");
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(model_->status_operation(), "SET IP");
  EXPECT_EQ(model_->status_result(), "OLP_NO_ERROR");
  EXPECT_EQ(sim_->module(0).config.ip, "10.0.0.77");
  EXPECT_EQ(model_->selected_row()->ip, "10.0.0.77");

  // A module that does not come back: ten tries, 1 s apart, then DEVICE NOT RESPONDING.
  sim_->set_behaviour(0, 0, 0);
  waits_.clear();
  o = model_->set_ip("10.0.0.78");
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(model_->status_result(), "DEVICE NOT RESPONDING");
  EXPECT_EQ(waits_, std::vector<int>(9, 1000));
  EXPECT_EQ(model_->selected_row()->ip, "10.0.0.77");
}

TEST_F(Model, ResetClearsNameAndNetworkRecordAndSendsTheModuleTo0000) {
  add(module_n(1, false, "OLD"));
  start();
  search();
  tcp_edit edit{*model_->open_configure(), true, true, true};
  edit.values = {3, "10.0.0.254", "9100"};
  ASSERT_TRUE(model_->apply_tcp(edit).ok);
  waits_.clear();
  const outcome o = model_->reset();
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(model_->status_operation(), "RESET");
  EXPECT_EQ(model_->status_result(), "OLP_NO_ERROR");
  EXPECT_EQ(sim_->module(0).config.name, "");
  const auto network = record(0, 0xE0);
  EXPECT_EQ(network[6], 0);
  EXPECT_EQ(std::vector<std::uint8_t>(network.begin() + 12, network.begin() + 16), std::vector<std::uint8_t>(4, 0));
  EXPECT_EQ(network[20], 17);
  EXPECT_EQ(network[21], 39);
  EXPECT_EQ(wait_for_address(0, ""), "");
  EXPECT_EQ(waits_, std::vector<int>{10000});
  const printer_row& row = model_->rows()[0];
  EXPECT_EQ(row.name, "");
  EXPECT_EQ(row.status, "NOT INITIALIZED");
  EXPECT_EQ(row.port, "10001");
  EXPECT_FALSE(model_->commands().configure);
}

TEST_F(Model, PingShowsTheEchoStatus) {
  add(module_n(1));
  start();
  std::string message;
  EXPECT_EQ(model_->ping("10.0.0.20", message), "ip success");
  EXPECT_EQ(model_->ping("10.0.0.99", message), "ip req timed out");
  EXPECT_EQ(model_->ping("10.0.0.", message), std::nullopt);
  EXPECT_EQ(message, "Insert a valid IP address !");
}

TEST_F(Model, AdapterListAndChoice) {
  std::string message;
  const auto rows = model_->adapter_rows(message);
  ASSERT_EQ(rows.size(), 1u) << message;
  EXPECT_EQ(rows[0].name, "lan0");
  EXPECT_EQ(rows[0].type, "Ethernet adapter");
  EXPECT_EQ(rows[0].ip, "10.0.0.1");
  EXPECT_EQ(rows[0].subnet, "255.255.255.0");
  EXPECT_EQ(rows[0].gateway, "10.0.0.254");
  EXPECT_EQ(rows[0].dhcp, "Disabled");
  const outcome none = model_->apply_adapter(-1);
  EXPECT_EQ(none.messages, std::vector<std::string>{"An adapter must be selected !"});
  EXPECT_FALSE(none.close);
  EXPECT_TRUE(model_->apply_adapter(2).ok);
  EXPECT_EQ(model_->adapter_index(), 2);
}

// The technician's whole job against 20 modules: search, name one, configure its port, move it
// to a new address and print the test page there.
TEST_F(Model, FullSessionWithTwentyModules) {
  for (int n = 1; n <= 20; ++n) add(module_n(n, n > 15, n % 4 == 0 ? "P" + std::to_string(n) : ""));
  start();
  search();
  ASSERT_EQ(model_->rows().size(), 20u);
  select("10.0.0.25");  // module 6, wired, no name
  EXPECT_EQ(model_->selected_row()->status, "NOT INITIALIZED");
  EXPECT_FALSE(model_->commands().configure);

  ASSERT_TRUE(model_->initialize("FRONT COUNTER").ok);
  EXPECT_TRUE(model_->commands().configure);

  tcp_edit edit{*model_->open_configure(), false, false, true};
  edit.values.port = "9100";
  ASSERT_TRUE(model_->apply_tcp(edit).ok);
  EXPECT_EQ(model_->selected_row()->port, "9100");

  ASSERT_TRUE(model_->set_ip("10.0.0.120").ok);
  EXPECT_EQ(sim_->module(5).config.ip, "10.0.0.120");

  ASSERT_TRUE(model_->print_test_page().ok);
  const std::string expected = test_page_bytes("10.0.0.120", "00-80-A3-00-12-39", "9100", "FRONT COUNTER");
  for (int i = 0; i < 400 && sim_->module(5).printed.size() < expected.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(sim_->module(5).printed, expected);

  // A new search finds the module at its new place with its name.
  search();
  ASSERT_EQ(model_->rows().size(), 20u);
  select("10.0.0.120");
  EXPECT_EQ(model_->selected_row()->name, "FRONT COUNTER");
  EXPECT_EQ(model_->selected_row()->port, "9100");
}

}  // namespace
}  // namespace netsetup
