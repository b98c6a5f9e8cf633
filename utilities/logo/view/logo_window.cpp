// LogoForm's widgets, forwarding every action to the model and showing its state afterwards.
#include "logo_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "dialogs.h"
#include "logo/image_library.h"
#include "logo/picture.h"
#include "utilities/browser.h"

namespace logo_view {
namespace {

using utilities::box_answer;
using utilities::box_buttons;
using utilities::box_icon;

constexpr int kThumbWidth = 96;
constexpr int kThumbHeight = 64;

QString qs(const std::string& text) { return QString::fromStdString(text); }
QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

// The picture as a Qt image, row by row from the top.
QImage toImage(const logo::dib& picture) {
  if (picture.empty() || picture.width() <= 0 || picture.height() <= 0) return {};
  QImage image(picture.width(), picture.height(), QImage::Format_RGB32);
  for (int y = 0; y < picture.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < picture.width(); ++x) {
      const logo::rgb c = picture.pixel(x, y);
      line[x] = qRgb(c.r, c.g, c.b);
    }
  }
  return image;
}

// `image` fitted into `box`, keeping its proportions; never enlarged by more than `max_zoom`.
QPixmap fitted(const QImage& image, QSize box, double max_zoom) {
  if (image.isNull() || box.width() <= 0 || box.height() <= 0) return {};
  double zoom = std::min({static_cast<double>(box.width()) / image.width(),
                          static_cast<double>(box.height()) / image.height(), max_zoom});
  // Enlarged by whole steps, every dot of the picture takes the same number of screen pixels.
  if (zoom >= 1.0) zoom = std::floor(zoom);
  const QSize size(std::max(1, static_cast<int>(image.width() * zoom)),
                   std::max(1, static_cast<int>(image.height() * zoom)));
  // Reduced pictures are smoothed (the halftone stretching); enlarged ones keep their dots sharp.
  return QPixmap::fromImage(
      image.scaledToWidth(size.width(), zoom < 1.0 ? Qt::SmoothTransformation : Qt::FastTransformation));
}

// A thumbnail of `picture` fitted into kThumbWidth x kThumbHeight, sampling the nearest pixels:
// only the thumbnail's pixels are read, however large the picture is.
QPixmap thumbnailOf(const logo::dib& picture) {
  if (picture.empty() || picture.width() <= 0 || picture.height() <= 0) return {};
  const double zoom = std::min({static_cast<double>(kThumbWidth) / picture.width(),
                                static_cast<double>(kThumbHeight) / picture.height(), 1.0});
  const int w = std::max(1, static_cast<int>(picture.width() * zoom));
  const int h = std::max(1, static_cast<int>(picture.height() * zoom));
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    const int sy = std::min(picture.height() - 1, static_cast<int>(y / zoom));
    for (int x = 0; x < w; ++x) {
      const logo::rgb c = picture.pixel(std::min(picture.width() - 1, static_cast<int>(x / zoom)), sy);
      line[x] = qRgb(c.r, c.g, c.b);
    }
  }
  return QPixmap::fromImage(image);
}

// A stored logo read from the printer has no picture here: its thumbnail names its key.
QPixmap storedThumbnail(const logo::logo_entry& entry) {
  QPixmap pm(kThumbWidth, kThumbHeight);
  pm.fill(Qt::white);
  QPainter p(&pm);
  p.setPen(QColor(110, 110, 110));
  p.drawRect(0, 0, kThumbWidth - 1, kThumbHeight - 1);
  p.drawText(pm.rect(), Qt::AlignCenter, qs(entry.key));
  return pm;
}

}  // namespace

