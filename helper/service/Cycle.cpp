#include "Cycle.h"

#include "ClientTable.h"
#include "sensors/SystemHelper.h"

TelemetryLine broadcastOneCycle() {
  const float cpuTemp = SystemHelper_getCPUTemperature();
  const float cpuTempAvg = SystemHelper_getCPUTemperatureAvg();
  const float gpuTemp = SystemHelper_getGPUTemperature();
  const float gpuUtil = SystemHelper_getGPUUtilization();
  const TelemetryLine line = formatTelemetryLine(cpuTemp, cpuTempAvg, gpuTemp, gpuUtil);
  broadcastLine(line.bytes, line.size);
  return line;
}
