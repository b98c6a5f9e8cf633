// PrnForm's model over a scripted printer: upload (version, checksum with NAK and CAN, header,
// format), options and label editing, refresh, download with both answers, and closing.
#include "memory/prn_form.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_setup_printer.h"

namespace {

using memory::download_outcome;
using memory::prn_form_change;
using memory::prn_form_model;
using memory::upload_outcome;
using memory_test::fake_channel;
using memory_test::printer_script;
using memory_test::recording_ui;
using memory_test::setup_block;

constexpr char kBody[] = "12$PRN!Comm:[9600;19200;1|Speed=1F\xB2]Shop:[Name\xB1" "Corner\xAA" "Copies\xB1" "1\xB9]";
const std::string kMemoryRequest(memory::kMemorySetupRequest);
const std::string kFullRequest(memory::kFullSetupRequest);

class PrnFormTest : public ::testing::Test {
 protected:
  // A window on a printer that sends `blocks` in turn, under executable name `exe`.
  void open_window(std::vector<std::string> blocks, const std::string& exe = "MEMORY", const std::string& tag = "COM1") {
    script_->blocks = std::move(blocks);
    link_.set_channel(platform::make_object<fake_channel>(script_));
    memory::prn_form_environment env;
    env.exe_name = exe;
    env.model = "VX40";
    env.printer_tag = tag;
    form_ = std::make_unique<prn_form_model>(ui_, link_, env);
    form_->set_listener([this](prn_form_change c, const std::string& key) { changes_.emplace_back(c, key); });
    form_->load();
  }
  // Opens the window on the standard block and runs the upload.
  void upload_good(const std::string& exe = "MEMORY", const std::string& tag = "COM1") {
    open_window({setup_block(memory::request_command_for(exe), kBody)}, exe, tag);
    form_->activate();
    ASSERT_EQ(form_->last_upload(), upload_outcome::tree_built) << form_->format_problem();
  }
  bool closed_by(prn_form_change c) const {
    return !changes_.empty() && changes_.back().first == c;
  }

  std::shared_ptr<printer_script> script_ = std::make_shared<printer_script>();
  recording_ui ui_;
  utilities::printer_link link_{ui_};
  std::unique_ptr<prn_form_model> form_;
  std::vector<std::pair<prn_form_change, std::string>> changes_;
};

TEST_F(PrnFormTest, UploadShowsVersionsIdentifierAndTree) {
  open_window({setup_block(kMemoryRequest, kBody)});
  EXPECT_EQ(form_->caption(), "Quorel - Memory VX40");
  EXPECT_EQ(ui_.panel(memory::kPanelStatus), "Initializing...");
  EXPECT_TRUE(ui_.busy);
  form_->activate();
  EXPECT_EQ(form_->last_upload(), upload_outcome::tree_built);
  EXPECT_EQ(script_->writes, (std::vector<std::string>{"\x1d\x49\x41", kMemoryRequest, "\x06"}));
  EXPECT_EQ(ui_.panel(memory::kPanelFirmware), "FW 1.02");
  EXPECT_EQ(ui_.panel(memory::kPanelBoot), "BOOT B0.90");
  EXPECT_EQ(ui_.panel(memory::kPanelIdentifier), "12");
  EXPECT_EQ(ui_.panel_texts(memory::kPanelStatus),
            (std::vector<std::string>{"Initializing...", "Uploading data...", "Formatting data...", "Ready..."}));
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_FALSE(ui_.busy);
  EXPECT_TRUE(form_->download_enabled());
  EXPECT_FALSE(script_->open);
  EXPECT_EQ(form_->tree().nodes().size(), 8u);
  EXPECT_EQ(form_->tree().find("PRN\\Comm\\19200")->image, "COption");
  // A later activation does not upload again.
  form_->activate();
  EXPECT_EQ(script_->writes.size(), 3u);
}

TEST_F(PrnFormTest, VersionQueryOfTheSecondProtocolKind) {
  script_->protocol_kind = 2;
  open_window({setup_block(kMemoryRequest, kBody)});
  form_->activate();
  EXPECT_EQ(form_->last_upload(), upload_outcome::tree_built);
  EXPECT_EQ(script_->writes.front(), "\x1b\x3f\x32");
  EXPECT_EQ(form_->firmware_version(), "1.02");
  EXPECT_EQ(form_->boot_version(), "B0.90");
}

TEST_F(PrnFormTest, ChecksumWrongOnceGetsNakThenAck) {
  open_window({setup_block(kMemoryRequest, kBody, 0x1234), setup_block(kMemoryRequest, kBody)});
  form_->activate();
  EXPECT_EQ(form_->last_upload(), upload_outcome::tree_built);
  EXPECT_EQ(script_->writes, (std::vector<std::string>{"\x1d\x49\x41", kMemoryRequest, "\x15", "\x06"}));
  EXPECT_FALSE(form_->tree().empty());
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(PrnFormTest, ChecksumWrongTwiceSendsCanAndCloses) {
  const std::string bad = setup_block(kMemoryRequest, kBody, 0x1234);
  std::string not_hex = bad;
  not_hex.replace(not_hex.size() - 5, 4, "12G4");  // an unreadable field counts as a wrong one
  open_window({bad, not_hex});
  form_->activate();
  EXPECT_EQ(form_->last_upload(), upload_outcome::checksum_failed);
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"Data checksum error."}));
  EXPECT_EQ(script_->writes, (std::vector<std::string>{"\x1d\x49\x41", kMemoryRequest, "\x15", "\x18"}));
  EXPECT_TRUE(form_->closed());
  EXPECT_TRUE(closed_by(prn_form_change::closed));
  EXPECT_FALSE(link_.has_channel());
  EXPECT_FALSE(ui_.busy);
}

