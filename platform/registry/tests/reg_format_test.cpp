// Tests of the .reg text parser and writer.
#include "reg_format.h"

#include <gtest/gtest.h>

namespace platform::reg_format {
namespace {

using bytes = std::vector<std::uint8_t>;

document parse_ok(std::string_view text) {
  document doc;
  std::string error;
  EXPECT_TRUE(parse(text, "t.reg", doc, error)) << error;
  return doc;
}

std::string utf16le_with_bom(std::string_view ascii_or_latin) {
  std::string out = "\xFF\xFE";
  for (char c : ascii_or_latin) {
    out += c;
    out += '\0';
  }
  return out;
}

TEST(RegFormatParse, ReadsEveryKindOfLine) {
  document doc = parse_ok(
      "\xEF\xBB\xBF"
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n"
      "@=\"default\"\r\n"
      "\"Esc\\\\aped\" = \"a\\\"b\\\\c\\d\"\r\n"
      "\"N\"=dword:0000001F\r\n"
      "\"B\"=hex:01,02,\\\r\n"
      "  03,04\r\n"
      "\"Empty\"=hex:\r\n"
      "\"M\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      "\"X\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      "\"Q\"=hex(b):01,02,03,04,05,06,07,08\r\n"
      "\"D\"=hex(4):1f,00,00,00\r\n"
      "\"S\"=hex(1):6f,00,6b,00,00,00\r\n"
      "\"Gone\"=-\r\n"
      "  ; indented comment\r\n"
      "[-HKCU\\Software\\Old]\r\n");
  ASSERT_EQ(doc.sections.size(), 2u);
  const section& s = doc.sections[0];
  EXPECT_EQ(s.root, registry_root::local_machine);
  EXPECT_EQ(s.path, (std::vector<std::string>{"SOFTWARE", "X"}));
  EXPECT_EQ(s.line, 4u);
  EXPECT_FALSE(s.remove);

  struct expected_entry {
    const char* name;
    registry_type type;
    bytes data;
    bool remove;
  };
  const expected_entry expected[] = {
      {"", registry_type::string, {'d', 'e', 'f', 'a', 'u', 'l', 't'}, false},
      {"Esc\\aped", registry_type::string, {'a', '"', 'b', '\\', 'c', '\\', 'd'}, false},
      {"N", registry_type::dword, {0x1f, 0, 0, 0}, false},
      {"B", registry_type::binary, {1, 2, 3, 4}, false},
      {"Empty", registry_type::binary, {}, false},
      {"M", registry_type::multi_string, {'a', 0, 'b', 0, 0}, false},
      {"X", registry_type::expand_string, {'%', 'A', '%', 0}, false},
      {"Q", registry_type{11}, {1, 2, 3, 4, 5, 6, 7, 8}, false},
      {"D", registry_type::dword, {0x1f, 0, 0, 0}, false},
      {"S", registry_type::string, {'o', 'k'}, false},
      {"Gone", registry_type::none, {}, true},
  };
  ASSERT_EQ(s.entries.size(), std::size(expected));
  for (std::size_t i = 0; i < s.entries.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(s.entries[i].item.name, expected[i].name);
    EXPECT_EQ(s.entries[i].remove, expected[i].remove);
    if (expected[i].remove) continue;
    EXPECT_EQ(s.entries[i].item.type, expected[i].type);
    EXPECT_EQ(s.entries[i].item.data, expected[i].data);
  }

  EXPECT_TRUE(doc.sections[1].remove);
  EXPECT_EQ(doc.sections[1].root, registry_root::current_user);
  EXPECT_EQ(doc.sections[1].path, (std::vector<std::string>{"Software", "Old"}));
}

TEST(RegFormatParse, ReadsUtf16AndOlderFiles) {
  document doc = parse_ok(utf16le_with_bom(
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\K]\r\n\"Name\"=\"caf\xE9\"\r\n"));
  ASSERT_EQ(doc.sections.size(), 1u);
  ASSERT_EQ(doc.sections[0].entries.size(), 1u);
  const bytes cafe{'c', 'a', 'f', 0xC3, 0xA9};  // U+00E9 as UTF-8
  EXPECT_EQ(doc.sections[0].entries[0].item.data, cafe);

