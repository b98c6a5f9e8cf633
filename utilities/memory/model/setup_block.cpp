// The setup block: its frame and checksum, the walk over its body (one walk, two users: the tree
// and the download block), the tree, and the label editor's rules.
#include "memory/setup_block.h"

#include <algorithm>
#include <cctype>
#include <unordered_set>

#include "platform/codepage.h"

namespace memory {
namespace {

constexpr int kBlockCodepage = 1252;
constexpr std::size_t kHeaderBytes = 4;
constexpr std::size_t kChecksumFieldBytes = 5;  // four hexadecimal digits and NUL
constexpr std::size_t kMaxHexDigits = 8;        // a 32-bit number

bool is_separator(unsigned char b) {
  switch (b) {
    case kSepIdentifier: case kSepRoot: case kSepFolder: case kSepHidden: case kSepDescend:
    case kSepAscend: case kSepOption: case kSepSelection: case kSepValue: case kSepEditable:
    case kSepText: case kSepDigit: case kSepNumber: case kSepDrop:
      return true;
    default:
      return false;
  }
}

// A token read as hexadecimal (1 to 8 digits, either case); nothing when it is not a number.
std::optional<std::uint32_t> parse_hex(std::string_view token) {
  if (token.empty() || token.size() > kMaxHexDigits) return std::nullopt;
  std::uint32_t v = 0;
  for (const char c : token) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else return std::nullopt;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  return v;
}

std::string utf8(std::string_view bytes) { return platform::codepage_to_utf8(bytes, kBlockCodepage); }

// Why the walk stopped.
struct walk_error {
  std::size_t offset = 0;
  std::string reason;
};

// The walk over a body, as both the tree and the download need it: the current path, the last
// folder, the last value, the option list and the hidden region, and every structural check. It
// tells `Visitor` what each separator means:
//   identifier(token bytes)
//   node(setup_node)                               a node to create (root, folder, option, value)
//   selection(hidden, number, option keys)         a non-empty selection token
//   value_text(value key, token bytes)             0xAA
//   value_number(value key, separator, number)     0xB9, 0xB2
// A visitor returns "" to go on, or why the walk must stop.
template <class Visitor>
std::optional<walk_error> walk_body(std::string_view body, Visitor& visitor) {
  std::string path;         // the current path ("" before the root)
  std::string last_folder;  // the last folder's key ("" before the first)
  std::string last_value;   // the last value's key
  bool value_given = false;  // the last value has had its text or number
  std::vector<std::string> options;  // keys of the current option list
  std::optional<std::string> hidden_level;  // the path where the open hidden region was declared
  std::unordered_set<std::string> keys;     // keys of the nodes created so far
  // Keys repeat their folder's key, so nested names could make them grow faster than the body;
  // their total is held to a multiple of the body's length.
  const std::size_t key_budget = 64 * body.size() + 4096;
  std::size_t key_bytes = 0;

  std::size_t token_start = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const auto sep = static_cast<unsigned char>(body[i]);
    // NUL ends a block on the wire, so it never belongs to a body; nor could a value holding it
    // be sent back.
    if (sep == 0) return walk_error{i, "a NUL inside the body"};
    if (!is_separator(sep)) continue;
    const std::string_view token = body.substr(token_start, i - token_start);
    token_start = i + 1;
    auto fail = [&](std::string reason) { return walk_error{i, std::move(reason)}; };
    // Adds a node of `kind` named by the token in folder `parent`.
    auto make_node = [&](node_kind kind, const std::string& parent, const char* image) -> std::optional<walk_error> {
      if (token.empty()) return fail("a name is empty");
      if (kind != node_kind::root && !keys.contains(parent)) return fail("no folder node to attach to");
      setup_node n;
      n.kind = kind;
      n.name = utf8(token);
      n.key = kind == node_kind::root ? n.name : parent + "\\" + n.name;
      n.parent_key = kind == node_kind::root ? std::string() : parent;
      n.text = n.name;
      n.image = image;
      if (kind == node_kind::folder) n.expanded_image = kImageOFolder;
      if (kind == node_kind::root) n.expanded = true;
      key_bytes += n.key.size();
      if (key_bytes > key_budget) return fail("the tree's keys outgrow the block");
      if (!keys.insert(n.key).second) return fail("the name " + n.name + " is used twice in one folder");
      if (kind == node_kind::option) options.push_back(n.key);
      if (kind == node_kind::value) {
        last_value = n.key;
        value_given = false;
      }
      std::string problem = visitor.node(std::move(n));
      if (!problem.empty()) return fail(std::move(problem));
      return std::nullopt;
    };
    std::optional<walk_error> err;
    switch (sep) {
      case kSepIdentifier:
        if (std::string problem = visitor.identifier(token); !problem.empty()) err = fail(std::move(problem));
        break;
      case kSepRoot:
        err = make_node(node_kind::root, {}, kImageSetup);
        if (!err) path = utf8(token);
        break;
      case kSepFolder:
        last_folder = path + "\\" + utf8(token);
        if (!hidden_level || *hidden_level == path) {
          hidden_level.reset();
          err = make_node(node_kind::folder, path, kImageCFolder);
          options.clear();
        }
        break;
      case kSepHidden:
        last_folder = path + "\\" + utf8(token);
        if (!hidden_level) hidden_level = path;
        break;
      case kSepDescend:
        if (last_folder.empty()) err = fail("a descent without a folder");
        else path = last_folder;
        break;
      case kSepAscend: {
        if (hidden_level && *hidden_level == path) hidden_level.reset();
        const std::size_t cut = path.rfind('\\');
        if (cut == std::string::npos) err = fail("an ascent above the root");
        else path.resize(cut);
        break;
      }
      case kSepOption:
        if (!hidden_level) err = make_node(node_kind::option, last_folder, kImageUOption);
        break;
      case kSepSelection: {
        if (token.empty()) break;
        const std::optional<std::uint32_t> n = parse_hex(token);
        if (!n) {
          err = fail("the selection " + utf8(token) + " is not a hexadecimal number");
        } else if (!hidden_level && *n >= options.size()) {
          err = fail("the selection " + utf8(token) + " lies outside the option list");
        } else if (std::string problem = visitor.selection(hidden_level.has_value(), *n, options); !problem.empty()) {
          err = fail(std::move(problem));
        }
        break;
      }
      case kSepValue:
      case kSepEditable:
        if (hidden_level) err = fail("a value inside a hidden folder");
        else err = make_node(node_kind::value, last_folder, sep == kSepEditable ? kImageMNValue : kImageNValue);
        break;
      case kSepText:
        // A value given twice would be sent back twice, each time with its last text: refused, so
        // that the download stays as long as the block.
        if (last_value.empty()) err = fail("a text without a value");
        else if (value_given) err = fail("the value " + last_value + " is given twice");
        else if (std::string problem = visitor.value_text(last_value, token); !problem.empty()) err = fail(std::move(problem));
        break;
      case kSepDigit:
      case kSepNumber: {
        const std::optional<std::uint32_t> n = parse_hex(token);
        if (last_value.empty()) err = fail("a number without a value");
        else if (value_given) err = fail("the value " + last_value + " is given twice");
        else if (!n) err = fail("the number " + utf8(token) + " is not hexadecimal");
        else if (std::string problem = visitor.value_number(last_value, sep, *n); !problem.empty()) err = fail(std::move(problem));
        break;
      }
      default:  // kSepDrop: the token is dropped
        break;
    }
    if (err) return err;
    if (sep == kSepText || sep == kSepDigit || sep == kSepNumber) value_given = true;
  }
  return std::nullopt;
}

// Builds the tree.
struct tree_visitor {
  setup_tree& tree;
  std::string ident;