TEST_F(PrnFormTest, HeaderMismatchLeavesAnEmptyTree) {
  open_window({setup_block(kFullRequest, kBody)});  // the memory editor gets the full setup's echo
  form_->activate();
  EXPECT_EQ(form_->last_upload(), upload_outcome::header_mismatch);
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"Data header does not match."}));
  EXPECT_TRUE(form_->tree().empty());
  EXPECT_FALSE(form_->download_enabled());
  EXPECT_FALSE(form_->closed());
  EXPECT_EQ(ui_.panel(memory::kPanelStatus), "Ready...");
  EXPECT_EQ(script_->writes.back(), "\x06");  // the checksum was right
}

TEST_F(PrnFormTest, BadFormatKeepsTheNodesBuiltSoFar) {
  open_window({setup_block(kMemoryRequest, "1$R!F:[a;b;5|]")});
  form_->activate();
  EXPECT_EQ(form_->last_upload(), upload_outcome::bad_format);
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"Bad data format."}));
  EXPECT_EQ(form_->tree().nodes().size(), 4u);
  EXPECT_FALSE(form_->download_enabled());
  EXPECT_FALSE(form_->closed());
  EXPECT_EQ(ui_.panel(memory::kPanelStatus), "Ready...");
  EXPECT_FALSE(ui_.busy);
  EXPECT_EQ(form_->download(), download_outcome::none);  // the menu stays disabled
}

TEST_F(PrnFormTest, FailedUploadStepsShowTheChannelErrorAndClose) {
  struct fail_case {
    const char* op;
    int nth;  // fails the nth call of op (from 1)
  };
  const fail_case cases[] = {{"OpenIO", 1}, {"WriteIO", 1}, {"ReadAnswer", 1}, {"WriteIO", 2}, {"ReadAnswer", 2}};
  for (const fail_case& c : cases) {
    script_ = std::make_shared<printer_script>();
    ui_.messages.clear();
    auto calls = std::make_shared<int>(0);
    script_->fault = [c, calls](const std::string& op) -> std::int32_t {
      return op == c.op && ++*calls == c.nth ? 0x80004005 - 0x100000000LL : 0;
    };
    open_window({setup_block(kMemoryRequest, kBody)});
    form_->activate();
    EXPECT_EQ(form_->last_upload(), upload_outcome::channel_error) << c.op << c.nth;
    EXPECT_EQ(ui_.messages, (std::vector<std::string>{
                                "Raise error -2147467259 from the printer.\r\nExtended error description: The printer went away."}))
        << c.op << c.nth;
    EXPECT_TRUE(form_->closed()) << c.op << c.nth;
  }
  // A block that never comes: the time-out is a channel error too.
  script_ = std::make_shared<printer_script>();
  ui_.messages.clear();
  open_window({});
  form_->activate();
  EXPECT_EQ(form_->last_upload(), upload_outcome::channel_error);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_TRUE(ui_.messages[0].starts_with("Raise error -2147221399 from the printer.")) << ui_.messages[0];
}

