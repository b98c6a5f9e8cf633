// ServerMonitor through the object model, as the service objects and utilities call it:
// registration, connection status with its reasons, connections, collections and texts.
#include <sys/file.h>

#include <gtest/gtest.h>

#include "monitor/sim.h"
#include "monitor_fixture.h"

namespace monitor_test {
namespace {

class ServerMonitorTest : public MonitorTest {};

TEST_F(ServerMonitorTest, ProgIdNamesTheDocumentedClass) {
  platform::guid clsid;
  ASSERT_EQ(platform::clsid_from_prog_id(monitor::kMonitorProgId, clsid), platform::kSOk);
  EXPECT_EQ(clsid, monitor::kMonitorClsid);
  channel server = make_monitor();
  ASSERT_TRUE(server);
  long dispid = 0;
  EXPECT_EQ(server.get()->get_ids_of_names("getconnectionstatus", dispid), platform::kSOk);
  EXPECT_EQ(dispid, 1);
}

TEST_F(ServerMonitorTest, ConnectionStatusTellsWhyAPortCannotBeUsed) {
  std::string refused;
  {
    const tcp_peer gone;
    refused = gone.uri();  // nobody listens there once the peer has gone
  }
  struct row {
    const char* behaviour;
    std::string port;
    std::string transport;  // "" leaves the port unconfigured
    std::int32_t status;
    std::string says;
  };
  const row rows[] = {
      {"virtual printer", "SIMPORT", "sim:status-ok", 0, ""},
      {"configured name in another case", "simport", "", 0, ""},
      {"unknown port", "NOPE", "", 2, "unknown port 'NOPE'"},
      {"malformed URI", "BAD", "bogus", 2, "bad device URI 'bogus'"},
      {"bad sim option", "BADSIM", "sim:?speed=9", 2, "option 'speed' is unknown"},
      {"missing device", "GONE", "serial:" + (dir_ / "no-such-tty").string(), 2, "No such file"},
      {"printer does not listen", "NET", refused, 2, "refused"},
      {"disconnected printer", "UNPLUGGED", "sim:status-unplugged?fault=disconnect", 2, "disconnected"},
  };
  for (const row& r : rows) {
    if (!r.transport.empty()) set_port(r.port, r.transport);
  }
  set_port("EMPTY", "");
  channel server = make_monitor();
  for (const row& r : rows) {
    SCOPED_TRACE(r.behaviour);
    EXPECT_EQ(connection_status(server, "VX40", r.port), r.status);
    const error_record e = server.last_error();
    if (r.status != 0) {
      EXPECT_NE(e.number, 0);
      EXPECT_NE(e.description.find(r.says), std::string::npos) << e.description;
      EXPECT_EQ(e.source, "QuorelServer.Monitor");
    }
  }
  EXPECT_EQ(connection_status(server, "VX40", "EMPTY"), 2);
  EXPECT_NE(server.last_error().description.find("has no Transport value"), std::string::npos);
}

TEST_F(ServerMonitorTest, LastErrorIsEmptyBeforeAFailureAndKeptAfterASuccess) {
  set_port("P", "sim:status-kept");
  channel server = make_monitor();
  error_record e = server.last_error();
  EXPECT_EQ(e.number, 0);
  EXPECT_EQ(e.description, "");
  EXPECT_EQ(e.source, "");
  EXPECT_EQ(connection_status(server, "", "NOPE"), 2);
  EXPECT_EQ(connection_status(server, "", "P"), 0);
  e = server.last_error();
  EXPECT_EQ(e.number, static_cast<std::int32_t>(0x80004005u));
  EXPECT_NE(e.description.find("'NOPE'"), std::string::npos);
}

TEST_F(ServerMonitorTest, ArgumentsMayBeStringsByValue) {
  set_port("P", "sim:status-byvalue");
  channel server = make_monitor();
  const platform::call_result r = platform::call(server.get(), "GetConnectionStatus", "VX40", "P");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value.long_or(-1), 0);
  platform::com_ptr<platform::dispatch> object;
  EXPECT_EQ(platform::call(server.get(), "GetConnectionStatus", Variant(object), "P").hr,
            platform::kDispETypeMismatch);
}

TEST_F(ServerMonitorTest, DeviceHeldByAnotherProcessIsBusy) {
  const pseudo_terminal port;
  ASSERT_FALSE(port.path().empty());
  set_port("COM7", "serial:" + port.path() + "?baud=19200");

  // Another user of the port holds its lock, as a second program would.
  serial_end holder(port.path());
  ASSERT_EQ(::flock(holder.fd(), LOCK_EX | LOCK_NB), 0);
  channel server = make_monitor();
  EXPECT_EQ(connection_status(server, "VX40", "COM7"), 1);
  const error_record e = server.last_error();
  EXPECT_EQ(e.number, monitor::kResultBusy);
  EXPECT_NE(e.description.find("in use"), std::string::npos) << e.description;

  channel io = connect("COM7");
  ASSERT_TRUE(io);
  EXPECT_EQ(io.open(), monitor::kResultBusy);

  ::flock(holder.fd(), LOCK_UN);
  EXPECT_EQ(connection_status(server, "VX40", "COM7"), 0);
  EXPECT_EQ(io.open(), 0);
}

TEST_F(ServerMonitorTest, GetConnectionGivesNullForAnUnknownPort) {
  channel server = make_monitor();
  std::string machine = "VX40";
  std::string port = "NOPE";
  const platform::call_result r =
      platform::call(server.get(), "GetConnection", Variant::ref(machine), Variant::ref(port));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value.type(), platform::variant_type::object);
  platform::com_ptr<platform::dispatch> object;
  EXPECT_EQ(r.value.as_object(object), platform::kSOk);
  EXPECT_FALSE(object);
  EXPECT_NE(server.last_error().description.find("unknown port"), std::string::npos);
  EXPECT_EQ(port, "NOPE");
}

