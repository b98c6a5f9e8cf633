// The network-module simulator: any number of wired ("Xport") and wireless ("WiPort") modules on
// UDP port 30718, each with its MAC address, IP address and setup records. It answers the search
// broadcast and record queries, acknowledges record writes (which change the records), moves a
// module on an address-assignment broadcast, and can make modules answer late, twice or not at
// all. Each module's printer port accepts TCP connections and keeps what it receives (or passes
// it on to a printer at another address).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace netcfg::sim {

// How one module starts and behaves.
struct module_config {
  std::string ip;                    // dotted address the module answers on
  std::array<std::uint8_t, 6> mac{}; // hardware address
  bool wireless = false;
  std::string name;                  // printer name in the identity record (at most 24 bytes)
  std::uint16_t tcp_port = 10001;    // printer port in the network record
  int delay_ms = 0;                  // every answer leaves this late
  int copies = 1;                    // every answer is sent this many times (0: the module is mute)
};

// What a module holds now.
struct module_state {
  module_config config;                       // ip and tcp_port follow moves and record writes
  std::array<std::vector<std::uint8_t>, 10> records;  // data of records 0xE0..0xE9
  std::string printed;                        // bytes received on the printer port
};

// One datagram as the simulator received it.
struct received_datagram {
  std::vector<std::uint8_t> bytes;
  std::string from;  // sender's dotted address
  std::string to;    // destination address of the datagram (a module's or a broadcast)
};

class lan_simulator {
 public:
  struct options {
    // Interface on which the simulator adds each module's address (as a /32) and removes it when
    // the module moves; empty when the addresses exist already.
    std::string interface_name;
    // Serve each module's printer port.
    bool serve_tcp = true;
    // Where printer connections are passed on ("host:port"); empty keeps the bytes in the module.
    std::string printer;
  };

  explicit lan_simulator(options opts);
  ~lan_simulator();
  lan_simulator(const lan_simulator&) = delete;
  lan_simulator& operator=(const lan_simulator&) = delete;

  // Adds a module (before or after start); returns its number, or nothing with `error` set when
  // its address or name is unusable.
  std::optional<std::size_t> add_module(const module_config& config, std::string& error);
  // Binds UDP port 30718 on every address and starts answering; false with `error` set.
  bool start(std::string& error);
  // Stops answering and removes the addresses it added. Idempotent; the destructor calls it.
  void stop();

  std::size_t module_count() const;
  module_state module(std::size_t index) const;
  // Changes how module `index` answers from now on.
  void set_behaviour(std::size_t index, int delay_ms, int copies);
  // Every datagram received so far, oldest first.
  std::vector<received_datagram> received() const;
  void clear_received();

  // Default data of record `record` (0xE0..0xE9) for a module with `config`.
  static std::vector<std::uint8_t> default_record(int record, const module_config& config);

 private:
  struct impl;
  std::unique_ptr<impl> impl_;
};

// "00-80-A3-00-12-34"-style text of a MAC address; parse gives nothing for malformed text.
std::string format_mac(const std::array<std::uint8_t, 6>& mac);
std::optional<std::array<std::uint8_t, 6>> parse_mac(const std::string& text);

}  // namespace netcfg::sim
