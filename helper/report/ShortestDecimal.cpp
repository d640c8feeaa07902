#include "ShortestDecimal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

std::string shortestDecimal(double value, bool single) {
  if (!std::isfinite(value)) return std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf";
  char text[40];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    const bool exact =
        single ? std::strtof(text, nullptr) == static_cast<float>(value) : std::strtod(text, nullptr) == value;
    if (exact && std::string_view(text).find('e') == std::string_view::npos) return text;
  }
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}
