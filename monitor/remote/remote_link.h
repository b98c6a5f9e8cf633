// The client side of a print server session: one gRPC channel and attached session per created
// object tree, and the proxy objects that forward every call over it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/com.h"

namespace monitor::remote {

// Why a remote operation failed: a result code and a text for the caller's error record.
struct remote_error {
  std::int32_t number = 0;
  std::string description;
};

// Where a server text ("HOST", "HOST:PORT", "[V6]:PORT") leads; false when it is malformed.
struct server_address {
  std::string host;
  int port = 0;
  bool explicit_port = false;
  // "HOST:PORT" as gRPC dials it.
  std::string target() const;
};
bool parse_server(std::string_view text, int default_port, server_address& out);

// True when `server` (without a port) names this machine: empty, "localhost", "127.0.0.1" or
// the host's own name.
bool is_local_server(std::string_view server);

class remote_link;

// How a client proves itself and checks the server: the token, and for TLS the authority that
// signed the server's certificate and the client's own certificate and key (PEM texts; all
// empty: plain TCP).
struct client_credentials {
  std::string token;
  std::string ca;
  std::string cert;
  std::string key;
};

// Connects to a print server and attaches a session, waiting up to `timeout_ms` (in slices, so
// that `cancel` stops it). Null with the reason in `error` when the server is unreachable,
// refuses the token or does not answer.
std::shared_ptr<remote_link> attach_session(const server_address& address, const client_credentials& credentials,
                                            int timeout_ms,
                                            const std::atomic<bool>* cancel, remote_error& error);

// Creates `prog_id` on the session's server and hands out its proxy.
platform::hresult create_remote(const std::shared_ptr<remote_link>& link, std::string_view prog_id,
                                platform::com_ptr<platform::dispatch>& out, remote_error& error);

}  // namespace monitor::remote
