// Tests of the launcher's model against real INI files, pictures and programs in a temp folder.
#include "launcher/launcher_model.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/profile.h"
#include "platform/testing/temp_dir.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;

// Bound of every wait for a started program.
constexpr auto kGenerous = std::chrono::seconds(20);

void write_file(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A shell script that records that it ran (and where) beside itself, then waits for a file
// "release" there when `wait_for_release` is set.
void write_program(const fs::path& path, bool wait_for_release = false) {
  std::string script = "#!/bin/sh\nhere=$(dirname \"$0\")\npwd -P > \"$here/ran\"\n";
  if (wait_for_release) {
    script += "while [ ! -e \"$here/release\" ]; do sleep 0.02; done\n";
  }
  write_file(path, script);
  fs::permissions(path, fs::perms::owner_all);
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

constexpr const char* kMainIni =
    "[PRINTER BRAND]\n"
    "VX40=Korvane\n"
    "VX80=Other\n"
    "[LANGUAGES]\n"
    "DEFAULT=\n"
    "LASTSELECTED=Italiano\n"
    "English=English\n"
    "Italiano=Italiano\n"
    "[APPLICATIONS]\n"
    "LASTSELECTED=APP2\n";

constexpr const char* kEnglishIni =
    "[StartForm]\n"
    "StartForm=Resource kit\n"
    "cmdNext=Next >\n"
    "[APP1]\nNAME=Logo\nINFOTIP=Store logos\nFILENAME=logo.sh\nSUBDIR=Tools\n"
    "[APP2]\nNAME=Memory\nINFOTIP=Edit the setup\nFILENAME=memory.sh\nSUBDIR=Tools\n";

constexpr const char* kItalianIni =
    "[StartForm]\n"
    "StartForm=Kit di risorse\n"
    "frmChooseLang=Scegli la lingua\n"
    "frmChooseApp=Scegli il programma\n"
    "cmdNext=Avanti >\n"
    "cmdPrevious=< Indietro\n"
    "cmdCancel=\n"
    "tvwLang=not a caption\n"
    "[APP1]\nNAME=Loghi\nINFOTIP=Memorizza i loghi\nFILENAME=logo.sh\nSUBDIR=Tools\n";

// A kit folder: <root>/Launcher/ with the INI files, <root>/Image/ with the pictures.
class LauncherModelTest : public ::testing::Test {
 protected:
  LauncherModelTest() {
    write_file(app_ / "Launcher.INI", kMainIni);
    write_file(app_ / "English.INI", kEnglishIni);
    write_file(app_ / "Italiano.INI", kItalianIni);
    write_file(root_ / "Image" / "vx40.bmp", "BM");
    write_file(root_ / "Image" / "Korvane.BMP", "BM");
  }

  launcher_model started() {
    launcher_model model(app_, "Launcher", user_);
    model.start();
    return model;
  }

  std::string main_value(std::string_view section, std::string_view key) {
    return platform::get_profile_string(section, key, "<missing>", app_ / "Launcher.INI", 256);
  }

  // Polls the model as the view's timer would, until the program ends or the bound passes.
  static bool wait_until_ended(launcher_model& model) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (model.poll_application()) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs / 10));
    }
    return true;
  }

  platform::testing::temp_dir dir_;
  fs::path root_ = dir_.path();
  fs::path app_ = root_ / "Launcher";
  fs::path user_ = root_ / "user";
};

TEST_F(LauncherModelTest, StartShowsTheLanguageStepLocalisedInTheLastLanguage) {
  launcher_model model = started();
  EXPECT_EQ(model.main_ini(), app_ / "Launcher.INI");
  EXPECT_EQ(model.step(), wizard_step::language);
  EXPECT_FALSE(model.previous_enabled());
  EXPECT_EQ(model.languages(), (std::vector<std::string>{"English", "Italiano"}));
  EXPECT_EQ(model.selected_language(), 1);

  // Only the first brand entry counts; pictures are found whatever the case of their names.
  EXPECT_EQ(model.window_caption(), "Kit di risorse VX40");
  EXPECT_EQ(fs::canonical(model.printer_picture()), fs::canonical(root_ / "Image" / "vx40.bmp"));
  EXPECT_EQ(fs::canonical(model.logo_picture()), fs::canonical(root_ / "Image" / "Korvane.BMP"));

  // Translated keys replace captions; empty and missing keys leave the default.
  EXPECT_EQ(model.caption("frmChooseLang"), "Scegli la lingua");
  EXPECT_EQ(model.caption("cmdNext"), "Avanti >");
  EXPECT_EQ(model.caption("cmdCancel"), "Cancel");
  EXPECT_EQ(model.caption("cckSetAsDefault"), "Set as default");
  EXPECT_EQ(model.caption("tvwLang"), "");  // a tree has no caption, whatever the INI says
  EXPECT_EQ(model.language_tool_tip(), "Scegli la lingua");
}

