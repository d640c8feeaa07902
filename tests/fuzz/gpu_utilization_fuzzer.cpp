// Accelerators with arbitrary statistics tables: named and scan-matched keys,
// values of every kind (nested maps, lists, dates and data arrive as
// StatOther), any integer or double, and texts that almost look like numbers.
//
// Input: per accelerator a count byte, then per statistic a key choice byte
// (with a length-prefixed text when the key is free) and a value kind byte
// followed by the value's bytes.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "GpuStats.h"
#include "ScriptedSensors.h"
#include "SystemHelper.h"

namespace {

constexpr std::size_t kMostAccelerators = 4;
constexpr std::size_t kMostStatistics = 8;

constexpr std::array<std::string_view, 8> kKeys{"Device Utilization %", "GPU Activity(%)",     "GPU Core Utilization",
                                                "deviceUtilizationPercent", "Renderer Utilization %", "ACTIVITY",
                                                "In use system memory",   "utilizationx"};

// Pieces that make texts near the edge of a decimal number.
using std::literals::string_view_literals::operator""sv;
constexpr std::array<std::string_view, 24> kNumberPieces{" ", "\t", "\n", "+", "-", "0", "1", "9", "37", ".", "e",
                                                         "E", "e-", "e+", "308", "4000", "x", "0x", "nan", "inf",
                                                         "INFINITY", "%", ",", "\0"sv};

std::string almostNumber(FuzzInput& input) {
  std::string text;
  for (std::size_t pieces = input.byte() % 12; pieces > 0; --pieces)
    text.append(kNumberPieces[input.byte() % kNumberPieces.size()]);
  return text;
}

StatValue decodeValue(FuzzInput& input) {
  switch (input.byte() % 6) {
    case 0: return StatOther{};
    case 1: return input.raw<std::int64_t>();
    case 2: return input.raw<double>();
    case 3: return (input.byte() & 1) != 0;
    case 4: return input.text();
    default: return almostNumber(input);
  }
}

std::string decodeKey(FuzzInput& input) {
  const std::uint8_t choice = input.byte();
  return choice < kKeys.size() ? std::string(kKeys[choice]) : input.text();
}

StatsTable decodeTable(FuzzInput& input) {
  StatsTable table;
  for (std::size_t count = input.byte() % (kMostStatistics + 1); count > 0; --count) {
    std::string key = decodeKey(input);
    table.emplace_back(std::move(key), decodeValue(input));
  }
  return table;
}

bool isUtilization(float value) { return value >= 0.0f && value <= 1.0f; }  // false for NaN

// Accelerators combine by their maximum alone: the walk's result is the
// largest of what each table gives on its own.
void checkCombination(float combined) {
  float largest = 0.0f;
  for (const StatsTable& table : scriptedAccelerators) {
    const float alone = raiseUtilization(0.0f, table);
    fuzzCheck(isUtilization(alone), "one accelerator's utilization outside 0..1");
    largest = std::max(largest, alone);
  }
  fuzzCheck(combined == largest, "utilization is not the largest accelerator's");
}

// A text figure reads as the decimal number the C library finds at its start;
// hexadecimal, "nan" and "inf" are no number, and read as 0.
double libcLeadingDecimal(const std::string& text) {
  std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string::npos) return 0.0;
  if (text[at] == '+' || text[at] == '-') ++at;
  if (at < text.size() && (text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0)) return 0.0;
  if (at < text.size() && std::isalpha(static_cast<unsigned char>(text[at]))) return 0.0;
  return std::strtod(text.c_str(), nullptr);
}

void checkTextReading(const std::string& text) {
  const float fromText = raiseUtilization(0.0f, {{"Device Utilization %", text}});
  const float fromNumber = raiseUtilization(0.0f, {{"Device Utilization %", libcLeadingDecimal(text)}});
  fuzzCheck(fromText == fromNumber, "a text figure reads differently from the number it spells");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  scriptedAccelerators.clear();
  while (!input.empty() && scriptedAccelerators.size() < kMostAccelerators)
    scriptedAccelerators.push_back(decodeTable(input));
  const float utilization = SystemHelper_getGPUUtilization();
  fuzzCheck(isUtilization(utilization), "utilization outside 0..1 or NaN");
  checkCombination(utilization);
  for (const StatsTable& table : scriptedAccelerators)
    for (const auto& [key, value] : table)
      if (const auto* text = std::get_if<std::string>(&value)) checkTextReading(*text);
  return 0;
}
