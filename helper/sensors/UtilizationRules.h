#pragma once

#include <optional>
#include <string>

#include "platform/SensorPlatform.h"

// The rule behind the utilization reading, one implementation for the helper
// and for the report that explains it.

// An accelerator's figure: the statistic it comes from, which is the first
// named statistic present ("Device Utilization %", "GPU Activity(%)", "GPU Core
// Utilization", "deviceUtilizationPercent"), else the first number under a key
// holding "utilization" or "activity"; `named` tells which. `fraction` is that
// value as a fraction before the cap at 1, or none where it is no figure.
struct UtilizationFigure {
  const std::string& key;
  const StatValue& value;
  bool named;
  std::optional<float> fraction;
};
std::optional<UtilizationFigure> utilizationFigure(const StatsTable& statistics);

// The number a statistic's value holds; none for a text that does not start
// with a decimal number, and for a value of any other kind.
std::optional<double> statisticNumber(const StatValue& value);

// The fraction a statistic's value gives, before the cap at 1; none for a value
// that is no figure: not a number, NaN or infinite.
std::optional<float> utilizationFraction(const StatValue& statistic);

// The utilization reading once one more accelerator's figure is counted: the
// busiest so far, each figure capped at 1; no figure changes nothing.
float raiseUtilization(float maximum, const std::optional<UtilizationFigure>& figure);
