// The print mechanism: characters into cells, cells into lines, lines onto the paper; page mode
// collects lines in a page buffer that is printed in one go.
#include "print_model.h"

#include <algorithm>

#include "code_tables.h"

namespace vprinter::detail {
namespace {

bitmap scaled(const bitmap& src, int sx, int sy) {
  if (sx == 1 && sy == 1) return src;
  bitmap out(src.width() * sx, src.height() * sy);
  for (int y = 0; y < out.height(); ++y)
    for (int x = 0; x < out.width(); ++x)
      if (src.get(x / sx, y / sy)) out.set(x, y);
  return out;
}

bitmap rotated_180(const bitmap& src) {
  bitmap out(src.width(), src.height());
  for (int y = 0; y < src.height(); ++y)
    for (int x = 0; x < src.width(); ++x)
      if (src.get(x, y)) out.set(src.width() - 1 - x, src.height() - 1 - y);
  return out;
}

// Turns an image a quarter clockwise.
bitmap rotated_cw(const bitmap& src) {
  bitmap out(src.height(), src.width());
  for (int y = 0; y < src.height(); ++y)
    for (int x = 0; x < src.width(); ++x)
      if (src.get(x, y)) out.set(src.height() - 1 - y, x);
  return out;
}

void blit(bitmap& dst, const bitmap& src, int at_x, int at_y) { dst.draw(src, at_x, at_y); }

// Everything a character cell's dots depend on besides the font itself.
std::uint64_t cell_key(std::uint8_t byte, const print_modes& m) {
  std::uint64_t k = byte;
  k = k << 1 | static_cast<std::uint64_t>(m.font & 1);
  k = k << 1 | static_cast<std::uint64_t>(m.bold);
  k = k << 2 | static_cast<std::uint64_t>(m.underline & 3);
  k = k << 1 | static_cast<std::uint64_t>(m.reverse);
  k = k << 1 | static_cast<std::uint64_t>(m.rotate90);
  k = k << 4 | static_cast<std::uint64_t>(m.width_scale & 15);
  k = k << 4 | static_cast<std::uint64_t>(m.height_scale & 15);
  k = k << 16 | static_cast<std::uint64_t>(m.char_spacing & 0xFFFF);
  k = k << 8 | static_cast<std::uint64_t>(m.code_table & 0xFF);
  return k;
}

// Cells kept for reuse; a printer rarely uses more than a few hundred combinations at once.
constexpr std::size_t kMaxKeptCells = 4096;

constexpr int kCutMarkRows = 2;
constexpr int kHriGap = 2;  // dots between bars and their text

}  // namespace

print_model::print_model(const config& cfg)
    : cfg_(cfg),
      font_a_(cell_font::for_cell(cfg.font_dir, cfg.font_a.width, cfg.font_a.height)),
      font_b_(cell_font::for_cell(cfg.font_dir, cfg.font_b.width, cfg.font_b.height)),
      paper_(cfg.paper_width_dots, 0) {
  initialise();
}

void print_model::initialise() {
  modes = print_modes{};
  modes.code_table = default_code_table;
  modes.line_spacing = cfg_.line_spacing_dots;
  modes.area_width = cfg_.paper_width_dots;
  modes.area_w = cfg_.paper_width_dots;
  modes.area_h = cfg_.page_length_dots;
  for (int t = 8; t <= 256; t += 8) modes.tabs.push_back(t);
  items_.clear();
  line_upside_down_ = false;
  drop_page();
}

void print_model::drop_page() {
  page_mode_ = false;
  page_dirty_ = false;
  page_ = bitmap();
  base_.reset();
  last_base_.reset();
  base_set_ = false;
  x_ = 0;
}

const cell_font& print_model::font(int f) const { return f == 1 ? *font_b_ : *font_a_; }

int print_model::hdots(int units) const {
  return modes.motion_x <= 0 ? units : (units * cfg_.dpi + modes.motion_x / 2) / modes.motion_x;
}

int print_model::vdots(int units) const {
  return modes.motion_y <= 0 ? units : (units * cfg_.dpi + modes.motion_y / 2) / modes.motion_y;
}

bool print_model::sideways() const { return page_mode_ && (modes.direction & 1) != 0; }

int print_model::along_dots(int units) const { return sideways() ? vdots(units) : hdots(units); }

int print_model::across_dots(int units) const { return sideways() ? hdots(units) : vdots(units); }

void print_model::load_code_table() {
  if (code_points_table_ == modes.code_table) return;
  code_points_ = code_table_points(modes.code_table);
  code_points_table_ = modes.code_table;
}

bitmap print_model::char_cell(std::uint8_t byte) {
  // The same character in the same modes always has the same dots: drawn once, then copied.
  const std::uint64_t key = cell_key(byte, modes);
  if (const auto kept = cells_.find(key); kept != cells_.end()) return kept->second;
  if (cells_.size() >= kMaxKeptCells) cells_.clear();
  return cells_.emplace(key, draw_cell(byte)).first->second;
}

bitmap print_model::draw_cell(std::uint8_t byte) {
  load_code_table();
  const cell_font& f = font(modes.font);
  const glyph& g = f.find(code_points_[byte]);
  bitmap cell(f.cell_width(), f.cell_height());
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x)
      if (g.get(x, y) || (modes.bold && g.get(x - 1, y))) cell.set(x, y);
  if (modes.rotate90) cell = rotated_cw(cell);
  cell = scaled(cell, modes.width_scale, modes.height_scale);

