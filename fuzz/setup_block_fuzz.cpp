// Fuzz target of the setup editor's block walk (utilities/memory/model/setup_block.cpp): the tree
// built from a body, then the download block built from that tree. Besides crashes, sanitizer
// reports and runaway time it stops when a result breaks a promise: a refused body says why; the
// tree has fewer nodes than the body has bytes and every node hangs under a node of the tree; an
// accepted body always gives a download block that starts with the command without its blank,
// ends with a checksum of its body and NUL, and grows at most as hexadecimal numbers written in
// decimal can make it grow; and a value edited within the editor's rules downloads as edited.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "memory/setup_block.h"
#include "require.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  memory::setup_tree tree;
  const memory::build_result built = memory::build_setup_tree(body, tree);
  require(built.ok || !built.reason.empty());
  require(built.ok || built.error_offset < body.size());
  require(tree.nodes().size() <= body.size() / 2);
  for (const memory::setup_node& n : tree.nodes()) {
    require(n.parent_key.empty() || tree.find(n.parent_key) != nullptr);
    require(!n.name.empty());
    require(!n.hidden);
  }
  if (!built.ok) return 0;

  const memory::download_result down = memory::build_download_block(memory::kMemorySetupRequest, body, tree);
  require(down.ok);
  const std::string& block = down.block;
  require(block.size() >= 3 + 4 + 1);
  require(block.compare(0, 3, "\x1b\x7d\x6d") == 0);
  require(block.back() == '\0');
  const std::string_view sent(block.data() + 3, block.size() - 3 - 5);
  require(block.compare(block.size() - 5, 4, memory::checksum_digits(memory::body_checksum(sent))) == 0);
  // "F" (one digit) may come back as "15": two bytes for one; texts keep their length.
  require(sent.size() <= 2 * body.size());

  // The first editable text value changed to a text the editor accepts downloads with that text.
  for (const memory::setup_node& n : tree.nodes()) {
    const memory::edit_field field = memory::label_edit_field(n);
    if (!field.allowed || n.tag != memory::kTagText) continue;  // a value the block gave a text
    require(memory::check_new_value(field, "Edited 1").empty());
    memory::setup_tree edited = tree;
    edited.find(n.key)->text = n.name + "=Edited 1";
    const memory::download_result again = memory::build_download_block(memory::kMemorySetupRequest, body, edited);
    require(again.ok);
    require(again.block.find("Edited 1|") != std::string::npos);
    break;
  }
  return 0;
}
