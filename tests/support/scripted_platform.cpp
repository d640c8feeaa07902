// The platform layer of the test builds. PELAGRIN_SCRIPT names a file that each
// walk reads afresh: a service or an accelerator a line, tab-separated, "~" for none:
//   thermal      NAME  READING
//   accelerator  NAME  ~                    (no statistics)
//   accelerator  NAME  KEY  TYPE:VALUE ...  (int, real, bool or text; "other" alone)
// A line it cannot read ends the run (status 2), naming the file and line: a
// typo must not pass for a machine without sensors. Fuzzers hand their script
// over in `fuzzedScript` instead, and there such a line is skipped.
// With PELAGRIN_FAKE_COUNTER set, one accelerator's utilization is the cycle
// number (n % 1000) / 1000 instead, so that a reader sees a missed or repeated
// cycle. Each thermal walk adds a byte to the file PELAGRIN_WALK_LOG names.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/SensorPlatform.h"

std::string fuzzedScript;

namespace {

// The whole text as a number, as strtod reads it ("nan" and "inf" too).
std::optional<double> number(const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  return text.empty() || *end != '\0' ? std::nullopt : std::optional(value);
}

std::optional<double> reading(const std::string& field) {
  const std::optional<double> value = number(field);
  if (field != "~" && !value) throw std::invalid_argument('"' + field + "\" is not a reading: a number or ~");
  return value;
}

StatValue statistic(const std::string& typed) {
  const std::string value = typed.substr(typed.find(':') + 1);
  if (typed == "other") return StatOther{};
  if (typed.starts_with("text:")) return value;
  if (typed.starts_with("bool:") && (value == "0" || value == "1")) return value == "1";
  if (typed.starts_with("real:") && number(value)) return *number(value);
  const char* const end = value.data() + value.size();
  long long whole = 0;
  const auto [last, error] = std::from_chars(value.data(), end, whole);
  if (typed.starts_with("int:") && last == end && error == std::errc{}) return whole;
  throw std::invalid_argument('"' + typed + "\" is not int:WHOLE, real:NUMBER, bool:0 or 1, text:ANY or other");
}

void check(const std::vector<std::string>& fields) {
  const std::size_t count = fields.size();
  const bool thermal = fields[0] == "thermal" && count == 3;
  const bool accelerator = fields[0] == "accelerator" && count > 2 && (fields[2] == "~" ? count == 3 : count % 2 == 0);
  if (!thermal && !accelerator)
    throw std::invalid_argument(
        "not thermal NAME READING, accelerator NAME ~ or accelerator NAME KEY TYPE:VALUE ... "
        "(tab-separated)");
  if (thermal) reading(fields[2]);
  for (std::size_t i = 3; accelerator && i < count; i += 2) statistic(fields[i]);
}

// A script that cannot be read ends the run: what it was meant to test would not run.
[[noreturn]] void refuse(const std::string& where, const std::string& why) {
  std::fprintf(stderr, "%s: %s\n", where.c_str(), why.c_str());
  std::_Exit(2);
}

// The lines of one kind, without it; fields are tab-separated, an empty one too.
std::vector<std::vector<std::string>> scripted(const std::string& kind) {
  std::vector<std::vector<std::string>> records;
  const char* path = std::getenv("PELAGRIN_SCRIPT");
  std::ifstream file(path ? path : "");
  std::istringstream fuzzed(fuzzedScript);
  if (path && !file) refuse(path, std::strerror(errno));
  std::size_t lineNumber = 0;
  for (std::string line, field; std::getline(path ? static_cast<std::istream&>(file) : fuzzed, line);) {
    std::vector<std::string> fields;
    for (std::istringstream split(line + '\t'); std::getline(split, field, '\t');) fields.push_back(field);
    try {
      ++lineNumber;
      check(fields);
      if (fields[0] == kind) records.emplace_back(fields.begin() + 1, fields.end());
    } catch (const std::invalid_argument& unreadable) {
      if (path) refuse(path + (":" + std::to_string(lineNumber)), unreadable.what());
    }
  }
  return records;
}

}  // namespace

void platformWalkThermalServices(const ThermalYield& yield) {
  if (const char* log = std::getenv("PELAGRIN_WALK_LOG")) std::ofstream(log, std::ios::app) << 't';
  for (const auto& service : scripted("thermal"))
    yield(service[0] == "~" ? std::nullopt : std::optional<std::string_view>(service[0]), reading(service[1]));
}

void platformWalkAccelerators(const AcceleratorYield& yield) {
  static unsigned cycle = 0;
  const StatsTable counter{{"Device Utilization %", (cycle++ % 1000) / 1000.0}};
  if (std::getenv("PELAGRIN_FAKE_COUNTER")) return yield("counter", &counter);
  for (const auto& accelerator : scripted("accelerator")) {
    StatsTable statistics;
    for (std::size_t i = 1; i + 1 < accelerator.size(); i += 2)
      statistics.emplace_back(accelerator[i], statistic(accelerator[i + 1]));
    yield(accelerator[0], accelerator[1] == "~" ? nullptr : &statistics);
  }
}
