// The test environment's main window over the session model.
#include "main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QDockWidget>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QStyle>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <fstream>
#include <sstream>

#include "dialogs.h"
#include "image_view.h"
#include "platform/messages.h"
#include "platform/replace_file.h"
#include "script_view.h"

namespace testbench_view {

using testbench::kSectionSettings;
using testbench::txt;

namespace {

// The 9 by 9 glyph beside a heading row of the property list.
QIcon heading_glyph() {
  QPixmap glyph(9, 9);
  glyph.fill(Qt::transparent);
  QPainter painter(&glyph);
  painter.setPen(Qt::darkGray);
  painter.drawRect(0, 0, 8, 8);
  painter.drawLine(2, 4, 6, 4);
  return QIcon(glyph);
}

QString plain(const QString& text) {
  QString t = text;
  return t.remove(QLatin1Char('&'));
}

}  // namespace

CMainFrame::CMainFrame(testbench::settings& config, QWidget* parent)
    : QMainWindow(parent), config_(config), session_(std::make_unique<testbench::session>(config, *this)) {
  setObjectName(QStringLiteral("CMainFrame"));
  setWindowTitle(Q(session_->text(txt::app_title)));

  // The control object's messages and timers run on this thread's queue: let Qt drive it.
  platform::ensure_message_queue();
  if (const int fd = platform::queue_fd(); fd >= 0) {
    queue_notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(queue_notifier_, &QSocketNotifier::activated, this, [] { platform::dispatch_ready_messages(); });
  }

  mdi_ = new QMdiArea;
  mdi_->setViewMode(QMdiArea::SubWindowView);
  setCentralWidget(mdi_);
  templates_ = testbench::load_escape_templates(config_.get_string(kSectionSettings, "EscFile"));

  debug_ = new PosDebugWindow(this, italian());
  debug_->on_properties = [this] { dock_->setVisible(!dock_->isVisible()); };

  build_property_list();
  build_menus();
  build_toolbars();
  build_status_bar();
  build_image_commands();
  if (config_.get_string(kSectionSettings, "ShowToolOutput", "YES") == "YES") show_output();

  session_->create_control();
  session_->load_property_table();
  connection_changed();
  resize(1000, 700);
  // The toolbar and dock layout of the last session.
  const std::vector<std::uint8_t> state = config_.get_binary(kSectionSettings, "BarState");
  if (!state.empty()) {
    restoreState(QByteArray(reinterpret_cast<const char*>(state.data()), static_cast<qsizetype>(state.size())));
  }
}

CMainFrame::~CMainFrame() {
  // The session (and with it the control and its sink) goes before the windows it reports to;
  // the image windows closing afterwards no longer ask for the commands' state.
  // Qt hides (and so signals from) the children only after this destructor, when the frame is
  // no longer a CMainFrame: every child's connections to it go first.
  image_actions_.clear();
  for (QObject* child : findChildren<QObject*>()) disconnect(child, nullptr, this, nullptr);
  session_.reset();
}

QAction* CMainFrame::action(const QString& text) const {
  for (QAction* a : findChildren<QAction*>()) {
    if (plain(a->text()) == text) return a;
  }
  return nullptr;
}

QColor CMainFrame::colour_of(std::string_view key, int fallback) const {
  const testbench::colour_row c = testbench::colour(config_.get_int(kSectionSettings, key, fallback));
  return QColor(c.red, c.green, c.blue);
}

// ---------------------------------------------------------------------------------------------
// Building the window

void CMainFrame::build_menus() {
  const bool it = italian();
  const auto add = [this](QMenu* menu, const QString& text, auto slot, const QKeySequence& keys = {}) {
    QAction* a = menu->addAction(text);
    if (!keys.isEmpty()) a->setShortcut(keys);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };

  QMenu* file = menuBar()->addMenu(L(it, "&File", "&File"));
  add(file, L(it, "&Nuovo documento", "&New document"), [this] { new_script(); }, QKeySequence(Qt::CTRL | Qt::Key_N));
  add(file, L(it, "Apri document&o...", "&Open document..."), [this] { open_dialog(); },
      QKeySequence(Qt::CTRL | Qt::Key_O));
  add(file, L(it, "&Salva", "&Save"), [this] {
    if (CIMGFrame* image = active_image()) {
      save_image(*image, false);
    } else {
      save_script(false);
    }
  }, QKeySequence(Qt::CTRL | Qt::Key_S));
  add(file, L(it, "Salva con &nome...", "Save &as..."), [this] {
    if (CIMGFrame* image = active_image()) {
      save_image(*image, true);
    } else {
      save_script(true);
    }
  });
  recent_menu_ = file->addMenu(L(it, "File recenti", "Recent files"));
  update_recent_menu();
  file->addSeparator();
  add(file, L(it, "&Esci", "E&xit"), [this] { close(); });

  QMenu* connection = menuBar()->addMenu(L(it, "&Connessione", "&Connection"));
  add(connection, L(it, "Avvia connessione...", "Connect..."), [this] { select_printer(); },
      QKeySequence(Qt::SHIFT | Qt::Key_F2));
  add(connection, L(it, "Termina connessione", "Disconnect"), [this] { disconnect_printer(); },
      QKeySequence(Qt::SHIFT | Qt::Key_F3));
  connection->addSeparator();
  add(connection, L(it, "Accesso diretto...", "Direct access..."), [this] {
    DirectAccessDialog dialog(this, *session_);
    dialog.exec();
  });

  QMenu* printer = menuBar()->addMenu(QStringLiteral("POSPrinter"));
  add(printer, L(it, "Stampa documento", "Print document"), [this] {
    script_command([this](CPRNView& view) {
      running_script_ = &view;
      session_->print_script(view.sync(), view.title().toStdString());
      running_script_ = nullptr;
    });
  });
  add(printer, L(it, "Verifica dati ", "Check data"),
      [this] { script_command([this](CPRNView& view) { session_->check_script(view.sync()); }); });
  add(printer, L(it, "Imposta testo come intestazione", "Set text as header"), [this] {
    script_command([this](CPRNView& view) { session_->set_logo(view.sync(), testbench::kLogoTop); });
  });
  add(printer, L(it, "Imposta testo come piè di pagina", "Set text as trailer"), [this] {
    script_command([this](CPRNView& view) { session_->set_logo(view.sync(), testbench::kLogoBottom); });
  });
  add(printer, L(it, "Riepilogo informazioni", "Summary"),
      [this] { script_command([this](CPRNView& view) { session_->summarise_script(view.sync()); }); });
  add(printer, L(it, "Proprietà documento", "Document properties"), [this] {
    CPRNView* view = active_script();
    if (view == nullptr) return;
    DocumentPropertiesDialog dialog(this, italian(), view->document_model().properties);
    if (dialog.exec() != QDialog::Accepted) return;
    view->document_model().properties = dialog.properties();
    save_script(false);
  });
  printer->addSeparator();
  add(printer, L(it, "Inserisci o rimuovi breakpoint", "Insert or remove breakpoint"), [this] {
    if (CPRNView* view = active_script()) {
      view->document_model().toggle_breakpoint(view->caret_line());
      view->viewport()->update();
      view->update();
      view->set_stop_line(view->stop_line());
    }
  }, QKeySequence(Qt::Key_F9));
  add(printer, L(it, "Attiva o disattiva breakpoint", "Enable or disable breakpoint"), [this] {
    if (CPRNView* view = active_script()) {
      view->document_model().toggle_breakpoint_enabled(view->caret_line());
      view->set_stop_line(view->stop_line());
    }
  }, QKeySequence(Qt::CTRL | Qt::Key_F9));
  edit_sequence_ = add(printer, L(it, "Modifica %s ...", "Edit %s ...").replace(QStringLiteral("%s"), QString()),
                       [this] { edit_sequence(); });
  add(printer, L(it, "Aggiorna", "Refresh"), [this] { apply_colours(); }, QKeySequence(Qt::SHIFT | Qt::Key_F5));
  connect(printer, &QMenu::aboutToShow, this, [this] {
    // The edit command names the sequence under the caret.
    QString sequence;
    if (CPRNView* view = active_script()) {
      const std::string line = view->textCursor().block().text().toStdString();
      if (auto span = testbench::sequence_at(line, static_cast<std::size_t>(view->textCursor().positionInBlock()))) {
        sequence = QString::fromStdString(line.substr(span->begin, span->end - span->begin));
      }
    }
    edit_sequence_->setText(L(italian(), "Modifica %s ...", "Edit %s ...").replace(QStringLiteral("%s"), sequence));
    edit_sequence_->setEnabled(!sequence.isEmpty());
  });
  printer->addSeparator();
  stations_ = new QActionGroup(this);
  QAction* receipt = add(printer, L(it, "Usa la stazione di ricevuta", "Use the receipt station"),
                         [this] { session_->set_station(testbench::kStationReceipt); });
  QAction* slip = add(printer, L(it, "Usa la stazione di slip", "Use the slip station"),
                      [this] { session_->set_station(testbench::kStationSlip); });
  for (QAction* a : {receipt, slip}) {
    a->setCheckable(true);
    stations_->addAction(a);
  }
  receipt->setChecked(true);

  QMenu* work = printer->addMenu(L(it, "Modalità di lavoro", "Work mode"));
  work_modes_ = new QActionGroup(this);
  QAction* work_default = add(work, QStringLiteral("Default"), [this] { session_->set_work_mode(false); });
  QAction* transaction = add(work, L(it, "Attiva transazione", "Start transaction"),
                             [this] { session_->set_work_mode(true); });
  for (QAction* a : {work_default, transaction}) {
    a->setCheckable(true);
    work_modes_->addAction(a);
  }
  work_default->setChecked(true);
  QMenu* print = printer->addMenu(L(it, "Modalità di stampa", "Print mode"));
  print_modes_ = new QActionGroup(this);
  QAction* print_default = add(print, QStringLiteral("Default"),
                               [this] { session_->set_print_mode(testbench::kRotateNormal); });
  QAction* right = add(print, L(it, "Ruota testo di 90° a destra", "Rotate text 90° right"),
                       [this] { session_->set_print_mode(testbench::kRotateRight90); });
  QAction* upside = add(print, L(it, "Ruota testo di 180°", "Rotate text 180°"),
                        [this] { session_->set_print_mode(testbench::kRotate180); });
  for (QAction* a : {print_default, right, upside}) {
    a->setCheckable(true);
    print_modes_->addAction(a);
  }
  print_default->setChecked(true);
  // A refused mode change puts the menu radio back where the settings say.
  connect(work_modes_, &QActionGroup::triggered, this, [this, work_default, transaction] {
    (config_.transaction_mode() ? transaction : work_default)->setChecked(true);
  });
  connect(print_modes_, &QActionGroup::triggered, this, [this, print_default, right, upside] {
    const std::int32_t mode = session_->print_mode();
    (mode == testbench::kRotateRight90 ? right : mode == testbench::kRotate180 ? upside : print_default)
        ->setChecked(true);
  });
  printer->addSeparator();
  add(printer, L(it, "Stampa barCode...", "Print bar code..."), [this] {
    BarcodeDialog dialog(this, italian());
    if (dialog.exec() != QDialog::Accepted) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    session_->print_barcode(dialog.request());
    QApplication::restoreOverrideCursor();
  });
  add(printer, L(it, "Esegui procedura di test...", "Run test procedure..."), [this] {
    TestProcedureDialog dialog(this, *session_);
    dialog.exec();
  });
  add(printer, L(it, "Informazioni sul device...", "Device information..."), [this] { show_device_information(); });

  QMenu* view = menuBar()->addMenu(L(it, "&Visualizza", "&View"));
  add(view, L(it, "Finestra di output", "Output window"), [this] { show_output(); },
      QKeySequence(Qt::SHIFT | Qt::Key_F9));
  add(view, L(it, "Ripulisci finestra di ouput", "Clear output window"), [this] {
    session_->log().clear();
    output_->clear();
  });
  add(view, L(it, "Salva finestra di output...", "Save output window..."), [this] { save_log(); });
  add(view, L(it, "Vai a origine linea", "Go to source line"), [this] { go_to_source(output_->cursor_line()); });
  add(view, L(it, "Visualizza proprietà", "Show properties"), [this] { dock_->setVisible(!dock_->isVisible()); });

  QMenu* tools = menuBar()->addMenu(L(it, "&Strumenti", "&Tools"));
  add(tools, L(it, "Personalizza...", "Customise..."), [this] { customise(); });
  add(tools, L(it, "Opzioni avanzate...", "Advanced options..."), [this] {
    OptionsDialog dialog(this, *session_);
    dialog.exec();
  });

  QMenu* windows = menuBar()->addMenu(L(it, "&Finestra", "&Window"));
  add(windows, L(it, "Sovrapponi", "Cascade"), [this] { mdi_->cascadeSubWindows(); });
  add(windows, L(it, "Affianca", "Tile"), [this] { mdi_->tileSubWindows(); });

  QMenu* help = menuBar()->addMenu(QStringLiteral("&?"));
  add(help, L(it, "Guida...", "Help..."), [this] { show_help(); });
  add(help, L(it, "Suggerimento del giorno...", "Tip of the day..."), [this] { show_tips(); });
}

void CMainFrame::build_toolbars() {
  const bool it = italian();
  const char* names[] = {"comandi standard", "connessione", "comandi stampante", "gestione immagini"};
  const char* english[] = {"standard commands", "connection", "printer commands", "image handling"};
  for (int i = 0; i < 4; ++i) {
    QToolBar* bar = addToolBar(L(it, names[i], english[i]));
    bar->setObjectName(QString::fromLatin1(names[i]));
    toolbars_.push_back(bar);
  }
  const auto put = [this](QToolBar* bar, QStyle::StandardPixmap icon, const QString& action_text) {
    if (QAction* a = action(action_text)) {
      a->setIcon(style()->standardIcon(icon));
      bar->addAction(a);
    }
  };
  put(toolbars_[0], QStyle::SP_FileIcon, L(it, "Nuovo documento", "New document"));
  put(toolbars_[0], QStyle::SP_DialogOpenButton, L(it, "Apri documento...", "Open document..."));
  put(toolbars_[0], QStyle::SP_DialogSaveButton, L(it, "Salva", "Save"));
  put(toolbars_[1], QStyle::SP_DialogYesButton, L(it, "Avvia connessione...", "Connect..."));
  put(toolbars_[1], QStyle::SP_DialogNoButton, L(it, "Termina connessione", "Disconnect"));
  put(toolbars_[2], QStyle::SP_MediaPlay, L(it, "Stampa documento", "Print document"));
  put(toolbars_[2], QStyle::SP_DialogApplyButton, L(it, "Verifica dati ", "Check data"));
  put(toolbars_[2], QStyle::SP_FileDialogDetailedView, L(it, "Informazioni sul device...", "Device information..."));
  // The image toolbar receives the image windows' commands (build_image_commands).
}

void CMainFrame::build_status_bar() {
  message_ = new QLabel;
  progress_ = new QProgressBar;
  progress_->setMaximumWidth(160);
  progress_->hide();
  connection_ = new QLabel;
  connection_->setObjectName(QStringLiteral("connectionPane"));
  statusBar()->addWidget(message_, 1);
  statusBar()->addPermanentWidget(progress_);
  statusBar()->addPermanentWidget(connection_);
  message_->setText(L(italian(), "Pronto", "Ready"));
}

void CMainFrame::build_property_list() {
  dock_ = new QDockWidget(L(italian(), "Proprietà", "Properties"), this);
  dock_->setObjectName(QStringLiteral("propertyList"));
  properties_ = new QTreeWidget;
  properties_->setColumnCount(2);
  properties_->setHeaderLabels({L(italian(), "Proprietà", "Property"), L(italian(), "Valore", "Value")});
  properties_->setRootIsDecorated(false);
  properties_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  properties_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  connect(properties_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (filling_properties_ || column != 1) return;
    const std::size_t index = static_cast<std::size_t>(properties_->indexOfTopLevelItem(item));
    const std::string entry = item->text(1).toStdString();
    QTimer::singleShot(0, this, [this, index, entry] {
      if (!session_->write_property(index, entry)) properties_changed();
    });
  });
  dock_->setWidget(properties_);
  addDockWidget(Qt::LeftDockWidgetArea, dock_);
}