TEST_F(PrnFormTest, VersionAnswerWithoutTwoDollarsFailsTheUpload) {
  script_->version = "_1.02$";
  open_window({setup_block(kMemoryRequest, kBody)});
  form_->activate();
  EXPECT_EQ(form_->last_upload(), upload_outcome::bad_version);
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"Unrecognized version answer from printer."}));
  EXPECT_TRUE(form_->closed());
}

TEST_F(PrnFormTest, SpaceAndIconClickMoveTheSelection) {
  upload_good();
  const memory::setup_tree& tree = form_->tree();
  // On a value or on the selected option, space does nothing and is not consumed.
  for (const char* key : {"PRN\\Comm\\Speed", "PRN\\Comm\\19200", "PRN\\Comm", "PRN"}) {
    form_->select(key);
    EXPECT_FALSE(form_->key_press(memory::kKeySpace)) << key;
  }
  form_->select("PRN\\Comm\\9600");
  EXPECT_FALSE(form_->key_press('a'));
  EXPECT_EQ(tree.find("PRN\\Comm\\9600")->image, "UOption");
  EXPECT_TRUE(form_->key_press(memory::kKeySpace));
  EXPECT_EQ(tree.find("PRN\\Comm\\9600")->image, "COption");
  EXPECT_EQ(tree.find("PRN\\Comm\\19200")->image, "UOption");
  // The left button released over the icon of an unselected option moves it back; over the label it does not.
  form_->select("PRN\\Comm\\19200");
  form_->mouse_up(true, 0x04);
  EXPECT_EQ(tree.find("PRN\\Comm\\19200")->image, "UOption");
  form_->mouse_up(false, memory::kHitOnItemIcon);
  EXPECT_EQ(tree.find("PRN\\Comm\\19200")->image, "UOption");
  form_->mouse_up(true, memory::kHitOnItemIcon);
  EXPECT_EQ(tree.find("PRN\\Comm\\19200")->image, "COption");
  EXPECT_EQ(tree.find("PRN\\Comm\\9600")->image, "UOption");
}

TEST_F(PrnFormTest, LabelEditingRules) {
  upload_good();
  EXPECT_FALSE(form_->before_label_edit("PRN\\Comm\\Speed").allowed);  // read-only number
  EXPECT_FALSE(form_->before_label_edit("PRN\\Comm").allowed);
  const memory::edit_field name = form_->before_label_edit("PRN\\Shop\\Name");
  EXPECT_TRUE(name.allowed);
  EXPECT_EQ(name.initial, "Corner");
  EXPECT_FALSE(form_->type_in_edit(name, U'|', 0));
  EXPECT_EQ(ui_.beeps, 1);
  EXPECT_TRUE(form_->type_in_edit(name, U'x', 0));
  const memory::edit_field copies = form_->before_label_edit("PRN\\Shop\\Copies");
  EXPECT_EQ(copies.initial, "1");
  EXPECT_FALSE(form_->type_in_edit(copies, U'2', 0));
  EXPECT_EQ(ui_.beeps, 2);
  EXPECT_TRUE(form_->type_in_edit(copies, U'0', 0));
  EXPECT_FALSE(form_->paste_in_edit("a=b"));
  EXPECT_EQ(ui_.beeps, 3);
  EXPECT_TRUE(form_->paste_in_edit("Main Street"));
  // An empty text cancels; another one becomes the label after the name and "=".
  EXPECT_FALSE(form_->after_label_edit("PRN\\Shop\\Name", ""));
  EXPECT_EQ(form_->tree().find("PRN\\Shop\\Name")->text, "Name=Corner");
  EXPECT_TRUE(form_->after_label_edit("PRN\\Shop\\Name", "Main Street"));
  EXPECT_EQ(form_->tree().find("PRN\\Shop\\Name")->text, "Name=Main Street");
  EXPECT_EQ(changes_.back(), std::make_pair(prn_form_change::node_changed, std::string("PRN\\Shop\\Name")));
  EXPECT_FALSE(form_->after_label_edit("PRN\\Comm\\Speed", "5"));  // refused before the edit
}