TEST_F(ServerMonitorTest, PrintersAreFoundByPortOrByTheirCollectionName) {
  tcp_peer printer;
  set_port("VPRINTER", "sim:status-named", "VX40");
  set_port("KITCHEN", printer.uri(), "VX40", "Kitchen printer");
  set_port("BAR", "sim:status-bar-1", "VJ20", "Twin");
  set_port("BAR2", "sim:status-bar-2", "VJ20", "Twin");
  channel server = make_monitor();

  // The service objects: MachineType and COMMPort (in any case); the port argument is left as
  // it was, and the channel names the port as configured.
  std::string machine = "VX40";
  std::string port = "vprinter";
  const platform::call_result by_port =
      platform::call(server.get(), "GetConnection", Variant::ref(machine), Variant::ref(port));
  platform::com_ptr<platform::dispatch> object;
  ASSERT_EQ(by_port.value.as_object(object), platform::kSOk);
  ASSERT_TRUE(object);
  EXPECT_EQ(channel(object).get_text("PortName"), "VPRINTER");
  EXPECT_EQ(port, "vprinter");

  // The utilities: the printer name from the collection and the host; a LAN printer's address
  // comes back in the second argument.
  machine = "kitchen PRINTER";
  port = "localhost";
  EXPECT_EQ(connection_status(server, machine, port), 0);
  const platform::call_result by_name =
      platform::call(server.get(), "GetConnection", Variant::ref(machine), Variant::ref(port));
  ASSERT_EQ(by_name.value.as_object(object), platform::kSOk);
  ASSERT_TRUE(object);
  EXPECT_EQ(channel(object).get_text("PortName"), "KITCHEN");
  EXPECT_EQ(port, "127.0.0.1");

  // A name two ports share is refused rather than guessed.
  EXPECT_EQ(connection_status(server, "Twin", "localhost"), 2);
  EXPECT_NE(server.last_error().description.find("shared by the ports 'BAR' and 'BAR2'"), std::string::npos);
}

TEST_F(ServerMonitorTest, CollectionsListTheConfiguredPorts) {
  using namespace std::string_literals;
  channel server = make_monitor();
  std::string text = "stale";
  platform::call_result r = platform::call(server.get(), "GetPrinterCollection", Variant::ref(text));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value.long_or(-1), 0);
  EXPECT_EQ(text, "") << "no ports key means no printers";

  set_port("VPRINTER", "sim:", "VX40");
  set_port("COM2", "", "VJ20", "Back office");
  set_port("NET1", "socket://192.0.2.7:9100", "VX40");
  set_port("A=B", "sim:odd");
  set_port("LPT1", "parallel:/dev/lp0");
  r = platform::call(server.get(), "GetPrinterCollection", Variant::ref(text));
  EXPECT_EQ(r.value.long_or(-1), 0);
  EXPECT_EQ(text, "VPRINTER=VX40\0COM2=Back office\0LPT1=LPT1\0"s) << hex(text);

  r = platform::call(server.get(), "GetLanPrinterCollection", Variant::ref(text));
  EXPECT_EQ(r.value.long_or(-1), 0);
  EXPECT_EQ(text, "NET1=VX40\0"s) << hex(text);
}

TEST_F(ServerMonitorTest, StatusTextsAndServerName) {
  channel server = make_monitor();
  const std::pair<std::int32_t, const char*> texts[] = {
      {0, "Printer ready..."},
      {1, "Cover open. Waiting..."},
      {5, "Unrecoverable printer error. Please check printer..."},
      {8, "Paper out. Waiting..."},
      {9, "Unknown answer. Waiting..."},
      {6, "Unknown offline status. Waiting..."},
      {42, "Unknown offline status. Waiting..."},
  };
  for (const auto& [code, text] : texts) {
    EXPECT_EQ(platform::call(server.get(), "StatusDescription", code).value.string_or(""), text) << code;
  }
  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(platform::call(server.get(), "GetServerName").value.string_or(""), host);
}

}  // namespace
}  // namespace monitor_test
