// Property table parsing and the property list's display and write rules.
#include "testbench/property_table.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace testbench {
namespace {

bool same_text(std::string_view a, std::string_view b) { return platform::equal_ignoring_case(a, b); }

// Properties shown through a CLiteral.ini section, with that section.
struct literal_property {
  std::string_view name;
  std::string_view section;
};
constexpr literal_property kLiteralProperties[] = {
    {"MapMode", "MAPMODE"}, {"State", "STATE"}, {"PowerState", "POWERSTATE"}, {"PowerNotify", "POWERNOTIFY"}};

constexpr std::string_view kBooleanWrites[] = {"AsyncMode", "FreezeEvents", "SlpLetterQuality"};
constexpr std::string_view kNumberWrites[] = {"CharacterSet",   "RecLineChars", "RecLineHeight",
                                              "RecLineSpacing", "SlpLineChars", "SlpLineHeight"};
// Properties written by the number CNumber.ini gives for the name typed, with their section.
constexpr literal_property kNamedWrites[] = {{"PowerNotify", "POWERNOTIFY"}, {"MapMode", "MAPMODE"}};
// Writes after which every value of the list may have changed.
constexpr std::string_view kRereadAll[] = {"MapMode", "RecLineChars", "RecLineHeight", "RecLineSpacing"};

template <class Range>
bool listed(const Range& names, std::string_view name) {
  for (const auto& n : names) {
    if (same_text(n, name)) return true;
  }
  return false;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::vector<property_row> parse_property_table(std::string_view text) {
  std::vector<property_row> rows;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == ';') continue;

    property_row row;
    switch (line.front()) {
      case 'C': row.kind = row_kind::heading; break;
      case 'E': row.kind = row_kind::text_edit; break;
      case 'L': row.kind = row_kind::list_edit; break;
      default: row.kind = row_kind::read_only; break;
    }
    std::string_view fields = line.size() > 2 ? line.substr(2) : std::string_view();
    std::string_view parts[3];
    for (int i = 0; i < 3 && !fields.empty(); ++i) {
      const std::size_t comma = i < 2 ? fields.find(',') : std::string_view::npos;
      parts[i] = trim(fields.substr(0, comma));
      fields = comma == std::string_view::npos ? std::string_view() : fields.substr(comma + 1);
    }
    row.name = std::string(parts[0]);
    if (row.name.empty()) continue;
    if (row.editable()) row.value = std::string(parts[1]);
    if (row.kind == row_kind::list_edit) {
      std::string_view choices = parts[2];
      while (!choices.empty()) {
        const std::size_t bar = choices.find('|');
        row.choices.emplace_back(trim(choices.substr(0, bar)));
        choices = bar == std::string_view::npos ? std::string_view() : choices.substr(bar + 1);
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<property_row> load_property_table(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return parse_property_table(text.str());
}

std::string display_value(std::string_view name, const platform::Variant& value, const literal_tables& literals) {
  const platform::Variant v = value.deref();
  for (const literal_property& p : kLiteralProperties) {
    if (same_text(p.name, name)) return literals.name(p.section, v.long_or(0));
  }
  switch (v.type()) {
    case platform::variant_type::bool_value: return v.bool_or(false) ? "TRUE" : "FALSE";
    case platform::variant_type::long_value: return std::to_string(v.long_or(0));
    case platform::variant_type::double_value: {
      double d = 0;
      v.as_double(d);
      std::ostringstream s;
      s << d;
      return s.str();
    }
    default: return v.string_or("");
  }
}

std::optional<property_write> plan_property_write(std::string_view name, std::string_view entry,
                                                  const literal_tables& literals) {
  property_write w;
  w.reread_all = listed(kRereadAll, name);
  if (listed(kBooleanWrites, name)) {
    w.value = platform::Variant(same_text(trim(entry), "TRUE"));
    return w;
  }
  if (listed(kNumberWrites, name)) {
    const std::string digits(trim(entry));
    w.value = platform::Variant(static_cast<std::int32_t>(std::strtol(digits.c_str(), nullptr, 10)));
    return w;
  }
  for (const literal_property& p : kNamedWrites) {
    if (same_text(p.name, name)) {
      w.value = platform::Variant(literals.number(p.section, trim(entry)));
      return w;
    }
  }
  return std::nullopt;
}

}  // namespace testbench