TEST_F(LauncherModelTest, LanguageTreeListsEveryOtherEntryOfLanguages) {
  struct row {
    const char* what;
    std::string languages_section;
    std::vector<std::string> expected;
    int expected_selection;
  };
  const std::vector<row> rows = {
      {"reserved keys are skipped whatever their case", "lastselected=Italiano\nDefault=\nEnglish=E\nItaliano=I\n",
       {"English", "Italiano"}, 1},
      {"a repeated name is listed once", "English=E\nenglish=F\nItaliano=I\n", {"English", "Italiano"}, 0},
      {"blanks around the name are dropped", "  Deutsch = D\n", {"Deutsch"}, -1},
      {"no last selection means English", "Italiano=I\nEnglish=E\n", {"Italiano", "English"}, 1},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    write_file(app_ / "Launcher.INI", "[LANGUAGES]\n" + r.languages_section);
    launcher_model model = started();
    EXPECT_EQ(model.languages(), r.expected);
    EXPECT_EQ(model.selected_language(), r.expected_selection);
  }
}

TEST_F(LauncherModelTest, MissingIniFilesGiveEmptyTreesAndUntranslatedCaptions) {
  platform::testing::temp_dir empty;
  launcher_model model(empty.path(), "Launcher");
  model.start();
  EXPECT_EQ(model.step(), wizard_step::language);
  EXPECT_TRUE(model.languages().empty());
  EXPECT_EQ(model.selected_language(), -1);
  EXPECT_TRUE(model.logo_picture().empty());
  EXPECT_TRUE(model.printer_picture().empty());
  EXPECT_EQ(model.window_caption(), "Launcher ");
  for (const captioned_control& control : kCaptionedControls) {
    EXPECT_EQ(model.caption(control.name), control.default_caption);
  }
  // With nothing to choose, "Next >" does nothing.
  EXPECT_EQ(model.next(), next_outcome::nothing);
  EXPECT_EQ(model.step(), wizard_step::language);
}

TEST_F(LauncherModelTest, MainIniIsFoundCaseInsensitivelyAndNamedAfterTheProgram) {
  fs::rename(app_ / "Launcher.INI", app_ / "launcher.ini");
  launcher_model model(app_, "Launcher");
  model.start();
  EXPECT_EQ(model.languages().size(), 2U);

  launcher_model other(app_, "Other.exe");
  other.start();
  EXPECT_EQ(other.title(), "Other");
  EXPECT_TRUE(other.languages().empty());
}

