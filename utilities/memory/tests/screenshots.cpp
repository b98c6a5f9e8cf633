// Writes a picture of PrnForm showing the virtual printer's full setup (as the SETUP program shows
// it), rendered offscreen with the printer on a sim port in a temporary registry:
//   memory_screenshots OUTPUT_FOLDER
#include <dlfcn.h>

#include <QApplication>
#include <QTreeWidget>

#include <cstdio>

#include "monitor/monitor.h"
#include "platform/com.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "prn_form.h"

namespace {

// A user interface for a picture: no dialog is expected; any would be reported.
struct quiet_ui : utilities::user_interface {
  void set_status(int, const std::string&) override {}
  void show_message(const std::string& text) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
  void message_box(const std::string& text, utilities::box_icon) override { show_message(text); }
  utilities::box_answer ask(const std::string& text, utilities::box_buttons, utilities::box_icon) override {
    show_message(text);
    return utilities::box_answer::cancel;
  }
  void pump(int) override {}
  bool end_requested() const override { return false; }
  void set_busy_pointer(bool) override {}
};

void set_value(const std::string& key, const char* name, const std::string& value) {
  platform::registry_key k;
  platform::registry_key::create(platform::registry_root::local_machine, key, k);
  k.set_string(name, value);
}

platform::com_ptr<platform::dispatch> channel_of(const std::string& port) {
  platform::com_ptr<platform::dispatch> monitor;
  if (platform::failed(platform::create_instance(monitor::kMonitorProgId, monitor)) || !monitor) return {};
  std::string machine = "VX40";
  std::string where = port;
  const platform::call_result r =
      platform::call(monitor.get(), "GetConnection", platform::Variant::ref(machine), platform::Variant::ref(where));
  platform::com_ptr<platform::dispatch> io;
  if (!r.ok() || platform::failed(r.value.as_object(io))) return {};
  return io;
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
  const std::string key = std::string(monitor::kPortsKey) + "\\COM1";
  set_value(key, "Transport", "sim:counter");
  set_value(key, "MachineType", "VX40");
  set_value(key, "Name", "Counter");

  quiet_ui dialogs;
  utilities::printer_link link(dialogs);
  link.set_channel(channel_of("COM1"));
  memory::prn_form_environment env;
  env.exe_name = "SETUP";
  env.model = "VX40";
  env.printer_tag = "COM1";
  memory_view::PrnForm form(link, env, dialogs);
  form.resize(440, 800);
  form.show();
  form.model().activate();
  auto* tree = form.findChild<QTreeWidget*>(QStringLiteral("tvwSetup"));
  // Every top folder open, with a few option groups: every kind of node shows.
  for (const char* folder : {"VX40\\Communication", "VX40\\Communication\\Baud rate", "VX40\\Printing",
                             "VX40\\Printing\\Paper width", "VX40\\Cutter", "VX40\\Buzzer", "VX40\\Memory",
                             "VX40\\Information"}) {
    if (QTreeWidgetItem* item = form.item(folder)) item->setExpanded(true);
  }
  tree->setCurrentItem(form.item("VX40\\Information\\Shop name"));
  tree->scrollToTop();
  QApplication::processEvents();
  if (form.model().last_upload() != memory::upload_outcome::tree_built || !form.grab().save(QString::fromLocal8Bit(argv[1]) + QStringLiteral("/setup-tree.png"))) {
    std::fprintf(stderr, "%s: cannot make the picture in %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
