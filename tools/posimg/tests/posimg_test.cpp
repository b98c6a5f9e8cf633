// posimg: arguments and their one-line refusals, conversions of each input format through each
// filter, whole-or-nothing output, and info in text and JSON.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/filters.h"
#include "imaging/image.h"
#include "platform/testing/temp_dir.h"
#include "posimg.h"
#include "tests/bmp_maker.h"
#include "tests/encoders.h"

namespace posimg {
namespace {

namespace fs = std::filesystem;
using imaging::test::bmp_spec;
using imaging::test::make_bmp;
using imaging::test::read_file;
using imaging::test::write_file;

struct result {
  int code;
  std::string out;
  std::string err;
};

result call(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = run(args, out, err);
  return {code, out.str(), err.str()};
}

std::uint32_t u32(const std::string& bytes, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, bytes.data() + at, 4);
  return v;
}

std::int32_t i32(const std::string& bytes, std::size_t at) { return static_cast<std::int32_t>(u32(bytes, at)); }

int bit_count(const std::string& bmp) { return static_cast<unsigned char>(bmp[28]); }

bmp_spec colour_picture(int width, int height) {
  bmp_spec s;
  s.width = width;
  s.height = height;
  s.pixel = [](int x, int y) {
    return imaging::test::bgr(static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 5), static_cast<std::uint8_t>(x ^ y));
  };
  return s;
}

class PosimgTest : public ::testing::Test {
 protected:
  fs::path file(const std::string& name) const { return dir_ / name; }
  platform::testing::temp_dir dir_;
};

TEST_F(PosimgTest, HelpAndRefusedArgumentsGiveOneLineAndExit2) {
  const result help = call({"--help"});
  EXPECT_EQ(help.code, kExitOk);
  EXPECT_NE(help.out.find("usage: posimg info FILE [--json]"), std::string::npos);
  EXPECT_NE(help.out.find("--halftone[=KERNEL]"), std::string::npos);
  const struct {
    std::vector<std::string> args;
    const char* out;  // expected start of the output
  } answers[] = {
      {{"-h"}, "usage: posimg info FILE [--json]"},
      {{"convert", "--help"}, "usage: posimg info FILE [--json]"},
      {{"info", "--help"}, "usage: posimg info FILE [--json]"},
      {{"--version"}, "posimg (poskit) "},
  };
  for (const auto& a : answers) {
    SCOPED_TRACE(a.args.front());
    const result r = call(a.args);
    EXPECT_EQ(r.code, kExitOk);
    EXPECT_TRUE(r.out.starts_with(a.out)) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
  }

  write_file(file("in.bmp"), make_bmp(colour_picture(4, 4)));
  const std::string in = file("in.bmp").string();
  const std::string out = file("out.bmp").string();
  const std::vector<std::vector<std::string>> refused = {
      {},
      {"shrink", in},
      {"info"},
      {"info", in, in},
      {"info", in, "--xml"},
      {"convert", in},
      {"convert", in, out, "--bw", "--red"},
      {"convert", in, out, "--halftone=atkinson"},
      {"convert", in, out, "--resize", "0x5"},
      {"convert", in, out, "--resize", "12"},
      {"convert", in, out, "--resize", "70000x70000"},
      {"convert", in, out, "--resize"},
      {"convert", in, out, "--fit-width", "-3"},
      {"convert", in, out, "--fit-width", "wide"},
      {"convert", in, out, "--sharpen"},
      {"convert", in, file("folder/").string()},
      {"--bogus"},
      {"--version=2"},
      {"info", in, "--json=yes"},
      {"convert", in, out, "--fit-width=wide"},
      {"convert", in, out, "--resize=0x5"},
      {"convert", in, out, "--halftone=", "--bw"},
  };
  for (const auto& args : refused) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    const result r = call(args);
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_TRUE(r.err.starts_with("posimg: "));
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_TRUE(r.out.empty());
  }
  EXPECT_FALSE(fs::exists(out));

  const struct {
    std::vector<std::string> args;
    const char* err;
  } worded[] = {
      {{"--bogus"}, "posimg: unknown option --bogus (see posimg --help)\n"},
      {{"info", in, "--xml"}, "posimg: info: unknown option --xml (see posimg --help)\n"},
      {{"convert", in, out, "--fit-width"}, "posimg: convert: --fit-width needs a value (see posimg --help)\n"},
      {{"convert", in, out, "--fit-width=wide"},
       "posimg: --fit-width needs a positive number of dots, not \"wide\" (see posimg --help)\n"},
      {{"convert", in, out, "--bw", "--halftone=stucki"},
       "posimg: only one filter at a time (\"--halftone=stucki\") (see posimg --help)\n"},
  };
  for (const auto& w : worded) {
    SCOPED_TRACE(w.err);
    const result r = call(w.args);
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_EQ(r.err, w.err);
  }
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(PosimgTest, BadPicturesExit2AndLeaveAnExistingOutputAlone) {
  bmp_spec compressed = colour_picture(4, 4);
  compressed.compression = 1;
  write_file(file("rle.bmp"), make_bmp(compressed));
  write_file(file("text.bmp"), "not a picture\n");
  write_file(file("empty.png"), "");
  write_file(file("broken.jpg"), std::string("\xFF\xD8\xFF\xE0", 4) + "garbage");
  write_file(file("out.bmp"), "old content");
  struct row {
    const char* in;
    const char* says;
  };
  const row rows[] = {
      {"rle.bmp", "compressed"},          {"text.bmp", "is not a BMP, JPEG or PNG"},
      {"empty.png", "is empty"},          {"broken.jpg", "cannot be decoded"},
      {"missing.bmp", "cannot be read"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.in);
    for (const char* filter : {"--halftone", "--gray"}) {
      const result res = call({"convert", file(r.in).string(), file("out.bmp").string(), filter});
      EXPECT_EQ(res.code, kExitUsage);
      EXPECT_NE(res.err.find(r.says), std::string::npos) << res.err;
      EXPECT_EQ(std::count(res.err.begin(), res.err.end(), '\n'), 1);
    }
    EXPECT_EQ(call({"info", file(r.in).string()}).code, kExitUsage);
  }
  // The JPEG that cannot be decoded also fails on the direct path.
  EXPECT_EQ(call({"convert", file("broken.jpg").string(), file("out.bmp").string()}).code, kExitUsage);
  EXPECT_EQ(read_file(file("out.bmp")), "old content");
  // Nothing but the pictures themselves is left in the folder.
  for (const auto& e : fs::directory_iterator(dir_.path())) EXPECT_EQ(e.path().string().find(".XXX"), std::string::npos);
}

