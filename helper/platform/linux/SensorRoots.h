#pragma once

#include <string>

// Where the Linux layer finds the machine's sensors. The build links exactly
// one definition of sensorRoots(): the machine's own (SystemRoots.cpp), or a
// test's or a benchmark's.
struct SensorRoots {
  std::string sysfs;
  std::string nvmlLibrary;
};
const SensorRoots& sensorRoots();
