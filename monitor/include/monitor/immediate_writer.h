// What a print server's network thread may do with an I/O channel of its own process without
// waiting: hand print data to the printer as far as the printer takes it at once. The monitor's
// channels offer it; what the printer does not take at once is left for WriteIO.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/com.h"

namespace monitor {

class immediate_writer : public platform::unknown {
 public:
  static constexpr platform::guid kIid = platform::guid::literal("{57D57CEF-9248-4967-B155-BD5FD7ED55A7}");
  using interface_type = immediate_writer;
  // Writes as much of `bytes` (print data) as the open printer takes now and returns the count.
  // Never waits and records nothing: a printer that takes nothing now, or whose link is in
  // doubt, gets 0, and the next WriteIO finds out why.
  virtual std::size_t write_at_once(std::string_view bytes) = 0;

 protected:
  ~immediate_writer() = default;
};

}  // namespace monitor
