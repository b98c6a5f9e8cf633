// Writes pictures of StartForm in local and in network mode, rendered offscreen with printers of
// the virtual printer in a temporary registry (other computers are stand-ins):
//   utilities_screenshots OUTPUT_FOLDER
#include <dlfcn.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

#include "fake_servers.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "start_form.h"

namespace {

void set_value(const std::string& key, const char* name, const std::string& value) {
  platform::registry_key k;
  platform::registry_key::create(platform::registry_root::local_machine, key, k);
  k.set_string(name, value);
}

void set_port(const std::string& port, const std::string& uri, const std::string& name) {
  const std::string key = std::string(monitor::kPortsKey) + "\\" + port;
  set_value(key, "Transport", uri);
  set_value(key, "MachineType", "VX40");
  set_value(key, "Name", name);
}

bool shoot(utilities_test::fake_network& net, const QString& file) {
  utilities::browser_environment env;
  env.exe_name = "Logo";
  env.title = "Logo";
  env.computer_name = "till1";
  env.domain = "STORE";
  utilities_view::StartForm form([&net] { return std::make_unique<utilities_test::fake_creator>(net); }, env);
  form.show();
  form.load();
  auto* tree = form.findChild<QTreeWidget*>(QStringLiteral("tvwServerCollection"));
  tree->expandAll();
  QApplication::processEvents();
  return form.grab().save(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  const platform::testing::scoped_registry_dir registry;
  QApplication app(argc, argv);
  void* library = ::dlopen(QUOREL_MONITOR_PATH, RTLD_NOW | RTLD_LOCAL);
  const auto register_server =
      library ? reinterpret_cast<platform::dll_register_server_fn>(::dlsym(library, "DllRegisterServer")) : nullptr;
  if (register_server == nullptr || register_server() != platform::kSOk) {
    std::fprintf(stderr, "%s: cannot register the monitor library\n", argv[0]);
    return 1;
  }
  set_port("COM1", "sim:counter?id=46", "Counter");
  set_port("USB001", "sim:qw?protocol=2&model=QW-310", "QW-310");
  set_port("LAN1", "socket://192.0.2.20:9100", "Kitchen");

  // The network picture reports a busy and an unreachable server: their messages are closed.
  QTimer dismiss;
  QObject::connect(&dismiss, &QTimer::timeout, [] {
    if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
  });
  dismiss.start(20);

  utilities_test::fake_network net;
  net.servers["till1"] = utilities_test::server_kind::reachable;
  const QString out = QString::fromLocal8Bit(argv[1]);
  bool ok = shoot(net, out + QStringLiteral("/startform-local.png"));

  set_value(utilities::kInstallationKey, "InstallationType", "NETWORK");
  set_value(utilities::kInstallationKey, "MainServer", "backoffice");
  net.main_server = "backoffice";
  net.servers["backoffice"] = utilities_test::server_kind::reachable;
  net.servers["till2"] = utilities_test::server_kind::busy;
  net.collection->servers = {"till1", "till2", "till3"};
  net.collection->info = "Main server: backoffice";
  ok = shoot(net, out + QStringLiteral("/startform-network.png")) && ok;
  if (!ok) {
    std::fprintf(stderr, "%s: cannot write the pictures to %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
