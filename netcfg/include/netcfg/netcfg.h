// The LAN configurator's public face: identity of the Netcfg server and its Configurator class,
// the result codes (OLP codes) every method reports, and the protocol constants that its
// callers and the network modules share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/guid.h"

namespace netcfg {

inline constexpr platform::guid kConfiguratorClsid =
    platform::guid::literal("{1BAA928D-7A6A-4EEB-B89C-D6166EFB77AE}");
inline constexpr platform::guid kIConfiguratorIid =
    platform::guid::literal("{A53E5383-895B-4E9D-937D-ACEC833E30A9}");
inline constexpr platform::guid kNetcfgLibId =
    platform::guid::literal("{E444F748-2C5E-4C1A-8F2D-C84B7EA958B2}");
inline constexpr std::string_view kConfiguratorProgId = "Netcfg.Configurator.1";
inline constexpr std::string_view kConfiguratorVersionIndependentProgId = "Netcfg.Configurator";
inline constexpr std::string_view kConfiguratorDescription = "Configurator Class";
inline constexpr std::string_view kTypeLibraryHelp = "Netcfg 1.0 Type Library";

// Dispatch ids of IConfigurator, in method order.
enum configurator_dispid : long {
  kDispInit = 1,
  kDispFindLanPrinter = 2,
  kDispGetLanPrinterInfo = 3,
  kDispQuerySetupRecord = 4,
  kDispWriteSetupRecord = 5,
  kDispSetIpAddress = 6,
};

// Result codes in every method's last argument.
inline constexpr std::int32_t OLP_NO_ERROR = 0;
inline constexpr std::int32_t OLP_INVALID_PARAMETER = 100;
inline constexpr std::int32_t OLP_CONNECTION_NOT_INITIALIZED = 101;
inline constexpr std::int32_t OLP_PRINTERS_NOT_FOUND = 102;
inline constexpr std::int32_t OLP_WRITE_RECORD_ERROR = 103;
inline constexpr std::int32_t OLP_QUERY_RECORD_ERROR = 104;
inline constexpr std::int32_t OLP_WSA_ERROR = 1000;
inline constexpr std::int32_t OLP_SOCKET_ERROR = 1001;
inline constexpr std::int32_t OLP_BOARD_INFO_ERROR = 1002;

// The name of an OLP code ("OLP_NO_ERROR"); empty for a code that has none.
std::string_view olp_name(std::int32_t code);

// The UDP port of the network modules.
inline constexpr std::uint16_t kModulePort = 30718;

// Datagram sizes.
inline constexpr std::size_t kSearchAnswerSize = 30;
inline constexpr std::size_t kHeaderSize = 4;
inline constexpr std::size_t kNetworkRecordSize = 120;  // record 0xE0 (written as 0xFA)
inline constexpr std::size_t kRecordSize = 126;         // every other record
inline constexpr std::size_t kAckSize = 4;
inline constexpr std::size_t kAddressAssignmentSize = 20;

// Record numbers: queries 0xE0..0xE9, writes 0xC1..0xC9 and 0xFA.
inline constexpr int kRecordNetwork = 0xE0;
inline constexpr int kRecordRegion = 0xE4;
inline constexpr int kRecordIdentity = 0xE5;
inline constexpr int kRecordWireless = 0xE8;
inline constexpr int kRecordWepKey = 0xE9;
inline constexpr int kWriteNetwork = 0xFA;
inline constexpr int kWriteRegion = 0xC4;
inline constexpr int kWriteIdentity = 0xC5;
inline constexpr int kWriteWireless = 0xC8;
inline constexpr int kWriteWepKey = 0xC9;

// First byte of the search answer that flags a wireless module, and of the MAC address.
inline constexpr std::size_t kAnswerWirelessOffset = 20;
inline constexpr std::size_t kAnswerMacOffset = 24;

// Data size of query record `record` (0 when it is no query record).
constexpr std::size_t query_data_size(int record) {
  if (record == kRecordNetwork) return kNetworkRecordSize;
  return record > kRecordNetwork && record <= kRecordWepKey ? kRecordSize : 0;
}
// Data size of write record `record` (0 when it is no write record).
constexpr std::size_t write_data_size(int record) {
  if (record == kWriteNetwork) return kNetworkRecordSize;
  return record >= 0xC1 && record <= kWriteWepKey ? kRecordSize : 0;
}

// Printer statuses of the search.
inline constexpr std::int32_t kStatusWiredNew = 0;
inline constexpr std::int32_t kStatusWiredNamed = 1;
inline constexpr std::int32_t kStatusWirelessNew = 50;
inline constexpr std::int32_t kStatusWirelessNamed = 51;

}  // namespace netcfg
