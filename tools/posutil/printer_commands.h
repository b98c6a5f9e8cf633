// posutil's printer commands: the browser's tree, identification and the status check.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "posutil.h"
#include "utilities/browser.h"

namespace posutil {

// The text as a JSON string.
std::string json_string(std::string_view text);
// The folder of this program (its INI file lies there), else the working folder.
std::filesystem::path program_folder();
// The browser's model for this run: this computer, or the --server given.
std::unique_ptr<utilities::start_form_model> make_model(const context& ctx, utilities::browser_ui& ui);
// The printer node named `printer`: its name in the collection or its port, ignoring case.
const utilities::tree_node* find_printer(const utilities::start_form_model& model, std::string_view printer);
// find_printer for a subcommand: when there is no such printer, says so on ctx.err
// ("posutil: no printer X (see posutil printers)") and gives null.
const utilities::tree_node* find_printer_or_report(const context& ctx, const utilities::start_form_model& model,
                                                   std::string_view printer);

// The browser's window (and the utility windows') for a console: messages written to `err` as
// "posutil: " and the text, its CR and CR LF breaks as new lines; questions answered No (Yes/No)
// or Cancel, as nobody waits to answer them; waits yield to this thread's message queue, where a
// remote creation reports its end. The last program status is kept.
class console_ui : public utilities::browser_ui {
 public:
  explicit console_ui(std::ostream& err) : err_(err) {}
  void set_status(int panel, const std::string& text) override;
  void show_message(const std::string& text) override;
  void message_box(const std::string& text, utilities::box_icon icon) override;
  utilities::box_answer ask(const std::string& text, utilities::box_buttons buttons, utilities::box_icon icon) override;
  void pump(int ms) override;
  bool end_requested() const override { return false; }
  void set_busy_pointer(bool) override {}
  std::optional<std::string> choose_server(bool add_mode, const std::vector<std::string>& choices,
                                           int preselected) override;

  const std::string& last_status() const { return last_status_; }
  // Whether a message or question was written.
  bool said_something() const { return said_; }

 private:
  std::ostream& err_;
  std::string last_status_;
  bool said_ = false;
};

// printers [--json]: the servers and printers as the browser's tree.
int run_printers(const context& ctx, const std::vector<std::string>& args);
// identify PRINTER [--json]: the identification byte, model and brand.
int run_identify(const context& ctx, const std::vector<std::string>& args);
// status PRINTER: StatusCheck and its text.
int run_status(const context& ctx, const std::vector<std::string>& args);

}  // namespace posutil
