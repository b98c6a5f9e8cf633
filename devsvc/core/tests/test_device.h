// A bare service object for the core's tests: CServiceDevice with its protected parts opened up
// and a poll tick that runs what the test gives it.
#pragma once

#include <functional>
#include <string>

#include "core/service_device.h"

namespace devsvc {

class test_device final : public CServiceDevice {
 public:
  using CServiceDevice::AttachControl;
  using CServiceDevice::DetachControl;
  using CServiceDevice::RegisterWithPollTimer;
  using CServiceDevice::UnregisterFromPollTimer;

  void set_flags(bool opened, bool enabled, bool claimed) {
    Opened = opened;
    DeviceEnabled = enabled;
    Claimed = claimed;
  }
  void set_printer(std::string machine, std::string port) {
    MachineType = std::move(machine);
    COMMPort = std::move(port);
  }
  std::int32_t result_code() const { return ResultCode; }
  CMonitorDriver& channel() { return channel_; }

  void PollTick() override {
    if (on_tick) on_tick();
  }
  std::function<void()> on_tick;
};

}  // namespace devsvc
