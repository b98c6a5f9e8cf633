// Tests of the image windows' printer commands: against the registered Ptrctl bound to the
// recording test service object (the calls, the reports, the stored-image counter, the guide
// lines' reads), and a whole image session against the kit's own stack and a virtual printer.
#include <cstdlib>
#include <sstream>

#include <gtest/gtest.h>

#include "image_files.h"
#include "monitor/sim.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "test_service.h"
#include "test_support.h"
#include "testbench/image_document.h"
#include "testbench/session.h"
#include "testing/harness.h"

namespace {

using namespace testbench;
using testbench_test::write_bmp;
using testbench_test::write_jpeg;

constexpr std::int32_t kPidxOutputId = 5;
constexpr std::int32_t kPidxResultCodeExtended = 7;
constexpr std::int32_t kPidxAsyncMode = 8001;
constexpr std::int32_t kPidxMapMode = 8013;
constexpr std::int32_t kPidxRecLineWidth = 8020;

class test_host final : public session_host {
 public:
  bool ask(std::string_view text, bool) override {
    questions.emplace_back(text);
    return true;
  }
  std::int32_t error_window(std::string_view, std::string_view) override { return kErrorClear; }
  void pump(int ms) override { platform::pump_messages_for(std::min(ms, 20)); }
  debug_command debug_stop(int, std::string&, int&) override { return debug_command::continue_run; }
  std::vector<std::string> questions;
};

// Lines of the probe's record that are calls of `member`.
std::vector<std::string> calls_of(const std::string& record, std::string_view member) {
  std::vector<std::string> found;
  std::istringstream in(record);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(std::string(member) + "(")) found.push_back(line);
  }
  return found;
}

// Connected to the recording service object, with a 1-bit picture "logo.bmp" open.
class ImageCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(controls_test::register_library(PTRCTL_PATH));
    ASSERT_TRUE(controls_test::register_library(CONTROLS_TEST_SERVICE_PATH));
    controls_test::install_device(controls_test::kPosPrinterKey, "TestDevice", controls_test::kServiceProgId);
    probe_.emplace();
    config_.apply_first_run();
    config_.set_string(kSectionSettings, "Language", "ITA");
    session_.emplace(config_, host_);
    ASSERT_TRUE(session_->create_control());
    ASSERT_TRUE(session_->connect("TestDevice"));
    path_ = (dir_ / "logo.bmp").string();
    write_bmp(path_, 64, 16, 1, [](int x, int) { return x < 32 ? 0 : 255; });
    ASSERT_EQ(doc_.open(path_), 0);
    probe_->take_calls();
  }

  session& s() { return *session_; }
  const output_record& last() { return session_->log().records().back(); }
  std::string quoted_path() const { return "\"" + path_ + "\""; }

  platform::testing::scoped_registry_dir registry_;
  platform::testing::temp_dir dir_;
  std::optional<controls_test::service_probe> probe_;
  settings config_{TESTBENCH_DATA_DIR};
  test_host host_;
  std::optional<session> session_;
  std::string path_;
  CIMGDocument doc_;
};

TEST_F(ImageCommandTest, PrintSendsTheNameLineTheBitmapAndTheCutByTheSettings) {
  struct row {
    int info;
    int cut;
    std::int32_t station;
    std::int32_t alignment;
  };
  const row rows[] = {{1, 1, kStationReceipt, kBitmapCenter},
                      {0, 1, kStationReceipt, kBitmapRight},
                      {1, 0, kStationSlip, kBitmapLeft},
                      {0, 0, kStationReceipt, kBitmapLeft}};
  for (const row& r : rows) {
    SCOPED_TRACE(::testing::Message() << "info " << r.info << ", cut " << r.cut << ", station " << r.station);
    config_.set_int(kSectionSettings, "PrintInfoImage", r.info);
    config_.set_int(kSectionSettings, "CutPaperForPrintImage", r.cut);
    s().set_station(r.station);
    probe_->take_calls();
    EXPECT_EQ(print_image(s(), doc_, r.alignment), 0);
    const std::string calls = probe_->take_calls();
    const std::string st = std::to_string(r.station);
    EXPECT_EQ(calls_of(calls, "PrintNormal"),
              r.info ? std::vector<std::string>{"PrintNormal(" + st + ", \"Print image: 'logo.bmp'\\x0A\")"}
                     : std::vector<std::string>{});
    EXPECT_EQ(calls_of(calls, "PrintBitmap"),
              (std::vector<std::string>{"PrintBitmap(" + st + ", " + quoted_path() + ", -11, " +
                                        std::to_string(r.alignment) + ")"}));
    EXPECT_EQ(calls_of(calls, "CutPaper"),
              r.cut ? std::vector<std::string>{"CutPaper(100)"} : std::vector<std::string>{});
    if (r.info && r.cut) {
      EXPECT_LT(calls.find("PrintNormal("), calls.find("PrintBitmap("));
      EXPECT_LT(calls.find("PrintBitmap("), calls.find("CutPaper("));
    }
    EXPECT_EQ(last().text, "(I) : Esecuzione comando di stampa");
    EXPECT_EQ(last().detail, "      Immagine: logo.bmp|      Esecuzione comando terminata con successo.");
  }
}

