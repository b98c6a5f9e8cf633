// The logo window's model against the virtual printer through the monitor: the list and its
// buttons, the start inquiry, downloads of both storage families with the memory check and the
// processing wait, printing, deleting, and a round trip whose printed dots are compared with the
// planes that were sent.
#include "logo/logo_form.h"

#include <chrono>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "link_fixture.h"
#include "scripted_ui.h"

namespace logo_test {
namespace {

using logo::logo_form_model;
using utilities_test::box_answer;
using utilities_test::hex;
using utilities_test::scripted_ui;

// Black, white and red, with the planes a two-colour printer uses.
constexpr char kColourTable[] = "black,0,0,0,K,1,0,0\nwhite,255,255,255,W,0,0,0\nred,255,0,0,R,0,1,0\n";
constexpr char kTableName[] = "test.ctb";

constexpr logo::rgb kBlack{0, 0, 0};
constexpr logo::rgb kWhite{255, 255, 255};
constexpr logo::rgb kRed{255, 0, 0};

using pixel_fn = std::function<logo::rgb(int x, int y)>;

// Writes a 24-bit bottom-up BMP file of w x h pixels.
void write_bmp(const std::filesystem::path& file, int w, int h, const pixel_fn& at) {
  const std::uint32_t stride = (static_cast<std::uint32_t>(w) * 3 + 3) & ~3u;
  const std::uint32_t size = 54 + stride * static_cast<std::uint32_t>(h);
  std::string out;
  auto put16 = [&](std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
  };
  auto put32 = [&](std::uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  out += "BM";
  put32(size);
  put32(0);
  put32(54);
  put32(40);
  put32(static_cast<std::uint32_t>(w));
  put32(static_cast<std::uint32_t>(h));
  put16(1);
  put16(24);
  put32(0);
  put32(stride * static_cast<std::uint32_t>(h));
  put32(2835);
  put32(2835);
  put32(0);
  put32(0);
  for (int y = h - 1; y >= 0; --y) {
    std::string row;
    for (int x = 0; x < w; ++x) {
      const logo::rgb c = at(x, y);
      row.push_back(static_cast<char>(c.b));
      row.push_back(static_cast<char>(c.g));
      row.push_back(static_cast<char>(c.r));
    }
    row.resize(stride, '\0');
    out += row;
  }
  std::ofstream(file, std::ios::binary) << out;
}

// A picture with a black frame, a red diagonal and white elsewhere.
logo::rgb framed(int x, int y, int w, int h) {
  if (x == 0 || y == 0 || x == w - 1 || y == h - 1) return kBlack;
  if (x == y) return kRed;
  return kWhite;
}

// The conversion of these tests: the picture unchanged, with the table above.
logo::conversion_result unchanged(const logo::dib& source, const logo::logo_settings&) {
  logo::dib out = logo::dib::make_24bpp(source.width(), source.height());
  for (int y = 0; y < source.height(); ++y)
    for (int x = 0; x < source.width(); ++x) out.set_pixel(x, y, source.pixel(x, y));
  return {std::move(out), kTableName, ""};
}

// The bytes without the real-time status requests (DLE EOT n) that state queries add.
std::string without_status_requests(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    if (bytes.compare(i, 2, "\x10\x04") == 0) {
      i += 3;
    } else {
      out += bytes[i++];
    }
  }
  return out;
}

// The dot (x, y) of a plane of rows ⌈w/8⌉ bytes wide, leftmost dot in the high bit.
bool plane_dot(const std::string& plane, int w, int x, int y) {
  const std::size_t at = static_cast<std::size_t>(y) * ((static_cast<std::size_t>(w) + 7) / 8) + static_cast<std::size_t>(x) / 8;
  return (static_cast<unsigned char>(plane[at]) & (0x80 >> (x % 8))) != 0;
}

// The first row of the paper from which the picture's planes are printed at the left edge, dot
// for dot (black plane "1" on the paper, plane "2" in red, when given), from row `from` on; -1
// when nowhere.
int printed_at(const vprinter::bitmap& paper, const vprinter::bitmap& red, const logo::printer_planes& sent,
               int from = 0) {
  for (int y0 = from; y0 + sent.height <= paper.height(); ++y0) {
    bool same = true;
    for (int y = 0; same && y < sent.height; ++y) {
      for (int x = 0; same && x < sent.width + 8; ++x) {
        const bool inside = x < sent.width;
        same = paper.get(x, y0 + y) == (inside && plane_dot(sent.planes[0], sent.width, x, y));
        if (same && sent.planes.size() > 1) {
          same = red.get(x, y0 + y) == (inside && plane_dot(sent.planes[1], sent.width, x, y));
        }
      }
    }
    if (same) return y0;
  }
  return -1;
}

class LogoFormTest : public utilities_test::LinkTest {
 protected:
  // One window on one printer: its UI, link and model.
  struct window {
    scripted_ui ui;
    utilities::printer_link link{ui};
    std::unique_ptr<logo_form_model> model;
  };

