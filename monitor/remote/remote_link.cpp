// Client sessions with a print server and the proxy objects that forward calls over them.
#include "remote_link.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include <grpcpp/alarm.h>
#include <grpcpp/grpcpp.h>

#include "monitor/print_server.h"
#include "monitor/remote.h"
#include "object_host.grpc.pb.h"
#include "value_codec.h"
#include "wire.h"

namespace monitor::remote {

namespace pb = quorel::remote;
using platform::com_ptr;
using platform::dispatch;
using platform::hresult;
using platform::Variant;

namespace {

// A random session id: 32 hex digits.
std::string new_session_id() {
  std::random_device device;
  std::mt19937_64 generator((static_cast<std::uint64_t>(device()) << 32) ^ device());
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string id;
  for (int half = 0; half < 2; ++half) {
    std::uint64_t bits = generator();
    for (int i = 0; i < 16; ++i, bits >>= 4) id += kDigits[bits & 0xF];
  }
  return id;
}

std::chrono::system_clock::time_point after_ms(std::uint64_t ms) {
  return std::chrono::system_clock::now() + std::chrono::milliseconds(ms);
}

// The dispatch id a proxy answers "GetLastErr" with once its server cannot be asked.
constexpr long kLocalGetLastErr = -0x7000;

}  // namespace

std::string server_address::target() const {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool parse_server(std::string_view text, int default_port, server_address& out) {
  out = {};
  out.port = default_port;
  std::string_view host = text;
  std::string_view port;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
      if (port.empty()) return false;
    }
  } else if (const std::size_t colon = text.find(':'); colon != std::string_view::npos &&
                                                       text.find(':', colon + 1) == std::string_view::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (port.empty()) return false;
  }
  if (host.empty()) return false;
  for (const char c : host) {
    if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '\\') return false;
  }
  if (!port.empty()) {
    int value = 0;
    for (const char c : port) {
      if (c < '0' || c > '9' || value > 65535) return false;
      value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    out.port = value;
    out.explicit_port = true;
  }
  out.host = std::string(host);
  return true;
}

bool is_local_server(std::string_view server) {
  return server.empty() || platform::equal_ignoring_case(server, "localhost") || server == "127.0.0.1" ||
         platform::equal_ignoring_case(server, local_host_name());
}

// The session's completion queue: every operation of its streams completes here. A thread that
// waits for one (a proxy's call, a write that needs room, a close) runs the completions itself,
// so that the answer it waits for wakes it straight from the socket instead of through another
// thread. Once no caller has waited for kIdle, the session's own thread runs them, so that
// gathered writes leave, the window frees and the end of the session is noticed without a caller.
class link_poller {
 public:
  // The end of one stream operation; the queue's tags are these.
  class completion {
   public:
    virtual void complete(bool ok) = 0;

   protected:
    ~completion() = default;
  };

  link_poller() : thread_([this] { run(); }) {}
  ~link_poller() { stop(); }
  link_poller(const link_poller&) = delete;
  link_poller& operator=(const link_poller&) = delete;

  grpc::CompletionQueue* queue() { return &queue_; }

  // Runs completions until `done()` (asked with no lock of the poller held) or `deadline`; true
  // when done. One thread reads the queue at a time; the others wait for what it runs.
  template <class Done>
  bool wait_until(Done done, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    ++waiting_;
    bool finished = false;
    for (;;) {
      const std::uint64_t seen = runs_;
      lock.unlock();
      finished = done();
      lock.lock();
      if (finished || std::chrono::steady_clock::now() >= deadline) break;
      if (reader_ == reader::none) {
        reader_ = reader::caller;
        lock.unlock();
        run_next(to_system(deadline));
        lock.lock();
        release_locked();
      } else {
        if (reader_ == reader::session) kick_locked();
        changed_.wait_until(lock, deadline, [&] { return runs_ != seen || reader_ == reader::none; });
      }
    }
    --waiting_;
    last_wait_ = std::chrono::steady_clock::now();
    return finished;
  }

  // Lets the session's thread read the queue from now on, unless a thread reads it already:
  // for a caller that goes on with other work while operations are on their way.
  void read_in_background() {
    std::lock_guard lock(mutex_);
    if (reader_ != reader::none || wanted_) return;
    wanted_ = true;
    session_wake_.notify_all();
  }

