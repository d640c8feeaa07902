#include "ThermalCatalogue.h"

namespace {

constexpr double kLowestExcluded = 0.0;
constexpr double kHighestExcluded = 150.0;

// Tested before narrowing, so 149.999999 passes and is stored as 150.0f.
// NaN fails both comparisons.
bool inRange(double reading) { return reading > kLowestExcluded && reading < kHighestExcluded; }

}  // namespace

Admission catalogueOffer(ThermalCatalogue& catalogue, std::optional<std::string_view> name,
                         std::optional<double> reading) {
  if (!name) return Admission::NoName;
  if (!reading) return Admission::NoReading;
  if (!inRange(*reading)) return Admission::OutOfRange;
  const auto narrowed = static_cast<float>(*reading);
  if (const auto entry = catalogue.find(*name); entry != catalogue.end()) {
    entry->second = narrowed;
  } else {
    catalogue.emplace(std::string(*name), narrowed);
  }
  return Admission::Stored;
}
