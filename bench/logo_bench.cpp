// The logo utility's picture work on a photo-sized picture: loading the file, the conversion the
// window runs after every settings change (fit to 560 dots, then QuorelImg per colour mode with
// and without error diffusion), and the planes and definition bytes of a download.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "logo/image_library.h"

namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 800;

void put(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A 24-bit bitmap file of smooth colour gradients with a dark diagonal band.
std::string gradient_file() {
  const std::uint32_t stride = (kWidth * 3 + 3) / 4 * 4;
  std::string out = "BM";
  put(out, 54 + stride * kHeight, 4);
  put(out, 0, 4);
  put(out, 54, 4);
  put(out, 40, 4);
  put(out, kWidth, 4);
  put(out, kHeight, 4);
  put(out, 1, 2);
  put(out, 24, 2);
  for (int i = 0; i < 6; ++i) put(out, 0, 4);
  for (int y = 0; y < kHeight; ++y) {
    std::string row(stride, '\0');
    for (int x = 0; x < kWidth; ++x) {
      const bool band = std::abs(x - y) < 60;
      row[static_cast<std::size_t>(x) * 3] = static_cast<char>(band ? 20 : x * 255 / kWidth);
      row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<char>(band ? 20 : y * 255 / kHeight);
      row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<char>(band ? 20 : 255 - x * 255 / kWidth);
    }
    out += row;
  }
  return out;
}

const std::string& file() {
  static const std::string bytes = gradient_file();
  return bytes;
}

logo::dib source() {
  return *logo::load_bitmap_bytes(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(file().data()), file().size()),
                                  "bench.bmp")
              .picture;
}

logo::image_library& library() {
  static std::unique_ptr<logo::image_library> lib = [] {
    std::string error;
    auto loaded = logo::image_library::load_file(QUOREL_IMG_LIBRARY_PATH, error);
    if (!loaded) std::abort();
    loaded->SetCurrentPath(QUOREL_IMG_TABLES_DIR);
    return loaded;
  }();
  return *lib;
}

void BM_LoadBitmap(benchmark::State& state) {
  for (auto _ : state) {
    auto loaded = logo::load_bitmap_bytes(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(file().data()), file().size()), "bench.bmp");
    benchmark::DoNotOptimize(loaded.picture);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file().size()));
}
BENCHMARK(BM_LoadBitmap)->Unit(benchmark::kMillisecond);

void BM_FitToPaper(benchmark::State& state) {
  const logo::dib picture = source();
  for (auto _ : state) benchmark::DoNotOptimize(logo::stretch_halftone(picture, 560, 373));
}
BENCHMARK(BM_FitToPaper)->Unit(benchmark::kMillisecond);

// Arguments: colour mode, diffusion.
void BM_ConvertLogo(benchmark::State& state) {
  const logo::dib picture = source();
  logo::logo_settings settings;
  settings.paper_width_dots = 560;
  settings.mode = static_cast<int>(state.range(0));
  settings.diffusion = state.range(1) != 0;
  settings.fit = true;
  for (auto _ : state) {
    auto result = logo::convert_logo(library(), picture, settings);
    if (!result.preview) state.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_ConvertLogo)
    ->ArgsProduct({{logo::kModeBlackWhite, logo::kModeTwoColors, logo::kModeColor}, {0, 1}})
    ->ArgNames({"mode", "diffusion"})
    ->Unit(benchmark::kMillisecond);

void BM_PlanesAndDefinition(benchmark::State& state) {
  logo::logo_settings settings;
  settings.paper_width_dots = 560;
  settings.mode = logo::kModeTwoColors;
  settings.diffusion = true;
  settings.fit = true;
  const auto converted = logo::convert_logo(library(), source(), settings);
  std::string error;
  const auto table = logo::colour_table::read(logo::colour_table_path(QUOREL_IMG_TABLES_DIR, converted.colour_table), error);
  if (!converted.preview || !table) {
    state.SkipWithError("no preview or colour table");
    return;
  }
  for (auto _ : state) {
    const auto planes = logo::logo_planes(*converted.preview, *table, settings.mode);
    benchmark::DoNotOptimize(logo::commands::define_logo("00", planes, false));
  }
}
BENCHMARK(BM_PlanesAndDefinition)->Unit(benchmark::kMillisecond);

}  // namespace
