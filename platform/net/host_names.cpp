// The computer name and the user's domain.
#include "platform/host_names.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

// The first word after `keyword` on a line of `text` that starts with it; "" when none.
std::string first_word_of(std::string_view text, std::string_view keyword) {
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string first;
    std::string second;
    if (words >> first && first == keyword && words >> second) return second;
  }
  return {};
}

// A domain without the trailing dot of a fully qualified name.
std::string without_root_dot(std::string domain) {
  while (!domain.empty() && domain.back() == '.') domain.pop_back();
  return domain;
}

}  // namespace

std::string computer_name() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

std::string user_domain_from(const char* env_value, std::string_view host_name, std::string_view resolv_conf) {
  if (env_value != nullptr && *env_value != '\0') return env_value;
  if (const std::size_t dot = host_name.find('.'); dot != std::string_view::npos && dot + 1 < host_name.size()) {
    return without_root_dot(std::string(host_name.substr(dot + 1)));
  }
  // "domain" wins over "search", as the resolver itself takes it.
  for (const std::string_view keyword : {"domain", "search"}) {
    if (std::string domain = without_root_dot(first_word_of(resolv_conf, keyword)); !domain.empty()) return domain;
  }
  const std::string_view short_name = host_name.substr(0, host_name.find('.'));
  return short_name.empty() ? std::string("localhost") : std::string(short_name);
}

std::string user_domain() {
  std::ifstream file("/etc/resolv.conf");
  std::ostringstream text;
  if (file) text << file.rdbuf();
  return user_domain_from(std::getenv("USERDOMAIN"), computer_name(), text.str());
}

}  // namespace platform