  // Ends the queue and its thread once every operation on it has completed.
  void stop() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    queue_.Shutdown();
    session_wake_.notify_all();
    thread_.join();
  }

 private:
  enum class reader { none, caller, session };
  // A caller that has just waited is likely to wait again soon: until then it runs what comes.
  static constexpr std::chrono::milliseconds kIdle{2};

  class kick final : public completion {
   public:
    explicit kick(link_poller& poller) : poller_(poller) {}
    void complete(bool) override {
      std::lock_guard lock(poller_.mutex_);
      poller_.kick_pending_ = false;
    }

   private:
    link_poller& poller_;
  };

  static std::chrono::system_clock::time_point to_system(std::chrono::steady_clock::time_point t) {
    using std::chrono::steady_clock;
    const steady_clock::duration left =
        std::clamp<steady_clock::duration>(t - steady_clock::now(), steady_clock::duration::zero(), std::chrono::hours(1));
    return std::chrono::system_clock::now() + std::chrono::duration_cast<std::chrono::system_clock::duration>(left);
  }

  // Reads one completion, waiting up to `deadline`, and runs it.
  grpc::CompletionQueue::NextStatus run_next(std::chrono::system_clock::time_point deadline) {
    void* tag = nullptr;
    bool ok = false;
    const grpc::CompletionQueue::NextStatus status = queue_.AsyncNext(&tag, &ok, deadline);
    if (status == grpc::CompletionQueue::GOT_EVENT) static_cast<completion*>(tag)->complete(ok);
    return status;
  }

  void release_locked() {
    reader_ = reader::none;
    ++runs_;
    changed_.notify_all();
  }

  // Gets the session's thread out of its read: a completion that runs nothing.
  void kick_locked() {
    if (kick_pending_) return;
    kick_pending_ = true;
    kick_alarm_ = std::make_unique<grpc::Alarm>();
    kick_alarm_->Set(&queue_, std::chrono::system_clock::now(), &kick_);
  }

  // The session's thread: reads the queue when asked to, while no caller has waited for kIdle,
  // and to its end.
  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (reader_ != reader::none ||
          (!stopping_ && !wanted_ && (waiting_ > 0 || std::chrono::steady_clock::now() < last_wait_ + kIdle))) {
        session_wake_.wait_until(lock, std::max(last_wait_, std::chrono::steady_clock::now()) + kIdle);
        continue;
      }
      reader_ = reader::session;
      wanted_ = false;
      lock.unlock();
      const grpc::CompletionQueue::NextStatus status = run_next(std::chrono::system_clock::now() + std::chrono::seconds(1));
      lock.lock();
      release_locked();
      if (status == grpc::CompletionQueue::SHUTDOWN) return;
    }
  }

  grpc::CompletionQueue queue_;
  std::mutex mutex_;
  std::condition_variable changed_;       // a reader let go, or ran a completion
  std::condition_variable session_wake_;  // the session's thread is asked to read, or the queue ends
  reader reader_ = reader::none;
  std::uint64_t runs_ = 0;
  int waiting_ = 0;
  std::chrono::steady_clock::time_point last_wait_ = std::chrono::steady_clock::now();
  bool stopping_ = false;
  bool wanted_ = false;  // the session's thread is to read now
  kick kick_{*this};
  std::unique_ptr<grpc::Alarm> kick_alarm_;
  bool kick_pending_ = false;
  std::thread thread_;
};

// A completion that runs a member function of its owner.
template <class Owner>
class member_completion final : public link_poller::completion {
 public:
  member_completion(Owner& owner, void (Owner::*run)(bool)) : owner_(owner), run_(run) {}
  void complete(bool ok) override { (owner_.*run_)(ok); }

 private:
  Owner& owner_;
  void (Owner::*run_)(bool);
};

// The operations of one stream still to complete, and whether its status came. The stream may
// go as soon as it is finished, so a completion that finishes it touches nothing after that.
struct stream_ops {
  int outstanding = 0;
  bool status_came = false;
  bool finished() const { return status_came && outstanding == 0; }
};

// Waits on `poller` until `done` holds or `ms` have passed; true when it holds.
template <class Done>
bool wait_for_ms(link_poller& poller, Done done, int ms) {
  return poller.wait_until(done, std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(ms, 0)));
}

// Waits on `poller` until `done` holds, however long.
template <class Done>
void wait_always(link_poller& poller, Done done) {
  while (!poller.wait_until(done, std::chrono::steady_clock::now() + std::chrono::hours(1))) {
  }
}

// The attached stream: ready once the server's first event came, done when the stream ended.
class attach_stream {
 public:
  explicit attach_stream(link_poller& poller) : poller_(poller) {}
  ~attach_stream() { stop(); }
  attach_stream(const attach_stream&) = delete;
  attach_stream& operator=(const attach_stream&) = delete;

  void start(pb::ObjectHost::Stub& stub, const std::string& token, const std::string& session) {
    context_.AddMetadata(kTokenMetadata, token);
    context_.AddMetadata(kSessionMetadata, session);
    std::lock_guard lock(mutex_);
    reader_ = stub.PrepareAsyncAttach(&context_, request_, poller_.queue());
    ops_.outstanding = 2;
    reader_->StartCall(&started_);
    reader_->Read(&event_, &read_);
  }
  // Waits up to `ms` for the session to be ready or refused; true when something changed.
  bool wait_ready(int ms) {
    return wait_for_ms(poller_, [&] {
      std::lock_guard lock(mutex_);
      return ready_ || ops_.finished();
    }, ms);
  }
  // Waits up to `ms` for the stream's end; true when it has ended.
  bool wait_ended(int ms) {
    return wait_for_ms(poller_, [this] { return finished(); }, ms);
  }
  // The stream's end status when it has ended.
  bool ended(grpc::Status& status) {
    std::lock_guard lock(mutex_);
    if (ops_.finished()) status = status_;
    return ops_.finished();
  }
  // Cancels the stream and waits for its end.
  void stop() {
    {
      std::lock_guard lock(mutex_);
      if (!reader_ || ops_.finished()) return;
    }
    context_.TryCancel();
    wait_always(poller_, [this] { return finished(); });
  }

 private:
  bool finished() {
    std::lock_guard lock(mutex_);
    return ops_.finished();
  }

  void on_started(bool) {
    std::lock_guard lock(mutex_);
    --ops_.outstanding;
  }
  // The next operation takes this one's place: another read, or the status once the stream ends.
  void on_read(bool ok) {
    std::lock_guard lock(mutex_);
    if (!ok) {
      reader_->Finish(&status_, &finished_);
      return;
    }
    ready_ = true;
    reader_->Read(&event_, &read_);
  }
  void on_finished(bool) {
    std::lock_guard lock(mutex_);
    --ops_.outstanding;
    ops_.status_came = true;
  }

  link_poller& poller_;
  grpc::ClientContext context_;
  pb::AttachRequest request_;
  pb::AttachEvent event_;
  std::unique_ptr<grpc::ClientAsyncReader<pb::AttachEvent>> reader_;
  member_completion<attach_stream> started_{*this, &attach_stream::on_started};
  member_completion<attach_stream> read_{*this, &attach_stream::on_read};
  member_completion<attach_stream> finished_{*this, &attach_stream::on_finished};
  std::mutex mutex_;
  stream_ops ops_;
  bool ready_ = false;
  grpc::Status status_;
};

// What the last reply said about a channel object whose writes may be pipelined.
struct channel_state {
  bool known = false;
  long write_dispid = -1;
  std::vector<long> read_dispids;
  int write_timeout_ms = 0;
  bool open = false;

