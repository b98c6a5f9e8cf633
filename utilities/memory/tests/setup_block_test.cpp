// The setup block: the tree built from a body, format errors, the download block, checksums and
// the label editor's rules.
#include "memory/setup_block.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace memory;

// The example body: a root, one folder with two options (the second selected) and a number.
constexpr char kExample[] = "12$PRN!Comm:[9600;19200;1|Speed=1F\xB2]";

// The bytes as "1B 7D 6D ..." for messages.
std::string hex(std::string_view data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : data) {
    const auto b = static_cast<unsigned char>(c);
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

setup_tree tree_of(std::string_view body) {
  setup_tree tree;
  const build_result r = build_setup_tree(body, tree);
  EXPECT_TRUE(r.ok) << r.reason << " at " << r.error_offset;
  return tree;
}

// Keys of the tree's nodes, in order.
std::vector<std::string> keys_of(const setup_tree& tree) {
  std::vector<std::string> out;
  for (const setup_node& n : tree.nodes()) out.push_back(n.key);
  return out;
}

// The download block for `body` with the memory request: command, `sent`, checksum, NUL.
std::string download_of(std::string_view body, const setup_tree& tree) {
  const download_result r = build_download_block(kMemorySetupRequest, body, tree);
  EXPECT_TRUE(r.ok) << r.reason;
  return r.block;
}
std::string expected_block(std::string_view sent) {
  return std::string("\x1b\x7d\x6d") + std::string(sent) + checksum_digits(body_checksum(sent)) + std::string(1, '\0');
}

TEST(SetupTreeTest, ExampleGivesEveryPartOfTheTree) {
  setup_tree tree;
  const build_result r = build_setup_tree(kExample, tree);
  ASSERT_TRUE(r.ok) << r.reason;
  EXPECT_EQ(r.identifier, "12");
  EXPECT_EQ(keys_of(tree), (std::vector<std::string>{"PRN", "PRN\\Comm", "PRN\\Comm\\9600", "PRN\\Comm\\19200",
                                                     "PRN\\Comm\\Speed"}));
  const setup_node* root = tree.find("PRN");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->kind, node_kind::root);
  EXPECT_EQ(root->image, "Setup");
  EXPECT_TRUE(root->expanded);
  EXPECT_EQ(root->parent_key, "");
  const setup_node* folder = tree.find("PRN\\Comm");
  EXPECT_EQ(folder->image, "CFolder");
  EXPECT_EQ(folder->expanded_image, "OFolder");
  EXPECT_EQ(folder->text, "Comm");
  EXPECT_EQ(tree.find("PRN\\Comm\\9600")->image, "UOption");
  EXPECT_EQ(tree.find("PRN\\Comm\\19200")->image, "COption");
  const setup_node* speed = tree.find("PRN\\Comm\\Speed");
  EXPECT_EQ(speed->image, "NValue");
  EXPECT_EQ(speed->text, "Speed=31");
  EXPECT_EQ(speed->tag, "\xC2\xB2");
  EXPECT_EQ(tree.children("PRN\\Comm").size(), 3u);
  EXPECT_EQ(tree.parent("PRN\\Comm\\Speed"), folder);
  EXPECT_FALSE(tree.label_editing_automatic());
}

TEST(SetupTreeTest, SelectionIndexIsHexadecimal) {
  std::string body = "1$R!F:[";
  for (int i = 0; i < 12; ++i) body += "o" + std::to_string(i) + ";";
  body += "0A|]";
  const setup_tree tree = tree_of(body);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(tree.find("R\\F\\o" + std::to_string(i))->image, i == 10 ? "COption" : "UOption") << i;
  }
}

