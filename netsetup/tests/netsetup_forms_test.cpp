// Offscreen tests of the setup program's windows: the main window's list, commands and status
// bar after a search, and the dialogs' controls, checks and messages, against simulated modules.
#include "netsetup_forms.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "lan_fixture.h"

namespace netsetup {
namespace {

using netcfg::testing::module_n;

class recorded_prompts : public prompts {
 public:
  void warning(const std::string& text) override { shown.push_back("warning: " + text); }
  void information(const std::string& text) override { shown.push_back("information: " + text); }
  bool confirm(const std::string& text) override {
    shown.push_back("confirm: " + text);
    return answer;
  }
  std::vector<std::string> shown;
  bool answer = true;
};

class Forms : public netcfg::testing::lan_test {
 protected:
  void SetUp() override {
    lan_test::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    add(module_n(1, false, "BAR"));
    add(module_n(2, true));
    start();
    auto c = configurator();
    services svc = default_services();
    svc.wait = [](int) {};
    model_ = std::make_unique<netsetup_model>(platform::com_ptr<platform::dispatch>(c.get()), svc);
    ASSERT_EQ(model_->start(), std::nullopt);
    ASSERT_TRUE(model_->apply_adapter(lan0_index()).ok);
  }

  // The main window after a search, with the row of `ip` clicked.
  std::unique_ptr<FrmMain> searched_window(const std::string& ip) {
    auto window = std::make_unique<FrmMain>(*model_, boxes_);
    window->search();
    auto* list = window->findChild<QTreeWidget*>(QStringLiteral("lvwLanPr"));
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      if (list->topLevelItem(i)->text(1).toStdString() == ip) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        emit list->itemClicked(item, 0);
      }
    }
    return window;
  }

  std::unique_ptr<netsetup_model> model_;
  recorded_prompts boxes_;
};

bool enabled(QWidget& w, const char* name) {
  auto* a = w.findChild<QAction*>(QString::fromLatin1(name));
  return a != nullptr && a->isEnabled();
}

TEST_F(Forms, MainWindowListsThePrintersAndSetsTheCommands) {
  FrmMain window(*model_, boxes_);
  for (const char* name : {"kSearch", "kInitialize", "kConfigure", "kSetip", "kRefresh", "kExit", "mnuSearch",
                           "mnuInitialize", "mnuConfigure", "mnuSetip", "mnuRefresh", "mnuReset", "mnuPing",
                           "mnuPrintTestPage", "mnuNetwork", "mnuAbout", "mnuExit"}) {
    EXPECT_NE(window.findChild<QAction*>(QString::fromLatin1(name)), nullptr) << name;
  }
  auto* list = window.findChild<QTreeWidget*>(QStringLiteral("lvwLanPr"));
  ASSERT_NE(list, nullptr);
  const QStringList headers = {"Index", "IPaddr", "MACaddr", "Printer Name", "Status", "TCP Port"};
  for (int i = 0; i < headers.size(); ++i) EXPECT_EQ(list->headerItem()->text(i), headers[i]);
  EXPECT_EQ(list->columnWidth(0), 60);  // 900 twips
  EXPECT_FALSE(enabled(window, "kConfigure"));
  EXPECT_FALSE(enabled(window, "kRefresh"));

  window.search();
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("StatusPanel2"))->text(), "SEARCH");
  EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("StatusPanel4"))->text(), "OLP_NO_ERROR");
  EXPECT_TRUE(enabled(window, "kRefresh"));
  EXPECT_TRUE(enabled(window, "mnuReset"));
  for (int i = 0; i < 2; ++i) {
    QTreeWidgetItem* item = list->topLevelItem(i);
    emit list->itemClicked(item, 0);
    const bool named = item->text(4) == "INITIALIZED";
    EXPECT_EQ(enabled(window, "kConfigure"), named) << item->text(1).toStdString();
    EXPECT_TRUE(enabled(window, "kInitialize"));
    if (item->text(1) == "10.0.0.21") {
      EXPECT_TRUE(item->text(0).startsWith("WiPort "));
      EXPECT_EQ(item->text(4), "NOT INITIALIZED");
    }
  }

  // The test page goes to the selected printer's port while the window keeps running.
  window.print_test_page();
  const printer_row* selected = model_->selected_row();
  ASSERT_NE(selected, nullptr);
  const std::string page = test_page_bytes(selected->ip, selected->mac, selected->port, selected->name);
  const std::size_t module = selected->ip == "10.0.0.20" ? 0 : 1;
  for (int i = 0; i < 400 && sim_->module(module).printed.size() < page.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(sim_->module(module).printed, page);

  // Reset asks first; No leaves the printer alone.
  boxes_.answer = false;
  window.reset();
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"confirm: Are you sure that you want reset the selected item ?"});
}

