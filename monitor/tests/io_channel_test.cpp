// IoChannel through the object model, exactly as the service objects and utilities call it:
// the claim sequence on the virtual printer, TCP and serial links, time-outs, lost links and
// reconnection, argument checks, answers, the offline flag and the printer state under faults.
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "monitor/immediate_writer.h"
#include "monitor/sim.h"
#include "monitor_fixture.h"

namespace monitor_test {
namespace {

using monitor::kResultFailed;
using monitor::kResultOffline;
using monitor::kResultPaperOut;
using monitor::kResultTimeout;

constexpr std::int32_t kInvalidArg = static_cast<std::int32_t>(0x80070057u);

class IoChannelTest : public MonitorTest {
 protected:
  // A sim URI of a printer no earlier test (or earlier repetition) has used.
  static std::string fresh_sim(const std::string& name, const std::string& options = "") {
    static int counter = 0;
    return "sim:" + name + "-" + std::to_string(++counter) + options;
  }

  // A sim port named `port` on printer `uri`, connected and opened.
  channel open_sim(const std::string& port, const std::string& uri) {
    set_port(port, uri, "VX40");
    channel io = connect(port);
    EXPECT_TRUE(io);
    if (io) {
      EXPECT_EQ(io.open(), 0) << io.last_error().description;
    }
    return io;
  }
};

TEST_F(IoChannelTest, ClaimSequenceOnTheVirtualPrinter) {
  const std::string uri = fresh_sim("claim");
  set_port("VPRINTER", uri, "VX40");
  channel server = make_monitor();
  ASSERT_EQ(connection_status(server, "VX40", "VPRINTER"), 0);
  channel io = connect("VPRINTER");
  ASSERT_TRUE(io);
  EXPECT_EQ(io.get_long("IsOpen"), 0);
  ASSERT_EQ(io.open(), 0);
  EXPECT_EQ(monitor::sim_open_channels(uri), 1);

  io_outcome w = io.write(bytes({0x1B, 0x40}));
  EXPECT_EQ(w.rc, 0);
  EXPECT_EQ(w.count, 2);
  w = io.write(bytes({0x1D, 0x49, 0x31}));
  EXPECT_EQ(w.rc, 0);
  EXPECT_EQ(w.count, 3);
  const io_outcome id = io.read(1);
  EXPECT_EQ(id.rc, 0);
  EXPECT_EQ(id.count, 1);
  EXPECT_EQ(hex(id.data), "20");
  EXPECT_EQ(hex(monitor::sim_printer(uri)->capture()), "1B 40 1D 49 31");

  EXPECT_EQ(io.get_long("ProtocolKind"), 1);
  EXPECT_EQ(io.get_text("PortName"), "VPRINTER");
  EXPECT_EQ(io.get_text("DeviceUri"), uri);
  EXPECT_EQ(io.close(), 0);
  EXPECT_EQ(io.get_long("IsOpen"), 0);
  EXPECT_EQ(monitor::sim_open_channels(uri), 0);
}

TEST_F(IoChannelTest, SecondProtocolKindIsIdentifiedByEscQuestion) {
  // The kind comes from the sim printer's protocol option, and a ProtocolKind value of the port
  // overrides it either way.
  struct kind_case {
    const char* name;
    const char* options;
    const char* registry_value;  // "" none
    std::int32_t kind;
  };
  const kind_case cases[] = {
      {"protocol option", "?protocol=2&model=QW-310", "", 2},
      {"registry value over the option", "?protocol=2&model=QW-310", "1", 1},
      {"registry value alone", "", "2", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string uri = fresh_sim("kind", c.options);
    set_port("QW", uri, "QW-310");
    if (*c.registry_value != '\0') {
      platform::registry_key key;
      ASSERT_EQ(platform::registry_key::open(platform::registry_root::local_machine,
                                             std::string(monitor::kPortsKey) + "\\QW", key),
                platform::kErrorSuccess);
      ASSERT_EQ(key.set_string("ProtocolKind", c.registry_value), platform::kErrorSuccess);
    }
    channel io = connect("QW");
    ASSERT_TRUE(io);
    EXPECT_EQ(io.get_long("ProtocolKind"), c.kind);
    if (c.kind == 2 && *c.options != '\0') {
      ASSERT_EQ(io.open(), 0);
      EXPECT_EQ(io.write(bytes({0x1B, 0x3F, 0x30}), 2).rc, 0);
      const io_outcome head = io.read(3);
      ASSERT_EQ(hex(head.data), "3F 07 30");
      EXPECT_EQ(io.read(7).data, std::string("QW-310") + '\0');
      io.close();
    }
    platform::registry_key ports;
    ASSERT_EQ(platform::registry_key::open(platform::registry_root::local_machine, monitor::kPortsKey, ports),
              platform::kErrorSuccess);
    ports.delete_tree("QW");
  }
}

TEST_F(IoChannelTest, ReadTimeOutBoundsAReadWithNothingToRead) {
  const std::string uri = fresh_sim("timeouts");
  channel io = open_sim("P", uri);
  EXPECT_EQ(io.get_long("ReadTimeOut"), 1000);
  EXPECT_EQ(io.get_long("WriteTimeOut"), 1500);
  ASSERT_EQ(io.put("ReadTimeOut", 200), platform::kSOk);
  EXPECT_EQ(io.put("WriteTimeOut", 300), platform::kSOk);
  EXPECT_EQ(io.get_long("ReadTimeOut"), 200);
  EXPECT_EQ(io.get_long("WriteTimeOut"), 300);

  const auto start = steady_clock::now();
  const io_outcome r = io.read(1);
  EXPECT_EQ(r.rc, kResultTimeout);
  EXPECT_EQ(r.count, 0);
  EXPECT_GE(elapsed_ms(start), 150);
  EXPECT_LT(elapsed_ms(start), 2000);
  const error_record e = io.last_error();
  EXPECT_EQ(e.number, kResultTimeout);
  EXPECT_NE(e.description.find("0 of 1 bytes within 200 ms"), std::string::npos) << e.description;
  EXPECT_EQ(e.source, "P (" + uri + ")");

  // A negative time-out would let a call wait for ever: refused, the old value stays.
  EXPECT_EQ(io.put("ReadTimeOut", -1), platform::kEInvalidArg);
  EXPECT_EQ(io.get_long("ReadTimeOut"), 200);
}

TEST_F(IoChannelTest, ShortReadFillsOnlyTheCountedPartOfTheBuffer) {
  channel io = open_sim("P", fresh_sim("short-read"));
  ASSERT_EQ(io.put("ReadTimeOut", 100), platform::kSOk);
  ASSERT_EQ(io.write(bytes({0x1D, 0x49, 0x01})).rc, 0);
  std::string buffer;
  const io_outcome r = io.read(4, &buffer);
  EXPECT_EQ(r.rc, kResultTimeout);
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(hex(buffer), "20 1E 1E 1E");
}

TEST_F(IoChannelTest, WriteArgumentsAreChecked) {
  const std::string uri = fresh_sim("arguments");
  set_port("P", uri);
  channel io = connect("P");
  ASSERT_TRUE(io);
  const io_outcome closed = io.write("AB");
  EXPECT_EQ(closed.rc, kResultFailed);
  EXPECT_EQ(closed.count, 0);
  EXPECT_NE(io.last_error().description.find("not open"), std::string::npos);
  ASSERT_EQ(io.open(), 0);

  struct row {
    const char* behaviour;
    std::int32_t length;
    std::int32_t mode;
    std::int32_t rc;
  };
  for (const row& r : {row{"length beyond the data", 3, 1, kInvalidArg}, row{"negative length", -1, 1, kInvalidArg},
                       row{"mode 0", 2, 0, kInvalidArg}, row{"mode 3", 2, 3, kInvalidArg},
                       row{"part of the data", 1, 1, 0}, row{"nothing", 0, 2, 0}}) {
    SCOPED_TRACE(r.behaviour);
    std::string data = "AB";
    std::int32_t written = -1;
    const platform::call_result c =
        platform::call(io.get(), "WriteIO", Variant::ref(data), r.length, Variant::ref(written), r.mode);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c.value.long_or(-1), r.rc);
    EXPECT_EQ(written, r.rc == 0 ? r.length : 0);
  }

  // Data by value and as a byte array are taken too.
  std::int32_t written = -1;
  EXPECT_EQ(platform::call(io.get(), "WriteIO", "CD", 2, Variant::ref(written), 1).value.long_or(-1), 0);
  EXPECT_EQ(platform::call(io.get(), "WriteIO", std::vector<std::uint8_t>{0x00, 0xFF}, 2, Variant::ref(written), 1)
                .value.long_or(-1),
            0);
  EXPECT_EQ(hex(monitor::sim_printer(uri)->capture()), hex(std::string("ACD\x00\xFF", 5)));
}

TEST_F(IoChannelTest, StatusRequestsDropStaleAnswersPrintDataKeepsThem) {
  channel io = open_sim("P", fresh_sim("stale"));
  // Mode 1: the identification answer waits and is read first.
  ASSERT_EQ(io.write(bytes({0x1D, 0x49, 0x01}), 1).rc, 0);
  ASSERT_EQ(io.write(bytes({0x10, 0x04, 0x01}), 1).rc, 0);
  // A real-time status answer has bits 1 and 4 set and bits 0 and 7 clear.
  const auto is_status = [](char c) { return (static_cast<unsigned char>(c) & 0x93) == 0x12; };
  io_outcome r = io.read(2);
  ASSERT_EQ(r.rc, 0);
  ASSERT_EQ(r.data.size(), 2u);
  EXPECT_EQ(hex(r.data.substr(0, 1)), "20");
  EXPECT_TRUE(is_status(r.data[1])) << hex(r.data);

  // Mode 2: the stale identification answer is dropped; the status answer comes next.
  ASSERT_EQ(io.write(bytes({0x1D, 0x49, 0x01}), 1).rc, 0);
  ASSERT_EQ(io.write(bytes({0x10, 0x04, 0x01}), 2).rc, 0);
  r = io.read(1);
  ASSERT_EQ(r.rc, 0);
  ASSERT_EQ(r.data.size(), 1u);
  EXPECT_TRUE(is_status(r.data[0])) << hex(r.data);
}

TEST_F(IoChannelTest, AnswersAreSplitAtTheirNulOrAPause) {
  tcp_peer peer;
  set_port("NET", peer.uri());
  channel io = connect("NET");
  ASSERT_TRUE(io);
  ASSERT_EQ(io.put("ReadTimeOut", 300), platform::kSOk);
  ASSERT_EQ(io.open(), 0);
  ASSERT_TRUE(peer.accept_client());

  ASSERT_TRUE(peer.send(std::string("_AB\0_CD\0", 8)));
  io_outcome a = io.read_answer();
  EXPECT_EQ(a.rc, 0);
  EXPECT_EQ(a.count, 4);
  EXPECT_EQ(hex(a.data), hex(std::string("_AB\0", 4)));
  a = io.read_answer();
  EXPECT_EQ(a.rc, 0);
  EXPECT_EQ(hex(a.data), hex(std::string("_CD\0", 4)));

  ASSERT_TRUE(peer.send("XYZ"));
  a = io.read_answer();
  EXPECT_EQ(a.rc, 0);
  EXPECT_EQ(a.data, "XYZ");
  EXPECT_EQ(a.count, 3);

  a = io.read_answer();
  EXPECT_EQ(a.rc, kResultTimeout);
  EXPECT_EQ(a.count, 0);

  std::string text;
  std::int32_t count = 0;
  EXPECT_EQ(platform::call(io.get(), "ReadAnswer", Variant::ref(text), Variant::ref(count), 1).value.long_or(-1),
            kInvalidArg);
}

TEST_F(IoChannelTest, ExactReadGathersBytesThatArriveApart) {
  tcp_peer peer;
  set_port("NET", peer.uri());
  channel io = connect("NET");
  ASSERT_TRUE(io);
  ASSERT_EQ(io.open(), 0);
  ASSERT_TRUE(peer.accept_client());
  std::thread printer([&] {
    peer.send("ab");
    std::this_thread::sleep_for(milliseconds(50));
    peer.send("cd");
  });
  const io_outcome r = io.read(4);
  printer.join();
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.data, "abcd");
}

TEST_F(IoChannelTest, LostConnectionIsReportedByTheNextWriteAndOpenConnectsAgain) {
  tcp_peer peer;
  set_port("NET", peer.uri());
  channel io = connect("NET");
  ASSERT_TRUE(io);
  ASSERT_EQ(io.open(), 0);
  ASSERT_TRUE(peer.accept_client());
  ASSERT_EQ(io.write("abc").rc, 0);
  EXPECT_EQ(peer.receive(3), "abc");

  peer.close_client();
  std::this_thread::sleep_for(milliseconds(50));  // the close reaches this end
  const auto start = steady_clock::now();
  const io_outcome lost = io.write("xyz");
  EXPECT_EQ(lost.rc, kResultOffline);
  EXPECT_LT(elapsed_ms(start), 2000);
  EXPECT_NE(io.last_error().description.find("closed"), std::string::npos) << io.last_error().description;
  EXPECT_EQ(io.get_long("IsOpen"), 0);
  EXPECT_EQ(io.write("xyz").rc, kResultFailed);

  ASSERT_EQ(io.open(), 0);
  ASSERT_TRUE(peer.accept_client());
  ASSERT_EQ(io.write("def").rc, 0);
  EXPECT_EQ(peer.receive(3), "def");
}

TEST_F(IoChannelTest, OpenAfterCloseConnectsAgain) {
  tcp_peer peer;
  set_port("NET", peer.uri());
  channel io = connect("NET");
  ASSERT_TRUE(io);
  ASSERT_EQ(io.open(), 0);
  ASSERT_TRUE(peer.accept_client());
  EXPECT_EQ(io.close(), 0);
  EXPECT_TRUE(peer.sees_end_of_stream());
  EXPECT_EQ(io.close(), 0) << "closing twice is harmless";

  ASSERT_EQ(io.open(), 0);
  ASSERT_TRUE(peer.accept_client());
  ASSERT_EQ(io.write("again").rc, 0);
  EXPECT_EQ(peer.receive(5), "again");
}

TEST_F(IoChannelTest, UnpluggedVirtualPrinterFailsUntilPluggedBackIn) {
  const std::string uri = fresh_sim("unplug");
  channel io = open_sim("P", uri);
  vprinter::virtual_printer* printer = monitor::sim_printer(uri);
  ASSERT_NE(printer, nullptr);
  printer->inject_fault(vprinter::fault::disconnect);
  EXPECT_EQ(io.write("x").rc, kResultOffline);
  EXPECT_EQ(io.get_long("IsOpen"), 0);
  EXPECT_EQ(io.open(), kResultOffline);
  printer->clear_fault(vprinter::fault::disconnect);
  EXPECT_EQ(io.open(), 0);
  EXPECT_EQ(io.write("y").rc, 0);
}

TEST_F(IoChannelTest, ShortBusyAndPaperOutWritesReportTheirCodes) {
  channel shorter = open_sim("SHORT", fresh_sim("short", "?fault=short_write=3"));
  const io_outcome part = shorter.write("0123456789");
  EXPECT_EQ(part.rc, kResultTimeout);
  EXPECT_EQ(part.count, 3);

  channel busy = open_sim("BUSY", fresh_sim("busy", "?fault=busy"));
  ASSERT_EQ(busy.put("WriteTimeOut", 100), platform::kSOk);
  const auto start = steady_clock::now();
  const io_outcome refused = busy.write("0123456789");
  // A full buffer holds the write back until WriteTimeOut; it then ends as a time-out (as on a
  // real link), not with the busy code.
  EXPECT_EQ(refused.rc, kResultTimeout);
  EXPECT_EQ(refused.count, 0);
  EXPECT_GE(elapsed_ms(start), 80);
  EXPECT_LT(elapsed_ms(start), 2000);

  // A printer-class device says "no paper" by refusing the write (ENOSPC); /dev/full does the same.
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  set_port("FULL", "file:/dev/full");
  channel full = connect("FULL");
  ASSERT_TRUE(full);
  ASSERT_EQ(full.open(), 0);
  const io_outcome no_paper = full.write("text");
  EXPECT_EQ(no_paper.rc, kResultPaperOut);
  EXPECT_EQ(no_paper.count, 0);
}

TEST_F(IoChannelTest, WriteAtOnceHandsOverWhatThePrinterTakesNowAndRecordsNothing) {
  struct row {
    const char* fault;
    std::size_t taken;
  };
  const row rows[] = {
      {"", 10}, {"short_write=3", 3}, {"busy", 0}, {"slow=100", 0}, {"disconnect", 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.fault);
    const std::string fault = r.fault;
    // The disconnection comes once the channel is open.
    const std::string uri = fresh_sim("at-once", fault.empty() || fault == "disconnect" ? "" : "?fault=" + fault);
    set_port("ATONCE", uri, "VX40");
    channel io = connect("ATONCE");
    ASSERT_TRUE(io);
    const auto writer = platform::com_ptr<platform::dispatch>(io.get()).as<monitor::immediate_writer>();
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->write_at_once("0123456789"), 0u) << "the channel is not open";
    ASSERT_EQ(io.open(), 0) << io.last_error().description;
    if (fault == "disconnect") monitor::sim_printer(uri)->inject_fault(vprinter::fault::disconnect);
    EXPECT_EQ(writer->write_at_once("0123456789"), r.taken);
    EXPECT_EQ(monitor::sim_printer(uri)->capture(), std::string("0123456789").substr(0, r.taken));
    EXPECT_EQ(io.last_error().number, 0) << io.last_error().description;
    // The next write finds out what kept the bytes back.
    if (fault == "disconnect") {
      EXPECT_EQ(io.write("more").rc, kResultOffline);
    }
  }
}

