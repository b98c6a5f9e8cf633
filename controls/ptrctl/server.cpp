// The Ptrctl library: an in-process server offering the POS printer control by its ProgID.
#include "ptrctl.h"

namespace {

constexpr platform::server_class kClasses[] = {
    {.clsid = ptrctl::kClsid,
     .prog_id = ptrctl::kProgId,
     .description = ptrctl::kTypeName,
     .threading_model = "Apartment",
     .create = &platform::create_object<CPtrctlCtrl>},
};

}  // namespace

PLATFORM_COM_SERVER_EXPORTS(kClasses)
