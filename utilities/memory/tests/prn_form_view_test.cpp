// Offscreen tests of PrnForm on the virtual printer (a sim port through the monitor): the tree of
// the printer's setup with its images, radio options by key and click, label editing with its
// refused characters and limits, the download read back from the printer, the printer's faults,
// and the browser opening the window.
#include "prn_form.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "fake_servers.h"
#include "link_fixture.h"
#include "scripted_ui.h"
#include "start_form.h"

namespace memory_test {
namespace {

using memory_view::PrnForm;

constexpr int kImageRole = Qt::UserRole + 1;

QString image_of(const QTreeWidgetItem* item) { return item == nullptr ? QString() : item->data(0, kImageRole).toString(); }

class PrnFormViewTest : public utilities_test::LinkTest {
 protected:
  void TearDown() override {
    form_.reset();
    utilities_view::clear_utility_windows();
  }

  // Opens PrnForm under `exe` on a fresh virtual printer with `options`, and waits for the upload.
  void open(const std::string& exe, const std::string& options = "") {
    uri_ = fresh_sim("setup", options);
    set_port("COM1", uri_, "VX40", "Counter");
    link_.set_channel(channel_of("COM1"));
    memory::prn_form_environment env;
    env.exe_name = exe;
    env.model = "VX40";
    env.printer_tag = "COM1";
    form_ = std::make_unique<PrnForm>(link_, env, dialogs_);
    form_->show();
    ASSERT_TRUE(QTest::qWaitFor([this] { return form_->model().last_upload() != memory::upload_outcome::none; }, 10000));
    tree_ = form_->findChild<QTreeWidget*>(QStringLiteral("tvwSetup"));
  }
  QString panel(const char* name) const { return form_->findChild<QLabel*>(QString::fromLatin1(name))->text(); }
  QAction* action(const char* name) const { return form_->findChild<QAction*>(QString::fromLatin1(name)); }
  // Starts editing the label of node `key`; the edit field, or null when the edit was refused.
  QLineEdit* edit(const std::string& key) {
    tree_->setCurrentItem(form_->item(key));
    tree_->editItem(form_->item(key));
    QApplication::processEvents();
    return tree_->findChild<QLineEdit*>(QStringLiteral("txtLabelEdit"));
  }
  // The full setup block the printer sends now, acknowledged.
  std::string printer_block() {
    vprinter::virtual_printer* p = monitor::sim_printer(uri_);
    p->accept(std::string("\x1B} a", 4));
    std::string block = p->read(1 << 16).bytes;
    p->accept("\x06");
    return block;
  }

  utilities_test::scripted_ui dialogs_;
  utilities::printer_link link_{dialogs_};
  std::string uri_;
  std::unique_ptr<PrnForm> form_;
  QTreeWidget* tree_ = nullptr;
};

TEST_F(PrnFormViewTest, UploadShowsThePrintersSetupTree) {
  open("SETUP");
  ASSERT_EQ(form_->model().last_upload(), memory::upload_outcome::tree_built) << form_->model().format_problem();
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("Quorel - Memory VX40"));
  EXPECT_EQ(panel("pnlIdentifier"), QStringLiteral("VX40-R1"));
  EXPECT_EQ(panel("pnlBoot"), QStringLiteral("BOOT 0.90"));
  EXPECT_EQ(panel("pnlFirmware"), QStringLiteral("FW 1.00"));
  EXPECT_EQ(panel("pnlStatus"), QStringLiteral("Ready..."));
  EXPECT_TRUE(action("mnuDwldSetup")->isEnabled());
  EXPECT_TRUE(dialogs_.messages.empty());

  ASSERT_EQ(tree_->topLevelItemCount(), 1);
  const QTreeWidgetItem* root = tree_->topLevelItem(0);
  EXPECT_EQ(root->text(0), QStringLiteral("VX40"));
  EXPECT_TRUE(root->isExpanded());
  QStringList folders;
  for (int i = 0; i < root->childCount(); ++i) folders << root->child(i)->text(0);
  EXPECT_EQ(folders, (QStringList{"Communication", "Printing", "Cutter", "Buzzer", "Memory", "Information"}));

