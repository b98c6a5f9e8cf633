// The library's module-wide state: machinery start and exit, poll timer device list and ticks,
// shared connection, output identifiers.
#include "core/module.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "core/service_device.h"
#include "core/timer_thread.h"
#include "platform/messages.h"

namespace devsvc {
namespace {

struct ModuleState {
  long live_objects = 0;
  bool running = false;
  bool exiting = false;
  platform::scoped_window_class window_class;
  platform::scoped_window window;
  std::unique_ptr<CTimerThread> timer;
  std::deque<CServiceDevice*> devices;  // newest first
  std::vector<CServiceDevice*> prompt_ticks;  // devices with a prompt tick message waiting
  SharedConnection connection;
  std::int32_t last_output_id = 0;
};

// Made on first use; ExitGuard below frees it when the library is unloaded or the process ends
// with no object alive, and otherwise leaves it for objects that outlive static destruction.
ModuleState* g_state = nullptr;

ModuleState& State() {
  if (g_state == nullptr) g_state = new ModuleState;
  return *g_state;
}

bool IsRegistered(const ModuleState& s, CServiceDevice* device) {
  return std::find(s.devices.begin(), s.devices.end(), device) != s.devices.end();
}

bool ForgetPromptTick(ModuleState& s, CServiceDevice* device) {
  const auto it = std::find(s.prompt_ticks.begin(), s.prompt_ticks.end(), device);
  if (it == s.prompt_ticks.end()) return false;
  s.prompt_ticks.erase(it);
  return true;
}

// The hidden window's handler. A prompt tick runs one device's tick (if it is still registered
// and still waits for it). A timer tick stops the timer, ticks every device in list order and
// restarts it.
void OnTimerWindowMessage(platform::window_handle, std::uint32_t id, std::int64_t, std::int64_t lparam) {
  ModuleState& s = State();
  if (id == kPromptTickMessage) {
    // The device is only compared until it is known to be registered (and so alive).
    auto* device = reinterpret_cast<CServiceDevice*>(static_cast<std::intptr_t>(lparam));
    if (ForgetPromptTick(s, device) && IsRegistered(s, device)) device->PollTick();
    return;
  }
  if (id != kPollTickMessage || s.devices.empty()) return;
  if (s.timer) s.timer->Post(kStopTimerMessage);
  // A tick may pump messages, so devices may close (or go away) meanwhile: each one is ticked
  // only while it is still registered.
  const std::vector<CServiceDevice*> snapshot(s.devices.begin(), s.devices.end());
  for (CServiceDevice* device : snapshot) {
    if (IsRegistered(s, device)) device->PollTick();
  }
  if (s.timer) s.timer->Post(kStartTimerMessage);
}

void StartMachinery(ModuleState& s) {
  s.window_class = platform::scoped_window_class(kTimerWindowClass, &OnTimerWindowMessage);
  s.window.reset(platform::create_window(kTimerWindowClass, kTimerWindowName));
  s.running = true;
  s.exiting = false;
}

void ExitMachinery(ModuleState& s) {
  s.exiting = true;
  // A connection still held (objects destroyed while claimed) is closed with the library.
  if (s.connection.io) {
    s.connection.client.CloseIO();
    s.connection.client.ReleaseDispatch();
    s.connection.io.reset();
    s.connection.users = 0;
    s.connection.pump_flag = 0;
  }
  s.timer.reset();
  s.devices.clear();
  s.prompt_ticks.clear();
  s.window.reset();
  s.window_class = platform::scoped_window_class();
  s.running = false;
}

// Ends the timer thread when the library is unloaded or the process exits, and frees the state
// unless objects are still alive.
struct ExitGuard {
  ~ExitGuard() {
    if (g_state == nullptr) return;
    g_state->timer.reset();
    if (g_state->live_objects == 0) {
      delete g_state;
      g_state = nullptr;
    }
  }
} g_exit_guard;

}  // namespace

void ModuleObjectCreated() {
  ModuleState& s = State();
  if (s.live_objects++ == 0 && !s.running) StartMachinery(s);
}

void ModuleObjectDestroyed() {
  ModuleState& s = State();
  if (s.live_objects > 0 && --s.live_objects == 0 && s.running) ExitMachinery(s);
}

bool ModuleExiting() { return State().exiting; }

platform::hresult ModuleCanUnloadNow() {
  const ModuleState& s = State();
  if (s.running) return platform::kSFalse;
  return platform::server_can_unload_now();
}

void RegisterPollDevice(CServiceDevice* device) {
  ModuleState& s = State();
  if (IsRegistered(s, device)) return;
  s.devices.push_front(device);
  if (!s.timer) {
    s.timer = std::make_unique<CTimerThread>(s.window.get());
    s.timer->Start();
  } else {
    s.timer->Post(kStartTimerMessage);
  }
}

void UnregisterPollDevice(CServiceDevice* device) {
  ModuleState& s = State();
  const auto it = std::find(s.devices.begin(), s.devices.end(), device);
  if (it == s.devices.end()) return;
  s.devices.erase(it);
  ForgetPromptTick(s, device);
  if (s.devices.empty() && s.timer) s.timer->Post(kStopTimerMessage);
}

void RequestPromptTick(CServiceDevice* device) {
  ModuleState& s = State();
  if (!IsRegistered(s, device)) return;
  if (std::find(s.prompt_ticks.begin(), s.prompt_ticks.end(), device) != s.prompt_ticks.end()) return;
  if (platform::post_message(s.window.get(), kPromptTickMessage, 0,
                             static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(device)))) {
    s.prompt_ticks.push_back(device);
  }
}

std::uint32_t PollIntervalMs() {
  const ModuleState& s = State();
  return s.timer ? s.timer->interval_ms() : 0;
}

SharedConnection& GetSharedConnection() { return State().connection; }

std::int32_t NextOutputID() {
  // The generator of the C library the service objects were designed with (a linear
  // congruential generator giving 15 bits), kept private so the host's rand() is untouched.
  ModuleState& s = State();
  std::uint32_t seed = static_cast<std::uint32_t>(platform::tick_count_ms()) +
                       static_cast<std::uint32_t>(s.last_output_id);
  seed = seed * 214013u + 2531011u;
  s.last_output_id = static_cast<std::int32_t>((seed >> 16) & 0x7FFFu);
  return s.last_output_id;
}

}  // namespace devsvc
