// A user_interface for tests: records every status text, message and question, answers
// questions from a queue (Cancel or No when it runs dry) and runs a step on each pump.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "utilities/user_interface.h"

namespace utilities_test {

using utilities::box_answer;
using utilities::box_buttons;
using utilities::box_icon;

struct scripted_ui : utilities::user_interface {
  std::vector<std::string> statuses;   // panel 2 texts in order
  std::string working_mode;            // panel 1
  std::vector<std::string> messages;   // MessageForm texts
  std::vector<std::string> boxes;      // message box texts
  std::vector<std::string> questions;  // questions asked
  std::deque<box_answer> answers;      // answers to give, in order
  std::function<void(int)> on_pump;    // called with the pump count (from 1)
  int pumps = 0;
  int max_pumps = 1000;  // a runaway wait ends the operation through EndReq
  bool end_req = false;
  bool busy = false;

  void set_status(int panel, const std::string& text) override {
    if (panel == utilities::kPanelWorkingMode) working_mode = text;
    else statuses.push_back(text);
  }
  void show_message(const std::string& text) override { messages.push_back(text); }
  void message_box(const std::string& text, box_icon) override { boxes.push_back(text); }
  box_answer ask(const std::string& text, box_buttons buttons, box_icon) override {
    questions.push_back(text);
    if (!answers.empty()) {
      const box_answer a = answers.front();
      answers.pop_front();
      return a;
    }
    return buttons == box_buttons::yes_no ? box_answer::no : box_answer::cancel;
  }
  void pump(int) override {
    ++pumps;
    if (pumps >= max_pumps) end_req = true;
    if (on_pump) on_pump(pumps);
  }
  bool end_requested() const override { return end_req; }
  void set_busy_pointer(bool b) override { busy = b; }

  std::string last_status() const { return statuses.empty() ? std::string() : statuses.back(); }
};

}  // namespace utilities_test
