// The QuorelMonitor server library: its one creatable class (ServerMonitor, ProgID
// QuorelServer.Monitor) and the four library exports.
#include "monitor/monitor.h"
#include "platform/dispatch_table.h"
#include "server_monitor.h"

namespace {

constexpr platform::server_class kClasses[] = {
    {.clsid = monitor::kMonitorClsid,
     .prog_id = monitor::kMonitorProgId,
     .description = "Quorel printer I/O monitor",
     .threading_model = "Apartment",
     .create = &platform::create_object<monitor::server::ServerMonitor>},
};

}  // namespace

PLATFORM_COM_SERVER_EXPORTS(kClasses)