  void SetUp() override {
    LinkTest::SetUp();
    std::ofstream(dir_.path() / kTableName) << kColourTable;
  }

  // A new sim printer answering `id` to GS I 1; its URI.
  std::string new_printer(int id, const std::string& extra = "") {
    const std::string uri = fresh_sim("logo", "?id=" + std::to_string(id) + extra);
    set_port("L" + std::to_string(++ports_), uri, "VX40");
    return uri;
  }

  // A window on the printer last made by new_printer, with time from `clock` when given.
  std::unique_ptr<window> open_window(int id,
                                      std::function<std::chrono::steady_clock::time_point()> clock = {}) {
    auto w = std::make_unique<window>();
    w->link.set_channel(channel_of("L" + std::to_string(ports_)));
    EXPECT_TRUE(w->link.has_channel());
    w->link.set_identification_byte(id);
    logo::logo_form_environment env;
    env.id = id;
    env.model = "VX40";
    env.title = "Logo";
    env.app_path = dir_.path();
    env.clock = std::move(clock);
    env.convert = unchanged;
    w->model = std::make_unique<logo_form_model>(w->ui, w->link, env);
    return w;
  }

  // A picture file of w x h in the test folder.
  std::filesystem::path picture(const std::string& name, int w, int h, const pixel_fn& at = {}) {
    const std::filesystem::path file = dir_.path() / name;
    write_bmp(file, w, h, at ? at : [w, h](int x, int y) { return framed(x, y, w, h); });
    return file;
  }

  static vprinter::virtual_printer& printer(const std::string& uri) { return *monitor::sim_printer(uri); }
  // What the printer received after `mark` bytes, without status requests.
  static std::string received_since(const std::string& uri, std::size_t mark) {
    return without_status_requests(printer(uri).capture().substr(mark));
  }

  // Stores one plane of w x h black dots under `key` straight into the printer.
  static void store_directly(const std::string& uri, const std::string& key, int w, int h) {
    logo::raster plane = logo::make_raster(w, h);
    for (auto& b : plane.bytes) b = 0xFF;
    const std::string define = logo::commands::define_logo(key, std::span<const logo::raster>(&plane, 1), false);
    ASSERT_EQ(printer(uri).accept(define).accepted, define.size());
  }