// One thumbnail in its frame (picThumbFrame holding picThumb and the entry's state); the frame
// shows the highlight colour while the entry is selected.
class ThumbFrame : public QFrame {
 public:
  ThumbFrame(std::size_t index, QWidget* parent, std::function<void(std::size_t)> clicked)
      : QFrame(parent), index_(index), clicked_(std::move(clicked)) {
    setObjectName(QStringLiteral("picThumbFrame"));
    setFrameShape(QFrame::Box);
    setLineWidth(2);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 2);
    layout->setSpacing(2);
    picThumb_ = new QLabel(this);
    picThumb_->setObjectName(QStringLiteral("picThumb"));
    picThumb_->setFixedSize(kThumbWidth, kThumbHeight);
    picThumb_->setAlignment(Qt::AlignCenter);
    picThumb_->setStyleSheet(QStringLiteral("background: white"));
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("lblThumbState"));
    state_->setAlignment(Qt::AlignCenter);
    layout->addWidget(picThumb_);
    layout->addWidget(state_);
    setCursor(Qt::PointingHandCursor);
  }

  void show(const logo::logo_entry& entry, const QPixmap& thumbnail, bool current) {
    picThumb_->setPixmap(thumbnail);
    state_->setText(qs(entry.state()));
    setToolTip(qs(entry.name()));
    selected_ = entry.selected;
    // The frame: the highlight colour behind a selected entry; a dark line around the entry shown.
    const QPalette app = QApplication::palette();
    QPalette pal = palette();
    pal.setColor(QPalette::Window, selected_ ? app.color(QPalette::Highlight) : app.color(QPalette::Window));
    pal.setColor(QPalette::WindowText, current ? app.color(QPalette::Text) : app.color(QPalette::Mid));
    setPalette(pal);
    QPalette text = state_->palette();
    text.setColor(QPalette::WindowText,
                  selected_ ? app.color(QPalette::HighlightedText) : app.color(QPalette::WindowText));
    state_->setPalette(text);
  }
  bool selected() const { return selected_; }
  QLabel* thumb() const { return picThumb_; }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) clicked_(index_);
  }

 private:
  std::size_t index_;
  std::function<void(std::size_t)> clicked_;
  QLabel* picThumb_ = nullptr;
  QLabel* state_ = nullptr;
  bool selected_ = false;
};

LogoForm::LogoForm(platform::com_ptr<platform::dispatch> channel, logo::logo_form_environment env,
                   const std::string& working_mode, QWidget* parent)
    : QMainWindow(parent, parent != nullptr ? Qt::Window : Qt::WindowFlags()) {
  setObjectName(QStringLiteral("LogoForm"));
  link_ = std::make_unique<utilities::printer_link>(*this);
  link_->set_channel(std::move(channel));
  link_->set_identification_byte(env.id);
  model_ = std::make_unique<logo::logo_form_model>(*this, *link_, std::move(env));
  setWindowTitle(qs(model_->caption()));
  buildWindow();
  workingMode_->setText(qs(working_mode));
  refresh();
  resize(900, 620);
}

LogoForm::~LogoForm() {
  // The model closes the channel and frees the pictures before the link goes.
  model_.reset();
  link_.reset();
  if (busyCursor_) QApplication::restoreOverrideCursor();
}

QWidget* LogoForm::open(utilities::start_form_model& browser, QWidget* owner) {
  const utilities::browser_environment& benv = browser.environment();
  // One image library per process, opened from the program's folder and told where it is.
  static std::unique_ptr<logo::image_library> library = [&benv] {
    std::string error;
    auto lib = logo::image_library::load(benv.app_path, error);
    if (lib) lib->SetCurrentPath(benv.app_path.string() + "/");
    return lib;
  }();
  logo::logo_form_environment env;
  env.id = browser.printer_id();
  env.model = browser.printer_model();
  env.title = benv.title;
  env.app_path = benv.app_path;
  env.library = library.get();
  return new LogoForm(browser.link().channel(), std::move(env), browser.network_mode() ? "Main server" : "LOCAL",
                      owner);
}

