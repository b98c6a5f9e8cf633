// Fuzz target of the profile (INI) functions: arbitrary bytes as an INI file. Besides crashes and
// sanitizer reports it stops when reading and writing disagree: a value written must read back,
// and a write must not change the value of an unrelated key.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "platform/profile.h"
#include "platform/testing/temp_dir.h"
#include "require.h"

namespace {

constexpr std::size_t kBuffer = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static platform::testing::temp_dir dir;
  const std::filesystem::path file = dir / "fuzz.ini";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  const std::vector<std::string> sections = platform::get_profile_section_names(file);
  for (const std::string& section : sections) (void)platform::get_profile_section(section, file);

  // A key of another section, read before and after the write.
  const std::string other = platform::get_profile_string("Other", "keep", "<none>", file, kBuffer);

  require(platform::write_profile_string("Fuzz", "key", "written value", file));
  require(platform::get_profile_string("Fuzz", "key", "", file, kBuffer) == "written value");
  require(platform::get_profile_string("Other", "keep", "<none>", file, kBuffer) == other);

  // The first section of the file gets a key too, whatever its name looks like.
  if (!sections.empty() && sections.front().find_first_of("]\r\n") == std::string::npos) {
    if (platform::write_profile_string(sections.front(), "added", "1", file)) {
      require(platform::get_profile_int(sections.front(), "added", 0, file) == 1);
    }
  }
  return 0;
}