TEST_F(ImageCommandTest, PrintReportFollowsCollectingModesAndAsyncMode) {
  struct row {
    const char* name;
    int transaction;
    int rotation;
    bool async;
    std::int32_t result;
    std::string text;
    std::string detail;
  };
  const row rows[] = {
      {"async", 0, 0, true, 0, "(I) : Esecuzione lavoro asincrono", "      Avvio nuovo lavoro: 77"},
      {"async whatever the result", 0, 0, true, 111, "(I) : Esecuzione lavoro asincrono",
       "      Avvio nuovo lavoro: 77"},
      {"async in transaction mode", 1, 0, true, 0, "(I) : Esecuzione lavoro asincrono",
       "      Avvio nuovo lavoro: 77"},
      {"transaction", 1, 0, false, 0, "(I) : Comando di stampa immagine memorizzato", ""},
      {"rotation", 0, 1, false, 111, "(I) : Comando di stampa immagine memorizzato", ""},
      {"both modes, async", 1, 1, true, 0, "(I) : Comando di stampa immagine memorizzato", ""},
      {"failure", 0, 0, false, 114, "(I) : Esecuzione comando di stampa",
       "      Immagine: logo.bmp|      Errore esecuzione comando: : OPOS_EPTR_BADFORMAT"},
  };
  config_.set_int(kSectionSettings, "PrintInfoImage", 0);
  config_.set_int(kSectionSettings, "CutPaperForPrintImage", 0);
  probe_->set_number(kPidxOutputId, 77);
  probe_->set_number(kPidxResultCodeExtended, 207);
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    config_.set_int(kSectionPrinter, "TransactionMode", r.transaction);
    config_.set_int(kSectionPrinter, "RotationMode", r.rotation);
    probe_->set_number(kPidxAsyncMode, r.async ? 1 : 0);
    probe_->set_result("PrintBitmap", r.result);
    EXPECT_EQ(print_image(s(), doc_, kBitmapLeft), r.result);
    EXPECT_EQ(last().text, r.text);
    EXPECT_EQ(last().detail, r.detail);
  }
}

TEST_F(ImageCommandTest, StoringCountsUpToTwoAndRefusesAThirdBeforeSending) {
  probe_->set_result("SetBitmap", 111);
  EXPECT_EQ(store_image(s(), doc_, kBitmapCenter), 111);
  EXPECT_EQ(last().text, "(I) : Comando download immagine");
  EXPECT_EQ(last().detail, "      Comando terminato con errore: OPOS_E_FAILURE");
  EXPECT_EQ(config_.get_int(kSectionPrinter, "ImageStored"), 0) << "a failure changes no counter";

  probe_->set_result("SetBitmap", 0);
  s().set_station(kStationSlip);
  probe_->take_calls();
  EXPECT_EQ(store_image(s(), doc_, kBitmapCenter), 0);
  EXPECT_EQ(config_.get_int(kSectionPrinter, "ImageStored"), 1);
  EXPECT_EQ(last().text, "(I) : Comando download immagine");
  EXPECT_EQ(last().detail, "      Comando eseguito con successo");
  EXPECT_EQ(store_image(s(), doc_, kBitmapRight), 0);
  EXPECT_EQ(config_.get_int(kSectionPrinter, "ImageStored"), 2);
  EXPECT_EQ(calls_of(probe_->take_calls(), "SetBitmap"),
            (std::vector<std::string>{"SetBitmap(1, 4, " + quoted_path() + ", -11, -2)",
                                      "SetBitmap(2, 4, " + quoted_path() + ", -11, -3)"}));

  EXPECT_EQ(store_image(s(), doc_, kBitmapLeft), std::nullopt);
  EXPECT_EQ(last().text, "ATTENZIONE, Impossibile memorizzare l'immagine");
  EXPECT_EQ(last().detail, "Il numero delle immagini memorizzate supera il limite massimo consentito");
  EXPECT_TRUE(calls_of(probe_->take_calls(), "SetBitmap").empty());
  EXPECT_EQ(config_.get_int(kSectionPrinter, "ImageStored"), 2);

  // Not connected: the limit is still told; below it nothing happens at all.
  host_.questions.clear();
  ASSERT_TRUE(s().disconnect(false));
  EXPECT_EQ(config_.get_int(kSectionPrinter, "ImageStored"), 2) << "disconnecting keeps the counter";
  const std::size_t records = s().log().records().size();
  EXPECT_EQ(store_image(s(), doc_, kBitmapLeft), std::nullopt);
  EXPECT_EQ(s().log().records().size(), records + 1);
  config_.set_int(kSectionPrinter, "ImageStored", 0);
  EXPECT_EQ(store_image(s(), doc_, kBitmapLeft), std::nullopt);
  EXPECT_EQ(print_image(s(), doc_, kBitmapLeft), kResultClosed);
  EXPECT_EQ(s().log().records().size(), records + 1);
  EXPECT_TRUE(calls_of(probe_->take_calls(), "SetBitmap").empty());
}