void LogoForm::buildWindow() {
  auto* central = new QWidget(this);
  auto* outer = new QHBoxLayout(central);

  // Left: the tab strip over the pages (every logo, or one entry's pictures), the thumbnail strip.
  auto* left = new QVBoxLayout;
  tabStrip_ = new QTabBar(central);
  tabStrip_->setObjectName(QStringLiteral("TabStrip"));
  tabStrip_->setExpanding(false);
  tabStrip_->setUsesScrollButtons(true);
  tabStrip_->addTab(QString::fromLatin1(kAllLogosTab));
  connect(tabStrip_, &QTabBar::currentChanged, this, [this](int tab) {
    if (filling_) return;
    if (tab <= 0) {
      pages_->setCurrentIndex(0);
      return;
    }
    showEntry(static_cast<std::size_t>(tab - 1));
  });
  left->addWidget(tabStrip_);

  pages_ = new QStackedWidget(central);
  picSlideAll_ = new QScrollArea(pages_);
  picSlideAll_->setObjectName(QStringLiteral("picSlideAll"));
  picSlideAll_->setWidgetResizable(true);
  picSlideAll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  picSlideAll_->verticalScrollBar()->setObjectName(QStringLiteral("vsbSlideAll"));
  auto* allHolder = new QWidget(picSlideAll_);
  slideAllGrid_ = new QGridLayout(allHolder);
  slideAllGrid_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  picSlideAll_->setWidget(allHolder);
  pages_->addWidget(picSlideAll_);

  auto* entryPage = new QWidget(pages_);
  auto* pictures = new QHBoxLayout(entryPage);
  const auto pictureBox = [entryPage](const char* labelName, const char* caption, const char* boxName, QLabel*& box) {
    auto* column = new QVBoxLayout;
    auto* label = new QLabel(QString::fromLatin1(caption), entryPage);
    label->setObjectName(QString::fromLatin1(labelName));
    box = new QLabel(entryPage);
    box->setObjectName(QString::fromLatin1(boxName));
    box->setFrameShape(QFrame::Panel);
    box->setFrameShadow(QFrame::Sunken);
    box->setAlignment(Qt::AlignCenter);
    box->setMinimumSize(200, 160);
    box->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    box->setStyleSheet(QStringLiteral("QLabel#%1 { background: white }").arg(QString::fromLatin1(boxName)));
    column->addWidget(label);
    column->addWidget(box, 1);
    return column;
  };
  pictures->addLayout(pictureBox("lblView", "Original image", "picView", picView_), 1);
  pictures->addLayout(pictureBox("lblPreview", "Preview", "picPreview", picPreview_), 1);
  pages_->addWidget(entryPage);
  left->addWidget(pages_, 1);

  picSlide_ = new QScrollArea(central);
  picSlide_->setObjectName(QStringLiteral("picSlide"));
  picSlide_->setWidgetResizable(true);
  picSlide_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  picSlide_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  picSlide_->horizontalScrollBar()->setObjectName(QStringLiteral("hsbSlide"));
  picSlide_->setFixedHeight(kThumbHeight + 64);
  auto* rowHolder = new QWidget(picSlide_);
  slideRow_ = new QHBoxLayout(rowHolder);
  slideRow_->setAlignment(Qt::AlignLeft);
  slideRow_->setContentsMargins(4, 4, 4, 4);
  picSlide_->setWidget(rowHolder);
  left->addWidget(picSlide_);

  progressBar_ = new QProgressBar(central);
  progressBar_->setObjectName(QStringLiteral("ProgressBar"));
  progressBar_->setRange(0, 100);
  progressBar_->setTextVisible(false);
  progressBar_->setMaximumHeight(14);
  left->addWidget(progressBar_);
  outer->addLayout(left, 1);

  // Right: the current entry's settings, the memory, the buttons.
  auto* right = new QVBoxLayout;
  right->addWidget(buildSettings());
  right->addWidget(buildButtons());
  right->addStretch(1);
  outer->addLayout(right);
  setCentralWidget(central);

  std::tie(workingMode_, programStatus_) = utilities_view::add_status_panels(this);

  // StartTimer: the printer inquiry runs once, after the window first shows.
  auto* startTimer = new QTimer(this);
  startTimer->setObjectName(QStringLiteral("StartTimer"));
  startTimer->setSingleShot(true);
  startTimer->setInterval(0);
  connect(startTimer, &QTimer::timeout, this, [this] { startInquiry(); });
}

