// Oposetup: the printer browser of the utilities. What it opens after connecting follows the name
// it was started under: OPOSETUP writes the OPOS device keys of the chosen printer; the names that
// open a utility window (LOGO, MEMORY, SETUP, ...) belong to the programs that register one.
// One instance per name runs per user.
#include "browser_program.h"

int main(int argc, char* argv[]) {
  utilities_view::browser_program program;
  program.description =
      "The printer browser: lists the printers of this computer (or of the print servers of the\n"
      "installation) and connects to one. Started as Oposetup it writes the printer's OPOS device keys.\n";
  return utilities_view::run_browser_program(argc, argv, program);
}
