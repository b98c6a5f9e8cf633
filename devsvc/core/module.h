// The library's module-wide state: start and exit of the shared machinery (hidden window, poll
// timer), the device list of the poll timer, the printer connection shared by every claimed
// service object, and the output identifier generator. Used from the objects' thread.
#pragma once

#include <cstdint>

#include "io/monitor_driver.h"
#include "platform/com.h"

namespace devsvc {

class CServiceDevice;

// Window class and name of the hidden window that receives the poll ticks.
inline constexpr const char* kTimerWindowClass = "TIMERCHECKCLASS1.0";
inline constexpr const char* kTimerWindowName = "TIMERWND";

// The one IoChannel of the process, shared by every claimed service object of the library.
struct SharedConnection {
  platform::com_ptr<platform::dispatch> io;  // the open channel (null when none)
  CMonitorDriver client;                     // a client on `io`, borrowing it
  std::uint32_t pump_flag = 0;               // pump flag of the device that opened it
  std::int32_t users = 0;                    // claimed service objects using it
};

// Counts a service object. The first one starts the library's machinery on the calling thread
// (the hidden window "TIMERWND" of class "TIMERCHECKCLASS1.0"); when the last one goes, the
// library exits: the exiting flag is set, the shared connection released, the timer thread ended
// and joined, the window destroyed and its class unregistered.
void ModuleObjectCreated();
void ModuleObjectDestroyed();
// True once the library's machinery has exited (and not restarted since).
bool ModuleExiting();
// DllCanUnloadNow: unloadable when no object or lock is alive and the machinery is down.
platform::hresult ModuleCanUnloadNow();

// Adds a device at the head of the poll list; the first registration starts the timer thread,
// later ones post the start-timer message to it.
void RegisterPollDevice(CServiceDevice* device);
// Removes a device; when the list becomes empty the stop-timer message is posted.
void UnregisterPollDevice(CServiceDevice* device);
// Asks for `device`'s poll tick to run again as soon as the objects' thread dispatches its
// messages, without waiting for the timer: posts a message to the hidden window, at most one per
// device at a time. Lets an output worker send waiting requests back to back.
void RequestPromptTick(CServiceDevice* device);
// The interval of the running timer thread in milliseconds; 0 when none runs.
std::uint32_t PollIntervalMs();

// The shared connection of this library.
SharedConnection& GetSharedConnection();

// A new pseudo-random output identifier (0 to 32767), seeded by the tick count plus the previous
// identifier.
std::int32_t NextOutputID();

}  // namespace devsvc
