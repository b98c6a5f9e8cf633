// Status bytes from conditions: fixed bits and one bit group per condition.
#include "status.h"

#include <gtest/gtest.h>

namespace vprinter::detail {
namespace {

struct status_case {
  const char* name;
  condition c;
  status_kind kind;
  std::uint8_t expected;
};

condition with(bool condition::*field) {
  condition c;
  c.*field = true;
  return c;
}

TEST(VprinterStatusByte, EachConditionSetsItsBits) {
  const status_case cases[] = {
      {"printer status, all well", {}, status_kind::printer, 0x12},
      {"printer status, drawer pin high", with(&condition::drawer_pin_high), status_kind::printer, 0x16},
      {"printer status, off line", with(&condition::offline), status_kind::printer, 0x1A},
      {"off-line cause, all well", {}, status_kind::offline_cause, 0x12},
      {"off-line cause, cover open", with(&condition::cover_open), status_kind::offline_cause, 0x16},
      {"off-line cause, feed button", with(&condition::feeding), status_kind::offline_cause, 0x1A},
      {"off-line cause, paper end", with(&condition::paper_out), status_kind::offline_cause, 0x32},
      {"off-line cause, error", with(&condition::cutter_error), status_kind::offline_cause, 0x52},
      {"error cause, cutter", with(&condition::cutter_error), status_kind::error_cause, 0x1A},
      {"error cause, unrecoverable", with(&condition::unrecoverable), status_kind::error_cause, 0x32},
      {"error cause, auto-recoverable", with(&condition::auto_recoverable), status_kind::error_cause, 0x52},
      {"paper sensor, near end", with(&condition::near_end), status_kind::paper_sensor, 0x1E},
      {"paper sensor, paper out", with(&condition::paper_out), status_kind::paper_sensor, 0x72},
      {"GS r 1, all well", {}, status_kind::paper_gs_r, 0x00},
      {"GS r 1, near end", with(&condition::near_end), status_kind::paper_gs_r, 0x03},
      {"GS r 1, paper out", with(&condition::paper_out), status_kind::paper_gs_r, 0x0C},
      {"GS r 2, drawer pin low", {}, status_kind::drawer_gs_r, 0x00},
      {"GS r 2, drawer pin high", with(&condition::drawer_pin_high), status_kind::drawer_gs_r, 0x01},
  };
  for (const auto& c : cases) EXPECT_EQ(status_byte(c.kind, c.c), c.expected) << c.name;
}

TEST(VprinterStatusByte, RealTimeAnswersKeepTheirFixedBitsWhateverTheCondition) {
  condition all;
  all.drawer_pin_high = all.offline = all.cover_open = all.feeding = all.paper_out = all.near_end = true;
  all.cutter_error = all.unrecoverable = all.auto_recoverable = true;
  for (auto kind : {status_kind::printer, status_kind::offline_cause, status_kind::error_cause, status_kind::paper_sensor}) {
    for (const condition& c : {condition{}, all}) {
      const auto b = status_byte(kind, c);
      EXPECT_EQ(b & 0x93, 0x12) << "kind " << static_cast<int>(kind);
    }
  }
}

TEST(VprinterAutomaticStatus, FirstByteIsMarkedAndBitsFollowTheCondition) {
  EXPECT_EQ(automatic_status({}), (std::array<std::uint8_t, 4>{0x10, 0x00, 0x00, 0x00}));
  condition c;
  c.offline = c.cover_open = c.paper_out = c.near_end = c.cutter_error = true;
  EXPECT_EQ(automatic_status(c), (std::array<std::uint8_t, 4>{0x38, 0x08, 0x0F, 0x00}));
}

}  // namespace
}  // namespace vprinter::detail