void CMainFrame::update_recent_menu() {
  recent_menu_->clear();
  int n = 1;
  for (const std::string& file : config_.recent_files()) {
    const QString path = QString::fromStdString(file);
    QAction* a = recent_menu_->addAction(QStringLiteral("&%1 %2").arg(n++).arg(path));
    connect(a, &QAction::triggered, this, [this, path] { open_document(path); });
  }
  recent_menu_->setEnabled(!recent_menu_->isEmpty());
}

// ---------------------------------------------------------------------------------------------
// Documents

CPRNView* CMainFrame::new_script() {
  auto* view = new CPRNView(colour_of("CommandColor", 10), colour_of("CommentColor", 1));
  static int untitled = 0;
  view->setWindowTitle(QStringLiteral("Script%1").arg(++untitled));
  QMdiSubWindow* sub = mdi_->addSubWindow(view);
  sub->setAttribute(Qt::WA_DeleteOnClose);
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& at) {
    // The window's context menu offers the script commands of the POSPrinter menu.
    QMenu* printer = nullptr;
    for (QAction* a : menuBar()->actions()) {
      if (a->text() == QStringLiteral("POSPrinter")) printer = a->menu();
    }
    if (printer == nullptr) return;
    emit printer->aboutToShow();
    printer->exec(view->mapToGlobal(at));
  });
  sub->resize(560, 360);
  sub->show();
  return view;
}

