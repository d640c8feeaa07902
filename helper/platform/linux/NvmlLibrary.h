#pragma once

#include <string>

#include "platform/linux/NvmlApi.h"

// Where the NVML symbol table comes from. `open` gives a table with every
// required symbol or none, and after none nothing stays loaded; `close` gives
// the library back.
class NvmlLibrary {
 public:
  virtual ~NvmlLibrary() = default;
  virtual const NvmlApi* open() = 0;
  virtual void close() = 0;
};

// The vendor library, loaded at run time: most machines have none, and the
// helper must run there all the same.
class NvmlSharedLibrary final : public NvmlLibrary {
 public:
  explicit NvmlSharedLibrary(std::string path);
  ~NvmlSharedLibrary() override;
  NvmlSharedLibrary(const NvmlSharedLibrary&) = delete;
  NvmlSharedLibrary& operator=(const NvmlSharedLibrary&) = delete;

  const NvmlApi* open() override;
  void close() override;

 private:
  bool resolveSymbols();

  std::string path_;
  void* handle_ = nullptr;
  NvmlApi api_{};
};
