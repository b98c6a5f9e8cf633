// The dialogs of the test environment; each is a thin form over the session's model.
#include "dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace testbench_view {

using testbench::txt;

namespace {

// Message-box text: "|" starts a new line, and the output window's indentation goes.
QString box_text(const QString& text) {
  QStringList lines = text.split(QLatin1Char('|'));
  for (QString& line : lines) line = line.trimmed();
  return lines.join(QLatin1Char('\n'));
}

QPushButton* add_button(QDialogButtonBox* box, const QString& text, QDialogButtonBox::ButtonRole role) {
  return box->addButton(text, role);
}

}  // namespace

bool message_box(QWidget* parent, bool italian, const QString& text, box_kind kind, bool yes_no, const QString& title) {
  QDialog box(parent);
  box.setObjectName(QStringLiteral("MessageBox"));
  box.setWindowTitle(title.isEmpty() ? Q(testbench::text(txt::msgbox_caption, italian)) : title);
  auto* icon = new QLabel;
  const QStyle::StandardPixmap pixmap =
      kind == box_kind::notice ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation;
  icon->setPixmap(box.style()->standardIcon(pixmap).pixmap(32, 32));
  auto* label = new QLabel(box_text(text));
  label->setObjectName(QStringLiteral("text"));
  label->setWordWrap(true);
  auto* buttons = new QDialogButtonBox;
  add_button(buttons, Q(testbench::text(yes_no ? txt::button_yes : txt::button_ok, italian)),
             QDialogButtonBox::AcceptRole);
  add_button(buttons, Q(testbench::text(yes_no ? txt::button_no : txt::button_cancel, italian)),
             QDialogButtonBox::RejectRole);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addWidget(label, 1);
  auto* layout = new QVBoxLayout(&box);
  layout->addLayout(row);
  layout->addWidget(buttons);
  QApplication::beep();
  return box.exec() == QDialog::Accepted;
}

std::int32_t error_window(QWidget* parent, bool italian, const QString& title, const QString& text) {
  QDialog window(parent);
  window.setObjectName(QStringLiteral("ErrorWindow"));
  window.setWindowTitle(title);
  auto* body = new QPlainTextEdit(text);
  body->setReadOnly(true);
  body->setMinimumSize(460, 200);
  auto* buttons = new QDialogButtonBox;
  add_button(buttons, Q(testbench::text(txt::error_window_retry, italian)), QDialogButtonBox::AcceptRole);
  add_button(buttons, Q(testbench::text(txt::error_window_clear, italian)), QDialogButtonBox::RejectRole);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &window, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(body);
  layout->addWidget(buttons);
  return window.exec() == QDialog::Accepted ? testbench::kErrorRetry : testbench::kErrorClear;
}

// ---------------------------------------------------------------------------------------------

PrinterSelection::PrinterSelection(QWidget* parent, bool italian, const std::vector<testbench::printer_entry>& printers)
    : QDialog(parent), tree_(new QTreeWidget) {
  setObjectName(QStringLiteral("PrinterSelection"));
  setWindowTitle(L(italian, "Selezione stampante POS", "POS printer selection"));
  tree_->setHeaderHidden(true);
  auto* root = new QTreeWidgetItem(tree_, {Q(testbench::text(txt::tree_root, italian))});
  for (const testbench::printer_entry& p : printers) {
    auto* printer = new QTreeWidgetItem(root, {QString::fromStdString(p.name)});
    new QTreeWidgetItem(printer, {Q(testbench::text(txt::tree_model, italian))
                                      .replace(QStringLiteral("%s"), QString::fromStdString(p.machine_type))});
    new QTreeWidgetItem(printer, {Q(testbench::text(txt::tree_port, italian))
                                      .replace(QStringLiteral("%s"), QString::fromStdString(p.port))});
  }
  tree_->expandAll();
  auto* buttons = new QDialogButtonBox;
  auto* connect_button = buttons->addButton(L(italian, "Connetti", "Connect"), QDialogButtonBox::AcceptRole);
  connect_button->setObjectName(QStringLiteral("Connetti"));
  buttons->addButton(Q(testbench::text(txt::button_cancel, italian)), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tree_);
  layout->addWidget(buttons);
  resize(320, 300);
}

std::optional<std::string> PrinterSelection::selected_device() const {
  QTreeWidgetItem* item = tree_->currentItem();
  if (item == nullptr || item->parent() == nullptr) return std::nullopt;
  if (item->parent()->parent() != nullptr) item = item->parent();
  return item->text(0).toStdString();
}