  struct node_case {
    const char* key;
    const char* text;
    const char* image;
  };
  const node_case cases[] = {
      {"VX40", "VX40", "Setup"},
      {"VX40\\Communication", "Communication", "CFolder"},
      {"VX40\\Communication\\Baud rate\\19200", "19200", "COption"},
      {"VX40\\Communication\\Baud rate\\9600", "9600", "UOption"},
      {"VX40\\Printing\\Code page\\WPC1250", "WPC1250", "UOption"},
      {"VX40\\Printing\\Print speed\\High", "High", "COption"},
      {"VX40\\Cutter\\Cutter errors", "Cutter errors=2", "MNValue"},
      {"VX40\\Buzzer\\Beep time (ms)", "Beep time (ms)=200", "MNValue"},
      {"VX40\\Memory\\Free bytes", "Free bytes=262144", "NValue"},
      {"VX40\\Information\\Serial number", "Serial number=VP0000001", "AValue"},
      {"VX40\\Information\\Shop name", "Shop name=KORVANE", "MAValue"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    const QTreeWidgetItem* item = form_->item(c.key);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(0), QString::fromUtf8(c.text));
    EXPECT_EQ(image_of(item), QString::fromLatin1(c.image));
    EXPECT_FALSE(item->icon(0).isNull());
  }
  // Hidden folders have no nodes, nor do their folders and options; the remark leaves no trace.
  for (const char* key : {"VX40\\Communication\\Interface test", "VX40\\Printing\\Head energy", "VX40\\Factory",
                          "VX40\\Factory\\Burn-in", "VX40\\Information\\block release 2"})
    EXPECT_EQ(form_->item(key), nullptr) << key;
  EXPECT_EQ(form_->item("VX40\\Printing\\Code page")->childCount(), 12);
  // A folder shows its open image while expanded.
  QTreeWidgetItem* comm = form_->item("VX40\\Communication");
  comm->setExpanded(true);
  EXPECT_EQ(image_of(comm), QStringLiteral("OFolder"));
  comm->setExpanded(false);
  EXPECT_EQ(image_of(comm), QStringLiteral("CFolder"));
  // The node images are told apart by their icons.
  EXPECT_NE(memory_view::node_icon("UOption").pixmap(16).toImage(), memory_view::node_icon("COption").pixmap(16).toImage());
  EXPECT_NE(memory_view::node_icon("NValue").pixmap(16).toImage(), memory_view::node_icon("MNValue").pixmap(16).toImage());
}

TEST_F(PrnFormViewTest, SecondProtocolKindGivesTheVersionsToo) {
  open("MEMORY", "?protocol=2&model=QW-310");
  ASSERT_EQ(form_->model().last_upload(), memory::upload_outcome::tree_built) << dialogs_.messages.size();
  EXPECT_EQ(panel("pnlBoot"), QStringLiteral("BOOT 0.90"));
  EXPECT_EQ(panel("pnlFirmware"), QStringLiteral("FW 1.00"));
  EXPECT_EQ(tree_->topLevelItem(0)->text(0), QStringLiteral("VX40 memory"));
}

TEST_F(PrnFormViewTest, SpaceAndAClickOnTheIconChooseAnOption) {
  open("SETUP");
  tree_->expandAll();
  tree_->setFocus();
  tree_->setCurrentItem(form_->item("VX40\\Printing\\Paper width\\58 mm"));
  QTest::keyClick(tree_, Qt::Key_Space);
  EXPECT_EQ(image_of(form_->item("VX40\\Printing\\Paper width\\58 mm")), QStringLiteral("COption"));
  EXPECT_EQ(image_of(form_->item("VX40\\Printing\\Paper width\\80 mm")), QStringLiteral("UOption"));
  // Space on a folder or a value changes nothing.
  tree_->setCurrentItem(form_->item("VX40\\Printing\\Paper width"));
  QTest::keyClick(tree_, Qt::Key_Space);
  EXPECT_EQ(image_of(form_->item("VX40\\Printing\\Paper width\\58 mm")), QStringLiteral("COption"));

  QTreeWidgetItem* even = form_->item("VX40\\Communication\\Parity\\Even");
  tree_->scrollToItem(even);
  const QRect rect = tree_->visualItemRect(even);
  QTest::mouseClick(tree_->viewport(), Qt::LeftButton, {}, QPoint(rect.left() + 8, rect.center().y()));
  EXPECT_EQ(image_of(even), QStringLiteral("COption"));
  EXPECT_EQ(image_of(form_->item("VX40\\Communication\\Parity\\None")), QStringLiteral("UOption"));
  // A click on the label of an unselected option only selects the node.
  QTreeWidgetItem* odd = form_->item("VX40\\Communication\\Parity\\Odd");
  const QRect label = tree_->visualItemRect(odd);
  QTest::mouseClick(tree_->viewport(), Qt::LeftButton, {}, QPoint(label.left() + 40, label.center().y()));
  EXPECT_EQ(image_of(odd), QStringLiteral("UOption"));
}

TEST_F(PrnFormViewTest, LabelEditingFollowsTheValueRules) {
  open("SETUP");
  tree_->expandAll();
  EXPECT_EQ(edit("VX40\\Information\\Serial number"), nullptr);  // read-only
  EXPECT_EQ(edit("VX40\\Cutter"), nullptr);                      // a folder

  // A text: at most 24 characters; separators are refused with a beep.
  QLineEdit* text = edit("VX40\\Information\\Shop name");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->text(), QStringLiteral("KORVANE"));
  EXPECT_EQ(text->maxLength(), 24);
  text->selectAll();
  QTest::keyClicks(text, QStringLiteral("A$B:C"));
  EXPECT_EQ(text->text(), QStringLiteral("ABC"));
  EXPECT_EQ(form_->beeps(), 2);
  // Pasting a text with a separator is refused with a beep; another is pasted.
  QApplication::clipboard()->setText(QStringLiteral("X|Y"));
  QTest::keySequence(text, QKeySequence::Paste);
  EXPECT_EQ(text->text(), QStringLiteral("ABC"));
  EXPECT_EQ(form_->beeps(), 3);
  QApplication::clipboard()->setText(QStringLiteral(" SHOP"));
  QTest::keySequence(text, QKeySequence::Paste);
  EXPECT_EQ(text->text(), QStringLiteral("ABC SHOP"));
  QTest::keyClick(text, Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(form_->item("VX40\\Information\\Shop name")->text(0), QStringLiteral("Shop name=ABC SHOP"));

  // A one-digit value can only become 0.
  QLineEdit* digit = edit("VX40\\Cutter\\Cutter errors");
  ASSERT_NE(digit, nullptr);
  EXPECT_EQ(digit->maxLength(), 1);
  digit->selectAll();
  QTest::keyClicks(digit, QStringLiteral("5"));
  EXPECT_EQ(digit->text(), QStringLiteral("2"));
  EXPECT_EQ(form_->beeps(), 4);
  QTest::keyClicks(digit, QStringLiteral("0"));
  QTest::keyClick(digit, Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(form_->item("VX40\\Cutter\\Cutter errors")->text(0), QStringLiteral("Cutter errors=0"));

  // A longer number takes digits only, up to nine; an empty edit leaves the label as it was.
  QLineEdit* number = edit("VX40\\Buzzer\\Beep time (ms)");
  ASSERT_NE(number, nullptr);
  EXPECT_EQ(number->maxLength(), 9);
  number->clear();
  QTest::keyClicks(number, QStringLiteral("x"));
  EXPECT_EQ(number->text(), QString());
  QTest::keyClick(number, Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(form_->item("VX40\\Buzzer\\Beep time (ms)")->text(0), QStringLiteral("Beep time (ms)=200"));
}

TEST_F(PrnFormViewTest, RefreshReadsTheSetupAgainAndDropsTheEdits) {
  open("SETUP");
  tree_->expandAll();
  tree_->setFocus();
  tree_->setCurrentItem(form_->item("VX40\\Buzzer\\Off"));
  QTest::keyClick(tree_, Qt::Key_Space);
  ASSERT_EQ(image_of(form_->item("VX40\\Buzzer\\Off")), QStringLiteral("COption"));
  // Meanwhile the printer's own counter moved on.
  monitor::sim_printer(uri_)->accept("a line\n");
  action("mnuRefresh")->trigger();
  EXPECT_EQ(form_->model().last_upload(), memory::upload_outcome::tree_built);
  EXPECT_EQ(tree_->topLevelItemCount(), 1);
  EXPECT_EQ(image_of(form_->item("VX40\\Buzzer\\Off")), QStringLiteral("UOption"));
  EXPECT_EQ(image_of(form_->item("VX40\\Buzzer\\On")), QStringLiteral("COption"));
  EXPECT_EQ(form_->item("VX40\\Information\\Lines printed")->text(0), QStringLiteral("Lines printed=1"));
  EXPECT_TRUE(action("mnuDwldSetup")->isEnabled());
}

TEST_F(PrnFormViewTest, DownloadStoresTheEditedSetupInThePrinter) {
  open("SETUP");
  tree_->expandAll();
  QLineEdit* text = edit("VX40\\Information\\Shop name");
  ASSERT_NE(text, nullptr);
  text->selectAll();
  QTest::keyClicks(text, QStringLiteral("CORNER"));
  QTest::keyClick(text, Qt::Key_Return);
  tree_->setFocus();
  tree_->setCurrentItem(form_->item("VX40\\Printing\\Code page\\WPC1252"));
  QTest::keyClick(tree_, Qt::Key_Space);

  bool unloaded = false;
  QObject::connect(form_.get(), &PrnForm::unloaded, [&] { unloaded = true; });
  action("mnuDwldSetup")->trigger();
  EXPECT_TRUE(unloaded);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].rfind("New setup has been downloaded correctly.\r\n", 0), 0u) << dialogs_.messages[0];
  const std::string block = printer_block();
  EXPECT_NE(block.find("Shop name\xB1" "CORNER\xAA"), std::string::npos);
  EXPECT_NE(block.find("WPC1250;6|"), std::string::npos);
  EXPECT_EQ(monitor::sim_printer(uri_)->state().code_page_table, 16);
}

TEST_F(PrnFormViewTest, PrinterFaultsEndInTheirMessages) {
  struct fault_case {
    const char* options;
    bool download;  // the fault shows at the download (else at the upload)
    const char* message;
  };
  const fault_case cases[] = {
      {"?fault=setup_checksum:1", true, ""},
      {"?fault=setup_checksum:2", false, "Data checksum error."},
      {"?fault=setup_nak", true, "Checksum error from printer."},
      {"?fault=setup_id_mismatch", true, "PrinterID/Release does not match."},
      {"?fault=setup_store_error", true, "Memorization failed."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    dialogs_.messages.clear();
    open("MEMORY", c.options);
    EXPECT_EQ(form_->model().last_upload(),
              c.download ? memory::upload_outcome::tree_built : memory::upload_outcome::checksum_failed);
    if (c.download) action("mnuDwldSetup")->trigger();
    EXPECT_TRUE(form_->model().closed());
    const std::vector<std::string> expected =
        *c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{};
    EXPECT_EQ(dialogs_.messages, expected);
    form_.reset();
  }
}

TEST_F(PrnFormViewTest, ALateSecondAnswerIsWaitedForOnRetry) {
  const char* const kQuestion = "Timeout waiting answer from printer.\rRetry?";
  for (const bool retry : {true, false}) {
    SCOPED_TRACE(retry ? "retry" : "cancel");
    dialogs_.messages.clear();
    dialogs_.questions.clear();
    // The printer stores the setup 300 ms late; the editor waits 50 ms per read.
    open("SETUP", "?fault=setup_store_delay:300");
    ASSERT_EQ(form_->model().last_upload(), memory::upload_outcome::tree_built);
    platform::dispatch_client(link_.channel()).put("ReadTimeOut", 50);
    dialogs_.answers.assign(retry ? 200 : 0, utilities::box_answer::retry);
    action("mnuDwldSetup")->trigger();
    EXPECT_TRUE(form_->model().closed());
    ASSERT_FALSE(dialogs_.questions.empty());
    EXPECT_EQ(dialogs_.questions.front(), kQuestion);
    if (retry) {
      EXPECT_LT(dialogs_.answers.size(), 200u);
      ASSERT_EQ(dialogs_.messages.size(), 1u);
      EXPECT_EQ(dialogs_.messages[0].rfind("New setup has been downloaded correctly.", 0), 0u);
    } else {
      EXPECT_EQ(dialogs_.questions.size(), 1u);
      EXPECT_TRUE(dialogs_.messages.empty());  // Cancel closes the window without a word
    }
    form_.reset();
  }
}

TEST_F(PrnFormViewTest, TheBrowserOpensTheWindowAndComesBackAfterIt) {
  memory_view::register_prn_form();
  set_port("COM1", fresh_sim("browser", "?id=32"), "VX40", "Counter");
  utilities_test::fake_network net;
  net.servers["till1"] = utilities_test::server_kind::reachable;
  utilities::browser_environment env;
  env.exe_name = "Memory";
  env.title = "Memory";
  env.app_path = dir_.path();
  env.computer_name = "till1";
  env.domain = "STORE";
  utilities_view::StartForm browser([&net] { return std::make_unique<utilities_test::fake_creator>(net); }, env);
  browser.show();
  browser.load();
  auto* servers = browser.findChild<QTreeWidget*>(QStringLiteral("tvwServerCollection"));
  servers->setCurrentItem(servers->topLevelItem(0)->child(0));
  servers->setFocus();
  QTest::keyClick(servers, Qt::Key_Return);
  auto* window = browser.findChild<PrnForm*>(QStringLiteral("PrnForm"));
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(browser.isVisible());
  ASSERT_TRUE(QTest::qWaitFor([window] { return window->model().last_upload() != memory::upload_outcome::none; }, 10000));
  EXPECT_EQ(window->model().last_upload(), memory::upload_outcome::tree_built);
  // The memory setup: its own root with the memory folder.
  EXPECT_NE(window->item("VX40 memory\\Memory\\Graphics memory\\256 KB"), nullptr);
  EXPECT_EQ(window->model().request_command(), std::string_view("\x1B} m", 4));
  window->findChild<QAction*>(QStringLiteral("mnuExit"))->trigger();
  EXPECT_TRUE(QTest::qWaitFor([&browser] { return browser.isVisible(); }, 5000));
}

}  // namespace
}  // namespace memory_test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
