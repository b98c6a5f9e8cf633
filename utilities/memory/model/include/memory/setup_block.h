// The printer's setup block: its frame (request command, body, checksum field), the one walk over
// its body that serves both the setup tree and the download block, the tree itself and the rules
// for editing a value's label. UI-free; texts are UTF-8, the block's bytes are code page 1252.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace memory {

// Separators of the body: each ends the token in front of it.
inline constexpr unsigned char kSepIdentifier = 0x24;  // "$" setup identifier
inline constexpr unsigned char kSepRoot = 0x21;        // "!" name of the root
inline constexpr unsigned char kSepFolder = 0x3A;      // ":" folder name
inline constexpr unsigned char kSepHidden = 0xF7;      // "÷" hidden folder name
inline constexpr unsigned char kSepDescend = 0x5B;     // "[" into the last folder
inline constexpr unsigned char kSepAscend = 0x5D;      // "]" up one level
inline constexpr unsigned char kSepOption = 0x3B;      // ";" option name
inline constexpr unsigned char kSepSelection = 0x7C;   // "|" selected option, hexadecimal index
inline constexpr unsigned char kSepValue = 0x3D;       // "=" read-only value name
inline constexpr unsigned char kSepEditable = 0xB1;    // "±" editable value name
inline constexpr unsigned char kSepText = 0xAA;        // "ª" text of the last value
inline constexpr unsigned char kSepDigit = 0xB9;       // "¹" one-digit number, hexadecimal
inline constexpr unsigned char kSepNumber = 0xB2;      // "²" number of up to nine digits, hexadecimal
inline constexpr unsigned char kSepDrop = 0xAB;        // "«" the token is dropped

// Control bytes of the upload.
inline constexpr char kAck = '\x06';
inline constexpr char kNak = '\x15';
inline constexpr char kCan = '\x18';

// The request commands: ESC } SP a for the full printer setup, ESC } SP m for the memory setup.
inline constexpr std::string_view kFullSetupRequest{"\x1b\x7d\x20\x61", 4};
inline constexpr std::string_view kMemorySetupRequest{"\x1b\x7d\x20\x6d", 4};
// The request command of a program: the full setup for the upper-cased name "SETUP", else memory.
std::string_view request_command_for(std::string_view exe_name);
// True when the upper-cased executable name is "SETUP".
bool is_full_setup_program(std::string_view exe_name);

// Image keys of the tree's nodes (NormalImgList, in its order).
inline constexpr char kImageDomain[] = "Domain";
inline constexpr char kImageServer[] = "Server";
inline constexpr char kImagePrinter[] = "Printer";
inline constexpr char kImageSetup[] = "Setup";
inline constexpr char kImageUOption[] = "UOption";
inline constexpr char kImageCOption[] = "COption";
inline constexpr char kImageCFolder[] = "CFolder";
inline constexpr char kImageOFolder[] = "OFolder";
inline constexpr char kImageNValue[] = "NValue";
inline constexpr char kImageMNValue[] = "MNValue";
inline constexpr char kImageAValue[] = "AValue";
inline constexpr char kImageMAValue[] = "MAValue";
// State images of MaskImgList (1-based indexes).
inline constexpr int kStateBlank = 1;
inline constexpr int kStateCFolder = 2;
inline constexpr int kStateOFolder = 3;

// Tags of value nodes: the separator that gave the value (UTF-8).
inline constexpr char kTagText[] = "\xC2\xAA";    // "ª"
inline constexpr char kTagDigit[] = "\xC2\xB9";   // "¹"
inline constexpr char kTagNumber[] = "\xC2\xB2";  // "²"

// What a node is.
enum class node_kind { root, folder, option, value };

// One node of tvwSetup.
struct setup_node {
  node_kind kind = node_kind::root;
  std::string key;             // the root's name, else the folder's key, a backslash and the name
  std::string parent_key;      // "" for the root
  std::string name;            // the node's own name
  std::string text;            // the label: the name, or the name "=" the value
  std::string image;           // "Setup", "CFolder", "UOption", "COption", "NValue", ...
  std::string expanded_image;  // "OFolder" for folders, else ""
  std::string tag;             // values: kTagText, kTagDigit or kTagNumber once given; else ""
  bool hidden = false;         // never set on nodes of the tree: hidden folders get no nodes
  bool expanded = false;
  std::vector<std::size_t> children;  // indexes into setup_tree::nodes(), in order
};

