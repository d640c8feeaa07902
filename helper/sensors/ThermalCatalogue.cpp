#include "ThermalCatalogue.h"

namespace {

// The line shows each reading with one decimal, where 0.0 means that nothing
// was read, so a reading counts only where that figure lies between 0.1 and
// 149.9: 149.96 would show as 150.0 and 0.04 as 0.0. The test is made on the
// float the line prints; no float lies between these decimals and the doubles
// nearest them, and NaN fails both comparisons.
constexpr double kShownAsZeroUpTo = 0.05;
constexpr double kShownAs150From = 149.95;

bool shownInRange(float reading) { return reading > kShownAsZeroUpTo && reading < kShownAs150From; }

}  // namespace

Admission catalogueOffer(ThermalCatalogue& catalogue, std::optional<std::string_view> name,
                         std::optional<double> reading) {
  if (!name) return Admission::NoName;
  if (!reading) return Admission::NoReading;
  const auto narrowed = static_cast<float>(*reading);
  if (!shownInRange(narrowed)) return Admission::OutOfRange;
  if (const auto entry = catalogue.find(*name); entry != catalogue.end()) {
    entry->second = narrowed;
  } else {
    catalogue.emplace(std::string(*name), narrowed);
  }
  return Admission::Stored;
}
