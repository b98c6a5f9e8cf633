// CreateObj (ProgID QuorelWorker.CreateObj): creates an object by ProgID on a named server
// without blocking the caller's message loop. The local host gives the in-process object;
// another server gives a proxy that forwards every call to that server's print server. The
// end of each creation, done or failed, raises OnComplete on the creating thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "platform/dispatch_table.h"
#include "platform/messages.h"
#include "remote_link.h"

namespace monitor::remote {

class CreateObj final : public platform::dispatch_object<CreateObj, platform::connection_point_impl> {
 public:
  CreateObj();
  ~CreateObj() override;
  static std::span<const platform::dispatch_member<CreateObj>> dispatch_members();

  // Starts creating `prog_id` on `server` ("", "localhost", this host's name or "127.0.0.1":
  // here; "HOST" or "HOST:PORT": that print server). 0 when started; kResultPending while an
  // earlier creation runs; a failure when this thread has no message queue.
  std::int32_t CreateObject(std::string prog_id, std::string server);
  // The object created by the last creation, or a null object.
  platform::Variant GetObject();
  // The last failure (number, description, source); result 0.
  std::int32_t GetLastErr(std::int32_t& number, std::string& description, std::string& source);

  // What a creation hands back to the creating thread (shared with its worker).
  struct outcome {
    std::mutex mutex;
    bool done = false;
    platform::com_ptr<platform::dispatch> object;
    remote_error error;
    std::string source;
    std::atomic<bool> cancel{false};
  };

 private:
  // Takes a finished creation's outcome and raises OnComplete.
  void complete();
  bool ensure_window();

  platform::scoped_window_class window_class_;
  platform::scoped_window window_;
  std::shared_ptr<outcome> running_;
  std::thread worker_;
  platform::com_ptr<platform::dispatch> object_;
  std::int32_t error_number_ = 0;
  std::string error_description_;
  std::string error_source_;
};

}  // namespace monitor::remote