  // Right-side spacing belongs to the cell, so underline and reverse cover it too.
  const int spacing = modes.char_spacing * modes.width_scale;
  bitmap out(cell.width() + spacing, cell.height());
  blit(out, cell, 0, 0);
  if (modes.underline > 0 && !modes.rotate90)
    for (int y = out.height() - modes.underline; y < out.height(); ++y)
      for (int x = 0; x < out.width(); ++x) out.set(x, y);
  if (modes.reverse)
    for (int y = 0; y < out.height(); ++y)
      for (int x = 0; x < out.width(); ++x) out.set(x, y, !out.get(x, y));
  return out;
}

int print_model::logical_width() const {
  return (modes.direction & 1) ? modes.area_h : modes.area_w;
}

int print_model::logical_height() const {
  return (modes.direction & 1) ? modes.area_w : modes.area_h;
}

int print_model::line_width() const { return page_mode_ ? logical_width() : modes.area_width; }

void print_model::add_item(bitmap img) {
  if (x_ + img.width() > line_width() && !items_.empty()) {
    // The line is full: it is printed and the item starts the next one.
    line_feed();
  }
  if (items_.empty()) line_upside_down_ = modes.upside_down;
  const int w = img.width();
  items_.push_back({x_, std::move(img), modes.red});
  x_ += w;
}

void print_model::text(std::string_view bytes) {
  for (char c : bytes) add_item(char_cell(static_cast<std::uint8_t>(c)));
}

void print_model::tab() {
  const int column = (font(modes.font).cell_width() + modes.char_spacing) * modes.width_scale;
  for (int t : modes.tabs) {
    const int x = t * column;
    if (x > x_) {
      if (x <= line_width()) x_ = x;
      return;
    }
  }
}

bitmap print_model::compose_line(int width, ink_filter filter) const {
  int height = 0;
  for (const auto& it : items_) height = std::max(height, it.img.height());
  bitmap line(width, height);
  // Items stand on a common bottom line, as characters of mixed heights do.
  for (const auto& it : items_) {
    if ((filter == ink_filter::black && it.red) || (filter == ink_filter::red && !it.red)) continue;
    blit(line, it.img, it.x, height - it.img.height());
  }
  return line;
}

void print_model::blit_standard(const bitmap& line, int height) {
  make_room(y_ + height);
  paper_.grow_to(y_ + height);
  blit(paper_, line, 0, y_);
}