TEST_F(PosimgTest, HalftoneOutputIsTheLibrarysDiffusionOfTheLuminance) {
  const bmp_spec s = colour_picture(13, 6);
  write_file(file("in.bmp"), make_bmp(s));
  const std::string input = read_file(file("in.bmp"));
  const result r = call({"convert", file("in.bmp").string(), file("out.bmp").string(), "--halftone=stucki"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(read_file(file("in.bmp")), input);
  const std::string out = read_file(file("out.bmp"));
  ASSERT_EQ(out.substr(0, 2), "BM");
  EXPECT_EQ(u32(out, 2), out.size());
  EXPECT_EQ(u32(out, 10), 62u);
  EXPECT_EQ(bit_count(out), 1);
  EXPECT_EQ(i32(out, 18), 13);
  EXPECT_EQ(i32(out, 22), 6);
  std::vector<std::uint8_t> grey;
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 13; ++x) {
      const std::uint32_t v = s.pixel(x, y);
      grey.push_back(imaging::luminance(static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)));
    }
  }
  imaging::halftone_grey(grey, 13, 6, imaging::kHalftoneStucki, [&](int y, const std::uint8_t* values) {
    for (int x = 0; x < 13; ++x) {
      const auto byte = static_cast<unsigned char>(out[62 + 4 * static_cast<std::size_t>(y) + static_cast<std::size_t>(x / 8)]);
      EXPECT_EQ((byte >> (7 - x % 8)) & 1, values[x]) << x << "," << y;
    }
  });
}

TEST_F(PosimgTest, EachFilterGivesItsDepthAndSizingKeepsProportions) {
  write_file(file("in.bmp"), make_bmp(colour_picture(40, 10)));
  struct row {
    std::vector<std::string> options;
    int bits;
    int width;
    int height;
  };
  const row rows[] = {
      {{}, 24, 40, 10},
      {{"--gray"}, 24, 40, 10},
      {{"--bw"}, 1, 40, 10},
      {{"--halftone"}, 1, 40, 10},
      {{"--red"}, 1, 40, 10},
      {{"--8bpp"}, 8, 40, 10},
      {{"--fit-width", "16"}, 24, 16, 4},
      {{"--fit-width", "100"}, 24, 40, 10},
      {{"--resize", "8x3", "--halftone=burkes"}, 1, 8, 3},
      {{"--resize=8x3", "--halftone=sierra"}, 1, 8, 3},
      {{"--fit-width=16", "--bw"}, 1, 16, 4},
  };
  for (const row& r : rows) {
    std::vector<std::string> args = {"convert", file("in.bmp").string(), file("out.bmp").string()};
    args.insert(args.end(), r.options.begin(), r.options.end());
    SCOPED_TRACE(r.options.empty() ? "as it is" : r.options[0]);
    const result res = call(args);
    ASSERT_EQ(res.code, kExitOk) << res.err;
    const std::string out = read_file(file("out.bmp"));
    EXPECT_EQ(bit_count(out), r.bits);
    EXPECT_EQ(i32(out, 18), r.width);
    EXPECT_EQ(std::abs(i32(out, 22)), r.height);
    EXPECT_EQ(u32(out, 2), out.size());
  }
  // --red writes red as colour 0.
  ASSERT_EQ(call({"convert", file("in.bmp").string(), file("red.bmp").string(), "--red"}).code, kExitOk);
  const std::string red = read_file(file("red.bmp"));
  EXPECT_EQ(red.substr(54, 8), std::string("\x00\x00\xFF\x00\xFF\xFF\xFF\x00", 8));
}

