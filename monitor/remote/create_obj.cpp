// CreateObj: local creation at once, remote creation on a worker thread; either way the
// completion is posted to a window of the creating thread, which raises OnComplete.
#include "create_obj.h"

#include <system_error>

#include "monitor/print_server.h"
#include "monitor/remote.h"

namespace monitor::remote {
namespace {

using platform::Variant;

constexpr std::uint32_t kCompleteMessage = platform::kUserMessage + 1;

constexpr platform::dispatch_member<CreateObj> kMembers[] = {
    platform::dispatch_method<&CreateObj::CreateObject>("CreateObject", kDispCreateObject),
    platform::dispatch_method<&CreateObj::GetObject>("GetObject", kDispGetObject),
    platform::dispatch_method<&CreateObj::GetLastErr>("GetLastErr", kDispCreatorGetLastErr),
};

std::atomic<std::uint64_t> next_window_class{1};

// Creates `prog_id` in this process.
void create_local(const std::string& prog_id, CreateObj::outcome& out) {
  platform::com_ptr<platform::dispatch> object;
  const platform::hresult hr = platform::create_instance(prog_id, object);
  if (platform::succeeded(hr) && object) {
    out.object = std::move(object);
    return;
  }
  out.error.number = platform::failed(hr) ? hr : platform::kEFail;
  const std::string why = platform::com_last_error();
  out.error.description = "Cannot create " + prog_id + " on this computer" + (why.empty() ? "." : ": " + why);
}

// Creates `prog_id` on the print server at `address` (runs on the worker thread).
void create_remote_object(const std::string& prog_id, const server_address& address,
                          const client_credentials& credentials, int timeout_ms, CreateObj::outcome& out) {
  remote_error error;
  const std::shared_ptr<remote_link> link = attach_session(address, credentials, timeout_ms, &out.cancel, error);
  platform::com_ptr<platform::dispatch> object;
  if (link) create_remote(link, prog_id, object, error);
  std::lock_guard lock(out.mutex);
  out.object = std::move(object);
  out.error = error;
}

// The client's token and TLS files from the registry; false when a named file cannot be read.
bool load_credentials(client_credentials& out, std::string& why) {
  out.token = configured_token();
  const tls_files files = configured_tls_files();
  if (files.ca_file.empty()) return true;
  if (!read_pem_file(files.ca_file, out.ca, why)) return false;
  if (files.client_cert_file.empty() != files.client_key_file.empty()) {
    why = "ClientCertFile and ClientKeyFile go together";
    return false;
  }
  if (files.client_cert_file.empty()) return true;
  return read_pem_file(files.client_cert_file, out.cert, why) && read_pem_file(files.client_key_file, out.key, why);
}

}  // namespace

CreateObj::CreateObj() = default;

CreateObj::~CreateObj() {
  if (running_) running_->cancel = true;
  if (worker_.joinable()) worker_.join();
  events().clear();
}

std::span<const platform::dispatch_member<CreateObj>> CreateObj::dispatch_members() { return kMembers; }

bool CreateObj::ensure_window() {
  if (window_.get() != platform::window_handle::none) return true;
  const std::string name = "QuorelWorker.CreateObj." + std::to_string(next_window_class++);
  window_class_ = platform::scoped_window_class(
      name, [this](platform::window_handle, std::uint32_t id, std::int64_t, std::int64_t) {
        if (id == kCompleteMessage) complete();
      });
  if (!window_class_.registered()) return false;
  window_.reset(platform::create_window(name, name));
  return window_.get() != platform::window_handle::none;
}

std::int32_t CreateObj::CreateObject(std::string prog_id, std::string server) {
  if (running_) return kResultPending;
  if (!ensure_window()) {
    error_number_ = platform::kEFail;
    error_description_ = "The creating thread has no message queue.";
    error_source_ = kCreateObjProgId;
    return error_number_;
  }
  if (worker_.joinable()) worker_.join();
  object_.reset();
  error_number_ = 0;
  error_description_.clear();
  error_source_.clear();
  auto out = std::make_shared<outcome>();
  running_ = out;

  server_address address;
  const bool well_formed = parse_server(server, configured_port(), address);
  if (server.empty() || (well_formed && !address.explicit_port && is_local_server(address.host))) {
    // Apartment objects are made on the creating thread; the event still comes from the loop.
    create_local(prog_id, *out);
    out->source = kCreateObjProgId;
  } else if (!well_formed) {
    out->error.number = platform::kEInvalidArg;
    out->error.description = "\"" + server + "\" is not a server name (HOST or HOST:PORT).";
    out->source = kCreateObjProgId;
  } else {
    out->source = "print server " + address.target();
    client_credentials credentials;
    std::string why;
    if (!load_credentials(credentials, why)) {
      out->error.number = platform::kEInvalidArg;
      out->error.description = "The TLS settings under HKLM\\" + std::string(kPrintServerKey) + " are unusable: " + why;
    } else {
      const int timeout_ms = configured_connect_timeout_ms();
      const platform::window_handle window = window_.get();
      try {
        worker_ = std::thread([out, prog_id, address, credentials, timeout_ms, window] {
          create_remote_object(prog_id, address, credentials, timeout_ms, *out);
          platform::post_message(window, kCompleteMessage);
        });
        return 0;
      } catch (const std::system_error& e) {
        out->error.number = platform::kEOutOfMemory;
        out->error.description = std::string("No thread for the creation: ") + e.what();
      }
    }
  }
  platform::post_message(window_.get(), kCompleteMessage);
  return 0;
}

void CreateObj::complete() {
  if (!running_) return;
  if (worker_.joinable()) worker_.join();
  const std::shared_ptr<outcome> out = std::move(running_);
  running_.reset();
  {
    std::lock_guard lock(out->mutex);
    object_ = std::move(out->object);
    error_number_ = out->error.number;
    error_description_ = out->error.description;
    error_source_ = error_number_ != 0 ? out->source : "";
  }
  // A sink may drop the last reference to this object.
  platform::com_ptr<platform::dispatch> keep_alive(this);
  events().fire(kDispOnComplete);
}

Variant CreateObj::GetObject() { return Variant(object_); }

std::int32_t CreateObj::GetLastErr(std::int32_t& number, std::string& description, std::string& source) {
  number = error_number_;
  description = error_description_;
  source = error_source_;
  return 0;
}

}  // namespace monitor::remote
