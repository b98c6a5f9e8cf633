// The LAN setup program's windows over the model.
#include "netsetup_forms.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <chrono>
#include <future>

namespace netsetup {
namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }
QString q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
std::string s(const QString& text) { return text.toStdString(); }

// Apply and Cancel under a dialog's controls.
QDialogButtonBox* apply_cancel(QDialog* dialog, QVBoxLayout* layout, const std::function<void()>& apply) {
  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* ok = buttons->addButton(QStringLiteral("Apply"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("cmdApply"));
  QPushButton* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("cmdCancel"));
  QObject::connect(ok, &QPushButton::clicked, dialog, apply);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  layout->addWidget(buttons);
  return buttons;
}

QLineEdit* line_edit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  return edit;
}

QComboBox* combo(QWidget* parent, const char* name) {
  auto* box = new QComboBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  return box;
}

// Shows an outcome's messages; closes `dialog` (accepted) when the outcome says so.
void show_outcome(QDialog& dialog, prompts& boxes, const outcome& o) {
  for (const std::string& m : o.messages) {
    if (o.ok) {
      boxes.information(m);
    } else {
      boxes.warning(m);
    }
  }
  if (o.close) dialog.accept();
}

}  // namespace

void screen_prompts::warning(const std::string& text) { QMessageBox::warning(parent_, QStringLiteral("Netsetup"), q(text)); }
void screen_prompts::information(const std::string& text) {
  QMessageBox::information(parent_, QStringLiteral("Netsetup"), q(text));
}
bool screen_prompts::confirm(const std::string& text) {
  return QMessageBox::question(parent_, QStringLiteral("Netsetup"), q(text), QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

int twips_to_pixels(int twips) { return twips / 15; }

// ----- DlgInstall ----------------------------------------------------------------------------

DlgInstall::DlgInstall(netsetup_model& model, prompts& boxes, QWidget* parent)
    : QDialog(parent), model_(model), boxes_(boxes) {
  setObjectName(QStringLiteral("DlgInstall"));
  setWindowTitle(QStringLiteral("Initialize Lan Printer"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  name_ = line_edit(this, "tPrName");
  name_->setMaxLength(24);
  form->addRow(QStringLiteral("Printer name"), name_);
  layout->addLayout(form);
  apply_cancel(this, layout, [this] { apply(); });
}

void DlgInstall::apply() { show_outcome(*this, boxes_, model_.initialize(s(name_->text()))); }

// ----- DlgSetip ------------------------------------------------------------------------------

DlgSetip::DlgSetip(netsetup_model& model, prompts& boxes, QWidget* parent)
    : QDialog(parent), model_(model), boxes_(boxes) {
  setObjectName(QStringLiteral("DlgSetip"));
  setWindowTitle(QStringLiteral("Set IP address"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  address_ = line_edit(this, "tSetip");
  address_->setMaxLength(15);
  form->addRow(QStringLiteral("New IP address"), address_);
  layout->addLayout(form);
  apply_cancel(this, layout, [this] { apply(); });
}

void DlgSetip::apply() {
  // The wait for the printer at its new address keeps the window answering; a second Apply
  // meanwhile does nothing.
  if (busy_) return;
  busy_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const outcome o = model_.set_ip(s(address_->text()));
  QApplication::restoreOverrideCursor();
  busy_ = false;
  for (const std::string& m : o.messages) boxes_.warning(m);
  if (o.close) accept();
}

// ----- DlgConfig -----------------------------------------------------------------------------

DlgConfig::DlgConfig(netsetup_model& model, prompts& boxes, QWidget* parent)
    : QDialog(parent), model_(model), boxes_(boxes) {
  setObjectName(QStringLiteral("DlgConfig"));
  setWindowTitle(QStringLiteral("Configure"));
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("SSTabConfig"));
  layout->addWidget(tabs_);

  auto* tcp = new QWidget(tabs_);
  auto* tcp_form = new QFormLayout(tcp);
  port_ = line_edit(tcp, "tTcpPort");
  port_->setMaxLength(5);
  subnet_ = combo(tcp, "cmbSubnet");
  for (const std::string& mask : subnet_masks()) subnet_->addItem(q(mask));
  gateway_ = line_edit(tcp, "tGateway");
  gateway_->setMaxLength(15);
  tcp_form->addRow(QStringLiteral("TCP port"), port_);
  tcp_form->addRow(QStringLiteral("Subnet mask"), subnet_);
  tcp_form->addRow(QStringLiteral("Default gateway"), gateway_);
  tabs_->addTab(tcp, QStringLiteral("TCP parameters"));
  // Touching a field marks it changed.
  connect(gateway_, &QLineEdit::textEdited, this, [this] { tcp_.gateway_changed = true; });
  connect(port_, &QLineEdit::textEdited, this, [this] { tcp_.port_changed = true; });
  connect(subnet_, QOverload<int>::of(&QComboBox::activated), this, [this] { tcp_.mask_changed = true; });

  auto* wifi = new QWidget(tabs_);
  auto* wifi_layout = new QVBoxLayout(wifi);
  infrastructure_ = new QRadioButton(QStringLiteral("Infrastructure"), wifi);
  infrastructure_->setObjectName(QStringLiteral("OptInfrastructure"));
  ad_hoc_ = new QRadioButton(QStringLiteral("Ad hoc"), wifi);
  ad_hoc_->setObjectName(QStringLiteral("OptAdHoc"));
  ssid_ = line_edit(wifi, "tSSID");
  ssid_ad_hoc_ = line_edit(wifi, "tSSID_AdHoc");
  ssid_->setMaxLength(33);
  ssid_ad_hoc_->setMaxLength(33);
  country_ = combo(wifi, "cmbCountry");
  for (const auto c : kCountries) country_->addItem(q(c));
  channel_ = combo(wifi, "cmbChannel");
  auto* infra_form = new QFormLayout;
  infra_form->addRow(infrastructure_);
  infra_form->addRow(QStringLiteral("Network name (SSID)"), ssid_);
  infra_form->addRow(ad_hoc_);
  infra_form->addRow(QStringLiteral("Network name (SSID)"), ssid_ad_hoc_);
  infra_form->addRow(QStringLiteral("Country"), country_);
  infra_form->addRow(QStringLiteral("Channel"), channel_);
  wifi_layout->addLayout(infra_form);
  wep_ = new QCheckBox(QStringLiteral("Enable WEP"), wifi);
  wep_->setObjectName(QStringLiteral("chkWEP"));
  authentication_ = combo(wifi, "cmbAuthentication");
  for (const auto a : kAuthentications) authentication_->addItem(q(a));
  key_length_ = combo(wifi, "cmbKeyLenght");
  for (const auto k : kKeyLengths) key_length_->addItem(q(k));
  key_ = line_edit(wifi, "tKey");
  // Hexadecimal digits only; other key presses are dropped.
  key_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-Fa-f]*")), key_));
  auto* wep_form = new QFormLayout;
  wep_form->addRow(wep_);
  wep_form->addRow(QStringLiteral("Authentication"), authentication_);
  wep_form->addRow(QStringLiteral("Key length"), key_length_);
  wep_form->addRow(QStringLiteral("Key"), key_);
  wifi_layout->addLayout(wep_form);
  auto* advanced = new QGroupBox(QStringLiteral("Advanced parameters"), wifi);
  auto* advanced_form = new QFormLayout(advanced);
  tx_rate_ = combo(advanced, "cmbTxDataRate");
  for (const auto r : kTxDataRates) tx_rate_->addItem(q(r));
  advanced_form->addRow(QStringLiteral("Transmission data rate"), tx_rate_);
  wifi_layout->addWidget(advanced);
  tabs_->addTab(wifi, QStringLiteral("Wi-Fi parameters"));

  connect(infrastructure_, &QRadioButton::toggled, this, [this] { update_wifi_controls(); });
  connect(wep_, &QCheckBox::toggled, this, [this] { update_wifi_controls(); });
  connect(country_, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] { fill_channels(); });
  connect(key_length_, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] { update_wifi_controls(); });
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (index == 1 && !wifi_loaded_) load_wifi();
  });
  apply_cancel(this, layout, [this] { apply(); });
  fill_channels();
}

