// Tests of the image documents without a printer: opening by path, the commands' availability,
// conversion, filters and their progress, saving, the property rows, the resize dialog, the
// rulers, the guide-line band and the warnings of an image window.
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "image_files.h"
#include "platform/testing/temp_dir.h"
#include "testbench/image_document.h"
#include "testbench/session.h"

namespace {

using namespace testbench;
using testbench_test::ramp;
using testbench_test::write_bmp;
using testbench_test::write_jpeg;

class quiet_host final : public session_host {
 public:
  bool ask(std::string_view, bool) override { return false; }
  std::int32_t error_window(std::string_view, std::string_view) override { return kErrorClear; }
  void pump(int) override {}
  debug_command debug_stop(int, std::string&, int&) override { return debug_command::continue_run; }
};

// A folder of pictures and settings over the shipped data files (Italian).
class ImageDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_.apply_first_run();
    config_.set_string(kSectionSettings, "Language", "ITA");
  }

  std::string bmp(const std::string& name, int width, int height, int bits) {
    const std::filesystem::path path = dir_ / name;
    write_bmp(path, width, height, bits, ramp(width));
    return path.string();
  }
  std::string jpg(const std::string& name, int width, int height) {
    const std::filesystem::path path = dir_ / name;
    EXPECT_TRUE(write_jpeg(path, width, height, ramp(width)));
    return path.string();
  }
  // The file's bits per pixel as written on disk, read from the header's bytes (opening the
  // file as a second image would share the first one's working copy).
  static int bits_on_disk(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char header[30] = {};
    in.read(header, sizeof header);
    return static_cast<unsigned char>(header[28]) | static_cast<unsigned char>(header[29]) << 8;
  }

  platform::testing::scoped_registry_dir registry_;
  platform::testing::temp_dir dir_;
  settings config_{TESTBENCH_DATA_DIR};
  quiet_host host_;
};

TEST_F(ImageDocumentTest, CommandsAreAvailableByTheDocumentConnectionAndDebugging) {
  using c = image_command;
  const std::set<c> printer{c::print, c::store, c::delete_stored, c::align_left, c::align_center, c::align_right};
  const std::set<c> window{c::rulers, c::properties};
  const auto join = [](std::initializer_list<std::set<c>> sets) {
    std::set<c> all;
    for (const auto& s : sets) all.insert(s.begin(), s.end());
    return all;
  };
  const std::set<c> deep{c::black_white,  c::halftone, c::grey_scale,  c::halftone_default,
                         c::halftone_stucki, c::red_second_colour, c::resize, c::guide_lines};
  struct row {
    const char* name;
    std::string path;  // empty: no image window active
    bool connected;
    bool debugging;
    std::set<c> available;
  };
  const row rows[] = {
      {"1-bit bitmap: only the red filter among conversions", bmp("one.bmp", 16, 8, 1), true, false,
       join({printer, window, {c::red_second_colour, c::resize, c::guide_lines}})},
      {"8-bit bitmap: all but 8 bpp", bmp("eight.bmp", 16, 8, 8), true, false, join({printer, window, deep})},
      {"24-bit bitmap: every conversion", bmp("deep.bmp", 16, 8, 24), true, false,
       join({printer, window, deep, {c::to_8bpp}})},
      {"JPEG: only the conversion to bitmap", jpg("photo.jpg", 16, 8), true, false,
       join({printer, window, {c::convert_to_bitmap}})},
      {"not connected: no printer command", bmp("off.bmp", 16, 8, 24), false, false,
       join({window, deep, {c::to_8bpp}})},
      {"debugging: no deletion", jpg("debug.jpg", 16, 8), true, true,
       join({window, {c::convert_to_bitmap, c::print, c::store, c::align_left, c::align_center, c::align_right}})},
      {"no image window: deletion alone", "", true, false, {c::delete_stored}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    CIMGDocument doc;
    if (!r.path.empty()) {
      ASSERT_EQ(doc.open(r.path), 0);
    }
    const command_context context = doc.context(r.connected, r.debugging);
    for (image_command command : kImageCommands) {
      EXPECT_EQ(command_available(command, context), r.available.contains(command))
          << command_caption(command, true);
    }
  }
}

TEST_F(ImageDocumentTest, OpeningChoosesTheImageByThePathAndFailuresNameTheirText) {
  std::filesystem::create_directory(dir_ / "Foto_Bmp");
  const std::string jpeg_in_bmp_folder = jpg("Foto_Bmp/photo.jpg", 8, 8);
  const std::string compressed = (dir_ / "packed.bmp").string();
  write_bmp(compressed, 8, 8, 8, ramp(8), 1);
  std::ofstream(dir_ / "empty.bmp").close();
  std::ofstream(dir_ / "broken.jpg", std::ios::binary) << "not a picture at all";
  struct row {
    std::string path;
    int code;
    txt message;
  };
  const row rows[] = {
      {bmp("ok.BMP", 8, 8, 24), 0, {}},
      {jpg("ok.jpg", 8, 8), 0, {}},
      {jpeg_in_bmp_folder, 51, txt::s141_not_a_bitmap},
      {bmp("ramp.png", 8, 8, 24), 51, txt::s141_not_a_bitmap},
      {(dir_ / "missing.bmp").string(), 49, txt::s140_image_io_error},
      {(dir_ / "empty.bmp").string(), 50, txt::s141_not_a_bitmap},
      {compressed, 53, txt::s151_compressed_bitmap},
      {(dir_ / "broken.jpg").string(), 80, txt::s143_image_format_error},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.path);
    CIMGDocument doc;
    const int code = doc.open(r.path);
    EXPECT_EQ(code, r.code);
    if (r.code == 0) {
      EXPECT_TRUE(doc.is_open());
      EXPECT_EQ(doc.title(), std::filesystem::path(r.path).filename().string());
      EXPECT_EQ(doc.path_name(), r.path);
      EXPECT_FALSE(doc.modified());
      continue;
    }
    EXPECT_FALSE(doc.is_open());
    const message_box_text box = load_failure_message(code, true);
    EXPECT_EQ(box.title, "Errore caricamento immagine");
    EXPECT_EQ(box.text, text(r.message, true));
  }
  EXPECT_EQ(load_failure_message(64, false).text, text(txt::s148_image_load_error, false));
  EXPECT_EQ(load_failure_message(65, true).text, text(txt::s143_image_format_error, true));
  EXPECT_EQ(load_failure_message(53, true).text,
            "La bitmap selezionata è in formato compresso.\nAl momento non è possibile aprire immagini bitmap "
            "compressi.");
}

