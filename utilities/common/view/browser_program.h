// The start of the utilities' browser programs (Oposetup, Logo, Memory): their command line
// (--help, --version), one instance per program name and user, and the printer browser's window.
// The programs differ only in their help text and the utility window they register.
#pragma once

#include <functional>
#include <string>

namespace utilities_view {

// What sets one browser program apart.
struct browser_program {
  // The --help text between the usage line and the options, each line ending in "\n".
  const char* description = "";
  // The About box's file description; empty keeps the browser's own.
  std::string file_description;
  // Registers the utility window opened after a connection (register_utility_window); empty when
  // the program opens none. Runs once Qt is up and this is the program's only instance.
  std::function<void()> register_windows;
};

// The main function of a browser program started as argv[0] (a link's own name, not the file it
// leads to): --help and --version are answered without a display, a bad argument ends with 2 and
// one line on stderr, a second instance of the same name ends at once with 0; otherwise the
// browser runs until its window closes and its exit status is returned.
int run_browser_program(int argc, char* argv[], const browser_program& program);

}  // namespace utilities_view
