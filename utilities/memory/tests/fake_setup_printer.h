// A scripted printer behind an I/O object, for the setup editor's tests: it answers the version
// queries, sends the setup blocks it is given in turn (to the request and to each NAK), answers a
// download from a list of one-byte answers or time-outs, records every write and fails any
// operation a test chooses.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "memory/prn_form.h"
#include "memory/setup_block.h"
#include "platform/dispatch_table.h"

namespace memory_test {

inline constexpr std::int32_t kTimeout = static_cast<std::int32_t>(0x80040069u);

// A block as the printer sends it: command, body, checksum (right unless `checksum` is given), NUL.
inline std::string setup_block(std::string_view request, std::string_view body, int checksum = -1) {
  const auto sum = static_cast<std::uint16_t>(checksum >= 0 ? checksum : memory::body_checksum(body));
  return std::string(request) + std::string(body) + memory::checksum_digits(sum) + std::string(1, '\0');
}

// What the printer does; shared between the test and the I/O object.
struct printer_script {
  int protocol_kind = 1;
  std::string version = "_1.02$B0.90$";       // the answer to GS I A or, after a head, to ESC ? 2
  std::vector<std::string> blocks;            // sent in turn to the request and to each NAK
  std::deque<std::string> download_answers;   // one-byte answers to a download; "" is a time-out
  // Called with each operation's name ("OpenIO", "WriteIO", ...); a non-zero result fails it.
  std::function<std::int32_t(const std::string&)> fault;

  std::vector<std::string> writes;  // every write, in order
  std::deque<std::string> pending;  // answers waiting to be read; "" is a time-out
  std::size_t next_block = 0;
  int opens = 0;
  int closes = 0;
  bool open = false;
  std::int32_t last_error = 0;

  // True when `bytes` was written as one write.
  bool wrote(std::string_view bytes) const {
    for (const std::string& w : writes) {
      if (w == bytes) return true;
    }
    return false;
  }
};

class fake_channel final : public platform::dispatch_object<fake_channel> {
 public:
  explicit fake_channel(std::shared_ptr<printer_script> s) : s_(std::move(s)) {}
  static std::span<const platform::dispatch_member<fake_channel>> dispatch_members() {
    static constexpr platform::dispatch_member<fake_channel> kMembers[] = {
        platform::dispatch_method<&fake_channel::OpenIO>("OpenIO", 1),
        platform::dispatch_method<&fake_channel::WriteIO>("WriteIO", 2),
        platform::dispatch_method<&fake_channel::ReadIO>("ReadIO", 3),
        platform::dispatch_method<&fake_channel::ReadAnswer>("ReadAnswer", 4),
        platform::dispatch_method<&fake_channel::CloseIO>("CloseIO", 9),
        platform::dispatch_method<&fake_channel::GetLastErr>("GetLastErr", 10),
        platform::dispatch_get<&fake_channel::get_ProtocolKind>("ProtocolKind", 13),
    };
    return kMembers;
  }