TEST_F(ImageDocumentTest, AFileIsOpenInOneDocumentAtATime) {
  const std::string path = bmp("once.bmp", 16, 8, 24);
  auto first = std::make_unique<CIMGDocument>();
  ASSERT_EQ(first->open(path), 0);
  first->apply_filter(kFilterBlackWhite, kHalftoneDefault);
  EXPECT_EQ(CIMGDocument::find_open((dir_ / "." / "once.bmp").string()), first.get());

  // A second opening would make its working copy afresh over the first one's changes.
  CIMGDocument second;
  EXPECT_EQ(second.open(path), 49);
  EXPECT_FALSE(second.is_open());
  EXPECT_EQ(first->bit_count(), 1);
  ASSERT_TRUE(first->save());
  EXPECT_EQ(bits_on_disk(path), 1);

  // Nor does a conversion replace it.
  CIMGDocument photo;
  ASSERT_EQ(photo.open(jpg("once.jpg", 8, 8)), 0);
  EXPECT_EQ(photo.convert_to_bitmap(true), 49);
  EXPECT_TRUE(photo.is_jpeg());
  EXPECT_EQ(bits_on_disk(path), 1);

  first.reset();
  EXPECT_EQ(CIMGDocument::find_open(path), nullptr);
  EXPECT_EQ(second.open(path), 0);
  EXPECT_EQ(CIMGDocument::find_open(path), &second);
}