// ---------------------------------------------------------------------------------------------

OptionsDialog::OptionsDialog(QWidget* parent, testbench::session& session) : QDialog(parent), session_(session) {
  const bool it = session.italian();
  testbench::settings& cfg = session.config();
  setObjectName(QStringLiteral("OptionsDialog"));
  setWindowTitle(L(it, "Opzioni avanzate", "Advanced options"));
  const auto box = [&](const char* ita, const char* eng, std::string_view key) {
    auto* check = new QCheckBox(L(it, ita, eng));
    check->setChecked(cfg.get_int(testbench::kSectionSettings, key) != 0);
    return check;
  };
  print_info_ = box("Includi informazioni nella stampa immagine", "Print the image's information", "PrintInfoImage");
  cut_paper_ = box("Esegui taglio carta al termine della stampa", "Cut the paper after printing",
                   "CutPaperForPrintImage");
  const testbench::trace_flags flags = session.traces();
  trace_error_ = new QCheckBox(L(it, "Traccia gli eventi di errore", "Trace error events"));
  trace_direct_ = new QCheckBox(L(it, "Traccia gli eventi di direct i/o", "Trace direct I/O events"));
  trace_output_ = new QCheckBox(L(it, "Traccia gli  eventi di asincrono", "Trace output complete events"));
  trace_status_ = new QCheckBox(L(it, "Traccia gli eventi di Stato", "Trace status events"));
  trace_error_->setChecked(flags.error);
  trace_direct_->setChecked(flags.direct);
  trace_output_->setChecked(flags.output);
  trace_status_->setChecked(flags.status);

  auto* run = new QWidget;
  auto* run_layout = new QVBoxLayout(run);
  for (QWidget* w : {static_cast<QWidget*>(print_info_), static_cast<QWidget*>(cut_paper_),
                     static_cast<QWidget*>(trace_error_), static_cast<QWidget*>(trace_direct_),
                     static_cast<QWidget*>(trace_output_), static_cast<QWidget*>(trace_status_)}) {
    run_layout->addWidget(w);
  }
  auto* driver = new QWidget;
  auto* driver_layout = new QFormLayout(driver);
  version_ = new QComboBox;
  version_->addItems({QStringLiteral("1.4"), QStringLiteral("1.5"), QStringLiteral("1.7")});
  const int version = cfg.opos_version();
  version_->setCurrentIndex(version == 17 ? 2 : version == 15 ? 1 : 0);
  driver_layout->addRow(L(it, "Versione OPOS", "OPOS version"), version_);

  auto* tabs = new QTabWidget;
  tabs->addTab(run, L(it, "Esecuzione", "Run options"));
  tabs->addTab(driver, L(it, "Driver opos", "Opos options"));
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(Q(testbench::text(txt::button_ok, it)), QDialogButtonBox::AcceptRole);
  buttons->addButton(Q(testbench::text(txt::button_cancel, it)), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    apply();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  layout->addWidget(buttons);
}

void OptionsDialog::apply() {
  testbench::settings& cfg = session_.config();
  cfg.set_int(testbench::kSectionSettings, "PrintInfoImage", print_info_->isChecked() ? 1 : 0);
  cfg.set_int(testbench::kSectionSettings, "CutPaperForPrintImage", cut_paper_->isChecked() ? 1 : 0);
  session_.set_traces({trace_error_->isChecked(), trace_direct_->isChecked(), trace_output_->isChecked(),
                       trace_status_->isChecked()});
  constexpr std::int32_t kVersions[] = {14, 15, 17};
  const std::int32_t version = kVersions[std::max(0, version_->currentIndex())];
  if (version != cfg.opos_version()) session_.set_opos_version(version);
}

// ---------------------------------------------------------------------------------------------

CustomiseDialog::CustomiseDialog(QWidget* parent, testbench::session& session, const std::vector<bool>& toolbars)
    : QDialog(parent), session_(session) {
  const bool it = session.italian();
  setObjectName(QStringLiteral("CustomiseDialog"));
  setWindowTitle(L(it, "Personalizza", "Customise"));
  colours_[0] = session.config().get_int(testbench::kSectionSettings, "CommandColor", 10);
  colours_[1] = session.config().get_int(testbench::kSectionSettings, "CommentColor", 1);

  auto* element = new QComboBox;
  element->addItems({L(it, "Comandi", "Commands"), L(it, "Linee di commento", "Comment lines")});
  auto* list = new QListWidget;
  list->setObjectName(QStringLiteral("colours"));
  for (int i = 0; i < testbench::kColourCount; ++i) {
    const testbench::colour_row c = testbench::colour(i);
    QPixmap swatch(16, 16);
    swatch.fill(QColor(c.red, c.green, c.blue));
    new QListWidgetItem(QIcon(swatch), Q(it ? c.italian : c.english), list);
  }
  const auto show_element = [this, list, element] { list->setCurrentRow(colours_[element->currentIndex()]); };
  show_element();
  connect(element, &QComboBox::currentIndexChanged, this, show_element);
  connect(list, &QListWidget::currentRowChanged, this, [this, element](int row) {
    if (row >= 0) colours_[element->currentIndex()] = row;
  });

  const char* names[] = {"comandi standard", "connessione", "comandi stampante", "gestione immagini"};
  const char* english[] = {"standard commands", "connection", "printer commands", "image handling"};
  auto* bars = new QGroupBox(L(it, "Barre degli strumenti", "Toolbars"));
  auto* bars_layout = new QVBoxLayout(bars);
  for (std::size_t i = 0; i < 4; ++i) {
    auto* check = new QCheckBox(L(it, names[i], english[i]));
    check->setChecked(i < toolbars.size() && toolbars[i]);
    bars_layout->addWidget(check);
    boxes_.push_back(check);
  }
  auto* advanced = new QPushButton(L(it, "Avanzate...", "Advanced..."));
  connect(advanced, &QPushButton::clicked, this, [this] {
    OptionsDialog options(this, session_);
    options.exec();
  });

  auto* buttons = new QDialogButtonBox;
  buttons->addButton(Q(testbench::text(txt::button_ok, it)), QDialogButtonBox::AcceptRole);
  buttons->addButton(Q(testbench::text(txt::button_cancel, it)), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* form = new QFormLayout;
  form->addRow(L(it, "Colore testo", "Text colour"), element);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(list);
  layout->addWidget(bars);
  layout->addWidget(advanced, 0, Qt::AlignLeft);
  layout->addWidget(buttons);
}

std::vector<bool> CustomiseDialog::toolbars() const {
  std::vector<bool> shown;
  for (QCheckBox* box : boxes_) shown.push_back(box->isChecked());
  return shown;
}

// ---------------------------------------------------------------------------------------------

BarcodeDialog::BarcodeDialog(QWidget* parent, bool it) : QDialog(parent) {
  setObjectName(QStringLiteral("BarcodeDialog"));
  setWindowTitle(L(it, "Stampa Codice a barre", "Print bar code"));
  data_ = new QLineEdit;
  type_ = new QComboBox;
  struct symbology {
    const char* name;
    int value;
  };
  constexpr symbology kTypes[] = {{"UPC - A", 101}, {"UPC - E", 102}, {"JAN13", 104},   {"JAN8", 103},    {"CODE39", 108},
                                  {"ITF", 106},     {"CODABAR", 107}, {"CODE93", 109}, {"CODE128", 110}};
  for (const symbology& s : kTypes) type_->addItem(QString::fromLatin1(s.name), s.value);
  alignment_ = new QComboBox;
  alignment_->addItem(L(it, "Sinistra", "Left"), -1);
  alignment_->addItem(L(it, "Centrato", "Centre"), -2);
  alignment_->addItem(L(it, "Destra", "Right"), -3);
  alignment_->addItem(L(it, "Impostazione libera", "Free position"), 0);
  free_alignment_ = new QSpinBox;
  free_alignment_->setRange(0, 9999);
  free_alignment_->setEnabled(false);
  connect(alignment_, &QComboBox::currentIndexChanged, this,
          [this](int index) { free_alignment_->setEnabled(index == 3); });
  height_ = new QSpinBox;
  height_->setRange(1, 9999);
  height_->setValue(50);
  height_->setSuffix(QStringLiteral(" pt"));
  width_ = new QComboBox;
  for (int w = 2; w <= 6; ++w) width_->addItem(QString::number(w), w);
  width_->setCurrentIndex(1);
  text_ = new QComboBox;
  text_->addItem(L(it, "Non stampare", "Do not print"), -11);
  text_->addItem(L(it, "Stampa sopra barcode", "Print above the bar code"), -12);
  text_->addItem(L(it, "Stampa sotto barcode", "Print below the bar code"), -13);

  auto* alignment_row = new QHBoxLayout;
  alignment_row->addWidget(alignment_);
  alignment_row->addWidget(free_alignment_);
  auto* form = new QFormLayout;
  form->addRow(L(it, "Dati", "Data"), data_);
  form->addRow(L(it, "Tipo", "Type"), type_);
  form->addRow(L(it, "Allineamento", "Alignment"), alignment_row);
  form->addRow(L(it, "Altezza", "Height"), height_);
  form->addRow(L(it, "Larghezza", "Width"), width_);
  form->addRow(L(it, "Testo", "Text"), text_);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(Q(testbench::text(txt::button_ok, it)), QDialogButtonBox::AcceptRole);
  buttons->addButton(Q(testbench::text(txt::button_cancel, it)), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

testbench::barcode_request BarcodeDialog::request() const {
  testbench::barcode_request r;
  r.data = data_->text().toStdString();
  r.symbology = type_->currentData().toInt();
  r.alignment = alignment_->currentIndex() == 3 ? free_alignment_->value() : alignment_->currentData().toInt();
  r.height = height_->value();
  r.width = width_->currentData().toInt();
  r.text_position = text_->currentData().toInt();
  return r;
}

// ---------------------------------------------------------------------------------------------

TestProcedureDialog::TestProcedureDialog(QWidget* parent, testbench::session& session) : QDialog(parent) {
  const bool it = session.italian();
  setObjectName(QStringLiteral("TestProcedureDialog"));
  setWindowTitle(L(it, "Avvio procedura di test", "Start test procedure"));
  auto* internal = new QRadioButton(L(it, "Test interno", "Internal test"));
  auto* external = new QRadioButton(L(it, "Test esterno", "External test"));
  internal->setChecked(true);
  auto* result = new QPlainTextEdit;
  result->setReadOnly(true);
  auto* run = new QPushButton(L(it, "Avvia", "Start"));
  connect(run, &QPushButton::clicked, this, [&session, internal, result] {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string text = session.test_procedure(internal->isChecked() ? 1 : 2);
    QApplication::restoreOverrideCursor();
    result->setPlainText(QString::fromStdString(text));
  });
  auto* close = new QPushButton(L(it, "Chiudi", "Close"));
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(internal);
  layout->addWidget(external);
  layout->addWidget(result);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(run);
  row->addWidget(close);
  layout->addLayout(row);
}

// ---------------------------------------------------------------------------------------------

DirectAccessDialog::DirectAccessDialog(QWidget* parent, testbench::session& session)
    : QDialog(parent), result_(new QPlainTextEdit) {
  const bool it = session.italian();
  setObjectName(QStringLiteral("DirectAccessDialog"));
  setWindowTitle(L(it, "Accesso diretto alla stampante", "Direct printer access"));
  auto* command = new QLineEdit;
  command->setObjectName(QStringLiteral("command"));
  auto* count = new QSpinBox;
  count->setObjectName(QStringLiteral("count"));
  count->setRange(0, 4096);
  QFont mono(QStringLiteral("Courier New"));
  mono.setStyleHint(QFont::Monospace);
  result_->setFont(mono);
  result_->setReadOnly(true);
  auto* send = new QPushButton(L(it, "Invia", "Send"));
  connect(send, &QPushButton::clicked, this, [this, &session, command, count] {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const testbench::direct_access_result r = session.direct_access(command->text().toStdString(), count->value());
    QApplication::restoreOverrideCursor();
    if (r.shown) result_->setPlainText(QString::fromStdString(r.text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  });
  auto* form = new QFormLayout;
  form->addRow(L(it, "Comando", "Command"), command);
  form->addRow(L(it, "Byte da leggere", "Bytes to read"), count);
  auto* close = new QPushButton(L(it, "Chiudi", "Close"));
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(result_);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(send);
  row->addWidget(close);
  layout->addLayout(row);
}

// ---------------------------------------------------------------------------------------------

DocumentPropertiesDialog::DocumentPropertiesDialog(QWidget* parent, bool it, const testbench::script_properties& p)
    : QDialog(parent),
      title_(new QLineEdit(QString::fromStdString(p.title))),
      author_(new QLineEdit(QString::fromStdString(p.author))),
      notes_(new QPlainTextEdit(QString::fromStdString(p.notes))) {
  setObjectName(QStringLiteral("DocumentPropertiesDialog"));
  setWindowTitle(L(it, "Proprietà documento", "Document properties"));
  auto* form = new QFormLayout;
  form->addRow(L(it, "Titolo", "Title"), title_);
  form->addRow(L(it, "Autore", "Author"), author_);
  form->addRow(L(it, "Note", "Notes"), notes_);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(Q(testbench::text(txt::button_ok, it)), QDialogButtonBox::AcceptRole);
  buttons->addButton(Q(testbench::text(txt::button_cancel, it)), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

testbench::script_properties DocumentPropertiesDialog::properties() const {
  return {title_->text().toStdString(), author_->text().toStdString(), notes_->toPlainText().toStdString()};
}

// ---------------------------------------------------------------------------------------------

EscapePicker::EscapePicker(QWidget* parent, bool it, const std::vector<std::string>& templates, const QString& sequence)
    : QDialog(parent), list_(new QListWidget), edit_(new QLineEdit(sequence)) {
  setObjectName(QStringLiteral("EscapePicker"));
  setWindowTitle(L(it, "Sequenze di escape", "Escape sequences"));
  for (const std::string& t : templates) list_->addItem(QString::fromStdString(t));
  const int match = testbench::match_template(sequence.toStdString(), templates);
  if (match >= 0) list_->setCurrentRow(match);
  // Choosing a template puts it into the edit field with its "#" selected.
  connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    edit_->setText(item->text());
    const qsizetype hash = item->text().indexOf(QLatin1Char('#'));
    if (hash >= 0) edit_->setSelection(static_cast<int>(hash), 1);
    edit_->setFocus();
  });
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(Q(testbench::text(txt::button_ok, it)), QDialogButtonBox::AcceptRole);
  buttons->addButton(Q(testbench::text(txt::button_cancel, it)), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addWidget(edit_);
  layout->addWidget(buttons);
  resize(260, 320);
}

QString EscapePicker::text() const { return edit_->text(); }

// ---------------------------------------------------------------------------------------------

PosDebugWindow::PosDebugWindow(QWidget* parent, bool it)
    : QDialog(parent), line_(new QLabel), text_(new QLineEdit) {
  setObjectName(QStringLiteral("PosDebug"));
  setWindowTitle(QStringLiteral("Pos Debug"));
  setModal(false);
  QFont mono(QStringLiteral("Courier New"));
  mono.setStyleHint(QFont::Monospace);
  mono.setPointSizeF(9.5);
  text_->setFont(mono);
  text_->setObjectName(QStringLiteral("lineText"));
  line_->setObjectName(QStringLiteral("Break"));
  struct command_button {
    const char* ita;
    const char* eng;
    testbench::debug_command command;
  };
  constexpr command_button kButtons[] = {
      {"Continua esecuzione", "Continue", testbench::debug_command::continue_run},
      {"Aggiorna e continua esecuzione", "Update and continue", testbench::debug_command::update_continue},
      {"Ignora la linea corrente", "Skip the current line", testbench::debug_command::skip_line},
      {"Vai a posizione del cursore", "Run to the cursor", testbench::debug_command::run_to_cursor},
      {"Termina debug", "End debugging", testbench::debug_command::end_debug},
  };
  auto* layout = new QGridLayout(this);
  layout->addWidget(line_, 0, 0, 1, 2);
  layout->addWidget(text_, 1, 0, 1, 2);
  int row = 2;
  int column = 0;
  for (const command_button& b : kButtons) {
    auto* button = new QPushButton(L(it, b.ita, b.eng));
    button->setObjectName(QString::number(static_cast<int>(b.command)));
    const testbench::debug_command command = b.command;
    connect(button, &QPushButton::clicked, this, [this, command] { finish(command); });
    layout->addWidget(button, row, column);
    if (++column == 2) {
      column = 0;
      ++row;
    }
  }
  auto* properties = new QPushButton(L(it, "Proprietà opos", "OPOS properties"));
  connect(properties, &QPushButton::clicked, this, [this] {
    if (on_properties) on_properties();
  });
  layout->addWidget(properties, row, column);
}

testbench::debug_command PosDebugWindow::wait_for_command(int line, std::string& text) {
  line_->setText(QStringLiteral("Break %1").arg(line));
  text_->setText(QString::fromStdString(text));
  command_.reset();
  show();
  raise();
  QEventLoop loop;
  loop_ = &loop;
  if (!command_) loop.exec();
  loop_ = nullptr;
  hide();
  text = text_->text().toStdString();
  return command_.value_or(testbench::debug_command::end_debug);
}

void PosDebugWindow::finish(testbench::debug_command command) {
  command_ = command;
  if (loop_ != nullptr) loop_->quit();
}

void PosDebugWindow::closeEvent(QCloseEvent* event) {
  finish(testbench::debug_command::end_debug);
  QDialog::closeEvent(event);
}

}  // namespace testbench_view
