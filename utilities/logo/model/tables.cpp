// The choices that depend on the printer (paper widths, colour modes, storage family), the file
// name rule and the keys of new logos.
#include <algorithm>
#include <cstdio>

#include "logo/picture.h"

namespace logo {
namespace {

struct width_row {
  int id;
  paper_width width;
};

// Paper widths by identification byte, in list order.
constexpr width_row kWidths[] = {
    {10, {"76 mm", 400}},   {161, {"76 mm", 400}},  {36, {"82.5 mm", 426}}, {36, {"76 mm", 400}},
    {36, {"70 mm", 360}},   {32, {"80 mm", 560}},   {32, {"60 mm", 417}},   {32, {"58 mm", 390}},
    {46, {"80 mm", 560}},   {46, {"60 mm", 417}},   {46, {"58 mm", 390}},
};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::vector<paper_width> paper_widths(int id) {
  std::vector<paper_width> out;
  for (const width_row& row : kWidths) {
    if (row.id == id) out.push_back(row.width);
  }
  return out;
}

std::vector<colour_mode> colour_modes(int id) {
  std::vector<colour_mode> out{{"Black & white", kModeBlackWhite}};
  if (id == 46) out.push_back({"Two colors", kModeTwoColors});
  if (id == 36) out.push_back({"Color", kModeColor});
  return out;
}

bool is_nv_graphics_family(int id) { return id == 46 || id == 36 || id == 161; }
bool is_bit_image_family(int id) { return id == 32 || id == 10; }

bool is_bmp_file_name(std::string_view file) {
  const std::size_t dot = file.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string extension(file.substr(dot));
  std::transform(extension.begin(), extension.end(), extension.begin(), lower);
  return extension == ".bmp";
}

std::string invalid_file_text(std::string_view file) {
  return "The selected file " + std::string(file) + " is not valid.\r\nPlease select a valid BMP file.";
}

std::string not_loaded_text(std::string_view file) {
  return "Raise error on load the current picture.\r\nThe new logo <" + std::string(file) + "> is not loaded.";
}

std::string next_key(std::span<const std::string> visible_keys) {
  unsigned value = 0;
  auto format = [](unsigned v) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X", v);
    return std::string(text);
  };
  std::string candidate = format(value);
  // Each hit moves the candidate on and starts the scan again from the first entry.
  for (std::size_t i = 0; i < visible_keys.size();) {
    if (visible_keys[i] == candidate) {
      candidate = format(++value);
      i = 0;
    } else {
      ++i;
    }
  }
  return candidate;
}

std::string new_state(std::string_view key) { return "New(" + std::string(key) + ")"; }
std::string stored_state(std::string_view key) { return "Logo(" + std::string(key) + ")"; }

}  // namespace logo
