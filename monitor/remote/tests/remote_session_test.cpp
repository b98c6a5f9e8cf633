// Print servers on loopback, driven as the utilities drive them: the remote creator makes the
// server collection and the monitors on two print servers (one of them the main server), and a
// printer of each is identified through its channel's proxy. Refused tokens, unknown ProgIDs,
// unreachable and silent servers, and a server that dies during a session.
#include <signal.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include <grpcpp/grpcpp.h>

#include "create_obj.h"
#include "monitor/monitor.h"
#include "monitor/print_server.h"
#include "monitor/remote.h"
#include "monitor/sim.h"
#include "object_host.grpc.pb.h"
#include "platform/dispatch_table.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "platform/testing/netns.h"
#include "platform/testing/scoped_process.h"
#include "platform/testing/temp_dir.h"
#include "platform/testing/server_library.h"
#include "wire.h"

namespace {

using platform::Variant;
using platform::testing::scoped_process;
using platform::testing::temp_dir;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr const char* kToken = "s3cret-for-tests";

long elapsed_ms(steady_clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<milliseconds>(steady_clock::now() - start).count());
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs `body` with OPOS_REGISTRY_DIR pointing at `dir`.
template <class F>
void with_registry(const std::filesystem::path& dir, F body) {
  const char* previous = std::getenv("OPOS_REGISTRY_DIR");
  const std::string saved = previous != nullptr ? previous : "";
  ::setenv("OPOS_REGISTRY_DIR", dir.c_str(), 1);
  body();
  ::setenv("OPOS_REGISTRY_DIR", saved.c_str(), 1);
}

void set_string(const std::string& key_path, const char* name, const std::string& value) {
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine, key_path, key),
            platform::kErrorSuccess);
  ASSERT_EQ(key.set_string(name, value), platform::kErrorSuccess);
}

// One posprintsrv on 127.0.0.1 with its own registry: a token and one sim: printer "VX40" on
// port SIM1 answering GS I 1 with `id`, its received bytes captured to a file, with more
// options of its URI in `sim_options` ("&fault=...").
class print_server_process {
 public:
  print_server_process(bool main_server, int id, const std::string& token = kToken,
                       const std::vector<std::pair<std::string, std::string>>& settings = {},
                       const std::string& sim_options = "") {
    capture_ = files_ / "capture.bin";
    with_registry(registry_.path(), [&] {
      set_string(monitor::remote::kPrintServerKey, "Token", token);
      for (const auto& [name, value] : settings) set_string(monitor::remote::kPrintServerKey, name.c_str(), value);
      const std::string ports = std::string(monitor::kPortsKey) + "\\SIM1";
      set_string(ports, "Transport",
                 "sim:server" + std::to_string(id) + "?id=" + std::to_string(id) + "&capture=" + capture_.string() +
                     sim_options);
      set_string(ports, "Name", "VX40");
    });
    std::vector<std::string> argv = {POSPRINTSRV_PATH, "--registry", registry_.path().string(), "--listen",
                                     "127.0.0.1:0"};
    if (main_server) argv.emplace_back("--main-server");
    process_ = std::make_unique<scoped_process>(argv, files_ / "server.log", true);
    const std::string line = process_->first_line(10000);
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) == 0) port_ = std::atoi(line.c_str() + prefix.size());
  }

  int port() const { return port_; }
  const std::filesystem::path& registry() const { return registry_.path(); }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  const std::filesystem::path& capture() const { return capture_; }
  std::string log() const { return read_file(files_ / "server.log"); }
  scoped_process& process() { return *process_; }

 private:
  temp_dir registry_;
  temp_dir files_;
  std::filesystem::path capture_;
  std::unique_ptr<scoped_process> process_;
  int port_ = 0;
};

// The event sink of a creator: counts OnComplete and notes the thread it came on.
class completion_sink final : public platform::dispatch_object<completion_sink> {
 public:
  static std::span<const platform::dispatch_member<completion_sink>> dispatch_members() {
    static constexpr platform::dispatch_member<completion_sink> kMembers[] = {
        platform::dispatch_method<&completion_sink::OnComplete>("OnComplete", monitor::remote::kDispOnComplete),
    };
    return kMembers;
  }
  void OnComplete() {
    ++count;
    thread = std::this_thread::get_id();
  }
  int count = 0;
  std::thread::id thread;
};

struct error_record {
  std::int32_t number = -1;
  std::string description;
  std::string source;
};

// The outcome of one remote creation.
struct created {
  platform::dispatch_client object;
  error_record error;
  int completions = 0;
  bool on_creating_thread = false;
  std::int32_t start_result = -1;
};

class RemoteSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The creator is served by this process (as a program linking it would), the monitor by
    // its library registered in the test's registry.
    ASSERT_EQ(platform::register_class_object(
                  monitor::remote::kCreateObjClsid,
                  platform::make_class_factory(&platform::create_object<monitor::remote::CreateObj>).get(), cookie_,
                  monitor::remote::kCreateObjProgId),
              platform::kSOk);
    std::string error;
    ASSERT_EQ(platform::testing::register_server_library(QUOREL_MONITOR_PATH, error), platform::kSOk) << error;
    set_string(monitor::remote::kPrintServerKey, "Token", kToken);
    ASSERT_TRUE(platform::ensure_message_queue());
  }
  void TearDown() override { platform::revoke_class_object(cookie_); }

  // Creates `prog_id` on `server` through QuorelWorker.CreateObj, pumping messages until
  // OnComplete (15 s at most), as the browser's remote creation does.
  created create(const std::string& prog_id, const std::string& server) {
    created out;
    platform::com_ptr<platform::dispatch> creator_object;
    EXPECT_EQ(platform::create_instance(monitor::remote::kCreateObjProgId, creator_object), platform::kSOk)
        << platform::com_last_error();
    if (!creator_object) return out;
    platform::dispatch_client creator(creator_object);
    const auto sink = platform::make_object<completion_sink>();
    const auto point = creator_object.as<platform::connection_point>();
    std::uint32_t cookie = 0;
    EXPECT_TRUE(point && platform::succeeded(point->advise(sink.get(), cookie)));
    out.start_result = creator.call("CreateObject", prog_id, server).value.long_or(-1);
    EXPECT_EQ(sink->count, 0) << "OnComplete comes from the message loop, not from inside CreateObject";
    const auto start = steady_clock::now();
    while (sink->count == 0 && elapsed_ms(start) < 15000) platform::pump_messages_for(10);
    out.completions = sink->count;
    out.on_creating_thread = sink->thread == std::this_thread::get_id();
    platform::com_ptr<platform::dispatch> object;
    creator.call("GetObject").value.as_object(object);
    out.object = platform::dispatch_client(object);
    creator.call("GetLastErr", Variant::ref(out.error.number), Variant::ref(out.error.description),
                 Variant::ref(out.error.source));
    point->unadvise(cookie);
    return out;
  }

  // The channel of the VX40 printer of the print server at `address`, through a monitor created
  // there and kept in `monitor_object`. Null, with the failure reported, when either is missing.
  platform::dispatch_client vx40_channel(const std::string& address, created& monitor_object);

  static error_record last_error(platform::dispatch_client& object) {
    error_record e;
    object.call("GetLastErr", Variant::ref(e.number), Variant::ref(e.description), Variant::ref(e.source));
    return e;
  }

  platform::testing::scoped_registry_dir registry_;
  std::uint32_t cookie_ = 0;
};

