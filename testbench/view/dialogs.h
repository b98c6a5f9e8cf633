// The test environment's dialogs: its own message box, the ErrorEvent window, the printer
// selection tree, options, customise, bar code, test procedure, direct access, document
// properties, the escape-sequence picker and the "Pos Debug" window.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

#include <optional>
#include <string>
#include <vector>

#include "testbench/script.h"
#include "testbench/session.h"

class QCheckBox;
class QComboBox;
class QEventLoop;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QSpinBox;
class QTreeWidget;

namespace testbench_view {

// The label in the language: Italian when `italian`.
inline QString L(bool italian, const char* ita, const char* eng) {
  return QString::fromUtf8(italian ? ita : eng);
}
// A model text as a QString.
inline QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The application's own message box: one text beside an icon, "OK"/"Annulla" or, as a yes/no
// question, "Si"/"NO". True for OK or Si; cancel and closing the box are false.
enum class box_kind { notice = 1, question = 2 };
bool message_box(QWidget* parent, bool italian, const QString& text, box_kind kind, bool yes_no,
                 const QString& title = {});

// The ErrorEvent window; returns OPOS_ER_RETRY (11) or OPOS_ER_CLEAR (12, also on closing).
std::int32_t error_window(QWidget* parent, bool italian, const QString& title, const QString& text);

// "Selezione stampante POS": the printers' tree and "Connetti". Returns the device chosen
// (std::nullopt when the root or nothing was selected) or closes with reject.
class PrinterSelection : public QDialog {
 public:
  PrinterSelection(QWidget* parent, bool italian, const std::vector<testbench::printer_entry>& printers);
  // The device name for the selection: a leaf stands for its printer.
  std::optional<std::string> selected_device() const;
  QTreeWidget* tree() const { return tree_; }

 private:
  QTreeWidget* tree_;
};

// "Opzioni avanzate": run options, event tracing and the OPOS version. Applies on OK.
class OptionsDialog : public QDialog {
 public:
  OptionsDialog(QWidget* parent, testbench::session& session);
  void apply();

 private:
  testbench::session& session_;
  QCheckBox* print_info_;
  QCheckBox* cut_paper_;
  QCheckBox* trace_error_;
  QCheckBox* trace_direct_;
  QCheckBox* trace_output_;
  QCheckBox* trace_status_;
  QComboBox* version_;
};

// "Personalizza": colours of commands and comments and which toolbars show.
class CustomiseDialog : public QDialog {
 public:
  CustomiseDialog(QWidget* parent, testbench::session& session, const std::vector<bool>& toolbars);
  int command_colour() const { return colours_[0]; }
  int comment_colour() const { return colours_[1]; }
  std::vector<bool> toolbars() const;

 private:
  testbench::session& session_;
  int colours_[2];
  std::vector<QCheckBox*> boxes_;
};

// "Stampa Codice a barre".
class BarcodeDialog : public QDialog {
 public:
  BarcodeDialog(QWidget* parent, bool italian);
  testbench::barcode_request request() const;

 private:
  QLineEdit* data_;
  QComboBox* type_;
  QComboBox* alignment_;
  QSpinBox* free_alignment_;
  QSpinBox* height_;
  QComboBox* width_;
  QComboBox* text_;
};

// "Avvio procedura di test": internal or external health check and its text.
class TestProcedureDialog : public QDialog {
 public:
  TestProcedureDialog(QWidget* parent, testbench::session& session);
};

// "Accesso diretto alla stampante": a command, a byte count and the reply dump.
class DirectAccessDialog : public QDialog {
 public:
  DirectAccessDialog(QWidget* parent, testbench::session& session);
  QPlainTextEdit* result() const { return result_; }

 private:
  QPlainTextEdit* result_;
};

// "Proprietà documento": title, author and notes.
class DocumentPropertiesDialog : public QDialog {
 public:
  DocumentPropertiesDialog(QWidget* parent, bool italian, const testbench::script_properties& properties);
  testbench::script_properties properties() const;

 private:
  QLineEdit* title_;
  QLineEdit* author_;
  QPlainTextEdit* notes_;
};

// EscapePicker: the templates, with the one matching the sequence selected; "#" selected in the
// edit field so that a number can be typed.
class EscapePicker : public QDialog {
 public:
  EscapePicker(QWidget* parent, bool italian, const std::vector<std::string>& templates, const QString& sequence);
  QString text() const;
  QListWidget* list() const { return list_; }
  QLineEdit* edit() const { return edit_; }

 private:
  QListWidget* list_;
  QLineEdit* edit_;
};

// "Pos Debug": the stop line ("Break") and its editable text, and the commands.
class PosDebugWindow : public QDialog {
 public:
  PosDebugWindow(QWidget* parent, bool italian);
  // Shows line `line` and waits, processing events, for a command.
  testbench::debug_command wait_for_command(int line, std::string& text);
  // Called with "Proprietà opos".
  std::function<void()> on_properties;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void finish(testbench::debug_command command);

  QLabel* line_;
  QLineEdit* text_;
  std::optional<testbench::debug_command> command_;
  QEventLoop* loop_ = nullptr;
};

}  // namespace testbench_view
