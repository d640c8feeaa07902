#pragma once

#include <string>
#include <vector>

// Writes a fake sysfs tree under `root` (replacing what was there): 64
// temperature sensors on 4 hwmon chips, each with the limit files real chips
// carry, and one DRM card beside its connector and render node. Returns every
// file one cycle of the four readings reads, as often as the cycle reads it.
std::vector<std::string> writeSensorTree(const std::string& root);
