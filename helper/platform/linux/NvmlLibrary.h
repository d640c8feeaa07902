#pragma once

#include <string>

#include "platform/linux/NvmlApi.h"

// The vendor library, loaded at run time: most machines have none, and the
// helper must run there all the same. `open` gives a table with every
// required symbol or none, and after none nothing stays loaded; `close` gives
// the library back.
class NvmlLibrary {
 public:
  explicit NvmlLibrary(std::string path);
  ~NvmlLibrary();
  NvmlLibrary(const NvmlLibrary&) = delete;
  NvmlLibrary& operator=(const NvmlLibrary&) = delete;

  const NvmlApi* open();
  void close();

 private:
  bool resolveSymbols();

  std::string path_;
  void* handle_ = nullptr;
  NvmlApi api_{};
};