  void update(const pb::ChannelInfo& info) {
    known = true;
    write_dispid = info.write_dispid();
    read_dispids.assign(info.read_dispids().begin(), info.read_dispids().end());
    write_timeout_ms = static_cast<int>(std::min<std::uint32_t>(info.write_timeout_ms(), 0x7FFFFFFF));
    open = info.open();
  }
};

// The client end of a channel's write pipeline: WriteIO calls accepted into a window of
// unconfirmed bytes and sent in order on one stream, without waiting for each result; the
// server's progress reports free the window. Used from the proxy's thread; its stream's
// operations complete on the session's queue.
class write_pipeline {
 public:
  struct outcome {
    std::int32_t result = 0;
    std::int32_t written = 0;
    bool interrupted = false;  // a failure came or the stream ended: see take_failure and ended
  };

  explicit write_pipeline(link_poller& poller) : poller_(poller) {}
  write_pipeline(const write_pipeline&) = delete;
  write_pipeline& operator=(const write_pipeline&) = delete;

  // Opens the stream for the object `handle` of the session.
  void start(pb::ObjectHost::Stub& stub, const std::string& token, const std::string& session, std::uint64_t handle) {
    context_.AddMetadata(kTokenMetadata, token);
    context_.AddMetadata(kSessionMetadata, session);
    context_.AddMetadata(kHandleMetadata, std::to_string(handle));
    std::lock_guard lock(mutex_);
    stream_ = stub.PrepareAsyncPipeline(&context_, poller_.queue());
    // The call's start uses the stream's write operation: the first batch follows its end.
    writing_ = true;
    ops_.outstanding = 2;
    stream_->StartCall(&written_);
    stream_->Read(&ack_, &read_);
  }

  // Accepts `bytes` as one WriteIO: at once when they fit the window, else as room comes,
  // up to `timeout_ms`; then the count accepted and the result of the printer's last attempt
  // (the time-out code when it took everything it was offered). A failure meanwhile
  // interrupts it: the caller reports that instead. A status request is accepted whole.
  outcome write(std::string_view bytes, std::int32_t mode, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    std::unique_lock lock(mutex_);
    std::size_t taken = 0;
    bool first = true;
    bool timed_out = false;
    for (;;) {
      if (failure_ != 0 || ended_) return {0, 0, true};
      const std::uint64_t unconfirmed = sent_ - done_;
      std::size_t n = std::min(room_locked(), bytes.size() - taken);
      if (mode != 1 && n < bytes.size() - taken && (bytes.size() <= kWriteWindowBytes || unconfirmed > 0)) n = 0;
      if (n > 0 || (first && bytes.empty())) {
        append(bytes.substr(taken, n), mode);
        taken += n;
        send_soon(lock);
      }
      first = false;
      if (taken == bytes.size()) return {0, static_cast<std::int32_t>(taken)};
      if (timed_out) return {result_ != 0 ? result_ : kResultTimeout, static_cast<std::int32_t>(taken)};
      // Woken once a good part of the window is free (as a socket wakes a writer), not by every
      // progress report; at the deadline, what fits by then is still taken.
      const std::size_t wanted = std::min<std::size_t>(bytes.size() - taken, kWindowStepBytes);
      lock.unlock();
      timed_out = !poller_.wait_until(
          [&] {
            std::lock_guard inner(mutex_);
            return room_locked() >= wanted || failure_ != 0 || ended_;
          },
          deadline);
      lock.lock();
    }
  }

  // How a call sent on the stream ended.
  enum class call_end {
    answered,   // the reply is in `reply`
    dropped,    // a data call dropped with a failure of the writes before it: see take_failure
    ended,      // the stream ended first
    timed_out,  // nothing came for the wait's length
  };

  // Sends `request` behind the writes accepted so far and waits for its reply: the server runs
  // it once they are finished (or once the printer took nothing of them in an attempt). Gives
  // up when nothing comes from the server for `quiet_ms`.
  call_end call(pb::InvokeRequest request, pb::InvokeReply& reply, int quiet_ms) {
    std::unique_lock lock(mutex_);
    if (ended_) return call_end::ended;
    const std::uint64_t id = ++last_call_id_;
    pb::WriteEntry* e = open_batch().add_entries();
    e->set_epoch(epoch_);
    e->set_call_id(id);
    *e->mutable_call() = std::move(request);
    awaited_call_ = id;
    send_locked();
    for (;;) {
      const std::uint64_t acks = acks_;
      lock.unlock();
      wait_for_ms(poller_, [&] {
        std::lock_guard inner(mutex_);
        return answered_call_ == id || ended_ || acks_ != acks;
      }, quiet_ms);
      lock.lock();
      if (answered_call_ == id) {
        awaited_call_ = 0;
        if (call_dropped_) return call_end::dropped;
        reply.Swap(&reply_);
        return call_end::answered;
      }
      if (ended_ || acks_ == acks) {
        awaited_call_ = 0;
        return ended_ ? call_end::ended : call_end::timed_out;
      }
    }
  }

  // Waits until the server has finished every accepted byte, a failure came or the stream
  // ended; gives up when no progress comes for `quiet_ms`.
  void drain(int quiet_ms) {
    std::unique_lock lock(mutex_);
    send_locked();
    for (;;) {
      const std::uint64_t seen = done_;
      lock.unlock();
      const bool settled = wait_for_ms(poller_, [&] {
        std::lock_guard inner(mutex_);
        return done_ == sent_ || failure_ != 0 || ended_ || done_ != seen;
      }, quiet_ms);
      lock.lock();
      if (!settled || done_ == sent_ || failure_ != 0 || ended_) return;
    }
  }