TEST_F(ImageDocumentTest, ConvertingAJpegContinuesAsABitmapOnTheFileBesideIt) {
  CIMGDocument doc;
  ASSERT_EQ(doc.open(jpg("shop.jpg", 40, 20)), 0);
  EXPECT_EQ(doc.properties(load_image_property_labels(config_))[10].value, "True color");
  doc.set_modified(true);
  ASSERT_EQ(doc.convert_to_bitmap(), 0);
  EXPECT_TRUE(doc.is_bitmap());
  EXPECT_EQ(doc.bit_count(), 24);
  EXPECT_EQ(doc.title(), "shop.bmp");
  EXPECT_EQ(doc.path_name(), (dir_ / "shop.bmp").string());
  EXPECT_EQ(doc.file_name(), (dir_ / "shop.bmp").string());
  EXPECT_FALSE(doc.modified());
  EXPECT_EQ(doc.dimensions(), (imaging::CSize{40, 20}));
  EXPECT_EQ(bits_on_disk(doc.file_name()), 24);
  EXPECT_EQ(doc.convert_to_bitmap(), 51) << "a bitmap is not converted again";

  // A bitmap already beside the JPEG is replaced only when the user agrees.
  CIMGDocument second;
  ASSERT_EQ(second.open(jpg("menu.jpg", 8, 8)), 0);
  const std::string existing = bmp("menu.bmp", 4, 4, 1);
  EXPECT_EQ(second.conversion_target(), existing);
  EXPECT_TRUE(second.conversion_replaces_file());
  EXPECT_EQ(second.replace_question(true).text,
            "Il file " + existing + " esiste già. Sostituirlo con l'immagine convertita?");
  EXPECT_EQ(second.convert_to_bitmap(), kConversionTargetExists);
  EXPECT_TRUE(second.is_jpeg());
  EXPECT_EQ(bits_on_disk(existing), 1) << "the other picture is left as it was";
  ASSERT_EQ(second.convert_to_bitmap(true), 0);
  EXPECT_TRUE(second.is_bitmap());
  EXPECT_EQ(bits_on_disk(existing), 24);

  // The title's extension is replaced only in lower case.
  CIMGDocument upper;
  ASSERT_EQ(upper.open(jpg("SHOP2.JPG", 8, 8)), 0);
  ASSERT_EQ(upper.convert_to_bitmap(), 0);
  EXPECT_EQ(upper.title(), "SHOP2.JPG");
  EXPECT_TRUE(upper.is_bitmap());
}

TEST_F(ImageDocumentTest, FiltersReachTheirDepthAndOnlyTheLongOnesReportProgress) {
  struct row {
    int filter;
    int source_bits;
    int bits_after;
    bool progress;
  };
  const row rows[] = {
      {kFilterGreyScale, 24, 24, false}, {kFilterBlackWhite, 24, 1, true}, {kFilterHalftone, 24, 1, true},
      {kFilter8Bpp, 24, 8, true},        {kFilterRed, 24, 1, false},
      // A filter that cannot handle the depth leaves the picture as it was.
      {kFilter8Bpp, 8, 8, true},         {kFilterBlackWhite, 1, 1, true},
  };
  int n = 0;
  for (const row& r : rows) {
    SCOPED_TRACE(::testing::Message() << "filter " << r.filter << " on " << r.source_bits << " bits");
    CIMGDocument doc;
    ASSERT_EQ(doc.open(bmp("f" + std::to_string(n++) + ".bmp", 64, 32, r.source_bits)), 0);
    int calls = 0;
    int last_done = -1, last_total = -1;
    doc.apply_filter(r.filter, kHalftoneDefault, [&](int done, int total) {
      ++calls;
      last_done = done;
      last_total = total;
    });
    EXPECT_EQ(doc.bit_count(), r.bits_after);
    EXPECT_TRUE(doc.modified());
    if (r.progress && r.bits_after != r.source_bits) {
      EXPECT_GT(calls, 1);
      EXPECT_EQ(last_done, last_total);
      EXPECT_GT(last_total, 0);
    }
    if (!r.progress) {
      EXPECT_EQ(calls, 0);
    }
  }

  // A JPEG is left alone.
  CIMGDocument photo;
  ASSERT_EQ(photo.open(jpg("photo.jpg", 16, 16)), 0);
  photo.apply_filter(kFilterBlackWhite, kHalftoneDefault);
  EXPECT_TRUE(photo.is_jpeg());
  EXPECT_FALSE(photo.modified());
}

TEST_F(ImageDocumentTest, HalftoneUsesTheChosenAlgorithm) {
  const auto halftoned = [&](const std::string& name, int type) {
    CIMGDocument doc;
    EXPECT_EQ(doc.open(bmp(name, 64, 16, 24)), 0);
    doc.apply_filter(kFilterHalftone, type);
    imaging::pixel_surface surface(64, 16);
    doc.draw(surface);
    return std::string(reinterpret_cast<const char*>(surface.row(0)), 64 * 16 * 3);
  };
  EXPECT_EQ(halftoned("a.bmp", kHalftoneStucki), halftoned("b.bmp", kHalftoneStucki));
  EXPECT_NE(halftoned("c.bmp", kHalftoneDefault), halftoned("d.bmp", kHalftoneStucki));
}

