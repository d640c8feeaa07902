// The platform layer of the test builds. PELAGRIN_SCRIPT names a file that each
// walk reads afresh: a service or an accelerator a line, tab-separated, "~" for none:
//   thermal      NAME  READING
//   accelerator  NAME  ~                    (no statistics)
//   accelerator  NAME  KEY  TYPE:VALUE ...  (int, real, bool or text; "other" alone)
// With PELAGRIN_FAKE_COUNTER set, one accelerator's utilization is the cycle
// number (n % 1000) / 1000 instead, so that a reader sees a missed or repeated
// cycle. Each thermal walk adds a byte to the file PELAGRIN_WALK_LOG names.
// Fuzzers hand their script over in `fuzzedScript` instead.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/SensorPlatform.h"

std::string fuzzedScript;

namespace {

std::vector<std::vector<std::string>> scripted(const std::string& kind) {
  std::vector<std::vector<std::string>> records;
  const char* path = std::getenv("PELAGRIN_SCRIPT");
  std::ifstream file(path ? path : "");
  std::istringstream fuzzed(fuzzedScript);
  for (std::string line, field; std::getline(path ? static_cast<std::istream&>(file) : fuzzed, line);) {
    std::vector<std::string> fields;
    for (std::istringstream split(line); std::getline(split, field, '\t');) fields.push_back(field);
    if (fields.size() > 2 && fields[0] == kind) records.emplace_back(fields.begin() + 1, fields.end());
  }
  return records;
}

StatValue valueOf(const std::string& typed) {
  const std::string value = typed.substr(typed.find(':') + 1);
  if (typed.starts_with("int:")) return std::strtoll(value.c_str(), nullptr, 10);
  if (typed.starts_with("real:")) return std::strtod(value.c_str(), nullptr);
  if (typed.starts_with("bool:")) return value == "1";
  if (typed.starts_with("text:")) return value;
  return StatOther{};
}

}  // namespace

void platformWalkThermalServices(const ThermalYield& yield) {
  if (const char* log = std::getenv("PELAGRIN_WALK_LOG")) std::ofstream(log, std::ios::app) << 't';
  for (const auto& service : scripted("thermal"))
    yield(service[0] == "~" ? std::nullopt : std::optional<std::string_view>(service[0]),
          service[1] == "~" ? std::nullopt : std::optional(std::strtod(service[1].c_str(), nullptr)));
}

void platformWalkAccelerators(const AcceleratorYield& yield) {
  static unsigned cycle = 0;
  const StatsTable counter{{"Device Utilization %", (cycle++ % 1000) / 1000.0}};
  if (std::getenv("PELAGRIN_FAKE_COUNTER")) return yield("counter", &counter);
  for (const auto& accelerator : scripted("accelerator")) {
    StatsTable statistics;
    for (std::size_t i = 1; i + 1 < accelerator.size(); i += 2)
      statistics.emplace_back(accelerator[i], valueOf(accelerator[i + 1]));
    yield(accelerator[0], accelerator[1] == "~" ? nullptr : &statistics);
  }
}