void DlgConfig::fill_channels() {
  const int keep = channel_->currentIndex();
  channel_->clear();
  for (const std::string& c : channels(country_->currentIndex())) channel_->addItem(q(c));
  channel_->setCurrentIndex(std::min(std::max(keep, 0), channel_->count() - 1));
}

void DlgConfig::update_wifi_controls() {
  const bool ad_hoc = ad_hoc_->isChecked();
  ssid_->setEnabled(!ad_hoc);
  ssid_ad_hoc_->setEnabled(ad_hoc);
  country_->setEnabled(ad_hoc);
  channel_->setEnabled(ad_hoc);
  const bool wep = wep_->isChecked();
  authentication_->setEnabled(wep);
  key_length_->setEnabled(wep);
  key_->setEnabled(wep);
  if (!wep) key_->clear();
  key_->setMaxLength(key_length_->currentIndex() == 1 ? 10 : 26);
}

bool DlgConfig::load() {
  const auto settings = model_.open_configure();
  if (!settings) return false;
  tcp_ = tcp_edit{*settings, false, false, false};
  subnet_->setCurrentIndex(settings->mask_index);
  gateway_->setText(q(settings->gateway));
  port_->setText(q(settings->port));
  const printer_row* row = model_.selected_row();
  tabs_->setTabEnabled(1, row != nullptr && row->wireless());
  update_wifi_controls();
  return true;
}

