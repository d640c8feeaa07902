#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "GpuStats.h"

// What each OS layer supplies. Platform code only yields raw facts; every rule
// that turns them into readings lives in the portable sensor module.

// Calls `yield` once per temperature service: its name or none, its reading in
// degrees Celsius or none.
using ThermalYield = std::function<void(std::optional<std::string_view> name, std::optional<double> reading)>;
void platformWalkThermalServices(const ThermalYield& yield);

// Calls `yield` once per accelerator: a name that tells it apart, and its
// statistics, or null where it publishes none. A failed query yields nothing.
using AcceleratorYield = std::function<void(std::string_view accelerator, const StatsTable* statistics)>;
void platformWalkAccelerators(const AcceleratorYield& yield);
