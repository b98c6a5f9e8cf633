// Escape scripts: the script language (comments, escape sequences between "<ESC|" and ">"), the
// document with its properties and breakpoints, the .txt and .oef file formats, the template
// file Escape.dat with the picker's match, and the stepping of the script debugger.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace testbench {

inline constexpr std::string_view kEscapeStart = "<ESC|";
inline constexpr std::string_view kEscapeEnd = ">";
inline constexpr std::string_view kCommentMarker = "'";

// True when the line's first character is "'" (an empty line is not a comment).
bool is_comment(std::string_view line);

// The bytes a script line sends: every "<ESC|" before the first ">" becomes ESC "|", that ">" is
// dropped, again while "<ESC|" remains; then a line feed is appended.
std::string convert_line(std::string_view line);

// Where an escape sequence starts and ends in a line (end is one past its ">").
struct sequence_span {
  std::size_t begin = 0;
  std::size_t end = 0;
};
// The escape sequence that contains column `column` of `line` (from its "<" to its ">").
std::optional<sequence_span> sequence_at(std::string_view line, std::size_t column);

// Lines of text split at CR LF or LF. Line breaks stand between lines, so a text that ends with
// one ends with an empty line, and writing the lines joined by CR LF gives the text back.
std::vector<std::string> split_lines(std::string_view text);

// True when the path ends in ".oef" (any case).
bool is_oef_path(const std::filesystem::path& path);

// The document properties kept in the first line of a .oef file.
struct script_properties {
  std::string title;
  std::string author;
  std::string notes;  // lines separated by "\n"
  bool operator==(const script_properties&) const = default;
};
// "{{title}}{{author}}{{notes joined by |}}".
std::string format_properties_line(const script_properties& p);
// The properties of a line that starts with "{{" and ends with "}}"; std::nullopt otherwise.
std::optional<script_properties> parse_properties_line(std::string_view line);

// A breakpoint's state on a line.
enum class breakpoint_state { active, disabled };

// An escape script: lines numbered from 1, its properties, file and breakpoints.
class script_document {
 public:
  std::vector<std::string> lines;
  script_properties properties;
  std::filesystem::path path;
  std::map<int, breakpoint_state> breakpoints;  // by line number

  // Takes the text of a file: for a .oef file a properties line on top is removed and parsed.
  void set_file_text(std::string_view text, bool oef);
  // The file's text: lines joined by CR LF, under the properties line for a .oef file.
  std::string file_text(bool oef) const;

  // Reads `file`; false with `error` set when it cannot be read.
  bool load(const std::filesystem::path& file, std::error_code& error);
  // Writes the document to `file` atomically (the format by its extension) and makes it the
  // document's path; false with `error` set on failure.
  bool save(const std::filesystem::path& file, std::error_code& error);

  // The editor's whole text (lines joined by "\n") and back.
  std::string text() const;
  void set_text(std::string_view text);

  // True when the document holds no text at all (no line, or one empty line).
  bool empty() const;

  // Breakpoint commands on one line: add or remove; enable or disable.
  void toggle_breakpoint(int line);
  void toggle_breakpoint_enabled(int line);
};

// Counts of what printing the lines would send: lines and characters after conversion (each
// line cut to 256 characters first).
struct script_summary {
  int lines = 0;
  int characters = 0;
};
script_summary summarise(const std::vector<std::string>& lines);

// The data of a header or trailer logo: every line that is not a comment, converted and joined.
std::string logo_data(const std::vector<std::string>& lines);

// Reads Escape.dat: "{N}" on the first line, then up to N templates, one per line that is not
// empty and does not start with ";". Empty when the file is missing or malformed.
std::vector<std::string> load_escape_templates(const std::filesystem::path& file);
std::vector<std::string> parse_escape_templates(std::string_view text);

// The template form of a sequence: digits removed and, when there were any, "|" become "|#".
std::string template_form(std::string_view sequence);
// Index of the template that matches `sequence`, or -1.
int match_template(std::string_view sequence, const std::vector<std::string>& templates);
// Replaces the sequence that contains `column` in `line` with `replacement`; false when the
// column is not inside a sequence.
bool replace_sequence(std::string& line, std::size_t column, std::string_view replacement);

// Commands of the "Pos Debug" window.
enum class debug_command {
  continue_run = 2,  // "Continua esecuzione"
  update_continue,   // "Aggiorna e continua esecuzione": the edited text replaces the line
  skip_line,         // "Ignora la linea corrente"
  run_to_cursor,     // "Vai a posizione del cursore"
  end_debug,         // "Termina debug": debugging and printing stop
};

// Where a script run stops: the active breakpoints, and a temporary stop at the caret after
// "Vai a posizione del cursore". Debugging is off in transaction or rotation mode.
class debug_stepper {
 public:
  debug_stepper(const std::map<int, breakpoint_state>& breakpoints, bool collecting_mode);
  // True while the run can still stop.
  bool active() const { return active_; }
  // True when the run stops before sending line `line`.
  bool stops_at(int line) const;
  // Takes the command given at a stop on `line`; `caret_line` is the caret's line.
  void after_stop(int line, debug_command command, int caret_line);
  // Debugging ends (last line sent, or a failure).
  void finish() { active_ = false; }

 private:
  std::vector<int> stops_;  // active breakpoint lines
  int temporary_stop_ = 0;  // 0 when none
  int resume_after_ = 0;    // stops at or above this line are behind the run
  bool active_ = false;
};

}  // namespace testbench
