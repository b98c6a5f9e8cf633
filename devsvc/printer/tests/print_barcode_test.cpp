// PrintBarCode through the service object: the bytes the printer receives, and the refusals that
// send nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/opos.h"
#include "printer/tests/printer_fixture.h"
#include "symbol_reader.h"
#include "testing/harness.h"
#include "tests/decoders.h"
#include "tests/test_util.h"

namespace devsvc {
namespace {

using test::kStatusPoll;
using test::printer_object;
using test::same_bytes;

class PrintBarCodeTest : public test::printer_fixture {};

const std::string kAlignLeft = "\x1B\x61\x30";
const std::string kAlignCentre = "\x1B\x61\x31";

TEST_F(PrintBarCodeTest, UpcaCentredWithTextBelowAndDefaultHeight) {
  printer_object p;
  p.open_claim_enable();
  EXPECT_EQ(p.call("PrintBarCode", PTR_S_RECEIPT, "012345678905", PTR_BCS_UPCA, 0, 3, PTR_BM_CENTER,
                   PTR_BC_TEXT_BELOW),
            OPOS_SUCCESS);
  const std::string symbol = "\x1D\x48\x32\x1D\x68\xA2\x1D\x77\x03\x1D\x6B\x41\x0C" "012345678905";
  EXPECT_TRUE(same_bytes(after_claim(), kAlignCentre + kStatusPoll + symbol + kStatusPoll + kAlignLeft + kStatusPoll));
  EXPECT_EQ(printer_->unknown_count(), 0u);
}

TEST_F(PrintBarCodeTest, SymbolBytesOfEachKind) {
  struct Case {
    const char* what;
    std::int32_t symbology;
    std::string data;
    std::int32_t rotate_special;
    std::string symbol;  // what follows the alignment and its poll, up to the next poll
  };
  const Case cases[] = {
      {"Code 128 in code set B", PTR_BCS_Code128, "AB12", PTR_RP_NORMAL,
       "\x1D\x48\x30\x1D\x68\x50\x1D\x77\x02\x1D\x6B\x49\x06\x7B\x42\x41\x42\x31\x32"},
      {"Code 39", PTR_BCS_Code39, "KIT-7", PTR_RP_NORMAL, "\x1D\x48\x30\x1D\x68\x50\x1D\x77\x02\x1D\x6B\x45\x05KIT-7"},
      {"upside down, switched back after the symbol", PTR_BCS_JAN13, "4901234567894", PTR_RP_ROTATE180,
       std::string("\x1B\x7B\x01\x1D\x48\x30\x1D\x68\x50\x1D\x77\x02\x1D\x6B\x43\x0D" "4901234567894\x1B\x7B\x00", 32)},
  };
  printer_object p;
  p.open_claim_enable();
  for (const Case& c : cases) {
    p.set(PIDXPtr_RotateSpecial, c.rotate_special);
    const std::size_t before = printer_->capture().size();
    EXPECT_EQ(p.call("PrintBarCode", PTR_S_RECEIPT, c.data, c.symbology, 80, 2, PTR_BM_LEFT, PTR_BC_TEXT_NONE),
              OPOS_SUCCESS)
        << c.what;
    EXPECT_TRUE(same_bytes(printer_->capture().substr(before),
                           kAlignLeft + kStatusPoll + c.symbol + kStatusPoll + kAlignLeft + kStatusPoll))
        << c.what;
  }
  EXPECT_FALSE(printer_->state().upside_down);
}

TEST_F(PrintBarCodeTest, TurnedSymbolIsPrintedInAPageAndLeavesIt) {
  printer_object p;
  p.open_claim_enable();
  p.set(PIDXPtr_RotateSpecial, PTR_RP_RIGHT90);
  const std::size_t before = printer_->capture().size();
  ASSERT_EQ(p.call("PrintBarCode", PTR_S_RECEIPT, "AB12", PTR_BCS_Code128, 80, 2, PTR_BM_LEFT, PTR_BC_TEXT_BELOW),
            OPOS_SUCCESS);
  const std::string sent = printer_->capture().substr(before + kAlignLeft.size() + kStatusPoll.size());
  EXPECT_TRUE(sent.starts_with("\x1B\x4C\x1D\x50\xB4\x68\x1B\x57")) << testing::hex(sent);
  EXPECT_NE(sent.find("\x1B\x54\x33"), std::string::npos);
  EXPECT_NE(sent.find(std::string("\x7B\x42\x41\x42\x31\x32\x0C\x1D\x50\x00\x00", 11)), std::string::npos);
  EXPECT_FALSE(printer_->state().page_mode);
  EXPECT_EQ(printer_->unknown_count(), 0u);
}

TEST_F(PrintBarCodeTest, BadParametersAndDataSendNothing) {
  struct Case {
    const char* what;
    std::int32_t station;
    std::string data;
    std::int32_t symbology;
    std::int32_t height;
    std::int32_t width;
    std::int32_t text_position;
  };
  const Case cases[] = {
      {"journal station", 1, "012345678905", PTR_BCS_UPCA, 0, 3, PTR_BC_TEXT_BELOW},
      {"ten digits", PTR_S_RECEIPT, "0123456789", PTR_BCS_UPCA, 0, 3, PTR_BC_TEXT_BELOW},
      {"a letter", PTR_S_RECEIPT, "01234567890A", PTR_BCS_UPCA, 0, 3, PTR_BC_TEXT_BELOW},
      {"symbology 105", PTR_S_RECEIPT, "012345678905", PTR_BCS_TF, 0, 3, PTR_BC_TEXT_BELOW},
      {"width 1", PTR_S_RECEIPT, "012345678905", PTR_BCS_UPCA, 0, 1, PTR_BC_TEXT_BELOW},
      {"width 7", PTR_S_RECEIPT, "012345678905", PTR_BCS_UPCA, 0, 7, PTR_BC_TEXT_BELOW},
      {"width 5 for Code 39", PTR_S_RECEIPT, "ABC", PTR_BCS_Code39, 0, 5, PTR_BC_TEXT_BELOW},
      {"height 300 dots", PTR_S_RECEIPT, "012345678905", PTR_BCS_UPCA, 300, 3, PTR_BC_TEXT_BELOW},
      {"negative height", PTR_S_RECEIPT, "012345678905", PTR_BCS_UPCA, -1, 3, PTR_BC_TEXT_BELOW},
      {"text position -10", PTR_S_RECEIPT, "012345678905", PTR_BCS_UPCA, 0, 3, -10},
      {"non-ASCII Code 128", PTR_S_RECEIPT, "caf\xC3\xA9", PTR_BCS_Code128, 0, 3, PTR_BC_TEXT_BELOW},
  };
  printer_object p;
  p.open_claim_enable();
  for (const Case& c : cases) {
    EXPECT_EQ(p.call("PrintBarCode", c.station, c.data, c.symbology, c.height, c.width, PTR_BM_CENTER,
                     c.text_position),
              OPOS_E_ILLEGAL)
        << c.what;
    EXPECT_EQ(p.result_code(), OPOS_E_ILLEGAL) << c.what;
  }
  // A binary conversion that cannot be decoded fails without being stored.
  p.set(PIDX_BinaryConversion, 1);
  EXPECT_EQ(p.call("PrintBarCode", PTR_S_RECEIPT, "303", PTR_BCS_UPCA, 0, 3, PTR_BM_CENTER, PTR_BC_TEXT_BELOW),
            OPOS_E_FAILURE);
  EXPECT_EQ(p.result_code(), OPOS_SUCCESS) << "left as the property set left it";
  EXPECT_TRUE(after_claim().empty()) << testing::hex(after_claim());
}

TEST_F(PrintBarCodeTest, AlignmentByDistanceSendsBothBytes) {
  // 40 mm from the left in 0.01 mm: 321 dots, 40 whole millimetres, 320 motion units of 0.125 mm.
  printer_object p;
  p.open_claim_enable();
  p.set(PIDXPtr_MapMode, PTR_MM_METRIC);
  ASSERT_EQ(p.call("PrintBarCode", PTR_S_RECEIPT, "AB12", PTR_BCS_Code128, 0, 2, 4000, PTR_BC_TEXT_NONE),
            OPOS_SUCCESS);
  EXPECT_TRUE(after_claim().starts_with("\x1B\x5C\x40\x01" + kStatusPoll)) << testing::hex(after_claim());
}

// What the object sends must read back from the printed paper: each symbol is decoded from the
// dots of the virtual printer's paper, across a row, or down a column when turned.
TEST_F(PrintBarCodeTest, PrintedSymbolsDecodeFromThePaper) {
  using namespace vprinter::detail;
  using vprinter::test::first_row_with_runs;
  using vprinter::test::runs_along_column;
  using vprinter::test::runs_along_row;
  printer_object p;
  p.open_claim_enable();

  auto print = [&](const std::string& data, std::int32_t symbology) {
    const int top = printer_->paper().height();
    EXPECT_EQ(p.call("PrintBarCode", PTR_S_RECEIPT, data, symbology, 0, 2, PTR_BM_CENTER, PTR_BC_TEXT_BELOW),
              OPOS_SUCCESS)
        << data;
    const vprinter::bitmap paper = printer_->paper();
    const int y = first_row_with_runs(paper, top, 20);
    return y < 0 ? std::vector<int>{} : runs_along_row(paper, y);
  };
  EXPECT_EQ(decode_ean13(to_modules(print("4006381333931", PTR_BCS_JAN13), 2)), "4006381333931");
  EXPECT_EQ(decode_ean13(to_modules(print("036000291452", PTR_BCS_UPCA), 2)), "0036000291452");
  EXPECT_EQ(decode_code39(to_narrow_wide(print("KIT-7", PTR_BCS_Code39), 2)), "*KIT-7*");
  // Code 128 values after the start character; code set B holds the characters 32 on.
  const std::vector<int> code128 = decode_code128(to_modules(print("Rx{42", PTR_BCS_Code128), 2));
  std::string text;
  for (std::size_t i = 1; i < code128.size(); ++i) text += static_cast<char>(code128[i] + 32);
  ASSERT_FALSE(code128.empty());
  EXPECT_EQ(code128.front(), 104) << "start code B";
  EXPECT_EQ(text, "Rx{42") << "a brace in the data is one character";

  // Turned right the bars run down the paper: a column through them reads the symbol.
  p.set(PIDXPtr_RotateSpecial, PTR_RP_RIGHT90);
  const int top = printer_->paper().height();
  ASSERT_EQ(p.call("PrintBarCode", PTR_S_RECEIPT, "4006381333931", PTR_BCS_JAN13, 0, 2, PTR_BM_LEFT,
                   PTR_BC_TEXT_BELOW),
            OPOS_SUCCESS);
  const vprinter::bitmap paper = printer_->paper();
  std::string turned;
  for (int x = 0; x < paper.width() && turned.empty(); x += 4) {
    std::vector<int> runs = runs_along_column(paper, x);
    if (runs.size() < 59) continue;
    // Read down from the top of this page only.
    vprinter::bitmap page(1, paper.height() - top);
    for (int y = top; y < paper.height(); ++y) page.set(0, y - top, paper.get(x, y));
    runs = runs_along_column(page, 0);
    turned = decode_ean13(to_modules(runs, 2));
    if (turned.empty()) {
      std::reverse(runs.begin(), runs.end());
      turned = decode_ean13(to_modules(runs, 2));
    }
  }
  EXPECT_EQ(turned, "4006381333931");
  // The motion units are back: a line feed afterwards moves one line, not twice that.
  const int before = printer_->paper().height();
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "x\n"), OPOS_SUCCESS);
  EXPECT_LE(printer_->paper().height() - before, 40);
  EXPECT_EQ(printer_->unknown_count(), 0u);
}

