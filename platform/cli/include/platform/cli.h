// Command-line options of the kit's programs: one parser (getopt_long underneath) so that every
// tool accepts the same forms, and the --version line.
//
// Use in a program:
//   constexpr platform::cli::option kOptions[] = {
//       {"registry", 0, platform::cli::kValue, "DIR", "use the registry kept in DIR"},
//       {"json", 0, platform::cli::kFlag, "", "print JSON lines"},
//       {"help", 'h', platform::cli::kFlag, "", "show this text"},
//       {"version", 0, platform::cli::kFlag, "", "show the kit's version"},
//   };
//   platform::cli::parsed p;
//   std::string error;
//   if (!platform::cli::parse(kOptions, args, p, error)) {   // args: after the program name
//     std::cerr << "tool: " << error << " (see tool --help)\n";  // one line
//     return 2;                                                  // usage errors exit 2
//   }
//   if (p.has("version")) { std::cout << platform::cli::version_line("tool") << "\n"; return 0; }
//   const std::string dir = p.value("registry");
// Long options take "--name=VALUE" and "--name VALUE"; short ones "-xVALUE" and "-x VALUE";
// "--" ends the options. platform::cli::option_help(kOptions) gives the options' help lines.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::cli {

inline constexpr bool kFlag = false;
inline constexpr bool kValue = true;

// One option: its long name (without "--"), its short letter (0: none), whether it takes a value,
// the value's name and one line of help.
struct option {
  std::string_view long_name;
  char short_name = 0;
  bool takes_value = kFlag;
  std::string_view value_name;
  std::string_view help;
};

// What parse found: the options given, in order (by long name, with their values), and the
// operands.
struct parsed {
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> operands;

  // True when the option was given at least once.
  bool has(std::string_view long_name) const;
  // The value of the option's last occurrence, or `fallback` when it was not given.
  std::string value(std::string_view long_name, std::string_view fallback = {}) const;
};

// How operands and options may mix.
enum class operand_order {
  anywhere,        // options may follow operands (posrun SCRIPT --json)
  options_first,   // the first operand ends the options (a subcommand's own arguments follow)
};

// Parses `args` (the arguments after the program name). False with a one-line reason in `error`
// ("unknown option --x", "--class needs a value", "--json takes no value") for a usage error.
bool parse(std::span<const option> options, const std::vector<std::string>& args, parsed& out, std::string& error,
           operand_order order = operand_order::anywhere);

// The options' help lines, aligned: "  -h, --help          show this text\n".
std::string option_help(std::span<const option> options);

// The kit's version ("0.1.0"), the project version the build was made from.
std::string_view kit_version();
// Every program's answer to --version: "NAME (poskit) VERSION".
std::string version_line(std::string_view program);

}  // namespace platform::cli
