// Logo: the logo utility. It opens on the printer browser (StartForm); once a printer is
// connected and identified, LogoForm converts pictures and stores, prints and deletes the
// printer's logos. The browser opens LogoForm because the program's upper-cased name is LOGO.
// One instance runs per user. The image library and its colour tables lie beside the program.
#include "browser_program.h"
#include "logo_window.h"
#include "start_form.h"

int main(int argc, char* argv[]) {
  utilities_view::browser_program program;
  program.description =
      "The logo utility: choose a printer in the browser, then add BMP pictures, convert them for\n"
      "the printer (paper width, colours, error diffusion) and store, print or delete its logos.\n";
  program.file_description = "Logo utility";
  program.register_windows = [] {
    utilities_view::register_utility_window(utilities::window_kind::logo, &logo_view::LogoForm::open);
  };
  return utilities_view::run_browser_program(argc, argv, program);
}
