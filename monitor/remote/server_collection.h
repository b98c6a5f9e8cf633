// ServerCollection (ProgID QuorelMainServer.ServerCollection): the main server's list of print
// servers, kept in its registry, with a last-error record of its own failures.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/dispatch_table.h"

namespace monitor::remote {

class ServerCollection final : public platform::dispatch_object<ServerCollection> {
 public:
  static std::span<const platform::dispatch_member<ServerCollection>> dispatch_members();

  // Adds server `name` ("HOST" or "HOST:PORT") with a free text; `result` 0, or the failure
  // (a bad or duplicate name, a registry error), which the method returns as well.
  std::int32_t AddServer(std::string name, std::string text, std::int32_t& result);
  // The servers' names, each ended by NUL, in the order they were added; result 0 or a failure.
  std::int32_t GetServerList(std::string& text);
  // The last failure: number, text and source; all empty before the first. Result 0.
  std::int32_t GetLastErr(std::int32_t& number, std::string& description, std::string& source);
  // A line that says which main server this is and how many servers it lists.
  std::int32_t GetInfo(std::string& text);
  // Removes server `name` (ignoring case); `result` 0, or the failure (not listed, registry).
  std::int32_t RemoveServer(std::string name, std::int32_t& result);

 private:
  std::int32_t fail(std::int32_t code, std::string description);

  std::int32_t error_number_ = 0;
  std::string error_description_;
};

}  // namespace monitor::remote
