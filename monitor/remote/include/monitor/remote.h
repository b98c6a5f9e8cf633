// Identity of the remoting side of the monitor: the remote creator (QuorelWorker.CreateObj), the
// main server's server collection (QuorelMainServer.ServerCollection), their dispatch ids, and
// the registry values that the print server and its clients share.
#pragma once

#include <cstdint>

#include "platform/guid.h"

namespace monitor::remote {

inline constexpr const char* kCreateObjProgId = "QuorelWorker.CreateObj";
inline constexpr platform::guid kCreateObjClsid =
    platform::guid::literal("{339F3BB9-8632-47A3-8842-58469235EE36}");
inline constexpr const char* kServerCollectionProgId = "QuorelMainServer.ServerCollection";
inline constexpr platform::guid kServerCollectionClsid =
    platform::guid::literal("{6999CD30-B1E9-4E1A-9EFA-B4EF467FC98E}");

// Registry key (HKEY_LOCAL_MACHINE) of the print server and its clients: "Token" (REG_SZ, the
// shared secret every call carries), "Port" (REG_DWORD, default kDefaultPort) and
// "ConnectTimeOut" (REG_DWORD, ms, default kDefaultConnectTimeoutMs).
inline constexpr const char* kPrintServerKey = "SOFTWARE\\Quorel\\PrintServer";
// Registry key (HKEY_LOCAL_MACHINE) of the main server's list: one subkey per server, whose
// value "Text" keeps the text given when it was added.
inline constexpr const char* kServerCollectionKey = "SOFTWARE\\Quorel\\ServerCollection";

// TCP port of a print server named without one.
inline constexpr int kDefaultPort = 9190;
// How long a client waits for a print server to accept its session.
inline constexpr int kDefaultConnectTimeoutMs = 5000;

// Dispatch ids of QuorelWorker.CreateObj, and of its event interface.
enum create_obj_dispid : long {
  kDispCreateObject = 1,
  kDispGetObject = 2,
  kDispCreatorGetLastErr = 3,
};
inline constexpr long kDispOnComplete = 1;

// Dispatch ids of QuorelMainServer.ServerCollection.
enum server_collection_dispid : long {
  kDispAddServer = 1,
  kDispGetServerList = 2,
  kDispCollectionGetLastErr = 3,
  kDispGetInfo = 4,
  kDispRemoveServer = 5,
};

// Failures that a remote call adds to the object's own results.
inline constexpr std::int32_t kResultAccessDenied = static_cast<std::int32_t>(0x80070005u);  // wrong token
inline constexpr std::int32_t kResultServerUnavailable = static_cast<std::int32_t>(0x800706BAu);
inline constexpr std::int32_t kResultCallTimedOut = static_cast<std::int32_t>(0x800705B4u);
inline constexpr std::int32_t kResultDisconnected = static_cast<std::int32_t>(0x80010108u);  // server went away
inline constexpr std::int32_t kResultPending = static_cast<std::int32_t>(0x8000000Au);  // a creation is running

}  // namespace monitor::remote
