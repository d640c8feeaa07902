// Any script of temperature services for the test builds' platform layer (names
// of any bytes but tab and line feed, any text for a reading) through the three
// temperature readings: each is 0 or a temperature the catalogue could hold.
#include "FuzzSupport.h"
#include "SystemHelper.h"

void fuzzOne(std::string_view input) {
  fuzzedScript = input;
  for (const float reading :
       {SystemHelper_getCPUTemperature(), SystemHelper_getCPUTemperatureAvg(), SystemHelper_getGPUTemperature()})
    fuzzCheck(reading == 0.0f || (reading > 0.0f && reading <= 150.0f), "a temperature not 0 or in (0, 150]");
}
