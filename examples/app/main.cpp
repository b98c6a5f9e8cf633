// A small point-of-sale application on the kit's C++ API: it prints a receipt on the POS printer
// asynchronously and waits for its OutputCompleteEvent, shows the total on the customer display,
// opens the cash drawer, and reports every event it receives.
//
//   pos_app [PRINTER [DISPLAY [DRAWER]]]   device names (VX40Device VX40LineControl VX40DrawerControl)
//
// The devices come from the kit's registry (poskit-setup-demo makes one on the virtual printer).
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <string>

#include <opos/cash_drawer.h>
#include <opos/line_display.h>
#include <opos/pos_printer.h>

namespace {

// Prints the printer's events; an ErrorEvent is answered with "clear".
struct printer_events : opos::pos_printer_events {
  int completed = -1;
  void on_output_complete(std::int32_t output_id) override {
    std::printf("event: OutputCompleteEvent %d\n", output_id);
    completed = output_id;
  }
  void on_status_update(std::int32_t data) override { std::printf("event: StatusUpdateEvent %d\n", data); }
  void on_error(std::int32_t result, std::int32_t extended, std::int32_t locus, std::int32_t& response) override {
    std::printf("event: ErrorEvent %d %d %d, answered clear\n", result, extended, locus);
    response = opos::kErrorResponseClear;
  }
};

struct drawer_events : opos::cash_drawer_events {
  void on_status_update(std::int32_t data) override {
    std::printf("event: drawer %s\n", data == opos::kCashSueDrawerOpen ? "opened" : "status change");
  }
};

// Fails the step `what` when `result` is not success.
bool check(const char* what, std::int32_t result) {
  if (result == opos::kSuccess) return true;
  std::fprintf(stderr, "pos_app: %s failed with %d\n", what, result);
  return false;
}

// Dispatches the thread's messages, as an application's event loop would, until `done` holds or
// `timeout_ms` have passed.
template <class Done>
bool run_until(Done done, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  pollfd fd{opos::message_fd(), POLLIN, 0};
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    ::poll(&fd, 1, static_cast<int>(left.count()));
    opos::dispatch_messages();
  }
  return true;
}

int print_receipt(const std::string& device) {
  opos::pos_printer printer;
  printer_events events;
  printer.set_event_handler(&events);
  if (!check("printer Open", printer.Open(device)) || !check("printer Claim", printer.Claim(3000))) return 1;
  printer.SetDeviceEnabled(true);
  printer.SetAsyncMode(true);
  const char* lines[] = {"\x1b|cA\x1b|bCCorner Shop\n", "Coffee              2.50\n", "Croissant           1.80\n",
                         "\x1b|bCTOTAL               4.30\n", "\x1b|cAThank you!\n"};
  for (const char* line : lines) {
    if (!check("PrintNormal", printer.PrintNormal(opos::kPtrStationReceipt, line))) return 1;
  }
  if (!check("CutPaper", printer.CutPaper(90))) return 1;
  const int last = printer.GetOutputID();
  if (!run_until([&] { return events.completed == last; }, 10000)) {
    std::fprintf(stderr, "pos_app: the receipt was not printed within 10 s\n");
    return 1;
  }
  std::printf("receipt printed (output %d)\n", last);
  printer.SetDeviceEnabled(false);
  printer.Release();
  printer.Close();
  return 0;
}

int show_total(const std::string& device) {
  opos::line_display display;
  if (!check("display Open", display.Open(device)) || !check("display Claim", display.Claim(3000))) return 1;
  display.SetDeviceEnabled(true);
  if (!check("DisplayText", display.DisplayText("TOTAL 4.30"))) return 1;
  std::printf("display shows the total\n");
  display.Release();
  display.Close();
  return 0;
}

int open_drawer(const std::string& device) {
  opos::cash_drawer drawer;
  drawer_events events;
  drawer.set_event_handler(&events);
  if (!check("drawer Open", drawer.Open(device)) || !check("drawer Claim", drawer.Claim(3000))) return 1;
  drawer.SetDeviceEnabled(true);
  if (!check("OpenDrawer", drawer.OpenDrawer())) return 1;
  std::printf("drawer opened\n");
  drawer.Release();
  drawer.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string printer = argc > 1 ? argv[1] : "VX40Device";
  const std::string display = argc > 2 ? argv[2] : "VX40LineControl";
  const std::string drawer = argc > 3 ? argv[3] : "VX40DrawerControl";
  try {
    if (print_receipt(printer) != 0) return 1;
    if (show_total(display) != 0) return 1;
    if (open_drawer(drawer) != 0) return 1;
  } catch (const opos::automation_error& e) {
    std::fprintf(stderr, "pos_app: %s\n", e.what());
    return 1;
  }
  return 0;
}
