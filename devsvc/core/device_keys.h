// Registry locations of the service objects' configuration and the generic value reads on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace devsvc {

// HKEY_LOCAL_MACHINE: the POS printer device keys are "<this>\<DeviceName>".
inline constexpr std::string_view kPrinterClassKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";
// HKEY_LOCAL_MACHINE: the printer's fixed key, read whatever the device name (time-outs, poll
// interval).
inline constexpr std::string_view kPrinterFixedKey =
    "SOFTWARE\\OleForRetail\\ServiceOPOS\\POSPrinter\\VX40Device";
// HKEY_CURRENT_USER: the printer's per-user key (stored bitmaps, pre-print commands).
inline constexpr std::string_view kPrinterUserKey = "Software\\KorvaneOPOS\\VX40Device";

// Registry strings are read through a buffer of this many bytes (terminator included).
inline constexpr std::size_t kRegistryStringBuffer = 256;

// Reads string value `name` of an open key, cut to `max_chars` characters (and to what the
// 256-byte read buffer holds); a missing or non-string value leaves `out` empty.
std::string ReadRegistryString(const platform::registry_key& key, std::string_view name,
                               std::size_t max_chars);
// Reads DWORD value `name`; a missing or non-DWORD value gives `fallback`.
std::uint32_t ReadRegistryDword(const platform::registry_key& key, std::string_view name,
                                std::uint32_t fallback = 0);
// Reads DWORD value `name` of HKEY_LOCAL_MACHINE\`key_path`; missing key or value gives 0.
std::uint32_t ReadMachineDword(std::string_view key_path, std::string_view name);
// Reads string value `name` of HKEY_LOCAL_MACHINE\`key_path` as ReadRegistryString does; missing
// key or value gives an empty string.
std::string ReadMachineString(std::string_view key_path, std::string_view name, std::size_t max_chars);

}  // namespace devsvc
