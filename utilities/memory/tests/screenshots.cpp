// Writes a picture of PrnForm showing the virtual printer's full setup (as the SETUP program shows
// it), rendered offscreen with the printer on a sim port in a temporary registry:
//   memory_screenshots OUTPUT_FOLDER
#include <QTreeWidget>

#include <cstdio>

#include "prn_form.h"
#include "screenshot_session.h"

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

}  // namespace

int main(int argc, char** argv) {
  if (!utilities_test::screenshot_session::arguments_given(argc, argv, "OUTPUT_FOLDER")) return 2;
  utilities_test::screenshot_session session(argc, argv);
  if (!session.register_monitor()) return 1;
  session.set_port("COM1", "sim:counter", "Counter");

  quiet_ui dialogs;
  utilities::printer_link link(dialogs);
  link.set_channel(session.channel_of("COM1"));
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
  if (form.model().last_upload() != memory::upload_outcome::tree_built ||
      !session.shoot(form, argv[1], "setup-tree.png")) {
    std::fprintf(stderr, "%s: cannot make the picture in %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
