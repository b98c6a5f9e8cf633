// The dialogs every utility window shows through utilities::user_interface: MessageForm, message
// boxes and questions (QMessageBox), and pumping the event loop while an operation waits. StartForm
// and the utility windows share them so that each asks and answers the same way.
#pragma once

#include <QString>

#include <string>

#include "utilities/user_interface.h"

#include <utility>

class QLabel;
class QMainWindow;
class QWidget;

namespace utilities_view {

// The system's texts end lines with CR or CR LF; Qt's labels want LF.
QString ui_text(const std::string& text);

// MessageForm: `text` in the label messageTxt, closed by OKButton; modal over `owner` (when shown).
void show_message_form(QWidget* owner, const QString& title, const std::string& text);
// A message box with one OK button.
void show_message_box(QWidget* owner, const QString& title, const std::string& text, utilities::box_icon icon);
// A question box with the buttons asked for; returns the button chosen (closing it counts as the
// negative button: Cancel or No).
utilities::box_answer ask_question(QWidget* owner, const QString& title, const std::string& text,
                                   utilities::box_buttons buttons, utilities::box_icon icon);
// The status bar of a utility window: the working-mode panel and the program-status panel.
std::pair<QLabel*, QLabel*> add_status_panels(QMainWindow* window);
// Handles the window system's events for about `ms` milliseconds (0: only those waiting).
void pump_events(int ms);

}  // namespace utilities_view
