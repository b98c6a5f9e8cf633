// Throughput of the UTF-8 <-> code page converters on receipt-like text.
#include "platform/codepage.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr std::size_t kTextBytes = 64 * 1024;

// 64 KiB of receipt lines: mostly ASCII, with accented letters, the euro sign, box drawing,
// Cyrillic and a few characters that no printer code page has.
std::string mixed_text() {
  static const char* const kLines[] = {
      "2 x Café crème            7,00 €\n",
      "1 x Grüße aus München    12,50 €\n",
      "┌───┐ TOTAL 19,50\n",
      "Привет, 日本 😀\n",
      "Thank you for shopping with us - please come again!\n",
  };
  std::string text;
  for (std::size_t i = 0; text.size() < kTextBytes; ++i) text += kLines[i % 5];
  // Cut back to the last whole line so the text stays well-formed UTF-8.
  text.resize(text.rfind('\n', kTextBytes - 1) + 1);
  return text;
}

void BM_utf8_to_codepage(benchmark::State& state) {
  const std::string text = mixed_text();
  const int codepage = static_cast<int>(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(platform::utf8_to_codepage(text, codepage));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_utf8_to_codepage)->Arg(1252)->Arg(858)->Arg(866);

void BM_codepage_to_utf8(benchmark::State& state) {
  const std::string bytes = platform::utf8_to_codepage(mixed_text(), 858);
  for (auto _ : state) {
    benchmark::DoNotOptimize(platform::codepage_to_utf8(bytes, 858));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_codepage_to_utf8);

}  // namespace
