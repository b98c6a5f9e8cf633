// Writes a picture of the LAN setup program's main window after a search that found simulated
// printers (wired and wireless, named and not), rendered offscreen in a private network
// namespace (run as root):
//   netsetup_screenshots <output folder>
#include <QApplication>
#include <QTreeWidget>

#include <cstdio>

#include "netcfg/configurator.h"
#include "netcfg/lan_simulator.h"
#include "netsetup_forms.h"
#include "platform/net.h"
#include "platform/testing/netns.h"

namespace {

class silent_prompts : public netsetup::prompts {
 public:
  void warning(const std::string&) override {}
  void information(const std::string&) override {}
  bool confirm(const std::string&) override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  if (const auto why = platform::testing::enter_private_network()) {
    std::fprintf(stderr, "%s: %s\n", argv[0], why->c_str());
    return 1;
  }
  if (const auto why = platform::testing::make_test_lan("192.168.1.10/24", "192.168.1.1")) {
    std::fprintf(stderr, "%s: %s\n", argv[0], why->c_str());
    return 1;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  netcfg::sim::lan_simulator::options opts;
  opts.interface_name = "lan1";
  opts.serve_tcp = false;
  netcfg::sim::lan_simulator simulator(opts);
  const struct {
    const char* ip;
    std::uint8_t last;
    bool wireless;
    const char* name;
    std::uint16_t port;
  } modules[] = {{"192.168.1.51", 0x34, false, "FRONT COUNTER", 10001}, {"192.168.1.52", 0x35, false, "KITCHEN", 9100},
                 {"192.168.1.53", 0x36, false, "", 10001},              {"192.168.1.61", 0x41, true, "TERRACE", 10001},
                 {"192.168.1.62", 0x42, true, "", 10001}};
  for (const auto& m : modules) {
    netcfg::sim::module_config c;
    c.ip = m.ip;
    c.mac = {0x00, 0x80, 0xA3, 0x6B, 0x12, m.last};
    c.wireless = m.wireless;
    c.name = m.name;
    c.tcp_port = m.port;
    std::string error;
    if (!simulator.add_module(c, error)) return 1;
  }
  std::string error;
  if (!simulator.start(error)) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
    return 1;
  }
  std::uint32_t cookie = 0;
  netcfg::register_in_process(cookie);
  platform::com_ptr<platform::dispatch> configurator;
  if (platform::failed(platform::create_instance(netcfg::kConfiguratorVersionIndependentProgId, configurator))) return 1;
  netsetup::netsetup_model model(configurator, netsetup::default_services());
  if (model.start()) return 1;
  std::vector<platform::net::adapter_info> adapters;
  int list_error = 0;
  platform::net::list_adapters(adapters, list_error);
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    if (adapters[i].name == "lan0") model.apply_adapter(static_cast<int>(i));
  }
  silent_prompts boxes;
  netsetup::FrmMain window(model, boxes);
  window.show();
  window.search();
  QApplication::processEvents();
  const QString out = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/netsetup.png");
  if (!window.grab().save(out)) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], out.toLocal8Bit().constData());
    return 1;
  }
  std::printf("%s\n", out.toLocal8Bit().constData());
  return 0;
}
