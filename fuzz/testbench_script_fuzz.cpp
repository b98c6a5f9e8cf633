// Fuzz target of the test environment's text formats: arbitrary bytes as an escape-script file,
// a property table, an Escape.dat template file and a tip file. Besides crashes and sanitizer
// reports it stops when a result breaks a promise: a .oef file read and written again reads back
// the same; a converted line ends with its line feed and is never longer than the line plus it;
// a template form holds no digit; table rows have names.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "require.h"
#include "testbench/output.h"
#include "testbench/property_table.h"
#include "testbench/script.h"
#include "testbench/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  testbench::script_document doc;
  doc.set_file_text(text, true);
  testbench::script_document again;
  again.set_file_text(doc.file_text(true), true);
  require(again.lines == doc.lines);
  require(again.properties == doc.properties);

  for (const std::string& line : doc.lines) {
    const std::string sent = testbench::convert_line(line);
    require(!sent.empty() && sent.back() == '\n');
    require(sent.size() <= line.size() + 1);
    const std::string form = testbench::template_form(line);
    for (const char c : form) require(!std::isdigit(static_cast<unsigned char>(c)));
    for (std::size_t column = 0; column <= line.size(); column += 7) {
      if (const auto span = testbench::sequence_at(line, column)) {
        require(span->begin <= column && column < span->end && span->end <= line.size());
        require(line.compare(span->begin, testbench::kEscapeStart.size(), testbench::kEscapeStart) == 0);
        require(line[span->end - 1] == '>');
      }
    }
  }

  for (const testbench::property_row& row : testbench::parse_property_table(text)) {
    require(!row.name.empty());
    require(row.choices.empty() || row.kind == testbench::row_kind::list_edit);
  }
  for (const std::string& t : testbench::parse_escape_templates(text)) require(!t.empty() && t.front() != ';');
  for (const std::string& tip : testbench::parse_tips(text)) require(!tip.empty());
  (void)testbench::reply_dump(text);
  return 0;
}