// Two-dimensional symbols: Width is the module size, Height the PDF417 row height; the data are
// sent as their bytes, UTF-8 text unchanged; each symbol must read back from the printed paper.
TEST_F(PrintBarCodeTest, TwoDimensionalSymbolsReadBackFromThePaper) {
  std::string binary;
  for (int i = 0; i < 200; ++i) binary += static_cast<char>((i * 37 + 11) & 0xFF);
  binary.replace(binary.find('\0'), 1, "<NID>");
  std::string binary_bytes = binary;
  binary_bytes.replace(binary_bytes.find("<NID>"), 5, std::string(1, '\0'));
  struct Case {
    const char* what;
    std::int32_t symbology;
    std::string data;     // as the application passes it
    std::string bytes;    // as the symbol holds it
    std::int32_t width;
    std::int32_t alignment;
    std::int32_t rotate_special;
    const char* format;
  };
  const std::string url = "https://example.com/caf\xC3\xA9?ville=Z\xC3\xBCrich&\xE6\x9D\xB1\xE4\xBA\xAC";
  const Case cases[] = {
      {"QR URL with non-ASCII text, centred", PTR_BCS_QRCODE, url, url, 4, PTR_BM_CENTER, PTR_RP_NORMAL, "QRCode"},
      {"QR at the right, module 3", PTR_BCS_QRCODE, "PAY:KORVANE:9.40", "PAY:KORVANE:9.40", 3, PTR_BM_RIGHT,
       PTR_RP_NORMAL, "QRCode"},
      {"QR upside down", PTR_BCS_QRCODE, "upside down", "upside down", 3, PTR_BM_LEFT, PTR_RP_ROTATE180, "QRCode"},
      {"QR turned right", PTR_BCS_QRCODE, "turned", "turned", 3, PTR_BM_LEFT, PTR_RP_RIGHT90, "QRCode"},
      {"QR of 120 bytes turned left, taller than a bar code", PTR_BCS_QRCODE, std::string(120, 'Q'),
       std::string(120, 'Q'), 5, PTR_BM_LEFT, PTR_RP_LEFT90, "QRCode"},
      {"PDF417 turned right", PTR_BCS_PDF417, "turned PDF417 0123456789", "turned PDF417 0123456789", 2,
       PTR_BM_LEFT, PTR_RP_RIGHT90, "PDF417"},
      {"PDF417 of 200 bytes", PTR_BCS_PDF417, binary, binary_bytes, 2, PTR_BM_CENTER, PTR_RP_NORMAL, "PDF417"},
      {"PDF417 module 3", PTR_BCS_PDF417, "Receipt 0001 9.40 EUR", "Receipt 0001 9.40 EUR", 3, PTR_BM_LEFT,
       PTR_RP_NORMAL, "PDF417"},
  };
  printer_object p;
  p.open_claim_enable();
  for (const Case& c : cases) {
    p.set(PIDXPtr_RotateSpecial, c.rotate_special);
    const int top = printer_->paper().height();
    ASSERT_EQ(p.call("PrintBarCode", PTR_S_RECEIPT, c.data, c.symbology, 0, c.width, c.alignment, PTR_BC_TEXT_NONE),
              OPOS_SUCCESS)
        << c.what;
    ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "\n"), OPOS_SUCCESS);
    const vprinter::bitmap paper = printer_->paper();
    const auto found = vprinter::test::read_symbols(paper, top);
    ASSERT_EQ(found.size(), 1u) << c.what;
    EXPECT_EQ(found[0].format, c.format) << c.what;
    EXPECT_TRUE(same_bytes(found[0].bytes, c.bytes)) << c.what;
    const int middle = (found[0].left + found[0].right) / 2;
    if (c.alignment == PTR_BM_CENTER) {
      EXPECT_NEAR(middle, paper.width() / 2, 8) << c.what;
    }
    if (c.alignment == PTR_BM_RIGHT) {
      EXPECT_GT(found[0].left, paper.width() / 2) << c.what;
    }
  }
  EXPECT_FALSE(printer_->state().upside_down);
  EXPECT_FALSE(printer_->state().page_mode);
  EXPECT_EQ(printer_->unknown_count(), 0u);
  for (const auto& e : printer_->log()) EXPECT_EQ(e.text.find("not printed"), std::string::npos) << e.text;
}

