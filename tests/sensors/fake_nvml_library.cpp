// A stand-in for libnvidia-ml.so.1 with one device, "Fake Accelerator" at 61 C
// and 5 % busy. Built a second time without nvmlShutdown, as an incomplete library.
#include <cstdio>

extern "C" {
struct nvmlDevice_st {
  int unused;
};
static nvmlDevice_st theDevice;
struct Utilization { unsigned int gpu, memory; };

int nvmlInit_v2() { return 0; }
int nvmlDeviceGetCount_v2(unsigned int* count) { return *count = 1, 0; }
int nvmlDeviceGetHandleByIndex_v2(unsigned int, nvmlDevice_st** device) { return *device = &theDevice, 0; }
int nvmlDeviceGetUtilizationRates(nvmlDevice_st*, Utilization* rates) { return *rates = {5, 12}, 0; }
int nvmlDeviceGetTemperature(nvmlDevice_st*, int, unsigned int* celsius) { return *celsius = 61, 0; }
int nvmlDeviceGetName(nvmlDevice_st*, char* name, unsigned int length) {
  return std::snprintf(name, length, "Fake Accelerator"), 0;
}
#ifndef FAKE_NVML_INCOMPLETE
int nvmlShutdown() { return 0; }
#endif
}
