// Fuzz target of the .reg file parser and writer: arbitrary bytes as a registry file. Besides
// crashes and sanitizer reports it stops when a parsed file breaks the registry's limits, or when
// the tree it describes, written back as text, does not parse to the same tree.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "reg_format.h"
#include "require.h"

namespace {

using namespace platform::reg_format;

// The tree of one root that the sections describe, applied in file order (names compared
// exactly: the store's case folding is not the parser's concern).
struct forest {
  key_node roots[3];

  key_node& root_of(platform::registry_root root) { return roots[static_cast<int>(root) % 3]; }

  void apply(const document& doc) {
    for (const section& s : doc.sections) {
      key_node* key = &root_of(s.root);
      if (s.remove) {
        remove(*key, s.path);
        continue;
      }
      for (const std::string& name : s.path) key = &child(*key, name);
      for (const entry& e : s.entries) set(*key, e);
    }
  }

  static key_node& child(key_node& key, const std::string& name) {
    for (auto& sub : key.subkeys) {
      if (sub->name == name) return *sub;
    }
    key.subkeys.push_back(std::make_unique<key_node>());
    key.subkeys.back()->name = name;
    return *key.subkeys.back();
  }

  static void remove(key_node& root, const std::vector<std::string>& path) {
    key_node* parent = &root;
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
      key_node* next = nullptr;
      for (auto& sub : parent->subkeys) {
        if (sub->name == path[i]) next = sub.get();
      }
      if (next == nullptr) return;
      parent = next;
    }
    std::erase_if(parent->subkeys, [&](const auto& sub) { return sub->name == path.back(); });
  }

  static void set(key_node& key, const entry& e) {
    std::erase_if(key.values, [&](const value& v) { return v.name == e.item.name; });
    if (!e.remove) key.values.push_back(e.item);
  }
};

bool same(const key_node& a, const key_node& b) {
  if (a.name != b.name || a.values.size() != b.values.size() || a.subkeys.size() != b.subkeys.size()) return false;
  for (std::size_t i = 0; i < a.values.size(); ++i) {
    const value& x = a.values[i];
    const value& y = b.values[i];
    if (x.name != y.name || x.type != y.type || x.data != y.data) return false;
  }
  for (std::size_t i = 0; i < a.subkeys.size(); ++i) {
    if (!same(*a.subkeys[i], *b.subkeys[i])) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  document doc;
  std::string error;
  if (!parse(bytes, "fuzz.reg", doc, error)) {
    require(!error.empty());
    return 0;
  }
  for (const section& s : doc.sections) {
    require(s.path.size() <= kMaxKeyDepth);
    for (const std::string& name : s.path) require(is_valid_key_name(name));
    for (const entry& e : s.entries) require(is_valid_value_name(e.item.name));
  }

  forest tree;
  tree.apply(doc);
  std::string text(kHeader);
  text += "\r\n\r\n";
  const platform::registry_root roots[] = {platform::registry_root::local_machine,
                                           platform::registry_root::current_user,
                                           platform::registry_root::classes_root};
  for (const platform::registry_root root : roots) append_key(text, root, "", tree.root_of(root));

  document again;
  require(parse(text, "written.reg", again, error));
  forest reread;
  reread.apply(again);
  for (int i = 0; i < 3; ++i) require(same(tree.roots[i], reread.roots[i]));
  return 0;
}