TEST(SetupTreeTest, ValueKindsImagesTagsAndTexts) {
  struct value_case {
    const char* body;  // after "1$R!F:["
    const char* image;
    const char* tag;
    const char* text;
  };
  const value_case cases[] = {
      {"V=1E240\xB2", "NValue", "\xC2\xB2", "V=123456"},  // nine-digit number, read-only
      {"V\xB1" "7\xB9", "MNValue", "\xC2\xB9", "V=7"},    // one digit, editable
      {"V=Shop\xAA", "AValue", "\xC2\xAA", "V=Shop"},     // read-only text
      {"V\xB1Shop \xE9t\xE9\xAA", "MAValue", "\xC2\xAA", "V=Shop \xC3\xA9t\xC3\xA9"},  // editable text, code page 1252
      {"V\xB1\xAA", "MAValue", "\xC2\xAA", "V="},          // empty text
      {"V\xB1", "MNValue", "", "V"},                       // a value not given yet
      {"V=ff\xB2", "NValue", "\xC2\xB2", "V=255"},         // lower-case digits
  };
  for (const value_case& c : cases) {
    const setup_tree tree = tree_of(std::string("1$R!F:[") + c.body + "]");
    const setup_node* v = tree.find("R\\F\\V");
    ASSERT_NE(v, nullptr) << c.body;
    EXPECT_EQ(v->kind, node_kind::value) << c.body;
    EXPECT_EQ(v->image, c.image) << c.body;
    EXPECT_EQ(v->tag, c.tag) << c.body;
    EXPECT_EQ(v->text, c.text) << c.body;
    EXPECT_EQ(tree.label_editing_automatic(), std::string(c.image).starts_with("M")) << c.body;
  }
}

TEST(SetupTreeTest, HiddenFolderGetsNoNodesUntilItsLevelIsLeft) {
  // H is hidden at level R: its folder X and its options give no nodes; D, declared at R again, shows.
  const setup_tree tree = tree_of("1$R!H\xF7[X:[a;b;1|]c;0|]D:[p;q;1|]");
  EXPECT_EQ(keys_of(tree), (std::vector<std::string>{"R", "R\\D", "R\\D\\p", "R\\D\\q"}));
  EXPECT_EQ(tree.find("R\\D\\q")->image, "COption");
  // A "]" that leaves the hidden folder's level ends the region too: S shows below the root's parent level.
  const setup_tree nested = tree_of("1$R!A:[H\xF7[a;0|]]S:[s;0|]");
  EXPECT_EQ(keys_of(nested), (std::vector<std::string>{"R", "R\\A", "R\\S", "R\\S\\s"}));
  // A second hidden folder inside the region keeps the region's own level.
  const setup_tree twice = tree_of("1$R!H\xF7[G\xF7[x;0|]y;0|]V:[v;0|]");
  EXPECT_EQ(keys_of(twice), (std::vector<std::string>{"R", "R\\V", "R\\V\\v"}));
}

TEST(SetupTreeTest, DroppedTokensLeaveNoTrace) {
  const setup_tree plain = tree_of(kExample);
  const setup_tree with_drops = tree_of("12$PRN!Comm:[Note\xAB" "9600;19200;\xAB" "1|Speed=1F\xB2]x\xAB");
  EXPECT_EQ(keys_of(with_drops), keys_of(plain));
  EXPECT_EQ(with_drops.find("PRN\\Comm\\Speed")->text, "Speed=31");
  EXPECT_EQ(download_of("12$PRN!Comm:[Note\xAB" "9600;19200;\xAB" "1|Speed=1F\xB2]x\xAB", with_drops),
            expected_block("12$1|31|"));
}

TEST(SetupTreeTest, FormatErrorsKeepTheNodesBuiltSoFar) {
  struct bad_case {
    const char* what;
    std::string_view body;
    std::size_t nodes_kept;
  };
  const bad_case cases[] = {
      {"option named twice", "1$R!F:[a;a;]", 3},
      {"folder named twice", "1$R!F:F:", 2},
      {"selection beyond the options", "1$R!F:[a;b;2|]", 4},
      {"selection not hexadecimal", "1$R!F:[a;b;x|]", 4},
      {"hidden selection not hexadecimal", "1$R!H\xF7[a;G|]", 1},
      {"number not hexadecimal", "1$R!F:[V=12Z\xB2]", 3},
      {"empty number", "1$R!F:[V=\xB9]", 3},
      {"number beyond 32 bits", "1$R!F:[V=123456789\xB2]", 3},
      {"text without a value", "1$R!F:[abc\xAA]", 2},
      {"number without a value", "1$R!F:[1\xB9]", 2},
      {"value inside a hidden folder", "1$R!H\xF7[V=1\xB9]", 1},
      {"value at a hidden folder's own level", "1$R!H\xF7[]V=1\xB9", 1},
      {"folder before the root", "1$F:", 0},
      {"ascent at the root level", "1$R!]", 1},
      {"descent without a folder", "1$R![", 1},
      {"empty option name", "1$R!F:[;]", 2},
      {"value given twice", "1$R!F:[T=a\xAA" "b\xAA]", 3},
      {"number after a text", "1$R!F:[T=a\xAA" "1\xB9]", 3},
      {"NUL inside a text", std::string_view("1$R!F:[T=a\0b\xAA]", 14), 3},
  };
  for (const bad_case& c : cases) {
    setup_tree tree;
    const build_result r = build_setup_tree(c.body, tree);
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_FALSE(r.reason.empty()) << c.what;
    EXPECT_EQ(tree.nodes().size(), c.nodes_kept) << c.what;
  }
}