TEST_F(PosimgTest, JpegAndPngInputs) {
  ASSERT_TRUE(imaging::test::write_jpeg(file("photo.JPG").string(), 30, 20, [](int x, int, std::uint8_t* rgb) {
    rgb[0] = rgb[1] = rgb[2] = static_cast<std::uint8_t>(x * 8);
  }));
  ASSERT_TRUE(imaging::test::write_png(file("logo.png").string(), 12, 5, [](int x, int, std::uint8_t* rgb) {
    rgb[0] = rgb[1] = rgb[2] = x < 6 ? 0 : 255;
  }));
  // Straight from the decoder: 24 bits, bottom-up, the picture's size.
  result r = call({"convert", file("photo.JPG").string(), file("photo.bmp").string()});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  std::string out = read_file(file("photo.bmp"));
  EXPECT_EQ(bit_count(out), 24);
  EXPECT_EQ(i32(out, 18), 30);
  EXPECT_EQ(i32(out, 22), 20);
  EXPECT_EQ(u32(out, 2), out.size());

  r = call({"convert", file("photo.JPG").string(), file("photo1.bmp").string(), "--halftone", "--fit-width", "15"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  out = read_file(file("photo1.bmp"));
  EXPECT_EQ(bit_count(out), 1);
  EXPECT_EQ(i32(out, 18), 15);
  EXPECT_EQ(i32(out, 22), 10);

  r = call({"convert", file("logo.png").string(), file("logo.bmp").string(), "--bw"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  out = read_file(file("logo.bmp"));
  EXPECT_EQ(bit_count(out), 1);
  EXPECT_EQ(i32(out, 22), -5);  // rows top first, as the PNG has them
  EXPECT_EQ(static_cast<unsigned char>(out[62]), 0x03);  // black left half, white right half
  EXPECT_EQ(static_cast<unsigned char>(out[63]), 0xF0);

  r = call({"info", file("photo.JPG").string(), "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out, "{\"file\":\"" + file("photo.JPG").string() +
                       "\",\"format\":\"jpeg\",\"width\":30,\"height\":20,\"bits\":24,\"colours\":0,\"top_down\":false,"
                       "\"pixel_width\":30,\"pixel_height\":20}\n");
  r = call({"info", file("logo.png").string()});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.out.find("format: png\n"), std::string::npos);
  EXPECT_NE(r.out.find("width: 12\nheight: 5\nbits: 24\n"), std::string::npos);
}

TEST_F(PosimgTest, AnOutputThatCannotBeWrittenExits1AndLeavesNothing) {
  write_file(file("in.bmp"), make_bmp(colour_picture(4, 4)));
  for (const char* filter : {"--bw", "--gray"}) {
    const result r = call({"convert", file("in.bmp").string(), file("no/such/folder/out.bmp").string(), filter});
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos);
  }
  ASSERT_TRUE(imaging::test::write_jpeg(file("p.jpg").string(), 4, 4, [](int, int, std::uint8_t* rgb) { rgb[0] = rgb[1] = rgb[2] = 9; }));
  EXPECT_EQ(call({"convert", file("p.jpg").string(), file("no/out.bmp").string()}).code, kExitFailed);
}

TEST_F(PosimgTest, TheProgramExitsWithItsCodes) {
  // Through the real executable: status, and a single line on standard error.
  write_file(file("in.bmp"), make_bmp(colour_picture(4, 4)));
  const std::string cmd = std::string(POSIMG_PATH) + " convert " + file("in.bmp").string() + " " +
                          file("o.bmp").string() + " --halftone=nope 2>" + file("err.txt").string();
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kExitUsage);
  EXPECT_EQ(read_file(file("err.txt")), "posimg: unknown halftone kernel \"nope\" (floyd, burkes, sierra, stucki) (see posimg --help)\n");
  const int ok = std::system((std::string(POSIMG_PATH) + " convert " + file("in.bmp").string() + " " + file("o.bmp").string() + " --bw").c_str());
  EXPECT_EQ(WEXITSTATUS(ok), kExitOk);
  EXPECT_EQ(bit_count(read_file(file("o.bmp"))), 1);
}

}  // namespace
}  // namespace posimg
