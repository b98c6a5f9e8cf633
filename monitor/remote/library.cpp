// The QuorelWorker server library: the remote creator (QuorelWorker.CreateObj) and the main
// server's collection (QuorelMainServer.ServerCollection), with the four library exports.
#include "create_obj.h"
#include "monitor/remote.h"
#include "platform/dispatch_table.h"
#include "server_collection.h"

namespace {

constexpr platform::server_class kClasses[] = {
    {.clsid = monitor::remote::kCreateObjClsid,
     .prog_id = monitor::remote::kCreateObjProgId,
     .description = "Quorel remote object creator",
     .threading_model = "Apartment",
     .create = &platform::create_object<monitor::remote::CreateObj>},
    {.clsid = monitor::remote::kServerCollectionClsid,
     .prog_id = monitor::remote::kServerCollectionProgId,
     .description = "Quorel main server collection",
     .threading_model = "Apartment",
     .create = &platform::create_object<monitor::remote::ServerCollection>},
};

}  // namespace

PLATFORM_COM_SERVER_EXPORTS(kClasses)
