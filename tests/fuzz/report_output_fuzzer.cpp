// Any script for the test builds' platform layer (names of any bytes but tab
// and line feed, any readings and statistics) through both forms of the
// report: the JSON form is one document that nlohmann's parser accepts, and
// neither form holds a byte that could drive a terminal.
#include <nlohmann/json.hpp>

#include "FuzzSupport.h"
#include "report/JsonForm.h"
#include "report/TextForm.h"

namespace {

// Valid UTF-8 without C0 controls but the line feed, DEL or C1 controls
// (U+0080 to U+009F, encoded C2 80 to C2 9F).
bool drivesNoTerminal(const std::string& text) {
  try {
    nlohmann::json(text).dump();
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
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
  const std::string json = reportJson(sample, nullptr);
  const std::string text = reportText(sample, nullptr);
  fuzzCheck(nlohmann::json::accept(json), "the JSON form is not one valid document");
  fuzzCheck(nlohmann::json::parse(json)["line"] == sample.line, "the JSON form's line is not the sample's");
  fuzzCheck(drivesNoTerminal(json), "the JSON form holds a terminal control or invalid UTF-8");
  fuzzCheck(drivesNoTerminal(text), "the text form holds a terminal control or invalid UTF-8");
}