TEST_F(PrnFormTest, RootShowsItsStateImageWhenCollapsedAndExpanded) {
  upload_good();
  EXPECT_EQ(form_->collapse("PRN"), memory::kStateBlank);
  EXPECT_FALSE(form_->tree().find("PRN")->expanded);
  EXPECT_EQ(form_->expand("PRN"), memory::kStateCFolder);
  EXPECT_EQ(form_->expand("PRN\\Comm"), 0);  // a folder has its own expanded image
  EXPECT_TRUE(form_->tree().find("PRN\\Comm")->expanded);
}

TEST_F(PrnFormTest, DownloadSendsTheEditedChoices) {
  upload_good();
  form_->select("PRN\\Comm\\9600");
  form_->key_press(memory::kKeySpace);
  form_->after_label_edit("PRN\\Shop\\Name", "Main");
  form_->after_label_edit("PRN\\Shop\\Copies", "0");
  script_->writes.clear();
  script_->download_answers = {"\x06", "\x06"};
  EXPECT_EQ(form_->download(), download_outcome::stored);
  const std::string sent = "12$0|31|Main|0|";
  ASSERT_EQ(script_->writes.size(), 1u);
  EXPECT_EQ(script_->writes[0], std::string("\x1b\x7d\x6d") + sent + memory::checksum_digits(memory::body_checksum(sent)) +
                                    std::string(1, '\0'));
  EXPECT_EQ(ui_.panel_texts(memory::kPanelStatus).back(), "Ready...");
  EXPECT_TRUE(ui_.messages.empty());  // MEMORY says nothing on success
  EXPECT_TRUE(form_->closed());
  EXPECT_FALSE(script_->open);
}

TEST_F(PrnFormTest, DownloadAnswersAndTheirMessages) {
  struct answer_case {
    const char* exe;
    const char* tag;
    std::deque<std::string> answers;
    download_outcome outcome;
    const char* message;  // "" : none
  };
  const answer_case cases[] = {
      {"MEMORY", "COM1", {"\x06", "\x06"}, download_outcome::stored, ""},
      {"SETUP", "192.168.0.5-9100", {"\x06", "\x06"}, download_outcome::stored,
       "New setup has been downloaded correctly.\r\nPlease verify printer settings."},
      {"Setup", "COM1", {"\x06", "\x06"}, download_outcome::stored,
       "New setup has been downloaded correctly.\r\nIf you have modified any transmission parameter, please run the "
       "\"Printer configuration tool\" and make the same settings."},
      {"MEMORY", "COM1", {"\x15"}, download_outcome::checksum_error, "Checksum error from printer."},
      {"MEMORY", "COM1", {"\x06", "\x15"}, download_outcome::id_mismatch, "PrinterID/Release does not match."},
      {"SETUP", "COM1", {"\x06", "\x07"}, download_outcome::memorization_failed, "Memorization failed."},
      {"MEMORY", "COM1", {"A"}, download_outcome::unrecognized, "Unrecognized answer from printer."},
      {"MEMORY", "COM1", {"\x06", "\x18"}, download_outcome::unrecognized, "Unrecognized answer from printer."},
  };
  for (const answer_case& c : cases) {
    script_ = std::make_shared<printer_script>();
    ui_.messages.clear();
    upload_good(c.exe, c.tag);
    script_->download_answers = c.answers;
    EXPECT_EQ(form_->download(), c.outcome) << c.exe << " " << c.answers.size();
    EXPECT_EQ(ui_.messages, c.message[0] == '\0' ? std::vector<std::string>{} : std::vector<std::string>{c.message})
        << c.exe << " " << c.answers.size();
    EXPECT_TRUE(form_->closed());
    EXPECT_FALSE(link_.has_channel());
    EXPECT_EQ(script_->writes.back().substr(0, 3),
              memory::is_full_setup_program(c.exe) ? "\x1b\x7d\x61" : "\x1b\x7d\x6d");
  }
}