QWidget* LogoForm::buildSettings() {
  auto* box = new QWidget(this);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  const auto frame = [box](const char* name, const char* caption, QWidget* inside) {
    auto* group = new QGroupBox(QString::fromLatin1(caption), box);
    group->setObjectName(QString::fromLatin1(name));
    auto* l = new QVBoxLayout(group);
    l->addWidget(inside);
    return group;
  };
  cmbColor_ = new QComboBox(box);
  cmbColor_->setObjectName(QStringLiteral("cmbColor"));
  cmbPaperWidth_ = new QComboBox(box);
  cmbPaperWidth_->setObjectName(QStringLiteral("cmbPaperWidth"));
  layout->addWidget(frame("frmColor", "Color", cmbColor_));
  layout->addWidget(frame("frmPaperWidth", "Paper width", cmbPaperWidth_));
  chkErrorDiffusion_ = new QCheckBox(QStringLiteral("Error diffusion"), box);
  chkErrorDiffusion_->setObjectName(QStringLiteral("chkErrorDiffusion"));
  chkFit_ = new QCheckBox(QStringLiteral("Fit to paper width"), box);
  chkFit_->setObjectName(QStringLiteral("chkFit"));
  layout->addWidget(chkErrorDiffusion_);
  layout->addWidget(chkFit_);

  auto* memory = new QHBoxLayout;
  lblMemUsed_ = new QLabel(box);
  lblMemUsed_->setObjectName(QStringLiteral("lblMemUsed"));
  lblMemUsed_->setAlignment(Qt::AlignCenter);
  lblMemFree_ = new QLabel(box);
  lblMemFree_->setObjectName(QStringLiteral("lblMemFree"));
  lblMemFree_->setAlignment(Qt::AlignCenter);
  memory->addWidget(frame("frmMemUsed", "Used memory", lblMemUsed_));
  memory->addWidget(frame("frmMemFree", "Free memory", lblMemFree_));
  layout->addLayout(memory);

  connect(cmbColor_, &QComboBox::currentIndexChanged, this, [this] { settingsChanged(); });
  connect(cmbPaperWidth_, &QComboBox::currentIndexChanged, this, [this] { settingsChanged(); });
  connect(chkErrorDiffusion_, &QCheckBox::toggled, this, [this] { settingsChanged(); });
  connect(chkFit_, &QCheckBox::toggled, this, [this] { settingsChanged(); });
  return box;
}

QWidget* LogoForm::buildButtons() {
  auto* box = new QWidget(this);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 6, 0, 0);
  const auto button = [this, box, layout](const char* name, const char* caption, std::function<void()> action) {
    auto* b = new QPushButton(QString::fromLatin1(caption), box);
    b->setObjectName(QString::fromLatin1(name));
    layout->addWidget(b);
    connect(b, &QPushButton::clicked, this, [this, action = std::move(action)] {
      // Handlers return at once while an operation runs (the hourglass is shown).
      if (running_ || model_->busy()) return;
      action();
    });
    return b;
  };
  cmdAddLogo_ = button("cmdAddLogo", "Add logo", [this] { addLogos(); });
  cmdDelLogo_ = button("cmdDelLogo", "Delete logo", [this] { runOperation([this] { model_->delete_selected(); }); });
  cmdDwldLogo_ = button("cmdDwldLogo", "Download logo", [this] { runOperation([this] { model_->download(); }); });
  cmdPrintLogo_ = button("cmdPrintLogo", "Print logo", [this] { runOperation([this] { model_->print(); }); });
  cmdClearMem_ = button("cmdClearMem", "Delete all logos", [this] { runOperation([this] { model_->delete_all(); }); });
  cmdPrintMemLogos_ =
      button("cmdPrintMemLogos", "Print all logos", [this] { runOperation([this] { model_->print_all(); }); });
  layout->addSpacing(8);
  cmdSelectAll_ = button("cmdSelectAll", "Select all", [this] {
    model_->select_all();
    refresh();
  });
  cmdSelectNone_ = button("cmdSelectNone", "Select none", [this] {
    model_->select_none();
    refresh();
  });
  layout->addSpacing(8);
  cmdExit_ = new QPushButton(QStringLiteral("Close"), box);
  cmdExit_->setObjectName(QStringLiteral("cmdExit"));
  layout->addWidget(cmdExit_);
  connect(cmdExit_, &QPushButton::clicked, this, [this] { close(); });
  return box;
}

void LogoForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!started_) {
    started_ = true;
    if (auto* timer = findChild<QTimer*>(QStringLiteral("StartTimer"))) timer->start();
  }
}

void LogoForm::startInquiry() {
  started_ = true;
  if (auto* timer = findChild<QTimer*>(QStringLiteral("StartTimer"))) timer->stop();
  bool opened = true;
  runOperation([this, &opened] { opened = model_->start_inquiry(); });
  // Without a channel the window cannot work: it unloads.
  if (!opened) close();
}

void LogoForm::runOperation(const std::function<void()>& operation) {
  if (running_) return;
  running_ = true;
  set_busy_pointer(true);
  for (QPushButton* b : {cmdAddLogo_, cmdDelLogo_, cmdDwldLogo_, cmdPrintLogo_, cmdClearMem_, cmdPrintMemLogos_,
                         cmdSelectAll_, cmdSelectNone_})
    b->setEnabled(false);
  // Entries may go: the entry shown is followed by its key (keys of the list are unique).
  const std::string shownKey =
      current_ && *current_ < model_->entries().size() ? model_->entries()[*current_].key : std::string();
  {
    // However the operation ends, the window is idle again afterwards.
    struct idle_again {
      LogoForm& form;
      ~idle_again() {
        form.set_busy_pointer(false);
        form.running_ = false;
      }
    } guard{*this};
    operation();
  }
  current_.reset();
  for (std::size_t i = 0; i < model_->entries().size() && !shownKey.empty(); ++i)
    if (model_->entries()[i].key == shownKey) current_ = i;
  progressBar_->setValue(0);
  refresh();
  if (endReq_) close();
}

void LogoForm::addLogos() {
  QFileDialog dialog(this, QString::fromLatin1(kFileDialogTitle));
  dialog.setObjectName(QStringLiteral("dlgAddLogo"));
  dialog.setNameFilter(QString::fromLatin1(kFileDialogFilter));
  dialog.setDefaultSuffix(QStringLiteral("bmp"));
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  if (dialog.exec() != QDialog::Accepted) return;
  std::vector<std::filesystem::path> files;
  for (const QString& f : dialog.selectedFiles()) files.emplace_back(f.toStdString());
  addPictures(files);
}

void LogoForm::addPictures(const std::vector<std::filesystem::path>& files) {
  if (files.empty() || running_ || model_->busy()) return;
  const std::size_t before = model_->entries().size();
  runOperation([this, &files] { model_->add_pictures(files); });
  // The first picture added becomes the current entry.
  if (model_->entries().size() > before) showEntry(before);
}

void LogoForm::thumbClicked(std::size_t i) {
  if (running_ || model_->busy() || i >= model_->entries().size()) return;
  model_->set_selected(i, !model_->entries()[i].selected);
  showEntry(i);
}

void LogoForm::showEntry(std::size_t i) {
  if (i >= model_->entries().size()) return;
  current_ = i;
  refresh();
  filling_ = true;
  tabStrip_->setCurrentIndex(static_cast<int>(i) + 1);
  filling_ = false;
  pages_->setCurrentIndex(1);
  // The strip scrolls to the entry's thumbnail once the layout has placed it.
  QTimer::singleShot(0, this, [this, i] {
    if (i < thumbs_.size()) picSlide_->ensureWidgetVisible(thumbs_[i]);
  });
}

