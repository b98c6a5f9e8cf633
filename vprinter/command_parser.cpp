// The command-set state machine: prefix matching, length rules, partial commands across writes.
#include "command_parser.h"

#include <algorithm>
#include <cstdio>

#include "machine.h"

namespace vprinter::detail {
namespace {

bool printable(unsigned char c) { return c >= 0x20; }

std::string hex(std::string_view bytes) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < bytes.size() && i < 16; ++i) {
    std::snprintf(buf, sizeof buf, "%s%02X", i ? " " : "", static_cast<unsigned char>(bytes[i]));
    out += buf;
  }
  return out;
}

}  // namespace

void command_parser::reset() {
  pending_.clear();
  row_ = nullptr;
  need_ = 0;
  skip_ = 0;
}

namespace {

std::uint16_t first_two(std::string_view bytes) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[0]) << 8 | static_cast<unsigned char>(bytes[1]));
}

}  // namespace

const command_parser::prefix_index* command_parser::index_for(const command_set& set) {
  for (const auto& index : indexes_)
    if (index->set == &set) return index.get();
  auto index = std::make_shared<prefix_index>();
  index->set = &set;
  for (const auto& row : set.rows) {
    if (row.prefix.empty()) {
      index->unprefixed.push_back(&row);
      continue;
    }
    const auto first = static_cast<unsigned char>(row.prefix[0]);
    if (row.prefix.size() == 1) {
      if (!index->single[first]) index->single[first] = &row;
    } else {
      index->longer[first] = true;
      index->by_two[first_two(row.prefix)].push_back(&row);
    }
  }
  indexes_.push_back(index);
  return index.get();
}

const command_row* command_parser::match(bool& more) const {
  const command_row* best = nullptr;
  more = false;
  const auto consider = [&](const command_row& row) {
    if (row.prefix.size() > pending_.size()) {
      if (row.prefix.substr(0, pending_.size()) == pending_) more = true;
    } else if (std::string_view(pending_).substr(0, row.prefix.size()) == row.prefix) {
      if (!best || row.prefix.size() > best->prefix.size()) best = &row;
    }
  };
  for (const command_row* row : index_->unprefixed) consider(*row);
  const auto first = static_cast<unsigned char>(pending_[0]);
  if (const command_row* row = index_->single[first]) consider(*row);
  if (pending_.size() == 1) {
    more = more || index_->longer[first];
  } else if (const auto rows = index_->by_two.find(first_two(pending_)); rows != index_->by_two.end()) {
    for (const command_row* row : rows->second) consider(*row);
  }
  // A longer command may still match: wait for its next byte before settling on a shorter one.
  if (more) return nullptr;
  return best;
}

std::size_t command_parser::feed(machine& m, std::string_view bytes, std::uint64_t offset) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (skip_ > 0) {
      const std::size_t n = std::min(skip_, bytes.size() - i);
      skip_ -= n;
      i += n;
      continue;
    }

    // Printable bytes between commands are text.
    if (pending_.empty() && printable(static_cast<unsigned char>(bytes[i]))) {
      std::size_t j = i;
      while (j < bytes.size() && printable(static_cast<unsigned char>(bytes[j]))) ++j;
      if (set_->text) {
        m.command_offset = offset + i;
        set_->text(m, bytes.substr(i, j - i));
      }
      i = j;
      continue;
    }

    if (pending_.empty()) start_ = offset + i;

    // Collect the prefix until one row matches.
    if (!row_) {
      pending_.push_back(bytes[i++]);
      bool more = false;
      row_ = match(more);
      if (!row_) {
        if (more) continue;
        // No command starts so: the bytes are dropped, but a control byte that ends them may
        // start the next command and is looked at again.
        std::string bad = pending_;
        if (set_->strays == stray_policy::log_unknown)
          m.note_at(log_entry::kind::unknown, start_, std::string(set_->label) + "unknown command " + hex(bad));
        reset();
        if (bad.size() > 1 && !printable(static_cast<unsigned char>(bad.back()))) --i;
        continue;
      }
    }

    // Find the command's length, one byte at a time while its rule needs more.
    if (need_ == 0) {
      while ((need_ = row_->length(pending_)) == 0) {
        if (pending_.size() >= kMaxCommandBytes) break;
        if (i >= bytes.size()) return i;  // the rest comes with a later write
        pending_.push_back(bytes[i++]);
      }
      if (need_ == 0) {
        m.note_at(log_entry::kind::note, start_, std::string(row_->name) + ": parameters too long, dropped");
        reset();
        continue;
      }
      need_ = std::max(need_, pending_.size());
      if (need_ > kMaxCommandBytes) {
        ++m.skipped;
        m.note_at(log_entry::kind::note, start_, std::string(row_->name) + ": " + std::to_string(need_) +
                                                     " bytes, too long to keep; skipped");
        const std::size_t skip = need_ - pending_.size();
        reset();
        skip_ = skip;
        continue;
      }
    }

    const std::size_t take = std::min(need_ - pending_.size(), bytes.size() - i);
    pending_.append(bytes.substr(i, take));
    i += take;
    if (pending_.size() == need_) {
      const command_row* row = row_;
      std::string cmd;
      cmd.swap(pending_);
      reset();
      m.command_offset = start_;
      row->run(m, cmd);
      if (m.stop_feeding) {
        m.stop_feeding = false;
        return i;
      }
    }
  }
  return i;
}

}  // namespace vprinter::detail