  // A failure of the link under pipelined writes that the server reported and the caller has
  // not been told of: its result and text. Taking it tells the server that the writes from
  // now on are meant again.
  bool take_failure(std::int32_t& result, std::string& text) {
    std::lock_guard lock(mutex_);
    if (failure_ == 0) return false;
    result = failure_;
    text = failure_text_;
    failure_ = 0;
    ++epoch_;
    return true;
  }
  // True once the stream has ended (no more progress will come); `unfinished` tells whether
  // accepted bytes were left, and `status` is the stream's end once close() has returned.
  bool ended(bool& unfinished) {
    std::lock_guard lock(mutex_);
    unfinished = done_ != sent_;
    return ended_;
  }
  grpc::Status status() {
    std::lock_guard lock(mutex_);
    return status_;
  }

  // Drains (see drain), ends the stream and waits for its end: the server finishes what is
  // left. A server that does not end it within `quiet_ms` is cancelled. The pipeline may go
  // once this has returned.
  void close(int quiet_ms) {
    drain(quiet_ms);
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
      if (!writing_) end_writes_locked();
    }
    const auto finished = [&] {
      std::lock_guard lock(mutex_);
      return ops_.finished();
    };
    if (!wait_for_ms(poller_, finished, quiet_ms)) {
      context_.TryCancel();
      wait_always(poller_, finished);
    }
  }

 private:
  // The next operation takes this one's place: another read, or the status once the stream ends.
  void on_read(bool ok) {
    std::lock_guard lock(mutex_);
    if (!ok) {
      ended_ = true;
      stream_->Finish(&status_, &finished_);
      return;
    }
    done_ = std::min<std::uint64_t>(ack_.done(), sent_);
    result_ = ack_.result();
    if (ack_.failure() != 0 && ack_.failed_epoch() == epoch_ && failure_ == 0) {
      failure_ = ack_.failure();
      failure_text_ = ack_.error();
    }
    ++acks_;
    // A reply to a call given up on is dropped.
    if (ack_.call_id() != 0 && ack_.call_id() == awaited_call_) {
      answered_call_ = ack_.call_id();
      call_dropped_ = ack_.call_dropped();
      reply_.Swap(ack_.mutable_reply());
    }
    stream_->Read(&ack_, &read_);
  }
  void on_written(bool ok) {
    std::lock_guard lock(mutex_);
    --ops_.outstanding;
    writing_ = false;
    if (!ok) {
      // The stream is broken; the read that fails next ends it.
      batches_.clear();
    } else if (!batches_.empty()) {
      send_locked();
    } else if (closing_) {
      end_writes_locked();
    }
  }
  void on_writes_ended(bool) {
    std::lock_guard lock(mutex_);
    --ops_.outstanding;
  }
  void on_finished(bool) {
    std::lock_guard lock(mutex_);
    --ops_.outstanding;
    ops_.status_came = true;
  }

  // Tells the server that no more writes come, once.
  void end_writes_locked() {
    if (writes_done_ || ended_) return;
    writes_done_ = true;
    ++ops_.outstanding;
    stream_->WritesDone(&writes_ended_);
  }

  // Bytes the window has room for now.
  std::size_t room_locked() const {
    const std::uint64_t unconfirmed = sent_ - done_;
    return unconfirmed >= kWriteWindowBytes ? 0 : static_cast<std::size_t>(kWriteWindowBytes - unconfirmed);
  }

  // Batches are cut at this size, so that the server starts on the first while the next are
  // on their way.
  static constexpr std::size_t kBatchBytes = 32 * 1024;

  // The batch entries go into: the last one, or a new one once it is full.
  pb::WriteBatch& open_batch() {
    if (batches_.empty() || batch_bytes_ >= kBatchBytes) {
      batches_.emplace_back();
      batch_bytes_ = 0;
    }
    return batches_.back();
  }

  // Adds one WriteIO's bytes to the batches; print data joins the entry before it and is cut
  // at the batch size, so that no message comes near gRPC's message limit.
  void append(std::string_view bytes, std::int32_t mode) {
    do {
      open_batch();
      const std::string_view part = mode == 1 ? bytes.substr(0, kBatchBytes - batch_bytes_) : bytes;
      bytes.remove_prefix(part.size());
      pb::WriteBatch& batch = batches_.back();
      const int n = batch.entries_size();
      if (mode == 1 && n > 0 && batch.entries(n - 1).mode() == 1 && batch.entries(n - 1).epoch() == epoch_) {
        batch.mutable_entries(n - 1)->mutable_data()->append(part);
      } else {
        pb::WriteEntry* e = batch.add_entries();
        e->set_mode(mode);
        e->set_epoch(epoch_);
        e->set_data(std::string(part));
      }
      batch_bytes_ += part.size();
      sent_ += part.size();
    } while (!bytes.empty());
  }

  // Sends the next batch unless one is on its way: its completion sends the next.
  void send_locked() {
    if (writing_ || batches_.empty() || ended_ || writes_done_) return;
    out_.Clear();
    out_.Swap(&batches_.front());
    batches_.pop_front();
    writing_ = true;
    ++ops_.outstanding;
    stream_->Write(out_, &written_);
  }

  // Sends what a write added: at once when no batch is on its way; else it joins the next,
  // which leaves once the one on its way is written and its completion has run: in a wait of
  // the caller's, or on the session's thread after a short while. Once a full batch waits,
  // the session's thread sends the batches as the stream takes them, while the caller goes on
  // writing without paying for the sends.
  void send_soon(std::unique_lock<std::mutex>& lock) {
    send_locked();
    if (!writing_ || batches_.size() < 2) return;
    lock.unlock();
    poller_.read_in_background();
    lock.lock();
  }

  link_poller& poller_;
  grpc::ClientContext context_;
  std::unique_ptr<grpc::ClientAsyncReaderWriter<pb::WriteBatch, pb::WriteAck>> stream_;
  member_completion<write_pipeline> read_{*this, &write_pipeline::on_read};
  member_completion<write_pipeline> written_{*this, &write_pipeline::on_written};
  member_completion<write_pipeline> writes_ended_{*this, &write_pipeline::on_writes_ended};
  member_completion<write_pipeline> finished_{*this, &write_pipeline::on_finished};
  pb::WriteAck ack_;
  pb::WriteBatch out_;

  std::mutex mutex_;
  std::deque<pb::WriteBatch> batches_;  // accepted, not yet handed to the stream
  std::size_t batch_bytes_ = 0;          // in the last of them
  std::uint64_t sent_ = 0;     // bytes accepted since the stream began
  std::uint64_t done_ = 0;     // of them, finished by the server
  std::int32_t result_ = 0;    // the server's last attempt
  std::uint32_t epoch_ = 0;    // failures the caller has been told of
  std::uint64_t acks_ = 0;     // progress reports received
  std::uint64_t last_call_id_ = 0;
  std::uint64_t awaited_call_ = 0;   // the call whose reply is waited for; 0: none
  std::uint64_t answered_call_ = 0;  // the last call whose reply came
  bool call_dropped_ = false;
  pb::InvokeReply reply_;
  std::int32_t failure_ = 0;
  std::string failure_text_;
  stream_ops ops_;
  bool writing_ = false;
  bool closing_ = false;
  bool writes_done_ = false;
  bool ended_ = false;       // no more progress will come
  grpc::Status status_;
};