// The channel of the printer named `printer` on `host`, through a monitor proxy.
platform::dispatch_client connect(platform::dispatch_client& monitor_object, const std::string& printer,
                                  const std::string& host) {
  std::string name = printer;
  std::string address = host;
  EXPECT_EQ(monitor_object.call("GetConnectionStatus", Variant::ref(name), Variant::ref(address)).value.long_or(-1), 0);
  platform::com_ptr<platform::dispatch> channel;
  monitor_object.call("GetConnection", Variant::ref(name), Variant::ref(address)).value.as_object(channel);
  return platform::dispatch_client(channel);
}

platform::dispatch_client RemoteSessionTest::vx40_channel(const std::string& address, created& monitor_object) {
  monitor_object = create(monitor::kMonitorProgId, address);
  EXPECT_TRUE(monitor_object.object) << monitor_object.error.description;
  if (!monitor_object.object) return {};
  platform::dispatch_client channel = connect(monitor_object.object, "VX40", address);
  EXPECT_TRUE(channel);
  return channel;
}

// GS I 1 and the one-byte answer, as the utilities identify a printer.
int identify(platform::dispatch_client& channel) {
  EXPECT_EQ(channel.call("OpenIO").value.long_or(-1), 0);
  std::string command("\x1D\x49\x01", 3);
  std::int32_t written = -1;
  EXPECT_EQ(channel.call("WriteIO", Variant::ref(command), 3, Variant::ref(written), 2).value.long_or(-1), 0);
  EXPECT_EQ(written, 3);
  std::string buffer(" ");
  std::int32_t read = -1;
  EXPECT_EQ(channel.call("ReadIO", Variant::ref(buffer), 1, Variant::ref(read)).value.long_or(-1), 0);
  EXPECT_EQ(read, 1);
  EXPECT_EQ(channel.call("CloseIO").value.long_or(-1), 0);
  return read == 1 ? static_cast<unsigned char>(buffer[0]) : -1;
}

