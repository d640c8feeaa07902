// hwmon chips written from arbitrary bytes into a scratch sysfs tree and read
// back by the hwmon walk: `name`, runtime status, labels and inputs that are
// empty, huge, lack a line feed, hold NUL bytes, or are a FIFO or a folder.
//
// Input: chips separated by 0x1D; a chip's fields separated by 0x1E: its
// `name`, its device/power/runtime_status, then a tempN_label and a
// tempN_input per sensor. A field "\x1F" leaves the file out, "\x1F\x1F"
// makes it a FIFO nobody writes, "\x1F/" a folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "ThermalCatalogue.h"
#include "platform/linux/HwmonWalk.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMostChips = 4;
constexpr std::size_t kMostSensors = 8;

enum class Kind { Content, Missing, Fifo, Folder };

struct Field {
  Kind kind = Kind::Missing;
  std::string content;
};

struct Chip {
  Field name;
  Field runtimeStatus;
  std::vector<std::pair<Field, Field>> sensors;  // label, input
};

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

Field fieldOf(std::string_view raw) {
  if (raw == "\x1F") return {Kind::Missing, {}};
  if (raw == "\x1F\x1F") return {Kind::Fifo, {}};
  if (raw == "\x1F/") return {Kind::Folder, {}};
  return {Kind::Content, std::string(raw)};
}

std::vector<Chip> decodeChips(std::string_view input) {
  std::vector<Chip> chips;
  for (const std::string_view chipText : split(input, '\x1D')) {
    if (chips.size() == kMostChips) break;
    const std::vector<std::string_view> fields = split(chipText, '\x1E');
    Chip chip{fieldOf(fields[0]), fields.size() > 1 ? fieldOf(fields[1]) : Field{}, {}};
    for (std::size_t i = 2; i + 1 < fields.size() && chip.sensors.size() < kMostSensors; i += 2)
      chip.sensors.emplace_back(fieldOf(fields[i]), fieldOf(fields[i + 1]));
    chips.push_back(std::move(chip));
  }
  return chips;
}

// The scratch tree lives in memory where it can, and goes when the run ends.
struct ScratchTree {
  fs::path root;
  ~ScratchTree() { fs::remove_all(root); }
};

fs::path makeScratchRoot() {
  const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / "pelagrin-hwmon-fuzz.XXXXXX").string();
  fuzzCheck(mkdtemp(pattern.data()) != nullptr, "cannot make a scratch folder");
  return pattern;
}

const fs::path& scratchRoot() {
  static const ScratchTree tree{makeScratchRoot()};
  return tree.root;
}

// Everything the last input made, in order, so the next can take it away
// without walking the tree.
std::vector<fs::path> made;

void makeFolder(const fs::path& path) {
  fuzzCheck(mkdir(path.c_str(), 0700) == 0, "cannot make a scratch folder");
  made.push_back(path);
}

void place(const fs::path& path, const Field& field) {
  switch (field.kind) {
    case Kind::Missing: return;
    case Kind::Fifo: fuzzCheck(mkfifo(path.c_str(), 0600) == 0, "cannot make a FIFO"); break;
    case Kind::Folder: fuzzCheck(mkdir(path.c_str(), 0700) == 0, "cannot make a folder"); break;
    case Kind::Content: {
      const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      fuzzCheck(fd >= 0, "cannot make a scratch file");
      fuzzCheck(write(fd, field.content.data(), field.content.size()) == static_cast<ssize_t>(field.content.size()),
                "cannot write a scratch file");
      close(fd);
      break;
    }
  }
  made.push_back(path);
}

void clearTree() {
  for (auto path = made.rbegin(); path != made.rend(); ++path) std::remove(path->c_str());
  made.clear();
}

void writeTree(const std::vector<Chip>& chips) {
  clearTree();
  const fs::path hwmon = scratchRoot() / "class" / "hwmon";
  fs::create_directories(hwmon);
  for (std::size_t c = 0; c < chips.size(); ++c) {
    const fs::path chip = hwmon / ("hwmon" + std::to_string(c));
    makeFolder(chip);
    makeFolder(chip / "device");
    makeFolder(chip / "device" / "power");
    place(chip / "name", chips[c].name);
    place(chip / "device" / "power" / "runtime_status", chips[c].runtimeStatus);
    for (std::size_t s = 0; s < chips[c].sensors.size(); ++s) {
      const std::string stem = "temp" + std::to_string(s + 1);
      place(chip / (stem + "_label"), chips[c].sensors[s].first);
      place(chip / (stem + "_input"), chips[c].sensors[s].second);
    }
  }
}

struct Yielded {
  std::string name;
  std::optional<double> reading;
};

// --- What a chip's files must give, where the content is plain enough to say.