TEST_F(ImageCommandTest, DeletingFollowsTheCheckedBoxesAndStopsAtTheFirstFailure) {
  struct row {
    const char* name;
    int stored;
    bool check1, check2;
    int failing;  // image whose deletion fails, 0 for none
    std::vector<std::string> calls;
    int stored_after;
    bool enabled1_after, enabled2_after;
  };
  const std::string one = "SetBitmap(1, 2, \"\", 0, 0)";
  const std::string two = "SetBitmap(2, 2, \"\", 0, 0)";
  const row rows[] = {
      {"both", 2, true, true, 0, {one, two}, 0, false, false},
      {"the second only", 2, false, true, 0, {two}, 1, true, false},
      {"the first only", 2, true, false, 0, {one}, 1, false, true},
      {"one stored", 1, true, true, 0, {one}, 0, false, false},
      {"none stored", 0, true, true, 0, {}, 0, false, false},
      {"the first fails", 2, true, true, 1, {one}, 2, true, true},
  };
  s().set_station(kStationSlip);  // deletion always names the receipt station
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    config_.set_int(kSectionPrinter, "ImageStored", r.stored);
    delete_images_form form(config_);
    EXPECT_EQ(form.enabled(1), r.stored == 1 || r.stored == 2);
    EXPECT_EQ(form.enabled(2), r.stored == 2);
    form.set_checked(1, r.check1);
    form.set_checked(2, r.check2);
    EXPECT_FALSE(form.checked(2) && r.stored < 2) << "a disabled box cannot be checked";
    probe_->take_calls();
    probe_->set_result("SetBitmap", r.failing != 0 ? 111 : 0);
    const std::size_t records = s().log().records().size();
    const std::optional<message_box_text> failure = form.erase(s());
    EXPECT_EQ(calls_of(probe_->take_calls(), "SetBitmap"), r.calls);
    EXPECT_EQ(config_.get_int(kSectionPrinter, "ImageStored"), r.stored_after);
    EXPECT_EQ(form.enabled(1), r.enabled1_after);
    EXPECT_EQ(form.enabled(2), r.enabled2_after);
    EXPECT_EQ(failure.has_value(), r.failing != 0);
    if (failure) {
      EXPECT_EQ(failure->title, "Errore di cancellazione");
      EXPECT_EQ(failure->text,
                "(E) : Errore nella cancellazione dell'immagine selezionata. L'operazione è annullata.");
      EXPECT_TRUE(form.checked(r.failing)) << "the failed box stays checked";
    }
    EXPECT_EQ(s().log().records().size(), records) << "deleting writes nothing to the output window";
  }
}

