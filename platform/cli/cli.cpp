// The command-line parser over getopt_long, and the version line.
#include "platform/cli.h"

#include <getopt.h>

#include <algorithm>
#include <mutex>

namespace platform::cli {
namespace {

// getopt_long keeps its position in globals; one parse at a time.
std::mutex& parse_mutex() {
  static std::mutex mutex;
  return mutex;
}

// getopt_long's code for option `index`: its short letter, or a value past every character.
int code_of(std::span<const option> options, std::size_t index) {
  return options[index].short_name != 0 ? static_cast<unsigned char>(options[index].short_name)
                                        : 0x100 + static_cast<int>(index);
}

// The option with getopt_long's code `code`, or npos.
std::size_t index_of(std::span<const option> options, int code) {
  for (std::size_t i = 0; i < options.size(); ++i) {
    if (code_of(options, i) == code) return i;
  }
  return std::string::npos;
}

std::string display_name(const option& o) {
  return o.long_name.empty() ? std::string("-") + o.short_name : "--" + std::string(o.long_name);
}

}  // namespace

bool parsed::has(std::string_view long_name) const {
  return std::any_of(options.begin(), options.end(), [&](const auto& o) { return o.first == long_name; });
}

std::string parsed::value(std::string_view long_name, std::string_view fallback) const {
  for (auto it = options.rbegin(); it != options.rend(); ++it) {
    if (it->first == long_name) return it->second;
  }
  return std::string(fallback);
}

bool parse(std::span<const option> options, const std::vector<std::string>& args, parsed& out, std::string& error,
           operand_order order) {
  out = {};
  error.clear();
  // getopt_long wants writable C strings and its own tables.
  std::vector<std::string> storage;
  storage.reserve(args.size() + 1);
  storage.emplace_back("program");
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  // '+' stops at the first operand; '-' hands operands back in place (code 1); ':' reports a
  // missing value apart from an unknown option.
  std::string short_options = order == operand_order::options_first ? "+:" : "-:";
  // The names are views into the caller's table; getopt_long needs them NUL-terminated.
  std::vector<std::string> long_names;
  long_names.reserve(options.size());
  for (const option& o : options) long_names.emplace_back(o.long_name);
  std::vector<::option> long_options;
  for (std::size_t i = 0; i < options.size(); ++i) {
    const option& o = options[i];
    if (o.short_name != 0) {
      short_options += o.short_name;
      if (o.takes_value) short_options += ':';
    }
    if (!o.long_name.empty()) {
      long_options.push_back({long_names[i].c_str(), o.takes_value ? required_argument : no_argument, nullptr,
                              code_of(options, i)});
    }
  }
  long_options.push_back({nullptr, 0, nullptr, 0});

  const std::lock_guard lock(parse_mutex());
  ::optind = 0;  // a full new scan
  ::opterr = 0;
  const int argc = static_cast<int>(storage.size());
  for (;;) {
    const int previous = ::optind == 0 ? 1 : ::optind;  // 0 asks for a new scan, which starts at 1
    const int code = ::getopt_long(argc, argv.data(), short_options.c_str(), long_options.data(), nullptr);
    if (code == -1) break;
    if (code == 1) {
      out.operands.emplace_back(::optarg);
      continue;
    }
    // The argument getopt_long just looked at, for the messages.
    const std::string seen = previous >= 1 && previous < argc ? storage[static_cast<std::size_t>(previous)] : "";
    if (code == ':') {
      const std::size_t i = index_of(options, ::optopt);
      error = (i != std::string::npos ? display_name(options[i]) : seen) + " needs a value";
      return false;
    }
    if (code == '?') {
      const std::size_t i = ::optopt != 0 ? index_of(options, ::optopt) : std::string::npos;
      if (i != std::string::npos && !options[i].takes_value && seen.starts_with("--")) {
        error = display_name(options[i]) + " takes no value";
      } else if (::optopt != 0 && ::optopt < 0x100 && !seen.starts_with("--")) {
        error = std::string("unknown option -") + static_cast<char>(::optopt);
      } else {
        error = "unknown option " + seen.substr(0, seen.find('='));
      }
      return false;
    }
    const std::size_t i = index_of(options, code);
    if (i == std::string::npos) {
      error = "unknown option " + seen;
      return false;
    }
    const std::string name = options[i].long_name.empty() ? std::string(1, options[i].short_name)
                                                            : std::string(options[i].long_name);
    out.options.emplace_back(name, options[i].takes_value && ::optarg != nullptr ? ::optarg : "");
  }
  for (int k = ::optind; k < argc; ++k) out.operands.push_back(storage[static_cast<std::size_t>(k)]);
  return true;
}

std::string option_help(std::span<const option> options) {
  std::vector<std::string> heads;
  std::size_t width = 0;
  for (const option& o : options) {
    std::string head = "  ";
    head += o.short_name != 0 ? std::string("-") + o.short_name + (o.long_name.empty() ? "" : ", ") : "    ";
    if (!o.long_name.empty()) head += "--" + std::string(o.long_name);
    if (o.takes_value) head += (o.long_name.empty() ? " " : "=") + std::string(o.value_name);
    width = std::max(width, head.size());
    heads.push_back(std::move(head));
  }
  std::string text;
  for (std::size_t i = 0; i < options.size(); ++i) {
    text += heads[i] + std::string(width + 2 - heads[i].size(), ' ') + std::string(options[i].help) + "\n";
  }
  return text;
}

std::string_view kit_version() { return KIT_VERSION; }

std::string version_line(std::string_view program) {
  return std::string(program) + " (poskit) " + std::string(kit_version());
}

}  // namespace platform::cli
