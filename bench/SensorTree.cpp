#include "SensorTree.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

constexpr int kSensorsPerChip = 16;
constexpr int kThermalReadingsPerCycle = 3;

struct Chip {
  const char* name;
  const char* labelStem;
};
constexpr Chip kChips[] = {{"coretemp", "Core "}, {"amdgpu", "Sensor "}, {"nvme", "Sensor "}, {"acpitz", "Zone "}};

void writeFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << content << '\n';
}

// The files of one thermal walk over this chip, in the order it reads them.
std::vector<std::string> writeChip(const fs::path& directory, const Chip& chip, int chipIndex) {
  std::vector<std::string> read{(directory / "device/power/runtime_status").string(), (directory / "name").string()};
  writeFile(read[0], "active");
  writeFile(read[1], chip.name);
  for (int sensor = 1; sensor <= kSensorsPerChip; ++sensor) {
    const fs::path stem = directory / ("temp" + std::to_string(sensor));
    const std::string milli = std::to_string(30000 + 1000 * chipIndex + 250 * sensor);
    writeFile(stem.string() + "_label", chip.labelStem + std::to_string(sensor - 1));
    writeFile(stem.string() + "_input", milli);
    writeFile(stem.string() + "_max", "90000");
    writeFile(stem.string() + "_crit", "100000");
    read.push_back(stem.string() + "_label");
    read.push_back(stem.string() + "_input");
  }
  return read;
}

std::vector<std::string> writeDrm(const fs::path& drm) {
  writeFile(drm / "card0-DP-1/status", "connected");
  writeFile(drm / "renderD128/dev", "226:128");
  const std::vector<std::string> read{(drm / "card0/device/power/runtime_status").string(),
                                      (drm / "card0/device/gpu_busy_percent").string()};
  writeFile(read[0], "active");
  writeFile(read[1], "42");
  return read;
}

}  // namespace

std::vector<std::string> writeSensorTree(const std::string& root) {
  fs::remove_all(root);
  std::vector<std::string> walk;
  for (int index = 0; index < 4; ++index) {
    const auto chipFiles =
        writeChip(fs::path(root) / "class/hwmon" / ("hwmon" + std::to_string(index)), kChips[index], index);
    walk.insert(walk.end(), chipFiles.begin(), chipFiles.end());
  }
  std::vector<std::string> cycle;
  for (int reading = 0; reading < kThermalReadingsPerCycle; ++reading)
    cycle.insert(cycle.end(), walk.begin(), walk.end());
  const auto drmFiles = writeDrm(fs::path(root) / "class/drm");
  cycle.insert(cycle.end(), drmFiles.begin(), drmFiles.end());
  return cycle;
}