TEST_F(ImageDocumentTest, FilterJobRunsOnAWorkerThreadWithProgress) {
  CIMGDocument doc;
  ASSERT_EQ(doc.open(bmp("large.bmp", 300, 200, 24)), 0);
  std::set<std::thread::id> threads;
  int last_done = 0;
  {
    filter_job job(doc, kFilterHalftone, kHalftoneStucki, [&](int done, int) {
      threads.insert(std::this_thread::get_id());
      last_done = done;
    });
    EXPECT_EQ(job.filter(), kFilterHalftone);
    job.wait();
    EXPECT_TRUE(job.done());
  }
  EXPECT_EQ(doc.bit_count(), 1);
  EXPECT_EQ(last_done, 200);
  ASSERT_EQ(threads.size(), 1u);
  EXPECT_NE(*threads.begin(), std::this_thread::get_id());
}

TEST_F(ImageDocumentTest, ChangesStayInTheWorkingCopyUntilSaved) {
  CIMGDocument doc;
  const std::string path = bmp("work.bmp", 32, 16, 24);
  ASSERT_EQ(doc.open(path), 0);
  doc.apply_filter(kFilterBlackWhite, kHalftoneDefault);
  EXPECT_EQ(doc.file_name(), path);
  EXPECT_EQ(bits_on_disk(path), 24) << "the file on disk is what the printer gets";

  const std::string copy = (dir_ / "copy.bmp").string();
  ASSERT_TRUE(doc.save_as(copy));
  EXPECT_EQ(doc.title(), "copy.bmp");
  EXPECT_EQ(doc.path_name(), path) << "the document stays with the file first opened";
  EXPECT_FALSE(doc.modified());
  EXPECT_EQ(bits_on_disk(copy), 1);

  doc.apply_filter(kFilterRed, kHalftoneDefault);
  ASSERT_TRUE(doc.save());
  EXPECT_FALSE(doc.modified());
  EXPECT_EQ(bits_on_disk(path), 1);

  const message_box_text save = doc.save_question(true);
  EXPECT_EQ(save.title, "Save file - " + path);
  EXPECT_EQ(save.text, "Confermare l'operazione di salvataggio del documento attivo? \n");
  EXPECT_EQ(doc.close_question(true).title, "OnClose - " + path);

  EXPECT_EQ(save_as_folder(config_), std::filesystem::current_path().string() + "/");
  config_.set_string(kSectionSettings, "CurrentPath", dir_.path().string());
  EXPECT_EQ(save_as_folder(config_), dir_.path().string());

  // "Salva come..." does nothing for a JPEG.
  CIMGDocument photo;
  ASSERT_EQ(photo.open(jpg("photo.jpg", 8, 8)), 0);
  EXPECT_FALSE(photo.save_as((dir_ / "photo_copy.bmp").string()));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "photo_copy.bmp"));
  EXPECT_EQ(photo.title(), "photo.jpg");
}

TEST_F(ImageDocumentTest, PropertyRowsTakeTheLabelFileAndTheInfoHeader) {
  const std::vector<property_row> labels = load_image_property_labels(config_);
  ASSERT_EQ(labels.size(), 11u);
  EXPECT_EQ(labels[1].name, "Larghezza");
  for (const char* language : {"ENG", "eng", "FRA"}) {
    config_.set_string(kSectionSettings, "Language", language);
    const std::vector<property_row> english = load_image_property_labels(config_);
    ASSERT_EQ(english.size(), 11u) << language;
    EXPECT_EQ(english[1].name, "Width");
  }

  CIMGDocument doc;
  ASSERT_EQ(doc.open(bmp("p.bmp", 30, 10, 8)), 0);
  const std::vector<property_row> rows = doc.properties(labels);
  const char* expected[] = {"", "30 pixel", "10 pixel", "", "1", "8", "0", "320", "3780", "3780", "256"};
  for (std::size_t i = 0; i < 11; ++i) {
    EXPECT_EQ(rows[i].value, expected[i]) << "row " << i + 1;
    EXPECT_EQ(rows[i].name, labels[i].name);
  }

  CIMGDocument photo;
  ASSERT_EQ(photo.open(jpg("p.jpg", 21, 13)), 0);
  const std::vector<property_row> jrows = photo.properties(labels);
  EXPECT_EQ(jrows[1].value, "21 pixel");
  EXPECT_EQ(jrows[2].value, "13 pixel");
  EXPECT_EQ(jrows[5].value, "") << "rows without a JPEG value stay empty";
  EXPECT_EQ(jrows[10].value, "True color");
}