TEST_F(PrintBarCodeTest, QrCodeSequence) {
  printer_object p;
  p.open_claim_enable();
  ASSERT_EQ(p.call("PrintBarCode", PTR_S_RECEIPT, "AB", PTR_BCS_QRCODE, 0, 5, PTR_BM_LEFT, PTR_BC_TEXT_NONE),
            OPOS_SUCCESS);
  using namespace std::string_literals;
  const std::string symbol = "\x1D\x28\x6B\x04\x00\x31\x41\x32\x00"s +  // model 2
                             "\x1D\x28\x6B\x03\x00\x31\x43\x05"s +      // module 5
                             "\x1D\x28\x6B\x03\x00\x31\x45\x31"s +      // level M
                             "\x1D\x28\x6B\x05\x00\x31\x50\x30" "AB"s +  // store
                             "\x1D\x28\x6B\x03\x00\x31\x51\x30"s;       // print
  EXPECT_TRUE(same_bytes(after_claim(), kAlignLeft + kStatusPoll + symbol + kStatusPoll + kAlignLeft + kStatusPoll));
}

TEST_F(PrintBarCodeTest, TwoDimensionalRefusalsSendNothing) {
  struct Case {
    const char* what;
    std::int32_t station;
    std::string data;
    std::int32_t symbology;
    std::int32_t height;
    std::int32_t width;
    std::int32_t text_position;
  };
  const Case cases[] = {
      {"QR on the journal", 1, "x", PTR_BCS_QRCODE, 0, 3, PTR_BC_TEXT_NONE},
      {"QR without data", PTR_S_RECEIPT, "", PTR_BCS_QRCODE, 0, 3, PTR_BC_TEXT_NONE},
      {"QR module 1", PTR_S_RECEIPT, "x", PTR_BCS_QRCODE, 0, 1, PTR_BC_TEXT_NONE},
      {"QR module 17", PTR_S_RECEIPT, "x", PTR_BCS_QRCODE, 0, 17, PTR_BC_TEXT_NONE},
      {"QR too wide for the receipt", PTR_S_RECEIPT, std::string(1000, 'x'), PTR_BCS_QRCODE, 0, 8, PTR_BC_TEXT_NONE},
      {"QR more than version 40 holds", PTR_S_RECEIPT, std::string(2332, 'x'), PTR_BCS_QRCODE, 0, 2,
       PTR_BC_TEXT_NONE},
      {"QR text position -10", PTR_S_RECEIPT, "x", PTR_BCS_QRCODE, 0, 3, -10},
      {"QR height 300 dots", PTR_S_RECEIPT, "x", PTR_BCS_QRCODE, 300, 3, PTR_BC_TEXT_NONE},
      {"PDF417 module 9", PTR_S_RECEIPT, "x", PTR_BCS_PDF417, 0, 9, PTR_BC_TEXT_NONE},
      {"PDF417 more than 90 rows hold", PTR_S_RECEIPT, std::string(1200, 'x'), PTR_BCS_PDF417, 0, 4,
       PTR_BC_TEXT_NONE},
  };
  printer_object p;
  p.open_claim_enable();
  for (const Case& c : cases) {
    EXPECT_EQ(p.call("PrintBarCode", c.station, c.data, c.symbology, c.height, c.width, PTR_BM_CENTER,
                     c.text_position),
              OPOS_E_ILLEGAL)
        << c.what;
  }
  EXPECT_TRUE(after_claim().empty()) << testing::hex(after_claim());
  EXPECT_EQ(p.number(PIDXPtr_CapRecBarCode), 1) << "bar codes stay a capability of the receipt station";
}

}  // namespace
}  // namespace devsvc
