// The Configurator class served inside the calling program.
#include "netcfg/configurator.h"

namespace netcfg {

platform::hresult register_in_process(std::uint32_t& cookie) {
  const platform::com_ptr<platform::class_factory> factory =
      platform::make_class_factory(&platform::create_object<Configurator>);
  return platform::register_class_object(kConfiguratorClsid, factory.get(), cookie,
                                         kConfiguratorVersionIndependentProgId);
}

}  // namespace netcfg