  std::string identifier(std::string_view token) {
    ident = utf8(token);
    return {};
  }
  std::string node(setup_node n) {
    if (n.image == std::string_view(kImageMNValue)) tree.set_label_editing_automatic();
    return tree.add(std::move(n)) ? std::string() : std::string("a key is used twice");
  }
  std::string selection(bool hidden, std::uint32_t index, const std::vector<std::string>& options) {
    if (hidden) return {};
    setup_node* n = tree.find(options[index]);
    if (n == nullptr) return "a selection without its option";
    n->image = kImageCOption;
    return {};
  }
  std::string value_text(const std::string& key, std::string_view token) {
    setup_node* n = tree.find(key);
    if (n == nullptr) return "a text without its value";
    n->image = n->image == std::string_view(kImageMNValue) ? kImageMAValue : kImageAValue;
    n->tag = kTagText;
    n->text = n->name + "=" + utf8(token);
    return {};
  }
  std::string value_number(const std::string& key, unsigned char sep, std::uint32_t number) {
    setup_node* n = tree.find(key);
    if (n == nullptr) return "a number without its value";
    n->tag = sep == kSepDigit ? kTagDigit : kTagNumber;
    n->text = n->name + "=" + std::to_string(number);
    return {};
  }
};

// Builds the download body.
struct download_visitor {
  const setup_tree& tree;
  std::string body;

