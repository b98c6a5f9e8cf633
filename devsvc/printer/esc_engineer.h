// ESCEngineer: the printer's command table (byte strings addressed by number) and the commands
// built from it with parameters, such as the line feed of a number of dots.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace devsvc {

// One row of the command table.
struct esc_command_row {
  std::string_view bytes;
  std::string_view meaning;
};

class ESCEngineer {
 public:
  // Command numbers, as the other parts of the service object address them.
  enum command_number : int {
    kFontA = 0,
    kFontB = 1,
    kInternationalSet = 2,    // parameter appended
    kCodePage = 3,            // parameter appended
    kUnderlineOff = 4,
    kUnderlineOne = 5,
    kUnderlineTwo = 6,
    kBoldOn = 7,
    kBoldOff = 8,
    kAlignLeft = 9,
    kAlignCentre = 10,
    kAlignRight = 11,
    kPrinterStatus = 12,
    kOfflineStatus = 13,
    kPaperSensorStatus = 14,
    kRecover = 15,
    kInitialize = 16,
    kPaperEndSignalsAll = 17,
    kFeedAndCut = 18,
    kCharacterSize = 19,      // parameter appended
    kRotate90On = 20,
    kRotate90Off = 21,
    kUpsideDownOn = 22,
    kUpsideDownOff = 23,
    kLineSpacing = 24,        // third byte replaced
    kTestPrint = 25,
    kRasterImage = 26,
    kReverseOn = 27,
    kReverseOff = 28,
    kPrintAndFeed = 29,       // parameter appended
    kDefineStoredImages = 30,
    kPrintStoredImage = 31,   // parameters appended
    kRelativePosition = 32,
    kBarCodeHeight = 33,
    kBarCodeWidth = 34,
    kPrintBarCode = 35,
    kBarCodeTextPosition = 36,
    kPageMode = 37,
    kPageArea = 38,
    kPageDirection = 39,
    kMotionUnits = 40,
    kRelativeVertical = 41,
    kFeedCutPrefix = 42,
    kPaperEndSignalsNone = 43,
    // The two-colour model's commands.
    kColourRed = 44,
    kColourBlack = 45,
    kPrintStoredGraphics = 46,  // key codes and scale appended
    kPrintGraphicsBuffer = 47,
    kGraphicsKeyList = 48,
    kDeleteGraphics = 49,       // key codes appended
    kGraphicsLarge = 50,        // four-byte length and parameters appended
    kProcessingEcho = 51,
  };

  static const std::array<esc_command_row, 52> kCommands;

  // The bytes of command `number`; empty outside the table.
  static std::string_view command(int number);

  // Command `number` followed by `parameters`.
  static std::string command_with(int number, std::string_view parameters);
  static std::string command_with(int number, std::uint8_t parameter);

  // ESC 3 n: line spacing of `n` motion units.
  static std::string line_spacing(std::uint8_t n);

  // Feeds `dots` dots with ESC J commands: u = truncate(dots x dotSize / VMotionUnit) motion
  // units; k = u / 256 rounded up; the feed is shortened by one line spacing per command,
  // u' = u - truncate(k x spacing x dotSize / VMotionUnit); then 1B 4A FF while more than 255
  // remain and 1B 4A with the rest. A feed of 0 (one line, or no feed at all, or no usable
  // VMotionUnit) is 1B 4A 00, which prints the pending line without feeding further; nothing
  // when u' is below 0. `line_spacing_dots` is RecLineSpacing.
  static std::string line_feed(std::int32_t dots, std::int32_t line_spacing_dots, double dot_size,
                               double v_motion_unit);
};

}  // namespace devsvc