  int ports_ = 0;
};

TEST_F(LogoFormTest, AddsPicturesWithKeysStatesAndButtons) {
  const std::string uri = new_printer(46);
  auto w = open_window(46);
  logo_form_model& m = *w->model;
  std::ofstream(dir_.path() / "broken.bmp") << "not a bitmap";
  m.add_pictures({picture("a.bmp", 8, 8), picture("b.bmp.txt", 8, 8), picture("C.BMP", 8, 8),
                  dir_.path() / "broken.bmp"});
  ASSERT_EQ(m.entries().size(), 2u);
  EXPECT_EQ(m.entries()[0].state(), "New(00)");
  EXPECT_EQ(m.entries()[1].state(), "New(01)");
  EXPECT_EQ(m.entries()[1].name(), "C.BMP");
  // Identification 46: the first width (80 mm) and "Black & white" to start with.
  EXPECT_EQ(m.entries()[0].settings.paper_width_dots, 560);
  EXPECT_EQ(m.entries()[0].settings.colour_mode, logo::kModeBlackWhite);
  EXPECT_TRUE(m.entries()[0].has_preview);
  ASSERT_EQ(w->ui.messages.size(), 2u);
  EXPECT_EQ(w->ui.messages[0], logo::invalid_file_text((dir_.path() / "b.bmp.txt").string()));
  EXPECT_NE(w->ui.messages[1].find("broken.bmp"), std::string::npos) << w->ui.messages[1];

  // Buttons follow the selection: nothing selected, one new entry, then none again.
  EXPECT_FALSE(m.buttons().del);
  EXPECT_FALSE(m.buttons().download);
  m.set_selected(1, true);
  EXPECT_TRUE(m.buttons().del);
  EXPECT_TRUE(m.buttons().download);
  EXPECT_TRUE(m.buttons().print);
  m.select_all();
  EXPECT_TRUE(m.entries()[0].selected && m.entries()[1].selected);
  m.select_none();
  EXPECT_FALSE(m.buttons().del || m.buttons().download || m.buttons().print);

  // The two hundredth entry is the last; the next file is refused once and the rest not tried.
  const std::filesystem::path small = picture("small.bmp", 1, 1);
  w->ui.messages.clear();
  m.add_pictures(std::vector<std::filesystem::path>(199, small));
  EXPECT_EQ(m.entries().size(), logo::kMaxLogoEntries);
  EXPECT_EQ(m.entries().back().key, "C7");
  EXPECT_EQ(w->ui.messages, std::vector<std::string>{"Too many logos."});
  // Nothing of this went to the printer.
  EXPECT_EQ(printer(uri).capture(), "");
}

TEST_F(LogoFormTest, StartInquiryByIdentification) {
  // 46: memory and the stored keys, more of them than one answer block holds (each block is
  // acknowledged). 10: the printer type lacks bit 2, so printing is hidden and print all off.
  const std::string uri = new_printer(46);
  std::string keys;
  for (int k = 0; k < 45; ++k) {
    const std::string key = std::string(1, static_cast<char>('A' + k / 10)) + static_cast<char>('0' + k % 10);
    store_directly(uri, key, 8, 1);
    keys += key;
  }
  auto w = open_window(46);
  ASSERT_TRUE(w->model->start_inquiry());
  ASSERT_EQ(w->model->entries().size(), 45u);
  std::string listed;
  for (const logo::logo_entry& e : w->model->entries()) {
    EXPECT_TRUE(e.stored);
    listed += e.key;
  }
  EXPECT_EQ(listed, keys);
  EXPECT_EQ(w->model->entries()[44].state(), "Logo(E4)");
  EXPECT_EQ(w->model->memory_used_text(), "45");
  EXPECT_EQ(w->model->memory_free_text(), std::to_string(262144 - 45));
  EXPECT_TRUE(w->model->buttons().print_all);
  EXPECT_TRUE(w->model->buttons().print_visible);
  EXPECT_EQ(w->ui.statuses.front(), "Retrieving printer information...");
  EXPECT_EQ(w->ui.last_status(), "Ready...");
  EXPECT_TRUE(w->ui.questions.empty());
  EXPECT_TRUE(w->ui.messages.empty());

  const std::string bit_image = new_printer(10);
  auto w10 = open_window(10);
  ASSERT_TRUE(w10->model->start_inquiry());
  EXPECT_FALSE(w10->model->buttons().print_visible);
  EXPECT_FALSE(w10->model->buttons().print_all);
  EXPECT_TRUE(w10->model->entries().empty());
  EXPECT_EQ(w10->model->memory_free_text(), logo::kMemoryUnknown);
  EXPECT_EQ(hex(without_status_requests(printer(bit_image).capture())), "1D 49 02");
}

TEST_F(LogoFormTest, NotEnoughMemoryAsksAndGoesOnWithTheNextEntry) {
  // 2944 bytes are left: the first picture (25 x 200 bytes) does not fit, the second does.
  const std::string uri = new_printer(46);
  store_directly(uri, "ZZ", 576, 3600);
  auto w = open_window(46);
  ASSERT_TRUE(w->model->start_inquiry());
  ASSERT_EQ(w->model->memory_free_text(), "2944");
  w->model->add_pictures({picture("big.bmp", 200, 200), picture("small.bmp", 16, 8)});
  ASSERT_EQ(w->model->entries().size(), 3u);
  w->model->select_all();
  w->ui.answers = {box_answer::ok};
  EXPECT_FALSE(w->model->download());
  EXPECT_EQ(w->ui.questions,
            std::vector<std::string>{"Not enough space in memory for this logo.\rDo you want to try the next?"});
  EXPECT_EQ(w->model->entries()[1].state(), "New(00)");
  EXPECT_EQ(w->model->entries()[2].state(), "Logo(01)");
  EXPECT_EQ(printer(uri).state().graphics_keys, (std::vector<std::string>{"01", "ZZ"}));
  EXPECT_EQ(w->model->memory_free_text(), std::to_string(2944 - 16));
  EXPECT_EQ(w->ui.last_status(), "Ready...");

  // Cancel ends the download at the first entry that does not fit.
  w->model->add_pictures({picture("small2.bmp", 16, 8)});
  w->model->select_all();
  w->ui.questions.clear();
  w->ui.answers = {box_answer::cancel};
  EXPECT_FALSE(w->model->download());
  EXPECT_EQ(w->ui.questions.size(), 1u);
  EXPECT_EQ(w->model->entries()[3].state(), "New(02)");
  EXPECT_EQ(printer(uri).state().graphics_keys, (std::vector<std::string>{"01", "ZZ"}));
}

TEST_F(LogoFormTest, PrintAllOnABitImagePrinterAsksForEveryNumber) {
  struct print_all_case {
    int id;
    std::string end;
  };
  const print_all_case cases[] = {{32, "\x1dVB\x0f"}, {10, std::string(9, '\n')}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const std::string uri = new_printer(c.id);
    auto w = open_window(c.id);
    const std::size_t mark = printer(uri).capture().size();
    ASSERT_TRUE(w->model->print_all());
    std::string expected;
    for (int n = 1; n <= 255; ++n) expected += logo::commands::print_bit_image(n);
    EXPECT_EQ(hex(received_since(uri, mark)), hex(expected + c.end));
    EXPECT_EQ(w->ui.statuses.front(), "Preparing to print logo(s)...");
    EXPECT_EQ(w->ui.last_status(), "Ready...");
  }
}

TEST_F(LogoFormTest, DeletingNewEntriesSendsNothingButRefreshesTheMemory) {
  const std::string uri = new_printer(46);
  store_directly(uri, "00", 8, 2);
  auto w = open_window(46);
  ASSERT_TRUE(w->model->start_inquiry());
  w->model->add_pictures({picture("a.bmp", 8, 8), picture("b.bmp", 8, 8)});
  ASSERT_EQ(w->model->entries().size(), 3u);
  EXPECT_EQ(w->model->entries()[1].key, "01");
  w->model->set_selected(1, true);
  w->model->set_selected(2, true);
  std::size_t mark = printer(uri).capture().size();
  w->ui.answers = {box_answer::yes};
  ASSERT_TRUE(w->model->delete_selected());
  EXPECT_EQ(w->ui.questions, std::vector<std::string>{"Are you sure you want to delete these2 logos?"});
  EXPECT_EQ(hex(received_since(uri, mark)), hex(logo::commands::total_memory() + logo::commands::free_memory()));
  ASSERT_EQ(w->model->entries().size(), 1u);
  EXPECT_EQ(w->ui.last_status(), "Ready...");

  // The stored logo goes from the printer with the deletion's echo; its key is free again.
  w->model->set_selected(0, true);
  w->ui.questions.clear();
  w->ui.answers = {box_answer::yes};
  mark = printer(uri).capture().size();
  ASSERT_TRUE(w->model->delete_selected());
  EXPECT_EQ(w->ui.questions, std::vector<std::string>{"Are you sure you want to delete Logo(00)?"});
  EXPECT_EQ(hex(received_since(uri, mark)),
            hex(logo::commands::delete_logo("00") + logo::commands::processing_echo() +
                logo::commands::total_memory() + logo::commands::free_memory()));
  EXPECT_TRUE(printer(uri).state().graphics_keys.empty());
  EXPECT_EQ(w->model->memory_used_text(), "0");
  w->model->add_pictures({picture("c.bmp", 8, 8)});
  EXPECT_EQ(w->model->entries().back().state(), "New(00)");

  // No: nothing happens.
  w->model->select_all();
  mark = printer(uri).capture().size();
  EXPECT_FALSE(w->model->delete_selected());
  EXPECT_EQ(w->model->entries().size(), 1u);
  EXPECT_EQ(printer(uri).capture().size(), mark);
}

TEST_F(LogoFormTest, ProcessingWaitAsksOnlyAfterEightSeconds) {
  // The printer holds everything while its cover is open, so the echo never comes. Each look at
  // the clock is a second later.
  const std::string uri = new_printer(46);
  auto t = std::chrono::steady_clock::time_point{};
  int looks = 0;
  auto w = open_window(46, [&] {
    ++looks;
    return t += std::chrono::seconds(1);
  });
  ASSERT_TRUE(w->model->start_inquiry());
  w->model->add_pictures({picture("a.bmp", 8, 8)});
  w->model->select_all();
  printer(uri).inject_fault(vprinter::fault::cover_open);
  w->ui.answers = {box_answer::retry, box_answer::cancel};
  EXPECT_FALSE(w->model->download());
  EXPECT_EQ(w->ui.questions, (std::vector<std::string>{"Timeout waiting for graphics data to be processed...",
                                                        "Timeout waiting for graphics data to be processed..."}));
  // Silent until 8 s: the start and seven time-outs, then one question per time-out.
  EXPECT_EQ(looks, 10);
  EXPECT_EQ(w->model->entries()[0].state(), "New(00)");
  EXPECT_NE(std::find(w->ui.statuses.begin(), w->ui.statuses.end(), "Waiting for graphics data to be processed..."),
            w->ui.statuses.end());
  EXPECT_EQ(w->ui.last_status(), "Ready...");
  EXPECT_FALSE(w->model->busy());
}

TEST_F(LogoFormTest, DeletionWaitFillsTheProgressBarThenAsks) {
  // The cover is open: the printer takes the deletion but does not echo. A second a look.
  const std::string uri = new_printer(46);
  store_directly(uri, "00", 8, 2);
  auto t = std::chrono::steady_clock::time_point{};
  auto w = open_window(46, [&] { return t += std::chrono::seconds(1); });
  ASSERT_TRUE(w->model->start_inquiry());
  w->model->select_all();
  printer(uri).inject_fault(vprinter::fault::cover_open);
  std::vector<int> progress;
  w->ui.on_pump = [&](int) { progress.push_back(w->model->progress()); };
  w->ui.answers = {box_answer::yes, box_answer::cancel};
  const std::size_t mark = printer(uri).capture().size();
  EXPECT_FALSE(w->model->delete_selected());
  EXPECT_EQ(w->ui.questions, (std::vector<std::string>{"Are you sure you want to delete Logo(00)?",
                                                        "Timeout waiting for logo deletion: printer offline?"}));
  EXPECT_EQ(progress, (std::vector<int>{12, 25, 37, 50, 62, 75, 87}));
  // The entry stays, and an operation that ended early does not read the memory again.
  ASSERT_EQ(w->model->entries().size(), 1u);
  EXPECT_EQ(hex(received_since(uri, mark)),
            hex(logo::commands::delete_logo("00") + logo::commands::processing_echo()));
  EXPECT_EQ(w->ui.last_status(), "Ready...");

  // Once the printer is back, the held deletion is done and the entry goes.
  printer(uri).clear_fault(vprinter::fault::cover_open);
  w->ui.questions.clear();
  w->ui.answers = {box_answer::yes};
  EXPECT_TRUE(w->model->delete_selected());
  EXPECT_TRUE(w->model->entries().empty());
  EXPECT_EQ(w->ui.questions.size(), 1u);
}

TEST_F(LogoFormTest, ChannelThatCannotOpenEndsTheOperationWithItsError) {
  // Nothing listens on this loopback port.
  set_port("DEAD", "socket://127.0.0.1:1", "VX40");
  scripted_ui ui;
  utilities::printer_link link(ui);
  link.set_channel(channel_of("DEAD"));
  ASSERT_TRUE(link.has_channel());
  logo::logo_form_environment env;
  env.id = 46;
  env.app_path = dir_.path();
  env.convert = unchanged;
  logo_form_model m(ui, link, env);
  EXPECT_FALSE(m.start_inquiry());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].rfind("Raised error ", 0), 0u) << ui.messages[0];
  EXPECT_NE(ui.messages[0].find("\rExtended error description: "), std::string::npos) << ui.messages[0];
  EXPECT_EQ(ui.last_status(), "Printer error...");
  m.add_pictures({picture("a.bmp", 8, 8)});
  m.select_all();
  EXPECT_FALSE(m.download());
  EXPECT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.last_status(), "Ready...");
  EXPECT_EQ(m.entries()[0].state(), "New(00)");
  EXPECT_FALSE(m.busy());
}

