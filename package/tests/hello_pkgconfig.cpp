// A one-file consumer of the installed kit, built with `pkg-config --cflags --libs poskit`: prints
// one line on the example POS printer and checks every result.
#include <cstdio>

#include <opos/pos_printer.h>

int main() {
  try {
    opos::pos_printer printer;
    const std::int32_t results[] = {printer.Open("VX40Device"), printer.Claim(3000)};
    for (const std::int32_t r : results) {
      if (r != opos::kSuccess) {
        std::fprintf(stderr, "hello: Open or Claim failed with %d\n", r);
        return 1;
      }
    }
    printer.SetDeviceEnabled(true);
    const std::int32_t printed = printer.PrintNormal(opos::kPtrStationReceipt, "Hello from pkg-config\n");
    std::printf("hello: PrintNormal %d, %s\n", printed, printer.GetDeviceDescription().c_str());
    printer.Close();
    return printed == opos::kSuccess ? 0 : 1;
  } catch (const opos::automation_error& e) {
    std::fprintf(stderr, "hello: %s\n", e.what());
    return 1;
  }
}
