// Fuzz target of the virtual printer: arbitrary bytes as what a host sends, in two writes, to a
// printer whose paper is limited. Besides crashes and sanitizer reports it stops when the printer
// breaks a bound it promises (paper length, answers waiting) or stops printing afterwards.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vprinter/virtual_printer.h"
#include "require.h"

namespace {

constexpr int kPaperLimit = 4000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // One printer for every input (loading its fonts is slow), switched off and on before each, as
  // the daemon serves one host after another.
  static vprinter::virtual_printer printer([] {
    vprinter::config cfg;
    cfg.paper_limit_dots = kPaperLimit;
    cfg.keep_capture = false;
    cfg.clock_ms = [] { return std::uint64_t{0}; };
    return cfg;
  }());
  printer.clear_faults();
  printer.power_cycle();
  printer.new_host();
  printer.read(1u << 20);

  // Two writes, split where the first byte says, as a transport may split them.
  const std::size_t split = size > 0 ? data[0] % (size + 1) : 0;
  for (const std::string_view part : {bytes.substr(0, split), bytes.substr(split)}) {
    std::string_view rest = part;
    for (int tries = 0; !rest.empty() && tries < 64; ++tries) {
      const vprinter::accept_result r = printer.accept(rest);
      if (r.status != vprinter::link_status::ok) break;
      rest.remove_prefix(r.accepted);
    }
  }
  require(printer.answer_bytes_pending() <= (64u << 10));
  printer.read(1u << 20);
  // The paper may exceed its limit by what one feed or image adds before the oldest is dropped.
  require(printer.paper().height() <= 2 * kPaperLimit + 70000);

  // Switched off and on, the printer prints again.
  printer.clear_faults();
  printer.power_cycle();
  printer.new_host();
  printer.read(1u << 20);
  // (Counted in lines: the paper itself may be cut to its limit meanwhile.)
  const int before = printer.state().lines_printed;
  printer.accept(std::string("\x1B\x3D\x01\x1B\x40") + "still printing\n");
  require(printer.state().lines_printed > before);
  return 0;
}
