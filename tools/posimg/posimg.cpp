// posimg: the command line over the image library. Pictures are read where they are and
// worked on in a private scratch folder; the output appears whole or not at all.
#include "posimg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string_view>

#include "imaging/filters.h"
#include "imaging/image.h"
#include "imaging/picture.h"
#include "platform/cli.h"

namespace posimg {
namespace {

using namespace imaging;

constexpr std::string_view kHelp =
    "usage: posimg info FILE [--json]\n"
    "       posimg convert IN OUT.bmp [FILTER] [--resize WxH] [--fit-width DOTS]\n"
    "       posimg --help | --version\n"
    "\n"
    "Reads BMP (uncompressed, 1 to 32 bits per pixel), JPEG and PNG pictures; writes BMP.\n"
    "\n"
    "  info FILE               format, size in pixels, bits per pixel, colours; a JPEG's size\n"
    "                          at 96 dpi from its density. --json: one JSON object.\n"
    "  convert IN OUT          IN as a bitmap (a JPEG at its size at 96 dpi, a PNG over white),\n"
    "                          resized, then filtered:\n"
    "    --gray                grey scale (in place: 4, 8, 16 and 24 bits keep their depth)\n"
    "    --bw                  black and white, white where grey >= 128 (1 bit)\n"
    "    --halftone[=KERNEL]   black and white by error diffusion (1 bit); KERNEL is floyd\n"
    "                          (the default), burkes, sierra or stucki\n"
    "    --8bpp                8 bits per pixel with an octree palette of up to 256 colours\n"
    "    --red                 red and white (1 bit)\n"
    "    --resize WxH          scale to W x H pixels (rows and columns dropped or repeated)\n"
    "    --fit-width DOTS      scale down, keeping the proportions, to at most DOTS wide\n"
    "\n"
    "Values go as \"--resize WxH\" or \"--resize=WxH\".\n"
    "The output replaces OUT whole when everything succeeded; otherwise OUT is untouched.\n"
    "Exit status: 0 success, 1 the output could not be written, 2 bad arguments or picture.\n";

// The program's own options, before the command.
constexpr platform::cli::option kProgramOptions[] = {
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
    {"version", 0, platform::cli::kFlag, "", "show the kit's version"},
};

constexpr platform::cli::option kInfoOptions[] = {
    {"json", 0, platform::cli::kFlag, "", "one JSON object"},
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
};

// --halftone's kernel comes as "--halftone=KERNEL" only (a bare --halftone is followed by the
// files); run() hands it over as --halftone-kernel, which is not offered to the user.
constexpr platform::cli::option kConvertOptions[] = {
    {"gray", 0, platform::cli::kFlag, "", ""},
    {"grey", 0, platform::cli::kFlag, "", ""},
    {"bw", 0, platform::cli::kFlag, "", ""},
    {"halftone", 0, platform::cli::kFlag, "", ""},
    {"halftone-kernel", 0, platform::cli::kValue, "KERNEL", ""},
    {"8bpp", 0, platform::cli::kFlag, "", ""},
    {"red", 0, platform::cli::kFlag, "", ""},
    {"resize", 0, platform::cli::kValue, "WxH", ""},
    {"fit-width", 0, platform::cli::kValue, "DOTS", ""},
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
};

// Largest output picture: far beyond any receipt, well within memory.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 26;

enum class filter_kind { none, gray, bw, halftone, eight, red };

struct kernel_name {
  std::string_view name;
  int type;
};
constexpr std::array<kernel_name, 4> kKernels{{{"floyd", kHalftoneFloydSteinberg},
                                               {"burkes", kHalftoneBurkes},
                                               {"sierra", kHalftoneSierra},
                                               {"stucki", kHalftoneStucki}}};

std::string_view format_name(picture_format f) {
  switch (f) {
    case picture_format::bmp:
      return "bmp";
    case picture_format::jpeg:
      return "jpeg";
    case picture_format::png:
      return "png";
    default:
      return "unknown";
  }
}

// Why a picture could not be opened, after its name.
std::string open_reason(int code) {
  switch (code) {
    case kImageCannotOpen:
      return "cannot be read";
    case kImageEmptyFile:
      return "is empty";
    case kImageNotBitmap:
      return "is not a BMP, JPEG or PNG picture";
    case kImageCompressed:
      return "is a compressed bitmap (only uncompressed bitmaps are read)";
    case kImageCannotMap:
      return "cannot be mapped into memory";
    case kImageBadHeader:
      return "has a bitmap header that is not a 40-byte header matching its data";
    case kImageBadPicture:
      return "cannot be decoded, or is too large";
    default:
      return "cannot be opened (code " + std::to_string(code) + ")";
  }
}

std::optional<int> parse_positive(std::string_view text) {
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v <= 0) return std::nullopt;
  return v;
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (const unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// A copy of `path` in `folder` named `name`: the library reads it there, never in the user's folder.
bool copy_into(const std::string& path, const scratch_folder& folder, const std::string& name, std::string& copy) {
  copy = folder.path() + "/" + name;
  std::error_code error;
  return std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing, error);
}

class tool {
 public:
  tool(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  int run(const std::vector<std::string>& args) {
    // The program's options come before the command; the command's own follow it.
    platform::cli::parsed parsed;
    std::string problem;
    if (!platform::cli::parse(kProgramOptions, args, parsed, problem, platform::cli::operand_order::options_first)) {
      return usage(problem);
    }
    if (parsed.has("help")) {
      out_ << kHelp;
      return kExitOk;
    }
    if (parsed.has("version")) {
      out_ << platform::cli::version_line("posimg") << "\n";
      return kExitOk;
    }
    if (parsed.operands.empty()) return usage("no command given");
    const std::string& command = parsed.operands.front();
    std::vector<std::string> rest(parsed.operands.begin() + 1, parsed.operands.end());
    if (command == "info") return info(rest);
    if (command == "convert") {
      // "--halftone=KERNEL" is --halftone with a kernel; a bare --halftone takes no value.
      for (std::string& a : rest) {
        if (a == "--") break;
        if (a.starts_with("--halftone=")) a = "--halftone-kernel=" + a.substr(11);
      }
      return convert(rest);
    }
    return usage("unknown command \"" + command + "\"");
  }

 private:
  int usage(const std::string& reason) {
    report(reason + " (see posimg --help)");
    return kExitUsage;
  }

  // One line "posimg: TEXT" whatever the text quotes.
  void report(const std::string& text) {
    std::string line;
    for (const char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
    err_ << "posimg: " << line << "\n";
  }

  int bad_picture(const std::string& path, int code) {
    report(path + " " + open_reason(code));
    return kExitUsage;
  }

  int info(const std::vector<std::string>& args) {
    platform::cli::parsed parsed;
    std::string problem;
    if (!platform::cli::parse(kInfoOptions, args, parsed, problem)) return usage("info: " + problem);
    if (parsed.has("help")) {
      out_ << kHelp;
      return kExitOk;
    }
    if (parsed.operands.size() > 1) return usage("info takes one FILE");
    const std::string file = parsed.operands.empty() ? std::string() : parsed.operands.front();
    const bool json = parsed.has("json");
    if (file.empty()) return usage("info needs a FILE");
    const picture_format format = sniff_picture(file);
    scratch_folder folder;
    if (!folder.ok()) {
      report("cannot make a scratch folder");
      return kExitFailed;
    }
    CDib dib;
    const int opened = open_picture(file, folder, dib);
    if (opened != kImageOk) return bad_picture(file, opened);
    const BITMAPINFOHEADER& h = *dib.GetHeader();
    const int rows = dib.GetRows();
    std::optional<CSize> pixels;
    if (format == picture_format::jpeg) {
      std::string copy;
      CJpeg jpeg;
      if (copy_into(file, folder, "info.jpg", copy) && jpeg.OpenImage(copy) == kImageOk) {
        pixels = CSize{jpeg.pixel_width(), jpeg.pixel_height()};
      }
    }
    if (json) {
      out_ << "{\"file\":" << json_string(file) << ",\"format\":\"" << format_name(format) << "\",\"width\":" << h.biWidth
           << ",\"height\":" << rows << ",\"bits\":" << h.biBitCount << ",\"colours\":" << dib.GetColorCount()
           << ",\"top_down\":" << (h.biHeight < 0 ? "true" : "false");
      if (pixels) out_ << ",\"pixel_width\":" << pixels->cx << ",\"pixel_height\":" << pixels->cy;
      out_ << "}\n";
    } else {
      out_ << "file: " << file << "\n"
           << "format: " << format_name(format) << "\n"
           << "width: " << h.biWidth << "\n"
           << "height: " << rows << "\n"
           << "bits: " << h.biBitCount << "\n"
           << "colours: " << dib.GetColorCount() << "\n"
           << "rows: " << (h.biHeight < 0 ? "top first" : "bottom first") << "\n";
      if (pixels) out_ << "pixels in the file: " << pixels->cx << " x " << pixels->cy << "\n";
    }
    return kExitOk;
  }

  int convert(const std::vector<std::string>& args) {
    filter_kind filter = filter_kind::none;
    int kernel = kHalftoneFloydSteinberg;
    std::optional<CSize> resize;
    std::optional<int> fit;
    auto set_filter = [&](filter_kind f, const std::string& a) {
      if (filter != filter_kind::none) return usage("only one filter at a time (\"" + a + "\")");
      filter = f;
      return kExitOk;
    };
    platform::cli::parsed parsed;
    std::string problem;
    if (!platform::cli::parse(kConvertOptions, args, parsed, problem)) return usage("convert: " + problem);
    if (parsed.has("help")) {
      out_ << kHelp;
      return kExitOk;
    }
    // The options in the order given: a second filter is refused by the name it was given as.
    for (const auto& [name, value] : parsed.options) {
      const std::string a = "--" + name;
      int bad = kExitOk;
      if (name == "gray" || name == "grey") {
        bad = set_filter(filter_kind::gray, a);
      } else if (name == "bw") {
        bad = set_filter(filter_kind::bw, a);
      } else if (name == "8bpp") {
        bad = set_filter(filter_kind::eight, a);
      } else if (name == "red") {
        bad = set_filter(filter_kind::red, a);
      } else if (name == "halftone") {
        bad = set_filter(filter_kind::halftone, a);
      } else if (name == "halftone-kernel") {
        bad = set_filter(filter_kind::halftone, "--halftone=" + value);
        const auto* k = std::find_if(kKernels.begin(), kKernels.end(), [&](const kernel_name& n) { return n.name == value; });
        if (k == kKernels.end()) {
          return usage("unknown halftone kernel \"" + value + "\" (floyd, burkes, sierra, stucki)");
        }
        kernel = k->type;
      } else if (name == "resize") {
        const std::string& v = value;
        const std::size_t x = v.find_first_of("xX");
        const auto w = x == std::string::npos ? std::nullopt : parse_positive(std::string_view(v).substr(0, x));
        const auto h = x == std::string::npos ? std::nullopt : parse_positive(std::string_view(v).substr(x + 1));
        if (!w || !h) return usage("--resize needs WxH with two positive numbers, not \"" + v + "\"");
        if (static_cast<std::uint64_t>(*w) * static_cast<std::uint64_t>(*h) > kMaxPixels || *w > 65535 || *h > 65535) {
          return usage("--resize " + v + " is too large");
        }
        resize = CSize{*w, *h};
      } else if (name == "fit-width") {
        fit = parse_positive(value);
        if (!fit) return usage("--fit-width needs a positive number of dots, not \"" + value + "\"");
      }
      if (bad != kExitOk) return bad;
    }
    const std::vector<std::string>& files = parsed.operands;
    if (files.size() != 2) return usage("convert needs IN and OUT");
    const std::string& in = files[0];
    const std::string& out = files[1];
    if (out.empty() || out.back() == '/') return usage("OUT must name a file");

    scratch_folder folder;
    if (!folder.ok()) {
      report("cannot make a scratch folder");
      return kExitFailed;
    }
    const picture_format format = sniff_picture(in);
    // A JPEG taken as it is goes straight from the decoder into the output.
    if (format == picture_format::jpeg && filter == filter_kind::none && !resize && !fit) {
      std::string copy;
      if (!copy_into(in, folder, "in.jpg", copy)) return bad_picture(in, kImageCannotOpen);
      CJpeg jpeg;
      const int opened = jpeg.OpenImage(copy);
      if (opened != kImageOk) return bad_picture(in, opened);
      const int converted = convert_jpeg(jpeg, device_context{}, out);
      if (converted == kImageBadPicture) return bad_picture(in, converted);
      if (converted != kImageOk) {
        report("cannot write " + out);
        return kExitFailed;
      }
      return kExitOk;
    }

    CDib dib;
    const int opened = open_picture(in, folder, dib);
    if (opened != kImageOk) return bad_picture(in, opened);
    if (resize && dib.ResizeImage(*resize) != 1) {
      report("cannot resize " + in);
      return kExitFailed;
    }
    if (fit) {
      const CSize now{dib.GetHeader()->biWidth, dib.GetRows()};
      const CSize fitted = fit_width(now, *fit);
      if (!(fitted == now) && dib.ResizeImage(fitted) != 1) {
        report("cannot resize " + in);
        return kExitFailed;
      }
    }
    if (filter != filter_kind::none) {
      CDibFilter* f = nullptr;
      switch (filter) {
        case filter_kind::gray:
          f = new CDibFilterGrayScale(&dib, 1);
          break;
        case filter_kind::bw:
          f = new CDibFilterBlackWhite(&dib, 1);
          break;
        case filter_kind::halftone: {
          auto* h = new CDibFilterHalftone(&dib, 1);
          h->SetHalftoneType(kernel);
          f = h;
          break;
        }
        case filter_kind::eight:
          f = new CDibFilter8Bpp(&dib, 1);
          break;
        default:
          f = new CDibFilterRed(&dib, 1);
          break;
      }
      dib.AddFilter(f);
      // A filter that has nothing to do for this depth leaves the picture as it is.
      dib.ApplayFilter(1);
      dib.RemoveFilter(1);
    }
    return write_output(dib, out);
  }

  // The bitmap written beside `out` and renamed over it once complete.
  int write_output(CDib& dib, const std::string& out) {
    std::string temp = out + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
      report("cannot write " + out);
      return kExitFailed;
    }
    bool ok = dib.SaveImageAsFile(fd) == 1;
    struct stat st {};
    if (::stat(out.c_str(), &st) == 0) {
      ::fchmod(fd, st.st_mode & 07777);
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      ::fchmod(fd, 0666 & ~mask);
    }
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temp.c_str(), out.c_str()) != 0) ok = false;
    if (!ok) {
      ::unlink(temp.c_str());
      report("cannot write " + out);
      return kExitFailed;
    }
    return kExitOk;
  }

  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return tool(out, err).run(args);
}

}  // namespace posimg
