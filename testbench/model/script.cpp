// The escape-script language, the script document and its files, templates and stepping.
#include "testbench/script.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "platform/replace_file.h"

namespace testbench {

bool is_comment(std::string_view line) { return !line.empty() && line.front() == '\''; }

std::string convert_line(std::string_view line) {
  std::string rest(line);
  std::string out;
  // Each round converts the sequence starters before the first ">" and drops that ">".
  while (rest.find(kEscapeStart) != std::string::npos) {
    const std::size_t close = rest.find(kEscapeEnd);
    if (close == std::string::npos) break;  // an open "<ESC|" with no ">" left stays as text
    std::string head = rest.substr(0, close);
    std::string converted;
    for (std::size_t at = 0;;) {
      const std::size_t found = head.find(kEscapeStart, at);
      if (found == std::string::npos) {
        converted += head.substr(at);
        break;
      }
      converted += head.substr(at, found - at);
      converted += "\x1b|";
      at = found + kEscapeStart.size();
    }
    out += converted;
    rest.erase(0, close + 1);
  }
  out += rest;
  out += '\n';
  return out;
}

std::optional<sequence_span> sequence_at(std::string_view line, std::size_t column) {
  for (std::size_t at = line.find(kEscapeStart); at != std::string_view::npos;
       at = line.find(kEscapeStart, at + 1)) {
    const std::size_t close = line.find(kEscapeEnd, at);
    if (close == std::string_view::npos) return std::nullopt;
    if (column >= at && column <= close) return sequence_span{at, close + 1};
  }
  return std::nullopt;
}

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  for (;;) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (end != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool is_oef_path(const std::filesystem::path& path) {
  const std::string s = path.string();
  if (s.size() < 4) return false;
  std::string tail = s.substr(s.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
  return tail == ".oef";
}

std::string format_properties_line(const script_properties& p) {
  std::string notes = p.notes;
  std::replace(notes.begin(), notes.end(), '\n', '|');
  return "{{" + p.title + "}}{{" + p.author + "}}{{" + notes + "}}";
}

std::optional<script_properties> parse_properties_line(std::string_view line) {
  if (!line.starts_with("{{") || !line.ends_with("}}") || line.size() < 4) return std::nullopt;
  script_properties p;
  std::string_view rest = line.substr(2, line.size() - 4);
  // Fields are separated by "}}{{": title, author, then the notes (which keep any further text).
  std::string* fields[] = {&p.title, &p.author, &p.notes};
  for (int i = 0; i < 3; ++i) {
    const std::size_t sep = i < 2 ? rest.find("}}{{") : std::string_view::npos;
    *fields[i] = std::string(rest.substr(0, sep));
    if (sep == std::string_view::npos) break;
    rest.remove_prefix(sep + 4);
  }
  std::replace(p.notes.begin(), p.notes.end(), '|', '\n');
  return p;
}

void script_document::set_file_text(std::string_view text, bool oef) {
  lines = split_lines(text);
  properties = {};
  if (oef && !lines.empty()) {
    if (auto p = parse_properties_line(lines.front())) {
      properties = *p;
      lines.erase(lines.begin());
    }
  }
}

std::string script_document::file_text(bool oef) const {
  // Line breaks stand between lines; the properties line is the first line of a .oef file.
  std::string out;
  if (oef) out = format_properties_line(properties);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0 || oef) out += "\r\n";
    out += lines[i];
  }
  return out;
}

bool script_document::load(const std::filesystem::path& file, std::error_code& error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = std::make_error_code(std::errc::no_such_file_or_directory);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  set_file_text(text.str(), is_oef_path(file));
  path = file;
  breakpoints.clear();
  return true;
}

bool script_document::save(const std::filesystem::path& file, std::error_code& error) {
  if (!platform::replace_file(file, file_text(is_oef_path(file)), error)) return false;
  path = file;
  return true;
}

std::string script_document::text() const {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += '\n';
    out += lines[i];
  }
  return out;
}

void script_document::set_text(std::string_view text) { lines = split_lines(text); }

bool script_document::empty() const { return lines.empty() || (lines.size() == 1 && lines.front().empty()); }

void script_document::toggle_breakpoint(int line) {
  if (breakpoints.erase(line) == 0) breakpoints[line] = breakpoint_state::active;
}

void script_document::toggle_breakpoint_enabled(int line) {
  const auto found = breakpoints.find(line);
  if (found == breakpoints.end()) return;
  found->second =
      found->second == breakpoint_state::active ? breakpoint_state::disabled : breakpoint_state::active;
}

script_summary summarise(const std::vector<std::string>& lines) {
  script_summary s;
  for (const std::string& line : lines) {
    ++s.lines;
    s.characters += static_cast<int>(convert_line(std::string_view(line).substr(0, 256)).size());
  }
  return s;
}

std::string logo_data(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) {
    if (!is_comment(line)) out += convert_line(line);
  }
  return out;
}

std::vector<std::string> parse_escape_templates(std::string_view text) {
  std::vector<std::string> lines = split_lines(text);
  if (lines.empty()) return {};
  std::string count_text = lines.front();
  std::erase(count_text, '{');
  std::erase(count_text, '}');
  const long count = std::strtol(count_text.c_str(), nullptr, 10);
  std::vector<std::string> templates;
  for (std::size_t i = 1; i < lines.size() && static_cast<long>(templates.size()) < count; ++i) {
    if (lines[i].empty() || lines[i].front() == ';') continue;
    templates.push_back(lines[i]);
  }
  return templates;
}

std::vector<std::string> load_escape_templates(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return parse_escape_templates(text.str());
}

std::string template_form(std::string_view sequence) {
  std::string out;
  bool had_digit = false;
  for (const char c : sequence) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      had_digit = true;
    } else {
      out += c;
    }
  }
  if (!had_digit) return out;
  std::string marked;
  for (const char c : out) {
    marked += c;
    if (c == '|') marked += '#';
  }
  return marked;
}

int match_template(std::string_view sequence, const std::vector<std::string>& templates) {
  const std::string form = template_form(sequence);
  for (std::size_t i = 0; i < templates.size(); ++i) {
    if (templates[i] == form) return static_cast<int>(i);
  }
  return -1;
}

bool replace_sequence(std::string& line, std::size_t column, std::string_view replacement) {
  const std::optional<sequence_span> span = sequence_at(line, column);
  if (!span) return false;
  line.replace(span->begin, span->end - span->begin, replacement);
  return true;
}

debug_stepper::debug_stepper(const std::map<int, breakpoint_state>& breakpoints, bool collecting_mode) {
  for (const auto& [line, state] : breakpoints) {
    if (state == breakpoint_state::active) stops_.push_back(line);
  }
  active_ = !stops_.empty() && !collecting_mode;
}

bool debug_stepper::stops_at(int line) const {
  if (!active_ || line <= resume_after_) return false;
  return line == temporary_stop_ || std::find(stops_.begin(), stops_.end(), line) != stops_.end();
}

void debug_stepper::after_stop(int line, debug_command command, int caret_line) {
  resume_after_ = line;
  if (temporary_stop_ != 0 && temporary_stop_ <= line) temporary_stop_ = 0;
  switch (command) {
    case debug_command::end_debug: active_ = false; break;
    case debug_command::run_to_cursor:
      if (caret_line > line) temporary_stop_ = caret_line;
      break;
    default: break;
  }
}

}  // namespace testbench
