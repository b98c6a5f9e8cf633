// Stand-ins for the outside objects of other computers in the browser's tests: a remote creator
// that makes the real in-process monitor for reachable servers and fails or answers "busy" for
// others, and a small server collection. The creation completes only after a pump, as a real
// remote creation does.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "monitor/monitor.h"
#include "platform/dispatch_table.h"
#include "utilities/browser.h"

namespace utilities_test {

using platform::Variant;

// A monitor whose printer lists fail, as a server that is busy answers.
class busy_monitor final : public platform::dispatch_object<busy_monitor> {
 public:
  static std::span<const platform::dispatch_member<busy_monitor>> dispatch_members() {
    static constexpr platform::dispatch_member<busy_monitor> kMembers[] = {
        platform::dispatch_method<&busy_monitor::GetPrinterCollection>("GetPrinterCollection", 5),
        platform::dispatch_method<&busy_monitor::GetPrinterCollection>("GetLanPrinterCollection", 6),
        platform::dispatch_method<&busy_monitor::GetLastErr>("GetLastErr", 3),
    };
    return kMembers;
  }
  std::int32_t GetPrinterCollection(std::string& text) {
    text.clear();
    return 5;
  }
  std::int32_t GetLastErr(std::int32_t& number, std::string& description, std::string& source) {
    number = 5;
    description = "Server busy with another client.";
    source = "QuorelServer.Monitor";
    return 0;
  }
};

// The server collection of a main server: a list of names kept in memory.
class fake_collection final : public platform::dispatch_object<fake_collection> {
 public:
  struct state {
    std::vector<std::string> servers;
    std::string info = "Main server";
    std::vector<std::string> calls;  // "AddServer x", "RemoveServer y"
    std::int32_t fail_with = 0;      // result of AddServer and RemoveServer when non-zero
  };
  explicit fake_collection(std::shared_ptr<state> s) : s_(std::move(s)) {}
  static std::span<const platform::dispatch_member<fake_collection>> dispatch_members() {
    static constexpr platform::dispatch_member<fake_collection> kMembers[] = {
        platform::dispatch_method<&fake_collection::AddServer>("AddServer", 1),
        platform::dispatch_method<&fake_collection::GetServerList>("GetServerList", 2),
        platform::dispatch_method<&fake_collection::GetLastErr>("GetLastErr", 3),
        platform::dispatch_method<&fake_collection::GetInfo>("GetInfo", 4),
        platform::dispatch_method<&fake_collection::RemoveServer>("RemoveServer", 5),
    };
    return kMembers;
  }
  std::int32_t AddServer(const std::string& name, const std::string&, std::int32_t& result) {
    s_->calls.push_back("AddServer " + name);
    result = s_->fail_with;
    if (result == 0) s_->servers.push_back(name);
    return 0;
  }
  std::int32_t GetServerList(std::string& text) {
    text.clear();
    for (const std::string& s : s_->servers) text += s + std::string(1, '\0');
    return 0;
  }
  std::int32_t GetLastErr(std::int32_t& number, std::string& description, std::string& source) {
    number = s_->fail_with;
    description = "The server list cannot be changed.";
    source = "QuorelMainServer.ServerCollection";
    return 0;
  }
  std::int32_t GetInfo(std::string& text) {
    text = s_->info;
    return 0;
  }
  std::int32_t RemoveServer(const std::string& name, std::int32_t& result) {
    s_->calls.push_back("RemoveServer " + name);
    result = s_->fail_with;
    if (result == 0) std::erase(s_->servers, name);
    return 0;
  }

 private:
  std::shared_ptr<state> s_;
};

// How each fake server answers.
enum class server_kind { reachable, unreachable, busy };

struct fake_network {
  std::map<std::string, server_kind> servers;  // missing: unreachable
  std::string main_server;                     // the one holding the collection
  std::shared_ptr<fake_collection::state> collection = std::make_shared<fake_collection::state>();
  std::vector<std::string> creations;          // "ProgID@server" in order
};

inline constexpr std::int32_t kUnreachable = static_cast<std::int32_t>(0x800706BAu);

class fake_creator final : public utilities::remote_creator {
 public:
  explicit fake_creator(fake_network& net) : net_(net) {}
  std::int32_t start(const std::string& prog_id, const std::string& server) override {
    net_.creations.push_back(prog_id + "@" + server);
    const auto it = net_.servers.find(server);
    const server_kind kind = it == net_.servers.end() ? server_kind::unreachable : it->second;
    if (kind == server_kind::unreachable) {
      error_ = {kUnreachable, "The RPC server is unavailable.", "QuorelWorker.CreateObj"};
    } else if (prog_id == utilities::kServerCollectionProgId) {
      if (server == net_.main_server) {
        object_ = platform::make_object<fake_collection>(net_.collection);
      } else {
        error_ = {static_cast<std::int32_t>(0x80040154u), "Class not registered.", "QuorelWorker.CreateObj"};
      }
    } else if (kind == server_kind::busy) {
      object_ = platform::make_object<busy_monitor>();
    } else {
      platform::create_instance(prog_id, object_);
    }
    return 0;
  }
  // Done once the window has yielded once.
  bool complete() const override { return ++polls_ > 1; }
  platform::com_ptr<platform::dispatch> take_object() override { return std::move(object_); }
  utilities::ErrorRecord last_error() override { return error_; }

 private:
  fake_network& net_;
  platform::com_ptr<platform::dispatch> object_;
  utilities::ErrorRecord error_;
  mutable int polls_ = 0;
};

}  // namespace utilities_test
