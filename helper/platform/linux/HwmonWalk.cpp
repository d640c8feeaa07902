#include "platform/linux/HwmonWalk.h"

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/linux/SysfsTree.h"

namespace {

constexpr std::array<std::string_view, 3> kCpuChips{"coretemp", "k10temp", "zenpower"};
constexpr std::array<std::string_view, 4> kGpuChips{"radeon", "nouveau", "i915", "xe"};
constexpr std::string_view kInputSuffix = "_input";
constexpr double kMillidegreesPerDegree = 1000.0;

bool isOneOf(std::string_view chip, const auto& chips) {
  return std::find(chips.begin(), chips.end(), chip) != chips.end();
}

// The chip's driver name alone does not say CPU or GPU for these drivers, so
// the sensor name says it for the selection rules.
std::string namePrefix(std::string_view chip) {
  std::string prefix = isOneOf(chip, kCpuChips) ? "CPU " : isOneOf(chip, kGpuChips) ? "GPU " : "";
  prefix.append(chip).append(" ");
  return prefix;
}

// "tempN" where the chip gives no label.
std::string labelOf(const Directory& chip, const std::string& stem) {
  const auto label = readAttribute(chip, (stem + "_label").c_str());
  const std::string_view line = label ? firstLine(*label) : std::string_view{};
  return std::string(line.empty() ? std::string_view(stem) : line);
}

std::optional<double> degreesOf(const Directory& chip, const std::string& inputFile) {
  const auto millidegrees = readInteger(chip, inputFile.c_str());
  if (!millidegrees) return std::nullopt;
  return static_cast<double>(*millidegrees) / kMillidegreesPerDegree;
}

void walkChip(const Directory& chip, const ThermalYield& yield) {
  const auto chipName = readAttribute(chip, "name");
  if (!chipName || firstLine(*chipName).empty()) return;
  const std::string prefix = namePrefix(firstLine(*chipName));
  for (const NumberedEntry& input : numberedEntries(chip, "temp", kInputSuffix)) {
    const std::string stem = input.name.substr(0, input.name.size() - kInputSuffix.size());
    const std::string name = prefix + labelOf(chip, stem);
    yield(name, degreesOf(chip, input.name));
  }
}

}  // namespace

void walkHwmon(const std::string& sysfsRoot, const ThermalYield& yield) {
  const Directory hwmonClass(AT_FDCWD, (sysfsRoot + "/class/hwmon").c_str());
  if (!hwmonClass.isOpen()) return;
  for (const NumberedEntry& entry : numberedEntries(hwmonClass, "hwmon", "")) {
    const Directory chip(hwmonClass.fd(), entry.name.c_str());
    if (chip.isOpen() && !isSuspended(chip)) walkChip(chip, yield);
  }
}
