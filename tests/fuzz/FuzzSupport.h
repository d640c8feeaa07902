#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

// A broken invariant ends the run at once: libFuzzer keeps the input as a
// crash, and the seed run fails its test.
inline void fuzzCheck(bool holds, const char* invariant) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", invariant);
  std::abort();
}

// Takes typed values off the front of an input; past its end every byte reads 0.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}
  bool empty() const { return rest_.empty(); }
  std::uint8_t byte() {
    const std::string_view taken = take(1);
    return taken.empty() ? 0 : static_cast<std::uint8_t>(taken[0]);
  }
  // The next sizeof(T) bytes as they lie in memory: every bit pattern, NaNs included.
  template <typename T>
  T raw() {
    T value{};
    const std::string_view bytes = take(sizeof value);
    std::memcpy(&value, bytes.data(), bytes.size());
    return value;
  }
  // Any bytes, as many (up to 255) as the byte before them says.
  std::string text() { return std::string(take(byte())); }

 private:
  std::string_view take(std::size_t wanted) {
    const std::string_view taken = rest_.substr(0, wanted);
    rest_.remove_prefix(taken.size());
    return taken;
  }
  std::string_view rest_;
};
