// The entry point of every fuzzer. Without libFuzzer (PELAGRIN_SEED_MAIN) each
// fuzzer is a regression test: main feeds it every file of the seed folder
// named on the command line (a missing folder throws).
#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

void fuzzCheck(bool holds, const char* invariant) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", invariant);
  std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzOne({reinterpret_cast<const char*>(data), size});
  return 0;
}

#if PELAGRIN_SEED_MAIN
int main(int, char** argv) {
  for (const auto& seed : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream file(seed.path(), std::ios::binary);
    fuzzOne(std::string(std::istreambuf_iterator<char>(file), {}));
  }
}
#endif
