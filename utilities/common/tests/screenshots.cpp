// Writes pictures of StartForm in local and in network mode, rendered offscreen with printers of
// the virtual printer in a temporary registry (other computers are stand-ins):
//   utilities_screenshots OUTPUT_FOLDER
#include <QDialog>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <string>

#include "fake_servers.h"
#include "screenshot_session.h"
#include "start_form.h"

namespace {

bool shoot_browser(utilities_test::fake_network& net, const std::string& folder, const char* file) {
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
  return utilities_test::screenshot_session::shoot(form, folder, file);
}

}  // namespace

int main(int argc, char** argv) {
  if (!utilities_test::screenshot_session::arguments_given(argc, argv, "OUTPUT_FOLDER")) return 2;
  utilities_test::screenshot_session session(argc, argv);
  if (!session.register_monitor()) return 1;
  session.set_port("COM1", "sim:counter?id=46", "Counter");
  session.set_port("USB001", "sim:qw?protocol=2&model=QW-310", "QW-310");
  session.set_port("LAN1", "socket://192.0.2.20:9100", "Kitchen");

  // The network picture reports a busy and an unreachable server: their messages are closed.
  QTimer dismiss;
  QObject::connect(&dismiss, &QTimer::timeout, [] {
    if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
  });
  dismiss.start(20);

  utilities_test::fake_network net;
  net.servers["till1"] = utilities_test::server_kind::reachable;
  bool ok = shoot_browser(net, argv[1], "startform-local.png");

  session.set_value(utilities::kInstallationKey, "InstallationType", "NETWORK");
  session.set_value(utilities::kInstallationKey, "MainServer", "backoffice");
  net.main_server = "backoffice";
  net.servers["backoffice"] = utilities_test::server_kind::reachable;
  net.servers["till2"] = utilities_test::server_kind::busy;
  net.collection->servers = {"till1", "till2", "till3"};
  net.collection->info = "Main server: backoffice";
  ok = shoot_browser(net, argv[1], "startform-network.png") && ok;
  if (!ok) {
    std::fprintf(stderr, "%s: cannot write the pictures to %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
