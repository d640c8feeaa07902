#include "SystemHelper.h"

// Stand-in until real sensors are wired: 0.0 is the documented "nothing read".
float SystemHelper_getCPUTemperature() { return 0.0f; }
float SystemHelper_getCPUTemperatureAvg() { return 0.0f; }
float SystemHelper_getGPUTemperature() { return 0.0f; }
float SystemHelper_getGPUUtilization() { return 0.0f; }
