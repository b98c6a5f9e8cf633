// The print server's gRPC service: token check on every call, sessions attached by a stream,
// objects of a session by handle, members invoked with their by-reference arguments sent back.
#include "monitor/print_server.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <sstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>

#include <grpcpp/grpcpp.h>

#include "monitor/immediate_writer.h"
#include "monitor/remote.h"
#include "object_host.grpc.pb.h"
#include "platform/com.h"
#include "platform/host_names.h"
#include "platform/registry.h"
#include "value_codec.h"
#include "wire.h"

namespace monitor::remote {
namespace {

namespace pb = quorel::remote;
using platform::com_ptr;
using platform::dispatch;
using platform::Variant;

// One object a session holds, with what its call budget and its write pipeline need.
struct held_object {
  com_ptr<dispatch> object;
  bool probed = false;  // the members below looked up
  long read_timeout_id = -1;
  long write_timeout_id = -1;
  long write_id = -1;
  long is_open_id = -1;
  long read_id = -1;
  long read_answer_id = -1;
  // An I/O channel: its WriteIO calls may come through a pipeline.
  bool channel() const { return read_timeout_id >= 0 && write_timeout_id >= 0 && write_id >= 0 && is_open_id >= 0; }
};

// A client's session: its objects by handle. Calls of one session run one at a time, under
// `mutex` taken through session_lock.
struct session {
  std::mutex mutex;
  // Calls waiting for the lock: a pipeline's writer lets them go first between its attempts.
  std::mutex gate;
  std::condition_variable gate_changed;
  int waiting = 0;

  // Takes the lock for a pipeline's write once no call waits for it.
  void lock_after_calls() {
    {
      std::unique_lock lock(gate);
      gate_changed.wait(lock, [&] { return waiting == 0; });
    }
    mutex.lock();
  }
  // Takes the lock for a pipeline's write if no call holds it or waits for it; never waits.
  bool try_lock_after_calls() {
    {
      std::lock_guard lock(gate);
      if (waiting != 0) return false;
    }
    return mutex.try_lock();
  }
  std::unordered_map<std::uint64_t, held_object> objects;
  std::uint64_t next_handle = 1;
  std::string peer;

  std::uint64_t add(com_ptr<dispatch> object) {
    const std::uint64_t handle = next_handle++;
    objects[handle].object = std::move(object);
    return handle;
  }
};

// The session's lock for one call.
class session_lock {
 public:
  explicit session_lock(session& s) : s_(s) {
    {
      std::lock_guard lock(s_.gate);
      ++s_.waiting;
    }
    s_.mutex.lock();
    {
      std::lock_guard lock(s_.gate);
      --s_.waiting;
    }
    s_.gate_changed.notify_all();
  }
  ~session_lock() { s_.mutex.unlock(); }
  session_lock(const session_lock&) = delete;
  session_lock& operator=(const session_lock&) = delete;

 private:
  session& s_;
};

// Compares two secrets in time that does not depend on where they differ.
bool same_secret(std::string_view a, std::string_view b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  const std::size_t n = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    diff |= static_cast<unsigned char>(x ^ y);
  }
  return diff == 0;
}

// A metadata value of the call; "" when absent.
std::string metadata(const grpc::ServerContextBase& ctx, const char* key) {
  const auto& all = ctx.client_metadata();
  const auto found = all.find(key);
  return found == all.end() ? std::string() : std::string(found->second.data(), found->second.size());
}

// Looks up the members the budget and the pipeline use, once.
void probe(held_object& held) {
  if (held.probed) return;
  held.probed = true;
  const std::pair<const char*, long*> members[] = {{"ReadTimeOut", &held.read_timeout_id},
                                                   {"WriteTimeOut", &held.write_timeout_id},
                                                   {"WriteIO", &held.write_id},
                                                   {"IsOpen", &held.is_open_id},
                                                   {"ReadIO", &held.read_id},
                                                   {"ReadAnswer", &held.read_answer_id}};
  for (const auto& [name, id] : members) {
    if (platform::failed(held.object->get_ids_of_names(name, *id)) || *id < 0) *id = -1;
  }
}

// The budget of the next call on `held`: from its I/O time-outs when it has them. For an I/O
// channel, `channel` receives what the client's pipeline needs.
std::uint32_t budget_of(held_object& held, pb::ChannelInfo* channel = nullptr) {
  probe(held);
  if (held.read_timeout_id < 0 || held.write_timeout_id < 0) return kDefaultBudgetMs;
  Variant read;
  Variant write;
  if (platform::failed(held.object->invoke(held.read_timeout_id, platform::invoke_kind::property_get, {}, &read)) ||
      platform::failed(held.object->invoke(held.write_timeout_id, platform::invoke_kind::property_get, {}, &write))) {
    return kDefaultBudgetMs;
  }
  Variant open;
  if (channel != nullptr && held.channel() &&
      platform::succeeded(held.object->invoke(held.is_open_id, platform::invoke_kind::property_get, {}, &open))) {
    channel->set_write_dispid(static_cast<std::int32_t>(held.write_id));
    channel->set_write_timeout_ms(static_cast<std::uint32_t>(std::max(write.long_or(0), 0)));
    channel->set_open(open.long_or(0) != 0);
    for (const long id : {held.read_id, held.read_answer_id}) {
      if (id >= 0) channel->add_read_dispids(static_cast<std::int32_t>(id));
    }
  }
  return io_budget_ms(read.long_or(0), write.long_or(0));
}

}  // namespace