TEST(ImageResizeForm, ProportionsFollowTheStartingRatioWhileChecked) {
  resize_form f(imaging::CSize{300, 200});
  EXPECT_TRUE(f.keep_proportions());
  f.set_width(150);
  EXPECT_EQ(f.height(), 100u);
  f.set_height(50);
  EXPECT_EQ(f.width(), 75u);
  f.set_keep_proportions(false);
  f.set_width(10);
  EXPECT_EQ(f.height(), 50u) << "unchecked: the fields are independent";
  f.set_keep_proportions(true);
  f.set_width(30);
  EXPECT_EQ(f.height(), 20u) << "checked again: the starting ratio";

  // Truncation toward zero, and the spin buttons' limit.
  resize_form third(imaging::CSize{100, 30});
  third.set_width(10);
  EXPECT_EQ(third.height(), 3u);
  third.set_height(7);
  EXPECT_EQ(third.width(), 23u);
  third.set_height(20000);
  EXPECT_EQ(third.width(), resize_form::kMax);

  resize_form flat(imaging::CSize{10, 0});
  EXPECT_FALSE(flat.keep_proportions()) << "no height: no ratio";
}

TEST(ImageAlignment, ButtonsAreTestedLeftCentreRight) {
  struct row {
    bool left, center, right;
    std::int32_t value;
  };
  const row rows[] = {{false, false, false, -1}, {true, false, false, -1}, {false, true, false, -2},
                      {false, false, true, -3},  {true, true, true, -1},   {false, true, true, -2}};
  for (const row& r : rows) {
    EXPECT_EQ(bitmap_alignment(r.left, r.center, r.right), r.value) << r.left << r.center << r.right;
  }
}

TEST_F(ImageDocumentTest, GuideLinesNeedAConnectionOnceAndMarkTheTopRuler) {
  session s(config_, host_);
  CIMGDocument doc;
  ASSERT_EQ(doc.open(bmp("r.bmp", 310, 190, 24)), 0);
  image_window_state window;
  window.measure(doc);
  EXPECT_FALSE(window.rulers_visible());
  window.toggle_rulers();
  EXPECT_TRUE(window.rulers_visible());

  window.toggle_guide_lines(s, doc);
  EXPECT_FALSE(window.guide_lines());
  ASSERT_EQ(s.log().records().size(), 1u);
  EXPECT_EQ(s.log().records()[0].text, "(W) : Impossibile attivare le linee guida");
  EXPECT_EQ(s.log().records()[0].detail, "      L'operazione richiede una connessione attiva con la stampante.");

  ruler_scale top = window.top_ruler(200);
  EXPECT_EQ(top.length, 310);
  ASSERT_EQ(top.markers.size(), 1u);
  EXPECT_EQ(top.markers[0].position, 310);
  EXPECT_EQ(top.markers[0].blue, 255);
  ASSERT_EQ(top.labels.size(), 4u);
  EXPECT_EQ(top.labels[3].text, "300");
  EXPECT_TRUE(top.labels[3].erased) << "300 is 10 pixels from the width marker";
  EXPECT_FALSE(top.labels[2].erased);

  // A width read earlier is not read again: the lines come on without a connection.
  window.set_printable_width(205);
  window.toggle_guide_lines(s, doc);
  EXPECT_TRUE(window.guide_lines());
  EXPECT_EQ(s.log().records().size(), 1u);
  top = window.top_ruler(800);
  EXPECT_EQ(top.length, 800);
  ASSERT_EQ(top.markers.size(), 2u);
  EXPECT_EQ(top.markers[1].text, "205");
  EXPECT_EQ(top.markers[1].red, 255);
  EXPECT_TRUE(top.labels[2].erased) << "200 is 5 pixels from the printable-width marker";
  EXPECT_FALSE(top.labels[4].erased);

  const ruler_scale left = window.left_ruler(100);
  EXPECT_EQ(left.length, 190);
  ASSERT_EQ(left.markers.size(), 1u);
  ASSERT_EQ(left.labels.size(), 2u) << "labels at 0 and 100 only: 200 lies beyond the ruler's 190";
  EXPECT_FALSE(left.labels[1].erased);

  window.toggle_guide_lines(s, doc);
  EXPECT_FALSE(window.guide_lines());
  EXPECT_EQ(window.top_ruler(0).markers.size(), 1u);

  // A JPEG has no guide lines.
  CIMGDocument photo;
  ASSERT_EQ(photo.open(jpg("g.jpg", 8, 8)), 0);
  image_window_state other;
  other.set_printable_width(100);
  other.toggle_guide_lines(s, photo);
  EXPECT_FALSE(other.guide_lines());
}

