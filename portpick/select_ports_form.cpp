// SelectPortsForm: builds the dialog's widgets, shows the model's lists and forwards the buttons.
#include "select_ports_form.h"

#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>

namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

// Window caption and size (6400 by 4800 twips at 15 twips a pixel).
const QString kCaption = QStringLiteral("Select Ports ");
constexpr int kWidth = 427;
constexpr int kHeight = 320;

QPushButton* makeButton(const char* name, const char* caption, QWidget* parent) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  button->setObjectName(QLatin1String(name));
  return button;
}

}  // namespace

bool QtMessageBoxes::interactive() const {
  return QGuiApplication::platformName() != QLatin1String("offscreen");
}

void QtMessageBoxes::critical(const std::string& text) {
  std::fprintf(stderr, "Portpick: %s\n", text.c_str());
  if (interactive()) QMessageBox::critical(parent_, kCaption, qt(text));
}

void QtMessageBoxes::warning(const std::string& text) {
  if (interactive()) QMessageBox::warning(parent_, kCaption, qt(text));
}

void QtMessageBoxes::information(const std::string& text) {
  if (interactive()) QMessageBox::information(parent_, kCaption, qt(text));
}

SelectPortsForm::SelectPortsForm(portpick::portpick_model& model, QWidget* parent)
    : QWidget(parent), model_(model) {
  setObjectName(QStringLiteral("SelectPortsForm"));
  setWindowTitle(kCaption);

  frame_ = new QGroupBox(QStringLiteral("Enabled port for RiveRed"), this);
  frame_->setObjectName(QStringLiteral("Frame1"));
  label_ = new QLabel(QStringLiteral("Select the port used by the RiveRed programs."), frame_);
  label_->setObjectName(QStringLiteral("Label1"));
  cmbPorteA_ = new QComboBox(frame_);
  cmbPorteA_->setObjectName(QStringLiteral("cmbPorteA"));
  cmbPorteA_->setMinimumWidth(120);
  auto* frameLayout = new QVBoxLayout(frame_);
  frameLayout->addWidget(label_);
  auto* comboRow = new QHBoxLayout;
  comboRow->addWidget(cmbPorteA_);
  comboRow->addStretch();
  frameLayout->addLayout(comboRow);

  list1_ = new QListWidget(this);
  list1_->setObjectName(QStringLiteral("List1"));

  command4_ = makeButton("Command4", "Next", this);
  command4_->setDefault(true);
  command5_ = makeButton("Command5", "Exit installation", this);
  command3_ = makeButton("Command3", "Aggiorna", this);
  command2_ = makeButton("Command2", "Lista", this);
  command1_ = makeButton("Command1", "Check sistema", this);

  // The port frame and the answer buttons on top, the information list with its buttons below.
  auto* answers = new QVBoxLayout;
  answers->addWidget(command4_);
  answers->addWidget(command5_);
  answers->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(frame_, 1);
  top->addLayout(answers);
  auto* tools = new QHBoxLayout;
  tools->addWidget(command3_);
  tools->addWidget(command2_);
  tools->addWidget(command1_);
  tools->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(list1_, 1);
  layout->addLayout(tools);
  resize(kWidth, kHeight);

  connect(cmbPorteA_, &QComboBox::currentIndexChanged, this, [this](int index) { model_.select_port(index); });
  connect(command4_, &QPushButton::clicked, this, &SelectPortsForm::nextClicked);
  connect(command5_, &QPushButton::clicked, this, &SelectPortsForm::exitClicked);
  connect(command3_, &QPushButton::clicked, this, [this] {
    model_.refresh();
    fillPorts();
  });
  connect(command2_, &QPushButton::clicked, this, [this] {
    model_.list_system();
    fillInformation();
  });
  connect(command1_, &QPushButton::clicked, this, [this] {
    model_.check_system();
    fillInformation();
  });

  // The port frame is shown for an accepted selection of components.
  frame_->setVisible(model_.command().accepted);
  fillPorts();
}

void SelectPortsForm::fillPorts() {
  const QSignalBlocker blocker(cmbPorteA_);
  cmbPorteA_->clear();
  for (const portpick::port_entry& entry : model_.ports()) cmbPorteA_->addItem(qt(entry.text));
  cmbPorteA_->setCurrentIndex(model_.selected_port());
}

void SelectPortsForm::fillInformation() {
  // Lines are only ever added, so only the new ones go in.
  for (int row = list1_->count(); row < static_cast<int>(model_.information().size()); ++row) {
    list1_->addItem(qt(model_.information()[static_cast<std::size_t>(row)]));
  }
  list1_->setCurrentRow(model_.selected_information());
}

void SelectPortsForm::nextClicked() {
  const portpick::next_outcome outcome = model_.next();
  fillPorts();  // a "USB" entry may have become the ports found
  if (outcome == portpick::next_outcome::ended) finish(true);
}

void SelectPortsForm::exitClicked() {
  // The window closes even when "C" could not be written (the model has said so); the program's
  // exit status then tells the installation that no answer was recorded.
  finish(model_.exit_installation());
}

void SelectPortsForm::finish(bool answered) {
  answered_ = answered;
  emit closing();
  close();
}
