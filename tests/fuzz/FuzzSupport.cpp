// The entry point of every fuzzer. Without libFuzzer (PELAGRIN_SEED_MAIN) each
// fuzzer is a regression test: main feeds it every file of the seed folder
// named on the command line, and fails on none.
#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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
  int fed = 0;
  for (const auto& seed : std::filesystem::directory_iterator(argv[1])) {
    std::ostringstream input;
    input << std::ifstream(seed.path(), std::ios::binary).rdbuf();
    fuzzOne(input.str());
    ++fed;
  }
  return fed > 0 ? 0 : 1;
}
#endif
