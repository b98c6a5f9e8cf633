// Offscreen tests of StartForm: the tree and status bar in local mode, the menus of each mode, a
// double click on empty space, and Enter on a printer opening the registered utility window.
#include "start_form.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "fake_servers.h"
#include "link_fixture.h"

namespace utilities_test {
namespace {

using utilities_view::StartForm;

class StartFormTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    net_.servers["till1"] = server_kind::reachable;
    set_port("COM1", fresh_sim("view", "?id=46"), "VX40", "Counter");
  }
  void TearDown() override { utilities_view::clear_utility_windows(); }

  std::unique_ptr<StartForm> make_form(const std::string& exe) {
    utilities::browser_environment env;
    env.exe_name = exe;
    env.title = exe;
    env.app_path = dir_.path();
    env.computer_name = "till1";
    env.domain = "STORE";
    auto form = std::make_unique<StartForm>([this] { return std::make_unique<fake_creator>(net_); }, env);
    form->show();
    form->load();
    QApplication::processEvents();
    return form;
  }

  fake_network net_;
};

TEST_F(StartFormTest, LocalModeShowsTheTreeAndStatusBar) {
  auto form = make_form("Logo");
  auto* tree = form->findChild<QTreeWidget*>(QStringLiteral("tvwServerCollection"));
  ASSERT_NE(tree, nullptr);
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  QTreeWidgetItem* server = tree->topLevelItem(0);
  EXPECT_EQ(server->text(0), QStringLiteral("till1"));
  ASSERT_EQ(server->childCount(), 1);
  EXPECT_EQ(server->child(0)->text(0), QStringLiteral("Counter:COM1"));
  EXPECT_FALSE(server->icon(0).isNull());
  EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("WorkingMode"))->text(), QStringLiteral("LOCAL"));
  EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("ProgramStatus"))->text(), QStringLiteral("Ready..."));
  // Options is hidden in local mode; the other menus are there with their captions.
  QStringList shown;
  for (QAction* a : form->menuBar()->actions())
    if (a->isVisible()) shown << a->text();
  EXPECT_EQ(shown, (QStringList{"&File", "&View", "&Help"}));
}

TEST_F(StartFormTest, DoubleClickOnEmptySpaceDoesNothingAndEnterOpensTheWindow) {
  int opened = 0;
  utilities_view::register_utility_window(utilities::window_kind::logo,
                                          [&](utilities::start_form_model& model, QWidget* owner) -> QWidget* {
                                            ++opened;
                                            EXPECT_TRUE(model.link().has_channel());
                                            auto* w = new QWidget(owner, Qt::Window);
                                            w->setObjectName(QStringLiteral("LogoForm"));
                                            return w;
                                          });
  auto form = make_form("Logo");
  auto* tree = form->findChild<QTreeWidget*>(QStringLiteral("tvwServerCollection"));
  tree->setCurrentItem(tree->topLevelItem(0)->child(0));
  const QPoint below(10, tree->viewport()->height() - 5);
  ASSERT_EQ(tree->itemAt(below), nullptr);
  QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, below);
  EXPECT_EQ(opened, 0);
  EXPECT_TRUE(net_.creations.size() == 1u);  // only the one of building the tree

  tree->setFocus();
  QTest::keyClick(tree, Qt::Key_Return);
  EXPECT_EQ(opened, 1);
  EXPECT_TRUE(form->lastConnect().connected);
  EXPECT_FALSE(form->isVisible());
  // Closing the utility window brings StartForm back.
  auto* logo = form->findChild<QWidget*>(QStringLiteral("LogoForm"));
  ASSERT_NE(logo, nullptr);
  logo->close();
  QApplication::processEvents();
  QTest::qWait(10);
  EXPECT_TRUE(form->isVisible());
}

TEST_F(StartFormTest, NetworkModeShowsTheDomainAndOptions) {
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine, utilities::kInstallationKey, key),
            platform::kErrorSuccess);
  key.set_string("InstallationType", "NETWORK");
  key.set_string("MainServer", "main");
  net_.main_server = "main";
  net_.servers["main"] = server_kind::reachable;
  net_.collection->servers = {"till1"};
  auto form = make_form("Memory");
  auto* tree = form->findChild<QTreeWidget*>(QStringLiteral("tvwServerCollection"));
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("STORE"));
  EXPECT_EQ(tree->topLevelItem(0)->child(0)->text(0), QStringLiteral("till1"));
  EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("WorkingMode"))->text(), QStringLiteral("Main server"));
  QStringList shown;
  for (QAction* a : form->menuBar()->actions())
    if (a->isVisible()) shown << a->text();
  EXPECT_EQ(shown, (QStringList{"&File", "&View", "&Options", "&Help"}));
}

}  // namespace
}  // namespace utilities_test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