int print_model::draw_on_page(const bitmap& line, int top) {
  const int dx = modes.area_w, dy = modes.area_h;
  int clipped = 0;
  for (int v = 0; v < line.height(); ++v)
    for (int u = 0; u < line.width(); ++u) {
      if (!line.get(u, v)) continue;
      const int lu = u, lv = top + v;
      int px = lu, py = lv;
      switch (modes.direction & 3) {
        case 1: px = lv; py = dy - 1 - lu; break;
        case 2: px = dx - 1 - lu; py = dy - 1 - lv; break;
        case 3: px = dx - 1 - lv; py = lu; break;
        default: break;
      }
      if (px < 0 || py < 0 || px >= dx || py >= dy) {
        ++clipped;
        continue;
      }
      page_.set(modes.area_x + px, modes.area_y + py);
    }
  return clipped;
}

int print_model::flush_line() {
  if (items_.empty()) {
    x_ = 0;
    return 0;
  }
  int height = 0;
  int content = 0;
  for (const auto& it : items_) {
    height = std::max(height, it.img.height());
    content = std::max(content, it.x + it.img.width());
  }
  if (page_mode_) {
    bitmap line = compose_line(logical_width());
    // A line reached by feeding never reaches above the top of the area or the baseline of the
    // line before it (as in standard mode, where the feed is at least the line's height); a
    // position set by GS $ or GS \ is taken as it is.
    if (!base_) base_ = height;
    else if (!base_set_) base_ = std::max(*base_, last_base_.value_or(0) + height);
    if (draw_on_page(line, *base_ - height) > 0) notes_.push_back("page data outside the print area not printed");
    last_base_ = base_;
    page_dirty_ = true;
  } else {
    // Alignment moves the whole line within the print area; upside-down turns the line.
    int offset = 0;
    if (modes.alignment == 1) offset = std::max(0, (modes.area_width - content) / 2);
    if (modes.alignment == 2) offset = std::max(0, modes.area_width - content);
    for (auto& it : items_) it.x += offset;
    bitmap line = compose_line(modes.area_width, ink_filter::black);
    if (line_upside_down_) line = rotated_180(line);
    bitmap placed(cfg_.paper_width_dots, height);
    blit(placed, line, modes.left_margin, 0);
    blit_standard(placed, height);
    blit_red_line(modes.left_margin, height);
    ++lines_;
  }
  items_.clear();
  x_ = 0;
  return height;
}

void print_model::feed(int dots) {
  // Blank paper is only made when something is printed below it (or the paper is shown), so a
  // feed costs nothing however long it is.
  y_ += std::max(dots, 0);
  make_room(y_);
}

void print_model::make_room(int bottom) {
  // Paper reaching past its limit by a quarter is cut back to the limit: the oldest rows go, and
  // so do blank rows fed beyond the paper made so far.
  const int limit = cfg_.paper_limit_dots;
  if (limit <= 0 || bottom <= limit + limit / 4) return;
  const int drop = std::min(bottom - limit, y_);
  paper_.drop_top(std::min(drop, paper_.height()));
  red_paper_.drop_top(std::min(drop, red_paper_.height()));
  y_ -= drop;
  dropped_dots_ += drop;
}

void print_model::line_feed() {
  if (page_mode_) {
    const int h = flush_line();
    base_ = (base_ ? *base_ : h) + modes.line_spacing;
    base_set_ = false;
    return;
  }
  const int h = flush_line();
  feed(std::max(h, modes.line_spacing));
}

void print_model::print_and_feed(int dots) {
  if (page_mode_) {
    flush_line();
    base_ = base_.value_or(0) + dots;
    base_set_ = false;
    return;
  }
  // A printed line is never overprinted by the next one, whatever the feed asked.
  const int h = flush_line();
  feed(std::max(h, dots));
}

void print_model::print_and_feed_lines(int lines) {
  if (page_mode_) {
    flush_line();
    base_ = base_.value_or(0) + lines * modes.line_spacing;
    base_set_ = false;
    return;
  }
  const int h = flush_line();
  feed(std::max(h, lines * modes.line_spacing));
}

