#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

// What each OS layer supplies: raw facts only. Every rule that turns them into
// readings lives in the portable sensor module.

// A date, raw data, a list or a mapping: carries no figure.
struct StatOther {
  bool operator==(const StatOther&) const = default;
};

// One value of an accelerator's performance statistics, as the platform typed it.
using StatValue = std::variant<StatOther, std::int64_t, double, bool, std::string>;

// An accelerator's statistics, in the table's own iteration order.
using StatsTable = std::vector<std::pair<std::string, StatValue>>;

// Calls `yield` once per temperature service: its name or none, its reading in
// degrees Celsius or none.
using ThermalYield = std::function<void(std::optional<std::string_view> name, std::optional<double> reading)>;
void platformWalkThermalServices(const ThermalYield& yield);

// Calls `yield` once per accelerator: a name that tells it apart, and its
// statistics, or null where it publishes none. A failed query yields nothing.
using AcceleratorYield = std::function<void(std::string_view accelerator, const StatsTable* statistics)>;
void platformWalkAccelerators(const AcceleratorYield& yield);