TEST_F(LogoFormTest, RoundTripThroughTheTwoColourPrinter) {
  // Download in one window, list, print and delete in another, as after a new start.
  const std::string uri = new_printer(46);
  auto first = open_window(46);
  ASSERT_TRUE(first->model->start_inquiry());
  first->model->add_pictures({picture("two.bmp", 21, 10)});
  first->model->set_settings(0, {560, logo::kModeTwoColours, false, false});
  const logo::printer_planes sent = first->model->planes_of(0);
  ASSERT_EQ(sent.planes.size(), 2u);
  ASSERT_EQ(sent.width, 21);
  // Both planes have dots: the black frame and the red diagonal.
  ASSERT_NE(sent.planes[0].find_first_not_of('\0'), std::string::npos);
  ASSERT_NE(sent.planes[1].find_first_not_of('\0'), std::string::npos);
  first->model->select_all();
  ASSERT_TRUE(first->model->download());
  EXPECT_EQ(first->model->entries()[0].state(), "Logo(00)");
  EXPECT_TRUE(first->ui.questions.empty());
  EXPECT_TRUE(first->ui.messages.empty());
  // Three bytes a row, ten rows, two planes.
  EXPECT_EQ(first->model->memory_used_text(), "60");

  auto second = open_window(46);
  ASSERT_TRUE(second->model->start_inquiry());
  ASSERT_EQ(second->model->entries().size(), 1u);
  EXPECT_EQ(second->model->entries()[0].state(), "Logo(00)");
  EXPECT_EQ(second->model->memory_used_text(), "60");
  EXPECT_FALSE(second->model->buttons().print);  // only stored entries are selected
  second->model->select_all();
  std::size_t mark = printer(uri).capture().size();
  ASSERT_TRUE(second->model->print());
  EXPECT_EQ(hex(received_since(uri, mark)), hex(logo::commands::default_print_mode() + "Logo 00\n" +
                                                 logo::commands::print_stored("00") +
                                                 logo::commands::feed_and_cut()));
  const int stored_at = printed_at(printer(uri).paper(), printer(uri).red_paper(), sent);
  EXPECT_GE(stored_at, 24);  // below the line "Logo 00"

  // A new entry prints through the print buffer, both planes, at the top of the next receipt.
  first->model->add_pictures({picture("again.bmp", 21, 10)});
  first->model->set_settings(1, {560, logo::kModeTwoColours, false, false});
  first->model->select_none();
  first->model->set_selected(1, true);
  const int paper_before = printer(uri).paper().height();
  ASSERT_TRUE(first->model->print());
  const vprinter::bitmap paper = printer(uri).paper();
  EXPECT_GE(printed_at(paper, printer(uri).red_paper(), sent, paper_before), paper_before);

  second->ui.answers = {box_answer::yes};
  ASSERT_TRUE(second->model->delete_selected());
  EXPECT_TRUE(second->model->entries().empty());
  EXPECT_TRUE(printer(uri).state().graphics_keys.empty());
  EXPECT_EQ(second->model->memory_used_text(), "0");
  auto third = open_window(46);
  ASSERT_TRUE(third->model->start_inquiry());
  EXPECT_TRUE(third->model->entries().empty());
}

