// Identity of the test service-object library: a POS printer service object that records every
// call and a probe object through which tests steer it and read its record.
#pragma once

#include <cstdint>

#include "platform/guid.h"

namespace controls_test {

// The service object. Its members carry the dispatch ids of the POS printer service object.
inline constexpr platform::guid kServiceClsid = platform::guid::literal("{3C5A9E21-7B04-4D8F-9A61-2E7F0B5C4D19}");
inline constexpr const char* kServiceProgId = "ControlsTest.ServiceObject.1";

// The probe: TakeCalls, Reset, SetResult, SetFailure, SetNumber, SetString, Fire*, LiveObjects.
inline constexpr platform::guid kProbeClsid = platform::guid::literal("{8E2D4B60-1F3C-4A75-B09E-6C1A3F8D2E54}");
inline constexpr const char* kProbeProgId = "ControlsTest.Probe.1";

// DirectIO commands that make the service object call back into its control during the call;
// any other command adds 1000 to pData and appends "+SO" to pString.
inline constexpr std::int32_t kFireStatusUpdate = 9001;    // SOStatusUpdate(pData)
inline constexpr std::int32_t kFireError = 9002;           // SOError(111, pData, 1, 12); pData = the answer
inline constexpr std::int32_t kFireOutputComplete = 9003;  // SOOutputComplete(pData)
inline constexpr std::int32_t kFireDirectIO = 9004;        // SODirectIO(9004, pData, pString); cells get the answers
inline constexpr std::int32_t kPostStatusUpdate = 9005;    // SOStatusUpdate(pData) when the thread next pumps messages

}  // namespace controls_test
