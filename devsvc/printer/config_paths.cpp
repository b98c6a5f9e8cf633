// Reading and checking the paths of the printer's configuration.
#include "printer/config_paths.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/case_path.h"

namespace devsvc {
namespace {

namespace fs = std::filesystem;

// The longest stored image file name appended to RootPath: "IMG" with five digits and ".dat".
constexpr std::size_t kImageFileNameBytes = 12;

std::string too_long(std::string_view what, std::size_t limit) {
  return std::string(what) + " is longer than the " + std::to_string(limit) + " characters the system takes";
}

// The status of `path`; a missing path is no error. Empty `problem` when it could be asked.
fs::file_status status_of(const fs::path& path, std::string& problem) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error && error != std::errc::no_such_file_or_directory) problem = error.message();
  return status;
}

}  // namespace

std::string ReadPathValue(const platform::registry_key& key, std::string_view name) {
  std::string value;
  if (key.query_string(name, value) != platform::kErrorSuccess) return {};
  return value;
}

std::string ReadMachinePathValue(std::string_view key_path, std::string_view name) {
  platform::registry_key key;
  if (platform::registry_key::open(platform::registry_root::local_machine, key_path, key) !=
      platform::kErrorSuccess) {
    return {};
  }
  return ReadPathValue(key, name);
}

std::string LogoFileProblem(const std::string& path) {
  if (path.empty()) return {};
  const std::string what = "the logo file (DATFile) " + path;
  if (path.size() > kMaxPathBytes) return too_long("the logo file path (DATFile)", kMaxPathBytes);
  const fs::path found = platform::resolve_case_insensitive(path);
  std::string problem;
  const fs::file_status status = status_of(found, problem);
  if (!problem.empty()) return what + " cannot be used: " + problem;
  if (fs::exists(status)) {
    if (!fs::is_regular_file(status)) return what + " is not a file";
    if (!std::ifstream(found, std::ios::binary).is_open()) return what + " cannot be read";
    return {};
  }
  // Missing: the logos start empty, and the file is created in its folder when one is set.
  const fs::path folder = found.has_parent_path() ? found.parent_path() : fs::path(".");
  const fs::file_status folder_status = status_of(folder, problem);
  if (!problem.empty()) return what + " cannot be created: " + problem;
  if (!fs::is_directory(folder_status)) return what + " cannot be created: its folder does not exist";
  return {};
}

std::string ImageRootProblem(const std::string& root) {
  if (root.empty()) return {};
  const std::string what = "the stored image folder (RootPath) " + root;
  if (root.size() + kImageFileNameBytes > kMaxPathBytes) {
    return too_long("the stored image folder (RootPath) with a file name", kMaxPathBytes);
  }
  // The folder is what comes before the last separator; the rest starts the file names.
  const fs::path folder = fs::path(root).parent_path();
  if (folder.empty()) return {};
  std::string problem;
  const fs::file_status status = status_of(folder, problem);
  if (!problem.empty()) return what + " cannot be used: " + problem;
  if (fs::exists(status) && !fs::is_directory(status)) return what + " is not a folder";
  // Missing folders are created with the first image; a name too long for the system is not.
  const std::string first_name = fs::path(root + "IMG00000.dat").filename().string();
  if (first_name.size() > NAME_MAX) return what + " cannot be used: " + std::make_error_code(std::errc::filename_too_long).message();
  for (const fs::path& part : folder) {
    if (part.string().size() > NAME_MAX) {
      return what + " cannot be used: " + std::make_error_code(std::errc::filename_too_long).message();
    }
  }
  return {};
}

}  // namespace devsvc
