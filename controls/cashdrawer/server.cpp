// The Drwctl library: an in-process server offering the cash drawer control by its ProgID.
#include "drwctl.h"

namespace {

constexpr platform::server_class kClasses[] = {
    {.clsid = drwctl::kClsid,
     .prog_id = drwctl::kProgId,
     .description = drwctl::kTypeName,
     .threading_model = "Apartment",
     .create = &platform::create_object<CDrwctlCtrl>},
};

}  // namespace

PLATFORM_COM_SERVER_EXPORTS(kClasses)