class attach_reactor;

struct print_server::impl final
    : public pb::ObjectHost::WithCallbackMethod_Pipeline<pb::ObjectHost::WithCallbackMethod_Attach<pb::ObjectHost::Service>> {
  print_server_options options;
  std::unique_ptr<grpc::Server> server;
  int port = 0;

  // Recursive: a stream finished under it at shutdown may end its session on the same thread.
  std::recursive_mutex mutex;
  std::map<std::string, std::shared_ptr<session>> sessions;
  std::set<attach_reactor*> attached;
  bool stopping = false;

  void log(const std::string& line) {
    if (options.log) options.log(line);
  }

  // The refusal of a call without the right token, logged.
  grpc::Status refused(const grpc::ServerContextBase& ctx, std::string_view call, const std::string& peer) {
    log("refused " + std::string(call) + " from " + peer + ": wrong or missing token");
    (void)ctx;
    return grpc::Status(grpc::StatusCode::UNAUTHENTICATED, "wrong or missing token");
  }

  // The call carries the token; with client certificates required and no token configured,
  // the verified certificate is the credential.
  bool authorized(const grpc::ServerContextBase& ctx) {
    if (options.token.empty()) return !options.tls_client_ca.empty();
    return same_secret(metadata(ctx, kTokenMetadata), options.token);
  }

  // The caller's session, after the token check; a status other than OK refuses the call.
  grpc::Status find_session(grpc::ServerContext* ctx, std::string_view call, std::shared_ptr<session>& out) {
    if (!authorized(*ctx)) return refused(*ctx, call, ctx->peer());
    const std::string id = metadata(*ctx, kSessionMetadata);
    std::lock_guard lock(mutex);
    const auto found = sessions.find(id);
    if (found == sessions.end()) {
      return grpc::Status(grpc::StatusCode::FAILED_PRECONDITION, "no such session (attach first)");
    }
    out = found->second;
    return grpc::Status::OK;
  }

  bool allowed(std::string_view prog_id) const {
    for (const std::string& p : options.prog_ids) {
      if (platform::equal_ignoring_case(p, prog_id)) return true;
    }
    return false;
  }

  grpc::ServerWriteReactor<pb::AttachEvent>* Attach(grpc::CallbackServerContext* ctx,
                                                    const pb::AttachRequest* request) override;
  grpc::ServerBidiReactor<pb::WriteBatch, pb::WriteAck>* Pipeline(grpc::CallbackServerContext* ctx) override;

  // Write pipelines whose writer may still run; shutdown waits for them.
  std::mutex pipelines_mutex;
  std::condition_variable pipelines_changed;
  int live_pipelines = 0;

  grpc::Status Create(grpc::ServerContext* ctx, const pb::CreateRequest* request, pb::CreateReply* reply) override {
    std::shared_ptr<session> s;
    if (grpc::Status st = find_session(ctx, "Create", s); !st.ok()) return st;
    const std::string& prog_id = request->prog_id();
    if (!allowed(prog_id)) {
      reply->set_hr(platform::kCoEClassString);
      reply->set_error(prog_id + " is not offered by print server " + options.server_name);
      log("session " + s->peer + ": refused to create " + prog_id + " (not offered)");
      return grpc::Status::OK;
    }
    session_lock lock(*s);
    com_ptr<dispatch> object;
    const platform::hresult hr = platform::create_instance(prog_id, object);
    if (platform::failed(hr) || !object) {
      reply->set_hr(platform::failed(hr) ? hr : platform::kEFail);
      reply->set_error("cannot create " + prog_id + " on print server " + options.server_name + ": " +
                       platform::com_last_error());
      return grpc::Status::OK;
    }
    const std::uint64_t handle = s->add(std::move(object));
    reply->set_hr(platform::kSOk);
    reply->set_handle(handle);
    held_object& held = s->objects[handle];
    pb::ChannelInfo channel;
    reply->set_budget_ms(budget_of(held, &channel));
    if (held.channel()) *reply->mutable_channel() = channel;
    return grpc::Status::OK;
  }

  grpc::Status GetIdOfName(grpc::ServerContext* ctx, const pb::NameRequest* request, pb::NameReply* reply) override {
    std::shared_ptr<session> s;
    if (grpc::Status st = find_session(ctx, "GetIdOfName", s); !st.ok()) return st;
    session_lock lock(*s);
    const auto found = s->objects.find(request->handle());
    if (found == s->objects.end()) return grpc::Status(grpc::StatusCode::NOT_FOUND, "no such object");
    long dispid = 0;
    reply->set_hr(found->second.object->get_ids_of_names(request->name(), dispid));
    reply->set_dispid(static_cast<std::int32_t>(dispid));
    return grpc::Status::OK;
  }

  grpc::Status Invoke(grpc::ServerContext* ctx, const pb::InvokeRequest* request, pb::InvokeReply* reply) override {
    std::shared_ptr<session> s;
    if (grpc::Status st = find_session(ctx, "Invoke", s); !st.ok()) return st;
    session_lock lock(*s);
    return run_call(*s, *request, reply);
  }

  // Runs a call of session `s`, whose lock the caller holds. A status other than OK: the
  // object is not the session's.
  grpc::Status run_call(session& s, const pb::InvokeRequest& request, pb::InvokeReply* reply) {
    const auto found = s.objects.find(request.handle());
    if (found == s.objects.end()) return grpc::Status(grpc::StatusCode::NOT_FOUND, "no such object");
    // Keeps the object even when the call releases another handle of the session.
    const com_ptr<dispatch> object = found->second.object;

    const handle_to_object to_object = [&s](std::uint64_t handle, com_ptr<dispatch>& out) {
      const auto it = s.objects.find(handle);
      if (it == s.objects.end()) return platform::kDispETypeMismatch;
      out = it->second.object;
      return platform::kSOk;
    };
    // The caller's variables live here for the call: by-reference cells point into them.
    std::deque<std::int32_t> longs;
    std::deque<std::string> strings;
    std::deque<std::vector<std::uint8_t>> byte_arrays;
    std::vector<Variant> args;
    args.reserve(static_cast<std::size_t>(request.args_size()));
    for (const pb::Value& value : request.args()) {
      Variant v;
      if (const platform::hresult hr = decode_value(value, v, to_object); platform::failed(hr)) {
        reply->set_hr(hr);
        reply->set_error("an argument names an object this session does not hold");
        return grpc::Status::OK;
      }
      if (value.by_ref()) {
        switch (v.type()) {
          case platform::variant_type::long_value:
          case platform::variant_type::empty:
            v = Variant::ref(longs.emplace_back(v.long_or()));
            break;
          case platform::variant_type::string:
            v = Variant::ref(strings.emplace_back(v.string_or()));
            break;
          case platform::variant_type::bytes: {
            std::vector<std::uint8_t> bytes;
            v.as_bytes(bytes);
            v = Variant::ref(byte_arrays.emplace_back(std::move(bytes)));
            break;
          }
          default:
            break;  // no by-reference form: passed by value
        }
      }
      args.push_back(std::move(v));
    }

    Variant result;
    const platform::hresult hr = object->invoke(request.dispid(), static_cast<platform::invoke_kind>(request.kind()),
                                                args, &result);
    reply->set_hr(hr);
    if (platform::failed(hr)) reply->set_error(platform::take_error_info());
    const object_to_handle to_handle = [&s](const com_ptr<dispatch>& o, std::uint64_t& handle) {
      handle = s.add(o);
      return platform::kSOk;
    };
    encode_value(result, *reply->mutable_result(), to_handle);
    for (std::size_t i = 0; i < args.size(); ++i) {
      pb::Value* out = reply->add_outs();
      if (request.args(static_cast<int>(i)).by_ref() && args[i].is_ref()) {
        encode_value(args[i], *out, to_handle);
      } else {
        out->set_empty(true);
      }
    }
    const auto held = s.objects.find(request.handle());
    if (held == s.objects.end()) {
      reply->set_budget_ms(kDefaultBudgetMs);
      return grpc::Status::OK;
    }
    pb::ChannelInfo channel;
    reply->set_budget_ms(budget_of(held->second, &channel));
    if (held->second.channel()) *reply->mutable_channel() = channel;
    return grpc::Status::OK;
  }

  grpc::Status Release(grpc::ServerContext* ctx, const pb::ReleaseRequest* request, pb::ReleaseReply*) override {
    std::shared_ptr<session> s;
    if (grpc::Status st = find_session(ctx, "Release", s); !st.ok()) return st;
    std::vector<com_ptr<dispatch>> dropped;  // released after the lock
    {
      session_lock lock(*s);
      for (const std::uint64_t handle : request->handles()) {
        const auto found = s->objects.find(handle);
        if (found == s->objects.end()) continue;
        dropped.push_back(std::move(found->second.object));
        s->objects.erase(found);
      }
    }
    return grpc::Status::OK;
  }

  // Ends a session: its objects go when the last call in progress lets go of it.
  void end_session(const std::string& id, attach_reactor* reactor) {
    std::shared_ptr<session> s;
    {
      std::lock_guard lock(mutex);
      attached.erase(reactor);
      const auto found = sessions.find(id);
      if (found != sessions.end()) {
        s = std::move(found->second);
        sessions.erase(found);
      }
    }
    if (s) log("session " + s->peer + " ended");
  }
};