// One session with one print server, shared by every proxy created through it.
class remote_link : public std::enable_shared_from_this<remote_link> {
 public:
  remote_link(std::string server, std::shared_ptr<grpc::Channel> channel, std::string token)
      : server_(std::move(server)),
        channel_(std::move(channel)),
        stub_(pb::ObjectHost::NewStub(channel_)),
        token_(std::move(token)),
        session_(new_session_id()) {}
  ~remote_link() {
    stream_.stop();
    poller_.stop();
  }
  remote_link(const remote_link&) = delete;
  remote_link& operator=(const remote_link&) = delete;

  const std::string& server() const { return server_; }
  attach_stream& stream() { return stream_; }
  void start_stream() { stream_.start(*stub_, token_, session_); }

  // The failure of a call that did not complete, in the words the caller's error record gets.
  remote_error failure(const grpc::Status& status, std::string_view what) {
    remote_error e;
    grpc::Status ended;
    // A connection that broke under the call ends the session's stream as well, a moment
    // later; that end says what happened to the server.
    if (status.error_code() == grpc::StatusCode::UNAVAILABLE) stream_.wait_ended(kStreamEndSettleMs);
    if (stream_ended(ended) && ended.error_code() != grpc::StatusCode::UNAUTHENTICATED) {
      e.number = kResultDisconnected;
      e.description = "The connection to print server " + server_ + " was lost (" +
                      (ended.ok() ? std::string("the server stopped") : ended.error_message()) + ").";
      return e;
    }
    switch (status.error_code()) {
      case grpc::StatusCode::UNAUTHENTICATED:
        e.number = kResultAccessDenied;
        e.description = "Print server " + server_ + " refused the call: wrong token (Token under HKLM\\" +
                        kPrintServerKey + ").";
        break;
      case grpc::StatusCode::DEADLINE_EXCEEDED:
        e.number = kResultCallTimedOut;
        e.description = "Print server " + server_ + " did not answer " + std::string(what) + " in time.";
        break;
      case grpc::StatusCode::UNAVAILABLE:
        e.number = kResultDisconnected;
        e.description = "Print server " + server_ + " cannot be reached (" + status.error_message() + ").";
        break;
      default:
        e.number = platform::kEFail;
        e.description = "Print server " + server_ + " failed " + std::string(what) + ": " + status.error_message();
        break;
    }
    return e;
  }

  bool stream_ended(grpc::Status& status) { return stream_.ended(status); }

  // A context for one call that may take `budget_ms` on the server.
  void prepare(grpc::ClientContext& context, std::uint32_t budget_ms) const {
    context.AddMetadata(kTokenMetadata, token_);
    context.AddMetadata(kSessionMetadata, session_);
    context.set_deadline(after_ms(static_cast<std::uint64_t>(budget_ms) + kDeadlineMarginMs));
  }

  // Fails at once, without a call, when the session has ended.
  bool lost(remote_error& error) {
    grpc::Status ended;
    if (!stream_ended(ended)) return false;
    error = failure(ended, "");
    return true;
  }

  hresult get_id(std::uint64_t handle, std::string_view name, long& dispid, remote_error& error) {
    if (lost(error)) return error.number;
    grpc::ClientContext context;
    prepare(context, kDefaultBudgetMs);
    pb::NameRequest request;
    request.set_handle(handle);
    request.set_name(std::string(name));
    pb::NameReply reply;
    const grpc::Status status = stub_->GetIdOfName(&context, request, &reply);
    if (!status.ok()) {
      error = failure(status, "a name lookup");
      return error.number;
    }
    dispid = reply.dispid();
    return reply.hr();
  }

  hresult invoke(std::uint64_t handle, long dispid, platform::invoke_kind kind, std::span<const Variant> args,
                 Variant* result, std::uint32_t& budget_ms, channel_state& channel, remote_error& error,
                 bool& link_failed);
  // The two halves of a call, for one that travels on a write pipeline: the request for the
  // arguments, and the reply's result, by-reference values, budget and channel state.
  hresult encode_request(std::uint64_t handle, long dispid, platform::invoke_kind kind, std::span<const Variant> args,
                         pb::InvokeRequest& request, remote_error& error);
  hresult apply_reply(const pb::InvokeReply& reply, std::span<const Variant> args, Variant* result,
                      std::uint32_t& budget_ms, channel_state& channel, remote_error& error);

  hresult create(std::string_view prog_id, com_ptr<dispatch>& out, remote_error& error);

  // A write pipeline for the object `handle`.
  std::unique_ptr<write_pipeline> open_pipeline(std::uint64_t handle) {
    auto pipeline = std::make_unique<write_pipeline>(poller_);
    pipeline->start(*stub_, token_, session_, handle);
    return pipeline;
  }

