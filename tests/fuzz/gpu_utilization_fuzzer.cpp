// Accelerators with arbitrary statistics tables: named and scan-matched keys,
// values of every kind (nested maps, lists, dates and data arrive as
// StatOther), any integer or double, and texts that almost look like numbers.
//
// Input: per accelerator a count byte, then per statistic a key choice byte
// (with a length-prefixed text when the key is free) and a value kind byte
// followed by the value's bytes.
#include <array>
#include <cctype>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "GpuStats.h"
#include "SystemHelper.h"
#include "platform/SensorPlatform.h"

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

std::vector<StatsTable> accelerators;

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

StatsTable decodeTable(FuzzInput& input) {
  StatsTable table;
  for (std::size_t count = input.byte() % (kMostStatistics + 1); count > 0; --count) {
    const std::uint8_t choice = input.byte();
    std::string key = choice < kKeys.size() ? std::string(kKeys[choice]) : input.text();
    table.emplace_back(std::move(key), decodeValue(input));
  }
  return table;
}

// A text figure reads as the decimal number the C library finds at its start;
// hexadecimal, "nan" and "inf" are no number, and read as 0.
double libcLeadingDecimal(const std::string& text) {
  std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string::npos) return 0.0;
  if (text[at] == '+' || text[at] == '-') ++at;
  if (text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0) return 0.0;
  if (at < text.size() && std::isalpha(static_cast<unsigned char>(text[at]))) return 0.0;
  return std::strtod(text.c_str(), nullptr);
}

void checkTextReading(const std::string& text) {
  const float fromText = raiseUtilization(0.0f, {{"Device Utilization %", text}});
  const float fromNumber = raiseUtilization(0.0f, {{"Device Utilization %", libcLeadingDecimal(text)}});
  fuzzCheck(fromText == fromNumber, "a text figure reads differently from the number it spells");
}

}  // namespace

void platformWalkThermalServices(const ThermalYield&) {}

void platformWalkAccelerators(const AcceleratorYield& yield) {
  for (const StatsTable& statistics : accelerators) yield(statistics);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  accelerators.clear();
  while (!input.empty() && accelerators.size() < kMostAccelerators) accelerators.push_back(decodeTable(input));
  const float utilization = SystemHelper_getGPUUtilization();
  fuzzCheck(utilization >= 0.0f && utilization <= 1.0f, "utilization outside 0..1 or NaN");
  for (const StatsTable& table : accelerators)
    for (const auto& [key, value] : table)
      if (const auto* text = std::get_if<std::string>(&value)) checkTextReading(*text);
  return 0;
}
