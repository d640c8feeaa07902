#pragma once

#include <string>

#include "SensorSample.h"

// The sample as one JSON document.
std::string reportJson(const SensorSample& sample);
// A statistic's raw value as JSON: the text form shows it the same way.
std::string jsonValue(const StatValue& value);
