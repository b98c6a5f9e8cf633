// Fuzz target of the escape-sequence translator: arbitrary bytes as the text of PrintNormal,
// prepared as the printer service object prepares it (binary conversion, code page, printer
// state from the input's first bytes). Besides crashes and sanitizer reports it stops when the
// result is not an OPOS code of the translator, or when the printer bytes grow beyond what the
// text can ask for.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/printer_text.h"
#include "printer/print_data.h"
#include "require.h"

namespace {

constexpr std::int32_t kCodePages[] = {0, 437, 850, 852, 858, 860, 863, 865, 866, 1252, 997, 998, 999};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  devsvc::translate_context context;
  context.h_scale = data[0] & 7;
  context.v_scale = (data[0] >> 3) & 7;
  context.font = 1 + (data[0] >> 7);
  context.rec_lines_to_paper_cut = data[1] % 20;
  context.rec_line_spacing = data[2];
  context.map_mode = 1 + data[1] / 64;
  context.units = {0.125, 0.004926, 7, 0.125};
  context.top_logo = "\x1B|bCTOP<NID>";
  context.bottom_logo = "BOTTOM";
  context.pre_print_bitmap = [](std::int32_t n) -> std::optional<std::string> {
    if (n == 1) return std::string("\x1B\x61\x01");
    return std::nullopt;
  };
  const std::int32_t conversion = data[3] % 3;
  const std::int32_t code_page = kCodePages[data[3] / 3 % std::size(kCodePages)];
  const std::string_view text(reinterpret_cast<const char*>(data + 4), size - 4);

  // The one-colour and the two-colour printer's translators, chosen by a bit of the first byte.
  static const devsvc::CEscParser one_colour = devsvc::CEscParser::for_printer();
  static const devsvc::CEscParser two_colour = devsvc::CEscParser::for_two_colour_printer();
  const devsvc::CEscParser& parser = (data[0] & 0x80) != 0 ? two_colour : one_colour;
  context.bmp_mode = static_cast<std::int32_t>(data[2] % 6) - 1;
  const devsvc::prepared_text prepared = devsvc::Prepare(text, conversion, code_page, parser, context);
  require(prepared.result == 0 || prepared.result == 106 || prepared.result == 111);
  if (prepared.result != 0) {
    require(prepared.text.empty());
  } else {
    // Each sequence is at least three characters and gives at most about a metre of feed
    // commands (32 of 3 bytes); logos and text add their own length.
    const std::string bytes = devsvc::text_to_bytes(prepared.text);
    require(bytes.size() <= 40 * text.size() + 64);
  }
  const devsvc::validation checked = devsvc::validate_data(text, conversion, parser, context);
  require(checked.result == prepared.result || !checked.store);
  return 0;
}
