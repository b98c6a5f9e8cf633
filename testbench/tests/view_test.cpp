// Offscreen tests of the test environment's windows over the recording test service object:
// the frame's labels and panes, a coloured script window, connecting, printing with a
// breakpoint, a script error's link to its line, the picker and the printer tree.
#include <QApplication>
#include <QDockWidget>
#include <QLabel>
#include <QListWidget>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

#include <fstream>

#include <gtest/gtest.h>

#include "dialogs.h"
#include "main_frame.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "script_view.h"
#include "test_service.h"
#include "test_support.h"

namespace {

using namespace testbench_view;

// Presses the button with `text` of the modal box that opens next.
void answer_next_box(const QString& text) {
  QTimer::singleShot(0, [text] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    for (QPushButton* b : box->findChildren<QPushButton*>()) {
      if (b->text() == text) {
        b->click();
        return;
      }
    }
    ADD_FAILURE() << "no button " << text.toStdString();
  });
}

// The foreground of the format that covers `position` of `block`.
QColor colour_at(const QTextBlock& block, int position) {
  for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
    if (position >= range.start && position < range.start + range.length) return range.format.foreground().color();
  }
  return {};
}

class TestbenchViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(controls_test::register_library(PTRCTL_PATH));
    ASSERT_TRUE(controls_test::register_library(CONTROLS_TEST_SERVICE_PATH));
    controls_test::install_device(controls_test::kPosPrinterKey, "TestDevice", controls_test::kServiceProgId);
    platform::registry_key key;
    platform::registry_key::open(platform::registry_root::local_machine,
                                 std::string(controls_test::kPosPrinterKey) + "\\TestDevice", key);
    key.set_string("PTRKorvane", "TestDevice");
    key.set_string("MachineType", "VX40");
    key.set_string("COMMPort", "COM1");
    probe_.emplace();
    config_.apply_first_run();
  }

  CMainFrame& frame() {
    if (!frame_) {
      frame_ = std::make_unique<CMainFrame>(config_);
      frame_->show();
      QApplication::processEvents();
    }
    return *frame_;
  }

  // Opens a script file written with `text`.
  CPRNView* open_script(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    EXPECT_TRUE(frame().open_document(QString::fromStdString((dir_ / name).string())));
    return frame().active_script();
  }

  platform::testing::scoped_registry_dir registry_;
  platform::testing::temp_dir dir_;
  std::optional<controls_test::service_probe> probe_;
  testbench::settings config_{TESTBENCH_DATA_DIR};
  std::unique_ptr<CMainFrame> frame_;
};

TEST_F(TestbenchViewTest, FrameTitleToolbarsMenusAndPanesInItalian) {
  CMainFrame& f = frame();
  EXPECT_EQ(f.windowTitle(), QStringLiteral("POS Application environment"));
  std::vector<QString> names;
  for (QToolBar* bar : f.toolbars()) names.push_back(bar->objectName());
  EXPECT_EQ(names, (std::vector<QString>{"comandi standard", "connessione", "comandi stampante", "gestione immagini"}));
  for (const char* label : {"Avvia connessione...", "Termina connessione", "Accesso diretto...", "Finestra di output",
                            "Ripulisci finestra di ouput", "Personalizza...", "Guida...", "Suggerimento del giorno...",
                            "Visualizza proprietà", "Informazioni sul device...", "Esegui procedura di test...",
                            "Stampa barCode...", "Attiva transazione", "Ruota testo di 90° a destra",
                            "Ruota testo di 180°", "Usa la stazione di ricevuta", "Usa la stazione di slip",
                            "Stampa documento", "Verifica dati ", "Imposta testo come intestazione",
                            "Imposta testo come piè di pagina", "Riepilogo informazioni", "Proprietà documento",
                            "Inserisci o rimuovi breakpoint", "Attiva o disattiva breakpoint", "Aggiorna"}) {
    EXPECT_NE(f.action(QString::fromUtf8(label)), nullptr) << label;
  }
  EXPECT_EQ(f.connection_pane()->text(), QStringLiteral("Nessuna Connessione"));
  EXPECT_GT(f.property_list()->topLevelItemCount(), 50);
  EXPECT_NE(f.output_view(), nullptr) << "ShowToolOutput YES shows the output window at start";
}

