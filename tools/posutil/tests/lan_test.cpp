// posutil lan: its command line, and a technician's session against simulated modules in a
// private network namespace.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "lan_fixture.h"
#include "netsetup/netsetup_model.h"
#include "posutil.h"

namespace {

using netcfg::testing::module_n;

struct result {
  int status;
  std::string out;
  std::string err;
};

result run(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = posutil::run(args, out, err);
  return {status, out.str(), err.str()};
}

TEST(PosutilLan, BadCommandLinesExitWith2AndOneLine) {
  const std::vector<std::string> cases[] = {
      {"lan"},
      {"lan", "frobnicate"},
      {"lan", "search", "--adapter"},
      {"lan", "search", "--adapter", "x"},
      {"lan", "search", "--bogus"},
      {"lan", "name", "10.0.0.20"},
      {"lan", "name", "10.0.0", "NAME"},
      {"lan", "configure", "10.0.0.20"},
      {"lan", "configure", "10.0.0.20", "--mask", "255.255.0.1"},
      {"lan", "set-ip", "00-80-A3-00-12-34", "10.0.0.256"},
      {"lan", "ping"},
      {"lan", "ping", "1.2.3"},
      {"lan", "test-page", "10.0.0.20", "--port", "70000"},
      {"lan", "test-page", "10.0.0.20", "--port=70000"},
      {"lan", "search", "--adapter=x"},
      {"lan", "search", "--json=yes"},
      {"lan", "configure", "10.0.0.20", "--mask=255.255.0.1"},
      {"lan", "set-ip", "00-80-A3-00-12-34", "10.0.0.21", "--adapter="},
  };
  for (const auto& args : cases) {
    const result r = run(args);
    EXPECT_EQ(r.status, posutil::kExitUsage) << testing::PrintToString(args);
    EXPECT_EQ(r.err.rfind("posutil: lan", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  for (const std::vector<std::string>& args : {std::vector<std::string>{"lan", "--help"},
                                               std::vector<std::string>{"lan", "search", "--help"},
                                               std::vector<std::string>{"lan", "configure", "10.0.0.20", "-h"}}) {
    const result help = run(args);
    EXPECT_EQ(help.status, posutil::kExitOk) << testing::PrintToString(args);
    EXPECT_NE(help.out.find("set-ip MAC NEWIP"), std::string::npos) << testing::PrintToString(args);
  }
  // The wording of an option the job does not know, and of a missing value.
  EXPECT_EQ(run({"lan", "search", "--bogus"}).err, "posutil: lan: unknown option --bogus\n");
  EXPECT_EQ(run({"lan", "search", "--adapter"}).err, "posutil: lan: --adapter needs a value\n");
  EXPECT_EQ(run({"lan", "test-page", "10.0.0.20", "--port=70000"}).err,
            "posutil: lan test-page: --port needs a number from 1 to 65535\n");
}

using PosutilLanSession = netcfg::testing::lan_test;

TEST_F(PosutilLanSession, SearchNameConfigureTestPageAndMove) {
  add(module_n(1, false, "BAR"));
  add(module_n(2, true));
  start();
  const std::string adapter = std::to_string(lan0_index());

  result r = run({"lan", "search", "--adapter", adapter});
  ASSERT_EQ(r.status, posutil::kExitOk) << r.err;
  EXPECT_NE(r.out.find("\t10.0.0.20\t00-80-A3-00-12-34\tBAR\tINITIALIZED\t10001\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\t10.0.0.21\t00-80-A3-00-12-35\t\tNOT INITIALIZED\t10001\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("WiPort "), std::string::npos) << r.out;

  r = run({"lan", "name", "10.0.0.21", "TERRACE"});
  ASSERT_EQ(r.status, posutil::kExitOk) << r.err;
  EXPECT_EQ(sim_->module(1).config.name, "TERRACE");
  r = run({"lan", "name", "10.0.0.21", std::string(30, 'L')});
  EXPECT_EQ(r.status, posutil::kExitUsage);
  EXPECT_EQ(r.err, "posutil: lan name: The printer name must be at most 24 characters !\n");

  r = run({"lan", "configure", "10.0.0.21", "--port", "9100", "--mask", "255.255.0.0", "--gateway", "10.0.0.254"});
  ASSERT_EQ(r.status, posutil::kExitOk) << r.err;
  EXPECT_EQ(r.out, "Switch off/on the printer to make the new TCP port value active.\n");
  const auto network = sim_->module(1).records[0];
  EXPECT_EQ(network[6], 16);
  EXPECT_EQ(network[20], 9100 & 0xFF);
  EXPECT_EQ(network[21], 9100 >> 8);
  EXPECT_EQ(network[15], 254);
  r = run({"lan", "configure", "10.0.0.21", "--port", "30718"});
  EXPECT_EQ(r.status, posutil::kExitUsage);
  EXPECT_EQ(r.err, "posutil: lan configure: This Port Number is reserved !\n");

  r = run({"lan", "test-page", "10.0.0.21"});
  ASSERT_EQ(r.status, posutil::kExitOk) << r.err;
  const std::string page = netsetup::test_page_bytes("10.0.0.21", "", "9100", "TERRACE");
  for (int i = 0; i < 400 && sim_->module(1).printed.size() < page.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(sim_->module(1).printed, page);

  r = run({"lan", "ping", "10.0.0.21"});
  EXPECT_EQ(r.status, posutil::kExitOk);
  EXPECT_EQ(r.out, "ip success\n");
  r = run({"lan", "set-ip", "00-80-a3-00-12-35", "10.0.0.20", "--adapter", adapter});
  EXPECT_EQ(r.status, posutil::kExitFailure);
  EXPECT_EQ(r.err, "posutil: lan set-ip: IP address in use !\n");
  r = run({"lan", "set-ip", "00-80-a3-00-12-35", "10.0.0.150", "--adapter", adapter});
  ASSERT_EQ(r.status, posutil::kExitOk) << r.err;
  EXPECT_EQ(sim_->module(1).config.ip, "10.0.0.150");

  r = run({"lan", "search", "--adapter", adapter, "--json"});
  ASSERT_EQ(r.status, posutil::kExitOk) << r.err;
  EXPECT_NE(r.out.find("\"ip\": \"10.0.0.150\", \"mac\": \"00-80-A3-00-12-35\", \"name\": \"TERRACE\", "
                       "\"status\": \"INITIALIZED\", \"wireless\": true, \"port\": 9100, \"port_known\": true}"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.front(), '[');
}

TEST_F(PosutilLanSession, NothingFoundAndASilentAddressFailWithTheirReason) {
  start();
  result r = run({"lan", "search", "--adapter", std::to_string(lan0_index())});
  EXPECT_EQ(r.status, posutil::kExitFailure);
  EXPECT_EQ(r.err, "posutil: lan search: OLP_PRINTERS_NOT_FOUND\n");
  r = run({"lan", "name", "10.0.0.99", "X"});
  EXPECT_EQ(r.status, posutil::kExitFailure);
  EXPECT_EQ(r.err, "posutil: lan name: no answer from 10.0.0.99 (OLP_QUERY_RECORD_ERROR)\n");
}

}  // namespace