void print_model::cut(bool partial, int feed_dots) {
  if (page_mode_) {
    notes_.push_back("cut ignored in page mode");
    return;
  }
  if (line_pending()) line_feed();
  feed(feed_dots);
  make_room(y_ + kCutMarkRows);
  paper_.grow_to(y_ + kCutMarkRows);
  // A dashed line across the paper; a partial cut leaves the middle uncut.
  const int w = cfg_.paper_width_dots;
  for (int x = 0; x < w; ++x) {
    if (x % 12 >= 8) continue;
    if (partial && x > w / 2 - 24 && x < w / 2 + 24) continue;
    for (int r = 0; r < kCutMarkRows; ++r) paper_.set(x, y_ + r);
  }
  feed(kCutMarkRows + 2);
  ++cuts_;
}

void print_model::set_x(int dots) {
  if (dots >= 0 && dots <= line_width()) x_ = dots;
}

void print_model::move_x(int dots) {
  const int x = x_ + dots;
  if (x >= 0 && x <= line_width()) x_ = x;
}

void print_model::image(const bitmap& img, int scale_x, int scale_y) {
  bitmap big = scaled(img, std::max(scale_x, 1), std::max(scale_y, 1));
  if (page_mode_) {
    add_item(std::move(big));
    return;
  }
  if (line_pending()) {
    notes_.push_back("image with a line pending: the line was printed first");
    line_feed();
  }
  const int h = big.height();
  line_upside_down_ = modes.upside_down;
  items_.push_back({0, std::move(big)});
  flush_line();
  feed(h);
}

void print_model::image_planes(const bitmap& black, const bitmap& red, int scale_x, int scale_y) {
  if (page_mode_ || red.count() == 0) {
    // Page mode keeps one plane: the red dots print black there.
    bitmap both(std::max(black.width(), red.width()), std::max(black.height(), red.height()));
    blit(both, black, 0, 0);
    blit(both, red, 0, 0);
    image(both, scale_x, scale_y);
    return;
  }
  if (line_pending()) {
    notes_.push_back("image with a line pending: the line was printed first");
    line_feed();
  }
  bitmap big_black = scaled(black, std::max(scale_x, 1), std::max(scale_y, 1));
  bitmap big_red = scaled(red, std::max(scale_x, 1), std::max(scale_y, 1));
  const int h = std::max(big_black.height(), big_red.height());
  line_upside_down_ = modes.upside_down;
  items_.push_back({0, std::move(big_black), false});
  items_.push_back({0, std::move(big_red), true});
  flush_line();
  feed(h);
}

void print_model::line_image(const bitmap& img) { add_item(img); }

void print_model::barcode(const barcode_symbol& symbol) {
  const auto widths = barcode_widths_in_dots(symbol, modes.barcode_module);
  int bars_w = 0;
  for (int w : widths) bars_w += w;
  const cell_font& f = font(modes.hri_font);
  const int text_w = static_cast<int>(symbol.text.size()) * f.cell_width();
  if (bars_w > line_width()) {
    notes_.push_back("bar code wider than the print area: not printed");
    return;
  }
  const bool above = (modes.hri_position & 1) != 0;
  const bool below = (modes.hri_position & 2) != 0;
  const int hri_h = f.cell_height() + kHriGap;
  const int bars_h = modes.barcode_height;
  const int width = std::max(bars_w, std::min(text_w, line_width()));
  bitmap out(width, bars_h + (above ? hri_h : 0) + (below ? hri_h : 0));
  const int top = above ? hri_h : 0;
  const int left = (width - bars_w) / 2;
  int x = left;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    if (i % 2 == 0)
      for (int dx = 0; dx < widths[i]; ++dx)
        for (int y = 0; y < bars_h; ++y) out.set(x + dx, top + y);
    x += widths[i];
  }
  auto put_text = [&](int y0) {
    load_code_table();
    int x = (width - text_w) / 2;
    for (char c : symbol.text) {
      const glyph& g = f.find(code_points_[static_cast<std::uint8_t>(c)]);
      for (int gy = 0; gy < g.height; ++gy)
        for (int gx = 0; gx < g.width; ++gx)
          if (g.get(gx, gy)) out.set(x + gx, y0 + gy);
      x += f.cell_width();
    }
  };
  if (above) put_text(0);
  if (below) put_text(top + bars_h + kHriGap);
  image(out, 1, 1);
}

