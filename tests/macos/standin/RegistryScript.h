#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Value.h"

// What the fake I/O registry serves: the outcome of the accelerator query and,
// per accelerator, how its property copy goes and what statistics it holds.
namespace standin {

enum class PropertyCopy { Table, Fails, GivesNothing };

struct FakeAccelerator {
  PropertyCopy copy = PropertyCopy::Table;
  std::optional<Value> statistics;  // none: no "PerformanceStatistics" key
};

struct RegistryScript {
  bool matchingFails = false;  // IOServiceMatching returns null
  bool queryFails = false;     // IOServiceGetMatchingServices reports an error
  std::vector<FakeAccelerator> accelerators;
  std::vector<std::string> classesMatched;  // each name given to IOServiceMatching
};

RegistryScript& registryScript();

}  // namespace standin