TEST_F(IoChannelTest, OfflineFlagFollowsThePrinter) {
  struct row {
    const char* fault;
    std::int32_t offline;
  };
  for (const row& r : {row{"", 0}, row{"paper_near_end", 0}, row{"busy", 0}, row{"offline", 1},
                       row{"cover_open", 1}, row{"paper_out", 1}, row{"mute", 1}}) {
    SCOPED_TRACE(r.fault);
    const std::string uri = fresh_sim("offline", *r.fault ? std::string("?fault=") + r.fault : "");
    channel io = open_sim("P", uri);
    ASSERT_EQ(io.put("ReadTimeOut", 100), platform::kSOk);
    EXPECT_EQ(io.get_long("Offline"), r.offline);
  }
}

TEST_F(IoChannelTest, PrinterStateUnderFaults) {
  struct row {
    const char* faults;
    std::int32_t mode;
    std::int32_t rc;
    std::int32_t state;
    std::string requests;  // what the printer received
  };
  const std::string eot1 = "10 04 01";
  const std::string eot2 = " 10 04 02";
  const std::string eot3 = " 10 04 03";
  const std::string eot4 = " 10 04 04";
  const row rows[] = {
      {"", 0, 0, monitor::kStateReady, eot1},
      {"", 1, 0, monitor::kStateReady, eot1 + eot4},
      {"paper_near_end", 0, 0, monitor::kStateReady, eot1},
      {"paper_near_end", 1, 0, monitor::kStateNearEnd, eot1 + eot4},
      {"cover_open", 0, 0, monitor::kStateCoverOpen, eot1 + eot2},
      {"paper_out", 0, 0, monitor::kStatePaperEndStop, eot1 + eot2},
      {"paper_out", 1, 0, monitor::kStatePaperOut, eot1 + eot2 + eot4},
      {"cutter_error", 0, 0, monitor::kStateError, eot1 + eot2 + eot3},
      {"offline", 1, 0, monitor::kStateUnknownOffline, eot1 + eot2},
      {"cover_open,paper_out", 1, 0, monitor::kStateCoverOpen, eot1 + eot2},
      {"mute", 0, kResultTimeout, monitor::kStateUnknownOffline, eot1},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.faults) + " mode " + std::to_string(r.mode));
    const std::string uri = fresh_sim("state", *r.faults ? std::string("?fault=") + r.faults : "");
    channel io = open_sim("P", uri);
    ASSERT_EQ(io.put("ReadTimeOut", 100), platform::kSOk);
    const auto [rc, state] = io.state(r.mode);
    EXPECT_EQ(rc, r.rc);
    EXPECT_EQ(state, r.state);
    EXPECT_EQ(hex(monitor::sim_printer(uri)->capture()), r.requests);
  }

  channel io = open_sim("P", fresh_sim("state-mode"));
  EXPECT_EQ(io.state(2).first, kInvalidArg);
}

