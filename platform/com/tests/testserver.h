// Identity and members of the test server library's class, shared by the tests that load it.
#pragma once

#include "platform/guid.h"

namespace com_test {

inline constexpr platform::guid kEchoClsid = platform::guid::literal("{6B1F2C4E-3D5A-4F71-9C2B-8E0D4A6F1B37}");
inline constexpr const char* kEchoProgId = "PlatformTest.Echo.1";
inline constexpr const char* kEchoIndependentProgId = "PlatformTest.Echo";
inline constexpr const char* kEchoDescription = "Object model test class";

// Event ids of the echo object's outgoing interface.
inline constexpr long kDirectIOEvent = 1;
inline constexpr long kErrorEvent = 2;

}  // namespace com_test