TEST_F(ImageCommandTest, GuideLinesReadTheWidthInDotsOnceAndRestoreTheMapMode) {
  image_window_state window;
  window.measure(doc_);
  probe_->set_number(kPidxMapMode, 4);  // PTR_MM_METRIC
  probe_->set_number(kPidxRecLineWidth, 576);
  window.toggle_guide_lines(s(), doc_);
  EXPECT_TRUE(window.guide_lines());
  EXPECT_EQ(window.printable_width(), 576);
  const std::string calls = probe_->take_calls();
  const std::size_t to_dots = calls.find("SetPropertyNumber(8013, 1)");
  const std::size_t width = calls.find("GetPropertyNumber(8020)");
  const std::size_t back = calls.find("SetPropertyNumber(8013, 4)");
  ASSERT_NE(back, std::string::npos) << calls;
  EXPECT_TRUE(to_dots < width && width < back) << calls;

  window.toggle_guide_lines(s(), doc_);
  EXPECT_FALSE(window.guide_lines());
  window.toggle_guide_lines(s(), doc_);
  EXPECT_TRUE(window.guide_lines());
  EXPECT_EQ(probe_->take_calls().find("GetPropertyNumber(8020)"), std::string::npos) << "read once per window";

  // Already in dots: the map mode is not written; a width of 0 leaves the lines off.
  image_window_state second;
  probe_->set_number(kPidxMapMode, 1);
  probe_->set_number(kPidxRecLineWidth, 0);
  second.toggle_guide_lines(s(), doc_);
  EXPECT_FALSE(second.guide_lines());
  EXPECT_TRUE(calls_of(probe_->take_calls(), "SetPropertyNumber").empty());
}

// ---------------------------------------------------------------------------------------------
// A whole image session against the kit's own stack: Ptrctl → Devsvc → QuorelMonitor → sim: printer.

namespace dt = devsvc::testing;

class ImageVirtualPrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(controls_test::register_library(PTRCTL_PATH));
    const std::string uri = "sim:" + dt::unique_sim_name();
    dt::set_port("VPRN1", uri);
    dt::printer_key key;
    key.comm_port = "VPRN1";
    key.ini_set = dt::environment::example_metrics().string();
    std::filesystem::copy_file(dt::environment::example_logo(), dir_ / "logo.dat");
    key.dat_file = (dir_ / "logo.dat").string();
    dt::write_printer_key(key);
    std::filesystem::create_directory(dir_ / "images");
    dt::set_fixed_string("RootPath", (dir_ / "images").string() + "/");
    // The virtual printer needs no time to prepare its image memory.
    dt::set_fixed_dword("StoredImagePauseMs", 0);
    platform::registry_key device;
    ASSERT_EQ(platform::registry_key::open(platform::registry_root::local_machine,
                                           std::string(controls_test::kPosPrinterKey) + "\\" + key.device_name, device),
              platform::kErrorSuccess);
    device.set_string("PTRKorvane", key.device_name);
    printer_ = monitor::sim_printer(uri);
    ASSERT_NE(printer_, nullptr);
    config_.apply_first_run();
    config_.set_string(kSectionSettings, "Language", "ITA");
    config_.set_int(kSectionSettings, "PrintInfoImage", 0);
    config_.set_int(kSectionSettings, "CutPaperForPrintImage", 0);
  }

  // The first paper row at or below `from` that holds a dot; -1 when none.
  static int first_dotted_row(const vprinter::bitmap& paper, int from) {
    for (int y = from; y < paper.height(); ++y) {
      for (int x = 0; x < paper.width(); ++x) {
        if (paper.get(x, y)) return y;
      }
    }
    return -1;
  }

  // Checks that the paper from row `from` on shows `picture` (black = a dot) at column `left`.
  static void expect_picture_on_paper(const vprinter::bitmap& paper, int from,
                                      const imaging::pixel_surface& picture, int left) {
    const int top = first_dotted_row(paper, from);
    ASSERT_GE(top, 0) << "nothing printed";
    int wrong = 0;
    for (int y = 0; y < picture.height(); ++y) {
      for (int x = 0; x < paper.width(); ++x) {
        const int px = x - left;
        const bool black = px >= 0 && px < picture.width() && picture.row(y)[3 * px] == 0;
        if (paper.get(x, top + y) != black) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0) << "dots differing from the picture";
  }

  dt::environment env_;
  platform::testing::temp_dir dir_;
  vprinter::virtual_printer* printer_ = nullptr;
  settings config_{TESTBENCH_DATA_DIR};
  test_host host_;
};