// Waits up to 5 s for `path` to hold `wanted`.
bool file_holds(const std::filesystem::path& path, const std::string& wanted) {
  const auto start = steady_clock::now();
  while (elapsed_ms(start) < 5000) {
    if (read_file(path).find(wanted) != std::string::npos) return true;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return false;
}

// A client that speaks the wire protocol itself, to send what the proxies never send: calls
// with a wrong token, and a session that ends without releasing its objects.
namespace pb = quorel::remote;

pb::Value text_value(const std::string& s, bool by_ref = false) {
  pb::Value v;
  v.set_string_value(s);
  v.set_by_ref(by_ref);
  return v;
}
pb::Value long_value(std::int32_t n, bool by_ref = false) {
  pb::Value v;
  v.set_long_value(n);
  v.set_by_ref(by_ref);
  return v;
}

class raw_client {
 public:
  explicit raw_client(const std::string& address)
      : stub_(pb::ObjectHost::NewStub(grpc::CreateChannel(address, grpc::InsecureChannelCredentials()))) {}
  ~raw_client() { detach(); }
  raw_client(const raw_client&) = delete;
  raw_client& operator=(const raw_client&) = delete;

  // Attaches the session; true once the server has accepted it.
  bool attach(const std::string& token) {
    attach_context_.AddMetadata(monitor::remote::kTokenMetadata, token);
    attach_context_.AddMetadata(monitor::remote::kSessionMetadata, kSession);
    stream_ = stub_->Attach(&attach_context_, pb::AttachRequest());
    pb::AttachEvent event;
    return stream_->Read(&event);
  }
  // Ends the session as a client that goes away does: no Release.
  void detach() {
    if (!stream_) return;
    attach_context_.TryCancel();
    stream_->Finish();
    stream_.reset();
  }
  grpc::Status create(const std::string& token, const std::string& prog_id, pb::CreateReply& reply) {
    pb::CreateRequest request;
    request.set_prog_id(prog_id);
    auto context = context_with(token);
    return stub_->Create(context.get(), request, &reply);
  }
  // Calls member `name` (looked up with the right token) with `token`.
  grpc::Status invoke(const std::string& token, std::uint64_t handle, const char* name, std::vector<pb::Value> args,
                      pb::InvokeReply& reply) {
    pb::NameRequest name_request;
    name_request.set_handle(handle);
    name_request.set_name(name);
    pb::NameReply name_reply;
    auto lookup = context_with(right_token);
    EXPECT_TRUE(stub_->GetIdOfName(lookup.get(), name_request, &name_reply).ok());
    pb::InvokeRequest request;
    request.set_handle(handle);
    request.set_dispid(name_reply.dispid());
    request.set_kind(1);
    for (pb::Value& a : args) *request.add_args() = std::move(a);
    auto context = context_with(token);
    return stub_->Invoke(context.get(), request, &reply);
  }

  std::string right_token = kToken;

 private:
  static constexpr const char* kSession = "0123456789abcdef0123456789abcdef";
  std::unique_ptr<grpc::ClientContext> context_with(const std::string& token) {
    auto context = std::make_unique<grpc::ClientContext>();
    context->AddMetadata(monitor::remote::kTokenMetadata, token);
    context->AddMetadata(monitor::remote::kSessionMetadata, kSession);
    context->set_deadline(std::chrono::system_clock::now() + milliseconds(5000));
    return context;
  }

  std::unique_ptr<pb::ObjectHost::Stub> stub_;
  grpc::ClientContext attach_context_;
  std::unique_ptr<grpc::ClientReader<pb::AttachEvent>> stream_;
};

// posprintsrv's command line: --help and --version answer, a refused command line ends with
// exit status 2 and one line saying why, before any server starts.
TEST(PrintServerProgram, CommandLine) {
  const struct {
    const char* args;
    int status;
    const char* out;  // expected start of the output; a refusal's output is this one line
  } cases[] = {
      {"--help", 0, "Usage: posprintsrv"},
      {"-h", 0, "Usage: posprintsrv"},
      {"--version", 0, "posprintsrv (poskit) "},
      {"--bogus", 2, "posprintsrv: unknown option --bogus (see posprintsrv --help)\n"},
      {"extra", 2, "posprintsrv: unexpected argument extra (see posprintsrv --help)\n"},
      {"--listen", 2, "posprintsrv: --listen needs a value (see posprintsrv --help)\n"},
      {"--listen nowhere", 2, "posprintsrv: --listen wants ADDR:PORT, not \"nowhere\" (see posprintsrv --help)\n"},
      {"--listen=127.0.0.1:70000", 2,
       "posprintsrv: --listen wants ADDR:PORT, not \"127.0.0.1:70000\" (see posprintsrv --help)\n"},
      {"--registry=", 2, "posprintsrv: --registry needs a folder (see posprintsrv --help)\n"},
      {"--main-server=yes", 2, "posprintsrv: --main-server takes no value (see posprintsrv --help)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const std::string command = std::string("'") + POSPRINTSRV_PATH + "' " + c.args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    std::array<char, 256> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) out += buffer.data();
    const int status = ::pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.status);
    if (c.status == 2) {
      EXPECT_EQ(out, c.out);
    } else {
      EXPECT_EQ(out.rfind(c.out, 0), 0u) << out;
    }
  }
}

TEST_F(RemoteSessionTest, TwoPrintServersListedByTheMainServerAndEachPrinterIdentified) {
  print_server_process main_server(true, 32);
  print_server_process second(false, 36);
  ASSERT_NE(main_server.port(), 0) << main_server.log();
  ASSERT_NE(second.port(), 0) << second.log();

  // The main server's collection lists both servers.
  created collection = create(monitor::remote::kServerCollectionProgId, main_server.address());
  ASSERT_TRUE(collection.object) << collection.error.description;
  EXPECT_EQ(collection.start_result, 0);
  EXPECT_EQ(collection.completions, 1);
  EXPECT_TRUE(collection.on_creating_thread);
  EXPECT_EQ(collection.error.number, 0);
  for (const std::string& server : {main_server.address(), second.address()}) {
    std::int32_t result = -1;
    ASSERT_TRUE(collection.object.call("AddServer", server, "till", Variant::ref(result)).ok());
    EXPECT_EQ(result, 0);
  }
  std::string list;
  ASSERT_EQ(collection.object.call("GetServerList", Variant::ref(list)).value.long_or(-1), 0);
  EXPECT_EQ(list, main_server.address() + '\0' + second.address() + '\0');
  std::string info;
  ASSERT_EQ(collection.object.call("GetInfo", Variant::ref(info)).value.long_or(-1), 0);
  EXPECT_NE(info.find("(2 servers)"), std::string::npos) << info;
  collection.object.reset();

  // Each listed server's monitor, printer collection and printer, by the printer's name.
  struct expected {
    print_server_process* server;
    int id;
  };
  for (const expected& e : {expected{&main_server, 32}, expected{&second, 36}}) {
    SCOPED_TRACE(e.server->address());
    created monitor_object = create(monitor::kMonitorProgId, e.server->address());
    ASSERT_TRUE(monitor_object.object) << monitor_object.error.description;
    std::string printers;
    ASSERT_EQ(monitor_object.object.call("GetPrinterCollection", Variant::ref(printers)).value.long_or(-1), 0);
    EXPECT_EQ(printers, std::string("SIM1=VX40\0", 10));
    platform::dispatch_client channel = connect(monitor_object.object, "VX40", e.server->address());
    ASSERT_TRUE(channel);
    // Properties pass through the proxy with their dispatch ids.
    ASSERT_EQ(channel.put("ReadTimeOut", 800), platform::kSOk);
    EXPECT_EQ(channel.get("ReadTimeOut").value.long_or(-1), 800);
    EXPECT_EQ(channel.get("ProtocolKind").value.long_or(-1), 1);
    long local_id = 0;
    ASSERT_EQ(channel.get()->get_ids_of_names("WriteIO", local_id), platform::kSOk);
    EXPECT_EQ(local_id, 2) << "the proxy keeps the object's own dispatch ids";
    EXPECT_EQ(channel.get()->get_ids_of_names("NoSuchMember", local_id), platform::kDispEUnknownName);
    EXPECT_EQ(identify(channel), e.id);
    channel.reset();
    monitor_object.object.reset();
    EXPECT_TRUE(file_holds(e.server->capture(), std::string("\x1D\x49\x01", 3)));
  }

  // Only the main server offers the collection.
  created refused = create(monitor::remote::kServerCollectionProgId, second.address());
  EXPECT_FALSE(refused.object);
  EXPECT_EQ(refused.error.number, platform::kCoEClassString);
  EXPECT_NE(refused.error.description.find("is not offered by print server"), std::string::npos)
      << refused.error.description;
}

// A technician's view of the same store: posutil, with the client's registry in network mode,
// lists both servers from the main server's collection, identifies a printer on each, and is
// refused with the main server's error when its token is wrong.
TEST_F(RemoteSessionTest, PosutilListsAndIdentifiesThePrintersOfTwoServers) {
  print_server_process main_server(true, 32);
  print_server_process second(false, 36);
  ASSERT_NE(main_server.port(), 0) << main_server.log();
  ASSERT_NE(second.port(), 0) << second.log();
  with_registry(main_server.registry(), [&] {
    set_string(std::string(monitor::remote::kServerCollectionKey) + "\\" + main_server.address(), "Text", "main");
    set_string(std::string(monitor::remote::kServerCollectionKey) + "\\" + second.address(), "Text", "second");
  });

  temp_dir client;
  const std::string registry = " --registry " + client.path().string();
  // The programs load the gRPC client library; in the sanitizer build its loading leaves
  // allocations of the sanitizer runtime's own that the leak checker would report at exit.
  // This test is about what the programs answer; leaks are the business of each one's tests.
  const std::string no_leak_check = "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 ";
  std::string output;
  for (const char* library : {QUOREL_MONITOR_PATH, QUOREL_WORKER_PATH})
    ASSERT_TRUE(platform::testing::run_shell(no_leak_check + REGSVR_PATH + registry + " " + library, &output))
        << output;
  with_registry(client.path(), [&] {
    set_string(monitor::remote::kPrintServerKey, "Token", kToken);
    set_string("SOFTWARE\\Quorel", "InstallationType", "NETWORK");
    set_string("SOFTWARE\\Quorel", "MainServer", main_server.address());
  });
  // Bounded: a creation that never completes must fail the test, not hang it.
  const std::string posutil = no_leak_check + "timeout 60 " + POSUTIL_PATH + registry;

  ASSERT_TRUE(platform::testing::run_shell(posutil + " printers 2>&1", &output)) << output;
  EXPECT_NE(output.find("  " + main_server.address() + "\n    VX40:SIM1\n  " + second.address() + "\n    VX40:SIM1\n"),
            std::string::npos)
      << output;
  // Both printers are named VX40: the first one in the tree (the main server's) is identified.
  ASSERT_TRUE(platform::testing::run_shell(posutil + " identify VX40 --json 2>&1", &output)) << output;
  EXPECT_EQ(output, "{\"id\":32,\"model\":\"VX40\",\"brand\":\"KORVANE\"}\n");
  ASSERT_TRUE(platform::testing::run_shell(posutil + " --server " + second.address() + " identify SIM1 --json 2>&1",
                                           &output))
      << output;
  EXPECT_EQ(output, "{\"id\":36,\"model\":\"VJ20\",\"brand\":\"KORVANE\"}\n");
  EXPECT_TRUE(file_holds(second.capture(), std::string("\x1D\x49\x01", 3)));

  with_registry(client.path(), [&] { set_string(monitor::remote::kPrintServerKey, "Token", "wrong"); });
  EXPECT_FALSE(platform::testing::run_shell(posutil + " printers 2>&1", &output)) << output;
  EXPECT_NE(output.find("refused the call: wrong token"), std::string::npos) << output;
  EXPECT_NE(main_server.log().find("refused Attach"), std::string::npos) << main_server.log();
}

TEST_F(RemoteSessionTest, AWrongTokenIsRefusedLoggedAndReachesNoPrinter) {
  print_server_process server(false, 32, "the-right-token");
  ASSERT_NE(server.port(), 0) << server.log();

  // Through the remote creator: the session is refused with a clear record.
  created refused = create(monitor::kMonitorProgId, server.address());
  EXPECT_FALSE(refused.object);
  EXPECT_EQ(refused.completions, 1);
  EXPECT_EQ(refused.error.number, monitor::remote::kResultAccessDenied);
  EXPECT_NE(refused.error.description.find("wrong token"), std::string::npos) << refused.error.description;
  EXPECT_EQ(refused.error.source, "print server " + server.address());
  EXPECT_NE(server.log().find("refused Attach"), std::string::npos) << server.log();

  // On the wire: a session opened with the right token, then calls on its open channel that
  // carry a wrong token. They are refused and the printer receives nothing.
  raw_client client(server.address());
  client.right_token = "the-right-token";
  ASSERT_TRUE(client.attach("the-right-token"));
  pb::CreateReply create_reply;
  EXPECT_EQ(client.create("wrong", monitor::kMonitorProgId, create_reply).error_code(),
            grpc::StatusCode::UNAUTHENTICATED);
  ASSERT_TRUE(client.create("the-right-token", monitor::kMonitorProgId, create_reply).ok());
  ASSERT_EQ(create_reply.hr(), 0);
  pb::InvokeReply reply;
  ASSERT_TRUE(client
                  .invoke("the-right-token", create_reply.handle(), "GetConnection",
                          {text_value("VX40"), text_value("SIM1")}, reply)
                  .ok());
  const std::uint64_t channel = reply.result().object_handle();
  ASSERT_NE(channel, 0u);
  ASSERT_TRUE(client.invoke("the-right-token", channel, "OpenIO", {}, reply).ok());
  ASSERT_EQ(reply.result().long_value(), 0);

  const std::string command("\x1D\x49\x01", 3);
  auto write_args = [&] {
    return std::vector<pb::Value>{text_value(command, true), long_value(3), long_value(0, true), long_value(2)};
  };
  for (const char* token : {"wrong", "", "the-right-token-but-longer"}) {
    SCOPED_TRACE(token);
    EXPECT_EQ(client.invoke(token, channel, "WriteIO", write_args(), reply).error_code(),
              grpc::StatusCode::UNAUTHENTICATED);
  }
  ASSERT_TRUE(client.invoke("the-right-token", channel, "CloseIO", {}, reply).ok());
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(read_file(server.capture()).find(command), std::string::npos) << "a refused call reached the printer";
  EXPECT_NE(server.log().find("refused Invoke"), std::string::npos) << server.log();

  // The same write with the right token does reach it, so the check above can fail.
  ASSERT_TRUE(client.invoke("the-right-token", channel, "OpenIO", {}, reply).ok());
  ASSERT_TRUE(client.invoke("the-right-token", channel, "WriteIO", write_args(), reply).ok());
  EXPECT_EQ(reply.result().long_value(), 0);
  EXPECT_EQ(reply.outs(2).long_value(), 3) << "the written count comes back by reference";
  ASSERT_TRUE(client.invoke("the-right-token", channel, "CloseIO", {}, reply).ok());
  EXPECT_TRUE(file_holds(server.capture(), command));
}

TEST_F(RemoteSessionTest, FailedCreationsCompleteOnceWithAClearRecord) {
  print_server_process server(false, 32);
  ASSERT_NE(server.port(), 0) << server.log();
  // A port nobody listens on: bound, then closed.
  int closed_port = 0;
  {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    closed_port = ntohs(address.sin_port);
    ::close(s);
  }
  struct row {
    const char* why;
    std::string prog_id;
    std::string server;
    std::int32_t number;
    const char* text;
  };
  const row rows[] = {
      {"an unknown ProgID", "QuorelServer.Nothing", server.address(), platform::kCoEClassString,
       "QuorelServer.Nothing is not offered by print server"},
      {"a class the server does not publish", monitor::remote::kCreateObjProgId, server.address(),
       platform::kCoEClassString, "is not offered"},
      {"an unreachable server", monitor::kMonitorProgId, "127.0.0.1:" + std::to_string(closed_port),
       monitor::remote::kResultServerUnavailable, "is unreachable"},
      {"a malformed server name", monitor::kMonitorProgId, "till:99999", platform::kEInvalidArg,
       "is not a server name"},
      {"an unknown ProgID here", "QuorelServer.Nothing", "", platform::kCoEClassString, "Cannot create"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.why);
    const auto start = steady_clock::now();
    created c = create(r.prog_id, r.server);
    EXPECT_LT(elapsed_ms(start), 10000);
    EXPECT_EQ(c.start_result, 0);
    EXPECT_EQ(c.completions, 1);
    EXPECT_FALSE(c.object);
    EXPECT_EQ(c.error.number, r.number);
    EXPECT_NE(c.error.description.find(r.text), std::string::npos) << c.error.description;
    EXPECT_FALSE(c.error.source.empty());
  }
}

TEST_F(RemoteSessionTest, AServerThatDoesNotAnswerTimesOutAndASecondCreationWaits) {
  // A listener that never speaks: the connection is accepted by the kernel and stays silent.
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(s, 4), 0);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string silent = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine, monitor::remote::kPrintServerKey, key),
            platform::kErrorSuccess);
  ASSERT_EQ(key.set_dword("ConnectTimeOut", 600), platform::kErrorSuccess);

  platform::com_ptr<platform::dispatch> creator_object;
  ASSERT_EQ(platform::create_instance(monitor::remote::kCreateObjProgId, creator_object), platform::kSOk);
  platform::dispatch_client creator(creator_object);
  const auto start = steady_clock::now();
  EXPECT_EQ(creator.call("CreateObject", monitor::kMonitorProgId, silent).value.long_or(-1), 0);
  EXPECT_EQ(creator.call("CreateObject", monitor::kMonitorProgId, "").value.long_or(-1),
            monitor::remote::kResultPending);
  created c = create(monitor::kMonitorProgId, silent);
  EXPECT_LT(elapsed_ms(start), 6000);
  EXPECT_FALSE(c.object);
  EXPECT_EQ(c.error.number, monitor::remote::kResultCallTimedOut);
  EXPECT_NE(c.error.description.find("600 ms"), std::string::npos) << c.error.description;
  creator.reset();  // while its creation may still run: the worker is cancelled and joined
  ::close(s);
}

