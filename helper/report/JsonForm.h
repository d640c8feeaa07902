#pragma once

#include <string>

#include "HelperProbe.h"
#include "SensorSample.h"

// The sample, and the running helper's answer unless it was not asked, as one
// JSON document.
std::string reportJson(const SensorSample& sample, const HelperAnswer* helper);
// A statistic's raw value as JSON: the text form shows it the same way.
std::string jsonValue(const StatValue& value);