TEST_F(ImageVirtualPrinterTest, JpegConvertedHalftonedPrintedStoredPrintedByEscapeAndDeleted) {
  session s(config_, host_);
  ASSERT_TRUE(s.create_control());
  ASSERT_TRUE(s.connect("VX40Device")) << s.log().text();

  // A photo: a ramp from black to white with a white disc and a black frame.
  constexpr int kWidth = 256, kHeight = 96;
  const std::filesystem::path jpeg = dir_ / "shop.jpg";
  ASSERT_TRUE(write_jpeg(jpeg, kWidth, kHeight, [](int x, int y) {
    if (x < 4 || y < 4 || x >= kWidth - 4 || y >= kHeight - 4) return 0;
    const int dx = x - 190, dy = y - 48;
    if (dx * dx + dy * dy < 30 * 30) return 255;
    return x * 255 / (kWidth - 1);
  }));
  CIMGDocument doc;
  ASSERT_EQ(doc.open(jpeg.string()), 0);
  ASSERT_EQ(doc.convert_to_bitmap(), 0);
  EXPECT_EQ(doc.title(), "shop.bmp");

  {
    filter_job job(doc, kFilterHalftone, kHalftoneStucki);
    job.wait();
  }
  ASSERT_EQ(doc.bit_count(), 1);
  EXPECT_TRUE(doc.modified());

  // Not saved yet: the file on disk is still the 24-bit conversion, which the printer refuses.
  std::size_t mark = printer_->capture().size();
  EXPECT_EQ(print_image(s, doc, kBitmapCenter), 114);
  EXPECT_EQ(s.log().records().back().detail,
            "      Immagine: shop.bmp|      Errore esecuzione comando: : OPOS_EPTR_BADFORMAT");
  EXPECT_EQ(printer_->capture().size(), mark) << "nothing was printed";

  ASSERT_TRUE(doc.save());
  imaging::pixel_surface picture(kWidth, kHeight);
  doc.draw(picture);
  const std::int32_t line_width = s.driver().get_long("RecLineWidth");
  ASSERT_GT(line_width, kWidth);
  const int centred = (line_width - kWidth) / 2;

  // Printed centred.
  int from = printer_->paper().height();
  ASSERT_EQ(print_image(s, doc, kBitmapCenter), 0) << s.log().text();
  EXPECT_EQ(s.log().records().back().detail,
            "      Immagine: shop.bmp|      Esecuzione comando terminata con successo.");
  expect_picture_on_paper(printer_->paper(), from, picture, centred);

  // Stored as image 1, centred, and printed by its escape sequence from a script.
  ASSERT_EQ(store_image(s, doc, kBitmapCenter), 0) << s.log().text();
  EXPECT_EQ(config_.get_int(kSectionPrinter, "ImageStored"), 1);
  EXPECT_EQ(printer_->state().stored_images, 1);
  from = printer_->paper().height();
  script_document script;
  script.set_text("' stored image\n<ESC|1B>\n<ESC|4lF>");
  ASSERT_TRUE(s.print_script(script)) << s.log().text();
  expect_picture_on_paper(printer_->paper(), from, picture, centred);

  if (const char* out = std::getenv("TESTBENCH_IMAGE_PAPER")) {
    std::string error;
    EXPECT_TRUE(printer_->write_png(out, &error)) << error;
  }

  // Deleted again.
  delete_images_form form(config_);
  ASSERT_TRUE(form.enabled(1));
  form.set_checked(1, true);
  EXPECT_EQ(form.erase(s), std::nullopt) << s.log().text();
  EXPECT_EQ(config_.get_int(kSectionPrinter, "ImageStored"), 0);
  EXPECT_EQ(printer_->state().stored_images, 0);
  EXPECT_FALSE(form.enabled(1));

  // The counter is never compared with the printer: counting two while the printer holds one,
  // deleting both removes image 1, fails on image 2 and keeps the deletion made.
  ASSERT_EQ(store_image(s, doc, kBitmapLeft), 0) << s.log().text();
  config_.set_int(kSectionPrinter, "ImageStored", 2);
  delete_images_form both(config_);
  both.set_checked(1, true);
  both.set_checked(2, true);
  const std::optional<message_box_text> failure = both.erase(s);
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->title, "Errore di cancellazione");
  EXPECT_EQ(config_.get_int(kSectionPrinter, "ImageStored"), 1);
  EXPECT_FALSE(both.enabled(1));
  EXPECT_TRUE(both.checked(2));
  EXPECT_EQ(printer_->state().stored_images, 0);

  ASSERT_TRUE(s.disconnect(false));
}

}  // namespace
