#include "Statuses.h"

#include <cmath>
#include <iterator>

#include "sensors/UtilizationRules.h"

ServiceStatus serviceStatus(const ServiceSample& service) {
  switch (service.admission) {
    case Admission::NoName: return ServiceStatus::NoName;
    case Admission::NoReading: return ServiceStatus::NoReading;
    case Admission::OutOfRange:
      return std::isnan(*service.reading) ? ServiceStatus::NotANumber : ServiceStatus::OutOfRange;
    case Admission::Stored: break;
  }
  return service.replaced ? ServiceStatus::Replaced : ServiceStatus::Counted;
}

AcceleratorStatus acceleratorStatus(const AcceleratorSample& accelerator) {
  if (!accelerator.hasStatistics) return AcceleratorStatus::NoStatistics;
  if (!accelerator.statistic) return AcceleratorStatus::NoUsableKey;
  if (!accelerator.fraction)
    return statisticNumber(accelerator.value) ? AcceleratorStatus::NanOrInfinite : AcceleratorStatus::NotANumber;
  // The busiest accelerator starts at 0, so a fraction below it raises nothing.
  if (*accelerator.fraction < 0.0f) return AcceleratorStatus::BelowZero;
  return AcceleratorStatus::Counted;
}

const char* words(ServiceStatus status) {
  switch (status) {
    case ServiceStatus::Counted: return "counted";
    case ServiceStatus::Replaced: return "replaced by a later reading";
    case ServiceStatus::NoName: return "no name";
    case ServiceStatus::NoReading: return "no reading";
    case ServiceStatus::OutOfRange: return "out of range";
    case ServiceStatus::NotANumber: return "not a number";
  }
  return "";
}

const char* words(AcceleratorStatus status) {
  switch (status) {
    case AcceleratorStatus::Counted: return "counted";
    case AcceleratorStatus::BelowZero: return "below 0, no effect";
    case AcceleratorStatus::NoStatistics: return "no statistics";
    case AcceleratorStatus::NoUsableKey: return "no usable key";
    case AcceleratorStatus::NotANumber: return "not a number";
    case AcceleratorStatus::NanOrInfinite: return "NaN or infinite";
  }
  return "";
}

const char* valueType(const StatValue& value) {
  constexpr const char* kTypes[] = {"other", "integer", "real", "boolean", "text"};
  static_assert(std::size(kTypes) == std::variant_size_v<StatValue>, "one word per alternative, in its order");
  return kTypes[value.index()];
}