// The stream of an attached session: one event when ready, then open until the client goes,
// the server stops, or the client cancels.
class attach_reactor final : public grpc::ServerWriteReactor<pb::AttachEvent> {
 public:
  attach_reactor(print_server::impl& host, std::string id) : host_(host), id_(std::move(id)) {}

  void start(const std::string& server_name) {
    event_.set_server_name(server_name);
    StartWrite(&event_);
  }
  // Ends the stream with `status` (once).
  void finish(const grpc::Status& status) {
    std::call_once(finished_, [&] { Finish(status); });
  }

  void OnWriteDone(bool ok) override {
    if (!ok) finish(grpc::Status::CANCELLED);
  }
  void OnCancel() override { finish(grpc::Status::CANCELLED); }
  void OnDone() override {
    if (!id_.empty()) host_.end_session(id_, this);
    delete this;
  }

 private:
  print_server::impl& host_;
  std::string id_;  // empty for a refused attach
  pb::AttachEvent event_;
  std::once_flag finished_;
};

grpc::ServerWriteReactor<pb::AttachEvent>* print_server::impl::Attach(grpc::CallbackServerContext* ctx,
                                                                      const pb::AttachRequest*) {
  const std::string peer = ctx->peer();
  if (!authorized(*ctx)) {
    auto* reactor = new attach_reactor(*this, {});
    reactor->finish(refused(*ctx, "Attach", peer));
    return reactor;
  }
  const std::string id = metadata(*ctx, kSessionMetadata);
  attach_reactor* reactor = nullptr;
  {
    std::lock_guard lock(mutex);
    if (id.size() < 16 || sessions.count(id) != 0 || stopping) {
      reactor = new attach_reactor(*this, {});
      reactor->finish(grpc::Status(grpc::StatusCode::FAILED_PRECONDITION,
                                   stopping ? "the server is stopping" : "bad or duplicate session id"));
      return reactor;
    }
    reactor = new attach_reactor(*this, id);
    auto s = std::make_shared<session>();
    s->peer = peer;
    sessions.emplace(id, std::move(s));
    attached.insert(reactor);
  }
  log("session " + peer + " attached");
  reactor->start(options.server_name);
  return reactor;
}