TEST_F(TestbenchViewTest, ARecordReopensAClosedOutputWindowOnce) {
  CMainFrame& f = frame();
  f.output_window()->close();
  QApplication::processEvents();
  ASSERT_FALSE(f.output_window()->isVisible());
  f.session().output("(W) : once", "detail");
  EXPECT_TRUE(f.output_window()->isVisible());
  const QString text = f.output_view()->toPlainText();
  EXPECT_EQ(text.count(QStringLiteral("(W) : once")), 1) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("         detail")));
}

TEST_F(TestbenchViewTest, ToolbarLayoutIsKeptBetweenRuns) {
  frame().toolbars()[2]->hide();
  frame().close();
  EXPECT_FALSE(config_.get_binary(testbench::kSectionSettings, "BarState").empty());
  frame_.reset();
  EXPECT_FALSE(frame().toolbars()[2]->isVisible());
  EXPECT_TRUE(frame().toolbars()[1]->isVisible());
}

TEST_F(TestbenchViewTest, EnglishLabelsWhenLanguageIsNotItalian) {
  config_.set_string(testbench::kSectionSettings, "Language", "ENG");
  CMainFrame& f = frame();
  EXPECT_EQ(f.connection_pane()->text(), QStringLiteral("NO Connection(s)"));
  EXPECT_NE(f.action(QStringLiteral("Connect...")), nullptr);
  EXPECT_EQ(f.action(QStringLiteral("Avvia connessione...")), nullptr);
}

TEST_F(TestbenchViewTest, ScriptWindowColoursCommentsAndSequencesInItsFont) {
  config_.set_int(testbench::kSectionSettings, "CommandColor", 10);  // Blu
  config_.set_int(testbench::kSectionSettings, "CommentColor", 1);   // Verde
  CPRNView* view = open_script("receipt.oef", "{{Receipt}}{{Anna}}{{}}\r\n' header\r\nA<ESC|bC>bold");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->toPlainText(), QStringLiteral("' header\nA<ESC|bC>bold")) << "the properties line is not shown";
  EXPECT_EQ(view->document_model().properties.title, "Receipt");
  EXPECT_DOUBLE_EQ(view->font().pointSizeF(), 9.5);
  const QTextBlock comment = view->document()->findBlockByNumber(0);
  const QTextBlock command = view->document()->findBlockByNumber(1);
  EXPECT_EQ(colour_at(comment, 3), QColor(0, 128, 0));
  EXPECT_EQ(colour_at(command, 1), QColor(0, 0, 255));
  EXPECT_EQ(colour_at(command, 8), QColor(0, 0, 255));
  EXPECT_FALSE(colour_at(command, 0).isValid()) << "plain text keeps the default colour";
  EXPECT_EQ(config_.get_string(testbench::kSectionSettings, "CurrentExt"), "2");

  const int windows = static_cast<int>(frame().mdi()->subWindowList().size());
  EXPECT_FALSE(frame().open_document(QString::fromStdString((dir_ / "missing.txt").string())));
  EXPECT_TRUE(frame().output_view()->toPlainText().contains(QStringLiteral("(E) : Impossibile aprire il file")));
  EXPECT_EQ(frame().mdi()->subWindowList().size(), windows) << "no window for a file that cannot be read";

  std::ofstream(dir_ / "picture.png") << "x";
  answer_next_box(QStringLiteral("OK"));
  EXPECT_FALSE(frame().open_document(QString::fromStdString((dir_ / "picture.png").string())));
}