TEST_F(IoChannelTest, SerialLineCarriesBytesBothWays) {
  socat_pty_pair pair(dir_.path());
  if (!pair.skip_reason().empty()) GTEST_SKIP() << pair.skip_reason();
  ASSERT_TRUE(pair.ready());
  set_port("COM3", "serial:" + pair.a().string() + "?baud=9600");
  serial_end printer(pair.b());
  ASSERT_GE(printer.fd(), 0);

  channel server = make_monitor();
  EXPECT_EQ(connection_status(server, "VX40", "COM3"), 0);
  channel io = connect("COM3");
  ASSERT_TRUE(io);
  ASSERT_EQ(io.open(), 0) << io.last_error().description;
  ASSERT_EQ(io.write(bytes({0x1D, 0x49, 0x31})).rc, 0);
  EXPECT_EQ(hex(printer.receive(3)), "1D 49 31");
  ASSERT_TRUE(printer.send(bytes({0x20})));
  const io_outcome id = io.read(1);
  EXPECT_EQ(id.rc, 0);
  EXPECT_EQ(hex(id.data), "20");
}

TEST_F(IoChannelTest, TcpLinkToTheVirtualPrinterDaemon) {
#ifndef VPRINTER_DAEMON_PATH
  GTEST_SKIP() << "the virtual printer daemon is not built";
#else
  if (::access(VPRINTER_DAEMON_PATH, X_OK) != 0) GTEST_SKIP() << "the virtual printer daemon is not built";
  const std::filesystem::path capture = dir_ / "daemon.bin";
  scoped_process daemon({VPRINTER_DAEMON_PATH, "--listen", "127.0.0.1:0", "--capture", capture.string()},
                        dir_ / "daemon.log", true);
  ASSERT_TRUE(daemon.started());
  const std::string line = daemon.first_line(5000);
  const std::size_t colon = line.rfind(':');
  ASSERT_NE(colon, std::string::npos) << "the daemon said: " << line;
  set_port("NET", "socket://127.0.0.1:" + line.substr(colon + 1), "VX40");

  channel server = make_monitor();
  EXPECT_EQ(connection_status(server, "VX40", "NET"), 0);
  channel io = connect("NET");
  ASSERT_TRUE(io);
  ASSERT_EQ(io.open(), 0) << io.last_error().description;
  EXPECT_EQ(io.write(bytes({0x1B, 0x40})).rc, 0);
  EXPECT_EQ(io.write(bytes({0x1D, 0x49, 0x31})).rc, 0);
  const io_outcome id = io.read(1);
  EXPECT_EQ(id.rc, 0);
  EXPECT_EQ(hex(id.data), "20");
  const auto [rc, state] = io.state(1);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(state, monitor::kStateReady);
  EXPECT_EQ(io.close(), 0);

  // The daemon records what it received; wait (bounded) for the last bytes to land.
  std::string received;
  const auto end = steady_clock::now() + milliseconds(2000);
  while (steady_clock::now() < end) {
    std::ifstream in(capture, std::ios::binary);
    received.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (received.size() >= 11) break;
    std::this_thread::sleep_for(milliseconds(20));
  }
  EXPECT_EQ(hex(received), "1B 40 1D 49 31 10 04 01 10 04 04");
#endif
}

}  // namespace
}  // namespace monitor_test