namespace {

// A pipeline refused before it began: ends at once with the reason.
class refused_pipeline final : public grpc::ServerBidiReactor<pb::WriteBatch, pb::WriteAck> {
 public:
  explicit refused_pipeline(const grpc::Status& status) { Finish(status); }
  void OnDone() override { delete this; }
};

// Pause before writing again when the printer took nothing and answered at once (paper out, a
// printer that refuses data without waiting), so that a stalled printer does not spin.
constexpr std::chrono::milliseconds kRetryPause{20};
// Largest run of print data written with one WriteIO.
constexpr std::size_t kLargestWrite = 32 * 1024;
// Progress is reported at once every kWindowStepBytes or when the last report is kReportEvery
// old (so that a client waiting for its writes hears of progress after every slow write), else
// once the writer has been idle for kIdleReport.
constexpr std::chrono::milliseconds kIdleReport{1};
constexpr std::chrono::milliseconds kReportEvery{100};

}  // namespace

// The server end of a write pipeline: the client's WriteIO calls on one channel object, written
// in order by a thread of their own with the object's WriteIO. Bytes the printer does not take
// are kept and written again until it takes them; only a failure of the link drops them, and
// the client hears of it. Runs of print data go out together, as a socket would send them.
class pipeline_reactor final : public grpc::ServerBidiReactor<pb::WriteBatch, pb::WriteAck> {
 public:
  pipeline_reactor(print_server::impl& host, std::shared_ptr<session> s, com_ptr<dispatch> object,
                   const held_object& held)
      : host_(host),
        session_(std::move(s)),
        object_(std::move(object)),
        at_once_(object_.as<monitor::immediate_writer>()),
        write_id_(held.write_id),
        data_ids_{held.write_id, held.read_id, held.read_answer_id} {
    {
      std::lock_guard lock(host_.pipelines_mutex);
      ++host_.live_pipelines;
    }
    writer_ = std::thread([this] { run(); });
    StartRead(&in_);
  }
  ~pipeline_reactor() override {
    {
      std::lock_guard lock(host_.pipelines_mutex);
      --host_.live_pipelines;
    }
    host_.pipelines_changed.notify_all();
  }

