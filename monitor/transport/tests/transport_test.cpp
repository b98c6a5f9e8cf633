// Transports by scheme, and the exact and answer reads on top of any transport.
#include <gtest/gtest.h>

#include <deque>
#include <utility>
#include <vector>

#include "monitor/transport.h"

namespace monitor {
namespace {

// A transport whose reads hand out scripted pieces, one per read call, and report a time-out
// (or the scripted failure) when the script has run out.
class scripted_transport final : public transport {
 public:
  struct piece {
    std::int32_t result;
    std::string bytes;
  };

  explicit scripted_transport(device_uri uri, std::deque<piece> pieces = {})
      : transport(std::move(uri)), pieces_(std::move(pieces)) {}

  std::int32_t open(int) override {
    open_ = true;
    return kResultOk;
  }
  write_result write(std::string_view bytes, int) override { return {kResultOk, bytes.size()}; }
  read_result read(std::size_t max, int timeout_ms) override {
    asked_.emplace_back(max, timeout_ms);
    if (pieces_.empty()) return {fail(kResultTimeout, 0, "nothing more"), {}};
    piece& next = pieces_.front();
    if (next.result != kResultOk) {
      const std::int32_t result = next.result;
      pieces_.pop_front();
      return {fail(result, 0, "scripted failure"), {}};
    }
    read_result out{kResultOk, next.bytes.substr(0, max)};
    next.bytes.erase(0, max);
    if (next.bytes.empty()) pieces_.pop_front();
    return out;
  }
  void close() override { open_ = false; }
  bool is_open() const override { return open_; }

  // (max, timeout_ms) of every read call, in order.
  const std::vector<std::pair<std::size_t, int>>& asked() const { return asked_; }

 private:
  std::deque<piece> pieces_;
  std::vector<std::pair<std::size_t, int>> asked_;
  bool open_ = false;
};

device_uri test_uri() { return *parse_device_uri("file:/nowhere").uri; }

TEST(TransportReadExactTest, CollectsPiecesUntilTheCountIsReached) {
  struct exact_case {
    const char* what;
    std::deque<scripted_transport::piece> pieces;
    std::size_t count;
    std::int32_t result;
    std::string bytes;
  };
  const std::vector<exact_case> cases = {
      {"one piece", {{kResultOk, "abcd"}}, 4, kResultOk, "abcd"},
      {"pieces joined", {{kResultOk, "ab"}, {kResultOk, "c"}, {kResultOk, "d"}}, 4, kResultOk,
       "abcd"},
      {"never more than asked", {{kResultOk, "abcdef"}}, 4, kResultOk, "abcd"},
      {"time-out keeps what came", {{kResultOk, "ab"}}, 4, kResultTimeout, "ab"},
      {"nothing at all", {}, 1, kResultTimeout, ""},
      {"link lost part way", {{kResultOk, "a"}, {kResultOffline, ""}}, 3, kResultOffline, "a"},
      {"zero bytes asks nothing", {}, 0, kResultOk, ""},
  };
  for (const exact_case& c : cases) {
    SCOPED_TRACE(c.what);
    scripted_transport t(test_uri(), c.pieces);
    const read_result got = read_exact(t, c.count, 1000);
    EXPECT_EQ(got.result, c.result);
    EXPECT_EQ(got.bytes, c.bytes);
    // Each read asks for at most the rest, within what is left of the time-out.
    for (const auto& [max, timeout_ms] : t.asked()) {
      EXPECT_LE(max, c.count);
      EXPECT_GE(timeout_ms, 0);
      EXPECT_LE(timeout_ms, 1000);
    }
  }
}

TEST(TransportReadAnswerTest, JoinsPiecesUntilAQuietGap) {
  scripted_transport t(test_uri(), {{kResultOk, "ab"}, {kResultOk, "cd"}});
  const read_result got = read_answer(t, 100, 1500, 40);
  EXPECT_EQ(got.result, kResultOk);
  EXPECT_EQ(got.bytes, "abcd");
  // The first read waits the whole time-out, the later ones only the gap.
  ASSERT_EQ(t.asked().size(), 3u);
  EXPECT_EQ(t.asked()[0], std::make_pair(std::size_t{100}, 1500));
  EXPECT_EQ(t.asked()[1], std::make_pair(std::size_t{98}, 40));
  EXPECT_EQ(t.asked()[2], std::make_pair(std::size_t{96}, 40));
}

TEST(TransportReadAnswerTest, ReportsNoAnswerLimitsAndFailures) {
  scripted_transport silent(test_uri());
  EXPECT_EQ(read_answer(silent, 10, 100).result, kResultTimeout);

  scripted_transport long_answer(test_uri(), {{kResultOk, "abc"}, {kResultOk, "defgh"}});
  const read_result limited = read_answer(long_answer, 5, 100);
  EXPECT_EQ(limited.result, kResultOk);
  EXPECT_EQ(limited.bytes, "abcde");

  scripted_transport dropped(test_uri(), {{kResultOk, "ab"}, {kResultOffline, ""}});
  const read_result lost = read_answer(dropped, 10, 100);
  EXPECT_EQ(lost.result, kResultOffline);
  EXPECT_EQ(lost.bytes, "ab");
}

TEST(TransportRegistryTest, PluggedInSchemeGetsItsUriAndCanBeRemoved) {
  std::string error;
  EXPECT_EQ(make_transport("sim:?model=VX40", &error), nullptr);
  EXPECT_NE(error.find("no transport is registered for 'sim:'"), std::string::npos) << error;

  device_uri seen;
  register_transport("sim", [&seen](const device_uri& uri) {
    seen = uri;
    return std::make_unique<scripted_transport>(uri);
  });
  std::unique_ptr<transport> made = make_transport("sim:?model=VX40", &error);
  register_transport("sim", nullptr);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(seen.options.at("model"), "VX40");
  EXPECT_EQ(made->uri(), seen);
  EXPECT_FALSE(made->is_open());
  EXPECT_EQ(make_transport("sim:", &error), nullptr);
}

TEST(TransportRegistryTest, BuiltInSchemesAndBadTextReportClearly) {
  for (const char* text : {"socket://127.0.0.1", "serial:/dev/ttyS0", "usblp:/dev/usb/lp0",
                           "parallel:/dev/lp0", "file:/tmp/x"}) {
    SCOPED_TRACE(text);
    std::string error;
    std::unique_ptr<transport> made = make_transport(text, &error);
    ASSERT_NE(made, nullptr) << error;
    EXPECT_FALSE(made->is_open());  // made, not opened: no device is touched
  }
  std::string error;
  EXPECT_EQ(make_transport("socket://", &error), nullptr);
  EXPECT_NE(error.find("host is missing"), std::string::npos) << error;
}

TEST(TransportRegistryTest, OperationsOnAClosedTransportFailWithARecord) {
  std::unique_ptr<transport> made = make_transport("file:/tmp/never-opened");
  ASSERT_NE(made, nullptr);
  const write_result written = made->write("x", 10);
  EXPECT_EQ(written.result, kResultFailed);
  EXPECT_EQ(written.count, 0u);
  EXPECT_EQ(made->read(1, 10).result, kResultFailed);
  EXPECT_EQ(made->last_error().number, kResultFailed);
  EXPECT_EQ(made->last_error().source, "file:/tmp/never-opened");
  EXPECT_NE(made->last_error().description.find("not open"), std::string::npos);
}

}  // namespace
}  // namespace monitor