TEST_F(RemoteSessionTest, CallsOnAProxyWhoseServerWentAwayFailWithinBounds) {
  struct row {
    const char* why;
    bool crash;  // SIGKILL; else SIGTERM, a clean stop
    const char* reason;
  };
  for (const row& r : {row{"killed", true, "was lost"}, row{"stopped", false, "the server stopped"}}) {
    SCOPED_TRACE(r.why);
    print_server_process server(false, 32);
    ASSERT_NE(server.port(), 0) << server.log();
    created monitor_object;
    platform::dispatch_client channel = vx40_channel(server.address(), monitor_object);
    ASSERT_TRUE(channel);
    ASSERT_EQ(channel.call("OpenIO").value.long_or(-1), 0);

    if (r.crash) {
      server.process().kill();
    } else {
      server.process().stop();
      EXPECT_NE(server.log().find("stopping (SIGTERM)"), std::string::npos) << server.log();
    }
    const auto start = steady_clock::now();
    std::string data("\x1B\x40", 2);
    std::int32_t written = -1;
    platform::call_result result = channel.call("WriteIO", Variant::ref(data), 2, Variant::ref(written), 1);
    // The end of the session may reach the client a moment after the process is gone.
    while (result.hr != monitor::remote::kResultDisconnected && elapsed_ms(start) < 3000) {
      std::this_thread::sleep_for(milliseconds(20));
      result = channel.call("WriteIO", Variant::ref(data), 2, Variant::ref(written), 1);
    }
    EXPECT_LT(elapsed_ms(start), 3000);
    EXPECT_EQ(result.hr, monitor::remote::kResultDisconnected);
    // The proxy answers GetLastErr itself now that its server cannot be asked.
    const error_record e = last_error(channel);
    EXPECT_EQ(e.number, monitor::remote::kResultDisconnected);
    EXPECT_NE(e.description.find(server.address()), std::string::npos) << e.description;
    EXPECT_NE(e.description.find(r.reason), std::string::npos) << e.description;
    EXPECT_EQ(e.source, "print server " + server.address());
    const error_record m = last_error(monitor_object.object);
    EXPECT_EQ(m.number, monitor::remote::kResultDisconnected) << m.description;
    EXPECT_LT(elapsed_ms(start), 3000);
  }
}

