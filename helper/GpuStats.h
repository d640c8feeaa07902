#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// One value of an accelerator's performance statistics, as the platform typed it.
struct StatOther {};  // a date, raw data, a list or a mapping: carries no figure
using StatValue = std::variant<StatOther, std::int64_t, double, bool, std::string>;

// An accelerator's statistics, in the table's own iteration order.
using StatsTable = std::vector<std::pair<std::string, StatValue>>;
