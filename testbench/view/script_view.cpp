// The script editor with its colouring and breakpoint margin, and the output window.
#include "script_view.h"

#include <QPainter>
#include <QTextBlock>

namespace testbench_view {

using testbench::kEscapeEnd;
using testbench::kEscapeStart;

ScriptHighlighter::ScriptHighlighter(QTextDocument* document, QColor command, QColor comment)
    : QSyntaxHighlighter(document), command_(command), comment_(comment) {}

void ScriptHighlighter::setColours(QColor command, QColor comment) {
  command_ = command;
  comment_ = comment;
  rehighlight();
}

void ScriptHighlighter::highlightBlock(const QString& text) {
  if (testbench::is_comment(text.toStdString())) {
    setFormat(0, static_cast<int>(text.size()), comment_);
    return;
  }
  const QString start = QString::fromUtf8(kEscapeStart.data(), kEscapeStart.size());
  const QString end = QString::fromUtf8(kEscapeEnd.data(), kEscapeEnd.size());
  for (qsizetype at = text.indexOf(start); at >= 0; at = text.indexOf(start, at + 1)) {
    const qsizetype close = text.indexOf(end, at);
    if (close < 0) break;
    setFormat(static_cast<int>(at), static_cast<int>(close - at + 1), command_);
  }
}

// The margin left of the editor: a 16 by 16 mark per breakpoint (active, disabled) and for the
// debugger's stop line.
class BreakpointMargin : public QWidget {
 public:
  explicit BreakpointMargin(CPRNView* view) : QWidget(view), view_(view) {}
  QSize sizeHint() const override { return {CPRNView::kMarginWidth, 0}; }

 protected:
  void paintEvent(QPaintEvent* event) override { view_->paint_margin(event); }
  void mousePressEvent(QMouseEvent* event) override {
    const QTextBlock block = view_->cursorForPosition(QPoint(0, static_cast<int>(event->position().y()))).block();
    view_->document_model().toggle_breakpoint(block.blockNumber() + 1);
    update();
  }

 private:
  CPRNView* view_;
};

CPRNView::CPRNView(QColor command, QColor comment, QWidget* parent)
    : QPlainTextEdit(parent), highlighter_(new ScriptHighlighter(document(), command, comment)) {
  // "Courier New" at 9.5 points; any monospace face where it is missing.
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::Monospace);
  font.setPointSizeF(9.5);
  setFont(font);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  margin_ = new BreakpointMargin(this);
  setViewportMargins(kMarginWidth, 0, 0, 0);
  connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
    if (dy != 0) {
      margin_->scroll(0, dy);
    } else {
      margin_->update(0, rect.y(), margin_->width(), rect.height());
    }
  });
}

testbench::script_document& CPRNView::sync() {
  doc_.set_text(toPlainText().toStdString());
  return doc_;
}

void CPRNView::show_document() { setPlainText(QString::fromStdString(doc_.text())); }

int CPRNView::caret_line() const { return textCursor().blockNumber() + 1; }

void CPRNView::select_line(int line) {
  const QTextBlock block = document()->findBlockByNumber(line - 1);
  if (!block.isValid()) return;
  QTextCursor cursor(block);
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  setTextCursor(cursor);
  ensureCursorVisible();
}

void CPRNView::set_stop_line(int line) {
  stop_line_ = line;
  if (line > 0) select_line(line);
  margin_->update();
}

void CPRNView::setColours(QColor command, QColor comment) { highlighter_->setColours(command, comment); }

QString CPRNView::title() const {
  return doc_.path.empty() ? windowTitle() : QString::fromStdString(doc_.path.filename().string());
}

void CPRNView::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  const QRect area = contentsRect();
  margin_->setGeometry(QRect(area.left(), area.top(), kMarginWidth, area.height()));
}

void CPRNView::paint_margin(QPaintEvent* event) {
  QPainter painter(margin_);
  painter.fillRect(event->rect(), palette().color(QPalette::Window));
  painter.setRenderHint(QPainter::Antialiasing);
  QTextBlock block = firstVisibleBlock();
  int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
  while (block.isValid() && top <= event->rect().bottom()) {
    const int height = qRound(blockBoundingRect(block).height());
    const int line = block.blockNumber() + 1;
    const QRect mark(1, top + (height - 16) / 2, 16, 16);
    const auto found = doc_.breakpoints.find(line);
    if (found != doc_.breakpoints.end()) {
      painter.setPen(QPen(QColor(160, 0, 0), 1.5));
      painter.setBrush(found->second == testbench::breakpoint_state::active ? QColor(200, 0, 0) : Qt::transparent);
      painter.drawEllipse(mark.adjusted(2, 2, -2, -2));
    }
    if (line == stop_line_) {
      const QPoint tip(mark.right() - 1, mark.center().y());
      const QPolygon arrow({QPoint(mark.left() + 3, mark.top() + 3), tip, QPoint(mark.left() + 3, mark.bottom() - 3)});
      painter.setPen(QPen(Qt::black, 1));
      painter.setBrush(QColor(255, 220, 0));
      painter.drawPolygon(arrow);
    }
    block = block.next();
    top += height;
  }
}

COutView::COutView(QWidget* parent) : QTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QTextEdit::NoWrap);
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::Monospace);
  font.setPointSizeF(9.5);
  setFont(font);
}

void COutView::append_record(const testbench::output_record& record) {
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  QTextCharFormat time_format;
  time_format.setForeground(QColor(0, 0, 128));
  time_format.setFontWeight(QFont::Bold);
  QTextCharFormat body;
  if (record.text.starts_with("(E)")) body.setForeground(QColor(160, 0, 0));
  const std::string shown = testbench::format_record(record);
  const std::string time = testbench::format_time(record.hour, record.minute, record.second);
  cursor.insertText(QString::fromStdString(time), time_format);
  cursor.insertText(QString::fromStdString(shown.substr(time.size())), body);
  setTextCursor(cursor);
  ensureCursorVisible();
}

int COutView::cursor_line() const { return textCursor().blockNumber(); }

}  // namespace testbench_view
