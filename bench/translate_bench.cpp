// Speed of the escape-sequence translator on a 64 KiB receipt with 2,000 sequences: the single
// left-to-right pass against the restart method (replace one sequence everywhere by whole-text
// substitution, then search again from the start), written here only as the baseline.
#include "printer/esc_parser.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using namespace devsvc;

constexpr std::size_t kTextBytes = 64 * 1024;
constexpr int kSequences = 2000;

translate_context receipt_context() {
  translate_context c;
  c.rec_line_spacing = 30;
  c.units = {0.125, 0.004926, 7, 0.125};
  c.top_logo = "LOGO";
  return c;
}

// A receipt of about 64 KiB with kSequences escape sequences. `distinct` of them differ from each
// other (feeds of 1 to 2,000 dots); the others repeat ten usual styling sequences, which the
// restart method replaces all at once.
std::string receipt(int distinct) {
  static const char* const kStyled[] = {"\x1B|bC", "\x1B|N", "\x1B|cA", "\x1B|2C", "\x1B|1uC", "\x1B|rA",
                                        "\x1B|N", "\x1B|4C", "\x1B|2fT", "\x1B|rvC"};
  std::vector<std::string> sequences;
  std::size_t sequence_bytes = 0;
  for (int i = 0; i < kSequences; ++i) {
    sequences.push_back(i < distinct ? "\x1B|" + std::to_string(i + 1) + "uF" : std::string(kStyled[i % 10]));
    sequence_bytes += sequences.back().size();
  }
  // Receipt lines between the sequences fill the rest of the 64 KiB, cut at a character boundary.
  const std::string lines = "2 x Caf\xC3\xA9 cr\xC3\xA8me         7,00 \xE2\x82\xAC\n"
                            "1 x Grissini                2,50 \xE2\x82\xAC\n";
  std::size_t filler = (kTextBytes - sequence_bytes) / kSequences;
  while (filler > 0 && (static_cast<unsigned char>(lines[filler % lines.size()]) & 0xC0) == 0x80) --filler;
  std::string chunk;
  while (chunk.size() < filler) chunk += lines;
  chunk.resize(filler);
  std::string text;
  text.reserve(kTextBytes);
  for (const std::string& sequence : sequences) {
    text += sequence;
    text += chunk;
  }
  return text;
}

// The restart method.
translate_result restart_translate(std::string text, const CEscParser& parser, const translate_context& context) {
  for (;;) {
    const std::size_t p = text.find(parser.prefix());
    if (p == std::string::npos) break;
    std::size_t at = p + parser.prefix().size();
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    const std::string_view rest = std::string_view(text).substr(at);
    const EscTemplate* match = nullptr;
    for (const EscTemplate& t : parser.templates()) {
      if (rest.starts_with(t.suffix())) {
        match = &t;
        break;
      }
    }
    if (match == nullptr) return {kTranslateBadSequence, {}};
    const std::string sequence = text.substr(p, at + match->suffix().size() - p);
    std::string bytes;
    if (match->supported) {
      translate_result one = parser.Translate(sequence, translate_mode::translate, context);
      if (one.result != kTranslateOk) return {one.result, {}};
      bytes = std::move(one.text);
    }
    std::string replaced;
    std::size_t from = 0;
    for (std::size_t hit; (hit = text.find(sequence, from)) != std::string::npos; from = hit + sequence.size()) {
      replaced.append(text, from, hit - from);
      replaced += bytes;
    }
    replaced.append(text, from);
    text = std::move(replaced);
  }
  return {kTranslateOk, std::move(text)};
}

void report(benchmark::State& state, const std::string& text) {
  const double kib = static_cast<double>(text.size()) / 1024.0;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
  // Seconds per KiB of receipt text.
  state.counters["time_per_KiB"] =
      benchmark::Counter(kib, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_translate_single_pass(benchmark::State& state) {
  const std::string text = receipt(static_cast<int>(state.range(0)));
  const CEscParser parser = CEscParser::for_printer();
  const translate_context context = receipt_context();
  const int codepage = static_cast<int>(state.range(1));
  for (auto _ : state) {
    translate_result r = parser.Translate(text, translate_mode::translate, context, codepage);
    if (r.result != kTranslateOk) state.SkipWithError("translation failed");
    benchmark::DoNotOptimize(r.text.data());
  }
  report(state, text);
}
BENCHMARK(BM_translate_single_pass)
    ->ArgNames({"distinct", "codepage"})
    ->Args({10, 0})
    ->Args({2000, 0})
    ->Args({2000, 1252});

void BM_translate_restart_baseline(benchmark::State& state) {
  const std::string text = receipt(static_cast<int>(state.range(0)));
  const CEscParser parser = CEscParser::for_printer();
  const translate_context context = receipt_context();
  for (auto _ : state) {
    translate_result r = restart_translate(text, parser, context);
    if (r.result != kTranslateOk) state.SkipWithError("translation failed");
    benchmark::DoNotOptimize(r.text.data());
  }
  report(state, text);
}
BENCHMARK(BM_translate_restart_baseline)->ArgNames({"distinct"})->Arg(10)->Arg(2000)->Unit(benchmark::kMillisecond);

// Both methods give the same bytes for this receipt; a benchmark of different outputs is useless.
void BM_outputs_agree(benchmark::State& state) {
  const std::string text = receipt(2000);
  const CEscParser parser = CEscParser::for_printer();
  const translate_context context = receipt_context();
  for (auto _ : state) {
    if (parser.Translate(text, translate_mode::translate, context).text != restart_translate(text, parser, context).text) {
      state.SkipWithError("single pass and restart method differ");
    }
  }
}
BENCHMARK(BM_outputs_agree)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
