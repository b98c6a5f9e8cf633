// The Dspctl library: an in-process server offering the line display control by its ProgID.
#include "dspctl.h"

namespace {

constexpr platform::server_class kClasses[] = {
    {.clsid = dspctl::kClsid,
     .prog_id = dspctl::kProgId,
     .description = dspctl::kTypeName,
     .threading_model = "Apartment",
     .create = &platform::create_object<CDspctlCtrl>},
};

}  // namespace

PLATFORM_COM_SERVER_EXPORTS(kClasses)
