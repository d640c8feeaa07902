#pragma once

#include <string>

#include "HelperProbe.h"
#include "SensorSample.h"

// The sample, and the running helper's answer unless it was not asked, laid
// out for a person at a terminal.
std::string reportText(const SensorSample& sample, const HelperAnswer* helper);
