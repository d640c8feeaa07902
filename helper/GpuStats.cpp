#include "GpuStats.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

#include "AsciiLower.h"

namespace {

constexpr std::array<std::string_view, 4> kNamedStatistics{
    "Device Utilization %", "GPU Activity(%)", "GPU Core Utilization", "deviceUtilizationPercent"};
constexpr std::array<std::string_view, 2> kScanWords{"utilization", "activity"};

const StatValue* namedStatistic(const StatsTable& statistics) {
  for (const std::string_view name : kNamedStatistics)
    for (const auto& [key, value] : statistics)
      if (key == name) return &value;
  return nullptr;
}

bool isNumber(const StatValue& value) {
  return std::holds_alternative<std::int64_t>(value) || std::holds_alternative<double>(value) ||
         std::holds_alternative<bool>(value);
}

const StatValue* scannedStatistic(const StatsTable& statistics) {
  std::string lowered;
  for (const auto& [key, value] : statistics) {
    asciiLowerInto(key, lowered);
    for (const std::string_view word : kScanWords)
      if (lowered.find(word) != std::string::npos && isNumber(value)) return &value;
  }
  return nullptr;
}

// A named key decides even when its value is 0 or not a number at all.
const StatValue* chooseStatistic(const StatsTable& statistics) {
  const StatValue* named = namedStatistic(statistics);
  return named ? named : scannedStatistic(statistics);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool startsWithDigits(std::string_view text) {
  if (text.starts_with('.')) text.remove_prefix(1);
  return !text.empty() && isDigit(text.front());
}

// The decimal number at the start of a text, after leading white space: an
// optional sign, digits with an optional point, an optional exponent. Hex,
// "nan" and "inf" are not numbers here; a text without a number reads 0.
double leadingDecimal(std::string_view text) {
  const auto start = text.find_first_not_of(" \t\n\v\f\r");
  if (start == std::string_view::npos) return 0.0;
  text.remove_prefix(start);
  const bool negative = text.starts_with('-');
  if (negative || text.starts_with('+')) text.remove_prefix(1);
  if (!startsWithDigits(text)) return 0.0;
  double value = 0.0;
  if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc{}) return 0.0;
  return negative ? -value : value;
}

// A whole number is always a percentage: taken as a fraction, a GPU at 1 %
// would read as fully busy. Other numbers are percentages only above 1. NaN
// and infinity are no figure.
std::optional<float> fractionOf(const StatValue& value) {
  if (const auto* whole = std::get_if<std::int64_t>(&value)) return static_cast<float>(*whole) / 100.0f;
  double reading = 0.0;
  if (const auto* real = std::get_if<double>(&value)) reading = *real;
  else if (const auto* flag = std::get_if<bool>(&value)) reading = *flag ? 1.0 : 0.0;
  else if (const auto* text = std::get_if<std::string>(&value)) reading = leadingDecimal(*text);
  else return std::nullopt;
  if (!std::isfinite(reading)) return std::nullopt;
  const auto u = static_cast<float>(reading);
  return u > 1.0f ? u / 100.0f : u;
}

}  // namespace

float raiseUtilization(float maximum, const StatsTable& statistics) {
  const StatValue* statistic = chooseStatistic(statistics);
  if (!statistic) return maximum;
  const std::optional<float> fraction = fractionOf(*statistic);
  if (!fraction) return maximum;
  return static_cast<float>(std::fmax(maximum, std::fmin(*fraction, 1.0)));
}
