// Identity of the printer I/O monitor server (QuorelServer.Monitor) and the values its objects
// hand out: printer state codes and the channel's protocol kind. Result codes are in transport.h.
#pragma once

#include <cstdint>

#include "platform/guid.h"

namespace monitor {

inline constexpr const char* kMonitorProgId = "QuorelServer.Monitor";
inline constexpr platform::guid kMonitorClsid =
    platform::guid::literal("{7F09D22C-ADD7-4BE4-9DF0-80A96A0687A0}");

// Registry key (under HKEY_LOCAL_MACHINE) whose subkeys are the configured ports: value
// "Transport" holds the device URI, "MachineType" the printer model, "Name" the printer name.
inline constexpr const char* kPortsKey = "SOFTWARE\\Quorel\\Ports";

// State codes of IoChannel.GetPrinterState (and texts of ServerMonitor.StatusDescription).
enum printer_state_code : std::int32_t {
  kStateReady = 0,
  kStateCoverOpen = 1,
  kStatePaperFeeding = 2,  // paper fed with the FEED button
  kStatePaperEndStop = 3,  // printing stopped by the paper-end sensor
  kStateError = 4,  // recoverable error (cutter, auto-recoverable)
  kStateUnrecoverable = 5,
  kStateUnknownOffline = 6,  // off line for no reason the printer names, or no answer
  kStateNearEnd = 7,
  kStatePaperOut = 8,
  kStateUnknownAnswer = 9,  // the status byte is not a real-time status answer
};

// IoChannel.ProtocolKind: the printer answers GS I 1 with one identification byte.
inline constexpr std::int32_t kProtocolIdByte = 1;
// IoChannel.ProtocolKind: the printer answers ESC ? 0 with its model name and ESC ? 2 with its
// version, each as a 3-byte head (0x3F, length, function) and that many bytes ending in NUL.
inline constexpr std::int32_t kProtocolModelText = 2;

}  // namespace monitor
