// The printer's setup block, written as the printer lists its settings: folders (":"), hidden
// folders ("÷", for the factory's settings), option groups (";" and the selected index before
// "|"), values read-only ("=") or editable ("±") with their text ("ª"), one hexadecimal digit
// ("¹") or up to nine ("²"); a token before "«" is a remark the editor drops.
#include "setup_block.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <initializer_list>

namespace vprinter::detail {
namespace {

constexpr setup_slot kSlots[kSetupSlotCount] = {
    /* kBaudRate */ {setup_kind::selection, false, 5, "1"},
    /* kParity */ {setup_kind::selection, false, 3, "0"},
    /* kDataBits */ {setup_kind::selection, false, 2, "1"},
    /* kHandshake */ {setup_kind::selection, false, 2, "0"},
    /* kInterfaceTest */ {setup_kind::selection, false, 2, "0"},
    /* kDensity */ {setup_kind::selection, false, 7, "3"},
    /* kPaperWidth */ {setup_kind::selection, false, 2, "1"},
    /* kCodePage */ {setup_kind::selection, false, 12, "0"},
    /* kHeadEnergy */ {setup_kind::selection, false, 2, "0"},
    /* kPrintSpeed */ {setup_kind::selection, false, 3, "2"},
    /* kBurnIn */ {setup_kind::selection, false, 2, "0"},
    /* kTestMode */ {setup_kind::selection, false, 2, "0"},
    /* kCutterErrors */ {setup_kind::digit, false, 15, "2"},
    /* kAutoCutter */ {setup_kind::selection, false, 2, "1"},
    /* kCutType */ {setup_kind::selection, false, 2, "1"},
    /* kBuzzer */ {setup_kind::selection, false, 2, "1"},
    /* kBeepTime */ {setup_kind::number, false, 5000, "200"},
    /* kFreeBytes */ {setup_kind::number, true, 0, "0"},
    /* kStartLogo */ {setup_kind::text, false, 24, "none"},
    /* kGraphicsMemory */ {setup_kind::selection, false, 3, "2"},
    /* kReceiveBuffer */ {setup_kind::selection, false, 2, "1"},
    /* kSerialNumber */ {setup_kind::text, true, 0, ""},
    /* kLinesPrinted */ {setup_kind::number, true, 0, "0"},
    /* kCuts */ {setup_kind::number, true, 0, "0"},
    /* kShopName */ {setup_kind::text, false, 24, "KORVANE"},
};

// ESC t tables of the code-page options, in the order the block lists them.
constexpr std::array<int, 12> kCodeTables = {0, 1, 2, 3, 4, 5, 16, 17, 18, 19, 40, 45};

// Bytes that separate tokens in a setup block (and NUL, which ends a download): a text holding
// one would break the block the printer sends next.
bool is_separator(unsigned char c) {
  switch (c) {
    case 0x00: case 0x21: case 0x24: case 0x3A: case 0x3B: case 0x3D: case 0x5B: case 0x5D:
    case 0x7C: case 0xAA: case 0xAB: case 0xB1: case 0xB2: case 0xB9: case 0xF7:
      return true;
    default:
      return false;
  }
}

std::string hex_upper(unsigned long long v, int min_digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%0*llX", min_digits, v);
  return buf;
}

// Decimal digits only, at most 10 of them; the value in `out`.
bool decimal(std::string_view s, long long& out) {
  if (s.empty() || s.size() > 10) return false;
  out = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

long long number_of(const std::string& v) {
  long long n = 0;
  return decimal(v, n) ? n : 0;
}

// Writes the tokens of a body and remembers the order of its selections and values.
class body_writer {
 public:
  body_writer(const std::vector<std::string>& values, const setup_live& live, std::vector<int>* order)
      : values_(values), live_(live), order_(order) {}

  void token(std::string_view text, char separator) {
    out_ += text;
    out_ += separator;
  }
  void root(std::string_view name) { token(name, '!'); }
  void folder(std::string_view name) { token(name, ':'); }
  void hidden(std::string_view name) { token(name, '\xF7'); }
  void down() { out_ += '['; }
  void up() { out_ += ']'; }
  void remark(std::string_view text) { token(text, '\xAB'); }

  // An option group of the last folder with its selected index.
  void options(int slot, std::initializer_list<std::string_view> names) {
    for (auto n : names) token(n, ';');
    token(hex_upper(static_cast<unsigned long long>(number_of(value(slot))), 1), '|');
    if (order_) order_->push_back(slot);
  }
  // A folder holding one option group.
  void group(std::string_view name, int slot, std::initializer_list<std::string_view> names, bool hide = false) {
    hide ? hidden(name) : folder(name);
    down();
    options(slot, names);
    up();
  }
  void value(std::string_view name, int slot) {
    const setup_slot& s = kSlots[slot];
    token(name, s.read_only ? '=' : '\xB1');
    switch (s.kind) {
      case setup_kind::digit: token(hex_upper(static_cast<unsigned long long>(number_of(value(slot))), 1), '\xB9'); break;
      case setup_kind::number: token(hex_upper(static_cast<unsigned long long>(number_of(value(slot))), 1), '\xB2'); break;
      default: token(value(slot), '\xAA'); break;
    }
    if (order_) order_->push_back(slot);
  }

  std::string take() { return std::move(out_); }

 private:
  // The current value of a slot; the read-only ones come from the printer's counters.
  std::string value(int slot) const {
    switch (slot) {
      case kFreeBytes: return std::to_string(std::max(0LL, live_.free_bytes));
      case kSerialNumber: return clean(live_.serial_number);
      case kLinesPrinted: return std::to_string(std::max(0LL, live_.lines_printed));
      case kCuts: return std::to_string(std::max(0LL, live_.cuts));
      default: return static_cast<std::size_t>(slot) < values_.size() ? values_[slot] : kSlots[slot].initial;
    }
  }
  // A configured text without separators, so that it cannot break the block.
  static std::string clean(std::string text) {
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return is_separator(static_cast<unsigned char>(c)); }),
               text.end());
    return text.substr(0, 24);
  }