void LogoForm::settingsChanged() {
  if (filling_ || running_ || model_->busy() || !current_ || *current_ >= model_->entries().size()) return;
  logo::entry_settings s = model_->entries()[*current_].settings;
  if (cmbPaperWidth_->currentIndex() >= 0) s.paper_width_dots = cmbPaperWidth_->currentData().toInt();
  if (cmbColor_->currentIndex() >= 0) s.colour_mode = cmbColor_->currentData().toInt();
  s.diffusion = chkErrorDiffusion_->isChecked();
  s.fit = chkFit_->isChecked();
  const std::size_t i = *current_;
  runOperation([this, i, s] { model_->set_settings(i, s); });
}

void LogoForm::fillSettingChoices() {
  const int id = model_->environment().id;
  cmbPaperWidth_->clear();
  for (const logo::paper_width& w : logo::paper_widths(id)) cmbPaperWidth_->addItem(qs(w.text), w.dots);
  cmbColor_->clear();
  for (const logo::colour_mode& m : logo::colour_modes(id)) cmbColor_->addItem(qs(m.text), m.code);
}

void LogoForm::refresh() {
  filling_ = true;
  refreshEntries();
  refreshCurrent();
  refreshLabels();
  refreshButtons();
  filling_ = false;
}

void LogoForm::refreshEntries() {
  const std::vector<logo::logo_entry>& entries = model_->entries();
  if (current_ && *current_ >= entries.size()) current_.reset();

  // Frames are made or dropped to match the list, then every frame shows its entry.
  const auto clicked = [this](std::size_t i) { thumbClicked(i); };
  while (thumbs_.size() > entries.size()) {
    delete thumbs_.back();
    thumbs_.pop_back();
    delete thumbsAll_.back();
    thumbsAll_.pop_back();
  }
  while (thumbs_.size() < entries.size()) {
    const std::size_t i = thumbs_.size();
    thumbs_.push_back(new ThumbFrame(i, slideRow_->parentWidget(), clicked));
    slideRow_->addWidget(thumbs_.back());
    thumbsAll_.push_back(new ThumbFrame(i, slideAllGrid_->parentWidget(), clicked));
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const logo::dib* source = model_->source_picture(i);
    const QPixmap thumbnail = source != nullptr ? thumbnailOf(*source) : storedThumbnail(entries[i]);
    const bool current = current_ && *current_ == i;
    thumbs_[i]->show(entries[i], thumbnail, current);
    thumbsAll_[i]->show(entries[i], thumbnail, current);
  }
  layoutAllLogos();

  // One tab per entry after "All logos".
  while (tabStrip_->count() > static_cast<int>(entries.size()) + 1) tabStrip_->removeTab(tabStrip_->count() - 1);
  while (tabStrip_->count() < static_cast<int>(entries.size()) + 1) tabStrip_->addTab(QString());
  for (std::size_t i = 0; i < entries.size(); ++i) tabStrip_->setTabText(static_cast<int>(i) + 1, qs(entries[i].state()));
  if (!current_) {
    tabStrip_->setCurrentIndex(0);
    pages_->setCurrentIndex(0);
  }
}

void LogoForm::layoutAllLogos() {
  // The "All logos" page flows the thumbnails into as many columns as its width holds.
  const int columns = std::max(1, (picSlideAll_->viewport()->width() - 8) / (kThumbWidth + 24));
  for (std::size_t i = 0; i < thumbsAll_.size(); ++i) {
    const int row = static_cast<int>(i) / columns;
    const int column = static_cast<int>(i) % columns;
    int at = slideAllGrid_->indexOf(thumbsAll_[i]);
    if (at >= 0) {
      int r = 0, c = 0, rs = 0, cs = 0;
      slideAllGrid_->getItemPosition(at, &r, &c, &rs, &cs);
      if (r == row && c == column) continue;
      slideAllGrid_->removeWidget(thumbsAll_[i]);
    }
    slideAllGrid_->addWidget(thumbsAll_[i], row, column);
  }
}

