#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "Value.h"

// What the fake HID event system serves: the outcome of each call and, per
// service, its "Product" and its current temperature.
namespace standin {

struct FakeService {
  std::optional<Value> product;   // none: the service has no "Product"
  std::optional<double> reading;  // none: the service has no current temperature event
};

struct HidScript {
  bool clientFails = false;    // IOHIDEventSystemClientCreate returns null
  bool servicesFail = false;   // IOHIDEventSystemClientCopyServices returns null
  std::vector<FakeService> services;
  std::vector<const void*> matchingGiven;  // each dictionary passed to SetMatching
};

HidScript& hidScript();

}  // namespace standin
