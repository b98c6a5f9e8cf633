// Tests of escape scripts without a printer: line conversion, the document's files and
// properties, Escape.dat and the picker, and the debugger's stepping.
#include <fstream>

#include <gtest/gtest.h>

#include "platform/testing/temp_dir.h"
#include "testbench/script.h"

namespace {

using namespace testbench;

const std::filesystem::path kData = TESTBENCH_DATA_DIR;

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(TestbenchScriptLine, Conversion) {
  struct row {
    std::string_view line;
    std::string_view sent;
    std::string_view why;
  };
  const row rows[] = {
      {"", "\n", "an empty line prints a blank line"},
      {"Total", "Total\n", "plain text is unchanged"},
      {"<ESC|1B>x", "\x1b|1Bx\n", "one sequence"},
      {"<ESC|bC>Total", "\x1b|bCTotal\n", "the sequence's > is dropped"},
      {"<ESC|cA><ESC|bC>Hi", "\x1b|cA\x1b|bCHi\n", "two sequences on one line"},
      {"a<ESC|2C>b<ESC|N>c", "a\x1b|2Cb\x1b|Nc\n", "two sequences between text"},
      {"a > b <ESC|bC>c", "a  b \x1b|bCc\n", "a > before a sequence is consumed"},
      {"5 > 3", "5 > 3\n", "a > without any sequence stays"},
      {"<ESC|bC", "<ESC|bC\n", "an unterminated sequence stays as text"},
  };
  for (const row& r : rows) EXPECT_EQ(convert_line(r.line), r.sent) << r.why;

  EXPECT_TRUE(is_comment("'"));
  EXPECT_TRUE(is_comment("' note <ESC|bC>"));
  EXPECT_FALSE(is_comment(""));
  EXPECT_FALSE(is_comment(" ' indented"));
}

TEST(TestbenchScriptLine, SummaryAndLogoData) {
  const std::vector<std::string> lines = {"' header", "<ESC|bC>Shop", "", "Total"};
  const script_summary s = summarise(lines);
  EXPECT_EQ(s.lines, 4);
  EXPECT_EQ(s.characters, 9 + 9 + 1 + 6);
  EXPECT_EQ(logo_data(lines), "\x1b|bCShop\n\nTotal\n");
  EXPECT_EQ(summarise({std::string(300, 'x')}).characters, 257) << "each line counts at most 256 characters";
}

TEST(TestbenchScriptDocument, OefRoundTripKeepsPropertiesAndLines) {
  platform::testing::temp_dir dir;
  script_document doc;
  doc.lines = {"' receipt", "<ESC|cA>Shop", "", "Total"};
  doc.properties = {"Receipt", "Anna", "first line\nsecond line"};
  std::error_code error;
  ASSERT_TRUE(doc.save(dir / "receipt.OEF", error)) << error.message();
  EXPECT_EQ(read_file(dir / "receipt.OEF"),
            "{{Receipt}}{{Anna}}{{first line|second line}}\r\n' receipt\r\n<ESC|cA>Shop\r\n\r\nTotal");

  script_document again;
  ASSERT_TRUE(again.load(dir / "receipt.OEF", error));
  EXPECT_EQ(again.lines, doc.lines);
  EXPECT_EQ(again.properties, doc.properties);
  EXPECT_EQ(again.text(), "' receipt\n<ESC|cA>Shop\n\nTotal");

  // A .txt file never gets the properties line, and its first line is never taken as one.
  ASSERT_TRUE(doc.save(dir / "receipt.txt", error));
  EXPECT_EQ(read_file(dir / "receipt.txt"), "' receipt\r\n<ESC|cA>Shop\r\n\r\nTotal");
  script_document plain;
  plain.set_file_text("{{a}}{{b}}{{c}}\r\nline", false);
  EXPECT_EQ(plain.lines, (std::vector<std::string>{"{{a}}{{b}}{{c}}", "line"}));

  // A .oef file without a properties line has empty properties.
  script_document bare;
  bare.set_file_text("line 1\nline 2", true);
  EXPECT_EQ(bare.lines, (std::vector<std::string>{"line 1", "line 2"}));

  // A script that ends with an empty line keeps it through saving and reading.
  script_document trailing;
  trailing.set_text("total\n");
  EXPECT_EQ(trailing.lines, (std::vector<std::string>{"total", ""}));
  ASSERT_TRUE(trailing.save(dir / "trailing.oef", error));
  script_document reread;
  ASSERT_TRUE(reread.load(dir / "trailing.oef", error));
  EXPECT_EQ(reread.lines, trailing.lines);
  EXPECT_EQ(bare.properties, script_properties{});

  EXPECT_TRUE(is_oef_path("x.oef"));
  EXPECT_TRUE(is_oef_path("DIR/X.OeF"));
  EXPECT_FALSE(is_oef_path("x.txt"));
  EXPECT_FALSE(is_oef_path("oef"));
  script_document missing;
  EXPECT_FALSE(missing.load(dir / "nothing.oef", error));
}

TEST(TestbenchScriptDocument, EmptinessAndBreakpoints) {
  script_document doc;
  EXPECT_TRUE(doc.empty());
  doc.set_text("");
  EXPECT_TRUE(doc.empty());
  doc.set_text("\n");
  EXPECT_FALSE(doc.empty()) << "an empty line is a line to print";

  doc.toggle_breakpoint(3);
  EXPECT_EQ(doc.breakpoints.at(3), breakpoint_state::active);
  doc.toggle_breakpoint_enabled(3);
  EXPECT_EQ(doc.breakpoints.at(3), breakpoint_state::disabled);
  doc.toggle_breakpoint_enabled(4);
  EXPECT_EQ(doc.breakpoints.count(4), 0u);
  doc.toggle_breakpoint(3);
  EXPECT_TRUE(doc.breakpoints.empty());
}

TEST(TestbenchEscapeTemplates, FileAndPicker) {
  EXPECT_EQ(parse_escape_templates("{3}\n; note\n\n<ESC|#lF>\n<ESC|bC>\n<ESC|N>\n<ESC|cA>\n"),
            (std::vector<std::string>{"<ESC|#lF>", "<ESC|bC>", "<ESC|N>"}));
  EXPECT_TRUE(parse_escape_templates("").empty());
  EXPECT_TRUE(load_escape_templates("/nonexistent/Escape.dat").empty());

  const std::vector<std::string> shipped = load_escape_templates(kData / "Escape.dat");
  ASSERT_EQ(shipped.size(), 18u);
  struct row {
    std::string_view sequence;
    std::string_view template_text;
  };
  const row rows[] = {{"<ESC|12lF>", "<ESC|#lF>"}, {"<ESC|bC>", "<ESC|bC>"},  {"<ESC|100P>", "<ESC|#P>"},
                      {"<ESC|2uC>", "<ESC|#uC>"},  {"<ESC|cA>", "<ESC|cA>"},  {"<ESC|4C>", "<ESC|#C>"},
                      {"<ESC|3fP>", "<ESC|#fP>"},  {"<ESC|tL>", "<ESC|tL>"},  {"<ESC|1B>", "<ESC|#B>"}};
  for (const row& r : rows) {
    const int index = match_template(r.sequence, shipped);
    ASSERT_GE(index, 0) << r.sequence;
    EXPECT_EQ(shipped[static_cast<std::size_t>(index)], r.template_text);
  }
  EXPECT_EQ(match_template("<ESC|zZ>", shipped), -1);
  EXPECT_EQ(template_form("<ESC|12lF>"), "<ESC|#lF>");
  EXPECT_EQ(template_form("<ESC|bC>"), "<ESC|bC>");
}

TEST(TestbenchEscapeTemplates, SequenceUnderTheCaretIsReplaced) {
  const std::string line = "A<ESC|bC>B<ESC|12lF>C";
  struct row {
    std::size_t column;
    bool found;
    std::size_t begin;
    std::size_t end;
  };
  const row rows[] = {{0, false, 0, 0}, {1, true, 1, 9}, {8, true, 1, 9}, {9, false, 0, 0}, {15, true, 10, 20}};
  for (const row& r : rows) {
    const auto span = sequence_at(line, r.column);
    ASSERT_EQ(span.has_value(), r.found) << r.column;
    if (span) {
      EXPECT_EQ(span->begin, r.begin);
      EXPECT_EQ(span->end, r.end);
    }
  }
  std::string edited = line;
  EXPECT_TRUE(replace_sequence(edited, 12, "<ESC|3lF>"));
  EXPECT_EQ(edited, "A<ESC|bC>B<ESC|3lF>C");
  EXPECT_FALSE(replace_sequence(edited, 0, "<ESC|N>"));
}

TEST(TestbenchDebugStepper, StopsCommandsAndCollectingModes) {
  const std::map<int, breakpoint_state> breakpoints = {
      {2, breakpoint_state::active}, {4, breakpoint_state::disabled}, {6, breakpoint_state::active}};

  // Breakpoints are ignored in transaction or rotation mode.
  debug_stepper collecting(breakpoints, true);
  EXPECT_FALSE(collecting.active());
  for (int line = 1; line <= 8; ++line) EXPECT_FALSE(collecting.stops_at(line)) << line;

  debug_stepper stepper(breakpoints, false);
  EXPECT_TRUE(stepper.active());
  EXPECT_FALSE(stepper.stops_at(1));
  EXPECT_TRUE(stepper.stops_at(2));
  stepper.after_stop(2, debug_command::continue_run, 2);
  EXPECT_FALSE(stepper.stops_at(2));
  EXPECT_FALSE(stepper.stops_at(4)) << "a disabled breakpoint does not stop";
  EXPECT_TRUE(stepper.stops_at(6));

  // Run to the caret sets a temporary stop below the current line; one above is ignored.
  debug_stepper to_cursor(breakpoints, false);
  to_cursor.after_stop(2, debug_command::run_to_cursor, 3);
  EXPECT_TRUE(to_cursor.stops_at(3));
  to_cursor.after_stop(3, debug_command::run_to_cursor, 1);
  EXPECT_FALSE(to_cursor.stops_at(5));
  EXPECT_TRUE(to_cursor.stops_at(6));

  debug_stepper ended(breakpoints, false);
  ended.after_stop(2, debug_command::end_debug, 2);
  EXPECT_FALSE(ended.active());
  EXPECT_FALSE(ended.stops_at(6));

  EXPECT_FALSE(debug_stepper({}, false).active());
}

}  // namespace