TEST_F(RemoteSessionTest, ObjectsDieWithTheSession) {
  print_server_process server(false, 32);
  ASSERT_NE(server.port(), 0) << server.log();
  raw_client client(server.address());
  ASSERT_TRUE(client.attach(kToken));
  pb::CreateReply created_monitor;
  ASSERT_TRUE(client.create(kToken, monitor::kMonitorProgId, created_monitor).ok());
  pb::InvokeReply reply;
  ASSERT_TRUE(
      client.invoke(kToken, created_monitor.handle(), "GetConnection", {text_value("VX40"), text_value("SIM1")}, reply)
          .ok());
  const std::uint64_t channel = reply.result().object_handle();
  ASSERT_TRUE(client.invoke(kToken, channel, "OpenIO", {}, reply).ok());
  ASSERT_TRUE(client
                  .invoke(kToken, channel, "WriteIO",
                          {text_value("\x1B\x40session", true), long_value(9), long_value(0, true), long_value(1)}, reply)
                  .ok());
  EXPECT_EQ(reply.result().long_value(), 0);
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(read_file(server.capture()), "") << "the channel is still open";

  // The client goes without CloseIO or Release: the server drops the session's objects, which
  // closes the channel and writes the printer's capture.
  client.detach();
  EXPECT_TRUE(file_holds(server.capture(), "\x1B\x40session"));
  EXPECT_NE(server.log().find("ended"), std::string::npos) << server.log();
}

std::int32_t write_io(platform::dispatch_client& channel, const std::string& bytes, std::int32_t mode,
                      std::int32_t& written) {
  std::string data = bytes;
  written = -1;
  return channel.call("WriteIO", Variant::ref(data), static_cast<std::int32_t>(data.size()), Variant::ref(written), mode)
      .value.long_or(-1);
}

TEST_F(RemoteSessionTest, ACallOnAServerThatHangsEndsAtItsDeadline) {
  // A call of its own, and one that follows pipelined writes on their stream.
  for (const bool after_writes : {false, true}) {
    SCOPED_TRACE(after_writes ? "after pipelined writes" : "a call of its own");
    print_server_process server(false, 32);
    ASSERT_NE(server.port(), 0) << server.log();
    created monitor_object;
    platform::dispatch_client channel = vx40_channel(server.address(), monitor_object);
    ASSERT_TRUE(channel);
    // Short time-outs give a short budget: 4 x (100 + 100) + 1000 ms, and 2 s for the network.
    ASSERT_EQ(channel.put("ReadTimeOut", 100), platform::kSOk);
    ASSERT_EQ(channel.put("WriteTimeOut", 100), platform::kSOk);
    ASSERT_EQ(channel.call("OpenIO").value.long_or(-1), 0);
    if (after_writes) {
      std::int32_t written = -1;
      ASSERT_EQ(write_io(channel, "pipelined\n", 1, written), 0);
    }

    ASSERT_TRUE(server.process().pause());
    const auto start = steady_clock::now();
    const platform::call_result r = channel.call("OpenIO");
    const long took = elapsed_ms(start);
    ASSERT_TRUE(server.process().send_signal(SIGCONT));
    EXPECT_EQ(r.hr, monitor::remote::kResultCallTimedOut);
    EXPECT_GE(took, 3500);
    EXPECT_LT(took, 8000);
    const error_record e = last_error(channel);
    EXPECT_NE(e.description.find("did not answer"), std::string::npos) << e.description;
  }
}

