#include "Statuses.h"

#include <cmath>

const char* serviceStatus(const ServiceSample& service) {
  switch (service.admission) {
    case Admission::NoName: return "no name";
    case Admission::NoReading: return "no reading";
    case Admission::OutOfRange: return std::isnan(*service.reading) ? "not a number" : "out of range";
    case Admission::Stored: break;
  }
  return service.replaced ? "replaced by a later reading" : "counted";
}

const char* acceleratorStatus(const AcceleratorSample& accelerator) {
  if (!accelerator.hasStatistics) return "no statistics";
  if (!accelerator.statistic) return "no usable key";
  if (!accelerator.fraction)
    return std::holds_alternative<StatOther>(accelerator.value) ? "not a number" : "NaN or infinite";
  // The busiest accelerator starts at 0, so a fraction below it raises nothing.
  if (*accelerator.fraction < 0.0f) return "below 0, no effect";
  return "counted";
}

const char* valueType(const StatValue& value) {
  constexpr const char* kTypes[] = {"other", "integer", "real", "boolean", "text"};
  return kTypes[value.index()];
}
