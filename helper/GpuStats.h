#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// A date, raw data, a list or a mapping: carries no figure.
struct StatOther {
  bool operator==(const StatOther&) const = default;
};

// One value of an accelerator's performance statistics, as the platform typed it.
using StatValue = std::variant<StatOther, std::int64_t, double, bool, std::string>;

// An accelerator's statistics, in the table's own iteration order.
using StatsTable = std::vector<std::pair<std::string, StatValue>>;

// The statistic an accelerator's figure comes from: the first named statistic
// present, else the first number under a key holding "utilization" or
// "activity". `named` tells which; none when neither finds one.
struct UtilizationStatistic {
  const std::string& key;
  const StatValue& value;
  bool named;
};
std::optional<UtilizationStatistic> utilizationStatistic(const StatsTable& statistics);

// The fraction a statistic gives, before the cap at 1; none for a value that
// is no figure: not a number, NaN or infinite.
std::optional<float> utilizationFraction(const StatValue& statistic);

// Folds one accelerator's statistics into the running maximum of the
// utilization reading and returns the new maximum. The figure is the first
// named statistic present ("Device Utilization %", "GPU Activity(%)",
// "GPU Core Utilization", "deviceUtilizationPercent"), else the first number
// under a key holding "utilization" or "activity"; it is brought to a fraction
// and capped at 1. A table that yields no figure leaves the maximum unchanged.
float raiseUtilization(float maximum, const StatsTable& statistics);