  void OnReadDone(bool ok) override {
    bool wake = true;
    {
      std::unique_lock lock(mutex_);
      if (!ok) {
        input_ended_ = true;
      } else {
        for (pb::WriteEntry& e : *in_.mutable_entries()) {
          entry& added = queue_.emplace_back();
          added.mode = e.mode();
          added.epoch = e.epoch();
          added.data = std::move(*e.mutable_data());
          if (e.call_id() != 0) {
            added.call_id = e.call_id();
            added.attempts_before = attempts_;
            added.call = std::make_unique<pb::InvokeRequest>(std::move(*e.mutable_call()));
          }
        }
        const bool owed = report_owed_;
        write_at_once(lock);
        // All written at once: the writer has only to report it, and knows already when it
        // owed a report before (a cancellation meanwhile woke it while it had to wait).
        wake = !queue_.empty() || !owed || client_gone_;
      }
    }
    if (wake) changed_.notify_all();
    if (ok) StartRead(&in_);
  }
  void OnWriteDone(bool ok) override {
    std::unique_lock lock(mutex_);
    writing_ = false;
    if (!ok) {
      client_gone_ = true;
      changed_.notify_all();
    }
    if (ack_dirty_) send_ack(lock);
    if (ready_to_finish()) {
      lock.unlock();
      Finish(grpc::Status::OK);  // the last use of this reactor here: OnDone may follow at once
    }
  }
  void OnCancel() override {
    {
      std::lock_guard lock(mutex_);
      client_gone_ = true;
    }
    changed_.notify_all();
  }
  void OnDone() override {
    // The writer asked for the end as its last step; it has nothing left to do.
    if (writer_.get_id() == std::this_thread::get_id()) {
      writer_.detach();
    } else {
      writer_.join();
    }
    delete this;
  }

 private:
  struct entry {
    std::int32_t mode = 0;
    std::uint32_t epoch = 0;
    std::string data;
    std::size_t offset = 0;  // bytes already taken
    std::uint64_t call_id = 0;  // a call, not a write
    std::unique_ptr<pb::InvokeRequest> call;
    std::uint64_t attempts_before = 0;  // writes begun before the call came
    std::size_t left() const { return data.size() - offset; }
  };

  // A call that reads or writes the channel: dropped, like the writes, after a failure the
  // client has not heard of, which that call reports instead.
  bool data_call(const pb::InvokeRequest& call) const {
    const bool method = (call.kind() & static_cast<std::uint32_t>(platform::invoke_kind::method)) != 0;
    return method && call.dispid() >= 0 &&
           std::find(std::begin(data_ids_), std::end(data_ids_), call.dispid()) != std::end(data_ids_);
  }

  // The bytes of the next write: a status request alone; print data of the same epoch in one
  // piece of up to kLargestWrite. Called with the lock held and the queue not empty.
  std::string next_write() const {
    const entry& front = queue_.front();
    std::string bytes = front.data.substr(front.offset, front.mode == 1 ? kLargestWrite : std::string::npos);
    if (front.mode != 1) return bytes;
    for (std::size_t i = 1; i < queue_.size() && !queue_[i].call && queue_[i].mode == 1 &&
                            queue_[i].epoch == front.epoch && bytes.size() + queue_[i].data.size() <= kLargestWrite;
         ++i) {
      bytes += queue_[i].data;
    }
    return bytes;
  }

  // What the printer took of the next write leaves the queue, and counts as done. Called with
  // the lock held.
  void take(std::size_t taken) {
    done_ += taken;
    while (taken > 0) {
      entry& front = queue_.front();
      const std::size_t n = std::min(taken, front.left());
      front.offset += n;
      taken -= n;
      if (front.left() == 0) queue_.pop_front();
    }
  }

  // Print data that comes while the writer waits goes to the printer from here, as far as the
  // printer takes it at once: waking the writer first would hold the printer back by a thread
  // switch. The rest, and anything else, is the writer's. Called with the lock held.
  void write_at_once(std::unique_lock<std::mutex>& lock) {
    if (!at_once_ || !writer_idle_ || failed_ || client_gone_ || queue_.empty() || queue_.front().call ||
        queue_.front().mode != 1) {
      return;
    }
    if (!session_->try_lock_after_calls()) return;
    const std::string bytes = next_write();
    writing_at_once_ = true;
    lock.unlock();
    std::size_t taken = 0;
    {
      std::lock_guard session(session_->mutex, std::adopt_lock);
      taken = std::min(at_once_->write_at_once(bytes), bytes.size());
    }
    lock.lock();
    writing_at_once_ = false;
    take(taken);
    if (taken > 0) report_owed_ = true;
  }

  // Runs (or drops) the call `e`, taken out of the queue, and sends its answer. Called with
  // the lock held; runs the call without it.
  void run_call(entry e, std::unique_lock<std::mutex>& lock) {
    pb::InvokeReply reply;
    const bool dropped = failed_ && e.epoch <= failed_epoch_ && data_call(*e.call);
    if (!dropped) {
      lock.unlock();
      {
        session_lock session(*session_);
        const grpc::Status status = host_.run_call(*session_, *e.call, &reply);
        if (!status.ok()) {
          reply.set_hr(platform::kEFail);
          reply.set_error(status.error_message());
        }
      }
      lock.lock();
    }
    answers_.push_back(answer{e.call_id, dropped, std::move(reply)});
    send_ack(lock);
  }