  const std::vector<std::string>& values_;
  const setup_live& live_;
  std::vector<int>* order_;
  std::string out_;
};

void memory_folder(body_writer& w) {
  w.folder("Memory");
  w.down();
  w.value("Free bytes", kFreeBytes);
  w.value("Start-up logo", kStartLogo);
  w.group("Graphics memory", kGraphicsMemory, {"64 KB", "128 KB", "256 KB"});
  w.group("Receive buffer", kReceiveBuffer, {"45 bytes", "4 KB"});
  w.up();
}

}  // namespace

const setup_slot& setup_slot_of(int id) { return kSlots[id]; }

unsigned setup_checksum(std::string_view bytes) {
  unsigned sum = 0;
  for (char c : bytes) sum += static_cast<unsigned char>(c);
  return sum & 0xFFFF;
}

int setup_code_table(int selection) {
  return selection >= 0 && selection < static_cast<int>(kCodeTables.size()) ? kCodeTables[static_cast<std::size_t>(selection)] : 0;
}

std::string setup_body(bool full, const std::vector<std::string>& values, const setup_live& live,
                       std::vector<int>* order) {
  body_writer w(values, live, order);
  w.token(kSetupIdentifier, '$');
  if (!full) {
    w.root("VX40 memory");
    memory_folder(w);
    return w.take();
  }
  w.root("VX40");
  w.folder("Communication");
  w.down();
  w.group("Baud rate", kBaudRate, {"9600", "19200", "38400", "57600", "115200"});
  w.group("Parity", kParity, {"None", "Even", "Odd"});
  w.group("Data bits", kDataBits, {"7 bits", "8 bits"});
  w.group("Handshake", kHandshake, {"DTR/DSR", "XON/XOFF"});
  w.group("Interface test", kInterfaceTest, {"Off", "Loop-back"}, true);
  w.up();

  w.folder("Printing");
  w.down();
  w.group("Print density", kDensity, {"70%", "80%", "90%", "100%", "110%", "120%", "130%"});
  w.group("Paper width", kPaperWidth, {"58 mm", "80 mm"});
  w.group("Code page", kCodePage,
          {"PC437", "Katakana", "PC850", "PC860", "PC863", "PC865", "WPC1252", "PC866", "PC852", "PC858",
           "ISO 8859-15", "WPC1250"});
  w.group("Head energy", kHeadEnergy, {"Standard", "High"}, true);
  w.group("Print speed", kPrintSpeed, {"Low", "Medium", "High"});  // visible again
  w.up();

  // Factory settings: a hidden folder with folders of its own, none of them shown.
  w.hidden("Factory");
  w.down();
  w.group("Burn-in", kBurnIn, {"Off", "On"});
  w.group("Test mode", kTestMode, {"Off", "On"});
  w.up();

  w.folder("Cutter");
  w.down();
  w.value("Cutter errors", kCutterErrors);  // set to 0 to clear the count
  w.group("Auto cutter", kAutoCutter, {"Disabled", "Enabled"});
  w.group("Cut type", kCutType, {"Full cut", "Partial cut"});
  w.up();

  w.folder("Buzzer");
  w.down();
  w.options(kBuzzer, {"Off", "On"});
  w.value("Beep time (ms)", kBeepTime);
  w.up();

  memory_folder(w);

  w.folder("Information");
  w.down();
  w.remark("block release 2");
  w.value("Serial number", kSerialNumber);
  w.value("Lines printed", kLinesPrinted);
  w.value("Cuts", kCuts);
  w.value("Shop name", kShopName);
  w.up();
  return w.take();
}

