// Colour-table files, their palette and the dot rules that turn a converted picture into the
// printer's planes.
#include <charconv>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "logo/picture.h"
#include "platform/case_path.h"

namespace logo {
namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// The comma-separated fields of one line; a field in double quotes keeps its commas.
std::vector<std::string> fields_of(std::string_view line) {
  std::vector<std::string> fields;
  std::size_t i = 0;
  for (;;) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    std::string field;
    if (i < line.size() && line[i] == '"') {
      const std::size_t close = line.find('"', i + 1);
      field = std::string(line.substr(i + 1, close == std::string_view::npos ? std::string_view::npos : close - i - 1));
      i = close == std::string_view::npos ? line.size() : close + 1;
      const std::size_t comma = line.find(',', i);
      i = comma == std::string_view::npos ? line.size() : comma;
    } else {
      const std::size_t comma = line.find(',', i);
      field = std::string(trim(line.substr(i, comma == std::string_view::npos ? std::string_view::npos : comma - i)));
      i = comma == std::string_view::npos ? line.size() : comma;
    }
    fields.push_back(std::move(field));
    if (i >= line.size()) return fields;
    ++i;  // past the comma
  }
}

bool byte_of(const std::string& text, std::uint8_t& out) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty() || value > 255) return false;
  out = static_cast<std::uint8_t>(value);
  return true;
}

}  // namespace

std::optional<colour_table> colour_table::parse(std::string_view text, std::string& error) {
  std::vector<colour_entry> entries;
  std::size_t line_number = 0;
  while (!text.empty() && entries.size() < kMaxColourEntries) {
    const std::size_t end = text.find('\n');
    const std::string_view line = trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++line_number;
    if (line.empty()) continue;
    const std::vector<std::string> f = fields_of(line);
    colour_entry entry;
    bool ok = f.size() >= 8 && byte_of(f[1], entry.colour.r) && byte_of(f[2], entry.colour.g) &&
              byte_of(f[3], entry.colour.b);
    for (std::size_t i = 0; ok && i < 3; ++i) ok = byte_of(f[5 + i], entry.planes[i]);
    if (!ok) {
      error = "line " + std::to_string(line_number) + " is not label, R, G, B, label, plane 1, plane 2, plane 3";
      return std::nullopt;
    }
    entry.label = f[0];
    entry.plane_label = f[4];
    entries.push_back(std::move(entry));
  }
  if (entries.empty()) {
    error = "no colour entries";
    return std::nullopt;
  }
  return colour_table(std::move(entries));
}

std::optional<colour_table> colour_table::read(const std::filesystem::path& file, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "cannot open " + file.string();
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return parse(text.str(), error);
}

int colour_table::nearest_index(rgb colour) const {
  int best = -1;
  long best_distance = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const rgb& c = entries_[i].colour;
    const long dr = c.r - colour.r;
    const long dg = c.g - colour.g;
    const long db = c.b - colour.b;
    const long distance = dr * dr + dg * dg + db * db;
    if (best < 0 || distance < best_distance) {
      best = static_cast<int>(i);
      best_distance = distance;
    }
  }
  return best;
}

std::filesystem::path colour_table_path(const std::filesystem::path& app_path, std::string_view name) {
  return platform::resolve_case_insensitive(app_path / std::filesystem::path(std::string(name)));
}

bool raster::dot(int x, int y) const {
  return (bytes[static_cast<std::size_t>(y) * row_bytes() + static_cast<std::size_t>(x) / 8] & (0x80u >> (x % 8))) != 0;
}

void raster::set_dot(int x, int y) {
  bytes[static_cast<std::size_t>(y) * row_bytes() + static_cast<std::size_t>(x) / 8] |=
      static_cast<std::uint8_t>(0x80u >> (x % 8));
}

raster make_raster(int width, int height) {
  raster out;
  out.width = width;
  out.height = height;
  out.bytes.assign(out.row_bytes() * static_cast<std::size_t>(height), 0);
  return out;
}

std::vector<raster> logo_planes(const dib& picture, const colour_table& table, int mode) {
  if (table.entries().empty() || picture.empty()) return {};
  const int count = mode == kModeBlackWhite ? 1 : mode == kModeTwoColors ? 2 : mode == kModeColor ? 3 : 0;
  if (count == 0) return {};
  std::vector<raster> planes(static_cast<std::size_t>(count), make_raster(picture.width(), picture.height()));
  const int black = table.nearest_index({0, 0, 0});
  const int red = table.nearest_index({255, 0, 0});
  // Pictures hold few colours after conversion: each colour's nearest entry is looked up once.
  std::unordered_map<std::uint32_t, int> nearest;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      const rgb p = picture.pixel(x, y);
      const std::uint32_t key = static_cast<std::uint32_t>(p.r) << 16 | static_cast<std::uint32_t>(p.g) << 8 | p.b;
      auto found = nearest.find(key);
      if (found == nearest.end()) found = nearest.emplace(key, table.nearest_index(p)).first;
      const int index = found->second;
      if (mode == kModeColor) {
        const colour_entry& entry = table.entries()[static_cast<std::size_t>(index)];
        for (std::size_t i = 0; i < 3; ++i) {
          if (entry.planes[i] != 0) planes[i].set_dot(x, y);
        }
        continue;
      }
      if (index == black) planes[0].set_dot(x, y);
      if (mode == kModeTwoColors && index == red) planes[1].set_dot(x, y);
    }
  }
  return planes;
}

raster black_dots(const dib& picture) {
  raster out = make_raster(picture.width(), picture.height());
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      if (picture.pixel(x, y) == rgb{}) out.set_dot(x, y);
    }
  }
  return out;
}

}  // namespace logo
