// The print server: publishes objects of this process (created by ProgID from an allow-list) to
// clients on the network, over gRPC. Each client attaches a session; the objects it creates and
// those they return live in that session and are released when it ends.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace monitor::remote {

struct print_server_options {
  // "ADDR:PORT" to listen on; port 0 picks a free one.
  std::string listen = "127.0.0.1:0";
  // The shared secret every call must carry; calls without it are refused. May be empty only
  // when client certificates are required.
  std::string token;
  // TLS (PEM texts): the server's certificate chain and key; with `tls_client_ca`, clients must
  // present a certificate signed by it. Empty: plain TCP.
  std::string tls_cert;
  std::string tls_key;
  std::string tls_client_ca;
  // The ProgIDs a client may create (compared ignoring case).
  std::vector<std::string> prog_ids;
  // The name the server gives its clients (the host name).
  std::string server_name;
  // Receives one line per session, refusal and failure; may be empty. Called from gRPC threads.
  std::function<void(std::string_view)> log;
};

class print_server {
 public:
  // Starts serving; null (with the reason in `error`) when the address cannot be bound.
  static std::unique_ptr<print_server> start(print_server_options options, std::string& error);
  ~print_server();
  print_server(const print_server&) = delete;
  print_server& operator=(const print_server&) = delete;

  // The TCP port bound.
  int port() const;
  // Ends every session and stops serving; waits at most `grace_ms` for calls in progress.
  void shutdown(int grace_ms = 1000);

  struct impl;

 private:
  explicit print_server(std::unique_ptr<impl> state);
  std::unique_ptr<impl> impl_;
};

// Reads the shared token from the registry (kPrintServerKey, value "Token"); "" when unset.
std::string configured_token();
// TLS files named under kPrintServerKey (paths of PEM files; empty when unset). The server
// reads "CertFile", "KeyFile" and "ClientCAFile"; a client "CAFile" (the authority that signed
// the servers' certificates), "ClientCertFile" and "ClientKeyFile".
struct tls_files {
  std::string cert_file;
  std::string key_file;
  std::string client_ca_file;
  std::string ca_file;
  std::string client_cert_file;
  std::string client_key_file;
};
tls_files configured_tls_files();
// The whole text of `path` into `out`; false (with the reason in `error`) when it cannot be read.
bool read_pem_file(const std::string& path, std::string& out, std::string& error);

// Reads "Port" under kPrintServerKey, else kDefaultPort.
int configured_port();
// Reads "ConnectTimeOut" under kPrintServerKey, else kDefaultConnectTimeoutMs.
int configured_connect_timeout_ms();
// The host name of this machine ("localhost" when it has none).
std::string local_host_name();

}  // namespace monitor::remote
