// The two-colour model's part of the command set: character colour (GS ( N), the red planes of
// graphics, and the key-code list sent in blocks that the host acknowledges.
#include "colour_commands.h"

#include <algorithm>

namespace vprinter::detail {
namespace {

constexpr char kWhyOneColour[] = "colour selection ignored (one-colour printer)";
// Identification byte of a key-list block: the last one, or more to follow.
constexpr char kLastBlock = 0x40;
constexpr char kMoreBlocks = 0x41;

// Sends the next block of the key-code list and waits for its ACK.
void send_next_block(machine& m) {
  const std::size_t block_bytes = static_cast<std::size_t>(std::max(m.cfg().key_list_block_keys, 1)) * 2;
  const std::string keys = m.key_list_rest.substr(0, block_bytes);
  m.key_list_rest.erase(0, keys.size());
  const char id = m.key_list_rest.empty() ? kLastBlock : kMoreBlocks;
  m.answer(std::string("\x37\x72", 2) + id + keys + std::string(1, '\0'));
  m.awaiting_key_list_ack = true;
}

}  // namespace

void on_character_colour(machine& m, std::string_view b) {
  // GS ( N pL pH fn m: function 48 selects the character colour, m "1" black or "2" red.
  const std::string_view p = b.substr(5);
  if (!m.cfg().two_colour()) {
    m.note(log_entry::kind::ignored, kWhyOneColour);
    return;
  }
  if (p.size() != 2 || p[0] != 0x30 || (p[1] != 0x31 && p[1] != 0x32)) {
    m.note(log_entry::kind::ignored, "GS ( N: only character colour 1 or 2 is supported");
    return;
  }
  m.print.modes.red = p[1] == 0x32;
}

void machine::send_key_list() {
  key_list_rest.clear();
  for (const auto& [key, img] : graphics) key_list_rest += key;
  // The first block goes out now; the others each after the host's ACK of the one before.
  send_next_block(*this);
}

bool machine::key_list_acknowledged() {
  if (!awaiting_key_list_ack) return false;
  awaiting_key_list_ack = false;
  // The ACK of the last block ends the exchange.
  if (!key_list_rest.empty()) send_next_block(*this);
  return true;
}

void merge_into(bitmap& into, const bitmap& plane) {
  if (into.width() != plane.width() || into.height() != plane.height()) {
    into = plane;
    return;
  }
  for (int y = 0; y < plane.height(); ++y)
    for (int x = 0; x < plane.width(); ++x)
      if (plane.get(x, y)) into.set(x, y);
}

}  // namespace vprinter::detail