  // Drops the server's object; best effort.
  void release(std::uint64_t handle) {
    remote_error ignored;
    if (lost(ignored)) return;
    grpc::ClientContext context;
    prepare(context, 0);
    pb::ReleaseRequest request;
    request.add_handles(handle);
    pb::ReleaseReply reply;
    stub_->Release(&context, request, &reply);
  }

 private:
  std::string server_;
  std::shared_ptr<grpc::Channel> channel_;
  std::unique_ptr<pb::ObjectHost::Stub> stub_;
  std::string token_;
  // How long a failed call waits for the session's stream to end after the connection broke.
  static constexpr int kStreamEndSettleMs = 200;

  std::string session_;
  link_poller poller_;
  attach_stream stream_{poller_};
};

namespace {

// A server's object seen from the client: same members and dispatch ids; every call goes to the
// server within the object's budget. Once the server cannot be asked, "GetLastErr" answers
// here with the reason.
class remote_object final : public platform::ref_counted<dispatch>, private platform::module_object {
 public:
  remote_object(std::shared_ptr<remote_link> link, std::uint64_t handle, std::uint32_t budget_ms,
                channel_state channel = {})
      : link_(std::move(link)), handle_(handle), budget_ms_(budget_ms), channel_(std::move(channel)) {}
  ~remote_object() override {
    // Pipelined writes are finished (or given up on, bounded by the time-outs) before the
    // server lets go of the object.
    if (pipeline_) pipeline_->close(quiet_ms());
    pipeline_.reset();
    link_->release(handle_);
  }

  const remote_link* link() const { return link_.get(); }
  std::uint64_t handle() const { return handle_; }

  hresult get_ids_of_names(std::string_view name, long& dispid) override {
    for (const auto& [known, id] : names_) {
      if (platform::equal_ignoring_case(known, name)) {
        dispid = id;
        return platform::kSOk;
      }
    }
    remote_error error;
    const hresult hr = link_->get_id(handle_, name, dispid, error);
    if (error.number != 0) {
      record(error);
      if (platform::equal_ignoring_case(name, "GetLastErr")) {
        dispid = kLocalGetLastErr;
        return platform::kSOk;
      }
      return hr;
    }
    if (platform::succeeded(hr)) names_.emplace_back(std::string(name), dispid);
    if (platform::equal_ignoring_case(name, "GetLastErr") && platform::succeeded(hr)) last_err_id_ = dispid;
    return hr;
  }

  hresult invoke(long dispid, platform::invoke_kind kind, std::span<const Variant> args, Variant* result) override {
    // After a call that never reached the object, its last error is the link's.
    if (dispid == kLocalGetLastErr || (dispid == last_err_id_ && link_failed_last_)) {
      link_->lost(link_error_);
      return local_last_error(args, result);
    }
    if (const std::optional<hresult> done = pipelined(dispid, kind, args, result)) return *done;
    remote_error error;
    bool link_failed = false;
    const hresult hr = link_->invoke(handle_, dispid, kind, args, result, budget_ms_, channel_, error, link_failed);
    if (link_failed) {
      record(error);
    } else {
      link_failed_last_ = false;
    }
    if (platform::failed(hr)) platform::set_error_info(error.description);
    return hr;
  }

 private:
  void record(const remote_error& error) {
    link_error_ = error;
    link_failed_last_ = true;
  }

  // How long pipelined writes may go without progress before a call stops waiting for them:
  // one write attempt on the server, and the network.
  int quiet_ms() const { return channel_.write_timeout_ms + static_cast<int>(kDeadlineMarginMs); }

  // The part of a call that concerns the object's pipelined writes. A WriteIO that can be
  // pipelined is answered here. While writes are pipelined, any other call follows them on the
  // same stream, so that what it reads or asks about comes after them; and the next WriteIO,
  // ReadIO or ReadAnswer reports a failure of the writes, with nothing written or read. Empty
  // when the call goes to the server as usual.
  std::optional<hresult> pipelined(long dispid, platform::invoke_kind kind, std::span<const Variant> args,
                                   Variant* result) {
    const bool method = (static_cast<unsigned>(kind) & static_cast<unsigned>(platform::invoke_kind::method)) != 0;
    const bool write = channel_.known && method && dispid == channel_.write_dispid;
    const bool data_call = write || (channel_.known && method &&
                                     std::find(channel_.read_dispids.begin(), channel_.read_dispids.end(), dispid) !=
                                         channel_.read_dispids.end());
    collect_failure();
    if (data_call && failure_) return report_failure(args, result);
    // Only what the channel would take: other writes go to the server, which says why not.
    const auto usual = [&]() -> std::optional<hresult> {
      if (pipeline_) return in_order(dispid, kind, args, result, data_call);
      return std::nullopt;
    };
    if (!write || !channel_.open || pipeline_given_up_ || args.size() != 4) return usual();
    std::string bytes;
    if (platform::failed(args[0].as_string(bytes))) {
      std::vector<std::uint8_t> array;
      if (platform::failed(args[0].as_bytes(array))) return usual();
      bytes.assign(array.begin(), array.end());
    }
    std::int32_t length = 0;
    std::int32_t mode = 0;
    if (platform::failed(args[1].as_long(length)) || platform::failed(args[3].as_long(mode)) || length < 0 ||
        static_cast<std::size_t>(length) > bytes.size() || (mode != 1 && mode != 2)) {
      return usual();
    }
    remote_error lost;
    if (link_->lost(lost)) return usual();  // the usual call reports it
    if (!pipeline_) pipeline_ = link_->open_pipeline(handle_);
    const write_pipeline::outcome out =
        pipeline_->write(std::string_view(bytes).substr(0, static_cast<std::size_t>(length)), mode,
                         channel_.write_timeout_ms);
    if (out.interrupted) {
      collect_failure();
      if (failure_) return report_failure(args, result);
      return std::nullopt;  // the stream ended with nothing lost: the write goes as a call
    }
    args[2].write_ref(Variant(out.written));
    if (result != nullptr) *result = Variant(out.result);
    link_failed_last_ = false;
    return platform::kSOk;
  }

