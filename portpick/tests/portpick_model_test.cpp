// Tests of the port-selection model against fake sysfs trees and a private registry: the
// command-line check, the port list, the answers, the USB printer lookup and the information.
#include "portpick/portpick_model.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fake_system.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"

namespace portpick {
namespace {

namespace fs = std::filesystem;
using platform::registry_key;
using platform::registry_root;

constexpr std::uint16_t kVendor = 0x4B52;

// Message boxes that record what they were asked to show.
class recorded_boxes : public message_boxes {
 public:
  void critical(const std::string& text) override { shown.push_back("critical: " + text); }
  void warning(const std::string& text) override { shown.push_back("warning: " + text); }
  void information(const std::string& text) override { shown.push_back("information: " + text); }
  std::vector<std::string> shown;
};

// The string values of a key, by name; empty when the key does not exist.
std::map<std::string, std::string> values_of(registry_root root, std::string_view path) {
  std::map<std::string, std::string> values;
  registry_key key;
  if (registry_key::open(root, path, key) != platform::kErrorSuccess) return values;
  std::string name;
  for (std::uint32_t i = 0; key.enum_value(i, name) == platform::kErrorSuccess; ++i) {
    std::string value;
    EXPECT_EQ(key.query_string(name, value), platform::kErrorSuccess) << name;
    values[name] = value;
  }
  return values;
}

std::map<std::string, std::string> answers() { return values_of(registry_root::current_user, kSettingsKey); }

std::string transport_of(const std::string& port) {
  return values_of(registry_root::local_machine, std::string(kPortsKey) + "\\" + port)["Transport"];
}

class PortpickModelTest : public ::testing::Test {
 protected:
  PortpickModelTest() {
    fake_.set_version("6.1.0-18-amd64", "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
  }

  // Starts a model on the fake system with `command`.
  portpick_model& start(std::string_view command, bool expect_started = true) {
    model_ = std::make_unique<portpick_model>(system_, boxes_, kVendor);
    EXPECT_EQ(model_->start(command), expect_started) << command;
    return *model_;
  }

  std::vector<std::string> port_texts() const {
    std::vector<std::string> texts;
    for (const port_entry& entry : model_->ports()) texts.push_back(entry.text);
    return texts;
  }

  void choose(const std::string& text) {
    const std::vector<std::string> texts = port_texts();
    const auto at = std::find(texts.begin(), texts.end(), text);
    ASSERT_NE(at, texts.end()) << text;
    model_->select_port(static_cast<int>(at - texts.begin()));
  }

  std::string shown_port() const {
    return model_->selected_port() < 0 ? "<none>" : model_->ports()[static_cast<std::size_t>(model_->selected_port())].text;
  }

  platform::testing::scoped_registry_dir registry_;
  platform::testing::temp_dir dir_;
  platform::testing::fake_system fake_{dir_.path()};
  platform::system_ports system_{dir_.path()};
  recorded_boxes boxes_;
  std::unique_ptr<portpick_model> model_;
};

TEST_F(PortpickModelTest, CommandLineIsCheckedBeforeAnythingIsShown) {
  const struct {
    const char* command;
    bool accepted;
    const char* letters;
    int product_id;
    const char* message;
  } cases[] = {
      {"abcd101", true, "ABCD", 101, ""},
      {"D007", true, "D", 7, ""},
      {" abcde202 ", true, "ABCDE", 202, ""},  // spaces around the argument
      {"X001", false, "X", 1, "critical: Selection component error! X"},
      {"DA101", false, "DA", 101, "critical: Selection component error! DA"},
      {"ABCDEF101", false, "ABCDEF", 101, "critical: Selection component error! ABCDEF"},
      {"101", false, "", 101, "critical: Selection component error! "},
      // Without three digits at the end there is no product identifier to look for.
      {"ABCD", false, "ABCD", 0, "critical: Selection component error! ABCD"},
      {"AB1O1", false, "AB1O1", 0, "critical: Selection component error! AB1O1"},
      {"", false, "", 0, "critical: Command line is empty!"},
      {"   ", false, "", 0, "critical: Command line is empty!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    boxes_.shown.clear();
    portpick_model& model = start(c.command, c.accepted);
    if (c.accepted) {
      EXPECT_TRUE(boxes_.shown.empty());
      EXPECT_EQ(model.command().letters, c.letters);
      EXPECT_EQ(model.command().product_id, c.product_id);
      EXPECT_FALSE(model.ports().empty());
    } else {
      EXPECT_EQ(boxes_.shown, std::vector<std::string>{c.message});
      EXPECT_TRUE(model.ports().empty());
    }
  }
  EXPECT_TRUE(answers().empty()) << "nothing is written before the user answers";
}

TEST_F(PortpickModelTest, PortListFollowsTheSystem) {
  const struct {
    const char* what;
    std::function<void(platform::testing::fake_system&)> setup;
    std::vector<std::string> ports;
    const char* shown;
  } cases[] = {
      {"serial ports, USB adapters and a fourth parallel port",
       [](auto& fake) {
         fake.add_uart(0, 4);
         fake.add_uart(1, 0);
         fake.add_uart(2, 4);
         fake.add_usb_serial("ttyUSB0", "1-2", "FT232R USB UART", "ftdi_sio");
         fake.add_parallel(0, true);
         fake.add_parallel(3, true);
       },
       {"COM1:", "COM3:", "COM4:", "USB", "LPT1:", "LPT2:", "LPT3:", "LPT4:"},
       "COM3:"},
      {"no serial ports",
       [](auto& fake) {
         for (int n = 0; n < 4; ++n) fake.add_uart(n, 0);
       },
       {"USB", "LPT1:", "LPT2:", "LPT3:"},
       "LPT1:"},
      {"no USB bus: no USB entry",
       [](auto& fake) {
         fake.add_uart(0, 4);
         fake.remove("sys/bus/usb");
       },
       {"COM1:", "LPT1:", "LPT2:", "LPT3:"},
       "LPT1:"},
      {"no sysfs: the fixed lists",
       [](auto& fake) { fake.remove("sys"); },
       {"COM1:", "COM2:", "COM3:", "COM4:", "COM5:", "COM6:", "COM7:", "COM8:", "COM9:", "USB001", "USB002",
        "USB003", "LPT1:", "LPT2:", "LPT3:"},
       "COM2:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const platform::testing::temp_dir dir;
    platform::testing::fake_system fake(dir.path());
    c.setup(fake);
    const platform::system_ports system(dir.path());
    portpick_model model(system, boxes_, kVendor);
    ASSERT_TRUE(model.start("AB101"));
    std::vector<std::string> texts;
    for (const port_entry& entry : model.ports()) texts.push_back(entry.text);
    EXPECT_EQ(texts, c.ports);
    ASSERT_GE(model.selected_port(), 0);
    EXPECT_EQ(model.ports()[static_cast<std::size_t>(model.selected_port())].text, c.shown);
  }
}

TEST_F(PortpickModelTest, AggiornaShowsPortsThatAppeared) {
  start("AB101");
  EXPECT_EQ(port_texts(), (std::vector<std::string>{"USB", "LPT1:", "LPT2:", "LPT3:"}));
  fake_.add_usb_serial("ttyACM0", "1-2", "CDC printer", "cdc_acm");
  model_->refresh();
  EXPECT_EQ(port_texts(), (std::vector<std::string>{"COM1:", "USB", "LPT1:", "LPT2:", "LPT3:"}));
  EXPECT_EQ(shown_port(), "USB");
}

TEST_F(PortpickModelTest, NextWritesTheChosenPortAndItsTransport) {
  fake_.add_uart(0, 4);
  fake_.add_uart(2, 4);
  fake_.add_usb_serial("ttyUSB0", "1-2", "FT232R USB UART", "ftdi_sio");
  const struct {
    const char* shown;
    const char* application_port;
    const char* transport;
  } cases[] = {
      {"LPT2:", "LPT2", "parallel:/dev/lp1"},
      {"COM3:", "COM3", "serial:/dev/ttyS2"},
      {"COM4:", "COM4", "serial:/dev/ttyUSB0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    boxes_.shown.clear();
    start("ABCD101");
    choose(c.shown);
    EXPECT_EQ(model_->next(), next_outcome::ended);
    EXPECT_TRUE(boxes_.shown.empty());
    EXPECT_EQ(answers(), (std::map<std::string, std::string>{
                             {"Direction", "N"}, {"ApplicationPort", c.application_port}, {"WinDriverPort", c.shown}}));
    EXPECT_EQ(transport_of(c.application_port), c.transport);
  }
}

TEST_F(PortpickModelTest, ConfiguredTransportOfTheSameDeviceKeepsItsLineSettings) {
  fake_.add_uart(0, 4);
  fake_.add_uart(1, 4);
  registry_key key;
  ASSERT_EQ(registry_key::create(registry_root::local_machine, std::string(kPortsKey) + "\\COM1", key), 0);
  ASSERT_EQ(key.set_string("Transport", "serial:/dev/ttyS0?baud=19200"), 0);
  ASSERT_EQ(registry_key::create(registry_root::local_machine, std::string(kPortsKey) + "\\COM2", key), 0);
  ASSERT_EQ(key.set_string("Transport", "socket://192.0.2.7:9100"), 0);

  for (const char* shown : {"COM1:", "COM2:"}) {
    start("A101");
    choose(shown);
    EXPECT_EQ(model_->next(), next_outcome::ended);
  }
  EXPECT_EQ(transport_of("COM1"), "serial:/dev/ttyS0?baud=19200");
  EXPECT_EQ(transport_of("COM2"), "serial:/dev/ttyS1");  // what the list showed for COM2:
}

TEST_F(PortpickModelTest, UsbWithoutTheDriverBecomesUsb001) {
  start("ABC101");
  choose("USB");
  EXPECT_EQ(model_->next(), next_outcome::ended);
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_EQ(port_texts(), (std::vector<std::string>{"USB001", "LPT1:", "LPT2:", "LPT3:"}));
  EXPECT_EQ(shown_port(), "USB001");
  EXPECT_EQ(answers(), (std::map<std::string, std::string>{
                           {"Direction", "N"}, {"ApplicationPort", "USB001"}, {"WinDriverPort", "USB001"}}));
  EXPECT_EQ(transport_of("USB001"), "usblp:/dev/usb/lp0");
}

TEST_F(PortpickModelTest, UsbWithTheDriverAndNoPrinterWarnsAndStays) {
  // Printers that do not count: another maker's model 101, and the maker's model 102.
  fake_.add_usb_printer(0, "1-3", 0x04B8, 101);
  fake_.add_usb_printer(1, "1-4", kVendor, 102);
  start("abcd101");
  choose("USB");
  EXPECT_EQ(model_->next(), next_outcome::stays);
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"information: " + std::string(kConnectPrinter)});
  EXPECT_EQ(answers(), (std::map<std::string, std::string>{
                           {"Direction", "N"}, {"ApplicationPort", "USB"}, {"WinDriverPort", "USB"}}));
  registry_key ports;
  EXPECT_EQ(registry_key::open(registry_root::local_machine, kPortsKey, ports), platform::kErrorFileNotFound);
  EXPECT_EQ(port_texts(), (std::vector<std::string>{"USB", "LPT1:", "LPT2:", "LPT3:"}));
  EXPECT_EQ(shown_port(), "USB");

  // The user connects the printer and presses "Next" again.
  fake_.add_usb_printer(2, "1-5", kVendor, 101);
  EXPECT_EQ(model_->next(), next_outcome::ended);
  EXPECT_EQ(shown_port(), "USB003");
  EXPECT_EQ(answers()["WinDriverPort"], "USB003");
  EXPECT_EQ(transport_of("USB003"), "usblp:/dev/usb/lp2");
}

TEST_F(PortpickModelTest, UsbPrintersFoundReplaceTheUsbEntryAndTheLastIsTheAnswer) {
  fake_.add_uart(0, 4);
  fake_.add_usb_printer(0, "1-3", kVendor, 101);
  fake_.add_usb_printer(1, "1-4", 0x04B8, 101);
  fake_.add_usb_printer(3, "1-6", kVendor, 101);
  start("ABCDE101");
  choose("USB");
  EXPECT_EQ(model_->next(), next_outcome::ended);
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_EQ(port_texts(), (std::vector<std::string>{"COM1:", "USB001", "USB004", "LPT1:", "LPT2:", "LPT3:"}));
  EXPECT_EQ(shown_port(), "USB004");
  EXPECT_EQ(answers(), (std::map<std::string, std::string>{
                           {"Direction", "N"}, {"ApplicationPort", "USB004"}, {"WinDriverPort", "USB004"}}));
  EXPECT_EQ(transport_of("USB004"), "usblp:/dev/usb/lp3");
  EXPECT_EQ(transport_of("USB001"), "") << "only the answer's port is configured";
}

TEST_F(PortpickModelTest, UsbLookupErrorIsReportedAndTheDialogStays) {
  fake_.add_usb_printer(0, "1-3", kVendor, 101);
  fs::remove(dir_ / "sys/devices/usb/1-3/idProduct");
  fs::create_directory(dir_ / "sys/devices/usb/1-3/idProduct");  // cannot be read
  start("D101");
  choose("USB");
  EXPECT_EQ(model_->next(), next_outcome::stays);
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"warning: Error" + std::to_string(EISDIR) +
                                                   " searching connected USB printers."});
  EXPECT_EQ(shown_port(), "USB");
}

TEST_F(PortpickModelTest, ExitInstallationWritesOnlyTheDirection) {
  start("A101");
  EXPECT_TRUE(model_->exit_installation());
  EXPECT_EQ(answers(), (std::map<std::string, std::string>{{"Direction", "C"}}));
}

TEST_F(PortpickModelTest, RegistryThatCannotBeWrittenIsReportedNotTakenForAnAnswer) {
  start("A101");
  // The store's folder is replaced by a file, so nothing can be written there.
  fs::remove_all(registry_.path());
  { std::ofstream(registry_.path()) << "not a folder"; }
  choose("LPT1:");
  EXPECT_EQ(model_->next(), next_outcome::stays);
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_TRUE(boxes_.shown[0].starts_with("critical: Error ")) << boxes_.shown[0];
  EXPECT_FALSE(model_->exit_installation());
  fs::remove(registry_.path());
  fs::create_directory(registry_.path());
}

TEST_F(PortpickModelTest, CheckSistemaAddsTheVersionLine) {
  start("A101");
  model_->check_system();
  fake_.set_version("5.10.0", "NAME=Tiny\n");
  model_->check_system();
  EXPECT_EQ(model_->information(), (std::vector<std::string>{"6.1.Debian GNU/Linux 12 (bookworm)  6.1.0-18-amd64    6",
                                                              "5.10.Tiny  5.10.0    6"}));
  EXPECT_EQ(model_->selected_information(), 1);
}

TEST_F(PortpickModelTest, ListaDescribesSerialPortsControllersAndHubs) {
  fake_.add_uart(0, 4);
  fake_.add_usb_serial("ttyUSB0", "1-2", "FT232R USB UART", "ftdi_sio");
  fake_.add_usb_controller(1, "xHCI Host Controller", "Linux 6.1.0-18-amd64 xhci-hcd", "2.00");
  fake_.add_usb_hub("1-1", "USB2.0 Hub", "2.10");
  start("A101");
  model_->list_system();
  EXPECT_EQ(model_->information(), (std::vector<std::string>{
                                       "Descrizione del PC : LOCALE",
                                       "[Descrizione delle SerialPort]",
                                       "  DeviceID    :COM1",
                                       "  Name        :16550A UART (/dev/ttyS0)",
                                       "  ProviderType:serial8250",
                                       "  -------------------------",
                                       "  DeviceID    :COM2",
                                       "  Name        :FT232R USB UART (/dev/ttyUSB0)",
                                       "  ProviderType:ftdi_sio",
                                       "  -------------------------",
                                       "[Descrizione  USBController]",
                                       "  Name        :xHCI Host Controller",
                                       "  Manufacturer:Linux 6.1.0-18-amd64 xhci-hcd",
                                       "[Descrizione  USBHub]",
                                       "  Name        :xHCI Host Controller",
                                       "  USBVersion  :2.00",
                                       "  Name        :USB2.0 Hub",
                                       "  USBVersion  :2.10",
                                   }));
  EXPECT_EQ(model_->selected_information(), 17);
}

TEST_F(PortpickModelTest, ListaWithoutSysfsReportsTheConnectionError) {
  fake_.remove("sys");
  start("A101");
  model_->list_system();
  EXPECT_EQ(model_->information(),
            (std::vector<std::string>{"Descrizione del PC : LOCALE", "Server :",
                                      "  Errore connessione! : " + std::to_string(ENOENT) + " " +
                                          std::make_error_code(std::errc::no_such_file_or_directory).message()}));
}

}  // namespace
}  // namespace portpick