void DlgConfig::load_wifi() {
  std::string message;
  const auto w = model_.open_wifi(message);
  if (!w) {
    if (!message.empty()) boxes_.warning(message);
    return;
  }
  wifi_loaded_ = true;
  ssid_->setText(q(w->ssid));
  ssid_ad_hoc_->setText(q(w->ssid_ad_hoc));
  (w->ad_hoc ? ad_hoc_ : infrastructure_)->setChecked(true);
  country_->setCurrentIndex(w->country);
  fill_channels();
  channel_->setCurrentIndex(w->channel_index);
  key_length_->setCurrentIndex(w->key_length);
  authentication_->setCurrentIndex(w->authentication);
  tx_rate_->setCurrentIndex(w->tx_rate);
  wep_->setChecked(w->wep);
  update_wifi_controls();
}

void DlgConfig::apply() {
  if (tabs_->currentIndex() == 0) {
    tcp_.values.mask_index = subnet_->currentIndex();
    tcp_.values.gateway = s(gateway_->text());
    tcp_.values.port = s(port_->text());
    show_outcome(*this, boxes_, model_.apply_tcp(tcp_));
    return;
  }
  wifi_settings w;
  w.ad_hoc = ad_hoc_->isChecked();
  w.ssid = s(ssid_->text());
  w.ssid_ad_hoc = s(ssid_ad_hoc_->text());
  w.country = country_->currentIndex();
  w.channel_index = channel_->currentIndex();
  w.wep = wep_->isChecked();
  w.authentication = authentication_->currentIndex();
  w.key_length = key_length_->currentIndex();
  w.key = s(key_->text());
  w.tx_rate = tx_rate_->currentIndex();
  show_outcome(*this, boxes_, model_.apply_wifi(w));
}

// ----- DlgPing -------------------------------------------------------------------------------

DlgPing::DlgPing(netsetup_model& model, prompts& boxes, QWidget* parent)
    : QDialog(parent), model_(model), boxes_(boxes) {
  setObjectName(QStringLiteral("DlgPing"));
  setWindowTitle(QStringLiteral("Ping an IP address"));
  auto* layout = new QFormLayout(this);
  address_ = line_edit(this, "tPing");
  address_->setMaxLength(15);
  auto* execute_button = new QPushButton(QStringLiteral("Execute"), this);
  execute_button->setObjectName(QStringLiteral("cmdExecute"));
  reply_ = line_edit(this, "tReply");
  reply_->setReadOnly(true);
  layout->addRow(QStringLiteral("IP address"), address_);
  layout->addRow(execute_button);
  layout->addRow(QStringLiteral("Reply"), reply_);
  connect(execute_button, &QPushButton::clicked, this, [this] { execute(); });
}

void DlgPing::execute() {
  std::string message;
  const auto reply = model_.ping(s(address_->text()), message);
  if (!reply) {
    boxes_.warning(message);
    return;
  }
  reply_->setText(q(*reply));
}

// ----- frmNetwork ----------------------------------------------------------------------------

