// StartForm: builds the wizard's widgets, shows the model's state and forwards user actions.
#include "start_form.h"

#include <algorithm>

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "image_lists.h"

namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

QTreeWidget* makeTree(const char* name, QWidget* parent) {
  auto* tree = new QTreeWidget(parent);
  tree->setObjectName(QLatin1String(name));
  tree->setHeaderHidden(true);
  tree->setRootIsDecorated(false);
  tree->setIconSize(QSize(16, 16));
  tree->setMinimumSize(240, 180);
  return tree;
}

QPushButton* makeButton(const char* name, QWidget* parent) {
  auto* button = new QPushButton(parent);
  button->setObjectName(QLatin1String(name));
  return button;
}

// An etched vertical line; two of them stand right of the printer picture.
QFrame* makeSeparator(const char* name, QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setObjectName(QLatin1String(name));
  line->setFrameShape(QFrame::VLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

void showPicture(QLabel* label, const std::filesystem::path& file) {
  const QPixmap picture(qt(file.string()));
  if (file.empty() || picture.isNull()) {
    label->clear();
  } else {
    label->setPixmap(picture);
  }
}

}  // namespace

StartForm::StartForm(launcher::launcher_model& model, QWidget* parent) : QWidget(parent), model_(model) {
  setObjectName(QStringLiteral("StartForm"));

  imgLogo_ = new QLabel(this);
  imgLogo_->setObjectName(QStringLiteral("imgLogo"));
  imgPrinter_ = new QLabel(this);
  imgPrinter_->setObjectName(QStringLiteral("imgPrinter"));
  imgPrinter_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

  frmChooseLang_ = new QGroupBox(this);
  frmChooseLang_->setObjectName(QStringLiteral("frmChooseLang"));
  tvwLang_ = makeTree("tvwLang", frmChooseLang_);
  cckSetAsDefault_ = new QCheckBox(frmChooseLang_);
  cckSetAsDefault_->setObjectName(QStringLiteral("cckSetAsDefault"));
  auto* langLayout = new QVBoxLayout(frmChooseLang_);
  langLayout->addWidget(tvwLang_);
  langLayout->addWidget(cckSetAsDefault_);

  frmChooseApp_ = new QGroupBox(this);
  frmChooseApp_->setObjectName(QStringLiteral("frmChooseApp"));
  tvwApp_ = makeTree("tvwApp", frmChooseApp_);
  auto* appLayout = new QVBoxLayout(frmChooseApp_);
  appLayout->addWidget(tvwApp_);

  cmdHelp_ = makeButton("cmdHelp", this);  // has no action
  cmdPrevious_ = makeButton("cmdPrevious", this);
  cmdNext_ = makeButton("cmdNext", this);
  cmdNext_->setDefault(true);
  cmdCancel_ = makeButton("cmdCancel", this);

  // Logo on top; printer picture, two lines and the step's frame below; buttons at the bottom.
  auto* body = new QGridLayout;
  body->addWidget(imgPrinter_, 0, 0);
  body->addWidget(makeSeparator("linSeparator1", this), 0, 1);
  body->addWidget(makeSeparator("linSeparator2", this), 0, 2);
  body->addWidget(frmChooseLang_, 0, 3);
  body->addWidget(frmChooseApp_, 0, 3);
  body->setHorizontalSpacing(4);
  body->setColumnMinimumWidth(0, 140);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdHelp_);
  buttons->addStretch();
  buttons->addWidget(cmdPrevious_);
  buttons->addWidget(cmdNext_);
  buttons->addSpacing(12);
  buttons->addWidget(cmdCancel_);
  auto* bottomLine = new QFrame(this);
  bottomLine->setFrameShape(QFrame::HLine);
  bottomLine->setFrameShadow(QFrame::Sunken);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(imgLogo_);
  layout->addLayout(body);
  layout->addWidget(bottomLine);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // User actions go to the model.
  connect(cmdNext_, &QPushButton::clicked, this, &StartForm::nextClicked);
  connect(cmdPrevious_, &QPushButton::clicked, this, &StartForm::previousClicked);
  connect(cmdCancel_, &QPushButton::clicked, this, &QWidget::close);
  connect(cckSetAsDefault_, &QCheckBox::toggled, this, [this](bool ticked) { model_.set_set_as_default(ticked); });
  connect(tvwLang_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item) { model_.select_language(tvwLang_->indexOfTopLevelItem(item)); });
  connect(tvwApp_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item) { model_.select_application(tvwApp_->indexOfTopLevelItem(item)); });
  connect(tvwApp_, &QTreeWidget::itemDoubleClicked, this, [this] { nextClicked(); });
  tvwApp_->installEventFilter(this);
  tvwApp_->viewport()->installEventFilter(this);
  tvwLang_->viewport()->installEventFilter(this);
  pollTimer_.setInterval(launcher::kPollStepMs);
  connect(&pollTimer_, &QTimer::timeout, this, &StartForm::pollApplication);

  showPicture(imgLogo_, model_.logo_picture());
  showPicture(imgPrinter_, model_.printer_picture());
  showCaptions();
  fillLanguages();
  fillApplications();
  showStep();

  // Both steps keep one window size.
  const int frameHeight = std::max(frmChooseLang_->sizeHint().height(), frmChooseApp_->sizeHint().height());
  frmChooseLang_->setMinimumHeight(frameHeight);
  frmChooseApp_->setMinimumHeight(frameHeight);
}