CPRNView* CMainFrame::active_script() const {
  QMdiSubWindow* sub = mdi_->activeSubWindow();
  if (sub == nullptr) {
    const QList<QMdiSubWindow*> all = mdi_->subWindowList(QMdiArea::StackingOrder);
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
      if (auto* view = dynamic_cast<CPRNView*>((*it)->widget())) return view;
    }
    return nullptr;
  }
  return dynamic_cast<CPRNView*>(sub->widget());
}

bool CMainFrame::open_document(const QString& path) {
  const QString extension = QFileInfo(path).suffix().toLower();
  if (extension != QStringLiteral("txt") && extension != QStringLiteral("oef")) {
    if (extension == QStringLiteral("bmp") || extension == QStringLiteral("jpg")) {
      if (!open_image(path)) return false;
      config_.set_string(kSectionSettings, "CurrentExt", extension == QStringLiteral("bmp") ? "3" : "4");
      config_.set_string(kSectionSettings, "CurrentPath", QFileInfo(path).absolutePath().toStdString() + "/");
      config_.add_recent_file(QFileInfo(path).absoluteFilePath().toStdString());
      update_recent_menu();
      return true;
    }
    message_box(this, italian(), Q(session_->text(txt::s154_unknown_file_type)), box_kind::notice, false);
    return false;
  }
  testbench::script_document doc;
  std::error_code error;
  if (!doc.load(path.toStdString(), error)) {
    session_->output("(E) : " + L(italian(), "Impossibile aprire il file ", "The file cannot be opened: ").toStdString() +
                         path.toStdString(),
                     "      " + error.message());
    return false;
  }
  CPRNView* view = new_script();
  view->document_model() = std::move(doc);
  view->show_document();
  view->setWindowTitle(view->title());
  config_.set_string(kSectionSettings, "CurrentExt", extension == QStringLiteral("txt") ? "1" : "2");
  config_.set_string(kSectionSettings, "CurrentPath", QFileInfo(path).absolutePath().toStdString() + "/");
  config_.add_recent_file(QFileInfo(path).absoluteFilePath().toStdString());
  update_recent_menu();
  return true;
}

