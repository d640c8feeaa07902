// Accelerators with any statistics: named and scanned keys, values of every
// kind, any integer or double, and texts that almost spell a number. The
// utilization stays a fraction from 0 to 1, and a text reads as the number
// the C library finds at its start, hexadecimal, NaN and infinity apart.
//
// Input: per accelerator a count byte, then per statistic a key byte (a
// length-prefixed text when it names no known key) and a kind byte followed
// by the value's bytes.
#include <array>
#include <cctype>
#include <vector>

#include "FuzzSupport.h"
#include "GpuStats.h"
#include "SystemHelper.h"
#include "platform/SensorPlatform.h"

namespace {

using std::literals::string_view_literals::operator""sv;
constexpr std::array kKeys{"Device Utilization %"sv, "GPU Activity(%)"sv, "GPU Core Utilization"sv,
                           "deviceUtilizationPercent"sv, "Renderer Utilization %"sv, "ACTIVITY"sv,
                           "In use system memory"sv, "utilizationx"sv};
constexpr std::array kPieces{" "sv, "\t"sv, "\n"sv, "+"sv, "-"sv, "0"sv, "1"sv, "9"sv, "37"sv, "."sv, "e"sv, "E"sv,
                             "e-"sv, "e+"sv, "308"sv, "4000"sv, "x"sv, "0x"sv, "nan"sv, "inf"sv, "INFINITY"sv,
                             "%"sv, ","sv, "\0"sv};
std::vector<StatsTable> accelerators;

StatValue value(FuzzInput& input) {
  switch (input.byte() % 6) {
    case 0: return StatOther{};
    case 1: return input.raw<std::int64_t>();
    case 2: return input.raw<double>();
    case 3: return (input.byte() & 1) != 0;
    case 4: return input.text();
    default: {
      std::string text;
      for (std::size_t pieces = input.byte() % 12; pieces > 0; --pieces) text += kPieces[input.byte() % kPieces.size()];
      return text;
    }
  }
}

double libcLeadingDecimal(const std::string& text) {
  std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string::npos) return 0.0;
  if (text[at] == '+' || text[at] == '-') ++at;
  if (text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0) return 0.0;
  if (at < text.size() && std::isalpha(static_cast<unsigned char>(text[at]))) return 0.0;
  return std::strtod(text.c_str(), nullptr);
}

}  // namespace

void platformWalkThermalServices(const ThermalYield&) {}
void platformWalkAccelerators(const AcceleratorYield& yield) {
  for (const StatsTable& statistics : accelerators) yield("fuzzed", &statistics);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  accelerators.clear();
  while (!input.empty() && accelerators.size() < 4) {
    StatsTable& table = accelerators.emplace_back();
    for (std::size_t count = input.byte() % 9; count > 0; --count) {
      const std::uint8_t key = input.byte();
      table.emplace_back(key < kKeys.size() ? std::string(kKeys[key]) : input.text(), value(input));
    }
  }
  const float utilization = SystemHelper_getGPUUtilization();
  fuzzCheck(utilization >= 0.0f && utilization <= 1.0f, "utilization outside 0..1 or NaN");
  for (const StatsTable& table : accelerators)
    for (const auto& [key, statistic] : table)
      if (const auto* text = std::get_if<std::string>(&statistic))
        fuzzCheck(raiseUtilization(0.0f, {{"Device Utilization %", *text}}) ==
                      raiseUtilization(0.0f, {{"Device Utilization %", libcLeadingDecimal(*text)}}),
                  "a text figure reads differently from the number it spells");
  return 0;
}