frmNetwork::frmNetwork(netsetup_model& model, prompts& boxes, QWidget* parent)
    : QDialog(parent), model_(model), boxes_(boxes) {
  setObjectName(QStringLiteral("frmNetwork"));
  setWindowTitle(QStringLiteral("Network Adapters"));
  auto* layout = new QVBoxLayout(this);
  adapters_ = new QTreeWidget(this);
  adapters_->setObjectName(QStringLiteral("lvwAdapter"));
  adapters_->setRootIsDecorated(false);
  QStringList headers;
  for (const column& c : kAdapterColumns) headers << q(c.header);
  adapters_->setHeaderLabels(headers);
  for (int i = 0; i < static_cast<int>(kAdapterColumns.size()); ++i) {
    adapters_->setColumnWidth(i, twips_to_pixels(kAdapterColumns[static_cast<std::size_t>(i)].width_twips));
  }
  layout->addWidget(adapters_);
  std::string message;
  for (const adapter_row& a : model_.adapter_rows(message)) {
    auto* item = new QTreeWidgetItem(adapters_, {q(a.name), q(a.type), q(a.ip), q(a.mac), q(a.subnet), q(a.gateway), q(a.dhcp)});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, adapters_->indexOfTopLevelItem(item) == model_.adapter_index() ? Qt::Checked : Qt::Unchecked);
  }
  if (!message.empty()) boxes_.warning(message);
  // Ticking one adapter clears the others.
  connect(adapters_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* changed, int) {
    if (changed->checkState(0) != Qt::Checked) return;
    const QSignalBlocker block(adapters_);
    for (int i = 0; i < adapters_->topLevelItemCount(); ++i) {
      QTreeWidgetItem* other = adapters_->topLevelItem(i);
      if (other != changed) other->setCheckState(0, Qt::Unchecked);
    }
  });
  resize(800, 260);
  apply_cancel(this, layout, [this] { apply(); });
}

void frmNetwork::apply() {
  int ticked = -1;
  for (int i = 0; i < adapters_->topLevelItemCount(); ++i) {
    if (adapters_->topLevelItem(i)->checkState(0) == Qt::Checked) ticked = i;
  }
  show_outcome(*this, boxes_, model_.apply_adapter(ticked));
}

// ----- frmAbout ------------------------------------------------------------------------------

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About Netsetup"));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(QStringLiteral("Netsetup\nLAN printer setup\nVersion 1.0"), this);
  label->setObjectName(QStringLiteral("lblProduct"));
  layout->addWidget(label);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(ok);
}

// ----- FrmMain -------------------------------------------------------------------------------

FrmMain::FrmMain(netsetup_model& model, prompts& boxes, QWidget* parent)
    : QMainWindow(parent), model_(model), boxes_(boxes) {
  setObjectName(QStringLiteral("FrmMain"));
  setWindowTitle(QStringLiteral("Netsetup - LAN printer setup"));

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QMenu* printer = menuBar()->addMenu(QStringLiteral("&Printer"));
  QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  const auto add = [this](QMenu* menu, const char* name, const char* text, void (FrmMain::*slot)()) {
    QAction* a = action(name, QString::fromLatin1(text));
    menu->addAction(a);
    connect(a, &QAction::triggered, this, slot);
  };
  add(file, "mnuSearch", "&Search", &FrmMain::search);
  add(file, "mnuRefresh", "&Refresh", &FrmMain::search);
  file->addSeparator();
  QAction* exit = action("mnuExit", QStringLiteral("E&xit"));
  file->addAction(exit);
  connect(exit, &QAction::triggered, this, &QWidget::close);
  add(printer, "mnuInitialize", "&Initialize", &FrmMain::initialize);
  add(printer, "mnuConfigure", "&Configure", &FrmMain::configure);
  add(printer, "mnuSetip", "Set &IP address", &FrmMain::set_ip);
  add(printer, "mnuReset", "R&eset", &FrmMain::reset);
  add(printer, "mnuPrintTestPage", "Print &test page", &FrmMain::print_test_page);
  add(tools, "mnuPing", "&Ping", &FrmMain::ping);
  add(tools, "mnuNetwork", "&Network", &FrmMain::network);
  add(help, "mnuAbout", "&About", &FrmMain::about);

  QToolBar* bar = addToolBar(QStringLiteral("Commands"));
  bar->setObjectName(QStringLiteral("Toolbar1"));
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  const auto button = [&](const char* key, const char* text, void (FrmMain::*slot)()) {
    QAction* a = action(key, QString::fromLatin1(text));
    bar->addAction(a);
    connect(a, &QAction::triggered, this, slot);
  };
  button("kSearch", "Search", &FrmMain::search);
  button("kInitialize", "Initialize", &FrmMain::initialize);
  button("kConfigure", "Configure", &FrmMain::configure);
  button("kSetip", "Set IP address", &FrmMain::set_ip);
  button("kRefresh", "Refresh", &FrmMain::search);
  QAction* exit_button = action("kExit", QStringLiteral("Exit"));
  bar->addAction(exit_button);
  connect(exit_button, &QAction::triggered, this, &QWidget::close);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("lvwLanPr"));
  list_->setRootIsDecorated(false);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  QStringList headers;
  for (const column& c : kPrinterColumns) headers << q(c.header);
  list_->setHeaderLabels(headers);
  for (int i = 0; i < static_cast<int>(kPrinterColumns.size()); ++i) {
    list_->setColumnWidth(i, twips_to_pixels(kPrinterColumns[static_cast<std::size_t>(i)].width_twips));
  }
  connect(list_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
    // Only the states follow a click: the rows stay as they are under the mouse.
    model_.select(list_->indexOfTopLevelItem(item) + 1);
    refresh_states();
  });
  setCentralWidget(list_);

  for (int i = 0; i < 4; ++i) {
    panels_[i] = new QLabel(this);
    panels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i + 1));
    statusBar()->addWidget(panels_[i], i == 0 || i == 2 ? 0 : 1);
  }
  panels_[0]->setText(QStringLiteral("Operation:"));
  panels_[2]->setText(QStringLiteral("Result:"));
  resize(680, 360);
  refresh_view();
}