bool isPlainLine(std::string_view text, std::size_t longest, bool (*allowed)(char)) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  if (text.empty() || text.size() > longest) return false;
  for (const char c : text)
    if (!allowed(c)) return false;
  return true;
}

bool isChipNameChar(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'; }
bool isPrintable(char c) { return c >= 0x20 && c <= 0x7E; }
bool isIntegerChar(char c) { return (c >= '0' && c <= '9') || c == '-'; }

std::string withoutLineFeed(std::string text) {
  if (text.ends_with('\n')) text.pop_back();
  return text;
}

bool holdsText(const Field& field) { return field.kind == Kind::Content && !field.content.empty(); }

// The chip's name when it is plain, "" when the chip has none, none when unsure.
std::optional<std::string> expectedChipName(const Field& name) {
  if (!holdsText(name) || name.content.front() == '\n') return "";
  if (isPlainLine(name.content, 32, isChipNameChar)) return withoutLineFeed(name.content);
  return std::nullopt;
}

std::optional<bool> expectedSuspended(const Field& status) {
  if (!holdsText(status)) return false;
  const std::string line = withoutLineFeed(status.content);
  if (line == "suspended") return true;
  if (line == "active") return false;
  return std::nullopt;
}

std::optional<std::string> expectedLabel(const Field& label, std::size_t sensor) {
  if (!holdsText(label) || label.content.front() == '\n') return "temp" + std::to_string(sensor + 1);
  if (isPlainLine(label.content, 100, isPrintable)) return withoutLineFeed(label.content);
  return std::nullopt;
}

bool isPlainInteger(const std::string& text) {
  const std::string line = withoutLineFeed(text);
  return isPlainLine(line, 16, isIntegerChar) && line.find('-', 1) == std::string::npos && line != "-";
}

void checkReading(const Field& input, const std::optional<double>& reading) {
  if (holdsText(input) && isPlainInteger(input.content)) {
    fuzzCheck(reading && *reading == static_cast<double>(std::strtoll(input.content.c_str(), nullptr, 10)) / 1000.0,
              "a millidegree input did not read as its degrees");
  } else if (!holdsText(input) || input.content.find_first_of("0123456789") == std::string::npos) {
    fuzzCheck(!reading, "an input without digits gave a reading");
  }
}

void checkName(const std::string& chip, const std::optional<std::string>& label, const std::string& name) {
  if (!label) return;
  const std::string tail = chip + " " + *label;
  fuzzCheck(name == tail || name == "CPU " + tail || name == "GPU " + tail, "sensor name is not chip and label");
}

// Where every chip is plain, each awake named chip gives one sensor per
// tempN_input file, in order, named after its chip and label.
void checkAgainstChips(const std::vector<Chip>& chips, const std::vector<Yielded>& yielded) {
  std::size_t next = 0;
  for (const Chip& chip : chips) {
    const std::optional<std::string> name = expectedChipName(chip.name);
    const std::optional<bool> suspended = expectedSuspended(chip.runtimeStatus);
    if (!name || !suspended) return;
    if (name->empty() || *suspended) continue;
    for (std::size_t s = 0; s < chip.sensors.size(); ++s) {
      if (chip.sensors[s].second.kind == Kind::Missing) continue;  // no tempN_input, no sensor
      fuzzCheck(next < yielded.size(), "a sensor of an awake chip was not yielded");
      checkName(*name, expectedLabel(chip.sensors[s].first, s), yielded[next].name);
      checkReading(chip.sensors[s].second, yielded[next].reading);
      ++next;
    }
  }
  fuzzCheck(next == yielded.size(), "sensors yielded beyond the chips' inputs");
}

void checkEveryYield(const std::vector<Yielded>& yielded) {
  ThermalCatalogue catalogue;
  for (const Yielded& sensor : yielded) {
    fuzzCheck(!sensor.name.empty() && sensor.name.find('\n') == std::string::npos, "sensor name is not one line");
    fuzzCheck(!sensor.reading || std::isfinite(*sensor.reading), "reading not finite");
    catalogueOffer(catalogue, sensor.name, sensor.reading);
  }
  for (const auto& entry : catalogue)
    fuzzCheck(entry.second > 0.0f && entry.second <= 150.0f, "catalogue value outside (0, 150]");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<Chip> chips = decodeChips(std::string_view(reinterpret_cast<const char*>(data), size));
  writeTree(chips);
  std::vector<Yielded> yielded;
  walkHwmon(scratchRoot().string(), [&yielded](std::optional<std::string_view> name, std::optional<double> reading) {
    fuzzCheck(name.has_value(), "hwmon sensor without a name");
    yielded.push_back({std::string(*name), reading});
  });
  checkEveryYield(yielded);
  checkAgainstChips(chips, yielded);
  return 0;
}