TEST_F(LogoFormTest, BitImagesAreDefinedAllTogetherColumnByColumn) {
  const std::string uri = new_printer(32);
  auto w = open_window(32);
  ASSERT_TRUE(w->model->start_inquiry());
  EXPECT_TRUE(w->model->buttons().print_all);
  w->model->add_pictures({picture("a.bmp", 12, 9), picture("b.bmp", 8, 8), picture("c.bmp", 8, 8)});
  w->model->set_selected(0, true);
  w->model->set_selected(2, true);
  const std::size_t mark = printer(uri).capture().size();
  ASSERT_TRUE(w->model->download());
  // Dots are the exactly black pixels: the frames; the red diagonal is left out.
  std::vector<logo::raster> images;
  for (const std::size_t i : {0u, 2u}) images.push_back(logo::black_dots(*w->model->preview_picture(i)));
  EXPECT_EQ(hex(received_since(uri, mark)),
            hex(logo::commands::define_bit_images(images) + logo::commands::processing_echo()));
  EXPECT_EQ(printer(uri).state().stored_images, 2);
  EXPECT_NE(std::find(w->ui.statuses.begin(), w->ui.statuses.end(), "Downloading c.bmp as logo2..."),
            w->ui.statuses.end());
  // They stay new: the printer numbers them, it has no keys.
  EXPECT_EQ(w->model->entries()[0].state(), "New(00)");
  EXPECT_EQ(w->ui.last_status(), "Ready...");

  // Printing a new entry sends the picture itself (GS v 0), then the cut.
  w->model->select_none();
  w->model->set_selected(1, true);
  const std::size_t before_print = printer(uri).capture().size();
  ASSERT_TRUE(w->model->print());
  EXPECT_EQ(hex(received_since(uri, before_print)),
            hex(logo::commands::print_raster(logo::black_dots(*w->model->preview_picture(1))) +
                logo::commands::feed_and_cut()));
}

}  // namespace
}  // namespace logo_test
