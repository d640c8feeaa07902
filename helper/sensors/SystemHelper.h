#pragma once

// The sensor module's whole public face: four readings, taken once per cycle
// by the broadcast loop. Each returns 0.0 when nothing could be read.

float SystemHelper_getCPUTemperature();     // hottest CPU sensor, degrees Celsius
float SystemHelper_getCPUTemperatureAvg();  // mean of the CPU sensors, degrees Celsius
float SystemHelper_getGPUTemperature();     // hottest GPU sensor, degrees Celsius
float SystemHelper_getGPUUtilization();     // busiest accelerator, fraction 0..1