TEST(SetupTreeTest, NestedNamesCannotOutgrowTheBlock) {
  // Each "a:[" makes a folder one level deeper, whose key repeats every level above it.
  std::string body = "1$R!";
  for (int i = 0; i < 100000; ++i) body += "a:[";
  setup_tree tree;
  const build_result r = build_setup_tree(body, tree);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.reason.find("outgrow"), std::string::npos) << r.reason;
  std::size_t key_bytes = 0;
  for (const setup_node& n : tree.nodes()) key_bytes += n.key.size();
  EXPECT_LE(key_bytes, 64 * body.size() + 4096);
}

TEST(DownloadBlockTest, ExampleSendsTheChoicesInDecimal) {
  const setup_tree tree = tree_of(kExample);
  const std::string block = download_of(kExample, tree);
  // "12$1|31|": 49+50+36+49+124+51+49+124 = 532 = 0x0214.
  EXPECT_EQ(hex(block), hex(std::string("\x1b\x7d\x6d" "12$1|31|0214") + '\0'));
  const download_result full = build_download_block(kFullSetupRequest, kExample, tree);
  EXPECT_EQ(full.block.substr(0, 3), "\x1b\x7d\x61");
}

TEST(DownloadBlockTest, ItemsFollowTheBlockAndTheTree) {
  struct download_case {
    const char* what;
    const char* body;
    const char* sent;
  };
  const download_case cases[] = {
      {"hidden selection as the printer sent it", "7$R!H\xF7[a;b;0A|]", "7$10|"},
      {"nothing to choose: the identifier only", "ID$R!F:[a;b;]", "ID$"},
      {"empty selection token appends nothing", "1$R!F:[a;b;|]", "1$"},
      {"texts, digits and numbers in order", "1$R!F:[a;b;1|T\xB1Hi\xAAN\xB1" "5\xB9]G:[c;d;0|M=FFFF\xB2]",
       "1$1|Hi|5|0|65535|"},
      {"dropped token sends nothing", "1$R!F:[a;0|x\xAB]", "1$0|"},
      {"unchanged texts go back byte for byte", "1$R!F:[T=\x80\x81\xFF\xAA]", "1$\x80\x81\xFF|"},
  };
  for (const download_case& c : cases) {
    const setup_tree tree = tree_of(c.body);
    EXPECT_EQ(hex(download_of(c.body, tree)), hex(expected_block(c.sent))) << c.what;
  }
}

TEST(DownloadBlockTest, SendsTheUsersChoices) {
  std::string body = "1$R!F:[a;b;c;1|T\xB1Shop\xAA" "D\xB1" "1\xB9]";
  setup_tree tree = tree_of(body);
  tree.find("R\\F\\b")->image = kImageUOption;
  tree.find("R\\F\\c")->image = kImageCOption;
  tree.find("R\\F\\T")->text = "T=Caf\xC3\xA9";  // UTF-8 in the tree, code page 1252 to the printer
  tree.find("R\\F\\D")->text = "D=0";
  EXPECT_EQ(hex(download_of(body, tree)), hex(expected_block("1$2|Caf\xE9|0|")));
  // A separator that reached a value would change what the printer reads: nothing is built.
  tree.find("R\\F\\T")->text = "T=a|b";
  const download_result r = build_download_block(kMemorySetupRequest, body, tree);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.block.empty());
}

