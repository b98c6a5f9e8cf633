// Configurator: finds the printers' network modules on the LAN through one adapter and reads
// and writes their setup records over UDP port 30718. Every method reports an OLP code in its
// last argument and returns S_OK, or S_FALSE on failure (an unacknowledged write keeps S_OK).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "netcfg/netcfg.h"
#include "platform/dispatch_table.h"

namespace netcfg {

// One module found by a search.
struct LanPrinterEntry {
  char ip[16] = {};    // dotted quad, NUL-terminated
  char mac[20] = {};   // "00-11-22-33-44-55", NUL-terminated
  std::int32_t status = 0;   // kStatusWiredNew, kStatusWiredNamed, kStatusWirelessNew or ...Named
  std::int32_t wireless = 0; // 1 for a wireless module
};

inline constexpr std::size_t kTableSize = 100;

class Configurator final : public platform::dispatch_object<Configurator> {
 public:
  Configurator();
  ~Configurator() override;
  static std::span<const platform::dispatch_member<Configurator>> dispatch_members();

  // Creates the UDP socket; a second call on an initialised instance does nothing.
  platform::com_status Init(std::int32_t& ret);
  // Searches through adapter `num` (0-based in the adapter list); `num` receives the number of
  // modules found. Blocks until about one quiet period passes after the last answer.
  platform::com_status FindLanPrinter(std::int32_t& num, std::int32_t& ret);
  // The IP text, MAC text and status of found module `index` (1-based).
  platform::com_status GetLanPrinterInfo(std::int32_t index, std::string& ip, std::string& mac,
                                         std::int32_t& status, std::int32_t& ret);
  // Queries record `record` (0xE0..0xE9) of the module at `ip` into the byte array `data` (a
  // by-reference byte array at least as long as the record).
  platform::com_status QuerySetupRecord(const std::string& ip, std::int32_t record,
                                        const platform::Variant& data, std::int32_t& ret);
  // Writes record `record` (0xC1..0xC9, 0xFA) from the first bytes of the array `data`.
  platform::com_status WriteSetupRecord(const std::string& ip, std::int32_t record,
                                        const platform::Variant& data, std::int32_t& ret);
  // Broadcasts the address assignment that gives the module with MAC `mac` the address `ip`.
  platform::com_status SetIpAddress(const std::string& ip, const std::string& mac, std::int32_t& ret);

  // The broadcast address the last search computed (empty before any search).
  const std::string& broadcast_address() const { return broadcast_; }
  // The description of the last socket failure ("unknown problems!" for an unknown code).
  const std::string& last_socket_error() const { return socket_error_; }
  // Length of one wait attempt in ms (333); a silent wired module costs 3 attempts, a wireless
  // one 27. Tests shorten it.
  void set_attempt_ms(int ms) { attempt_ms_ = ms; }

 private:
  struct datagram {
    std::vector<std::uint8_t> bytes;
    std::uint32_t sender = 0;  // host order
  };

  bool open_socket();
  void close_socket();
  bool send_to(std::uint32_t address, std::span<const std::uint8_t> bytes, bool broadcast);
  // Waits for one datagram of `size` bytes (from `sender` unless 0); false after the wait's
  // bound. `wireless` selects the long bound.
  bool wait_datagram(std::size_t size, std::uint32_t sender, bool wireless, datagram& out);
  // Takes the datagram waiting on the socket, if any; false when none is readable within `ms`.
  bool receive(int timeout_ms, datagram& out, std::size_t& real_size);
  void note_socket_error(int code);
  bool governing_wireless() const { return count_ > 0 && table_[0].wireless != 0; }

  bool initialised_ = false;
  int socket_ = -1;
  std::string bound_ip_;
  std::string broadcast_;
  std::array<LanPrinterEntry, kTableSize> table_{};
  std::size_t count_ = 0;
  std::string socket_error_;
  int attempt_ms_ = 333;
};

// Broadcast address of gateway `gateway` and mask `mask` (dotted texts): 255.255.255.255 for
// an empty gateway, else the gateway with every host bit set; empty when a text is malformed.
std::string broadcast_address_of(const std::string& gateway, const std::string& mask);

// Makes the Configurator class creatable in this process by its CLSID and ProgIDs (a program
// that carries the component itself, such as a test or posutil without a registered server).
platform::hresult register_in_process(std::uint32_t& cookie);

}  // namespace netcfg
