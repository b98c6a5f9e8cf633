// Numeric constants of the OPOS standard that applications and the kit's control objects share:
// result codes, states, error loci and responses, printer stations.
#pragma once

#include <cstdint>

namespace opos {

// Result codes of every OPOS method (also kept in the ResultCode property).
inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kEClosed = 101;
inline constexpr std::int32_t kEClaimed = 102;
inline constexpr std::int32_t kENotClaimed = 103;
inline constexpr std::int32_t kENoService = 104;
inline constexpr std::int32_t kEDisabled = 105;
inline constexpr std::int32_t kEIllegal = 106;
inline constexpr std::int32_t kENoHardware = 107;
inline constexpr std::int32_t kEOffline = 108;
inline constexpr std::int32_t kENoExist = 109;
inline constexpr std::int32_t kEExists = 110;
inline constexpr std::int32_t kEFailure = 111;
inline constexpr std::int32_t kETimeout = 112;
inline constexpr std::int32_t kEBusy = 113;
inline constexpr std::int32_t kEExtended = 114;

// Values of the State property.
inline constexpr std::int32_t kStateClosed = 1;
inline constexpr std::int32_t kStateIdle = 2;
inline constexpr std::int32_t kStateBusy = 3;
inline constexpr std::int32_t kStateError = 4;

// ErrorEvent's ErrorLocus and the answers a handler may put into pErrorResponse.
inline constexpr std::int32_t kErrorLocusOutput = 1;
inline constexpr std::int32_t kErrorLocusInput = 2;
inline constexpr std::int32_t kErrorLocusInputData = 3;
inline constexpr std::int32_t kErrorResponseRetry = 11;
inline constexpr std::int32_t kErrorResponseClear = 12;
inline constexpr std::int32_t kErrorResponseContinueInput = 13;

// POS printer stations (PrintNormal's Station and friends).
inline constexpr std::int32_t kPtrStationJournal = 1;
inline constexpr std::int32_t kPtrStationReceipt = 2;
inline constexpr std::int32_t kPtrStationSlip = 4;

}  // namespace opos
