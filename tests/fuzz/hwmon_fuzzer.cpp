// hwmon chips written from any bytes into a scratch sysfs tree and read back
// by the walk: names, runtime states, labels and inputs that are empty, huge,
// lack a line feed, hold NUL bytes, or are a FIFO nobody writes (a read must
// not hang) or a folder. Every sensor has a one-line name, every reading is
// finite, and nothing is yielded beyond the tree's tempN_input files.
//
// Input: chips split by 0x1D, a chip's fields by 0x1E: `name`, the device's
// runtime_status, then a tempN_label and a tempN_input per sensor. A field
// "\x1F" leaves the file out, "\x1F\x1F" makes it a FIFO, "\x1F/" a folder.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "FuzzSupport.h"
#include "platform/linux/HwmonWalk.h"

namespace fs = std::filesystem;

namespace {

std::string_view next(std::string_view& rest, char separator) {  // the field before the separator
  const std::string_view field = rest.substr(0, rest.find(separator));
  return rest.remove_prefix(std::min(rest.size(), field.size() + 1)), field;
}

bool place(const fs::path& path, std::string_view content) {  // false when it leaves the file out
  if (content == "\x1F\x1F") fuzzCheck(mkfifo(path.c_str(), 0600) == 0, "cannot make a FIFO");
  else if (content == "\x1F/") fs::create_directory(path);
  else if (content != "\x1F") std::ofstream(path, std::ios::binary) << content;
  return content != "\x1F";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fs::path root =  // in memory where it can be
      (fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path()) / ("hwmon-fuzz." + std::to_string(getpid()));
  fs::remove_all(root / "class");
  std::string_view chips(reinterpret_cast<const char*>(data), size);
  std::size_t inputs = 0, yielded = 0;
  for (int c = 0; c < 4 && (c == 0 || !chips.empty()); ++c) {
    std::string_view fields = next(chips, '\x1D');
    const fs::path chip = root / "class/hwmon" / ("hwmon" + std::to_string(c));
    fs::create_directories(chip / "device/power");
    place(chip / "name", next(fields, '\x1E'));
    place(chip / "device/power/runtime_status", next(fields, '\x1E'));
    for (int n = 1; n <= 8 && !fields.empty(); ++n) {
      place(chip / ("temp" + std::to_string(n) + "_label"), next(fields, '\x1E'));
      inputs += place(chip / ("temp" + std::to_string(n) + "_input"), next(fields, '\x1E'));
    }
  }
  walkHwmon(root.string(), [&](std::optional<std::string_view> name, std::optional<double> reading) {
    fuzzCheck(name && !name->empty() && name->find('\n') == std::string_view::npos, "sensor name is not one line");
    fuzzCheck(!reading || std::isfinite(*reading), "reading not finite");
    ++yielded;
  });
  fuzzCheck(yielded <= inputs, "sensors yielded beyond the chips' tempN_input files");
  return 0;
}
