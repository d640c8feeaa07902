// Any bytes as hwmon chips in a scratch sysfs tree, read back by the walk:
// every sensor has a one-line name, every reading is finite, and nothing is
// yielded beyond the tempN_input files. Input: chips split by 0x1D, a chip's
// fields by 0x1E (name, the device's runtime_status, then tempN_label and
// tempN_input in turn); a field "\x1F" leaves the file out.
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "FuzzSupport.h"
#include "platform/linux/HwmonWalk.h"

namespace fs = std::filesystem;

namespace {

// In memory where it can be, and gone once the run ends.
struct ScratchTree {
  const fs::path root = (fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path()) /
                        ("hwmon-fuzz." + std::to_string(getpid()));
  ~ScratchTree() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
};

}  // namespace

void fuzzOne(std::string_view input) {
  static const ScratchTree scratch;
  const fs::path& root = scratch.root;
  fs::remove_all(root / "class");
  std::string_view chips = input;
  std::size_t inputs = 0, yielded = 0;
  for (int c = 0; c < 4 && (c == 0 || !chips.empty()); ++c) {
    std::string_view fields = chips.substr(0, chips.find('\x1D'));
    chips.remove_prefix(std::min(chips.size(), fields.size() + 1));
    const fs::path chip = root / "class/hwmon" / ("hwmon" + std::to_string(c));
    fs::create_directories(chip / "device/power");
    for (int n = 0; n < 18 && (n == 0 || !fields.empty()); ++n) {
      const std::string_view field = fields.substr(0, fields.find('\x1E'));
      fields.remove_prefix(std::min(fields.size(), field.size() + 1));
      const std::string file = n == 0   ? "name"
                               : n == 1 ? "device/power/runtime_status"
                                        : "temp" + std::to_string(n / 2) + (n % 2 ? "_input" : "_label");
      if (field == "\x1F") continue;
      std::ofstream(chip / file, std::ios::binary) << field;
      if (n > 1 && n % 2 == 1) ++inputs;
    }
  }
  walkHwmon(root.string(), [&](std::optional<std::string_view> name, std::optional<double> reading) {
    fuzzCheck(name && !name->empty() && name->find('\n') == std::string_view::npos, "sensor name is not one line");
    fuzzCheck(!reading || std::isfinite(*reading), "reading not finite");
    ++yielded;
  });
  fuzzCheck(yielded <= inputs, "sensors yielded beyond the chips' tempN_input files");
}
