// Finding the files that the kit's data names: they come from a platform whose file names are
// case-insensitive, so "launcher.ini" must find "Launcher.INI".
#pragma once

#include <filesystem>

namespace platform {

// `path` itself when it exists; otherwise each component that does not exist as written is
// matched case-insensitively (ASCII letters) against its folder's entries, the first match in
// name order winning. From the first component that matches nothing, the rest is kept as given,
// so the result also names where a new file would go. Never fails.
std::filesystem::path resolve_case_insensitive(const std::filesystem::path& path);

}  // namespace platform
