// Any script of accelerators for the test builds' platform layer: named and
// scanned keys, values of every kind, texts that almost spell a number. The
// utilization stays a fraction from 0 to 1, and every text reads as the number
// the C library finds at its start, with hexadecimal, NaN and infinity none.
#include <cctype>

#include "FuzzSupport.h"
#include "GpuStats.h"
#include "SystemHelper.h"

namespace {

double libcLeadingDecimal(const std::string& text) {
  std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string::npos) return 0.0;
  at += text[at] == '+' || text[at] == '-';
  const bool noNumber = text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0 ||
                        (at < text.size() && std::isalpha(static_cast<unsigned char>(text[at])));
  return noNumber ? 0.0 : std::strtod(text.c_str(), nullptr);
}

}  // namespace

void fuzzOne(std::string_view input) {
  fuzzedScript = input;
  const float utilization = SystemHelper_getGPUUtilization();
  fuzzCheck(utilization >= 0.0f && utilization <= 1.0f, "utilization outside 0..1 or NaN");
  for (std::size_t at = fuzzedScript.find("\ttext:"); at != std::string::npos;
       at = fuzzedScript.find("\ttext:", at + 1)) {
    const std::string text = fuzzedScript.substr(at + 6, fuzzedScript.find_first_of("\t\n", at + 6) - at - 6);
    fuzzCheck(utilizationFraction(text) == utilizationFraction(libcLeadingDecimal(text)),
              "a text figure reads differently from the number it spells");
  }
}
