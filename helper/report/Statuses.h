#pragma once

#include "SensorSample.h"

// The words both forms use for what became of a service, an accelerator's
// statistic and its value.
const char* serviceStatus(const ServiceSample& service);
const char* acceleratorStatus(const AcceleratorSample& accelerator);
const char* valueType(const StatValue& value);