// The nodes of tvwSetup, parents before their children; found by key.
class setup_tree {
 public:
  const std::vector<setup_node>& nodes() const { return nodes_; }
  bool empty() const { return nodes_.empty(); }
  const setup_node* find(std::string_view key) const;
  setup_node* find(std::string_view key);
  // The children of node `key` ("" : the top-level nodes), in order.
  std::vector<const setup_node*> children(std::string_view key) const;
  // The parent of node `key`, null for the top level.
  const setup_node* parent(std::string_view key) const;
  // True once the block held an editable value (the tree's label editing is automatic).
  bool label_editing_automatic() const { return label_editing_; }
  void set_label_editing_automatic() { label_editing_ = true; }
  // Adds `node` under its parent_key (which must exist unless it is ""); false when its key is
  // already used.
  bool add(setup_node node);
  void clear();

 private:
  std::vector<setup_node> nodes_;
  std::unordered_map<std::string, std::size_t> index_;
  std::vector<std::size_t> top_;
  bool label_editing_ = false;
};

// The part of a value's label after its name and "=" (the whole label when it has no "=").
std::string value_text(const setup_node& node);

// Sum of the byte values of `body`, modulo 65536.
std::uint16_t body_checksum(std::string_view body);
// A checksum as four upper-case hexadecimal digits: 47 -> "002F".
std::string checksum_digits(std::uint16_t sum);

// A block split into its parts: bytes 1-4 the echoed command, then the body, then four
// hexadecimal digits and NUL.
struct block_frame {
  std::string_view header;    // the first four bytes
  std::string_view body;      // bytes 5 to n-5
  std::optional<std::uint16_t> checksum;  // the checksum field read as hexadecimal; none when unreadable
};
// Nothing when the block is too short to hold a header and a checksum field (9 bytes).
std::optional<block_frame> split_block(std::string_view block);
// True when the block's checksum field is readable and equals the sum of its body.
bool checksum_matches(std::string_view block);

// The format error that "Bad data format." reports.
inline constexpr char kBadDataFormat[] = "Bad data format.";

// What building the tree found.
struct build_result {
  bool ok = false;
  std::string identifier;  // the setup identifier (panel 1), UTF-8
  std::size_t error_offset = 0;  // offset into the body of the separator that was refused
  std::string reason;      // why the format was refused (for logs and tools; the window shows kBadDataFormat)
};

// Builds the tree from a block's body (bytes 5 to n-5) into `tree`, which is cleared first. On a
// format error the nodes built so far stay. Time and memory are bounded by the body's length.
build_result build_setup_tree(std::string_view body, setup_tree& tree);

// What building the download found.
struct download_result {
  bool ok = false;
  std::string block;   // the request command without blanks, the body, the checksum digits, NUL
  std::string reason;  // why the block could not be built
};
// Builds the download block from the uploaded block's body and the current tree: for each
// selection and value of the body, in its order, the current choice from `tree`.
download_result build_download_block(std::string_view request_command, std::string_view body, const setup_tree& tree);

// The edit field of a value's label.
struct edit_field {
  bool allowed = false;      // only "MAValue" and "MNValue" nodes may be edited
  bool digits_only = false;  // tags "¹" and "²"
  std::size_t max_chars = 0; // 1 for "¹", 9 for "²", 24 otherwise
  std::string initial;       // the current value
};
// What a typed character does to the edit field.
enum class typed_key { accept, refuse, refuse_with_beep };

// The edit field for `node` (before the edit).
edit_field label_edit_field(const setup_node& node);
// A character typed into `field` whose current text has `current_chars` characters; control
// characters (backspace, below 0x20) always pass.
typed_key check_typed(const edit_field& field, char32_t c, std::size_t current_chars);
// True when clipboard text `text` (UTF-8) may be pasted; false means refused with a beep.
bool paste_allowed(std::string_view text);
// Checks a whole new value as if it were typed into `field` (the posutil path); "" when it is
// acceptable, else why not.
std::string check_new_value(const edit_field& field, std::string_view text);

}  // namespace memory