void LogoForm::refreshCurrent() {
  const bool has = current_.has_value();
  const logo::logo_entry* entry = has ? &model_->entries()[*current_] : nullptr;
  const bool editable = has && model_->settings_editable(*current_);
  for (QWidget* w : std::initializer_list<QWidget*>{cmbColor_, cmbPaperWidth_, chkErrorDiffusion_, chkFit_})
    w->setEnabled(editable && !running_);
  if (cmbColor_->count() == 0 && cmbPaperWidth_->count() == 0) fillSettingChoices();
  if (entry != nullptr) {
    cmbPaperWidth_->setCurrentIndex(cmbPaperWidth_->findData(entry->settings.paper_width_dots));
    cmbColor_->setCurrentIndex(cmbColor_->findData(entry->settings.colour_mode));
    chkErrorDiffusion_->setChecked(entry->settings.diffusion);
    chkFit_->setChecked(entry->settings.fit);
  }
  const logo::dib* source = has ? model_->source_picture(*current_) : nullptr;
  const logo::dib* preview = has ? model_->preview_picture(*current_) : nullptr;
  picView_->setPixmap(source != nullptr ? fitted(toImage(*source), picView_->contentsRect().size(), 4.0) : QPixmap());
  picPreview_->setPixmap(preview != nullptr ? fitted(toImage(*preview), picPreview_->contentsRect().size(), 4.0)
                                            : QPixmap());
}

void LogoForm::refreshLabels() {
  lblMemUsed_->setText(qs(model_->memory_used_text()));
  lblMemFree_->setText(qs(model_->memory_free_text()));
  progressBar_->setValue(std::clamp(model_->progress(), 0, 100));
}

void LogoForm::refreshButtons() {
  const logo::button_states& b = model_->buttons();
  const bool idle = !running_;
  cmdAddLogo_->setEnabled(idle);
  cmdDelLogo_->setEnabled(idle && b.del);
  cmdDwldLogo_->setEnabled(idle && b.download);
  cmdPrintLogo_->setEnabled(idle && b.print);
  cmdPrintLogo_->setVisible(b.print_visible);
  cmdPrintMemLogos_->setEnabled(idle && b.print_all);
  cmdClearMem_->setEnabled(idle);
  cmdSelectAll_->setEnabled(idle);
  cmdSelectNone_->setEnabled(idle);
}

void LogoForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  layoutAllLogos();
  if (!running_) {
    filling_ = true;
    refreshCurrent();
    filling_ = false;
  }
}

void LogoForm::closeEvent(QCloseEvent* event) {
  // During an operation closing only asks it to end (EndReq); the window closes after it.
  if (running_ || model_->busy()) {
    endReq_ = true;
    event->ignore();
    return;
  }
  event->accept();
}

// ---------------------------------------------------------------------------------------------
// user_interface

void LogoForm::set_status(int panel, const std::string& text) {
  (panel == utilities::kPanelWorkingMode ? workingMode_ : programStatus_)->setText(qs(text));
}

void LogoForm::show_message(const std::string& text) {
  utilities_view::show_message_form(this, windowTitle(), text);
}

void LogoForm::message_box(const std::string& text, box_icon icon) {
  utilities_view::show_message_box(this, windowTitle(), text, icon);
}

box_answer LogoForm::ask(const std::string& text, box_buttons buttons, box_icon icon) {
  return utilities_view::ask_question(this, windowTitle(), text, buttons, icon);
}

void LogoForm::pump(int ms) {
  // The operation goes on after the pump: show how far it got.
  refreshLabels();
  utilities_view::pump_events(ms);
}

void LogoForm::set_busy_pointer(bool busy) {
  if (busy == busyCursor_) return;
  busyCursor_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

}  // namespace logo_view
