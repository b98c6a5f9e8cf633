// Fuzz target of the utilities' escape-script lines (utilities/common printer_link.cpp): comments,
// <n,n> groups and clock fields. Besides crashes and sanitizer reports it stops when a result
// breaks a promise: a line grows at most as much as clock fields can make it grow, and a line
// without comments, groups or fields passes unchanged.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "require.h"
#include "utilities/printer_link.h"

namespace {

// A window that is never asked anything while lines are expanded.
struct silent_ui final : utilities::user_interface {
  void set_status(int, const std::string&) override {}
  void show_message(const std::string&) override {}
  void message_box(const std::string&, utilities::box_icon) override {}
  utilities::box_answer ask(const std::string&, utilities::box_buttons, utilities::box_icon) override {
    return utilities::box_answer::cancel;
  }
  void pump(int) override {}
  bool end_requested() const override { return true; }
  void set_busy_pointer(bool) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static silent_ui ui;
  static utilities::printer_link link(ui, [] { return std::chrono::system_clock::time_point(std::chrono::hours(24 * 365 * 30)); });
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const std::string out = link.expand_script_line(line);
  // A clock field takes 4 characters and gives at most 10 ("dd/mm/yyyy"); groups and comments shrink.
  require(2 * out.size() <= 5 * line.size());
  if (line.find_first_of("</\x1b") == std::string_view::npos) require(out == line);
  return 0;
}