QAction* FrmMain::action(const char* menu_name, const QString& text) {
  auto* a = new QAction(text, this);
  a->setObjectName(QString::fromLatin1(menu_name));
  return a;
}

void FrmMain::run_dialog(QDialog& dialog) {
  dialog.exec();
  refresh_view();
}

void FrmMain::refresh_view() {
  list_->clear();
  for (const printer_row& r : model_.rows()) {
    auto* item = new QTreeWidgetItem(list_, {q(r.index), q(r.ip), q(r.mac), q(r.name), q(r.status), q(r.port)});
    if (r.port_grey) item->setForeground(5, QBrush(Qt::gray));
  }
  if (model_.selected() >= 1 && model_.selected() <= list_->topLevelItemCount()) {
    list_->setCurrentItem(list_->topLevelItem(model_.selected() - 1));
  }
  refresh_states();
}

void FrmMain::refresh_states() {
  panels_[1]->setText(q(model_.status_operation()));
  panels_[3]->setText(q(model_.status_result()));
  const command_states c = model_.commands();
  const std::pair<const char*, bool> states[] = {
      {"kInitialize", c.initialize}, {"mnuInitialize", c.initialize}, {"kConfigure", c.configure},
      {"mnuConfigure", c.configure}, {"kSetip", c.set_ip},           {"mnuSetip", c.set_ip},
      {"kRefresh", c.refresh},       {"mnuRefresh", c.refresh},       {"mnuReset", c.reset},
      {"mnuPrintTestPage", c.print_test_page}};
  for (const auto& [name, enabled] : states) {
    if (auto* a = findChild<QAction*>(QString::fromLatin1(name))) a->setEnabled(enabled);
  }
}

void FrmMain::search() {
  if (busy_) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  model_.search();
  QApplication::restoreOverrideCursor();
  refresh_view();
  if (!model_.rows().empty()) list_->setFocus();
}

void FrmMain::initialize() {
  if (busy_) return;
  if (model_.selected_row() == nullptr) return;
  DlgInstall dialog(model_, boxes_, this);
  run_dialog(dialog);
}

void FrmMain::configure() {
  if (busy_) return;
  DlgConfig dialog(model_, boxes_, this);
  if (!dialog.load()) return;
  run_dialog(dialog);
}

void FrmMain::set_ip() {
  if (busy_) return;
  if (model_.selected_row() == nullptr) return;
  DlgSetip dialog(model_, boxes_, this);
  run_dialog(dialog);
}

void FrmMain::reset() {
  if (busy_) return;
  if (model_.selected_row() == nullptr) return;
  if (!boxes_.confirm(std::string(kMsgConfirmReset))) return;
  busy_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  model_.reset();
  QApplication::restoreOverrideCursor();
  busy_ = false;
  refresh_view();
}

void FrmMain::ping() {
  if (busy_) return;
  DlgPing dialog(model_, boxes_, this);
  dialog.exec();
}

void FrmMain::print_test_page() {
  if (busy_ || model_.selected_row() == nullptr) return;
  // The connection may take up to 10 s: the page goes out on a worker thread while the window
  // keeps answering (every command returns at once meanwhile).
  busy_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  auto done = std::async(std::launch::async, [this] { return model_.print_test_page(); });
  while (done.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  done.get();
  QApplication::restoreOverrideCursor();
  busy_ = false;
}

void FrmMain::network() {
  if (busy_) return;
  frmNetwork dialog(model_, boxes_, this);
  dialog.exec();
}

void FrmMain::about() {
  if (busy_) return;
  frmAbout dialog(this);
  dialog.exec();
}

}  // namespace netsetup