void CMainFrame::open_dialog() {
  const bool it = italian();
  const QStringList filters = {L(it, "File di testo (*.txt)", "Text files (*.txt)"),
                               L(it, "File di escape (*.oef)", "Escape files (*.oef)"),
                               QStringLiteral("Bitmap files (*.bmp)"), QStringLiteral("JPeg files (*.jpg)")};
  QString folder = QString::fromStdString(config_.get_string(kSectionSettings, "CurrentPath"));
  if (folder.isEmpty()) folder = QDir::currentPath() + QLatin1Char('/');
  const int current = config_.get_int(kSectionSettings, "CurrentExt", 1);
  QString selected = filters.value(std::clamp(current, 1, 4) - 1);
  const QString path = QFileDialog::getOpenFileName(this, L(it, "Apri documento", "Open document"), folder,
                                                    filters.join(QStringLiteral(";;")), &selected);
  if (!path.isEmpty()) open_document(path);
}

void CMainFrame::save_script(bool ask_path) {
  CPRNView* view = active_script();
  if (view == nullptr) return;
  testbench::script_document& doc = view->sync();
  QString path = QString::fromStdString(doc.path.string());
  if (ask_path || path.isEmpty()) {
    const bool it = italian();
    QString folder = QString::fromStdString(config_.get_string(kSectionSettings, "CurrentPath"));
    if (folder.isEmpty()) folder = QDir::currentPath() + QLatin1Char('/');
    path = QFileDialog::getSaveFileName(this, L(it, "Salva documento", "Save document"), folder,
                                        L(it, "File di testo (*.txt);;File di escape (*.oef)",
                                          "Text files (*.txt);;Escape files (*.oef)"));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".txt");
  }
  std::error_code error;
  if (!doc.save(path.toStdString(), error)) {
    session_->output("(E) : " + L(italian(), "Errore nel salvataggio del file ", "Error saving the file ").toStdString() +
                         path.toStdString(),
                     "      " + error.message());
    return;
  }
  view->setWindowTitle(view->title());
  config_.add_recent_file(path.toStdString());
  update_recent_menu();
}

