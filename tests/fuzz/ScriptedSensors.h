#pragma once

#include <optional>
#include <string>
#include <vector>

#include "GpuStats.h"

// The platform the sensor fuzzers drive: each walk yields exactly what the
// current input decoded to.

struct ScriptedService {
  std::optional<std::string> name;
  std::optional<double> reading;
};

extern std::vector<ScriptedService> scriptedServices;
extern std::vector<StatsTable> scriptedAccelerators;