TEST_F(RemoteSessionTest, TlsServersTakeOnlyClientsWithACertificateOfTheirAuthority) {
  if (!platform::testing::find_program("openssl")) GTEST_SKIP() << "openssl makes the test certificates";
  // A test authority, a server certificate for 127.0.0.1 and a client certificate.
  temp_dir pki;
  const std::string script =
      "cd '" + pki.path().string() + "' && "
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.pem "
      "-days 2 -subj /CN=test-ca && "
      "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key -out server.csr "
      "-subj /CN=127.0.0.1 && "
      "printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext && "
      "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
      "-extfile san.ext && "
      "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout client.key -out client.csr "
      "-subj /CN=till && "
      "openssl x509 -req -in client.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out client.pem -days 2 "
      ">/dev/null 2>&1";
  ASSERT_EQ(std::system(script.c_str()), 0);
  print_server_process server(false, 32, kToken,
                              {{"CertFile", (pki / "server.pem").string()},
                               {"KeyFile", (pki / "server.key").string()},
                               {"ClientCAFile", (pki / "ca.pem").string()}});
  ASSERT_NE(server.port(), 0) << server.log();

  // Without a certificate of its own, or without TLS at all, a client is turned away.
  set_string(monitor::remote::kPrintServerKey, "CAFile", (pki / "ca.pem").string());
  created no_certificate = create(monitor::kMonitorProgId, server.address());
  EXPECT_FALSE(no_certificate.object);
  EXPECT_EQ(no_certificate.error.number, monitor::remote::kResultServerUnavailable);
  EXPECT_NE(no_certificate.error.description.find("TLS handshake failed"), std::string::npos)
      << no_certificate.error.description;

  // With its certificate the client gets the server's printer.
  set_string(monitor::remote::kPrintServerKey, "ClientCertFile", (pki / "client.pem").string());
  set_string(monitor::remote::kPrintServerKey, "ClientKeyFile", (pki / "client.key").string());
  created monitor_object;
  platform::dispatch_client channel = vx40_channel(server.address(), monitor_object);
  ASSERT_TRUE(channel);
  EXPECT_EQ(identify(channel), 32);
  channel.reset();
  monitor_object.object.reset();

  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::open(platform::registry_root::local_machine, monitor::remote::kPrintServerKey, key),
            platform::kErrorSuccess);
  ASSERT_EQ(key.delete_value("CAFile"), platform::kErrorSuccess);
  created plain = create(monitor::kMonitorProgId, server.address());
  EXPECT_FALSE(plain.object);
  EXPECT_EQ(plain.error.number, monitor::remote::kResultServerUnavailable) << plain.error.description;

  // A named file that cannot be read fails the creation with the path.
  ASSERT_EQ(key.set_string("CAFile", (pki / "missing.pem").string()), platform::kErrorSuccess);
  created unreadable = create(monitor::kMonitorProgId, server.address());
  EXPECT_FALSE(unreadable.object);
  EXPECT_NE(unreadable.error.description.find("missing.pem"), std::string::npos) << unreadable.error.description;
}

TEST_F(RemoteSessionTest, TheLocalHostGivesTheInProcessObject) {
  set_string(std::string(monitor::kPortsKey) + "\\LOCAL1", "Transport", "sim:local");
  for (const std::string& server : {std::string(), std::string("localhost"), monitor::remote::local_host_name()}) {
    SCOPED_TRACE(server);
    created c = create(monitor::kMonitorProgId, server);
    ASSERT_TRUE(c.object) << c.error.description;
    EXPECT_EQ(c.completions, 1);
    EXPECT_EQ(c.error.number, 0);
    std::string printers;
    ASSERT_EQ(c.object.call("GetPrinterCollection", Variant::ref(printers)).value.long_or(-1), 0);
    EXPECT_EQ(printers, std::string("LOCAL1=LOCAL1\0", 14)) << "this process's own registry";
  }
}


// Pipelined writes: a print server in this process publishes a monitor whose sim: printers the
// test reaches directly, to make them slow, busy or gone at chosen moments and to read what
// they received.
constexpr std::int32_t kTimedOut = static_cast<std::int32_t>(0x80040069u);
constexpr std::int32_t kLinkGone = static_cast<std::int32_t>(0x80040071u);
const std::string kStatusRequest("\x10\x04\x01", 3);

class PipelinedWriteTest : public RemoteSessionTest {
 protected:
  void SetUp() override {
    RemoteSessionTest::SetUp();
    monitor::remote::print_server_options options;
    options.token = kToken;
    options.prog_ids = {monitor::kMonitorProgId};
    options.server_name = "test";
    std::string error;
    server_ = monitor::remote::print_server::start(options, error);
    ASSERT_TRUE(server_) << error;
    address_ = "127.0.0.1:" + std::to_string(server_->port());
    monitor_ = create(monitor::kMonitorProgId, address_).object;
    ASSERT_TRUE(monitor_);
  }
  void TearDown() override {
    monitor_.reset();
    server_.reset();
    RemoteSessionTest::TearDown();
  }

  // The open channel of port `port` on a sim: printer of its own (`uri`), through the server.
  platform::dispatch_client open_channel(const std::string& port, const std::string& uri, int write_timeout_ms) {
    set_string(std::string(monitor::kPortsKey) + "\\" + port, "Transport", uri);
    printer_ = monitor::sim_printer(uri);
    EXPECT_NE(printer_, nullptr);
    platform::dispatch_client channel = connect(monitor_, port, address_);
    EXPECT_TRUE(channel);
    if (!channel) return channel;
    EXPECT_EQ(channel.put("WriteTimeOut", write_timeout_ms), platform::kSOk);
    EXPECT_EQ(channel.put("ReadTimeOut", 5000), platform::kSOk);
    EXPECT_EQ(channel.call("OpenIO").value.long_or(-1), 0);
    return channel;
  }

  std::unique_ptr<monitor::remote::print_server> server_;
  std::string address_;
  platform::dispatch_client monitor_;
  vprinter::virtual_printer* printer_ = nullptr;
};

struct write_step {
  std::int32_t result;
  std::int32_t written;
  bool operator==(const write_step&) const = default;
};

// Writes all of `data` in pieces of up to `piece` bytes, as the utilities' write-all does: each
// WriteIO again from the count the last one reported. Every write that took less than it was
// given goes to `on_short` and into the result; at most 100 of them.
std::vector<write_step> write_all(platform::dispatch_client& channel, const std::string& data, std::size_t piece,
                                  const std::function<void(const write_step&)>& on_short) {
  std::vector<write_step> short_writes;
  std::size_t at = 0;
  while (at < data.size() && short_writes.size() < 100) {
    const std::string part = data.substr(at, piece);
    std::int32_t written = -1;
    const std::int32_t result = write_io(channel, part, 1, written);
    if (written < 0 || static_cast<std::size_t>(written) > part.size()) {
      ADD_FAILURE() << "WriteIO reported " << written << " of " << part.size() << " bytes";
      break;
    }
    at += static_cast<std::size_t>(written);
    if (result != 0 || static_cast<std::size_t>(written) != part.size()) {
      short_writes.push_back({result, written});
      on_short(short_writes.back());
    }
  }
  EXPECT_EQ(at, data.size());
  return short_writes;
}

// DLE EOT 1 and its one-byte answer: a status byte (bits 1 and 4 set, 0 and 7 clear).
void expect_status_answer(platform::dispatch_client& channel) {
  std::int32_t written = -1;
  EXPECT_EQ(write_io(channel, kStatusRequest, 2, written), 0);
  EXPECT_EQ(written, 3);
  std::string buffer(" ");
  std::int32_t read = -1;
  EXPECT_EQ(channel.call("ReadIO", Variant::ref(buffer), 1, Variant::ref(read)).value.long_or(-1), 0);
  ASSERT_EQ(read, 1);
  EXPECT_EQ(static_cast<unsigned char>(buffer[0]) & 0x93, 0x12) << "not a status byte: " << int(buffer[0]);
}

