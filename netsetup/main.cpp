// Netsetup: the LAN printer setup program. It creates the configurator (Netcfg.Configurator),
// initialises it and shows the main window; a failing start-up shows the warning and ends.
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <iostream>
#include <string>
#include <vector>

#include "netcfg/configurator.h"
#include "netsetup_forms.h"
#include "platform/cli.h"

namespace {

constexpr platform::cli::option kOptions[] = {
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
    {"version", 0, platform::cli::kFlag, "", "show the kit's version"},
};

}  // namespace

int main(int argc, char** argv) {
  // The command line is read before the window system is, so that --help and --version work
  // without a display.
  platform::cli::parsed options;
  std::string problem;
  if (!platform::cli::parse(kOptions, std::vector<std::string>(argv + 1, argv + argc), options, problem) ||
      (problem = "unexpected argument " + (options.operands.empty() ? std::string() : options.operands.front()),
       !options.operands.empty())) {
    std::cerr << "Netsetup: " << problem << " (see Netsetup --help)\n";
    return 2;
  }
  if (options.has("help")) {
    std::cout << "Usage: Netsetup\nFinds the POS printers on the LAN through their network modules and sets\n"
                 "them up (name, TCP and Wi-Fi settings, IP address, reset, ping, test page).\n"
                 "The configurator is Netcfg.Configurator (registered with regsvr), else the one\n"
                 "built into this program.\n\nOptions:\n"
              << platform::cli::option_help(kOptions);
    return 0;
  }
  if (options.has("version")) {
    std::cout << platform::cli::version_line("Netsetup") << "\n";
    return 0;
  }
  QApplication app(argc, argv);
  netsetup::screen_prompts boxes(nullptr);
  platform::com_ptr<platform::dispatch> configurator;
  if (platform::failed(platform::create_instance(netcfg::kConfiguratorVersionIndependentProgId, configurator))) {
    std::uint32_t cookie = 0;
    netcfg::register_in_process(cookie);
    if (platform::failed(platform::create_instance(netcfg::kConfiguratorVersionIndependentProgId, configurator))) {
      boxes.warning("Lan initialization error " + std::to_string(netcfg::OLP_WSA_ERROR) + " !");
      return 1;
    }
  }
  // Waits (after an address change, up to 10 s) keep the windows answering.
  netsetup::services svc = netsetup::default_services();
  svc.wait = [](int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
      QApplication::processEvents(QEventLoop::AllEvents, 20);
      QThread::msleep(10);
    }
  };
  netsetup::netsetup_model model(configurator, svc);
  if (const auto warning = model.start()) {
    boxes.warning(*warning);
    return 1;
  }
  netsetup::FrmMain window(model, boxes);
  window.show();
  return app.exec();
}
