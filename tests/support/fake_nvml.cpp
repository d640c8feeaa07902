// A stand-in for libnvidia-ml.so.1 with the three devices below, all named
// "Fake Accelerator". It says when it is loaded and refuses a second init, as
// one process should need only one. Built again whose init fails, without
// nvmlShutdown (incomplete), and without nvmlDeviceGetPciInfo_v3 (older).
#include <cstdio>
#include <cstring>

extern "C" {
struct nvmlDevice_st {
  unsigned celsius, busyPercent, bus, device;
  const char* busId;  // as NVML writes it: upper-case hex, eight digits of domain
};
struct PciInfo {
  char busIdLegacy[16]{};
  unsigned domain{}, bus{}, device{}, pciDeviceId{}, pciSubSystemId{};
  char busId[32]{};
};
static nvmlDevice_st devices[] = {
    {.celsius = 61, .busyPercent = 5, .bus = 0x0a, .device = 0, .busId = "00000000:0A:00.0"},
    {.celsius = 44, .busyPercent = 3, .bus = 0x0b, .device = 0x1f, .busId = "00000000:0B:1F.0"},
    {.celsius = 40, .busyPercent = 2, .bus = 0, .device = 0, .busId = nullptr},
};

__attribute__((constructor)) static void announce() { std::fputs("fake NVML loaded\n", stderr); }
int nvmlInit_v2() {
  static int inits = 0;
  return ++inits == 1 && !FAKE_NVML_INIT_FAILS ? 0 : 999;
}
int nvmlDeviceGetCount_v2(unsigned* count) {
  *count = 3;
  return 0;
}
int nvmlDeviceGetHandleByIndex_v2(unsigned index, nvmlDevice_st** device) {
  *device = &devices[index];
  return 0;
}
int nvmlDeviceGetUtilizationRates(nvmlDevice_st* device, unsigned rates[2]) {
  rates[0] = device->busyPercent;
  return 0;
}
// The GPU die's sensor (NVML_TEMPERATURE_GPU) is the only one there is.
int nvmlDeviceGetTemperature(nvmlDevice_st* device, int sensor, unsigned* celsius) {
  if (sensor != 0) return 2;  // NVML_ERROR_INVALID_ARGUMENT
  *celsius = device->celsius;
  return 0;
}
int nvmlDeviceGetName(nvmlDevice_st*, char* name, unsigned length) {
  std::snprintf(name, length, "Fake Accelerator");
  return 0;
}
#if !FAKE_NVML_WITHOUT_PCI_INFO
int nvmlDeviceGetPciInfo_v3(nvmlDevice_st* device, PciInfo* pci) {
  if (!device->busId) return 3;  // NVML_ERROR_NOT_SUPPORTED
  *pci = {.bus = device->bus, .device = device->device, .pciDeviceId = 0x10de1234};
  std::strncpy(pci->busId, device->busId, sizeof pci->busId - 1);
  return 0;
}
#endif
#if !FAKE_NVML_INCOMPLETE
int nvmlShutdown() { return 0; }
#endif
}