// Printer commands whose bytes differ all along (ESC E n with changing n), so that a lost,
// doubled or reordered piece shows in the capture; the printer prints nothing for them.
std::string command_stream(std::size_t bytes) {
  std::string out;
  for (std::size_t i = 0; out.size() < bytes; ++i) {
    out += "\x1B\x45";
    out += static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  out.resize(bytes - bytes % 3);
  return out;
}

TEST_F(PipelinedWriteTest, AWriteAllArrivesWholeAndInOrderWhateverThePrinterTakes) {
  constexpr std::int32_t kWindow = static_cast<std::int32_t>(monitor::remote::kWriteWindowBytes);
  struct row {
    const char* why;
    const char* fault;
    std::size_t bytes;
    std::size_t piece;
    bool stalls;  // the caller meets a full window
  };
  const row rows[] = {
      // The printer takes 100 bytes of each write: the server keeps the rest and goes on.
      {"short writes", "short_write=100", 48 * 1024, 512, false},
      // Each write outlasts WriteTimeOut: the server writes the rest again.
      {"slow printer", "slow=4", 64 * 1024, 64 * 1024, false},
      // The printer takes nothing: the window fills, the write times out with what it accepted,
      // the next one with nothing; then the printer takes data again.
      {"stalled printer", "busy", monitor::remote::kWriteWindowBytes + 44 * 1024,
       monitor::remote::kWriteWindowBytes + 44 * 1024, true},
  };
  int n = 0;
  for (const row& r : rows) {
    SCOPED_TRACE(r.why);
    const std::string uri = "sim:pipe" + std::to_string(++n) + "?fault=" + r.fault;
    platform::dispatch_client channel = open_channel("PIPE" + std::to_string(n), uri, 100);
    ASSERT_TRUE(channel);
    const std::string data = command_stream(r.bytes);
    // A stalled printer takes data again once a write found no room at all.
    const std::vector<write_step> short_writes = write_all(channel, data, r.piece, [&](const write_step& step) {
      if (step.written == 0) printer_->clear_fault(vprinter::fault::busy);
    });
    if (r.stalls) {
      ASSERT_GE(short_writes.size(), 2u);
      EXPECT_EQ(short_writes[0], (write_step{kTimedOut, kWindow})) << "the window's worth, accepted";
      EXPECT_EQ(short_writes[1], (write_step{kTimedOut, 0})) << "no room left";
      // Until the printer's first write after the stall is done, there may be no room yet.
      for (const write_step& step : short_writes) EXPECT_EQ(step.result, kTimedOut);
    } else {
      EXPECT_TRUE(short_writes.empty()) << short_writes.size() << " writes took only part";
    }
    expect_status_answer(channel);
    EXPECT_TRUE(printer_->capture() == data + kStatusRequest)
        << "the printer received " << printer_->capture().size() << " bytes of " << data.size() + 3;
    EXPECT_EQ(channel.call("CloseIO").value.long_or(-1), 0);
  }
}

TEST_F(PipelinedWriteTest, AReadAfterPipelinedWritesGetsTheAnswerToTheLastOfThem) {
  platform::dispatch_client channel = open_channel("PIPE1", "sim:answer?fault=busy", 100);
  ASSERT_TRUE(channel);
  // The printer takes nothing yet, and every write is accepted at once all the same.
  const std::string text = "Pipelined text\n";
  for (int i = 0; i < 20; ++i) {
    std::int32_t written = -1;
    ASSERT_EQ(write_io(channel, text, 1, written), 0);
    EXPECT_EQ(written, static_cast<std::int32_t>(text.size()));
  }
  std::int32_t written = -1;
  ASSERT_EQ(write_io(channel, kStatusRequest, 2, written), 0);
  EXPECT_EQ(printer_->capture(), "") << "a write waited for the printer";
  // The read waits for the text and the request to go out first, then gets the answer.
  printer_->clear_fault(vprinter::fault::busy);
  std::string buffer(" ");
  std::int32_t read = -1;
  ASSERT_EQ(channel.call("ReadIO", Variant::ref(buffer), 1, Variant::ref(read)).value.long_or(-1), 0);
  ASSERT_EQ(read, 1);
  EXPECT_EQ(static_cast<unsigned char>(buffer[0]) & 0x93, 0x12);
  std::string all;
  for (int i = 0; i < 20; ++i) all += text;
  EXPECT_EQ(printer_->capture(), all + kStatusRequest);
}

TEST_F(PipelinedWriteTest, ACallBehindWritesThePrinterDoesNotTakeIsAnsweredAndTheWritesStay) {
  // WriteTimeOut 200 ms: each attempt on the busy printer ends after it with nothing taken.
  platform::dispatch_client channel = open_channel("HELD1", "sim:held?fault=busy", 200);
  ASSERT_TRUE(channel);
  std::int32_t written = -1;
  ASSERT_EQ(write_io(channel, "waiting text\n", 1, written), 0);
  // The call waits for one whole attempt begun after it, not for the printer.
  const auto start = steady_clock::now();
  EXPECT_EQ(channel.get("IsOpen").value.long_or(-1), 1);
  EXPECT_LT(elapsed_ms(start), 2000);
  EXPECT_EQ(printer_->capture(), "");
  // The writes were kept: they go out, before the request, once the printer takes data.
  printer_->clear_fault(vprinter::fault::busy);
  expect_status_answer(channel);
  EXPECT_EQ(printer_->capture(), "waiting text\n" + kStatusRequest);
}

TEST_F(PipelinedWriteTest, AWriteTheChannelWouldRefuseIsRefusedNotAccepted) {
  constexpr std::int32_t kInvalidArg = static_cast<std::int32_t>(0x80070057u);
  constexpr std::int32_t kFailed = static_cast<std::int32_t>(0x80004005u);
  platform::dispatch_client channel = open_channel("REFUSE1", "sim:refuse", 100);
  ASSERT_TRUE(channel);
  // One write goes through the pipeline first, so that the ones below could have, too.
  std::int32_t written = -1;
  ASSERT_EQ(write_io(channel, "ok\n", 1, written), 0);
  struct row {
    const char* why;
    std::int32_t length;
    std::int32_t mode;
    bool closed;
    std::int32_t result;
  };
  const row rows[] = {
      {"length beyond the data", 9, 1, false, kInvalidArg},
      {"negative length", -1, 1, false, kInvalidArg},
      {"unknown mode", 2, 3, false, kInvalidArg},
      {"closed channel", 2, 1, true, kFailed},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.why);
    if (r.closed) {
      ASSERT_EQ(channel.call("CloseIO").value.long_or(-1), 0);
    }
    std::string data = "ab";
    written = -1;
    EXPECT_EQ(channel.call("WriteIO", Variant::ref(data), r.length, Variant::ref(written), r.mode).value.long_or(-1),
              r.result);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(last_error(channel).number, r.result) << "the channel's own record of the refusal";
  }
  EXPECT_EQ(printer_->capture(), "ok\n");
}

