#include "platform/linux/NvmlLibrary.h"

#include <dlfcn.h>

#include <utility>

namespace {

template <typename Function>
bool resolve(void* handle, const char* symbol, Function& out) {
  out = reinterpret_cast<Function>(dlsym(handle, symbol));
  return out != nullptr;
}

}  // namespace

NvmlLibrary::NvmlLibrary(std::string path) : path_(std::move(path)) {}

NvmlLibrary::~NvmlLibrary() { close(); }

const NvmlApi* NvmlLibrary::open() {
  handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) return nullptr;
  if (resolveSymbols()) return &api_;
  close();
  return nullptr;
}

void NvmlLibrary::close() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
  api_ = NvmlApi{};
}

bool NvmlLibrary::resolveSymbols() {
  // Optional: older drivers lack the _v3 entry point, and their readings are
  // worth more than the suspend check it makes possible.
  resolve(handle_, "nvmlDeviceGetPciInfo_v3", api_.deviceGetPciInfo);
  return resolve(handle_, "nvmlInit_v2", api_.init) && resolve(handle_, "nvmlDeviceGetCount_v2", api_.deviceGetCount) &&
         resolve(handle_, "nvmlDeviceGetHandleByIndex_v2", api_.deviceGetHandleByIndex) &&
         resolve(handle_, "nvmlDeviceGetUtilizationRates", api_.deviceGetUtilizationRates) &&
         resolve(handle_, "nvmlDeviceGetTemperature", api_.deviceGetTemperature) &&
         resolve(handle_, "nvmlDeviceGetName", api_.deviceGetName) && resolve(handle_, "nvmlShutdown", api_.shutdown);
}
