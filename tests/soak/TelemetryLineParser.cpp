#include "TelemetryLineParser.h"

#include <cstddef>

namespace {

constexpr int kMaxTenths = 1500;
constexpr int kMaxThousandths = 1000;
constexpr std::size_t kMaxWholeDigits = 3;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Walks the line from the front; after the first mismatch every step fails.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : rest_(text) {}

  bool literal(std::string_view expected) {
    ok_ = ok_ && rest_.starts_with(expected);
    if (ok_) rest_.remove_prefix(expected.size());
    return ok_;
  }

  // `name` then a fixed-point figure with exactly `decimals` digits after the
  // full stop, as a whole number of its last digit's unit.
  std::optional<int> member(std::string_view name, std::size_t decimals, int maximum) {
    if (!literal(name)) return std::nullopt;
    const std::optional<int> whole = wholePart();
    const std::optional<int> fraction = whole && literal(".") ? digits(decimals) : std::nullopt;
    if (!fraction) return fail();
    int scale = 1;
    for (std::size_t i = 0; i < decimals; ++i) scale *= 10;
    const int value = *whole * scale + *fraction;
    return value <= maximum ? std::optional<int>(value) : fail();
  }

  bool atEnd() const { return ok_ && rest_.empty(); }

 private:
  std::optional<int> fail() {
    ok_ = false;
    return std::nullopt;
  }

  // JSON's integer part without a sign: "0", or digits not starting with 0.
  std::optional<int> wholePart() {
    std::size_t count = 0;
    while (count < rest_.size() && isDigit(rest_[count])) ++count;
    if (count == 0 || count > kMaxWholeDigits || (count > 1 && rest_[0] == '0')) return fail();
    return digits(count);
  }

  std::optional<int> digits(std::size_t count) {
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (i >= rest_.size() || !isDigit(rest_[i])) return fail();
      value = value * 10 + (rest_[i] - '0');
    }
    rest_.remove_prefix(count);
    return value;
  }

  std::string_view rest_;
  bool ok_ = true;
};

}  // namespace

std::optional<TelemetryFigures> parseTelemetryLine(std::string_view line) {
  Cursor cursor(line);
  const auto cpuTemp = cursor.member("{\"cpuTemp\":", 1, kMaxTenths);
  const auto cpuTempAvg = cursor.member(",\"cpuTempAvg\":", 1, kMaxTenths);
  const auto gpuTemp = cursor.member(",\"gpuTemp\":", 1, kMaxTenths);
  const auto gpuUtil = cursor.member(",\"gpuUtil\":", 3, kMaxThousandths);
  if (!cursor.literal("}\n") || !cursor.atEnd()) return std::nullopt;
  return TelemetryFigures{*cpuTemp, *cpuTempAvg, *gpuTemp, *gpuUtil};
}