void print_model::text_block(const std::vector<std::string>& lines) {
  for (const auto& l : lines) {
    text(l);
    line_feed();
  }
}

void print_model::enter_page_mode() {
  if (page_mode_) return;
  if (line_pending()) line_feed();
  page_mode_ = true;
  page_dirty_ = false;
  page_ = bitmap(cfg_.paper_width_dots, modes.area_y + modes.area_h);
  base_.reset();
  last_base_.reset();
  base_set_ = false;
  x_ = 0;
}

void print_model::print_page(bool leave) {
  if (!page_mode_) return;
  flush_line();
  int last = -1;
  for (int y = page_.height() - 1; y >= 0 && last < 0; --y)
    if (page_.count(0, y, page_.width(), y + 1) > 0) last = y;
  if (last >= 0) {
    // The page is printed down to its last inked row.
    make_room(y_ + last + 1);
    paper_.grow_to(y_ + last + 1);
    for (int y = 0; y <= last; ++y)
      for (int x = 0; x < page_.width(); ++x)
        if (page_.get(x, y)) paper_.set(x, y_ + y);
    feed(last + 1);
    ++lines_;
  }
  if (leave) drop_page();
}

void print_model::leave_page_mode() {
  if (!page_mode_) return;
  if (page_dirty_ || line_pending()) notes_.push_back("page mode left with ESC S: unprinted page data discarded");
  items_.clear();
  drop_page();
}

void print_model::cancel_page() {
  if (!page_mode_) return;
  items_.clear();
  x_ = 0;
  for (int y = modes.area_y; y < modes.area_y + modes.area_h; ++y)
    for (int x = modes.area_x; x < modes.area_x + modes.area_w; ++x) page_.set(x, y, false);
  page_dirty_ = page_.count() > 0;
}

void print_model::set_print_area(int x, int y, int w, int h) {
  if (w <= 0 || h <= 0) {
    notes_.push_back("print area with zero width or height ignored");
    return;
  }
  x = std::clamp(x, 0, cfg_.paper_width_dots - 1);
  w = std::min(w, cfg_.paper_width_dots - x);
  if (page_mode_) flush_line();
  modes.area_x = x;
  modes.area_y = std::max(y, 0);
  modes.area_w = w;
  modes.area_h = h;
  if (page_mode_) {
    page_.grow_to(modes.area_y + modes.area_h);
    base_.reset();
    last_base_.reset();
    base_set_ = false;
  }
}

void print_model::set_direction(int d) {
  if (page_mode_) flush_line();
  modes.direction = d & 3;
  base_.reset();
  last_base_.reset();
  base_set_ = false;
  x_ = 0;
}

void print_model::set_page_y(int dots) {
  if (!page_mode_) return;
  const int x = x_;
  flush_line();
  x_ = x;
  base_ = dots;
  base_set_ = true;
}

void print_model::move_page_y(int dots) {
  if (!page_mode_) return;
  const int x = x_;
  flush_line();
  x_ = x;
  base_ = base_.value_or(0) + dots;
  base_set_ = true;
}

void print_model::blit_red_line(int offset, int height) {
  if (std::none_of(items_.begin(), items_.end(), [](const item& it) { return it.red; })) return;
  bitmap line = compose_line(modes.area_width, ink_filter::red);
  if (line_upside_down_) line = rotated_180(line);
  if (red_paper_.width() == 0) red_paper_ = bitmap(cfg_.paper_width_dots, 0);
  red_paper_.grow_to(y_ + height);
  blit(red_paper_, line, offset, y_);
}

bitmap print_model::red_paper_image() const { return red_paper_; }

bitmap print_model::paper_image() const {
  bitmap out = paper_;
  out.grow_to(y_);
  return out;
}

std::vector<std::string> print_model::take_notes() {
  std::vector<std::string> out;
  out.swap(notes_);
  return out;
}

}  // namespace vprinter::detail