TEST(ChecksumTest, FourUpperCaseDigitsOfTheLow16Bits) {
  EXPECT_EQ(checksum_digits(47), "002F");
  EXPECT_EQ(checksum_digits(0xABCD), "ABCD");
  EXPECT_EQ(body_checksum(std::string(1, '/')), 47);
  // 600 bytes of 0xFF sum to 153000; the low 16 bits are 21928 = 0x55A8.
  EXPECT_EQ(body_checksum(std::string(600, '\xFF')), 0x55A8);
  // A download whose body sums above 65535 carries the low 16 bits.
  const std::string text(300, '\xFF');
  const std::string body = "1$R!F:[T\xB1" + text + "\xAA]";
  const std::string block = download_of(body, tree_of(body));
  const std::string sent = "1$" + text + "|";
  ASSERT_GT(36 + 49 * 2 + 124 + 255 * 300, 65535);
  EXPECT_EQ(block.substr(block.size() - 5), checksum_digits(static_cast<std::uint16_t>((49 + 36 + 255 * 300 + 124) % 65536)) + '\0');
  EXPECT_EQ(block, expected_block(sent));
}

TEST(ChecksumTest, BlockFrameAndField) {
  const std::string body = kExample;
  const std::string good = std::string(kMemorySetupRequest) + body + checksum_digits(body_checksum(body)) + '\0';
  EXPECT_TRUE(checksum_matches(good));
  const std::optional<block_frame> f = split_block(good);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->header, kMemorySetupRequest);
  EXPECT_EQ(f->body, body);
  std::string lower = good;
  lower.replace(lower.size() - 5, 4, "0abc");
  EXPECT_EQ(split_block(lower)->checksum, 0x0ABC);
  std::string wrong = good;
  wrong[6] = 'X';
  EXPECT_FALSE(checksum_matches(wrong));
  std::string not_hex = good;
  not_hex[not_hex.size() - 3] = 'G';
  EXPECT_FALSE(split_block(not_hex)->checksum);
  EXPECT_FALSE(checksum_matches(not_hex));
  EXPECT_FALSE(split_block("\x1b} m0000"));  // 8 bytes: no room for the NUL
  const std::string empty_body = std::string(kMemorySetupRequest) + "0000" + '\0';
  EXPECT_TRUE(checksum_matches(empty_body));
}

TEST(RequestCommandTest, ByExecutableName) {
  EXPECT_EQ(request_command_for("SETUP"), "\x1b\x7d\x20\x61");
  EXPECT_EQ(request_command_for("setup"), "\x1b\x7d\x20\x61");
  EXPECT_EQ(request_command_for("MEMORY"), "\x1b\x7d\x20\x6d");
  EXPECT_EQ(request_command_for("VJ20G"), "\x1b\x7d\x20\x6d");
}

TEST(LabelEditTest, FieldsByImageAndTag) {
  struct field_case {
    const char* body;  // after "1$R!F:["
    bool allowed;
    bool digits;
    std::size_t max;
    const char* initial;
  };
  const field_case cases[] = {
      {"V\xB1" "3\xB9", true, true, 1, "3"},
      {"V\xB1" "1E240\xB2", true, true, 9, "123456"},
      {"V\xB1Shop\xAA", true, false, 24, "Shop"},
      {"V=3\xB9", false, false, 0, ""},
      {"V=Shop\xAA", false, false, 0, ""},
  };
  for (const field_case& c : cases) {
    const setup_tree tree = tree_of(std::string("1$R!F:[") + c.body + "]");
    const edit_field f = label_edit_field(*tree.find("R\\F\\V"));
    EXPECT_EQ(f.allowed, c.allowed) << c.body;
    EXPECT_EQ(f.digits_only, c.digits) << c.body;
    EXPECT_EQ(f.max_chars, c.max) << c.body;
    EXPECT_EQ(f.initial, c.initial) << c.body;
  }
  const setup_tree tree = tree_of(kExample);
  for (const char* key : {"PRN", "PRN\\Comm", "PRN\\Comm\\9600", "PRN\\Comm\\19200"}) {
    EXPECT_FALSE(label_edit_field(*tree.find(key)).allowed) << key;
  }
}

