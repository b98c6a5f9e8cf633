// Case-insensitive lookup of paths, one component at a time.
#include "platform/case_path.h"

#include <optional>
#include <string>
#include <system_error>

namespace platform {
namespace {

namespace fs = std::filesystem;

bool present(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

bool same_name(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The entry of `folder` whose name equals `name` ignoring case; the first in name order.
std::optional<std::string> find_entry(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec);
  if (ec) {
    return std::nullopt;
  }
  std::optional<std::string> best;
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) {
      break;
    }
    const std::string entry = it->path().filename().string();
    if (same_name(entry, name) && (!best || entry < *best)) {
      best = entry;
    }
  }
  return best;
}

}  // namespace

std::filesystem::path resolve_case_insensitive(const std::filesystem::path& path) {
  if (path.empty() || present(path)) {
    return path;
  }
  fs::path result;
  auto part = path.begin();
  for (; part != path.end(); ++part) {
    const std::string name = part->string();
    const bool literal = part->has_root_name() || part->has_root_directory() || name.empty() ||
                         name == "." || name == "..";
    if (literal || present(result / *part)) {
      result /= *part;
      continue;
    }
    const auto match = find_entry(result, name);
    if (!match) {
      break;
    }
    result /= *match;
  }
  // The components from the first unmatched one on stay as given.
  for (; part != path.end(); ++part) {
    result /= *part;
  }
  return result;
}

}  // namespace platform
