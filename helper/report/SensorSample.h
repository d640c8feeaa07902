#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sensors/TemperatureRules.h"
#include "sensors/UtilizationRules.h"

// One sample of everything the helper reads, and why each of its readings is
// what it is: every temperature service with what became of it, every
// accelerator with the statistic that gave its figure, and the four readings
// as the helper would send them now. The same walks and rules as the helper's.

struct ServiceSample {
  std::optional<std::string> name;
  std::optional<double> reading;
  Admission admission = Admission::NoName;
  bool replaced = false;  // a later service of the same name holds the catalogue's reading
  std::optional<std::string_view> cpuMarker;
  bool gpu = false;
};

struct AcceleratorSample {
  std::string name;
  bool hasStatistics = false;
  std::optional<std::string> statistic;  // the key chosen, none when no key gave one
  bool named = false;                    // a named key rather than one the scan found
  StatValue value;
  std::optional<float> fraction;  // before the cap at 1
};

struct SensorSample {
  std::vector<ServiceSample> services;
  std::vector<AcceleratorSample> accelerators;
  CpuFigure cpuTemp{}, cpuTempAvg{};
  float gpuTemp = 0.0f, gpuUtil = 0.0f;
  std::string line;  // the telemetry line, line feed included
};

SensorSample takeSensorSample();
