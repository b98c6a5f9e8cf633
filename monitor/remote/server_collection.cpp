// ServerCollection: server names as subkeys of the collection key, in the order added.
#include "server_collection.h"

#include <vector>

#include "monitor/print_server.h"
#include "monitor/remote.h"
#include "platform/registry.h"

namespace monitor::remote {
namespace {

constexpr const char* kSource = "QuorelMainServer.ServerCollection";

constexpr platform::dispatch_member<ServerCollection> kMembers[] = {
    platform::dispatch_method<&ServerCollection::AddServer>("AddServer", kDispAddServer),
    platform::dispatch_method<&ServerCollection::GetServerList>("GetServerList", kDispGetServerList),
    platform::dispatch_method<&ServerCollection::GetLastErr>("GetLastErr", kDispCollectionGetLastErr),
    platform::dispatch_method<&ServerCollection::GetInfo>("GetInfo", kDispGetInfo),
    platform::dispatch_method<&ServerCollection::RemoveServer>("RemoveServer", kDispRemoveServer),
};

// Why `name` cannot be a server of the list; "" when it can. A name is a host name or
// address, with an optional port; it becomes a registry key and a NUL-ended list entry.
std::string bad_name(const std::string& name) {
  if (name.empty()) return "The server name is empty.";
  if (name.size() > 255) return "The server name is longer than 255 characters.";
  for (const char c : name) {
    if (static_cast<unsigned char>(c) <= ' ' || c == '\\' || c == '/' || c == '=') {
      return "The server name \"" + name + "\" holds a character no host name has.";
    }
  }
  return {};
}

// The servers in the order added; a registry failure code, or 0.
long list_servers(std::vector<std::string>& names) {
  names.clear();
  platform::registry_key key;
  const long rc = platform::registry_key::open(platform::registry_root::local_machine, kServerCollectionKey, key);
  if (rc == platform::kErrorFileNotFound) return 0;
  if (rc != platform::kErrorSuccess) return rc;
  for (std::uint32_t i = 0;; ++i) {
    std::string name;
    const long erc = key.enum_subkey(i, name);
    if (erc == platform::kErrorNoMoreItems) return 0;
    if (erc != platform::kErrorSuccess) return erc;
    names.push_back(std::move(name));
  }
}

}  // namespace

std::span<const platform::dispatch_member<ServerCollection>> ServerCollection::dispatch_members() { return kMembers; }

std::int32_t ServerCollection::fail(std::int32_t code, std::string description) {
  error_number_ = code;
  error_description_ = std::move(description);
  return code;
}

std::int32_t ServerCollection::AddServer(std::string name, std::string text, std::int32_t& result) {
  if (const std::string why = bad_name(name); !why.empty()) return result = fail(platform::kEInvalidArg, why);
  platform::registry_key root;
  long rc = platform::registry_key::create(platform::registry_root::local_machine, kServerCollectionKey, root);
  platform::registry_key entry;
  bool created = false;
  if (rc == platform::kErrorSuccess) rc = root.create(name, entry, &created);
  if (rc == platform::kErrorSuccess && !created) {
    constexpr long kErrorAlreadyExists = 183;
    return result = fail(platform::hresult_from_win32(kErrorAlreadyExists),
                         "The server " + name + " is already in the list.");
  }
  if (rc == platform::kErrorSuccess) rc = entry.set_string("Text", text);
  if (rc != platform::kErrorSuccess) {
    return result = fail(platform::hresult_from_win32(rc),
                         "The server " + name + " cannot be added: " + platform::registry_last_error());
  }
  return result = 0;
}

std::int32_t ServerCollection::GetServerList(std::string& text) {
  text.clear();
  std::vector<std::string> names;
  if (const long rc = list_servers(names); rc != 0) {
    return fail(platform::hresult_from_win32(rc), "The server list cannot be read: " + platform::registry_last_error());
  }
  for (const std::string& name : names) {
    text += name;
    text += '\0';
  }
  return 0;
}

std::int32_t ServerCollection::GetLastErr(std::int32_t& number, std::string& description, std::string& source) {
  number = error_number_;
  description = error_description_;
  source = error_number_ != 0 ? kSource : "";
  return 0;
}

std::int32_t ServerCollection::GetInfo(std::string& text) {
  std::vector<std::string> names;
  if (const long rc = list_servers(names); rc != 0) {
    text.clear();
    return fail(platform::hresult_from_win32(rc), "The server list cannot be read: " + platform::registry_last_error());
  }
  text = "Main server " + local_host_name() + " (" + std::to_string(names.size()) +
         (names.size() == 1 ? " server)" : " servers)");
  return 0;
}

std::int32_t ServerCollection::RemoveServer(std::string name, std::int32_t& result) {
  if (const std::string why = bad_name(name); !why.empty()) return result = fail(platform::kEInvalidArg, why);
  platform::registry_key root;
  long rc = platform::registry_key::open(platform::registry_root::local_machine, kServerCollectionKey, root);
  platform::registry_key entry;
  if (rc == platform::kErrorSuccess) rc = root.open(name, entry);
  if (rc == platform::kErrorFileNotFound) {
    return result = fail(platform::hresult_from_win32(rc), "The server " + name + " is not in the list.");
  }
  if (rc == platform::kErrorSuccess) rc = root.delete_tree(name);
  if (rc != platform::kErrorSuccess) {
    return result = fail(platform::hresult_from_win32(rc),
                         "The server " + name + " cannot be removed: " + platform::registry_last_error());
  }
  return result = 0;
}

}  // namespace monitor::remote
