// Memory: the setup editor. The printer browser (StartForm) opens PrnForm on the printer the user
// connects to. Started as SETUP (a link to this program) it edits the printer's full setup, under
// any other name its memory setup. One instance per name runs per user.
#include "browser_program.h"
#include "prn_form.h"

int main(int argc, char* argv[]) {
  utilities_view::browser_program program;
  program.description =
      "The setup editor: lists the printers of this computer (or of the print servers of the\n"
      "installation), connects to one and shows its setup as a tree to edit and download.\n"
      "Started as SETUP it edits the printer's full setup, under any other name its memory setup.\n";
  program.register_windows = &memory_view::register_prn_form;
  return utilities_view::run_browser_program(argc, argv, program);
}
