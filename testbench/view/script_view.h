// The script window: a monospace text editor with keyword colouring, a breakpoint margin and the
// script document behind it; and the output window, read-only and time-stamped.
#pragma once

#include <QPlainTextEdit>
#include <QSyntaxHighlighter>
#include <QTextEdit>

#include "testbench/output.h"
#include "testbench/script.h"

namespace testbench_view {

// Colours comment lines whole and each escape sequence.
class ScriptHighlighter : public QSyntaxHighlighter {
 public:
  ScriptHighlighter(QTextDocument* document, QColor command, QColor comment);
  void setColours(QColor command, QColor comment);

 protected:
  void highlightBlock(const QString& text) override;

 private:
  QColor command_;
  QColor comment_;
};

// CPRNView: the editor of one script document (CPRNDocument).
class CPRNView : public QPlainTextEdit {
 public:
  CPRNView(QColor command, QColor comment, QWidget* parent = nullptr);

  testbench::script_document& document_model() { return doc_; }
  // Copies the editor's text into the document and returns it.
  testbench::script_document& sync();
  // Loads the document's lines into the editor.
  void show_document();
  // The caret's line, from 1.
  int caret_line() const;
  // Selects line `line` (from 1) and shows it.
  void select_line(int line);
  // Marks the debugger's current stop line (0: none).
  void set_stop_line(int line);
  int stop_line() const { return stop_line_; }
  void setColours(QColor command, QColor comment);
  // The title shown in the window and the output records.
  QString title() const;

  // Width of the breakpoint margin in pixels.
  static constexpr int kMarginWidth = 18;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend class BreakpointMargin;
  void paint_margin(QPaintEvent* event);

  testbench::script_document doc_;
  ScriptHighlighter* highlighter_;
  QWidget* margin_;
  int stop_line_ = 0;
};

// COutView: the output window's read-only text, one record after another.
class COutView : public QTextEdit {
 public:
  explicit COutView(QWidget* parent = nullptr);
  // Appends a record: the time in its own format, then the text and the indented detail.
  void append_record(const testbench::output_record& record);
  // The output line under the text cursor, from 0.
  int cursor_line() const;
};

}  // namespace testbench_view
