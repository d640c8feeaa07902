#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Takes typed values off the front of a fuzzer's input. An exhausted input
// reads as zero bytes and empty texts, so every input decodes to something.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

  bool empty() const { return rest_.empty(); }

  std::uint8_t byte() {
    if (rest_.empty()) return 0;
    const auto value = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return value;
  }

  // The next sizeof(T) bytes as they lie in memory: every bit pattern, NaNs included.
  template <typename T>
  T raw() {
    T value{};
    const std::size_t taken = rest_.size() < sizeof value ? rest_.size() : sizeof value;
    std::memcpy(&value, rest_.data(), taken);
    rest_.remove_prefix(taken);
    return value;
  }

  // A text of any bytes, its length (up to 255) given by the byte before it.
  std::string text() {
    const std::size_t wanted = byte();
    const std::size_t taken = rest_.size() < wanted ? rest_.size() : wanted;
    std::string value(rest_.substr(0, taken));
    rest_.remove_prefix(taken);
    return value;
  }

 private:
  std::string_view rest_;
};
