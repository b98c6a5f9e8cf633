// Decoding of real-time status answers into state codes: which requests are made, in which
// order, and what each combination of status bits means; and the state texts.
#include "printer_state.h"

#include <map>
#include <vector>

#include <gtest/gtest.h>

namespace monitor::server {
namespace {

constexpr std::int32_t kNoAnswer = -1;

struct state_case {
  const char* behaviour;
  std::map<int, std::int32_t> answers;  // DLE EOT n -> answer byte, or kNoAnswer
  std::int32_t mode;
  std::int32_t state;
  std::vector<int> asked;  // the requests made, in order
  std::int32_t result = kResultOk;
};

const state_case kCases[] = {
    {"on line is ready", {{1, 0x12}}, 0, kStateReady, {1}},
    {"on line with a drawer signal is ready", {{1, 0x16}}, 0, kStateReady, {1}},
    {"mode 1 also asks the roll sensor", {{1, 0x12}, {4, 0x12}}, 1, kStateReady, {1, 4}},
    {"near end in mode 1", {{1, 0x12}, {4, 0x1E}}, 1, kStateNearEnd, {1, 4}},
    {"one near-end bit is enough", {{1, 0x12}, {4, 0x16}}, 1, kStateNearEnd, {1, 4}},
    {"near end is not asked in mode 0", {{1, 0x12}, {4, 0x1E}}, 0, kStateReady, {1}},
    {"cover open", {{1, 0x1A}, {2, 0x16}}, 0, kStateCoverOpen, {1, 2}},
    {"paper fed by the button", {{1, 0x1A}, {2, 0x1A}}, 0, kStatePaperFeeding, {1, 2}},
    {"cover open wins over paper end", {{1, 0x1A}, {2, 0x36}}, 1, kStateCoverOpen, {1, 2}},
    {"recoverable error asks the cause", {{1, 0x1A}, {2, 0x52}, {3, 0x1A}}, 0, kStateError, {1, 2, 3}},
    {"auto-recoverable error", {{1, 0x1A}, {2, 0x52}, {3, 0x52}}, 0, kStateError, {1, 2, 3}},
    {"unrecoverable error", {{1, 0x1A}, {2, 0x52}, {3, 0x32}}, 0, kStateUnrecoverable, {1, 2, 3}},
    {"error wins over paper end", {{1, 0x1A}, {2, 0x72}, {3, 0x1A}}, 1, kStateError, {1, 2, 3}},
    {"paper end stops printing (mode 0)", {{1, 0x1A}, {2, 0x32}}, 0, kStatePaperEndStop, {1, 2}},
    {"paper end with an empty roll (mode 1)", {{1, 0x1A}, {2, 0x32}, {4, 0x72}}, 1, kStatePaperOut, {1, 2, 4}},
    {"paper end while the roll sensor sees paper", {{1, 0x1A}, {2, 0x32}, {4, 0x1E}}, 1, kStatePaperEndStop,
     {1, 2, 4}},
    {"off line for no named cause", {{1, 0x1A}, {2, 0x12}}, 0, kStateUnknownOffline, {1, 2}},
    {"first answer is not a status byte", {{1, 0xFF}}, 0, kStateUnknownAnswer, {1}},
    {"NUL is not a status byte", {{1, 0x00}}, 0, kStateUnknownAnswer, {1}},
    {"cause answer is not a status byte", {{1, 0x1A}, {2, 0x80}}, 0, kStateUnknownAnswer, {1, 2}},
    {"roll sensor answer is not a status byte", {{1, 0x12}, {4, 0x01}}, 1, kStateUnknownAnswer, {1, 4}},
    {"no answer at all", {{1, kNoAnswer}}, 0, kStateUnknownOffline, {1}, kResultTimeout},
    {"no answer to the cause", {{1, 0x1A}, {2, kNoAnswer}}, 0, kStateUnknownOffline, {1, 2}, kResultTimeout},
    {"no answer to the error cause", {{1, 0x1A}, {2, 0x52}, {3, kNoAnswer}}, 0, kStateUnknownOffline, {1, 2, 3},
     kResultTimeout},
};

TEST(PrinterStateTest, DecodesEachCombinationOfStatusBits) {
  for (const state_case& c : kCases) {
    SCOPED_TRACE(c.behaviour);
    std::vector<int> asked;
    const status_request ask = [&](int n) -> status_answer {
      asked.push_back(n);
      const auto found = c.answers.find(n);
      if (found == c.answers.end() || found->second == kNoAnswer) return {kResultTimeout, 0};
      return {kResultOk, static_cast<std::uint8_t>(found->second)};
    };
    const state_reading reading = read_printer_state(ask, c.mode);
    EXPECT_EQ(reading.state, c.state);
    EXPECT_EQ(reading.result, c.result);
    EXPECT_EQ(asked, c.asked);
  }
}

TEST(PrinterStateTest, FailureResultIsPassedOnUnchanged) {
  const status_request busy = [](int) { return status_answer{kResultBusy, 0}; };
  const state_reading reading = read_printer_state(busy, 1);
  EXPECT_EQ(reading.result, kResultBusy);
  EXPECT_EQ(reading.state, kStateUnknownOffline);
}

TEST(PrinterStateTest, StatusAnswersAreToldFromOtherBytes) {
  struct row {
    std::uint8_t byte;
    bool status;
  };
  for (const row r : {row{0x12, true}, row{0x7E, true}, row{0x13, false}, row{0x02, false}, row{0x10, false},
                      row{0x92, false}, row{0x20, false}}) {
    EXPECT_EQ(is_status_answer(r.byte), r.status) << int{r.byte};
  }
}

TEST(PrinterStateTest, EveryCodeHasItsText) {
  const std::map<std::int32_t, std::string_view> texts = {
      {0, "Printer ready..."},
      {1, "Cover open. Waiting..."},
      {2, "Paper is being fed..."},
      {3, "Printing is being stopped due to paper end. Waiting..."},
      {4, "Error occurred. Waiting..."},
      {5, "Unrecoverable printer error. Please check printer..."},
      {6, "Unknown offline status. Waiting..."},
      {7, "Paper is near end. Waiting..."},
      {8, "Paper out. Waiting..."},
      {9, "Unknown answer. Waiting..."},
      {10, "Unknown offline status. Waiting..."},
      {-1, "Unknown offline status. Waiting..."},
  };
  for (const auto& [code, text] : texts) EXPECT_EQ(state_text(code), text) << code;
}

}  // namespace
}  // namespace monitor::server