  // One WriteIO on the object: its result and the count the printer took.
  struct attempt {
    std::int32_t result;
    std::size_t written;
  };

  attempt write(const std::string& bytes, std::int32_t mode) {
    // Calls waiting for the session go first: the pipeline may hold it for a whole WriteTimeOut.
    session_->lock_after_calls();
    std::lock_guard lock(session_->mutex, std::adopt_lock);
    std::int32_t written = 0;
    const Variant args[] = {Variant(bytes), Variant(static_cast<std::int32_t>(bytes.size())), Variant::ref(written),
                            Variant(mode)};
    Variant result;
    const platform::hresult hr = object_->invoke(write_id_, platform::invoke_kind::method, args, &result);
    if (platform::failed(hr)) return {hr, 0};
    return {result.long_or(platform::kEFail), static_cast<std::size_t>(std::max(written, 0))};
  }

  // The text of the object's last failure, for the client's record.
  std::string last_error_text() {
    std::lock_guard lock(session_->mutex);
    std::int32_t number = 0;
    std::string description;
    std::string source;
    platform::call(object_.get(), "GetLastErr", Variant::ref(number), Variant::ref(description), Variant::ref(source));
    return description;
  }

  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      const auto more = [&] { return !writing_at_once_ && (!queue_.empty() || input_ended_ || client_gone_); };
      // Progress of a run of writes is told once the writer has nothing to do for a moment, so
      // that writes which come in quick succession cost one report, not one each; also of
      // those written at once meanwhile.
      writer_idle_ = true;
      while (!more()) {
        if (report_owed_ && !changed_.wait_for(lock, kIdleReport, more)) send_ack(lock);
        changed_.wait(lock, [&] { return more() || report_owed_; });
      }
      writer_idle_ = false;
      // A client that is gone (it vanished, or the server is stopping) waits for nothing: what
      // is left is dropped rather than keep the end of the call waiting on the printer.
      if (client_gone_) queue_.clear();
      if (queue_.empty()) break;
      if (queue_.front().call) {
        entry e = std::move(queue_.front());
        queue_.pop_front();
        run_call(std::move(e), lock);
        continue;
      }
      // Entries sent before the client knew of a failure are dropped with it.
      if (failed_ && queue_.front().epoch <= failed_epoch_) {
        done_ += queue_.front().left();
        queue_.pop_front();
        if (queue_.empty()) send_ack(lock);
        continue;
      }
      const std::int32_t mode = queue_.front().mode;
      const std::uint32_t epoch = queue_.front().epoch;
      const std::string bytes = next_write();
      const std::uint64_t attempt_number = ++attempts_;
      lock.unlock();
      const auto started = std::chrono::steady_clock::now();
      const attempt a = write(bytes, mode);
      const bool quick = std::chrono::steady_clock::now() - started < kRetryPause;
      std::string error;
      if (a.result != 0 && !worth_retrying(a.result)) error = last_error_text();
      lock.lock();

