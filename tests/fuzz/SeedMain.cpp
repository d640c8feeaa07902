// Without libFuzzer, each fuzzer is a regression test: this main feeds it
// every file of the seed folders named on the command line.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  int fed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<std::uint8_t> input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      LLVMFuzzerTestOneInput(input.data(), input.size());
      ++fed;
    }
  }
  std::printf("%d seed inputs passed\n", fed);
  // An empty or missing corpus would pass silently otherwise.
  return fed > 0 ? 0 : 1;
}