  // REGEDIT4 files spell text types in their own bytes, not in UTF-16.
  doc = parse_ok("REGEDIT4\n\n[HKLM\\A]\n\"M\"=hex(7):61,00,62,00,00\n");
  EXPECT_EQ(doc.sections[0].entries[0].item.data, (bytes{'a', 0, 'b', 0, 0}));

  EXPECT_TRUE(parse_ok("").sections.empty());
  EXPECT_TRUE(parse_ok("\n  \n").sections.empty());
}

TEST(RegFormatParse, ErrorsNameLineAndReason) {
  struct error_case {
    const char* what;
    std::string text;
    std::string expected;
  };
  const std::string h = "Windows Registry Editor Version 5.00\n\n";
  std::string deep_513 = "[HKLM";
  for (int i = 0; i < 513; ++i) deep_513 += "\\k";
  const error_case cases[] = {
      {"key 513 levels deep", h + "[HKLM\\A]\n" + deep_513 + "]\n", "t.reg:4: key nested deeper than 512 levels"},
      {"no header", "[HKLM\\A]\n", "t.reg:1: missing header \"Windows Registry Editor Version 5.00\""},
      {"value before any key", h + "\"a\"=\"b\"\n", "t.reg:3: value outside a key section"},
      {"unknown root", h + "[HKEY_USERS\\A]\n", "t.reg:3: unknown root key \"HKEY_USERS\""},
      {"unclosed section", h + "[HKLM\\A\n", "t.reg:3: section header without closing ']'"},
      {"empty key name", h + "[HKLM\\A\\\\B]\n", "t.reg:3: bad key name \"\""},
      {"deleting a root", h + "[-HKLM]\n", "t.reg:3: a root key cannot be deleted"},
      {"unterminated string", h + "[HKLM\\A]\n\"a\"=\"b\n", "t.reg:4: unterminated string"},
      {"unterminated name", h + "[HKLM\\A]\n\"a=1\n", "t.reg:4: unterminated value name"},
      {"missing =", h + "[HKLM\\A]\n\"a\" \"b\"\n", "t.reg:4: expected '=' after the value name"},
      {"text after string", h + "[HKLM\\A]\n\"a\"=\"b\" x\n", "t.reg:4: unexpected text after the string"},
      {"dword too long", h + "[HKLM\\A]\n\"a\"=dword:123456789\n", "t.reg:4: bad dword value"},
      {"bad hex byte", h + "[HKLM\\A]\n\"a\"=hex:01,,02\n", "t.reg:4: bad hex byte \"\""},
      {"hex byte too wide", h + "[HKLM\\A]\n\"a\"=hex:100\n", "t.reg:4: bad hex byte \"100\""},
      {"error on continued line", h + "[HKLM\\A]\n\"a\"=hex:01,\\\n  02,\\\n  q\n", "t.reg:6: bad hex byte \"q\""},
      {"continuation at end", h + "[HKLM\\A]\n\"a\"=hex:01,\\\n", "t.reg:4: file ends inside a continued hex list"},
      {"odd UTF-16 text", h + "[HKLM\\A]\n\"a\"=hex(7):61\n",
       "t.reg:4: UTF-16 text of hex(7) has an odd number of bytes"},
      {"short hex(4)", h + "[HKLM\\A]\n\"a\"=hex(4):01\n", "t.reg:4: hex(4) data needs exactly 4 bytes"},
      {"bad type", h + "[HKLM\\A]\n\"a\"=hex(zz):01\n", "t.reg:4: bad hex(type) prefix"},
      {"unknown data", h + "[HKLM\\A]\n\"a\"=qword:1\n", "t.reg:4: unknown value data \"qword:1\""},
      {"stray text", h + "[HKLM\\A]\nhello\n", "t.reg:4: unexpected text \"hello\""},
      {"not UTF-8", h + "[HKLM\\A]\n\"a\"=\"\xE9t\xE9\"\n", "t.reg:4: text is not valid UTF-8"},
      {"big-endian UTF-16", "\xFE\xFF", "t.reg:1: UTF-16 big-endian files are not supported"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    document doc;
    std::string error;
    EXPECT_FALSE(parse(c.text, "t.reg", doc, error));
    EXPECT_EQ(error, c.expected);
  }

  // 512 levels are the most a key may have.
  std::string deep_512 = "[HKLM";
  for (int i = 0; i < 512; ++i) deep_512 += "\\k";
  document doc;
  std::string error;
  EXPECT_TRUE(parse(h + deep_512 + "]\n", "t.reg", doc, error)) << error;
}

key_node make_tree() {
  key_node root;
  auto sub = std::make_unique<key_node>();
  sub->name = "Soft";
  sub->values.push_back({"", registry_type::string, {'d'}});
  sub->values.push_back({"Q\"\\", registry_type::string, {'\\', '"'}});
  sub->values.push_back({"N", registry_type::dword, {0x78, 0x56, 0x34, 0x12}});
  sub->values.push_back({"E", registry_type::binary, {}});
  sub->values.push_back({"L", registry_type::string, {'a', '\n', 'b'}});
  sub->values.push_back({"M", registry_type::multi_string, {'x', 0, 0}});
  sub->values.push_back({"Q8", registry_type{11}, {1, 2, 3, 4, 5, 6, 7, 8}});
  auto child = std::make_unique<key_node>();
  child->name = "Child";
  sub->subkeys.push_back(std::move(child));
  root.subkeys.push_back(std::move(sub));
  return root;
}

TEST(RegFormatWrite, WritesExportSyntax) {
  std::string text;
  append_key(text, registry_root::local_machine, "", make_tree());
  EXPECT_EQ(text,
            "[HKEY_LOCAL_MACHINE\\Soft]\n"
            "@=\"d\"\n"
            "\"Q\\\"\\\\\"=\"\\\\\\\"\"\n"
            "\"N\"=dword:12345678\n"
            "\"E\"=hex:\n"
            "\"L\"=hex(1):61,00,0a,00,62,00,00,00\n"
            "\"M\"=hex(7):78,00,00,00,00,00\n"
            "\"Q8\"=hex(b):01,02,03,04,05,06,07,08\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Soft\\Child]\n"
            "\n");
}

TEST(RegFormatWrite, WhatIsWrittenParsesBackTheSame) {
  key_node tree = make_tree();
  bytes blob(500);
  for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<std::uint8_t>(i);
  tree.subkeys[0]->values.push_back({"A rather long value name to push the list", registry_type::binary, blob});
  // A string with a NUL and a line break inside travels as hex(1) and comes back whole.
  tree.subkeys[0]->values.push_back({"NulAndBreak", registry_type::string, {'a', 0, '\r', 'b'}});
  std::string text(kHeader);
  text += "\n\n";
  append_key(text, registry_root::current_user, "", tree);
  EXPECT_NE(text.find(",\\\n  "), std::string::npos) << "long lists are continued";

  document doc = parse_ok(text);
  ASSERT_EQ(doc.sections.size(), 2u);
  const auto& values = tree.subkeys[0]->values;
  ASSERT_EQ(doc.sections[0].entries.size(), values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(values[i].name);
    EXPECT_EQ(doc.sections[0].entries[i].item.name, values[i].name);
    EXPECT_EQ(doc.sections[0].entries[i].item.type, values[i].type);
    EXPECT_EQ(doc.sections[0].entries[i].item.data, values[i].data);
  }
  EXPECT_EQ(doc.sections[1].path, (std::vector<std::string>{"Soft", "Child"}));
}

TEST(RegFormatNames, Validation) {
  EXPECT_TRUE(is_valid_key_name("CLSID"));
  EXPECT_TRUE(is_valid_key_name("text/plain"));
  EXPECT_TRUE(is_valid_key_name(std::string(255, 'k')));
  EXPECT_FALSE(is_valid_key_name(std::string(256, 'k')));
  EXPECT_FALSE(is_valid_key_name(""));
  EXPECT_FALSE(is_valid_key_name("a\\b"));
  EXPECT_FALSE(is_valid_key_name(std::string_view("a\0b", 3)));
  EXPECT_TRUE(is_valid_value_name(""));
  EXPECT_FALSE(is_valid_value_name("a\nb"));
  EXPECT_TRUE(is_valid_utf8("日本 𝄞"));
  EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));      // overlong "/"
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));  // a surrogate
  EXPECT_FALSE(is_valid_utf8("\xE6\x97"));      // cut short
}

}  // namespace
}  // namespace platform::reg_format