void CMainFrame::show_output() {
  if (output_window_ == nullptr) {
    output_ = new COutView;
    output_->setObjectName(QStringLiteral("COutView"));
    output_->setWindowTitle(L(italian(), "Output", "Output"));
    for (const testbench::output_record& r : session_ ? session_->log().records() : std::vector<testbench::output_record>{}) {
      output_->append_record(r);
    }
    output_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(output_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
      QMenu menu;
      QAction* go = menu.addAction(L(italian(), "Vai a origine linea", "Go to source line"));
      go->setEnabled(session_->log().link_at(output_->cursorForPosition(at).blockNumber()) != nullptr);
      QAction* clear = menu.addAction(L(italian(), "Ripulisci finestra di ouput", "Clear output window"));
      QAction* chosen = menu.exec(output_->mapToGlobal(at));
      if (chosen == go) go_to_source(output_->cursorForPosition(at).blockNumber());
      if (chosen == clear) {
        session_->log().clear();
        output_->clear();
      }
    });
    // Closing the output window hides it; the next record or "Finestra di output" shows it again.
    output_window_ = mdi_->addSubWindow(output_);
    output_window_->setAttribute(Qt::WA_DeleteOnClose, false);
    output_window_->resize(620, 220);
  }
  output_window_->show();
}

