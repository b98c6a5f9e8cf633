// The OPOS numbers the service objects exchange with the control objects: result codes, device
// states, power values, status-update codes, error loci and responses, and property indexes.
#pragma once

#include <cstdint>

namespace devsvc {

// Result codes (ResultCode).
inline constexpr std::int32_t OPOS_SUCCESS = 0;
inline constexpr std::int32_t OPOS_E_CLOSED = 101;
inline constexpr std::int32_t OPOS_E_CLAIMED = 102;
inline constexpr std::int32_t OPOS_E_NOTCLAIMED = 103;
inline constexpr std::int32_t OPOS_E_NOSERVICE = 104;
inline constexpr std::int32_t OPOS_E_DISABLED = 105;
inline constexpr std::int32_t OPOS_E_ILLEGAL = 106;
inline constexpr std::int32_t OPOS_E_NOHARDWARE = 107;
inline constexpr std::int32_t OPOS_E_OFFLINE = 108;
inline constexpr std::int32_t OPOS_E_NOEXIST = 109;
inline constexpr std::int32_t OPOS_E_EXISTS = 110;
inline constexpr std::int32_t OPOS_E_FAILURE = 111;
inline constexpr std::int32_t OPOS_E_TIMEOUT = 112;
inline constexpr std::int32_t OPOS_E_BUSY = 113;
inline constexpr std::int32_t OPOS_E_EXTENDED = 114;

// Printer extended result codes (ResultCodeExtended with OPOS_E_EXTENDED).
inline constexpr std::int32_t OPOS_EPTR_COVER_OPEN = 201;
inline constexpr std::int32_t OPOS_EPTR_REC_EMPTY = 203;
inline constexpr std::int32_t OPOS_EPTR_BADFORMAT = 207;

// Device states (State).
inline constexpr std::int32_t OPOS_S_CLOSED = 1;
inline constexpr std::int32_t OPOS_S_IDLE = 2;
inline constexpr std::int32_t OPOS_S_BUSY = 3;
inline constexpr std::int32_t OPOS_S_ERROR = 4;

// Power reporting (CapPowerReporting, PowerNotify, PowerState).
inline constexpr std::int32_t OPOS_PR_ADVANCED = 2;
inline constexpr std::int32_t OPOS_PN_DISABLED = 0;
inline constexpr std::int32_t OPOS_PN_ENABLED = 1;
inline constexpr std::int32_t OPOS_PS_UNKNOWN = 2000;
inline constexpr std::int32_t OPOS_PS_ONLINE = 2001;
inline constexpr std::int32_t OPOS_PS_OFF = 2002;
inline constexpr std::int32_t OPOS_PS_OFFLINE = 2003;
inline constexpr std::int32_t OPOS_PS_OFF_OFFLINE = 2004;

// Status-update codes (SOStatusUpdate).
inline constexpr std::int32_t PTR_SUE_COVER_OPEN = 11;
inline constexpr std::int32_t PTR_SUE_COVER_OK = 12;
inline constexpr std::int32_t PTR_SUE_REC_EMPTY = 24;
inline constexpr std::int32_t PTR_SUE_REC_NEAREMPTY = 25;
inline constexpr std::int32_t PTR_SUE_REC_PAPEROK = 26;
inline constexpr std::int32_t PTR_SUE_IDLE = 1001;
inline constexpr std::int32_t OPOS_SUE_POWER_ONLINE = 2001;
inline constexpr std::int32_t OPOS_SUE_POWER_OFF = 2002;
inline constexpr std::int32_t OPOS_SUE_POWER_OFFLINE = 2003;
inline constexpr std::int32_t OPOS_SUE_POWER_OFF_OFFLINE = 2004;

// Error events (SOError).
inline constexpr std::int32_t OPOS_EL_OUTPUT = 1;
inline constexpr std::int32_t OPOS_ER_RETRY = 11;
inline constexpr std::int32_t OPOS_ER_CLEAR = 12;

// Health checks (CheckHealth level).
inline constexpr std::int32_t OPOS_CH_INTERNAL = 1;
inline constexpr std::int32_t OPOS_CH_EXTERNAL = 2;

// Printer stations, rotation, map modes and character set capability.
inline constexpr std::int32_t PTR_S_RECEIPT = 2;
inline constexpr std::int32_t PTR_RP_NORMAL = 0x0001;
inline constexpr std::int32_t PTR_RP_RIGHT90 = 0x0101;
inline constexpr std::int32_t PTR_RP_LEFT90 = 0x0102;
inline constexpr std::int32_t PTR_RP_ROTATE180 = 0x0103;
inline constexpr std::int32_t PTR_TP_TRANSACTION = 11;
inline constexpr std::int32_t PTR_TP_NORMAL = 12;
inline constexpr std::int32_t PTR_MM_DOTS = 1;
inline constexpr std::int32_t PTR_MM_TWIPS = 2;
inline constexpr std::int32_t PTR_MM_ENGLISH = 3;
inline constexpr std::int32_t PTR_MM_METRIC = 4;
inline constexpr std::int32_t PTR_CCS_ASCII = 998;

// Bitmaps (PrintBitmap, SetBitmap) and logos (SetLogo).
inline constexpr std::int32_t PTR_BM_ASIS = -11;
inline constexpr std::int32_t PTR_BM_LEFT = -1;
inline constexpr std::int32_t PTR_BM_CENTER = -2;
inline constexpr std::int32_t PTR_BM_RIGHT = -3;
inline constexpr std::int32_t PTR_L_TOP = 1;
inline constexpr std::int32_t PTR_L_BOTTOM = 2;

// Bar codes: text position and the symbologies the printer serves.
inline constexpr std::int32_t PTR_BC_TEXT_NONE = -11;
inline constexpr std::int32_t PTR_BC_TEXT_ABOVE = -12;
inline constexpr std::int32_t PTR_BC_TEXT_BELOW = -13;
inline constexpr std::int32_t PTR_BCS_UPCA = 101;
inline constexpr std::int32_t PTR_BCS_UPCE = 102;
inline constexpr std::int32_t PTR_BCS_JAN8 = 103;
inline constexpr std::int32_t PTR_BCS_JAN13 = 104;
inline constexpr std::int32_t PTR_BCS_TF = 105;
inline constexpr std::int32_t PTR_BCS_ITF = 106;
inline constexpr std::int32_t PTR_BCS_Codabar = 107;
inline constexpr std::int32_t PTR_BCS_Code39 = 108;
inline constexpr std::int32_t PTR_BCS_Code93 = 109;
inline constexpr std::int32_t PTR_BCS_Code128 = 110;
inline constexpr std::int32_t PTR_BCS_PDF417 = 201;
inline constexpr std::int32_t PTR_BCS_QRCODE = 204;

// Common property indexes (GetPropertyNumber, SetPropertyNumber).
inline constexpr std::int32_t PIDX_Claimed = 1;
inline constexpr std::int32_t PIDX_DataEventEnabled = 2;
inline constexpr std::int32_t PIDX_DeviceEnabled = 3;
inline constexpr std::int32_t PIDX_FreezeEvents = 4;
inline constexpr std::int32_t PIDX_OutputID = 5;
inline constexpr std::int32_t PIDX_ResultCode = 6;
inline constexpr std::int32_t PIDX_ResultCodeExtended = 7;
inline constexpr std::int32_t PIDX_ServiceObjectVersion = 8;
inline constexpr std::int32_t PIDX_State = 9;
inline constexpr std::int32_t PIDX_AutoDisable = 10;
inline constexpr std::int32_t PIDX_BinaryConversion = 11;
inline constexpr std::int32_t PIDX_PowerNotify = 13;
inline constexpr std::int32_t PIDX_PowerState = 14;
inline constexpr std::int32_t PIDX_CapPowerReporting = 501;

// Common string property indexes (GetPropertyString).
inline constexpr std::int32_t PIDX_CheckHealthText = 1000001;
inline constexpr std::int32_t PIDX_DeviceDescription = 1000002;
inline constexpr std::int32_t PIDX_DeviceName = 1000003;
inline constexpr std::int32_t PIDX_ServiceObjectDescription = 1000004;

// POS printer property indexes.
inline constexpr std::int32_t PIDXPtr_AsyncMode = 8001;
inline constexpr std::int32_t PIDXPtr_CharacterSet = 8002;
inline constexpr std::int32_t PIDXPtr_CoverOpen = 8003;
inline constexpr std::int32_t PIDXPtr_ErrorStation = 8004;
inline constexpr std::int32_t PIDXPtr_FlagWhenIdle = 8005;
inline constexpr std::int32_t PIDXPtr_MapMode = 8013;
inline constexpr std::int32_t PIDXPtr_RecEmpty = 8014;
inline constexpr std::int32_t PIDXPtr_RecLetterQuality = 8015;
inline constexpr std::int32_t PIDXPtr_RecLineChars = 8016;
inline constexpr std::int32_t PIDXPtr_RecLineHeight = 8017;
inline constexpr std::int32_t PIDXPtr_RecLineSpacing = 8018;
inline constexpr std::int32_t PIDXPtr_RecLinesToPaperCut = 8019;
inline constexpr std::int32_t PIDXPtr_RecLineWidth = 8020;
inline constexpr std::int32_t PIDXPtr_RecNearEnd = 8021;
inline constexpr std::int32_t PIDXPtr_RecSidewaysMaxChars = 8022;
inline constexpr std::int32_t PIDXPtr_RecSidewaysMaxLines = 8023;
inline constexpr std::int32_t PIDXPtr_ErrorLevel = 8035;
inline constexpr std::int32_t PIDXPtr_RotateSpecial = 8036;
inline constexpr std::int32_t PIDXPtr_CapConcurrentJrnRec = 8501;
inline constexpr std::int32_t PIDXPtr_CapCoverSensor = 8504;
inline constexpr std::int32_t PIDXPtr_CapRec2Color = 8515;
inline constexpr std::int32_t PIDXPtr_CapRecBarCode = 8516;
inline constexpr std::int32_t PIDXPtr_CapRecPresent = 8527;
inline constexpr std::int32_t PIDXPtr_CapTransaction = 8549;
inline constexpr std::int32_t PIDXPtr_CapCharacterSet = 8548;

// POS printer string property indexes.
inline constexpr std::int32_t PIDXPtr_CharacterSetList = 1008001;
inline constexpr std::int32_t PIDXPtr_JrnLineCharsList = 1008002;
inline constexpr std::int32_t PIDXPtr_RecLineCharsList = 1008003;
// The text of the last open or claim failure.
inline constexpr std::int32_t PIDXPtr_ErrorString = 1008005;
inline constexpr std::int32_t PIDXPtr_FontTypefaceList = 1008006;
inline constexpr std::int32_t PIDXPtr_RecBarCodeRotationList = 1008007;

}  // namespace devsvc
