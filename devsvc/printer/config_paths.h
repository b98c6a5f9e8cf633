// The paths of the printer's configuration: the logo file (DATFile of the device key) and the
// folder of the stored image files (RootPath of the fixed key), read whole and checked at open.
#pragma once

#include <climits>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace devsvc {

// The longest path the system takes, in bytes, without the terminator.
inline constexpr std::size_t kMaxPathBytes = PATH_MAX - 1;

// Reads string value `name` of an open key whole, never cut; empty when it is missing.
std::string ReadPathValue(const platform::registry_key& key, std::string_view name);
// The same for HKEY_LOCAL_MACHINE\`key_path`; empty when the key or the value is missing.
std::string ReadMachinePathValue(std::string_view key_path, std::string_view name);

// Why the logo file `path` cannot serve, in words; empty when it can. The file is read at open
// and rewritten when a logo is set: it may be missing, but then its folder must exist. An empty
// path (no DATFile) serves: there are no logos.
std::string LogoFileProblem(const std::string& path);

// Why `root` cannot serve as RootPath, in words; empty when it can. Stored image files are
// named by appending "IMG<number>.dat" to it, and its folder is created when the first one is
// written: the folder may be missing, but nothing in the way may be a file, and the names must
// fit the system's limits. An empty value serves (the default folder is used).
std::string ImageRootProblem(const std::string& root);

}  // namespace devsvc
