#include "UtilizationRules.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

#include "AsciiLower.h"

namespace {

constexpr std::array<std::string_view, 4> kNamedStatistics{"Device Utilization %", "GPU Activity(%)",
                                                           "GPU Core Utilization", "deviceUtilizationPercent"};
constexpr std::array<std::string_view, 2> kScanWords{"utilization", "activity"};

using Statistic = StatsTable::value_type;

const Statistic* namedStatistic(const StatsTable& statistics) {
  for (const std::string_view name : kNamedStatistics)
    for (const Statistic& statistic : statistics)
      if (statistic.first == name) return &statistic;
  return nullptr;
}

bool isNumber(const StatValue& value) {
  return std::holds_alternative<std::int64_t>(value) || std::holds_alternative<double>(value) ||
         std::holds_alternative<bool>(value);
}

const Statistic* scannedStatistic(const StatsTable& statistics) {
  std::string lowered;
  for (const Statistic& statistic : statistics) {
    asciiLowerInto(statistic.first, lowered);
    for (const std::string_view word : kScanWords)
      if (lowered.find(word) != std::string::npos && isNumber(statistic.second)) return &statistic;
  }
  return nullptr;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The length of the plain decimal number that `text` starts with: digits with
// an optional point, then an optional exponent; 0 when it starts with none.
std::size_t decimalLength(std::string_view text) {
  std::size_t end = 0;
  std::size_t digits = 0;
  const auto skipDigits = [&] {
    while (end < text.size() && isDigit(text[end])) ++end, ++digits;
  };
  skipDigits();
  if (end < text.size() && text[end] == '.') ++end, skipDigits();
  if (digits == 0) return 0;
  if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
    std::size_t exponent = end + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    if (exponent < text.size() && isDigit(text[exponent])) {
      while (exponent < text.size() && isDigit(text[exponent])) ++exponent;
      end = exponent;
    }
  }
  return end;
}

bool continuesAWord(char c) { return isDigit(c) || c == '.' || c == '_' || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

// The decimal number at the start of a text, after leading white space: an
// optional sign, digits with an optional point, an optional exponent, ended
// where a word would end ("42 %" is 42). "busy", "nan", "inf" and "0x50" are
// not numbers.
std::optional<double> leadingDecimal(std::string_view text) {
  const auto start = text.find_first_not_of(" \t\n\v\f\r");
  if (start == std::string_view::npos) return std::nullopt;
  text.remove_prefix(start);
  const bool negative = text.starts_with('-');
  if (negative || text.starts_with('+')) text.remove_prefix(1);
  const std::size_t length = decimalLength(text);
  if (length == 0 || (length < text.size() && continuesAWord(text[length]))) return std::nullopt;
  // Only the checked digits reach strtod, so it cannot take hex or "inf"; the
  // helper never changes its locale, so the point is a full stop. (Floating-
  // point from_chars would need a newer macOS than the one we ship for.)
  const double value = std::strtod(std::string(text.substr(0, length)).c_str(), nullptr);
  return negative ? -value : value;
}

}  // namespace

// A named key decides even when its value is 0 or not a number at all.
std::optional<UtilizationFigure> utilizationFigure(const StatsTable& statistics) {
  const Statistic* chosen = namedStatistic(statistics);
  const bool named = chosen != nullptr;
  if (!named) chosen = scannedStatistic(statistics);
  if (!chosen) return std::nullopt;
  return UtilizationFigure{chosen->first, chosen->second, named, utilizationFraction(chosen->second)};
}

std::optional<double> statisticNumber(const StatValue& value) {
  if (const auto* whole = std::get_if<std::int64_t>(&value)) return static_cast<double>(*whole);
  if (const auto* real = std::get_if<double>(&value)) return *real;
  if (const auto* flag = std::get_if<bool>(&value)) return *flag ? 1.0 : 0.0;
  if (const auto* text = std::get_if<std::string>(&value)) return leadingDecimal(*text);
  return std::nullopt;
}

// A whole number is always a percentage: taken as a fraction, a GPU at 1 %
// would read as fully busy. Other numbers are percentages only beyond 1 either
// way, so the text "-60" reads as the integer -60 does. NaN and infinity are no
// figure, also where a double beyond single precision becomes infinite as the
// float the reading is.
std::optional<float> utilizationFraction(const StatValue& value) {
  if (const auto* whole = std::get_if<std::int64_t>(&value)) return static_cast<float>(*whole) / 100.0f;
  const std::optional<double> reading = statisticNumber(value);
  if (!reading) return std::nullopt;
  const auto u = static_cast<float>(*reading);
  if (!std::isfinite(u)) return std::nullopt;
  return std::fabs(u) > 1.0f ? u / 100.0f : u;
}

float raiseUtilization(float maximum, const std::optional<UtilizationFigure>& figure) {
  if (!figure || !figure->fraction) return maximum;
  return static_cast<float>(std::fmax(maximum, std::fmin(*figure->fraction, 1.0)));
}
