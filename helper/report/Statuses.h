#pragma once

#include "SensorSample.h"

// What became of a temperature service, and of an accelerator's statistic.
enum class ServiceStatus { Counted, Replaced, NoName, NoReading, OutOfRange, NotANumber };
enum class AcceleratorStatus { Counted, BelowZero, NoStatistics, NoUsableKey, NotANumber, NanOrInfinite };

ServiceStatus serviceStatus(const ServiceSample& service);
AcceleratorStatus acceleratorStatus(const AcceleratorSample& accelerator);

// The words both forms print for each.
const char* words(ServiceStatus status);
const char* words(AcceleratorStatus status);
const char* valueType(const StatValue& value);
