// The posutil command: the technicians' utilities without a window. Each subcommand drives the
// same UI-free model as its window, so that a technician's job can be scripted.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace posutil {

// Exit statuses.
inline constexpr int kExitOk = 0;       // the job was done
inline constexpr int kExitFailure = 1;  // the job failed (printer, network, file); one line says why
inline constexpr int kExitUsage = 2;    // bad command line; one line says why

// What every subcommand gets: the global options and the streams.
struct context {
  std::optional<std::string> registry;  // --registry DIR, already in force for the run
  std::optional<std::string> server;    // --server HOST[:PORT]
  std::ostream& out;
  std::ostream& err;
};

// A subcommand: its name, a one-line synopsis for --help, and its entry point, which gets the
// arguments after its name.
struct subcommand {
  std::string_view name;
  std::string_view synopsis;
  int (*run)(const context& ctx, const std::vector<std::string>& args);
};

// Runs posutil with the arguments after the program name.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Writes "posutil: <reason>" to err and returns kExitUsage; for subcommands' usage errors.
int usage_error(const context& ctx, std::string_view reason);

// Subcommands.
int run_lan(const context& ctx, const std::vector<std::string>& args);    // lan.cpp
int run_logo(const context& ctx, const std::vector<std::string>& args);   // logo.cpp
int run_setup(const context& ctx, const std::vector<std::string>& args);  // setup.cpp

}  // namespace posutil