  // A call sent behind the pipelined writes. Empty when it is to go as a usual call: the
  // stream ended before its answer (the call then reports a lost link), or it was dropped and
  // no failure is left to report.
  std::optional<hresult> in_order(long dispid, platform::invoke_kind kind, std::span<const Variant> args,
                                  Variant* result, bool data_call) {
    remote_error error;
    if (link_->lost(error)) return std::nullopt;
    pb::InvokeRequest request;
    if (const hresult hr = link_->encode_request(handle_, dispid, kind, args, request, error); platform::failed(hr)) {
      platform::set_error_info(error.description);
      return hr;
    }
    pb::InvokeReply reply;
    const int wait_ms = static_cast<int>(std::min<std::uint64_t>(
        static_cast<std::uint64_t>(budget_ms_) + static_cast<std::uint64_t>(quiet_ms()), 0x7FFFFFFF));
    switch (pipeline_->call(std::move(request), reply, wait_ms)) {
      case write_pipeline::call_end::answered: {
        link_failed_last_ = false;
        const hresult hr = link_->apply_reply(reply, args, result, budget_ms_, channel_, error);
        if (platform::failed(hr)) platform::set_error_info(error.description);
        return hr;
      }
      case write_pipeline::call_end::timed_out:
        error.number = kResultCallTimedOut;
        error.description = "Print server " + link_->server() + " did not answer a call in time.";
        record(error);
        platform::set_error_info(error.description);
        return error.number;
      case write_pipeline::call_end::dropped:
      case write_pipeline::call_end::ended:
        break;
    }
    collect_failure();
    if (data_call && failure_) return report_failure(args, result);
    return std::nullopt;
  }

  // Takes a failure from the pipeline: one the server reported, or the loss of bytes in a
  // stream that ended (the server went away). An ended stream is not used again.
  void collect_failure() {
    if (!pipeline_) return;
    std::int32_t code = 0;
    std::string text;
    if (pipeline_->take_failure(code, text) && !failure_) {
      failure_ = remote_error{code, text};
      failure_on_link_ = false;
    }
    bool unfinished = false;
    if (!pipeline_->ended(unfinished)) return;
    pipeline_->close(quiet_ms());
    if (unfinished && !failure_) {
      remote_error e;
      if (!link_->lost(e)) e = link_->failure(pipeline_->status(), "the pipelined writes");
      failure_ = std::move(e);
      failure_on_link_ = true;
    }
    pipeline_.reset();
    pipeline_given_up_ = true;
  }

  // Reports the failure taken by collect_failure to this call: by-reference counts are 0. The
  // server's failure is the call's result; the loss of the link fails the call itself.
  hresult report_failure(std::span<const Variant> args, Variant* result) {
    remote_error e = std::move(*failure_);
    failure_.reset();
    for (const Variant& arg : args) {
      if (arg.cell<std::int32_t>() != nullptr) arg.write_ref(Variant(0));
    }
    if (failure_on_link_) {
      record(e);
      platform::set_error_info(e.description);
      return e.number;
    }
    link_failed_last_ = false;
    // The link's failure has closed the channel, most likely: the next write goes to the
    // server, whose answer says whether it is open again.
    channel_.open = false;
    if (result != nullptr) *result = Variant(e.number);
    return platform::kSOk;
  }

  // GetLastErr(long& number, string& description, string& source) from the link's failure.
  hresult local_last_error(std::span<const Variant> args, Variant* result) {
    if (args.size() != 3) return platform::kDispEBadParamCount;
    args[0].write_ref(Variant(link_error_.number));
    args[1].write_ref(Variant(link_error_.description));
    args[2].write_ref(Variant("print server " + link_->server()));
    if (result != nullptr) *result = Variant(0);
    return platform::kSOk;
  }

  std::shared_ptr<remote_link> link_;
  std::uint64_t handle_;
  std::uint32_t budget_ms_;
  std::vector<std::pair<std::string, long>> names_;
  long last_err_id_ = kLocalGetLastErr;
  remote_error link_error_;
  bool link_failed_last_ = false;  // the last call failed on the link, not in the object
  channel_state channel_;
  std::unique_ptr<write_pipeline> pipeline_;
  bool pipeline_given_up_ = false;
  std::optional<remote_error> failure_;  // of pipelined writes, for the next data call
  bool failure_on_link_ = false;         // the print server was lost, not the printer's link
};

}  // namespace

hresult remote_link::encode_request(std::uint64_t handle, long dispid, platform::invoke_kind kind,
                                    std::span<const Variant> args, pb::InvokeRequest& request, remote_error& error) {
  request.set_handle(handle);
  request.set_dispid(static_cast<std::int32_t>(dispid));
  request.set_kind(static_cast<std::uint32_t>(kind));
  const object_to_handle to_handle = [this](const com_ptr<dispatch>& object, std::uint64_t& out) {
    const auto* proxy = dynamic_cast<const remote_object*>(object.get());
    if (proxy == nullptr || proxy->link() != this) {
      platform::set_error_info("only objects of the same print server session can be passed to it");
      return platform::kDispETypeMismatch;
    }
    out = proxy->handle();
    return platform::kSOk;
  };
  for (const Variant& arg : args) {
    if (const hresult hr = encode_value(arg, *request.add_args(), to_handle); platform::failed(hr)) {
      error.number = hr;
      error.description = "an argument cannot be sent to print server " + server_;
      return hr;
    }
  }
  return platform::kSOk;
}

