// What the utilities' shared code asks of its window: status-bar texts, the message window,
// message boxes and questions, yielding to the message loop, and the window's EndReq flag. The Qt
// view answers with real dialogs; tests and posutil answer from a script.
#pragma once

#include <string>
#include <string_view>

namespace utilities {

// The icon of a message box or question.
enum class box_icon { information, question, warning, error };

// The buttons of a question.
enum class box_buttons { retry_cancel, yes_no, ok_cancel };

// The button the user chose.
enum class box_answer { retry, cancel, yes, no, ok };

// Status-bar panels of the utilities' windows.
inline constexpr int kPanelWorkingMode = 1;    // "Working mode"
inline constexpr int kPanelProgramStatus = 2;  // "Program status"

class user_interface {
 public:
  virtual ~user_interface() = default;
  // Sets the text of status-bar panel `panel` (1 or 2) of the current form.
  virtual void set_status(int panel, const std::string& text) = 0;
  // Shows `text` in the message window (MessageForm), modally; returns when it is closed.
  virtual void show_message(const std::string& text) = 0;
  // Shows a message box with one OK button.
  virtual void message_box(const std::string& text, box_icon icon) = 0;
  // Asks a question; blocks until answered.
  virtual box_answer ask(const std::string& text, box_buttons buttons, box_icon icon) = 0;
  // Yields to the message loop for about `ms` milliseconds (0: handle what is waiting only).
  virtual void pump(int ms) = 0;
  // The window's EndReq flag: set when the user closed the window during an operation.
  virtual bool end_requested() const = 0;
  // Shows or hides the hourglass pointer.
  virtual void set_busy_pointer(bool busy) = 0;
};

}  // namespace utilities
