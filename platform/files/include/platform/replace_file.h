// Replacing a file's whole content atomically: readers see the old file or the new one, never a
// mix, and a failed write leaves the old file as it was.
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

namespace platform {

// Writes `content` to a new file beside `target`, flushes it to disk and renames it over
// `target`. An existing target keeps its permission bits (and, where allowed, its owner); a new
// one gets 0666 less the umask. False with the reason in `error` when anything fails; no
// temporary file is left behind.
bool replace_file(const std::filesystem::path& target, std::string_view content,
                  std::error_code& error);

}  // namespace platform