  std::string identifier(std::string_view token) {
    body.append(token);
    body += static_cast<char>(kSepIdentifier);
    return {};
  }
  std::string node(const setup_node&) { return {}; }
  std::string selection(bool hidden, std::uint32_t number, const std::vector<std::string>& options) {
    if (!hidden) {
      // The position of the option that is selected now; the printer's own index when none is.
      for (std::size_t i = 0; i < options.size(); ++i) {
        const setup_node* n = tree.find(options[i]);
        if (n != nullptr && n->image == std::string_view(kImageCOption)) {
          number = static_cast<std::uint32_t>(i);
          break;
        }
      }
    }
    body += std::to_string(number);
    body += static_cast<char>(kSepSelection);
    return {};
  }
  std::string value(const std::string& key) {
    const setup_node* n = tree.find(key);
    if (n == nullptr) return "the value " + key + " is not in the tree";
    const std::string bytes = platform::utf8_to_codepage(memory::value_text(*n), kBlockCodepage);
    // A separator or NUL inside a value would change the block's meaning for the printer.
    for (const char c : bytes) {
      if (c == '\0' || is_separator(static_cast<unsigned char>(c))) return "the value of " + key + " holds a separator";
    }
    body += bytes;
    body += static_cast<char>(kSepSelection);
    return {};
  }
  std::string value_text(const std::string& key, std::string_view) { return value(key); }
  std::string value_number(const std::string& key, unsigned char, std::uint32_t) { return value(key); }
};

}  // namespace

bool is_full_setup_program(std::string_view exe_name) {
  std::string upper(exe_name);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  return upper == "SETUP";
}

std::string_view request_command_for(std::string_view exe_name) {
  return is_full_setup_program(exe_name) ? kFullSetupRequest : kMemorySetupRequest;
}

const setup_node* setup_tree::find(std::string_view key) const {
  const auto it = index_.find(std::string(key));
  return it == index_.end() ? nullptr : &nodes_[it->second];
}

setup_node* setup_tree::find(std::string_view key) {
  const auto it = index_.find(std::string(key));
  return it == index_.end() ? nullptr : &nodes_[it->second];
}

std::vector<const setup_node*> setup_tree::children(std::string_view key) const {
  std::vector<const setup_node*> out;
  const std::vector<std::size_t>* list = &top_;
  if (!key.empty()) {
    const setup_node* n = find(key);
    if (n == nullptr) return out;
    list = &n->children;
  }
  for (const std::size_t i : *list) out.push_back(&nodes_[i]);
  return out;
}

const setup_node* setup_tree::parent(std::string_view key) const {
  const setup_node* n = find(key);
  return n == nullptr || n->parent_key.empty() ? nullptr : find(n->parent_key);
}

bool setup_tree::add(setup_node node) {
  if (index_.contains(node.key)) return false;
  std::vector<std::size_t>* siblings = &top_;
  if (!node.parent_key.empty()) {
    const auto it = index_.find(node.parent_key);
    if (it == index_.end()) return false;
    siblings = &nodes_[it->second].children;
  }
  const std::size_t at = nodes_.size();
  siblings->push_back(at);
  index_.emplace(node.key, at);
  nodes_.push_back(std::move(node));
  return true;
}

void setup_tree::clear() {
  nodes_.clear();
  index_.clear();
  top_.clear();
  label_editing_ = false;
}

std::string value_text(const setup_node& node) {
  const std::string lead = node.name + "=";
  if (node.text.starts_with(lead)) return node.text.substr(lead.size());
  const std::size_t eq = node.text.find('=');
  return eq == std::string::npos ? node.text : node.text.substr(eq + 1);
}

std::uint16_t body_checksum(std::string_view body) {
  std::uint32_t sum = 0;
  for (const char c : body) sum = (sum + static_cast<unsigned char>(c)) & 0xFFFFu;
  return static_cast<std::uint16_t>(sum);
}

std::string checksum_digits(std::uint16_t sum) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(4, '0');
  for (int i = 3; i >= 0; --i) {
    out[static_cast<std::size_t>(i)] = kDigits[sum & 0x0F];
    sum = static_cast<std::uint16_t>(sum >> 4);
  }
  return out;
}

std::optional<block_frame> split_block(std::string_view block) {
  if (block.size() < kHeaderBytes + kChecksumFieldBytes) return std::nullopt;
  block_frame f;
  f.header = block.substr(0, kHeaderBytes);
  f.body = block.substr(kHeaderBytes, block.size() - kHeaderBytes - kChecksumFieldBytes);
  const std::string_view field = block.substr(block.size() - kChecksumFieldBytes, 4);
  if (const std::optional<std::uint32_t> v = parse_hex(field)) f.checksum = static_cast<std::uint16_t>(*v);
  return f;
}