      take(std::min(a.written, bytes.size()));
      // An empty write of its own is done once written.
      if (a.result == 0 && bytes.empty() && !queue_.empty() && queue_.front().left() == 0) queue_.pop_front();
      last_result_ = a.result == 0 || worth_retrying(a.result) ? a.result : 0;
      if (a.result != 0 && !worth_retrying(a.result)) {
        // The link failed: what was not taken cannot be written; the client hears of it.
        failed_ = true;
        failed_epoch_ = epoch;
        failure_ = a.result;
        failure_text_ = error.empty() ? "a pipelined write failed" : error;
      } else if (a.result != 0 && a.written == 0) {
        // Nobody left to wait for the bytes: give up on a printer that takes nothing.
        if (input_ended_) {
          for (const entry& e : queue_) done_ += e.left();
          queue_.clear();
        } else if (const auto call = std::find_if(
                       queue_.begin(), queue_.end(),
                       [&](const entry& e) { return e.call && e.attempts_before < attempt_number; });
                   call != queue_.end()) {
          // A call waits for the writes before it only while the printer takes some of them: one
          // whole attempt begun after it came took nothing, so it goes first.
          entry e = std::move(*call);
          queue_.erase(call);
          send_ack(lock);
          run_call(std::move(e), lock);
          continue;
        } else if (quick) {
          changed_.wait_for(lock, kRetryPause, [&] { return client_gone_; });
        }
      }
      // The client hears at once of what it acts on: a result other than success, and room in
      // its window once a good part of it is free.
      if (a.result != 0 || done_ - reported_done_ >= kWindowStepBytes || input_ended_ ||
          std::chrono::steady_clock::now() - reported_at_ >= kReportEvery) {
        send_ack(lock);
      } else {
        report_owed_ = true;
      }
    }
    finish_wanted_ = true;
    if (ready_to_finish()) {
      lock.unlock();
      Finish(grpc::Status::OK);  // the last use of this reactor by the writer
    }
  }

  // Sends the progress now, or once the write in flight is done. Called with the lock held.
  void send_ack(std::unique_lock<std::mutex>& lock) {
    if (writing_ || finished_ || client_gone_) {
      // The report goes once the one on its way is written (OnWriteDone), or not at all.
      ack_dirty_ = !finished_ && !client_gone_;
      report_owed_ = false;
      return;
    }
    ack_dirty_ = false;
    report_owed_ = false;
    reported_done_ = done_;
    reported_at_ = std::chrono::steady_clock::now();
    out_.Clear();
    if (!answers_.empty()) {
      answer& a = answers_.front();
      out_.set_call_id(a.call_id);
      out_.set_call_dropped(a.dropped);
      out_.mutable_reply()->Swap(&a.reply);
      answers_.pop_front();
      ack_dirty_ = !answers_.empty();
    }
    out_.set_done(done_);
    out_.set_result(last_result_);
    out_.set_failure(failed_ ? failure_ : 0);
    out_.set_error(failed_ ? failure_text_ : std::string());
    out_.set_failed_epoch(failed_epoch_);
    writing_ = true;
    lock.unlock();
    StartWrite(&out_);
    lock.lock();
  }

  // True once (with the lock held) when the call may end: the writer is done and no answer
  // is on its way (one in flight ends, also on a cancelled call, and OnWriteDone asks again). The caller then calls Finish without touching the reactor again.
  bool ready_to_finish() {
    if (!finish_wanted_ || finished_ || writing_) return false;
    finished_ = true;
    return true;
  }

  print_server::impl& host_;
  std::shared_ptr<session> session_;
  com_ptr<dispatch> object_;  // kept while bytes are pending, even when the session lets go
  com_ptr<monitor::immediate_writer> at_once_;  // null: the object cannot write without waiting
  long write_id_;
  long data_ids_[3];  // WriteIO, ReadIO, ReadAnswer
  pb::WriteBatch in_;
  pb::WriteAck out_;
  std::thread writer_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<entry> queue_;
  struct answer {
    std::uint64_t call_id;
    bool dropped;
    pb::InvokeReply reply;
  };
  std::deque<answer> answers_;  // of calls run, not yet sent
  bool writer_idle_ = false;       // the writer waits for work
  bool writing_at_once_ = false;   // write_at_once is at the printer; the writer waits for it
  bool input_ended_ = false;  // the client sent its last batch
  bool client_gone_ = false;  // cancelled, or an answer could not be sent
  bool writing_ = false;
  bool ack_dirty_ = false;
  bool finish_wanted_ = false;
  bool finished_ = false;
  std::uint64_t done_ = 0;
  std::uint64_t reported_done_ = 0;  // in the last report sent
  std::chrono::steady_clock::time_point reported_at_;
  bool report_owed_ = false;         // progress not reported yet
  std::uint64_t attempts_ = 0;       // writes begun
  std::int32_t last_result_ = 0;
  bool failed_ = false;
  std::uint32_t failed_epoch_ = 0;
  std::int32_t failure_ = 0;
  std::string failure_text_;
};

grpc::ServerBidiReactor<pb::WriteBatch, pb::WriteAck>* print_server::impl::Pipeline(grpc::CallbackServerContext* ctx) {
  if (!authorized(*ctx)) return new refused_pipeline(refused(*ctx, "Pipeline", ctx->peer()));
  std::shared_ptr<session> s;
  {
    std::lock_guard lock(mutex);
    const auto found = sessions.find(metadata(*ctx, kSessionMetadata));
    if (found == sessions.end() || stopping) {
      return new refused_pipeline(
          grpc::Status(grpc::StatusCode::FAILED_PRECONDITION, stopping ? "the server is stopping" : "no such session"));
    }
    s = found->second;
  }
  const std::string handle_text = metadata(*ctx, kHandleMetadata);
  std::uint64_t handle = 0;
  for (const char c : handle_text) {
    if (c < '0' || c > '9' || handle > (UINT64_MAX - 9) / 10) return new refused_pipeline(
        grpc::Status(grpc::StatusCode::INVALID_ARGUMENT, "bad object handle"));
    handle = handle * 10 + static_cast<std::uint64_t>(c - '0');
  }
  session_lock lock(*s);
  const auto found = s->objects.find(handle);
  if (found == s->objects.end()) return new refused_pipeline(grpc::Status(grpc::StatusCode::NOT_FOUND, "no such object"));
  probe(found->second);
  if (!found->second.channel()) {
    return new refused_pipeline(
        grpc::Status(grpc::StatusCode::FAILED_PRECONDITION, "the object takes no pipelined writes"));
  }
  return new pipeline_reactor(*this, s, found->second.object, found->second);
}

print_server::print_server(std::unique_ptr<impl> state) : impl_(std::move(state)) {}

print_server::~print_server() { shutdown(); }

