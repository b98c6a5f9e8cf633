// The property list of the control object: rows read from the property table file
// (Testbench_<v>0.dat), how a value is shown and how an edited entry is written back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com.h"
#include "testbench/literals.h"

namespace testbench {

enum class row_kind {
  heading,    // "C": a group title, no value
  text_edit,  // "E": edited in a text box
  list_edit,  // "L": edited with a drop-down list
  read_only,  // any other letter: a value that cannot be edited
};

struct property_row {
  row_kind kind = row_kind::read_only;
  std::string name;
  std::string value;                 // shown value; "E" and "L" rows start with their first argument
  std::vector<std::string> choices;  // "L" rows: the second argument split at "|"
  bool editable() const { return kind == row_kind::text_edit || kind == row_kind::list_edit; }
};

// Parses the table's text: one row per line that is neither empty nor a ";" comment. A line is
// a type letter, one separator character, then up to three comma-separated fields (name and
// up to two editor arguments).
std::vector<property_row> parse_property_table(std::string_view text);
// Reads and parses a table file; empty when it cannot be read.
std::vector<property_row> load_property_table(const std::filesystem::path& file);

// The shown form of property `name`'s value: MapMode, State, PowerState and PowerNotify by their
// CLiteral.ini names, booleans as "TRUE"/"FALSE", numbers in decimal, strings as they are.
std::string display_value(std::string_view name, const platform::Variant& value, const literal_tables& literals);

// What writing an edited entry does.
struct property_write {
  platform::Variant value;  // the value to write
  bool reread_all = false;  // the whole list is read again afterwards
};
// The write for `entry` typed into property `name`, or std::nullopt for a property that the
// list does not write.
std::optional<property_write> plan_property_write(std::string_view name, std::string_view entry,
                                                  const literal_tables& literals);

}  // namespace testbench
