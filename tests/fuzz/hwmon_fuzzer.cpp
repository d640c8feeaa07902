// hwmon chips written from arbitrary bytes into a scratch sysfs tree and read
// back by the hwmon walk: `name`, runtime status, labels and inputs that are
// empty, huge, lack a line feed, hold NUL bytes, or are a FIFO nobody writes
// (a read must not hang) or a folder.
//
// Input: chips separated by 0x1D; a chip's fields separated by 0x1E: its
// `name`, its device/power/runtime_status, then a tempN_label and a
// tempN_input per sensor. A field "\x1F" leaves the file out, "\x1F\x1F"
// makes it a FIFO, "\x1F/" a folder.
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "ThermalCatalogue.h"
#include "platform/linux/HwmonWalk.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMostChips = 4;
constexpr std::size_t kMostSensors = 8;

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

// Whether the field made a file at all.
bool place(const fs::path& path, std::string_view field) {
  if (field == "\x1F") return false;
  if (field == "\x1F\x1F") {
    fuzzCheck(mkfifo(path.c_str(), 0600) == 0, "cannot make a FIFO");
  } else if (field == "\x1F/") {
    fs::create_directory(path);
  } else {
    std::ofstream file(path, std::ios::binary);
    fuzzCheck(file.write(field.data(), static_cast<std::streamsize>(field.size())).good(), "cannot write a file");
  }
  return true;
}

// The scratch tree lives in memory where it can, and goes when the run ends.
struct ScratchTree {
  fs::path root;
  ~ScratchTree() { fs::remove_all(root); }
};

const fs::path& scratchRoot() {
  static const ScratchTree tree{[] {
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "pelagrin-hwmon-fuzz.XXXXXX").string();
    fuzzCheck(mkdtemp(pattern.data()) != nullptr, "cannot make a scratch folder");
    return fs::path(pattern);
  }()};
  return tree.root;
}

// Writes the chips the input describes; gives how many tempN_input files it made.
std::size_t writeTree(std::string_view input) {
  const fs::path hwmon = scratchRoot() / "class" / "hwmon";
  fs::remove_all(hwmon);
  fs::create_directories(hwmon);
  std::size_t inputs = 0;
  const std::vector<std::string_view> chips = split(input, '\x1D');
  for (std::size_t c = 0; c < chips.size() && c < kMostChips; ++c) {
    const fs::path chip = hwmon / ("hwmon" + std::to_string(c));
    fs::create_directories(chip / "device" / "power");
    const std::vector<std::string_view> fields = split(chips[c], '\x1E');
    place(chip / "name", fields[0]);
    if (fields.size() > 1) place(chip / "device" / "power" / "runtime_status", fields[1]);
    for (std::size_t i = 2, s = 1; i + 1 < fields.size() && s <= kMostSensors; i += 2, ++s) {
      const std::string stem = "temp" + std::to_string(s);
      place(chip / (stem + "_label"), fields[i]);
      if (place(chip / (stem + "_input"), fields[i + 1])) ++inputs;
    }
  }
  return inputs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t inputs = writeTree(std::string_view(reinterpret_cast<const char*>(data), size));
  std::size_t yielded = 0;
  ThermalCatalogue catalogue;
  walkHwmon(scratchRoot().string(), [&](std::optional<std::string_view> name, std::optional<double> reading) {
    fuzzCheck(name && !name->empty() && name->find('\n') == std::string_view::npos, "sensor name is not one line");
    fuzzCheck(!reading || std::isfinite(*reading), "reading not finite");
    catalogueOffer(catalogue, name, reading);
    ++yielded;
  });
  fuzzCheck(yielded <= inputs, "sensors yielded beyond the chips' tempN_input files");
  for (const auto& entry : catalogue)
    fuzzCheck(entry.second > 0.0f && entry.second <= 150.0f, "catalogue value outside (0, 150]");
  return 0;
}
