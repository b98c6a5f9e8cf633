// The printer's status answers as paper status codes, including answers the virtual printer
// never gives (it holds GS r 1 while it is off line for want of paper, as a real printer does).
#include "printer/status_bytes.h"

#include <gtest/gtest.h>

namespace devsvc {
namespace {

TEST(StatusBytesTest, AnswerToGsR1) {
  struct Case {
    std::uint8_t answer;
    std::uint8_t status;
  };
  const Case cases[] = {
      {0x00, kPaperOk},
      {0x01, kPaperOk},       // one near-end sensor is not enough
      {0x03, kPaperNearEnd},
      {0x04, kPaperOk},       // one paper-end sensor is not enough
      {0x0C, kPaperEnd},
      {0x0F, kPaperNearEnd},  // both sets of bits: reported as near end, not paper end
      {0x0E, kPaperEnd},
      {0xF0, kPaperOk},
  };
  for (const Case& c : cases) EXPECT_EQ(paper_status_of(c.answer), c.status) << int{c.answer};
}

TEST(StatusBytesTest, CauseOfAnOfflinePrinter) {
  struct Case {
    const char* what;
    std::uint8_t a;  // DLE EOT 2
    std::uint8_t b;  // DLE EOT 4
    std::uint8_t status;
  };
  const Case cases[] = {
      {"no cause", 0x12, 0x12, kPaperOffline},
      {"cover open", 0x16, 0x12, kPaperCoverOpen},
      {"cover open wins over paper end", 0x36, 0x7E, kPaperCoverOpen},
      {"paper end", 0x32, 0x7E, kPaperEnd},
      {"one paper-end sensor", 0x12, 0x32, kPaperOffline},
      {"near end", 0x12, 0x1E, kPaperNearEnd},
      {"paper end wins over an error", 0x52, 0x72, kPaperEnd},
      {"printer error", 0x52, 0x12, kPaperPrinterError},
  };
  for (const Case& c : cases) EXPECT_EQ(offline_cause_of(c.a, c.b), c.status) << c.what;
}

}  // namespace
}  // namespace devsvc