std::unique_ptr<print_server> print_server::start(print_server_options options, std::string& error) {
  auto state = std::make_unique<impl>();
  state->options = std::move(options);
  const print_server_options& o = state->options;
  if (o.token.empty() && o.tls_client_ca.empty()) {
    error = "no token configured";
    return nullptr;
  }
  if (o.tls_cert.empty() != o.tls_key.empty() || (!o.tls_client_ca.empty() && o.tls_cert.empty())) {
    error = "TLS needs both a certificate and its key (and them for client certificates too)";
    return nullptr;
  }
  std::shared_ptr<grpc::ServerCredentials> credentials = grpc::InsecureServerCredentials();
  if (!o.tls_cert.empty()) {
    grpc::SslServerCredentialsOptions tls(o.tls_client_ca.empty()
                                              ? GRPC_SSL_DONT_REQUEST_CLIENT_CERTIFICATE
                                              : GRPC_SSL_REQUEST_AND_REQUIRE_CLIENT_CERTIFICATE_AND_VERIFY);
    tls.pem_root_certs = o.tls_client_ca;
    tls.pem_key_cert_pairs.push_back({o.tls_key, o.tls_cert});
    credentials = grpc::SslServerCredentials(tls);
  }
  grpc::ServerBuilder builder;
  builder.AddListeningPort(state->options.listen, credentials, &state->port);
  builder.RegisterService(state.get());
  // Clients ping an idle link every 15 s to notice a server that vanished.
  builder.AddChannelArgument(GRPC_ARG_HTTP2_MIN_RECV_PING_INTERVAL_WITHOUT_DATA_MS, 5000);
  builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
  // A pipeline's client may have a whole window of writes on the way: HTTP/2 flow control lets
  // that much through without waiting for window updates.
  builder.AddChannelArgument(GRPC_ARG_HTTP2_STREAM_LOOKAHEAD_BYTES, static_cast<int>(4 * kWriteWindowBytes));
  state->server = builder.BuildAndStart();
  if (!state->server || state->port == 0) {
    error = "cannot listen on " + state->options.listen;
    return nullptr;
  }
  return std::unique_ptr<print_server>(new print_server(std::move(state)));
}

int print_server::port() const { return impl_->port; }

void print_server::shutdown(int grace_ms) {
  if (!impl_ || !impl_->server) return;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
    const std::vector<attach_reactor*> open(impl_->attached.begin(), impl_->attached.end());
    for (attach_reactor* reactor : open) reactor->finish(grpc::Status::OK);
  }
  impl_->server->Shutdown(std::chrono::system_clock::now() + std::chrono::milliseconds(grace_ms));
  impl_->server->Wait();
  {
    // Every pipeline has ended with its call; its writer is joined before it goes.
    std::unique_lock lock(impl_->pipelines_mutex);
    impl_->pipelines_changed.wait(lock, [&] { return impl_->live_pipelines == 0; });
  }
  impl_->server.reset();
  std::lock_guard lock(impl_->mutex);
  impl_->sessions.clear();
}

namespace {

// A DWORD under the print server key, or `fallback`.
int configured_number(const char* name, int fallback) {
  platform::registry_key key;
  std::uint32_t value = 0;
  if (platform::registry_key::open(platform::registry_root::local_machine, kPrintServerKey, key) !=
          platform::kErrorSuccess ||
      key.query_dword(name, value) != platform::kErrorSuccess || value == 0 || value > INT_MAX) {
    return fallback;
  }
  return static_cast<int>(value);
}

}  // namespace

std::string configured_token() {
  platform::registry_key key;
  std::string token;
  if (platform::registry_key::open(platform::registry_root::local_machine, kPrintServerKey, key) !=
          platform::kErrorSuccess ||
      key.query_string("Token", token) != platform::kErrorSuccess) {
    return {};
  }
  return token;
}

int configured_port() {
  const int port = configured_number("Port", kDefaultPort);
  return port > 65535 ? kDefaultPort : port;
}

tls_files configured_tls_files() {
  tls_files files;
  platform::registry_key key;
  if (platform::registry_key::open(platform::registry_root::local_machine, kPrintServerKey, key) !=
      platform::kErrorSuccess) {
    return files;
  }
  const std::pair<const char*, std::string*> names[] = {
      {"CertFile", &files.cert_file},     {"KeyFile", &files.key_file},
      {"ClientCAFile", &files.client_ca_file}, {"CAFile", &files.ca_file},
      {"ClientCertFile", &files.client_cert_file}, {"ClientKeyFile", &files.client_key_file},
  };
  for (const auto& [name, value] : names) {
    if (key.query_string(name, *value) != platform::kErrorSuccess) value->clear();
  }
  return files;
}

bool read_pem_file(const std::string& path, std::string& out, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  if (file) text << file.rdbuf();
  if (!file || text.str().empty()) {
    error = "cannot read " + path;
    return false;
  }
  out = text.str();
  return true;
}

int configured_connect_timeout_ms() { return configured_number("ConnectTimeOut", kDefaultConnectTimeoutMs); }

std::string local_host_name() { return platform::computer_name(); }

}  // namespace monitor::remote
