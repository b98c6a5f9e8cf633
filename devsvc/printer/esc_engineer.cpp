// The printer's command table and the commands built from it.
#include "printer/esc_engineer.h"

#include "printer/units.h"

namespace devsvc {

using namespace std::string_view_literals;

// Indexed by command number; the rows' byte strings may hold 0x00, so each is a sized literal.
constexpr std::array<esc_command_row, 52> ESCEngineer::kCommands = {{
    {"\x1B\x4D\x30"sv, "ESC M 0, font A"},
    {"\x1B\x4D\x31"sv, "ESC M 1, font B"},
    {"\x1B\x52"sv, "ESC R, international character set"},
    {"\x1B\x74"sv, "ESC t, code page"},
    {"\x1B\x2D\x30"sv, "ESC - 0, underline off"},
    {"\x1B\x2D\x31"sv, "ESC - 1, underline one dot"},
    {"\x1B\x2D\x32"sv, "ESC - 2, underline two dots"},
    {"\x1B\x47\x01"sv, "ESC G 1, double strike on"},
    {"\x1B\x47\x00"sv, "ESC G 0, double strike off"},
    {"\x1B\x61\x30"sv, "ESC a 0, align left"},
    {"\x1B\x61\x31"sv, "ESC a 1, centre"},
    {"\x1B\x61\x32"sv, "ESC a 2, align right"},
    {"\x10\x04\x01"sv, "DLE EOT 1, printer status"},
    {"\x10\x04\x02"sv, "DLE EOT 2, off-line status"},
    {"\x10\x04\x04"sv, "DLE EOT 4, paper sensor status"},
    {"\x10\x05\x02"sv, "DLE ENQ 2, recover and clear buffers"},
    {"\x1B\x40"sv, "ESC @, initialise"},
    {"\x1B\x63\x33\x0F"sv, "ESC c 3 15, paper-end signals from all sensors"},
    {"\x1D\x56\x42\x0F"sv, "GS V 66 15, feed and cut"},
    {"\x1D\x21"sv, "GS !, character size"},
    {"\x1B\x56\x31"sv, "ESC V 1, 90 degree rotation on"},
    {"\x1B\x56\x30"sv, "ESC V 0, rotation off"},
    {"\x1B\x7B\x01"sv, "ESC { 1, upside-down on"},
    {"\x1B\x7B\x00"sv, "ESC { 0, upside-down off"},
    {"\x1B\x33\x00"sv, "ESC 3 n, line spacing"},
    {"\x1D\x28\x41\x02\x00\x31\x33"sv, "GS ( A, test print"},
    {"\x1D\x76\x30"sv, "GS v 0, raster image"},
    {"\x1D\x42\x01"sv, "GS B 1, reverse on"},
    {"\x1D\x42\x00"sv, "GS B 0, reverse off"},
    {"\x1B\x4A"sv, "ESC J, print and feed"},
    {"\x1C\x71"sv, "FS q, define stored images"},
    {"\x1C\x70"sv, "FS p, print stored image"},
    {"\x1B\x5C"sv, "ESC \\, relative position"},
    {"\x1D\x68"sv, "GS h, bar code height"},
    {"\x1D\x77"sv, "GS w, bar code module width"},
    {"\x1D\x6B"sv, "GS k, print bar code"},
    {"\x1D\x48"sv, "GS H, bar code text position"},
    {"\x1B\x4C"sv, "ESC L, page mode"},
    {"\x1B\x57"sv, "ESC W, page mode print area"},
    {"\x1B\x54"sv, "ESC T, page mode direction"},
    {"\x1D\x50"sv, "GS P, motion units"},
    {"\x1D\x5C"sv, "GS \\, relative vertical position"},
    {"\x13\x1D\x56"sv, "prefix of the feed-and-cut sequence"},
    {"\x1B\x63\x33\x00"sv, "ESC c 3 0, no paper-end signals"},
    // The two-colour model's commands.
    {"\x1D\x28\x4E\x02\x00\x30\x32"sv, "GS ( N, character colour 2 (red)"},
    {"\x1D\x28\x4E\x02\x00\x30\x31"sv, "GS ( N, character colour 1 (black)"},
    {"\x1D\x28\x4C\x06\x00\x30\x45"sv, "GS ( L function 69, print stored graphics (key codes and scale appended)"},
    {"\x1D\x28\x4C\x02\x00\x30\x32"sv, "GS ( L function 50, print the graphics buffer"},
    {"\x1D\x28\x4C\x04\x00\x30\x40\x4B\x43"sv, "GS ( L function 64, transmit the key code list"},
    {"\x1D\x28\x4C\x04\x00\x30\x42"sv, "GS ( L function 66, delete stored graphics (key codes appended)"},
    {"\x1D\x38\x4C"sv, "GS 8 L, graphics command with a four-byte length"},
    {"\x1D\x49\x01"sv, "GS I 1, identity (answered once everything before it is processed)"},
}};

std::string_view ESCEngineer::command(int number) {
  if (number < 0 || static_cast<std::size_t>(number) >= kCommands.size()) return {};
  return kCommands[static_cast<std::size_t>(number)].bytes;
}

std::string ESCEngineer::command_with(int number, std::string_view parameters) {
  std::string out(command(number));
  out += parameters;
  return out;
}

std::string ESCEngineer::command_with(int number, std::uint8_t parameter) {
  std::string out(command(number));
  out += static_cast<char>(parameter);
  return out;
}

std::string ESCEngineer::line_spacing(std::uint8_t n) {
  std::string out(command(kLineSpacing));
  out[2] = static_cast<char>(n);
  return out;
}

std::string ESCEngineer::line_feed(std::int32_t dots, std::int32_t line_spacing_dots,
                                   double dot_size, double v_motion_unit) {
  std::string out;
  const std::string_view feed = command(kPrintAndFeed);
  const std::int64_t units = dots_to_motion_units(dots, dot_size, v_motion_unit);
  if (units < 0) return out;
  const std::int64_t commands = (units + 255) / 256;
  // The feed is shortened by one line spacing for every ESC J command it takes.
  const double spacing_units =
      commands > 0 ? static_cast<double>(commands) * line_spacing_dots * dot_size / v_motion_unit : 0.0;
  std::int64_t rest = units - truncate_to_int32(spacing_units);
  if (rest < 0) return out;
  if (rest == 0) {
    // ESC J 0 still prints the pending line; without it the line would run into the next one.
    out += feed;
    out += '\0';
    return out;
  }
  out.reserve(static_cast<std::size_t>((rest + 254) / 255) * (feed.size() + 1));
  for (; rest > 255; rest -= 255) {
    out += feed;
    out += '\xFF';
  }
  out += feed;
  out += static_cast<char>(static_cast<unsigned char>(rest));
  return out;
}

}  // namespace devsvc
