#pragma once

#include <string>

#include "SensorSample.h"

// The sample laid out for a person at a terminal.
std::string reportText(const SensorSample& sample);