TEST_F(TestbenchViewTest, ConnectPrintWithABreakpointAndDisconnect) {
  CMainFrame& f = frame();
  ASSERT_TRUE(f.connect_to(std::string("TestDevice")));
  EXPECT_EQ(f.connection_pane()->text(), QStringLiteral("TestDevice attiva"));

  CPRNView* view = open_script("two.txt", "first<ESC|bC>\nsecond\nthird");
  ASSERT_NE(view, nullptr);
  view->document_model().toggle_breakpoint(2);
  probe_->take_calls();
  int shown = 0;
  f.on_debug_shown = [&] {
    ++shown;
    EXPECT_TRUE(f.debug_window()->isVisible());
    EXPECT_EQ(f.debug_window()->findChild<QLabel*>("Break")->text(), QStringLiteral("Break 2"));
    EXPECT_EQ(f.debug_window()->findChild<QLineEdit*>("lineText")->text(), QStringLiteral("second"));
    f.debug_window()->findChild<QPushButton*>("2")->click();  // "Continua esecuzione"
  };
  f.action(QStringLiteral("Stampa documento"))->trigger();
  EXPECT_EQ(shown, 1);
  const std::string calls = probe_->take_calls();
  EXPECT_NE(calls.find("PrintNormal(2, \"first\\x1B|bC\\x0A\")"), std::string::npos) << calls;
  EXPECT_NE(calls.find("PrintNormal(2, \"third\\x0A\")"), std::string::npos) << calls;
  EXPECT_TRUE(f.output_view()->toPlainText().contains(QStringLiteral("(I) : Esecuzione comando di stampa")));

  answer_next_box(QStringLiteral("Si"));
  f.action(QStringLiteral("Termina connessione"))->trigger();
  EXPECT_EQ(f.connection_pane()->text(), QStringLiteral("Nessuna Connessione"));
}

TEST_F(TestbenchViewTest, ScriptErrorLinksToItsLine) {
  CMainFrame& f = frame();
  ASSERT_TRUE(f.connect_to(std::string("TestDevice")));
  CPRNView* view = open_script("bad.txt", "' c\nok\nbad");
  ASSERT_NE(view, nullptr);
  probe_->set_result("PrintNormal", 106);
  f.action(QStringLiteral("Stampa documento"))->trigger();
  const QString out = f.output_view()->toPlainText();
  ASSERT_TRUE(out.contains(QStringLiteral("Linea errore esecuzione :2"))) << out.toStdString();
  const QStringList lines = out.split(QLatin1Char('\n'));
  int error_line = -1;
  for (int i = 0; i < lines.size(); ++i) {
    if (lines[i].contains(QStringLiteral("(E) : Errore di esecuzione."))) error_line = i;
  }
  ASSERT_GE(error_line, 0);
  view->moveCursor(QTextCursor::Start);
  ASSERT_TRUE(f.go_to_source(error_line));
  EXPECT_EQ(view->caret_line(), 2);
  EXPECT_EQ(view->textCursor().selectedText(), QStringLiteral("ok"));
  EXPECT_FALSE(f.go_to_source(0)) << "a record without a source line links nowhere";
}

TEST_F(TestbenchViewTest, PickerAndPrinterTree) {
  const std::vector<std::string> templates = {"<ESC|bC>", "<ESC|#lF>", "<ESC|cA>"};
  EscapePicker picker(nullptr, true, templates, QStringLiteral("<ESC|12lF>"));
  EXPECT_EQ(picker.list()->currentRow(), 1);
  emit picker.list()->itemActivated(picker.list()->item(1));
  EXPECT_EQ(picker.edit()->text(), QStringLiteral("<ESC|#lF>"));
  EXPECT_EQ(picker.edit()->selectedText(), QStringLiteral("#"));

  PrinterSelection tree(nullptr, true, {{"Cassa 1", "VX40", "COM1"}});
  QTreeWidgetItem* root = tree.tree()->topLevelItem(0);
  EXPECT_EQ(root->text(0), QStringLiteral("Stampanti"));
  QTreeWidgetItem* printer = root->child(0);
  EXPECT_EQ(printer->child(0)->text(0), QStringLiteral("Modello, VX40"));
  EXPECT_EQ(printer->child(1)->text(0), QStringLiteral("Porta, COM1"));
  tree.tree()->setCurrentItem(printer->child(1));
  EXPECT_EQ(tree.selected_device(), std::optional<std::string>("Cassa 1"));
  tree.tree()->setCurrentItem(root);
  EXPECT_EQ(tree.selected_device(), std::nullopt);
}

}  // namespace

int main(int argc, char** argv) {
  // The tests never need a display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
