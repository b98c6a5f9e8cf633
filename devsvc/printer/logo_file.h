// CLogoFile: the top and bottom logos (ready-made printer data) kept in a little-endian binary
// file: two 32-bit lengths, then the top logo, then the bottom logo.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace devsvc {

// Outcome of CLogoFile::load.
enum class logo_load_result {
  loaded,      // both logos read
  missing,     // no file: both logos empty
  corrupt,     // header shorter than 8 bytes or lengths beyond the file's size: both logos empty
  unreadable,  // the file exists but cannot be read: both logos empty
};

// Logos are held as translated printer text (a NUL byte written as "<NID>") and stored as such.
class CLogoFile {
 public:
  // Assigns `path` and reads it. When another path was assigned before and either logo is not
  // empty, the logos are first saved to that old path (a failure there is returned in
  // *save_error when given, and does not stop the load). The file is found case-insensitively
  // when the exact name is missing. Lengths are checked against the file's real size before
  // anything is allocated, so a corrupt header cannot over-read or allocate beyond the file.
  logo_load_result load(const std::filesystem::path& path, std::error_code* save_error = nullptr);

  // Writes both logos to the assigned path atomically (temporary file and rename). False with
  // the reason in `error` when there is no path or writing fails; the old file then stays.
  bool save(std::error_code& error) const;

  // Sets the top or bottom logo and rewrites the file (as save()).
  bool set_top(std::string_view data, std::error_code& error);
  bool set_bottom(std::string_view data, std::error_code& error);

  const std::filesystem::path& path() const { return path_; }
  const std::string& top() const { return top_; }        // printer data of ESC|tL
  const std::string& bottom() const { return bottom_; }  // printer data of ESC|bL

 private:
  std::filesystem::path path_;
  std::string top_;
  std::string bottom_;
};

}  // namespace devsvc
