// A stand-in for libnvidia-ml.so.1 with three devices, each "Fake Accelerator":
// GPU 0 at 61 C and 5 % busy on PCI 0000:0a:00.0, GPU 1 at 44 C and 3 % on
// 0000:0b:1f.0, GPU 2 at 40 C and 2 % with no PCI information. It says when it
// is loaded and refuses a second init, as a process should need only one.
// Built again whose init fails, without nvmlShutdown (an incomplete library),
// and without nvmlDeviceGetPciInfo_v3 (an older driver's).
#include <cstdio>
#include <cstring>

extern "C" {
struct nvmlDevice_st {
  unsigned int celsius, busyPercent;
  const char* busId;  // as NVML writes it: upper-case hex, eight digits of domain
  unsigned int domain, bus, device;
};
static nvmlDevice_st theDevices[] = {{61, 5, "00000000:0A:00.0", 0, 0x0a, 0},
                                     {44, 3, "00000000:0B:1F.0", 0, 0x0b, 0x1f},
                                     {40, 2, nullptr, 0, 0, 0}};
struct Utilization { unsigned int gpu, memory; };
struct PciInfo {
  char busIdLegacy[16];
  unsigned int domain, bus, device, pciDeviceId, pciSubSystemId;
  char busId[32];
};

__attribute__((constructor)) static void announce() { std::fputs("fake NVML loaded\n", stderr); }

#ifdef FAKE_NVML_INIT_FAILS
int nvmlInit_v2() { return 999; }
#else
int nvmlInit_v2() {
  static int inits = 0;
  return ++inits == 1 ? 0 : 999;
}
#endif
int nvmlDeviceGetCount_v2(unsigned int* count) { return *count = sizeof theDevices / sizeof *theDevices, 0; }
int nvmlDeviceGetHandleByIndex_v2(unsigned int index, nvmlDevice_st** device) {
  return *device = &theDevices[index], 0;
}
int nvmlDeviceGetUtilizationRates(nvmlDevice_st* device, Utilization* rates) {
  return *rates = {device->busyPercent, 12}, 0;
}
int nvmlDeviceGetTemperature(nvmlDevice_st* device, int, unsigned int* celsius) {
  return *celsius = device->celsius, 0;
}
int nvmlDeviceGetName(nvmlDevice_st*, char* name, unsigned int length) {
  return std::snprintf(name, length, "Fake Accelerator"), 0;
}
#ifndef FAKE_NVML_WITHOUT_PCI_INFO
int nvmlDeviceGetPciInfo_v3(nvmlDevice_st* device, PciInfo* pci) {
  constexpr int kNotSupported = 3;
  if (!device->busId) return kNotSupported;
  *pci = {{}, device->domain, device->bus, device->device, 0x10de1234, 0, {}};
  std::strncpy(pci->busId, device->busId, sizeof pci->busId - 1);
  return 0;
}
#endif
#ifndef FAKE_NVML_INCOMPLETE
int nvmlShutdown() { return 0; }
#endif
}