bool checksum_matches(std::string_view block) {
  const std::optional<block_frame> f = split_block(block);
  return f && f->checksum && *f->checksum == body_checksum(f->body);
}

build_result build_setup_tree(std::string_view body, setup_tree& tree) {
  tree.clear();
  tree_visitor v{tree, {}};
  build_result r;
  const std::optional<walk_error> err = walk_body(body, v);
  r.identifier = v.ident;
  if (err) {
    r.error_offset = err->offset;
    r.reason = err->reason;
    return r;
  }
  r.ok = true;
  return r;
}

download_result build_download_block(std::string_view request_command, std::string_view body, const setup_tree& tree) {
  download_visitor v{tree, {}};
  download_result r;
  if (const std::optional<walk_error> err = walk_body(body, v)) {
    r.reason = err->reason;
    return r;
  }
  for (const char c : request_command) {
    if (c != ' ') r.block += c;
  }
  r.block += v.body;
  r.block += checksum_digits(body_checksum(v.body));
  r.block += '\0';
  r.ok = true;
  return r;
}

edit_field label_edit_field(const setup_node& node) {
  edit_field f;
  f.allowed = node.image == std::string_view(kImageMAValue) || node.image == std::string_view(kImageMNValue);
  if (!f.allowed) return f;
  if (node.tag == kTagDigit) {
    f.digits_only = true;
    f.max_chars = 1;
  } else if (node.tag == kTagNumber) {
    f.digits_only = true;
    f.max_chars = 9;
  } else {
    f.max_chars = 24;
  }
  f.initial = value_text(node);
  return f;
}

typed_key check_typed(const edit_field& field, char32_t c, std::size_t current_chars) {
  if (c < 0x20 || c == 0x7F) return typed_key::accept;  // backspace and other editing keys
  if (field.max_chars == 1) {
    if ((c >= U'1' && c <= U'9') || c == U'\u00B9' || c == U'\u00AA' || c == U'\u00B3') return typed_key::refuse_with_beep;
  } else {
    // Besides the block's marks, "²" and "÷" are refused: both are separators of the block, and a
    // value holding one would cut the download block in the wrong place.
    static constexpr char32_t kRefused[] = {U'$', U'!', U':', U';', U'|', U'[', U']', U'=', U'\u00B1',
                                            U'\u00B9', U'\u00AA', U'\u00B3', U'\u00AB', U'\u00B2', U'\u00F7'};
    if (std::find(std::begin(kRefused), std::end(kRefused), c) != std::end(kRefused)) return typed_key::refuse_with_beep;
  }
  if (field.digits_only && (c < U'0' || c > U'9')) return typed_key::refuse;
  if (current_chars >= field.max_chars) return typed_key::refuse;
  return typed_key::accept;
}

bool paste_allowed(std::string_view text) {
  // "÷" as well, a separator of the block like the others.
  static constexpr char32_t kRefused[] = {U'$', U'!', U':', U';', U'|', U'[', U']', U'=',
                                          U'\u00B1', U'\u00AA', U'\u00B9', U'\u00B2', U'\u00AB', U'\u00F7'};
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t c = 0;
    if (!platform::decode_utf8_char(text, pos, c)) continue;
    if (std::find(std::begin(kRefused), std::end(kRefused), c) != std::end(kRefused)) return false;
  }
  return true;
}

std::string check_new_value(const edit_field& field, std::string_view text) {
  if (!field.allowed) return "the value cannot be edited";
  if (text.empty()) return "an empty value leaves the value unchanged";
  std::size_t count = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t c = 0;
    if (!platform::decode_utf8_char(text, pos, c)) return "the value is not UTF-8 text";
    if (c < 0x20 || c == 0x7F) return "the value holds a control character";
    switch (check_typed(field, c, count)) {
      case typed_key::refuse_with_beep:
        return field.max_chars == 1 ? "this value can only be set to 0" : "the value holds a refused character";
      case typed_key::refuse:
        if (count >= field.max_chars) return "the value is longer than " + std::to_string(field.max_chars) + " characters";
        return "the value takes digits only";
      case typed_key::accept:
        break;
    }
    ++count;
  }
  // The printer takes its texts in code page 1252; a character it lacks would arrive as "?".
  if (platform::codepage_to_utf8(platform::utf8_to_codepage(text, kBlockCodepage), kBlockCodepage) != text) {
    return "the value holds a character the printer cannot take";
  }
  return {};
}

}  // namespace memory