TEST_F(Forms, InitializeDialogWarnsOnAnEmptyNameAndNamesThePrinter) {
  auto window = searched_window("10.0.0.21");
  DlgInstall dialog(*model_, boxes_, window.get());
  EXPECT_EQ(dialog.windowTitle(), "Initialize Lan Printer");
  dialog.apply();
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"warning: Insert a valid printer name !"});
  QTest::keyClicks(dialog.findChild<QLineEdit*>(QStringLiteral("tPrName")), "TERRACE");
  dialog.apply();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(sim_->module(1).config.name, "TERRACE");
}

TEST_F(Forms, ConfigureDialogFillsTheTabsAndWritesWhatWasTouched) {
  auto window = searched_window("10.0.0.20");
  {
    DlgConfig dialog(*model_, boxes_, window.get());
    ASSERT_TRUE(dialog.load());
    auto* tabs = dialog.findChild<QTabWidget*>(QStringLiteral("SSTabConfig"));
    EXPECT_EQ(tabs->tabText(0), "TCP parameters");
    EXPECT_EQ(tabs->tabText(1), "Wi-Fi parameters");
    EXPECT_FALSE(tabs->isTabEnabled(1));  // a wired printer
    auto* subnet = dialog.findChild<QComboBox*>(QStringLiteral("cmbSubnet"));
    EXPECT_EQ(subnet->count(), 32);
    EXPECT_EQ(subnet->currentText(), "255.255.255.0");
    auto* port = dialog.findChild<QLineEdit*>(QStringLiteral("tTcpPort"));
    EXPECT_EQ(port->text(), "10001");
    port->clear();
    QTest::keyClicks(port, "9100");
    dialog.apply();
    EXPECT_EQ(boxes_.shown, std::vector<std::string>{
                                "information: Switch off/on the printer to make the new TCP port value active."});
    EXPECT_EQ(sim_->module(0).config.tcp_port, 9100);
  }
  boxes_.shown.clear();
  auto wireless = searched_window("10.0.0.21");
  DlgConfig dialog(*model_, boxes_, wireless.get());
  ASSERT_TRUE(dialog.load());
  auto* tabs = dialog.findChild<QTabWidget*>(QStringLiteral("SSTabConfig"));
  ASSERT_TRUE(tabs->isTabEnabled(1));
  tabs->setCurrentIndex(1);
  EXPECT_TRUE(dialog.findChild<QRadioButton*>(QStringLiteral("OptInfrastructure"))->isChecked());
  EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("tSSID"))->text(), "POSLAN");
  EXPECT_FALSE(dialog.findChild<QComboBox*>(QStringLiteral("cmbChannel"))->isEnabled());
  EXPECT_EQ(dialog.findChild<QCheckBox*>(QStringLiteral("chkWEP"))->text(), "Enable WEP");
  // Ad hoc with WEP: the key field takes hexadecimal digits only.
  dialog.findChild<QRadioButton*>(QStringLiteral("OptAdHoc"))->setChecked(true);
  EXPECT_TRUE(dialog.findChild<QComboBox*>(QStringLiteral("cmbChannel"))->isEnabled());
  dialog.findChild<QCheckBox*>(QStringLiteral("chkWEP"))->setChecked(true);
  dialog.findChild<QComboBox*>(QStringLiteral("cmbKeyLenght"))->setCurrentIndex(1);
  auto* key = dialog.findChild<QLineEdit*>(QStringLiteral("tKey"));
  QTest::keyClicks(key, "0G1h2-3a4b5c6d7e");
  EXPECT_EQ(key->text(), "0123a4b5c6");
  dialog.apply();
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{
                              "information: Switch off/on the printer to make the new settings active."});
  const auto record = sim_->module(1).records[8];
  EXPECT_EQ(record[1] & 1, 1);
  EXPECT_EQ(record[2], 1 + 32);
}

TEST_F(Forms, PingAndNetworkDialogs) {
  FrmMain window(*model_, boxes_);
  DlgPing ping(*model_, boxes_, &window);
  EXPECT_EQ(ping.windowTitle(), "Ping an IP address");
  QTest::keyClicks(ping.findChild<QLineEdit*>(QStringLiteral("tPing")), "10.0.0.20");
  ping.findChild<QPushButton*>(QStringLiteral("cmdExecute"))->click();
  EXPECT_EQ(ping.findChild<QLineEdit*>(QStringLiteral("tReply"))->text(), "ip success");

  frmNetwork network(*model_, boxes_, &window);
  auto* list = network.findChild<QTreeWidget*>(QStringLiteral("lvwAdapter"));
  ASSERT_GE(list->topLevelItemCount(), 2);  // lan0 and lan1 (with the modules' addresses)
  EXPECT_EQ(list->headerItem()->text(6), "DHCP");
  list->topLevelItem(0)->setCheckState(0, Qt::Checked);
  list->topLevelItem(1)->setCheckState(0, Qt::Checked);
  EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Unchecked);
  list->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
  network.apply();
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"warning: An adapter must be selected !"});
  list->topLevelItem(1)->setCheckState(0, Qt::Checked);
  network.apply();
  EXPECT_EQ(model_->adapter_index(), 1);
}

}  // namespace
}  // namespace netsetup

int main(int argc, char** argv) {
  // The tests never need a display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