TEST_F(LauncherModelTest, ApplicationTreeFollowsTheNumberedSections) {
  struct row {
    const char* what;
    std::string language_ini;
    std::string last_selected;  // "" leaves the key out
    std::vector<std::string> expected_names;
    int expected_selection;
  };
  const std::string long_name(300, 'n');
  const std::vector<row> rows = {
      {"APP1 without NAME gives an empty tree", "[APP1]\nFILENAME=a.sh\n[APP2]\nNAME=Two\n", "", {}, -1},
      {"APP1 with an empty NAME ends the list", "[APP1]\nNAME=\n[APP2]\nNAME=Two\n", "", {}, -1},
      {"a gap ends the list", "[APP1]\nNAME=One\n[APP3]\nNAME=Three\n", "", {"One"}, 0},
      {"no last selection picks APP1", "[APP1]\nNAME=One\n[APP2]\nNAME=Two\n", "", {"One", "Two"}, 0},
      {"last selection picks its node", "[APP1]\nNAME=One\n[APP2]\nNAME=Two\n", "APP2", {"One", "Two"}, 1},
      {"last selection matches case-insensitively", "[APP1]\nNAME=One\n[APP2]\nNAME=Two\n", "app2",
       {"One", "Two"}, 1},
      {"an unknown last selection selects nothing", "[APP1]\nNAME=One\n", "APP9", {"One"}, -1},
      {"values are cut to the 256-character buffer", "[APP1]\nNAME=" + long_name + "\n", "",
       {std::string(255, 'n')}, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    std::string main = "[LANGUAGES]\nDEFAULT=English\nEnglish=English\n";
    if (!r.last_selected.empty()) {
      main += "[APPLICATIONS]\nLASTSELECTED=" + r.last_selected + "\n";
    }
    write_file(app_ / "Launcher.INI", main);
    write_file(app_ / "English.INI", r.language_ini);
    launcher_model model = started();
    std::vector<std::string> names;
    for (const application_node& node : model.applications()) {
      names.push_back(node.name);
    }
    EXPECT_EQ(names, r.expected_names);
    EXPECT_EQ(model.selected_application(), r.expected_selection);
  }
}

TEST_F(LauncherModelTest, DefaultLanguageOpensOnTheApplicationStepAndPreviousStillLeadsBack) {
  write_file(app_ / "Launcher.INI",
             "[LANGUAGES]\nDEFAULT=English\nLASTSELECTED=Italiano\nEnglish=English\nItaliano=Italiano\n");
  launcher_model model = started();
  EXPECT_EQ(model.step(), wizard_step::application);
  EXPECT_TRUE(model.previous_enabled());
  EXPECT_EQ(main_value("LANGUAGES", "LASTSELECTED"), "English");
  EXPECT_EQ(model.window_caption(), "Resource kit ");
  ASSERT_EQ(model.applications().size(), 2U);
  EXPECT_EQ(model.applications()[0].key, "APP1");
  EXPECT_EQ(model.applications()[0].name, "Logo");
  EXPECT_EQ(model.applications()[0].info_tip, "Store logos");
  EXPECT_EQ(model.selected_application(), 0);

  model.previous();
  EXPECT_EQ(model.step(), wizard_step::language);
  EXPECT_FALSE(model.previous_enabled());
  EXPECT_EQ(model.selected_language(), 0);
}

TEST_F(LauncherModelTest, ConfirmingALanguageRemembersItAndTheDefaultOnlyWhenTicked) {
  struct row {
    const char* what;
    bool tick;
    std::string expected_default;
  };
  const std::vector<row> rows = {
      {"unticked leaves DEFAULT alone", false, ""},
      {"ticked sets DEFAULT", true, "English"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    write_file(app_ / "Launcher.INI", kMainIni);
    launcher_model model = started();
    model.select_language(0);
    model.set_set_as_default(r.tick);
    EXPECT_EQ(model.next(), next_outcome::application_step);
    EXPECT_EQ(model.step(), wizard_step::application);
    EXPECT_EQ(main_value("LANGUAGES", "LASTSELECTED"), "English");
    EXPECT_EQ(main_value("LANGUAGES", "DEFAULT"), r.expected_default);

    // English translations replace the Italian ones where English has a key, and only there.
    EXPECT_EQ(model.window_caption(), "Resource kit VX40");
    EXPECT_EQ(model.caption("cmdNext"), "Next >");
    EXPECT_EQ(model.caption("frmChooseApp"), "Scegli il programma");
    ASSERT_EQ(model.applications().size(), 2U);
    EXPECT_EQ(model.selected_application(), 1);  // LASTSELECTED=APP2
  }
}

TEST_F(LauncherModelTest, LeavingTheApplicationTreeRemembersTheSelection) {
  write_file(app_ / "Launcher.INI", "[LANGUAGES]\nDEFAULT=English\nEnglish=English\n");
  launcher_model model = started();
  model.select_application(-1);
  model.application_tree_left();
  EXPECT_EQ(main_value("APPLICATIONS", "LASTSELECTED"), "<missing>");
  model.select_application(1);
  model.application_tree_left();
  EXPECT_EQ(main_value("APPLICATIONS", "LASTSELECTED"), "APP2");
}

// An installed launcher whose folder the user may not write remembers the choices in the user's
// own copy, reads them back from it at the next start, and leaves the installed INI as it was.
// The user is an unprivileged one in a child process (root may write anywhere).
TEST_F(LauncherModelTest, ReadOnlyFolderRemembersChoicesInAPerUserCopy) {
  const std::string installed = read_file(app_ / "Launcher.INI");
  const bool root = ::geteuid() == 0;
  constexpr uid_t kNobody = 65534;
  fs::create_directories(user_);
  if (root) {
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    ASSERT_EQ(::chown(user_.c_str(), kNobody, kNobody), 0);
  } else {
    fs::permissions(app_, fs::perms::owner_write, fs::perm_options::remove);
  }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (root && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(90);
    {
      launcher_model first = started();
      first.select_language(0);  // English
      first.set_set_as_default(true);
      if (first.next() != next_outcome::application_step) ::_exit(91);
      first.select_application(0);
      first.application_tree_left();
    }
    launcher_model second = started();
    // The default language opens the application step, with the remembered application.
    if (second.step() != wizard_step::application) ::_exit(92);
    if (second.selected_application() != 0) ::_exit(93);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  if (!root) fs::permissions(app_, fs::perms::owner_write, fs::perm_options::add);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read_file(app_ / "Launcher.INI"), installed);
  const fs::path copy = user_ / "Launcher.INI";
  EXPECT_EQ(platform::get_profile_string("LANGUAGES", "DEFAULT", "<missing>", copy, 256), "English");
  EXPECT_EQ(platform::get_profile_string("LANGUAGES", "LASTSELECTED", "<missing>", copy, 256), "English");
  EXPECT_EQ(platform::get_profile_string("APPLICATIONS", "LASTSELECTED", "<missing>", copy, 256), "APP1");
}

TEST_F(LauncherModelTest, ToolTipsOverTheApplicationTree) {
  write_file(app_ / "Launcher.INI", "[LANGUAGES]\nDEFAULT=English\nEnglish=English\n");
  launcher_model model = started();
  EXPECT_EQ(model.application_tool_tip(0), "Store logos");
  EXPECT_EQ(model.application_tool_tip(1), "Edit the setup");
  EXPECT_EQ(model.application_tool_tip(-1), "Choose application");
  EXPECT_EQ(model.application_tool_tip(2), "Choose application");
}

// Starts the program of a one-application language INI and returns the model for inspection.
class LauncherStartTest : public LauncherModelTest {
 protected:
  launcher_model with_application(const std::string& sub_dir, const std::string& file_name) {
    write_file(app_ / "Launcher.INI", "[LANGUAGES]\nDEFAULT=English\nEnglish=English\n");
    write_file(app_ / "English.INI",
               "[APP1]\nNAME=Program\nFILENAME=" + file_name + "\nSUBDIR=" + sub_dir + "\n");
    return started();
  }
};

TEST_F(LauncherStartTest, ProgramEndingAtOnceNeverHidesTheLauncher) {
  struct row {
    const char* what;
    std::string sub_dir;
    std::string file_name;
    fs::path actual;  // where the program really is, below the launcher's folder
  };
  const std::vector<row> rows = {
      {"plain", "Tools", "run.sh", "Tools/run.sh"},
      {"a SUBDIR with spaces, passed unquoted", "My Tools", "run me.sh", "My Tools/run me.sh"},
      {"backslashes become folders", "Tools\\Sub", "run.sh", "Tools/Sub/run.sh"},
      {"names found case-insensitively", "TOOLS", "RUN.SH", "Tools/run.sh"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    const fs::path program = app_ / r.actual;
    write_program(program);
    fs::remove(program.parent_path() / "ran");
    launcher_model model = with_application(r.sub_dir, r.file_name);
    EXPECT_EQ(model.next(), next_outcome::ended_at_once);
    EXPECT_FALSE(model.application_running());
    // It ran in the launcher's own current folder, not its own.
    EXPECT_EQ(read_file(program.parent_path() / "ran"), fs::current_path().string());
  }
}

TEST_F(LauncherStartTest, RunningProgramIsWaitedForUntilItEnds) {
  const fs::path program = app_ / "Tools" / "slow.sh";
  write_program(program, /*wait_for_release=*/true);
  launcher_model model = with_application("Tools", "slow.sh");

  EXPECT_EQ(model.next(), next_outcome::running);
  EXPECT_TRUE(model.application_running());
  EXPECT_TRUE(model.poll_application());
  // A second "Next >" while it runs starts nothing.
  EXPECT_EQ(model.next(), next_outcome::nothing);

  write_file(program.parent_path() / "release", "");
  EXPECT_TRUE(wait_until_ended(model));
  EXPECT_FALSE(model.application_running());
  EXPECT_FALSE(model.poll_application());
  EXPECT_EQ(model.step(), wizard_step::application);  // ready for the next choice
}

TEST_F(LauncherStartTest, FailingStartGivesTheErrorMessage) {
  struct row {
    const char* what;
    std::string sub_dir;
    std::string file_name;
    std::string expected_tail;  // the message after "Error "
  };
  const std::vector<row> rows = {
      {"missing program", "No Such Dir", "nothere", "2 creating process %/No Such Dir/nothere"},
      {"no FILENAME names the folder", "Tools", "", "13 creating process %/Tools/"},
  };
  fs::create_directories(app_ / "Tools");
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    launcher_model model = with_application(r.sub_dir, r.file_name);
    EXPECT_EQ(model.next(), next_outcome::start_failed);
    std::string expected = "Error " + r.expected_tail;
    expected.replace(expected.find('%'), 1, app_.string());
    EXPECT_EQ(model.message(), expected);
    EXPECT_FALSE(model.application_running());
  }
}

// The shipped kit folder works: both languages are complete and every program starts its tool.
TEST(ShippedExamples, EveryLanguageOffersWorkingPrograms) {
  platform::testing::temp_dir dir;
  fs::copy(KIT_EXAMPLES_DIR "/launcher", dir.path(), fs::copy_options::recursive);
  // Stand-ins for the kit's tools record how they were called.
  const fs::path bin = dir / "bin";
  write_file(bin / "oposreg", "#!/bin/sh\necho \"oposreg $*\" > \"$(dirname \"$0\")/called\"\n");
  write_file(bin / "regsvr", "#!/bin/sh\necho \"regsvr $*\" > \"$(dirname \"$0\")/called\"\n");
  fs::permissions(bin / "oposreg", fs::perms::owner_all);
  fs::permissions(bin / "regsvr", fs::perms::owner_all);
  setenv("POSKIT_BIN", bin.c_str(), 1);

  const std::vector<std::string> expected_calls = {
      "oposreg export HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS",
      "oposreg --help",
      "regsvr --help",
  };
  for (int language = 0; language < 2; ++language) {
    launcher_model model(dir / "Launcher", "Launcher");
    model.start();
    EXPECT_FALSE(model.logo_picture().empty());
    EXPECT_FALSE(model.printer_picture().empty());
    ASSERT_EQ(model.languages(), (std::vector<std::string>{"English", "Italiano"}));
    model.select_language(language);
    SCOPED_TRACE(model.languages()[static_cast<std::size_t>(language)]);
    ASSERT_EQ(model.next(), next_outcome::application_step);
    EXPECT_NE(model.window_caption().find("VX40"), std::string::npos);
    ASSERT_EQ(model.applications().size(), expected_calls.size());
    for (std::size_t i = 0; i < expected_calls.size(); ++i) {
      EXPECT_FALSE(model.applications()[i].info_tip.empty());
      fs::remove(bin / "called");
      model.select_application(static_cast<int>(i));
      const next_outcome outcome = model.next();
      ASSERT_NE(outcome, next_outcome::start_failed) << model.message();
      const auto deadline = std::chrono::steady_clock::now() + kGenerous;
      while (model.poll_application() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      EXPECT_EQ(read_file(bin / "called"), expected_calls[i]);
    }
  }
  unsetenv("POSKIT_BIN");
}

}  // namespace
}  // namespace launcher