TEST_F(ImageDocumentTest, GuideBandHatchesThePictureBeyondThePrintableWidth) {
  session s(config_, host_);
  CIMGDocument doc;
  const std::string path = (dir_ / "white.bmp").string();
  write_bmp(path, 40, 16, 24, [](int x, int) { return x < 30 ? 255 : 0; });
  ASSERT_EQ(doc.open(path), 0);
  image_window_state window;
  window.measure(doc);
  window.set_printable_width(10);
  window.toggle_guide_lines(s, doc);
  ASSERT_TRUE(window.guide_lines());
  imaging::pixel_surface surface(48, 20);
  window.draw(doc, surface);
  const auto grey = [&](int x, int y) { return surface.row(y)[3 * x]; };
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 48; ++x) {
      int expected;
      if (x >= 30 && x < 40 && y < 16) {
        expected = 0;  // black picture, black in any case
      } else if (x == 10 && y % 4 < 2) {
        expected = 0;  // the dotted border
      } else if (x >= 10 && x < 20 && (x + y) % 8 == 0) {
        expected = 128;  // the hatch
      } else {
        expected = 255;
      }
      ASSERT_EQ(grey(x, y), expected) << x << "," << y;
    }
  }
}

TEST_F(ImageDocumentTest, AScrolledDrawingIsThatPartOfTheWholeOne) {
  session s(config_, host_);
  const auto diagonal = [](int x, int y) { return (x * 7 + y * 13) % 256; };
  const std::string bitmap = (dir_ / "d.bmp").string();
  write_bmp(bitmap, 90, 50, 24, diagonal);
  const std::string photo = (dir_ / "d.jpg").string();
  ASSERT_TRUE(write_jpeg(photo, 90, 50, diagonal));
  for (const std::string& path : {bitmap, photo}) {
    SCOPED_TRACE(path);
    CIMGDocument doc;
    ASSERT_EQ(doc.open(path), 0);
    image_window_state window;
    window.measure(doc);
    window.set_printable_width(40);
    window.toggle_guide_lines(s, doc);
    EXPECT_EQ(window.guide_lines(), doc.is_bitmap());
    imaging::pixel_surface whole(100, 60);
    window.draw(doc, whole);
    const imaging::CPoint scroll{37, 11};
    imaging::pixel_surface part(50, 30);
    window.draw(doc, part, scroll);
    int differing = 0;
    for (int y = 0; y < part.height(); ++y) {
      for (int x = 0; x < 3 * part.width(); ++x) {
        if (part.row(y)[x] != whole.row(y + scroll.y)[3 * scroll.x + x]) ++differing;
      }
    }
    EXPECT_EQ(differing, 0);
  }
}

TEST_F(ImageDocumentTest, ResizingWarnsAboutTheWidthOnlyWithGuideLinesOn) {
  session s(config_, host_);
  CIMGDocument doc;
  ASSERT_EQ(doc.open(bmp("s.bmp", 100, 50, 24)), 0);
  image_window_state window;
  window.measure(doc);
  EXPECT_TRUE(window.resize(s, doc, {400, 200}));
  EXPECT_EQ(window.picture_size(), (imaging::CSize{400, 200}));
  EXPECT_TRUE(doc.modified());
  EXPECT_TRUE(s.log().records().empty());
  EXPECT_FALSE(window.resize(s, doc, {400, 200})) << "the same size is not resized";

  window.set_printable_width(288);
  window.toggle_guide_lines(s, doc);
  EXPECT_TRUE(window.resize(s, doc, {300, 150}));
  ASSERT_EQ(s.log().records().size(), 1u);
  EXPECT_EQ(s.log().records()[0].text, "(W) : Attenzione, l'ampiezza dell'immagine supera l'area di definizione di stampa.");
  EXPECT_EQ(s.log().records()[0].detail, "");
  EXPECT_TRUE(window.resize(s, doc, {288, 144}));
  EXPECT_EQ(s.log().records().size(), 1u) << "as wide as the printable width is fine";
  EXPECT_EQ(doc.dimensions(), (imaging::CSize{288, 144}));
}

}  // namespace
