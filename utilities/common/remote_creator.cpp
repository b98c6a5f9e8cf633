// The production remote creator: in-process creation for this computer, QuorelWorker.CreateObj
// for any other server, with its OnComplete event ending the wait.
#include <string>

#include "platform/dispatch_table.h"
#include "utilities/browser.h"

namespace utilities {
namespace {

using platform::Variant;

// The event sink attached to the worker: OnComplete (dispid 1) sets the "complete" flag.
class complete_sink final : public platform::dispatch_object<complete_sink> {
 public:
  static std::span<const platform::dispatch_member<complete_sink>> dispatch_members() {
    static constexpr platform::dispatch_member<complete_sink> kMembers[] = {
        platform::dispatch_method<&complete_sink::OnComplete>("OnComplete", 1),
    };
    return kMembers;
  }
  std::int32_t OnComplete() {
    complete = true;
    return 0;
  }
  bool complete = false;
};

class worker_creator final : public remote_creator {
 public:
  ~worker_creator() override {
    if (point_) point_->unadvise(cookie_);
  }

  std::int32_t start(const std::string& prog_id, const std::string& server) override {
    if (is_local_host(server)) {
      // This computer: the object itself, at once.
      const platform::hresult hr = platform::create_instance(prog_id, object_);
      if (platform::failed(hr)) fail(hr, "Cannot create " + prog_id + ": " + platform::com_last_error(), prog_id);
      local_done_ = true;
      return 0;
    }
    const platform::hresult hr = platform::create_instance(kRemoteCreatorProgId, worker_);
    if (platform::failed(hr)) {
      fail(hr, "The remote creator " + std::string(kRemoteCreatorProgId) + " is not available: " +
                   platform::com_last_error(), kRemoteCreatorProgId);
      local_done_ = true;
      return hr;
    }
    sink_ = platform::make_object<complete_sink>();
    point_ = worker_.as<platform::connection_point>();
    if (!point_ || platform::failed(point_->advise(sink_.get(), cookie_))) {
      point_.reset();
      fail(platform::kENoInterface, "The remote creator offers no OnComplete event.", kRemoteCreatorProgId);
      local_done_ = true;
      return platform::kENoInterface;
    }
    const platform::call_result r = platform::call(worker_.get(), "CreateObject", prog_id, server);
    const std::int32_t rc = r.ok() ? r.value.long_or(0) : r.hr;
    if (rc != 0) local_done_ = true;
    return rc;
  }

  bool complete() const override { return local_done_ || (sink_ && sink_->complete); }

  platform::com_ptr<platform::dispatch> take_object() override {
    if (object_ || !worker_) return std::move(object_);
    const platform::call_result r = platform::call(worker_.get(), "GetObject");
    platform::com_ptr<platform::dispatch> out;
    if (r.ok()) r.value.as_object(out);
    return out;
  }

  ErrorRecord last_error() override {
    if (error_.Number != 0 || !worker_) return error_;
    ErrorRecord e;
    const platform::call_result r = platform::call(worker_.get(), "GetLastErr", Variant::ref(e.Number),
                                                   Variant::ref(e.Description), Variant::ref(e.Source));
    if (!r.ok()) return {r.hr, platform::take_error_info(), kRemoteCreatorProgId};
    return e;
  }

 private:
  void fail(platform::hresult hr, std::string text, std::string source) { error_ = {hr, std::move(text), std::move(source)}; }

  platform::com_ptr<platform::dispatch> worker_;
  platform::com_ptr<platform::dispatch> object_;
  platform::com_ptr<complete_sink> sink_;
  platform::com_ptr<platform::connection_point> point_;
  std::uint32_t cookie_ = 0;
  bool local_done_ = false;
  ErrorRecord error_;
};

}  // namespace

std::unique_ptr<remote_creator> make_worker_creator() { return std::make_unique<worker_creator>(); }

}  // namespace utilities
