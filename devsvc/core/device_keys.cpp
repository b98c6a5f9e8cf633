// Generic registry value reads of the service objects.
#include "core/device_keys.h"

namespace devsvc {
namespace {

// The length in bytes of the first `max_chars` UTF-8 characters of `text` that fit in
// `max_bytes`, so a cut never splits a character.
std::size_t CutPoint(std::string_view text, std::size_t max_chars, std::size_t max_bytes) {
  std::size_t chars = 0;
  std::size_t end = 0;
  while (end < text.size() && chars < max_chars) {
    std::size_t next = end + 1;
    while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
    if (next > max_bytes) break;
    end = next;
    ++chars;
  }
  return end;
}

}  // namespace

std::string ReadRegistryString(const platform::registry_key& key, std::string_view name,
                               std::size_t max_chars) {
  std::string value;
  if (key.query_string(name, value) != platform::kErrorSuccess) return {};
  value.resize(CutPoint(value, max_chars, kRegistryStringBuffer - 1));
  return value;
}

std::uint32_t ReadRegistryDword(const platform::registry_key& key, std::string_view name,
                                std::uint32_t fallback) {
  std::uint32_t value = 0;
  return key.query_dword(name, value) == platform::kErrorSuccess ? value : fallback;
}

std::uint32_t ReadMachineDword(std::string_view key_path, std::string_view name) {
  platform::registry_key key;
  if (platform::registry_key::open(platform::registry_root::local_machine, key_path, key) !=
      platform::kErrorSuccess) {
    return 0;
  }
  return ReadRegistryDword(key, name);
}

std::string ReadMachineString(std::string_view key_path, std::string_view name, std::size_t max_chars) {
  platform::registry_key key;
  if (platform::registry_key::open(platform::registry_root::local_machine, key_path, key) !=
      platform::kErrorSuccess) {
    return {};
  }
  return ReadRegistryString(key, name, max_chars);
}

}  // namespace devsvc