  std::int32_t OpenIO() {
    if (const std::int32_t rc = fault("OpenIO")) return rc;
    ++s_->opens;
    s_->open = true;
    return 0;
  }
  std::int32_t CloseIO() {
    ++s_->closes;
    s_->open = false;
    return 0;
  }
  std::int32_t WriteIO(const platform::Variant& data, std::int32_t length, std::int32_t& written, std::int32_t) {
    std::string bytes = data.string_or();
    bytes.resize(static_cast<std::size_t>(length));
    written = 0;
    if (const std::int32_t rc = fault("WriteIO")) return rc;
    written = length;
    s_->writes.push_back(bytes);
    if (bytes == "\x1d\x49\x41") {
      s_->pending.push_back(s_->version);
    } else if (bytes == "\x1b\x3f\x32") {
      s_->pending.push_back(std::string("\x01") + static_cast<char>(s_->version.size()) + '\0' + s_->version);
    } else if (bytes.starts_with("\x1b\x7d\x20") || bytes == "\x15") {
      if (s_->next_block < s_->blocks.size()) s_->pending.push_back(s_->blocks[s_->next_block++]);
    } else if (bytes.starts_with("\x1b\x7d")) {
      for (const std::string& a : s_->download_answers) s_->pending.push_back(a);
    }
    return 0;
  }
  std::int32_t ReadIO(std::string& buffer, std::int32_t length, std::int32_t& read) {
    read = 0;
    if (const std::int32_t rc = fault("ReadIO")) return rc;
    std::string got;
    while (got.size() < static_cast<std::size_t>(length)) {
      if (s_->pending.empty() || s_->pending.front().empty()) {
        if (!s_->pending.empty()) s_->pending.pop_front();
        return timeout(buffer, got, read);
      }
      std::string& front = s_->pending.front();
      const std::size_t take = std::min(front.size(), static_cast<std::size_t>(length) - got.size());
      got += front.substr(0, take);
      front.erase(0, take);
      if (front.empty()) s_->pending.pop_front();
    }
    buffer = got;
    read = length;
    return 0;
  }
  std::int32_t ReadAnswer(std::string& text, std::int32_t& count, std::int32_t) {
    text.clear();
    count = 0;
    if (const std::int32_t rc = fault("ReadAnswer")) return rc;
    if (s_->pending.empty() || s_->pending.front().empty()) {
      if (!s_->pending.empty()) s_->pending.pop_front();
      s_->last_error = kTimeout;
      return kTimeout;
    }
    text = s_->pending.front();
    s_->pending.pop_front();
    count = static_cast<std::int32_t>(text.size());
    return 0;
  }
  std::int32_t GetLastErr(std::int32_t& number, std::string& description, std::string& source) {
    number = s_->last_error;
    description = number == kTimeout ? "No answer within the time-out." : "The printer went away.";
    source = "fake";
    return 0;
  }
  std::int32_t get_ProtocolKind() const { return s_->protocol_kind; }

 private:
  std::int32_t fault(const std::string& op) {
    const std::int32_t rc = s_->fault ? s_->fault(op) : 0;
    if (rc != 0) s_->last_error = rc;
    return rc;
  }
  std::int32_t timeout(std::string& buffer, const std::string& got, std::int32_t& read) {
    buffer = got;
    read = static_cast<std::int32_t>(got.size());
    s_->last_error = kTimeout;
    return kTimeout;
  }

  std::shared_ptr<printer_script> s_;
};

// A window for tests: every panel text, message and question recorded, questions answered from a
// queue (Cancel when it runs dry), beeps counted.
struct recording_ui : memory::prn_form_ui {
  std::vector<std::pair<int, std::string>> panels;  // (panel, text) in order
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::deque<utilities::box_answer> answers;
  int beeps = 0;
  bool busy = false;

  void set_status(int panel, const std::string& text) override { panels.emplace_back(panel, text); }
  void show_message(const std::string& text) override { messages.push_back(text); }
  void message_box(const std::string& text, utilities::box_icon) override { messages.push_back(text); }
  utilities::box_answer ask(const std::string& text, utilities::box_buttons, utilities::box_icon) override {
    questions.push_back(text);
    if (answers.empty()) return utilities::box_answer::cancel;
    const utilities::box_answer a = answers.front();
    answers.pop_front();
    return a;
  }
  void pump(int) override {}
  bool end_requested() const override { return false; }
  void set_busy_pointer(bool b) override { busy = b; }
  void beep() override { ++beeps; }

  // The last text of `panel`.
  std::string panel(int n) const {
    for (auto it = panels.rbegin(); it != panels.rend(); ++it) {
      if (it->first == n) return it->second;
    }
    return {};
  }
  // Every text of `panel`, in order.
  std::vector<std::string> panel_texts(int n) const {
    std::vector<std::string> out;
    for (const auto& [p, t] : panels) {
      if (p == n) out.push_back(t);
    }
    return out;
  }
};

}  // namespace memory_test