std::string setup_block(char kind, const std::vector<std::string>& values, const setup_live& live, bool corrupt) {
  const std::string body = setup_body(kind == 'a', values, live);
  const unsigned sum = setup_checksum(body);
  std::string block = "\x1B} ";
  block += kind;
  block += body;
  block += hex_upper(corrupt ? (sum + 1) & 0xFFFF : sum, 4);
  block += '\0';
  return block;
}

download_result take_setup_download(std::string_view command, std::vector<std::string>& values, std::string* why) {
  auto refuse = [&](download_result r, std::string text) {
    if (why) *why = std::move(text);
    return r;
  };
  // ESC } a|m, the body, four hexadecimal digits, NUL.
  if (command.size() < 3 + 4 + 1 || command.back() != '\0') return refuse(download_result::checksum_error, "no checksum");
  const bool full = command[2] == 'a';
  const std::string_view body = command.substr(3, command.size() - 3 - 5);
  const std::string_view field = command.substr(command.size() - 5, 4);
  unsigned given = 0;
  for (char c : field) {
    const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return refuse(download_result::checksum_error, "checksum field is not hexadecimal");
    given = given * 16 + static_cast<unsigned>(d);
  }
  if (given != setup_checksum(body)) return refuse(download_result::checksum_error, "checksum error");

  const std::size_t dollar = body.find('$');
  if (dollar == std::string_view::npos || body.substr(0, dollar) != kSetupIdentifier)
    return refuse(download_result::identifier_mismatch, "identifier does not match");

  std::vector<int> order;
  setup_body(full, values, setup_live{}, &order);
  std::vector<std::string_view> items;
  std::string_view rest = body.substr(dollar + 1);
  while (!rest.empty()) {
    const std::size_t bar = rest.find('|');
    if (bar == std::string_view::npos) return refuse(download_result::refused, "item without its separator");
    items.push_back(rest.substr(0, bar));
    rest.remove_prefix(bar + 1);
  }
  if (items.size() != order.size())
    return refuse(download_result::refused, std::to_string(items.size()) + " items for " + std::to_string(order.size()) + " settings");

  std::vector<std::string> next = values;
  next.resize(kSetupSlotCount);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const int id = order[i];
    const setup_slot& s = kSlots[id];
    const std::string_view item = items[i];
    if (s.read_only) continue;  // the printer's own counters; what the editor sends back is ignored
    const std::string where = "item " + std::to_string(i + 1);
    if (s.kind == setup_kind::text) {
      if (item.size() > static_cast<std::size_t>(s.limit))
        return refuse(download_result::refused, where + ": text longer than " + std::to_string(s.limit));
      if (std::any_of(item.begin(), item.end(), [](char c) { return is_separator(static_cast<unsigned char>(c)); }))
        return refuse(download_result::refused, where + ": text holds a separator");
      next[id] = std::string(item);
      continue;
    }
    long long n = 0;
    if (!decimal(item, n)) return refuse(download_result::refused, where + ": not a decimal number");
    const bool fits = s.kind == setup_kind::selection ? n < s.limit : n <= s.limit;
    if (!fits) return refuse(download_result::refused, where + ": " + std::string(item) + " is out of range");
    next[id] = std::to_string(n);
  }
  values = std::move(next);
  return download_result::stored;
}

}  // namespace vprinter::detail
