// posutil's printer commands: the browser's tree, identification and the status check.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <memory>
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
// Writes one message of the utilities to `err` as "posutil: " and the text, its CR and CR LF line
// breaks as new lines.
void print_message(std::ostream& err, const std::string& text);

// printers [--json]: the servers and printers as the browser's tree.
int run_printers(const context& ctx, const std::vector<std::string>& args);
// identify PRINTER [--json]: the identification byte, model and brand.
int run_identify(const context& ctx, const std::vector<std::string>& args);
// status PRINTER: StatusCheck and its text.
int run_status(const context& ctx, const std::vector<std::string>& args);

}  // namespace posutil