TEST(LabelEditTest, TypedCharacters) {
  const edit_field digit{true, true, 1, "0"};
  const edit_field number{true, true, 9, "5"};
  const edit_field text{true, false, 24, "a"};
  struct typed_case {
    const edit_field* field;
    char32_t c;
    std::size_t current;
    typed_key expected;
  };
  const typed_case cases[] = {
      {&digit, U'0', 0, typed_key::accept},
      {&digit, U'1', 0, typed_key::refuse_with_beep},
      {&digit, U'9', 0, typed_key::refuse_with_beep},
      {&digit, U'\u00B9', 0, typed_key::refuse_with_beep},
      {&digit, U'\u00AA', 0, typed_key::refuse_with_beep},
      {&digit, U'\u00B3', 0, typed_key::refuse_with_beep},
      {&digit, U'$', 0, typed_key::refuse},  // not a digit: the field refuses it silently
      {&digit, U'0', 1, typed_key::refuse},  // full
      {&digit, U'\b', 1, typed_key::accept},
      {&number, U'7', 8, typed_key::accept},
      {&number, U'7', 9, typed_key::refuse},
      {&number, U'x', 0, typed_key::refuse},
      {&number, U'$', 0, typed_key::refuse_with_beep},
      {&text, U'\u00B2', 0, typed_key::refuse_with_beep},  // "²" and "÷" are separators of the block too
      {&text, U'\u00F7', 0, typed_key::refuse_with_beep},
      {&text, U'\u00E9', 23, typed_key::accept},
      {&text, U'e', 24, typed_key::refuse},
  };
  for (const typed_case& c : cases) {
    EXPECT_EQ(check_typed(*c.field, c.c, c.current), c.expected) << static_cast<std::uint32_t>(c.c);
  }
  for (const char32_t c : {U'$', U'!', U':', U';', U'|', U'[', U']', U'=', U'\u00B1', U'\u00B9', U'\u00AA', U'\u00B3',
                           U'\u00AB'}) {
    EXPECT_EQ(check_typed(text, c, 0), typed_key::refuse_with_beep) << static_cast<std::uint32_t>(c);
  }
}

TEST(LabelEditTest, PastedTexts) {
  for (const char* refused : {"a$", "!", ":", ";", "|", "[", "]", "=", "\xC2\xB1", "\xC2\xAA", "\xC2\xB9", "\xC2\xB2",
                              "x\xC2\xAB", "a\xC3\xB7" "b"}) {
    EXPECT_FALSE(paste_allowed(refused)) << refused;
  }
  for (const char* allowed : {"Corner Store", "\xC2\xB3", "Caf\xC3\xA9 #1", ""}) {
    EXPECT_TRUE(paste_allowed(allowed)) << allowed;
  }
}

TEST(LabelEditTest, WholeNewValues) {
  const edit_field digit{true, true, 1, "1"};
  const edit_field number{true, true, 9, "5"};
  const edit_field text{true, false, 24, "a"};
  const edit_field read_only{};
  struct value_case {
    const edit_field* field;
    const char* value;
    bool ok;
  };
  const value_case cases[] = {
      {&digit, "0", true},          {&digit, "1", false},         {&digit, "00", false},
      {&number, "123456789", true}, {&number, "1234567890", false}, {&number, "12a", false},
      {&text, "Corner Store", true}, {&text, "Caf\xC3\xA9", true},  {&text, "a;b", false},
      {&text, "2\xC2\xB2", false},  // "²"
      {&text, "\xC3\xB7", false},   // "÷"
      {&text, "\xC5\x82", false},  // a letter code page 1252 lacks
      {&text, "tab\there", false},  {&text, "xxxxxxxxxxxxxxxxxxxxxxxxx", false},  // 25 characters
      {&text, "", false},           {&read_only, "0", false},
  };
  for (const value_case& c : cases) {
    EXPECT_EQ(check_new_value(*c.field, c.value).empty(), c.ok) << c.value;
  }
}

}  // namespace
