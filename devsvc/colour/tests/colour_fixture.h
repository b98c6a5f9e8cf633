// Fixture of the two-colour printer's tests: the colour service object on the VX40CDevice key,
// a two-colour virtual printer (identity 0x2E) behind its port, no pauses.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/registry.h"
#include "printer_fixture.h"

namespace devsvc::test {

inline constexpr const char* kColorProgId = "Korvane.POSPrinter.VX40C.1";
inline constexpr const char* kColorFixedKey = "SOFTWARE\\OleForRetail\\ServiceOPOS\\POSPrinter\\VX40CDevice";
inline constexpr const char* kColorUserKey = "Software\\KorvaneOPOS\\VX40CDevice";

// Colour commands: red, black.
inline const std::string kRed("\x1D\x28\x4E\x02\x00\x30\x32", 7);
inline const std::string kBlackInk("\x1D\x28\x4E\x02\x00\x30\x31", 7);

inline void set_colour_fixed_dword(std::string_view name, std::uint32_t value) {
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine, kColorFixedKey, key),
            platform::kErrorSuccess);
  key.set_dword(name, value);
}

inline void set_colour_fixed_string(std::string_view name, std::string_view value) {
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine, kColorFixedKey, key),
            platform::kErrorSuccess);
  key.set_string(name, value);
}

class colour_fixture : public printer_fixture {
 protected:
  void SetUp() override {
    printer_fixture::SetUp();
    key_.device_name = "VX40CDevice";
    key_.machine_type = "VX40C";
    testing::write_printer_key(key_);
    use_printer("?id=0x2E&model=VX40C");
    // The virtual printer needs no time to print a band or store a picture.
    set_colour_fixed_dword("BandPauseMs", 0);
    set_colour_fixed_dword("StoredImagePauseMs", 0);
    set_colour_fixed_dword("TestPrintPauseMs", 0);
  }

  // Opens the colour object on VX40CDevice, claims and enables it.
  static void open_claim_enable(printer_object& p) {
    ASSERT_EQ(p.open("VX40CDevice"), OPOS_SUCCESS);
    ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
    p.set(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(p.number(PIDX_DeviceEnabled), 1);
  }
};

}  // namespace devsvc::test
