// The Netcfg server library: its one creatable class (Configurator, ProgID
// Netcfg.Configurator.1) and the four library exports.
#include "netcfg/configurator.h"

namespace {

constexpr platform::server_class kClasses[] = {
    {.clsid = netcfg::kConfiguratorClsid,
     .prog_id = netcfg::kConfiguratorProgId,
     .description = netcfg::kConfiguratorDescription,
     .threading_model = "Apartment",
     .create = &platform::create_object<netcfg::Configurator>},
};

}  // namespace

PLATFORM_COM_SERVER_EXPORTS(kClasses)