void StartForm::showCaptions() {
  setWindowTitle(qt(model_.window_caption()));
  frmChooseLang_->setTitle(qt(model_.caption("frmChooseLang")));
  cckSetAsDefault_->setText(qt(model_.caption("cckSetAsDefault")));
  frmChooseApp_->setTitle(qt(model_.caption("frmChooseApp")));
  cmdPrevious_->setText(qt(model_.caption("cmdPrevious")));
  cmdNext_->setText(qt(model_.caption("cmdNext")));
  cmdCancel_->setText(qt(model_.caption("cmdCancel")));
  cmdHelp_->setText(qt(model_.caption("cmdHelp")));
}

void StartForm::fillLanguages() {
  const QSignalBlocker blocker(tvwLang_);
  tvwLang_->clear();
  for (const std::string& language : model_.languages()) {
    auto* item = new QTreeWidgetItem(tvwLang_, QStringList(qt(language)));
    item->setIcon(0, imageListIcon(qt(language)));
  }
  tvwLang_->setCurrentItem(tvwLang_->topLevelItem(model_.selected_language()));
}

void StartForm::fillApplications() {
  const QSignalBlocker blocker(tvwApp_);
  tvwApp_->clear();
  for (const launcher::application_node& node : model_.applications()) {
    auto* item = new QTreeWidgetItem(tvwApp_, QStringList(qt(node.name)));
    item->setData(0, Qt::UserRole, qt(node.key));
    item->setIcon(0, imageListIcon(QStringLiteral("AppIcon")));
  }
  tvwApp_->setCurrentItem(tvwApp_->topLevelItem(model_.selected_application()));
}

void StartForm::showStep() {
  const bool languageStep = model_.step() == launcher::wizard_step::language;
  frmChooseLang_->setVisible(languageStep);
  frmChooseApp_->setVisible(!languageStep);
  cmdPrevious_->setEnabled(model_.previous_enabled());
}

void StartForm::nextClicked() {
  switch (model_.next()) {
    case launcher::next_outcome::nothing:
    case launcher::next_outcome::ended_at_once:
      break;
    case launcher::next_outcome::application_step:
      showCaptions();
      fillApplications();
      showStep();
      tvwApp_->setFocus();
      break;
    case launcher::next_outcome::start_failed:
      QMessageBox::critical(this, qt(model_.title()), qt(model_.message()));
      break;
    case launcher::next_outcome::running:
      // Out of the way, and on top when it comes back, while the program runs.
      setWindowFlag(Qt::WindowStaysOnTopHint, true);
      hide();
      pollTimer_.start();
      break;
  }
}

void StartForm::previousClicked() {
  model_.previous();
  showStep();
  tvwLang_->setFocus();
}

void StartForm::pollApplication() {
  if (model_.poll_application()) {
    return;
  }
  pollTimer_.stop();
  setWindowFlag(Qt::WindowStaysOnTopHint, false);
  show();
  emit applicationEnded();
}

bool StartForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tvwApp_ && event->type() == QEvent::FocusOut) {
    model_.application_tree_left();
  } else if (event->type() == QEvent::ToolTip && (watched == tvwApp_->viewport() || watched == tvwLang_->viewport())) {
    // The node under the pointer gives the tip; elsewhere the frame's caption does.
    auto* help = static_cast<QHelpEvent*>(event);
    const std::string tip = watched == tvwLang_->viewport()
                                ? model_.language_tool_tip()
                                : model_.application_tool_tip(tvwApp_->indexOfTopLevelItem(tvwApp_->itemAt(help->pos())));
    QToolTip::showText(help->globalPos(), qt(tip), static_cast<QWidget*>(watched));
    return true;
  }
  return QWidget::eventFilter(watched, event);
}