TEST_F(PrnFormTest, SecondAnswerTimeOutAsksToRetry) {
  upload_good();
  script_->download_answers = {"\x06", "", "", "\x07"};  // two time-outs, then the answer
  ui_.answers = {utilities::box_answer::retry, utilities::box_answer::retry};
  EXPECT_EQ(form_->download(), download_outcome::memorization_failed);
  EXPECT_EQ(ui_.questions, (std::vector<std::string>(2, "Timeout waiting answer from printer.\rRetry?")));
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"Memorization failed."}));

  // Cancel closes the window without a message.
  script_ = std::make_shared<printer_script>();
  ui_.messages.clear();
  ui_.questions.clear();
  upload_good();
  script_->download_answers = {"\x06", ""};
  EXPECT_EQ(form_->download(), download_outcome::cancelled);
  EXPECT_EQ(ui_.questions.size(), 1u);
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_TRUE(form_->closed());
  EXPECT_FALSE(ui_.busy);
}

TEST_F(PrnFormTest, DownloadChannelErrorsShowTheRecord) {
  // A time-out of the first answer is a channel error, not a question.
  upload_good();
  script_->download_answers = {""};
  EXPECT_EQ(form_->download(), download_outcome::channel_error);
  EXPECT_TRUE(ui_.questions.empty());
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{
                              "Raised error -2147221399 from the printer.\r\nExtended error description: No answer within "
                              "the time-out."}));
  EXPECT_TRUE(form_->closed());

  script_ = std::make_shared<printer_script>();
  ui_.messages.clear();
  upload_good();
  script_->fault = [](const std::string& op) -> std::int32_t { return op == "OpenIO" ? 7 : 0; };
  EXPECT_EQ(form_->download(), download_outcome::channel_error);
  EXPECT_EQ(ui_.messages,
            (std::vector<std::string>{"Raised error 7 from the printer.\r\nExtended error description: The printer went away."}));
}

TEST_F(PrnFormTest, RefreshUploadsAgain) {
  upload_good();
  script_->blocks.push_back(setup_block(kMemoryRequest, "13$NEW!F:[a;0|]"));
  changes_.clear();
  form_->refresh();
  EXPECT_EQ(changes_.front().first, prn_form_change::state);
  EXPECT_NE(std::find(changes_.begin(), changes_.end(), std::make_pair(prn_form_change::tree_cleared, std::string())),
            changes_.end());
  EXPECT_EQ(form_->identifier(), "13");
  EXPECT_NE(form_->tree().find("NEW\\F\\a"), nullptr);
  EXPECT_EQ(form_->tree().find("PRN"), nullptr);
  EXPECT_TRUE(form_->download_enabled());
}

TEST_F(PrnFormTest, CloseRequestWhileBusySetsEndReq) {
  open_window({setup_block(kMemoryRequest, kBody)});
  bool refused = false;
  form_->set_listener([&](prn_form_change c, const std::string&) {
    // The user closes the window while the block is being read.
    if (c == prn_form_change::state && form_->state() == memory::prn_form_state::uploading) {
      refused = !form_->query_unload();
    }
  });
  form_->activate();
  EXPECT_TRUE(refused);
  EXPECT_TRUE(form_->end_req());
  EXPECT_EQ(form_->last_upload(), upload_outcome::tree_built);
  EXPECT_TRUE(form_->closed());  // the upload finished, then the window closed
  EXPECT_FALSE(form_->activated());
}

TEST_F(PrnFormTest, ApplySettingByPath) {
  upload_good();
  struct setting_case {
    const char* path;
    const char* value;
    bool ok;
  };
  const setting_case cases[] = {
      {"PRN\\Comm", "9600", true},        {"PRN\\Comm", "4800", false},
      {"PRN\\Shop\\Name", "Main", true},   {"PRN\\Shop\\Name", "a;b", false},
      {"PRN\\Shop\\Copies", "0", true},    {"PRN\\Shop\\Copies", "1", false},
      {"PRN\\Comm\\Speed", "5", false},    {"PRN\\Nowhere", "1", false},
      {"PRN\\Comm\\9600", "", false},
  };
  for (const setting_case& c : cases) {
    EXPECT_EQ(form_->apply_setting(c.path, c.value).empty(), c.ok) << c.path << "=" << c.value;
  }
  EXPECT_EQ(form_->tree().find("PRN\\Comm\\9600")->image, "COption");
  EXPECT_EQ(form_->tree().find("PRN\\Comm\\19200")->image, "UOption");
  EXPECT_EQ(form_->tree().find("PRN\\Shop\\Name")->text, "Name=Main");
  EXPECT_EQ(form_->tree().find("PRN\\Shop\\Copies")->text, "Copies=0");
}

}  // namespace
