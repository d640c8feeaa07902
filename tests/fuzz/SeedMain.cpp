// Without libFuzzer each fuzzer is a regression test: this main feeds it every
// file of the seed folder named on the command line, and fails on none.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int, char** argv) {
  int fed = 0;
  for (const auto& seed : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream in(seed.path(), std::ios::binary);
    const std::vector<std::uint8_t> input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(input.data(), input.size()), ++fed;
  }
  return fed > 0 ? 0 : 1;
}
