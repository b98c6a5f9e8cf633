// The main frame's image side: opening pictures in image windows, the image menu and toolbars
// with their availability, the filters with progress, resizing, saving, and the printer's
// image commands.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <atomic>
#include <memory>

#include "dialogs.h"
#include "image_view.h"
#include "main_frame.h"

namespace testbench_view {

using testbench::image_command;
using testbench::kSectionSettings;
using testbench::txt;

namespace {

// A small toolbar picture: `mark` in the middle of a frame, in `colour`.
QIcon glyph(const QString& mark, QColor colour = Qt::black) {
  QPixmap picture(20, 20);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setPen(Qt::darkGray);
  painter.drawRect(1, 1, 17, 17);
  QFont font = painter.font();
  font.setPixelSize(mark.size() > 2 ? 8 : 10);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(colour);
  painter.drawText(QRect(1, 1, 18, 18), Qt::AlignCenter, mark);
  return QIcon(picture);
}

// Three lines aligned left, centre or right.
QIcon alignment_glyph(Qt::Alignment side) {
  QPixmap picture(20, 20);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setPen(Qt::black);
  for (int i = 0; i < 4; ++i) {
    const int length = i % 2 == 0 ? 14 : 9;
    const int left = side == Qt::AlignLeft ? 3 : (side == Qt::AlignRight ? 17 - length : 10 - length / 2);
    painter.drawLine(left, 4 + 4 * i, left + length - 1, 4 + 4 * i);
  }
  return QIcon(picture);
}

}  // namespace

void CMainFrame::build_image_commands() {
  const bool it = italian();
  for (image_command command : testbench::kImageCommands) {
    auto* a = new QAction(Q(testbench::command_caption(command, it)), this);
    connect(a, &QAction::triggered, this, [this, command] { run_image_command(command); });
    image_actions_[command] = a;
  }
  for (image_command command : {image_command::rulers, image_command::guide_lines, image_command::properties}) {
    image_actions_[command]->setCheckable(true);
  }
  // The alignment buttons are a radio group; left is pressed at start.
  auto* alignments = new QActionGroup(this);
  for (image_command command : {image_command::align_left, image_command::align_center, image_command::align_right}) {
    image_actions_[command]->setCheckable(true);
    alignments->addAction(image_actions_[command]);
  }
  image_actions_[image_command::align_left]->setChecked(true);

  const std::pair<image_command, QIcon> icons[] = {
      {image_command::convert_to_bitmap, glyph(QStringLiteral("BMP"))},
      {image_command::black_white, glyph(QStringLiteral("BN"))},
      {image_command::halftone, glyph(QStringLiteral("HT"))},
      {image_command::grey_scale, glyph(QStringLiteral("G"), Qt::darkGray)},
      {image_command::to_8bpp, glyph(QStringLiteral("8"))},
      {image_command::red_second_colour, glyph(QStringLiteral("R"), Qt::red)},
      {image_command::resize, glyph(QStringLiteral("<>"))},
      {image_command::rulers, glyph(QStringLiteral("|||"))},
      {image_command::guide_lines, glyph(QStringLiteral("//"), Qt::darkGray)},
      {image_command::properties, glyph(QStringLiteral("i"), Qt::blue)},
      {image_command::print, style()->standardIcon(QStyle::SP_DialogApplyButton)},
      {image_command::store, style()->standardIcon(QStyle::SP_DriveFDIcon)},
      {image_command::delete_stored, style()->standardIcon(QStyle::SP_TrashIcon)},
      {image_command::align_left, alignment_glyph(Qt::AlignLeft)},
      {image_command::align_center, alignment_glyph(Qt::AlignHCenter)},
      {image_command::align_right, alignment_glyph(Qt::AlignRight)},
  };
  for (const auto& [command, icon] : icons) image_actions_[command]->setIcon(icon);


  // The "Immagine" menu, before "Visualizza".
  auto* menu = new QMenu(Q(session_->text(txt::image_menu)), this);
  menu->setObjectName(QStringLiteral("imageMenu"));
  for (image_command command : {image_command::convert_to_bitmap, image_command::black_white,
                                image_command::halftone, image_command::halftone_default,
                                image_command::halftone_stucki, image_command::grey_scale, image_command::to_8bpp,
                                image_command::red_second_colour}) {
    menu->addAction(image_actions_[command]);
  }
  menu->addSeparator();
  menu->addAction(image_actions_[image_command::resize]);
  menu->addSeparator();
  for (image_command command : {image_command::rulers, image_command::guide_lines, image_command::properties}) {
    menu->addAction(image_actions_[command]);
  }
  menu->addSeparator();
  for (image_command command : {image_command::print, image_command::store, image_command::delete_stored}) {
    menu->addAction(image_actions_[command]);
  }
  QAction* before = nullptr;
  for (QAction* a : menuBar()->actions()) {
    if (a->menu() != nullptr && a->text() == L(it, "&Visualizza", "&View")) before = a;
  }
  menuBar()->insertMenu(before, menu);

  // "POSPrinter" -> "Gestione immagini".
  for (QAction* a : menuBar()->actions()) {
    if (a->text() != QStringLiteral("POSPrinter") || a->menu() == nullptr) continue;
    QMenu* images = a->menu()->addMenu(Q(session_->text(txt::image_management_menu)));
    for (image_command command : {image_command::print, image_command::store, image_command::delete_stored}) {
      images->addAction(image_actions_[command]);
    }
  }

  // The image toolbar ("gestione immagini") and the printer toolbar's image buttons.
  QToolBar* image_bar = toolbars_[3];
  for (image_command command : {image_command::convert_to_bitmap, image_command::black_white}) {
    image_bar->addAction(image_actions_[command]);
  }
  // The halftone button's drop-down chooses the algorithm and runs the filter at once.
  auto* halftone = new QToolButton;
  halftone->setObjectName(QStringLiteral("halftoneButton"));
  halftone->setDefaultAction(image_actions_[image_command::halftone]);
  auto* algorithms = new QMenu(halftone);
  algorithms->addAction(image_actions_[image_command::halftone_default]);
  algorithms->addAction(image_actions_[image_command::halftone_stucki]);
  halftone->setMenu(algorithms);
  halftone->setPopupMode(QToolButton::MenuButtonPopup);
  image_bar->addWidget(halftone);
  for (image_command command : {image_command::grey_scale, image_command::to_8bpp, image_command::red_second_colour,
                                image_command::resize, image_command::rulers, image_command::guide_lines,
                                image_command::properties}) {
    image_bar->addAction(image_actions_[command]);
  }
  image_bar->show();
  QToolBar* printer_bar = toolbars_[2];
  printer_bar->addSeparator();
  for (image_command command : {image_command::print, image_command::store, image_command::delete_stored,
                                image_command::align_left, image_command::align_center, image_command::align_right}) {
    printer_bar->addAction(image_actions_[command]);
  }

  // The image property window, hidden at start; it follows the active image window.
  image_dock_ = new QDockWidget(Q(testbench::command_caption(image_command::properties, it)), this);
  image_dock_->setObjectName(QStringLiteral("imageProperties"));
  image_properties_ = new ImageProperties(testbench::load_image_property_labels(config_), it);
  image_dock_->setWidget(image_properties_);
  addDockWidget(Qt::RightDockWidgetArea, image_dock_);
  image_dock_->hide();
  connect(image_dock_, &QDockWidget::visibilityChanged, this, [this] { update_image_commands(); });

  connect(mdi_, &QMdiArea::subWindowActivated, this, [this] {
    if (CIMGFrame* frame = active_image()) image_properties_->show_document(&frame->document());
    update_image_commands();
  });
  connect(menu, &QMenu::aboutToShow, this, [this] { update_image_commands(); });
  update_image_commands();
}

CIMGFrame* CMainFrame::active_image() const {
  if (QMdiSubWindow* sub = mdi_->activeSubWindow()) return dynamic_cast<CIMGFrame*>(sub->widget());
  // Without an active window (the frame itself inactive) the topmost one counts.
  const QList<QMdiSubWindow*> all = mdi_->subWindowList(QMdiArea::StackingOrder);
  return all.isEmpty() ? nullptr : dynamic_cast<CIMGFrame*>(all.back()->widget());
}

QAction* CMainFrame::image_action(image_command command) const {
  const auto found = image_actions_.find(command);
  return found == image_actions_.end() ? nullptr : found->second;
}

std::int32_t CMainFrame::bitmap_alignment() const {
  return testbench::bitmap_alignment(image_action(image_command::align_left)->isChecked(),
                                     image_action(image_command::align_center)->isChecked(),
                                     image_action(image_command::align_right)->isChecked());
}

void CMainFrame::update_image_commands() {
  if (image_actions_.empty() || !session_) return;
  const bool connected = session_->connected();
  const bool debugging = debug_ != nullptr && debug_->isVisible();
  CIMGFrame* frame = active_image();
  testbench::command_context context;
  if (frame != nullptr) {
    context = frame->document().context(connected, debugging);
  } else {
    context.connected = connected;
    context.debugging = debugging;
  }
  for (const auto& [command, a] : image_actions_) {
    // Nothing else runs on the pictures while a filter works on one.
    a->setEnabled(!filtering_ && testbench::command_available(command, context));
  }
  image_actions_[image_command::rulers]->setChecked(frame != nullptr && frame->state().rulers_visible());
  image_actions_[image_command::guide_lines]->setChecked(frame != nullptr && frame->state().guide_lines());
  image_actions_[image_command::properties]->setChecked(image_dock_ != nullptr && image_dock_->isVisible());
}

bool CMainFrame::open_image(const QString& path) {
  // A picture already open comes to the front: two documents on one file would share the image
  // library's working copy.
  if (const testbench::CIMGDocument* open = testbench::CIMGDocument::find_open(path.toStdString())) {
    for (QMdiSubWindow* sub : mdi_->subWindowList()) {
      auto* frame = dynamic_cast<CIMGFrame*>(sub->widget());
      if (frame != nullptr && &frame->document() == open) {
        mdi_->setActiveSubWindow(sub);
        update_image_commands();
        return true;
      }
    }
  }
  auto document = std::make_unique<testbench::CIMGDocument>();
  const int result = document->open(path.toStdString());
  if (result != 0) {
    const testbench::message_box_text box = testbench::load_failure_message(result, italian());
    message_box(this, italian(), Q(box.text), box_kind::notice, false, Q(box.title));
    return false;
  }
  auto* frame = new CIMGFrame(std::move(document), italian());
  frame->ask_close = [this](const testbench::message_box_text& question) {
    return message_box(this, italian(), Q(question.text), box_kind::question, true, Q(question.title));
  };
  QMdiSubWindow* sub = mdi_->addSubWindow(frame);
  sub->setAttribute(Qt::WA_DeleteOnClose);
  // The window's context menu offers the image menu's commands.
  frame->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(frame, &QWidget::customContextMenuRequested, this, [this, frame](const QPoint& at) {
    update_image_commands();
    QMenu menu;
    for (image_command command : {image_command::convert_to_bitmap, image_command::black_white,
                                  image_command::halftone, image_command::halftone_default,
                                  image_command::halftone_stucki, image_command::grey_scale, image_command::to_8bpp,
                                  image_command::red_second_colour}) {
      menu.addAction(image_actions_[command]);
    }
    menu.addSeparator();
    for (image_command command : {image_command::resize, image_command::rulers, image_command::guide_lines,
                                  image_command::properties}) {
      menu.addAction(image_actions_[command]);
    }
    menu.addSeparator();
    // The window's own menu names printing "Stampa bitmap".
    QAction* print = menu.addAction(Q(session_->text(txt::image_print_bitmap_menu)));
    print->setEnabled(image_actions_[image_command::print]->isEnabled());
    connect(print, &QAction::triggered, this, [this] { run_image_command(image_command::print); });
    menu.addAction(image_actions_[image_command::store]);
    menu.exec(frame->mapToGlobal(at));
  });
  connect(frame, &QObject::destroyed, this, [this] { QTimer::singleShot(0, this, [this] { update_image_commands(); }); });
  sub->resize(560, 400);
  sub->show();
  mdi_->setActiveSubWindow(sub);
  frame->refresh();
  image_properties_->show_document(&frame->document());
  update_image_commands();
  return true;
}

void CMainFrame::image_changed(CIMGFrame& frame) {
  frame.refresh();
  if (active_image() == &frame) image_properties_->show_document(&frame.document());
}

void CMainFrame::run_image_command(image_command command) {
  CIMGFrame* frame = active_image();
  const bool it = italian();
  switch (command) {
    case image_command::convert_to_bitmap: {
      if (frame == nullptr || !frame->document().is_jpeg()) break;
      if (!message_box(this, it, Q(session_->text(txt::s133_confirm_convert)), box_kind::notice, true)) break;
      // Another picture of the bitmap's name beside the JPEG is replaced only when the user agrees.
      const bool replace = frame->document().conversion_replaces_file();
      if (replace) {
        const testbench::message_box_text question = frame->document().replace_question(it);
        if (!message_box(this, it, Q(question.text), box_kind::question, true, Q(question.title))) break;
      }
      QApplication::setOverrideCursor(Qt::WaitCursor);
      const int result = frame->document().convert_to_bitmap(replace);
      QApplication::restoreOverrideCursor();
      if (result != 0 && result != testbench::kConversionTargetExists) {
        const testbench::message_box_text box = testbench::load_failure_message(result, it);
        message_box(this, it, Q(box.text), box_kind::notice, false, Q(box.title));
      }
      image_changed(*frame);
      break;
    }
    case image_command::halftone_default:
    case image_command::halftone_stucki:
      halftone_type_ =
          command == image_command::halftone_stucki ? testbench::kHalftoneStucki : testbench::kHalftoneDefault;
      [[fallthrough]];
    case image_command::black_white:
    case image_command::halftone:
    case image_command::grey_scale:
    case image_command::to_8bpp:
    case image_command::red_second_colour:
      if (frame != nullptr && frame->document().is_bitmap()) apply_filter(*frame, testbench::command_filter(command));
      break;
    case image_command::resize: {
      if (frame == nullptr || !frame->document().is_bitmap()) break;
      ResizeDialog dialog(this, it, frame->state().picture_size());
      if (dialog.exec() != QDialog::Accepted) break;
      QApplication::setOverrideCursor(Qt::WaitCursor);
      frame->state().resize(*session_, frame->document(), dialog.size());
      QApplication::restoreOverrideCursor();
      image_changed(*frame);
      break;
    }
    case image_command::rulers:
      if (frame == nullptr) break;
      frame->state().toggle_rulers();
      frame->show_rulers();
      break;
    case image_command::guide_lines:
      if (frame == nullptr) break;
      frame->state().toggle_guide_lines(*session_, frame->document());
      frame->refresh();
      break;
    case image_command::properties:
      image_dock_->setVisible(!image_dock_->isVisible());
      if (frame != nullptr) image_properties_->show_document(&frame->document());
      break;
    case image_command::print:
      if (frame == nullptr) break;
      QApplication::setOverrideCursor(Qt::WaitCursor);
      testbench::print_image(*session_, frame->document(), bitmap_alignment());
      QApplication::restoreOverrideCursor();
      break;
    case image_command::store:
      if (frame == nullptr) break;
      QApplication::setOverrideCursor(Qt::WaitCursor);
      testbench::store_image(*session_, frame->document(), bitmap_alignment());
      QApplication::restoreOverrideCursor();
      break;
    case image_command::delete_stored: {
      DeleteImagesDialog dialog(this, *session_);
      dialog.exec();
      break;
    }
    case image_command::align_left:
    case image_command::align_center:
    case image_command::align_right:
      // The radio group keeps the choice; printing and storing read it.
      break;
  }
  update_image_commands();
}

void CMainFrame::apply_filter(CIMGFrame& frame, int filter) {
  // The filter works on a worker thread while this loop keeps the windows painting and the
  // progress bar moving; the window and the image commands wait until it ends.
  filtering_ = true;
  frame.set_busy(true);
  update_image_commands();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  message_->setText(Q(session_->text(txt::image_processing)));
  progress_->setTextVisible(false);
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_->show();

  struct steps {
    std::atomic<int> done{0};
    std::atomic<int> total{0};
  };
  auto shared = std::make_shared<steps>();
  const auto show_progress = [this, shared] {
    const int total = shared->total.load(std::memory_order_relaxed);
    if (total > 0) {
      progress_->setRange(0, total);
      progress_->setValue(std::min(shared->done.load(std::memory_order_relaxed), total));
    }
    if (on_filter_progress) on_filter_progress();
  };
  {
    testbench::filter_job job(frame.document(), filter, halftone_type_, [shared](int done, int total) {
      shared->total.store(total, std::memory_order_relaxed);
      shared->done.store(done, std::memory_order_relaxed);
    });
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(15);
    connect(&poll, &QTimer::timeout, &loop, [&] {
      show_progress();
      if (job.done()) loop.quit();
    });
    poll.start();
    if (!job.done()) loop.exec();
    job.wait();
  }
  show_progress();
  message_->setText(Q(session_->text(txt::status_ready)));
  frame.set_busy(false);
  image_changed(frame);
  progress_->hide();
  progress_->setTextVisible(true);
  QApplication::restoreOverrideCursor();
  filtering_ = false;
  update_image_commands();
}

void CMainFrame::save_image(CIMGFrame& frame, bool ask_path) {
  testbench::CIMGDocument& document = frame.document();
  const bool it = italian();
  if (!ask_path) {
    const testbench::message_box_text question = document.save_question(it);
    if (message_box(this, it, Q(question.text), box_kind::question, true, Q(question.title))) document.save();
    frame.refresh();
    return;
  }
  // "Salva come..." does nothing for a JPEG.
  if (!document.is_bitmap()) return;
  QFileDialog dialog(this, L(it, "Salva come", "Save as"), QString::fromStdString(testbench::save_as_folder(config_)),
                     QStringLiteral("Bitmap files (*.bmp)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("bmp"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  document.save_as(dialog.selectedFiles().front().toStdString());
  frame.refresh();
}

}  // namespace testbench_view