TEST_F(PipelinedWriteTest, ClosingOrReleasingAChannelFinishesItsPendingWritesFirst) {
  struct row {
    const char* why;
    bool release;  // drop the proxy, else CloseIO
  };
  int n = 0;
  for (const row& r : {row{"CloseIO", false}, row{"release", true}}) {
    SCOPED_TRACE(r.why);
    // 20 us a byte: the 8 KiB take the printer about 160 ms.
    const std::string uri = "sim:flush" + std::to_string(++n) + "?fault=slow=20";
    platform::dispatch_client channel = open_channel("FLUSH" + std::to_string(n), uri, 1000);
    ASSERT_TRUE(channel);
    const std::string data = command_stream(8 * 1024);
    for (std::size_t at = 0; at < data.size(); at += 512) {
      std::int32_t written = -1;
      ASSERT_EQ(write_io(channel, data.substr(at, 512), 1, written), 0);
    }
    if (r.release) {
      channel.reset();
    } else {
      EXPECT_EQ(channel.call("CloseIO").value.long_or(-1), 0);
    }
    EXPECT_TRUE(printer_->capture() == data)
        << "the printer had " << printer_->capture().size() << " of " << data.size() << " bytes";
  }
}

TEST_F(PipelinedWriteTest, WritesWithNothingAfterThemStillReachThePrinter) {
  // Writes in quick succession are gathered into batches; the last ones must go out without
  // a later call to carry them, also when they were left waiting for the next batch.
  for (int round = 1; round <= 5; ++round) {
    SCOPED_TRACE(round);
    const std::string uri = "sim:unasked" + std::to_string(round);
    platform::dispatch_client channel = open_channel("UNASKED" + std::to_string(round), uri, 1000);
    ASSERT_TRUE(channel);
    const std::string data = command_stream(300 * 12);
    EXPECT_TRUE(write_all(channel, data, 12, [](const write_step&) {}).empty());
    const auto start = steady_clock::now();
    while (printer_->capture().size() < data.size() && elapsed_ms(start) < 5000) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(printer_->capture() == data)
        << "the printer had " << printer_->capture().size() << " of " << data.size() << " bytes";
  }
}

TEST_F(PipelinedWriteTest, ChannelsOfOneSessionUsedFromTwoThreadsEachGetTheirOwnAnswers) {
  // The calls of both threads wait on the session at the same time: one reads its answers
  // for both, and each must get its own.
  struct side {
    platform::dispatch_client channel;
    vprinter::virtual_printer* printer = nullptr;
    std::string sent;
  };
  side sides[2];
  for (int i = 0; i < 2; ++i) {
    const std::string uri = "sim:twin" + std::to_string(i + 1);
    sides[i].channel = open_channel("TWIN" + std::to_string(i + 1), uri, 1000);
    ASSERT_TRUE(sides[i].channel);
    sides[i].printer = printer_;
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&, i] {
      side& s = sides[i];
      const std::string data = command_stream(900 + 300 * static_cast<std::size_t>(i));
      for (int round = 0; round < 40; ++round) {
        EXPECT_TRUE(write_all(s.channel, data, 300, [](const write_step&) {}).empty());
        expect_status_answer(s.channel);
        s.sent += data + kStatusRequest;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (const side& s : sides) {
    EXPECT_TRUE(s.printer->capture() == s.sent)
        << "the printer received " << s.printer->capture().size() << " bytes of " << s.sent.size();
  }
}

TEST_F(PipelinedWriteTest, ALinkLostUnderPipelinedWritesIsReportedByTheNextDataCall) {
  struct row {
    const char* why;
    bool by_write;   // the next data call is a WriteIO, else a ReadIO
    bool ask_first;  // another call comes between the writes and the data call
  };
  int n = 0;
  for (const row& r : {row{"write", true, true}, row{"read", false, true}, row{"read right after", false, false}}) {
    SCOPED_TRACE(r.why);
    const std::string uri = "sim:gone" + std::to_string(++n) + "?fault=busy";
    platform::dispatch_client channel = open_channel("GONE" + std::to_string(n), uri, 100);
    ASSERT_TRUE(channel);
    std::int32_t written = -1;
    ASSERT_EQ(write_io(channel, "held back\n", 1, written), 0);
    printer_->inject_fault(vprinter::fault::disconnect);
    // Any other call follows the writes: the link's failure has come by then, and the
    // server's channel has closed.
    if (r.ask_first) {
      EXPECT_EQ(channel.get("IsOpen").value.long_or(-1), 0);
    }
    std::int32_t count = -1;
    if (r.by_write) {
      EXPECT_EQ(write_io(channel, "more\n", 1, count), kLinkGone);
    } else {
      std::string buffer(" ");
      EXPECT_EQ(channel.call("ReadIO", Variant::ref(buffer), 1, Variant::ref(count)).value.long_or(-1), kLinkGone);
    }
    EXPECT_EQ(count, 0);
    const error_record e = last_error(channel);
    EXPECT_EQ(e.number, kLinkGone);
    EXPECT_NE(e.description.find("disconnected"), std::string::npos) << e.description;

    // Told once: after reconnecting, writes go out again.
    printer_->clear_faults();
    ASSERT_EQ(channel.call("OpenIO").value.long_or(-1), 0);
    ASSERT_EQ(write_io(channel, "after\n", 1, written), 0);
    expect_status_answer(channel);
    EXPECT_EQ(printer_->capture(), "after\n" + kStatusRequest);
  }
}

TEST_F(RemoteSessionTest, PipelinedWritesOnAServerThatIsKilledFailTheNextCallWithinBounds) {
  // A printer that takes 2 ms per byte: the writes are still pending when the server dies.
  print_server_process server(false, 32, kToken, {}, "&fault=slow=2000");
  ASSERT_NE(server.port(), 0) << server.log();
  created monitor_object;
  platform::dispatch_client channel = vx40_channel(server.address(), monitor_object);
  ASSERT_TRUE(channel);
  ASSERT_EQ(channel.call("OpenIO").value.long_or(-1), 0);
  std::int32_t written = -1;
  ASSERT_EQ(write_io(channel, std::string(4096, 'x'), 1, written), 0);
  EXPECT_EQ(written, 4096);

  // Names looked up before, as callers keep them: the calls below reach the proxy's members.
  long dispid = 0;
  ASSERT_EQ(channel.get()->get_ids_of_names("ReadIO", dispid), platform::kSOk);

  server.process().kill();
  const auto start = steady_clock::now();
  std::string buffer(" ");
  std::int32_t read = -1;
  const platform::call_result r = channel.call("ReadIO", Variant::ref(buffer), 1, Variant::ref(read));
  EXPECT_EQ(r.hr, monitor::remote::kResultDisconnected);
  EXPECT_EQ(read, 0);
  EXPECT_EQ(last_error(channel).number, monitor::remote::kResultDisconnected);
  // Later calls fail as well, and releasing the proxy does not wait for the lost writes.
  EXPECT_EQ(channel.call("WriteIO", Variant::ref(buffer), 1, Variant::ref(written), 1).hr,
            monitor::remote::kResultDisconnected);
  channel.reset();
  EXPECT_LT(elapsed_ms(start), 3000);
}

}  // namespace