bool CMainFrame::go_to_source(int line) {
  const testbench::output_record* record = session_->log().link_at(line);
  if (record == nullptr) return false;
  for (QMdiSubWindow* sub : mdi_->subWindowList()) {
    auto* view = dynamic_cast<CPRNView*>(sub->widget());
    if (view != nullptr && view->title().toStdString() == record->source) {
      mdi_->setActiveSubWindow(sub);
      view->select_line(record->source_line);
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Commands

void CMainFrame::script_command(const std::function<void(CPRNView&)>& command) {
  CPRNView* view = active_script();
  if (view == nullptr) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  command(*view);
  QApplication::restoreOverrideCursor();
}

bool CMainFrame::connect_to(const std::optional<std::string>& device) {
  if (!device) return session_->connect_selected(std::nullopt);
  // A small window tells that the connection is being made.
  QDialog wait(this);
  wait.setWindowTitle(Q(session_->text(txt::connecting_caption)));
  auto* layout = new QVBoxLayout(&wait);
  layout->addWidget(new QLabel(Q(session_->text(txt::connecting_text))));
  wait.show();
  QApplication::processEvents();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool ok = session_->connect(*device);
  QApplication::restoreOverrideCursor();
  return ok;
}

void CMainFrame::select_printer() {
  PrinterSelection dialog(this, italian(), testbench::list_printers());
  if (dialog.exec() != QDialog::Accepted) return;
  dialog.hide();
  connect_to(dialog.selected_device());
}

void CMainFrame::disconnect_printer() {
  if (!session_->connected()) return;
  if (session_->disconnect()) {
    for (QActionGroup* group : {work_modes_, print_modes_}) group->actions().front()->setChecked(true);
  }
}

void CMainFrame::edit_sequence() {
  CPRNView* view = active_script();
  if (view == nullptr) return;
  QTextCursor cursor = view->textCursor();
  std::string line = cursor.block().text().toStdString();
  const std::size_t column = static_cast<std::size_t>(cursor.positionInBlock());
  const auto span = testbench::sequence_at(line, column);
  if (!span) return;
  EscapePicker picker(this, italian(), templates_,
                      QString::fromStdString(line.substr(span->begin, span->end - span->begin)));
  picker.move(view->viewport()->mapToGlobal(view->cursorRect().bottomLeft()));
  if (picker.exec() != QDialog::Accepted) return;
  testbench::replace_sequence(line, column, picker.text().toStdString());
  cursor.movePosition(QTextCursor::StartOfBlock);
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  cursor.insertText(QString::fromStdString(line));
}

void CMainFrame::apply_colours() {
  for (QMdiSubWindow* sub : mdi_->subWindowList()) {
    if (auto* view = dynamic_cast<CPRNView*>(sub->widget())) {
      view->setColours(colour_of("CommandColor", 10), colour_of("CommentColor", 1));
    }
  }
}

void CMainFrame::customise() {
  std::vector<bool> shown;
  for (QToolBar* bar : toolbars_) shown.push_back(bar->isVisible());
  CustomiseDialog dialog(this, *session_, shown);
  if (dialog.exec() != QDialog::Accepted) return;
  bool changed = false;
  for (const auto& [key, value] : {std::pair<std::string_view, int>{"CommandColor", dialog.command_colour()},
                                   std::pair<std::string_view, int>{"CommentColor", dialog.comment_colour()}}) {
    if (config_.get_int(kSectionSettings, key) != value) {
      config_.set_int(kSectionSettings, key, value);
      changed = true;
    }
  }
  if (changed) apply_colours();
  const std::vector<bool> bars = dialog.toolbars();
  for (std::size_t i = 0; i < toolbars_.size() && i < bars.size(); ++i) toolbars_[i]->setVisible(bars[i]);
}

void CMainFrame::show_help() {
  const QString file = QString::fromStdString(config_.get_string(kSectionSettings, "HelpFile"));
  auto* help = new QTextBrowser;
  help->setAttribute(Qt::WA_DeleteOnClose);
  help->setObjectName(QStringLiteral("HelpWindow"));
  help->setWindowTitle(L(italian(), "Guida", "Help"));
  help->setSource(QUrl::fromLocalFile(file));
  help->resize(640, 480);
  help->show();
}

void CMainFrame::show_tips() {
  std::ifstream in(config_.tips_file(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  const std::vector<std::string> tips = testbench::parse_tips(text.str());
  if (tips.empty()) return;
  QDialog dialog(this);
  dialog.setWindowTitle(L(italian(), "Suggerimento del giorno", "Tip of the day"));
  auto* label = new QLabel;
  label->setWordWrap(true);
  label->setMinimumWidth(360);
  auto index = std::make_shared<std::size_t>(0);
  label->setText(QString::fromStdString(tips[0]));
  auto* next = new QPushButton(L(italian(), "Suggerimento successivo", "Next tip"));
  connect(next, &QPushButton::clicked, &dialog, [label, index, tips] {
    *index = (*index + 1) % tips.size();
    label->setText(QString::fromStdString(tips[*index]));
  });
  auto* close = new QPushButton(Q(session_->text(txt::button_ok)));
  connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(label);
  layout->addWidget(next);
  layout->addWidget(close);
  dialog.exec();
}

void CMainFrame::save_log() {
  const QString path = QFileDialog::getSaveFileName(this, L(italian(), "Salva log", "Save log"), QString(),
                                                    L(italian(), "File di log (*.log)", "Log files (*.log)"));
  if (path.isEmpty()) return;
  std::error_code error;
  if (!platform::replace_file(path.toStdString(), session_->log().text(), error)) {
    message_box(this, italian(), QString::fromStdString(error.message()), box_kind::notice, false);
  }
}

void CMainFrame::show_device_information() {
  const QString text = QString::fromStdString(session_->device_information()).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QDialog dialog(this);
  dialog.setObjectName(QStringLiteral("DeviceInformation"));
  dialog.setWindowTitle(L(italian(), "Informazioni sul device", "Device information"));
  auto* label = new QLabel(text);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* ok = new QPushButton(Q(session_->text(txt::button_ok)));
  connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(label);
  layout->addWidget(ok, 0, Qt::AlignRight);
  dialog.exec();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // A filter still working on a picture ends first.
  if (filtering_ || !session_->may_close()) {
    event->ignore();
    return;
  }
  const QByteArray state = saveState();
  config_.set_binary(kSectionSettings, "BarState",
                     std::vector<std::uint8_t>(state.begin(), state.end()));
  event->accept();
}

// ---------------------------------------------------------------------------------------------
// session_host

void CMainFrame::record_added(const testbench::output_record& record) {
  if (output_ == nullptr) {
    // Creating the window replays the log, this record included.
    show_output();
  } else {
    output_->append_record(record);
    if (!output_window_->isVisible()) show_output();
  }
  if (output_ != nullptr) {
    output_->ensureCursorVisible();
  } else if (!record.detail.empty()) {
    message_box(this, italian(), QString::fromStdString(record.detail), box_kind::notice, false,
                Q(session_->text(txt::message_output_title)));
  }
  message_->setText(QString::fromStdString(record.text));
}

bool CMainFrame::ask(std::string_view text, bool yes_no) {
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  const bool answer = message_box(this, italian(), Q(text), yes_no ? box_kind::question : box_kind::notice, yes_no);
  QApplication::restoreOverrideCursor();
  return answer;
}

std::int32_t CMainFrame::error_window(std::string_view title, std::string_view text) {
  return testbench_view::error_window(this, italian(), Q(title),
                                      Q(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void CMainFrame::pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

testbench::debug_command CMainFrame::debug_stop(int line, std::string& text, int& caret_line) {
  CPRNView* view = running_script_;
  if (view != nullptr) view->set_stop_line(line);
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  if (on_debug_shown) QTimer::singleShot(0, this, [this] { on_debug_shown(); });
  // "Cancella immagine..." waits while the debugger holds a run.
  QTimer::singleShot(0, this, [this] { update_image_commands(); });
  const testbench::debug_command command = debug_->wait_for_command(line, text);
  update_image_commands();
  QApplication::restoreOverrideCursor();
  if (view != nullptr) {
    caret_line = view->caret_line();
    view->set_stop_line(0);
  }
  return command;
}

void CMainFrame::slip_prompt(std::string_view text, bool shown) {
  if (shown) {
    if (slip_window_ == nullptr) {
      slip_window_ = new QDialog(this);
      slip_window_->setWindowTitle(QStringLiteral("Slip"));
      auto* layout = new QVBoxLayout(slip_window_);
      layout->addWidget(new QLabel);
    }
    slip_window_->findChild<QLabel*>()->setText(Q(text));
    slip_window_->show();
    QApplication::processEvents();
  } else if (slip_window_ != nullptr) {
    slip_window_->hide();
  }
}

void CMainFrame::progress(int position, int range) {
  if (range <= 0) {
    progress_->hide();
    return;
  }
  progress_->setRange(0, range);
  progress_->setValue(position);
  progress_->show();
}

void CMainFrame::beep() { QApplication::beep(); }

void CMainFrame::properties_changed() {
  if (properties_ == nullptr) return;
  filling_properties_ = true;
  properties_->clear();
  QFont heading = properties_->font();
  heading.setBold(true);
  const QIcon glyph = heading_glyph();
  for (const testbench::property_row& row : session_->properties()) {
    auto* item = new QTreeWidgetItem(properties_, {QString::fromStdString(row.name), QString::fromStdString(row.value)});
    if (row.kind == testbench::row_kind::heading) {
      item->setFont(0, heading);
      item->setIcon(0, glyph);
      item->setFirstColumnSpanned(true);
      continue;
    }
    if (row.kind == testbench::row_kind::text_edit) item->setFlags(item->flags() | Qt::ItemIsEditable);
    if (row.kind == testbench::row_kind::list_edit) {
      auto* list = new QComboBox;
      for (const std::string& choice : row.choices) list->addItem(QString::fromStdString(choice));
      list->setCurrentText(QString::fromStdString(row.value));
      const std::size_t index = static_cast<std::size_t>(properties_->indexOfTopLevelItem(item));
      connect(list, &QComboBox::textActivated, this, [this, index](const QString& text) {
        const std::string entry = text.toStdString();
        QTimer::singleShot(0, this, [this, index, entry] {
          if (!session_->write_property(index, entry)) properties_changed();
        });
      });
      properties_->setItemWidget(item, 1, list);
    }
  }
  filling_properties_ = false;
}

void CMainFrame::connection_changed() {
  if (connection_ != nullptr) connection_->setText(QString::fromStdString(session_->connection_text()));
  update_image_commands();
}

}  // namespace testbench_view
