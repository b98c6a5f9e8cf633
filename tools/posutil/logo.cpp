// posutil logo: the logo window's model without a window. The printer is found and identified as
// the printer browser does, then the model lists, downloads, prints or deletes logos. Its
// questions are answered without a person: the deletion's confirmation is the command itself
// (Yes), every other question Cancel (after the model's own silent retries), so a logo that does
// not fit in the memory fails with the printer's message. Messages go to stderr.
#include <ostream>
#include <string>
#include <vector>

#include "logo/image_library.h"
#include "logo/logo_form.h"
#include "platform/cli.h"
#include "platform/com.h"
#include "printer_commands.h"

namespace posutil {
namespace {

constexpr char kLogoHelp[] =
    "Usage: posutil logo list PRINTER [--json]\n"
    "       posutil logo download PRINTER FILE.bmp [--key KK] [--width DOTS] [--colors bw|two|color]\n"
    "                             [--fit] [--diffusion] [--app-dir DIR]\n"
    "       posutil logo print PRINTER KEY...|--all\n"
    "       posutil logo delete PRINTER KEY...|--all\n"
    "Lists, stores, prints and deletes the logos of a printer as the logo window does.\n"
    "\n"
    "  list      the stored logos' keys and the logo memory (total, free, used in bytes)\n"
    "  download  converts FILE.bmp and stores it; --key gives its key (default: the first free one),\n"
    "            --width the paper width in dots and --colors the colours (default: the printer's\n"
    "            first choices), --fit fits it to the paper width, --diffusion diffuses the error.\n"
    "            The image library and its colour tables are taken from --app-dir (default: this\n"
    "            program's folder). A printer of numbered bit images (identification 32 or 10)\n"
    "            gets the picture as its only image.\n"
    "  print     prints the stored logos KEY... (--all: every logo the printer holds)\n"
    "  delete    deletes the stored logos KEY... (--all: every one)\n"
    "\n"
    "A question of the printer link (time-out, busy) is answered Cancel; not enough memory for the\n"
    "logo fails with the message. Exit status: 0 done, 1 failed (one line says why), 2 bad usage.\n";

constexpr platform::cli::option kLogoOptions[] = {
    {"json", 0, platform::cli::kFlag, "", "print JSON"},
    {"key", 0, platform::cli::kValue, "KK", "the logo's key"},
    {"width", 0, platform::cli::kValue, "DOTS", "paper width in dots"},
    {"colors", 0, platform::cli::kValue, "bw|two|color", "colours"},
    {"fit", 0, platform::cli::kFlag, "", "fit to paper width"},
    {"diffusion", 0, platform::cli::kFlag, "", "error diffusion"},
    {"app-dir", 0, platform::cli::kValue, "DIR", "folder of the image library and colour tables"},
    {"all", 0, platform::cli::kFlag, "", "every stored logo"},
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
};

// The logo window for a console: as the printer commands', but the deletion's confirmation is
// answered Yes.
class logo_console final : public console_ui {
 public:
  using console_ui::console_ui;
  utilities::box_answer ask(const std::string& text, utilities::box_buttons buttons, utilities::box_icon icon) override {
    if (buttons == utilities::box_buttons::yes_no && text.rfind("Are you sure you want to delete", 0) == 0) {
      return utilities::box_answer::yes;
    }
    return console_ui::ask(text, buttons, icon);
  }
};

// The printer, identified, and the logo window's model over its link.
struct logo_session {
  explicit logo_session(std::ostream& err) : ui(err) {}
  logo_console ui;
  std::unique_ptr<utilities::start_form_model> browser;
  std::unique_ptr<logo::image_library> library;
  std::unique_ptr<logo::logo_form_model> model;
  ~logo_session() {
    model.reset();
    if (browser) browser->link().drop_channel();
  }
};

// Finds and identifies `printer` and runs the start inquiry; false (the reason told) on failure.
bool open_session(const context& ctx, const std::string& printer, const std::filesystem::path& app_dir,
                  logo_session& s) {
  s.browser = make_model(ctx, s.ui);
  s.browser->load();
  const utilities::tree_node* node = find_printer_or_report(ctx, *s.browser, printer);
  if (node == nullptr) return false;
  const std::optional<utilities::printer_identity> id = s.browser->identify_printer(node->key);
  if (!id) return false;
  if (logo::storage_family_of(id->id) == logo::storage_family::none) {
    ctx.err << "posutil: " << printer << " keeps no logos (identification " << id->id << ")\n";
    return false;
  }
  logo::logo_form_environment env;
  env.id = id->id;
  env.model = id->model;
  env.title = "posutil";
  env.app_path = app_dir;
  std::string error;
  s.library = logo::image_library::load(app_dir, error);
  if (s.library) s.library->SetCurrentPath(app_dir.string());
  env.library = s.library.get();
  s.model = std::make_unique<logo::logo_form_model>(s.ui, s.browser->link(), env);
  return s.model->start_inquiry();
}

// The entries holding `keys`, selected; false (the reason told) when one is not stored.
bool select_keys(const context& ctx, logo::logo_form_model& m, const std::vector<std::string>& keys) {
  m.select_none();
  for (const std::string& key : keys) {
    bool found = false;
    for (std::size_t i = 0; i < m.entries().size(); ++i) {
      if (m.entries()[i].stored && m.entries()[i].key == key) {
        m.set_selected(i, true);
        found = true;
      }
    }
    if (!found) {
      ctx.err << "posutil: the printer holds no logo " << key << "\n";
      return false;
    }
  }
  return true;
}

int logo_list(const context& ctx, logo_session& s, bool json) {
  const logo::logo_form_model& m = *s.model;
  std::vector<std::string> keys;
  for (const logo::logo_entry& e : m.entries()) keys.push_back(e.key);
  const bool known = m.family() == logo::storage_family::nv_graphics &&
                     m.memory_free_text() != logo::kMemoryFailed && m.memory_free_text() != logo::kMemoryUnknown;
  const long free = known ? std::stol(m.memory_free_text()) : 0;
  const long used = known ? std::stol(m.memory_used_text()) : 0;
  if (json) {
    ctx.out << "{\"id\":" << m.environment().id << ",\"keys\":[";
    for (std::size_t i = 0; i < keys.size(); ++i) ctx.out << (i ? "," : "") << json_string(keys[i]);
    ctx.out << "]";
    if (known) ctx.out << ",\"total\":" << free + used << ",\"free\":" << free << ",\"used\":" << used;
    ctx.out << "}\n";
  } else {
    ctx.out << "keys";
    for (const std::string& k : keys) ctx.out << " " << k;
    ctx.out << "\n";
    if (known) ctx.out << "total " << free + used << "\nfree " << free << "\nused " << used << "\n";
  }
  // A printer of the NV graphics family that did not tell its memory failed.
  return m.family() == logo::storage_family::nv_graphics && !known ? kExitFailure : kExitOk;
}

int logo_download(const context& ctx, logo_session& s, const platform::cli::parsed& p) {
  logo::logo_form_model& m = *s.model;
  const int id = m.environment().id;
  const std::size_t index = m.entries().size();
  m.add_pictures({p.operands[2]});
  if (m.entries().size() == index) return kExitFailure;
  logo::entry_settings settings = m.entries()[index].settings;
  if (p.has("width")) {
    const std::vector<logo::paper_width> widths = logo::paper_widths(id);
    const auto it = std::find_if(widths.begin(), widths.end(),
                                 [&](const logo::paper_width& w) { return std::to_string(w.dots) == p.value("width"); });
    if (it == widths.end()) {
      std::string offered;
      for (const logo::paper_width& w : widths) offered += " " + std::to_string(w.dots);
      ctx.err << "posutil: this printer takes the paper widths" << offered << ", not " << p.value("width") << "\n";
      return kExitFailure;
    }
    settings.paper_width_dots = it->dots;
  }
  if (p.has("colors")) {
    const std::string c = p.value("colors");
    const int code = c == "two" ? logo::kModeTwoColours : c == "color" ? logo::kModeColour : logo::kModeBlackWhite;
    const std::vector<logo::colour_mode> modes = logo::colour_modes(id);
    if (std::none_of(modes.begin(), modes.end(), [&](const logo::colour_mode& mode) { return mode.code == code; })) {
      ctx.err << "posutil: this printer does not print " << c << "\n";
      return kExitFailure;
    }
    settings.colour_mode = code;
  }
  settings.fit = p.has("fit");
  settings.diffusion = p.has("diffusion");
  m.set_settings(index, settings);
  if (!m.entries()[index].has_preview) return kExitFailure;
  if (p.has("key") && !m.set_key(index, p.value("key"))) {
    ctx.err << "posutil: a key is two printable characters, not " << p.value("key") << "\n";
    return kExitFailure;
  }
  m.select_none();
  m.set_selected(index, true);
  if (!m.download()) {
    ctx.err << "posutil: " << p.operands[2] << " was not stored\n";
    return kExitFailure;
  }
  if (m.family() == logo::storage_family::nv_graphics) {
    ctx.out << "stored as " << m.entries()[index].key << "\n";
  } else {
    ctx.out << "stored as image 1\n";
  }
  return kExitOk;
}

}  // namespace

int run_logo(const context& ctx, const std::vector<std::string>& args) {
  platform::cli::parsed p;
  std::string problem;
  if (!platform::cli::parse(kLogoOptions, args, p, problem)) return usage_error(ctx, "logo: " + problem);
  if (p.has("help")) {
    ctx.out << kLogoHelp;
    return kExitOk;
  }
  if (p.operands.empty()) return usage_error(ctx, "logo: no command given (see posutil logo --help)");
  const std::string job = p.operands[0];
  // Which options and operands each job takes.
  struct row {
    const char* name;
    std::vector<std::string_view> options;
    std::size_t min_operands;
    std::size_t max_operands;  // 0: any number
  };
  const row jobs[] = {
      {"list", {"json"}, 2, 2},
      {"download", {"key", "width", "colors", "fit", "diffusion", "app-dir"}, 3, 3},
      {"print", {"all"}, 2, 0},
      {"delete", {"all"}, 2, 0},
  };
  const auto r = std::find_if(std::begin(jobs), std::end(jobs), [&](const row& j) { return job == j.name; });
  if (r == std::end(jobs)) return usage_error(ctx, "logo: unknown command " + job + " (see posutil logo --help)");
  for (const auto& [name, value] : p.options) {
    if (std::find(r->options.begin(), r->options.end(), name) == r->options.end())
      return usage_error(ctx, "logo " + job + " takes no --" + name);
  }
  if (p.operands.size() < 2) return usage_error(ctx, "logo " + job + ": no PRINTER given");
  if (p.operands.size() < r->min_operands) return usage_error(ctx, "logo " + job + ": no FILE given");
  if (r->max_operands != 0 && p.operands.size() > r->max_operands)
    return usage_error(ctx, "logo " + job + ": unexpected " + p.operands[r->max_operands]);
  const bool all = p.has("all");
  if ((job == "print" || job == "delete") && all == (p.operands.size() > 2))
    return usage_error(ctx, "logo " + job + ": give KEY... or --all");
  if (job == "download" && p.has("colors") && p.value("colors") != "bw" && p.value("colors") != "two" &&
      p.value("colors") != "color")
    return usage_error(ctx, "logo download: --colors is bw, two or color, not " + p.value("colors"));
  if (job == "download" && p.has("key") && p.value("key").size() != 2)
    return usage_error(ctx, "logo download: --key is two characters, not " + p.value("key"));

  logo_session s(ctx.err);
  const std::filesystem::path app_dir = p.has("app-dir") ? std::filesystem::path(p.value("app-dir")) : program_folder();
  if (!open_session(ctx, p.operands[1], app_dir, s)) return kExitFailure;
  logo::logo_form_model& m = *s.model;
  const std::vector<std::string> keys(p.operands.begin() + 2, p.operands.end());
  if (job == "list") return logo_list(ctx, s, p.has("json"));
  if (job == "download") return logo_download(ctx, s, p);
  if (job == "print") {
    if (all) return m.print_all() ? kExitOk : kExitFailure;
    if (!select_keys(ctx, m, keys)) return kExitFailure;
    return m.print() ? kExitOk : kExitFailure;
  }
  if (all) return m.delete_all() ? kExitOk : kExitFailure;
  if (!select_keys(ctx, m, keys)) return kExitFailure;
  return m.delete_selected() ? kExitOk : kExitFailure;
}

}  // namespace posutil
