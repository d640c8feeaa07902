#pragma once

// The few NVML types the helper uses, declared here as NVIDIA documents them,
// so that the build needs no vendor header and the binary no vendor library.

using nvmlReturn_t = int;
constexpr nvmlReturn_t kNvmlSuccess = 0;

struct nvmlDevice_st;
using nvmlDevice_t = nvmlDevice_st*;

struct nvmlUtilization_t {
  unsigned int gpu;     // percent of the last sample period the GPU was busy
  unsigned int memory;  // percent of it the memory was read or written
};

using nvmlTemperatureSensors_t = int;
constexpr nvmlTemperatureSensors_t kNvmlTemperatureGpu = 0;

// Room for any device name (NVML_DEVICE_NAME_V2_BUFFER_SIZE).
constexpr unsigned int kNvmlDeviceNameBytes = 96;

struct nvmlPciInfo_t {
  char busIdLegacy[16];
  unsigned int domain;
  unsigned int bus;
  unsigned int device;
  unsigned int pciDeviceId;
  unsigned int pciSubSystemId;
  char busId[32];  // "domain:bus:device.function" in hex, NUL-terminated
};

// The one table through which every NVML call goes: the real library's
// symbols in production, a test's fakes in tests.
struct NvmlApi {
  nvmlReturn_t (*init)();
  nvmlReturn_t (*deviceGetCount)(unsigned int* count);
  nvmlReturn_t (*deviceGetHandleByIndex)(unsigned int index, nvmlDevice_t* device);
  nvmlReturn_t (*deviceGetUtilizationRates)(nvmlDevice_t device, nvmlUtilization_t* utilization);
  nvmlReturn_t (*deviceGetTemperature)(nvmlDevice_t device, nvmlTemperatureSensors_t sensor, unsigned int* celsius);
  nvmlReturn_t (*deviceGetName)(nvmlDevice_t device, char* name, unsigned int length);
  // Null where the driver predates it: its devices are then read without
  // first asking whether they sleep.
  nvmlReturn_t (*deviceGetPciInfo)(nvmlDevice_t device, nvmlPciInfo_t* pci);
  nvmlReturn_t (*shutdown)();
};
