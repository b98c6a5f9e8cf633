// Runs a fuzz target once over every file of the folders (or files) named on the command line, so
// that a seed corpus stays a regression test in builds without libFuzzer. Fails when it finds no
// input at all; a crash or a sanitizer report fails it as well.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// The regular files named by `arg`: itself, or the files directly inside it, in name order.
std::vector<std::filesystem::path> inputs_of(const std::filesystem::path& arg) {
  std::error_code error;
  std::vector<std::filesystem::path> files;
  if (std::filesystem::is_directory(arg, error)) {
    for (const auto& entry : std::filesystem::directory_iterator(arg, error)) {
      if (entry.is_regular_file(error)) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
  } else if (std::filesystem::is_regular_file(arg, error)) {
    files.push_back(arg);
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t runs = 0;
  for (int i = 1; i < argc; ++i) {
    for (const std::filesystem::path& file : inputs_of(argv[i])) {
      std::ifstream in(file, std::ios::binary);
      const std::vector<char> content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      if (in.bad()) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
      }
      // A copy of exactly the file's size, so that the sanitizers see any read past its end.
      std::vector<std::uint8_t> bytes(content.begin(), content.end());
      bytes.shrink_to_fit();
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++runs;
    }
  }
  std::printf("%zu inputs run\n", runs);
  return runs == 0 ? 1 : 0;
}
