// hwmon chips written from any bytes into a scratch sysfs tree and read back by
// the hwmon walk: names, runtime states, labels and inputs that are empty,
// huge, lack a line feed, hold NUL bytes, or are a FIFO nobody writes (a read
// must not hang) or a folder. Every sensor has a one-line name, every reading
// is finite, and nothing is yielded beyond the tree's tempN_input files.
//
// Input: chips separated by 0x1D; a chip's fields by 0x1E: its `name`, its
// device/power/runtime_status, then a tempN_label and a tempN_input per
// sensor. A field "\x1F" leaves the file out, "\x1F\x1F" makes it a FIFO,
// "\x1F/" a folder.
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "FuzzSupport.h"
#include "platform/linux/HwmonWalk.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t end; (end = text.find(separator)) != std::string_view::npos; text.remove_prefix(end + 1))
    parts.push_back(text.substr(0, end));
  parts.push_back(text);
  return parts;
}

// Whether the field made a file at all.
bool place(const fs::path& path, std::string_view field) {
  if (field == "\x1F") return false;
  if (field == "\x1F\x1F") {
    fuzzCheck(mkfifo(path.c_str(), 0600) == 0, "cannot make a FIFO");
  } else if (field == "\x1F/") {
    fs::create_directory(path);
  } else {
    std::ofstream(path, std::ios::binary).write(field.data(), static_cast<std::streamsize>(field.size()));
  }
  return true;
}

// In memory where it can be, and gone when the run ends.
struct ScratchTree {
  fs::path root = [] {
    std::string pattern = ((fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) /
                           "pelagrin-hwmon-fuzz.XXXXXX").string();
    fuzzCheck(mkdtemp(pattern.data()) != nullptr, "cannot make a scratch folder");
    return fs::path(pattern);
  }();
  ~ScratchTree() { fs::remove_all(root); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ScratchTree scratch;
  const fs::path hwmon = scratch.root / "class/hwmon";
  fs::remove_all(hwmon);
  std::size_t inputs = 0, yielded = 0;
  const std::vector<std::string_view> chips = split(std::string_view(reinterpret_cast<const char*>(data), size), '\x1D');
  for (std::size_t c = 0; c < chips.size() && c < 4; ++c) {
    const fs::path chip = hwmon / ("hwmon" + std::to_string(c));
    fs::create_directories(chip / "device/power");
    const std::vector<std::string_view> fields = split(chips[c], '\x1E');
    place(chip / "name", fields[0]);
    if (fields.size() > 1) place(chip / "device/power/runtime_status", fields[1]);
    for (std::size_t i = 2, n = 1; i + 1 < fields.size() && n <= 8; i += 2, ++n) {
      place(chip / ("temp" + std::to_string(n) + "_label"), fields[i]);
      inputs += place(chip / ("temp" + std::to_string(n) + "_input"), fields[i + 1]);
    }
  }
  walkHwmon(scratch.root.string(), [&](std::optional<std::string_view> name, std::optional<double> reading) {
    fuzzCheck(name && !name->empty() && name->find('\n') == std::string_view::npos, "sensor name is not one line");
    fuzzCheck(!reading || std::isfinite(*reading), "reading not finite");
    ++yielded;
  });
  fuzzCheck(yielded <= inputs, "sensors yielded beyond the chips' tempN_input files");
  return 0;
}