hresult remote_link::apply_reply(const pb::InvokeReply& reply, std::span<const Variant> args, Variant* result,
                                 std::uint32_t& budget_ms, channel_state& channel, remote_error& error) {
  if (reply.budget_ms() != 0) budget_ms = reply.budget_ms();
  if (reply.has_channel()) channel.update(reply.channel());
  const auto self = shared_from_this();
  const handle_to_object to_object = [&self](std::uint64_t h, com_ptr<dispatch>& out) {
    out = com_ptr<dispatch>::adopt(new remote_object(self, h, kDefaultBudgetMs));
    return platform::kSOk;
  };
  // By-reference arguments get the server's new values.
  for (std::size_t i = 0; i < args.size() && i < static_cast<std::size_t>(reply.outs_size()); ++i) {
    if (!args[i].is_ref()) continue;
    Variant value;
    if (platform::succeeded(decode_value(reply.outs(static_cast<int>(i)), value, to_object))) args[i].write_ref(value);
  }
  Variant value;
  decode_value(reply.result(), value, to_object);
  if (result != nullptr) *result = std::move(value);
  if (platform::failed(reply.hr())) error.description = reply.error();
  return reply.hr();
}

hresult remote_link::invoke(std::uint64_t handle, long dispid, platform::invoke_kind kind,
                            std::span<const Variant> args, Variant* result, std::uint32_t& budget_ms,
                            channel_state& channel, remote_error& error, bool& link_failed) {
  link_failed = false;
  if (lost(error)) {
    link_failed = true;
    return error.number;
  }
  pb::InvokeRequest request;
  if (const hresult hr = encode_request(handle, dispid, kind, args, request, error); platform::failed(hr)) return hr;
  grpc::ClientContext context;
  prepare(context, budget_ms);
  pb::InvokeReply reply;
  const grpc::Status status = stub_->Invoke(&context, request, &reply);
  if (!status.ok()) {
    error = failure(status, "a call");
    link_failed = true;
    return error.number;
  }
  return apply_reply(reply, args, result, budget_ms, channel, error);
}

hresult remote_link::create(std::string_view prog_id, com_ptr<dispatch>& out, remote_error& error) {
  if (lost(error)) return error.number;
  grpc::ClientContext context;
  prepare(context, kDefaultBudgetMs);
  pb::CreateRequest request;
  request.set_prog_id(std::string(prog_id));
  pb::CreateReply reply;
  const grpc::Status status = stub_->Create(&context, request, &reply);
  if (!status.ok()) {
    error = failure(status, "the creation of " + std::string(prog_id));
    return error.number;
  }
  if (platform::failed(reply.hr())) {
    error.number = reply.hr();
    error.description = reply.error();
    return reply.hr();
  }
  channel_state channel;
  if (reply.has_channel()) channel.update(reply.channel());
  out = com_ptr<dispatch>::adopt(new remote_object(shared_from_this(), reply.handle(), reply.budget_ms(), channel));
  return platform::kSOk;
}

std::shared_ptr<remote_link> attach_session(const server_address& address, const client_credentials& credentials,
                                            int timeout_ms, const std::atomic<bool>* cancel, remote_error& error) {
  const std::string& token = credentials.token;
  const std::string name = address.target();
  grpc::ChannelArguments arguments;
  // Notices a server that vanished without closing the connection.
  arguments.SetInt(GRPC_ARG_KEEPALIVE_TIME_MS, 15000);
  arguments.SetInt(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, 5000);
  arguments.SetInt(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
  // A connection of its own, so that one session's end never disturbs another's.
  arguments.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
  std::shared_ptr<grpc::ChannelCredentials> channel_credentials = grpc::InsecureChannelCredentials();
  const bool tls = !credentials.ca.empty();
  if (tls) {
    grpc::SslCredentialsOptions options;
    options.pem_root_certs = credentials.ca;
    options.pem_private_key = credentials.key;
    options.pem_cert_chain = credentials.cert;
    channel_credentials = grpc::SslCredentials(options);
  }
  auto channel = grpc::CreateCustomChannel(name, channel_credentials, arguments);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  auto left_ms = [&] {
    return static_cast<int>(std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count()));
  };
  constexpr int kSliceMs = 50;
  // Connect first, so that an unreachable server (refused, no route) is told apart from one
  // that does not answer; the first failed attempt decides.
  for (grpc_connectivity_state state = channel->GetState(true); state != GRPC_CHANNEL_READY;
       state = channel->GetState(true)) {
    if (state == GRPC_CHANNEL_TRANSIENT_FAILURE || state == GRPC_CHANNEL_SHUTDOWN) {
      error.number = kResultServerUnavailable;
      error.description = "Print server " + name + " is unreachable (the connection" +
                          (tls ? " or its TLS handshake failed)." : " failed).");
      return nullptr;
    }
    if (cancel != nullptr && cancel->load()) {
      error.number = kResultServerUnavailable;
      error.description = "The connection to print server " + name + " was cancelled.";
      return nullptr;
    }
    if (left_ms() == 0) {
      error.number = kResultCallTimedOut;
      error.description = "Print server " + name + " did not answer within " + std::to_string(timeout_ms) + " ms.";
      return nullptr;
    }
    channel->WaitForStateChange(state, after_ms(static_cast<std::uint64_t>(std::min(kSliceMs, std::max(left_ms(), 1)))));
  }
  auto link = std::make_shared<remote_link>(name, std::move(channel), token);
  link->start_stream();
  while (!link->stream().wait_ready(std::min(kSliceMs, std::max(left_ms(), 1)))) {
    if ((cancel != nullptr && cancel->load()) || left_ms() == 0) {
      error.number = kResultCallTimedOut;
      error.description = "Print server " + name + " did not accept the session within " +
                          std::to_string(timeout_ms) + " ms.";
      return nullptr;
    }
  }
  grpc::Status ended;
  if (link->stream_ended(ended)) {
    error = link->failure(ended, "the session");
    if (ended.error_code() != grpc::StatusCode::UNAUTHENTICATED) {
      error.number = kResultServerUnavailable;
      error.description = "Print server " + name + " refused the session: " + ended.error_message();
    }
    return nullptr;
  }
  return link;
}

hresult create_remote(const std::shared_ptr<remote_link>& link, std::string_view prog_id, com_ptr<dispatch>& out,
                      remote_error& error) {
  return link->create(prog_id, out, error);
}

}  // namespace monitor::remote
