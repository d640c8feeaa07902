// Any script for the test builds' platform layer (names of any bytes but tab
// and line feed, statistics of every kind, texts that almost spell a number)
// through the helper's readings and both report forms: temperatures the line
// shows as 0.0 to 149.9, utilization in 0..1, texts read as the number the C
// library finds at their start (not hexadecimal, NaN or infinity, nor run into
// a word), and reports of valid UTF-8 that cannot drive a terminal, the JSON
// one document holding the helper's line.
#include <cctype>
#include <nlohmann/json.hpp>

#include "FuzzSupport.h"
#include "report/JsonForm.h"
#include "report/TextForm.h"
#include "sensors/UtilizationRules.h"

namespace {

// The number the C library reads at the start of a text where it is a decimal
// one that ends where a word would.
std::optional<double> libcLeadingDecimal(const std::string& text) {
  std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string::npos) return std::nullopt;
  at += text[at] == '+' || text[at] == '-';
  if (text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0 ||
      (at < text.size() && std::isalpha(static_cast<unsigned char>(text[at]))))
    return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || std::isalnum(static_cast<unsigned char>(*end)) || *end == '.' || *end == '_')
    return std::nullopt;
  return value;
}

// No C0 control but the line feed, no DEL, no C1 control (U+0080 to U+009F,
// encoded C2 80 to C2 9F), no bidirectional control.
bool drivesNoTerminal(const std::string& text) {
  for (const char* bidi :
       {"\u200e", "\u200f", "\u202a", "\u202b", "\u202c", "\u202d", "\u202e", "\u2066", "\u2067", "\u2068", "\u2069"})
    if (text.find(bidi) != std::string::npos) return false;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const bool c1 = byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
    if ((byte < 0x20 && byte != '\n') || byte == 0x7F || c1) return false;
  }
  return true;
}

}  // namespace

void fuzzOne(std::string_view input) {
  fuzzedScript = input;
  const SensorSample sample = takeSensorSample();
  // The figures as printed are the oracle: a NaN is not JSON, so parse throws.
  const nlohmann::json shown = nlohmann::json::parse(sample.line);
  for (const char* key : {"cpuTemp", "cpuTempAvg", "gpuTemp"})
    fuzzCheck(shown[key] >= 0.0 && shown[key] <= 149.9, "a temperature the line shows outside 0.0..149.9");
  fuzzCheck(sample.gpuUtil >= 0.0f && sample.gpuUtil <= 1.0f, "utilization outside 0..1 or NaN");
  for (std::size_t at = input.find("\ttext:"); at != std::string::npos; at = input.find("\ttext:", at + 1)) {
    const std::string text(input.substr(at + 6, input.find_first_of("\t\n", at + 6) - at - 6));
    const std::optional<double> spelled = libcLeadingDecimal(text);
    fuzzCheck(utilizationFraction(text) == (spelled ? utilizationFraction(*spelled) : std::nullopt),
              "a text figure reads differently from the number it spells");
  }
  const std::string json = reportJson(sample, nullptr);
  const std::string text = reportText(sample, nullptr);
  // Both throw, and so end the run, on anything but valid UTF-8 and one JSON document.
  nlohmann::json(text).dump();
  fuzzCheck(nlohmann::json::parse(json)["line"] == sample.line, "the JSON form's line is not the sample's");
  fuzzCheck(drivesNoTerminal(json), "the JSON form holds a terminal control");
  fuzzCheck(drivesNoTerminal(text), "the text form holds a terminal control");
}
