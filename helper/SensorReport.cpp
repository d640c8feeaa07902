#include "SensorReport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

#include "Telemetry.h"
#include "platform/SensorPlatform.h"

namespace {

std::vector<ServiceReport> walkServices(ThermalCatalogue& catalogue) {
  std::vector<ServiceReport> services;
  std::map<std::string, std::size_t, std::less<>> holders;  // whose reading the catalogue keeps, by name
  platformWalkThermalServices([&](std::optional<std::string_view> name, std::optional<double> reading) {
    ServiceReport& service = services.emplace_back();
    service.reading = reading;
    service.admission = catalogueOffer(catalogue, name, reading);
    if (!name) return;
    service.name = std::string(*name);
    service.cpuMarker = cpuMarkerOf(*name);
    service.gpu = isGpuSensorName(*name);
    if (service.admission != Admission::Stored) return;
    const auto [holder, first] = holders.try_emplace(*service.name, services.size() - 1);
    if (!first) services[std::exchange(holder->second, services.size() - 1)].replaced = true;
  });
  return services;
}

std::vector<AcceleratorReport> walkAccelerators(float& utilization) {
  std::vector<AcceleratorReport> accelerators;
  platformWalkAccelerators([&](std::string_view name, const StatsTable* statistics) {
    AcceleratorReport& accelerator = accelerators.emplace_back();
    accelerator.name = name;
    accelerator.hasStatistics = statistics != nullptr;
    if (!statistics) return;
    utilization = raiseUtilization(utilization, *statistics);
    if (const auto chosen = utilizationStatistic(*statistics)) {
      accelerator.statistic = chosen->key;
      accelerator.named = chosen->named;
      accelerator.value = chosen->value;
      accelerator.fraction = utilizationFraction(chosen->value);
    }
  });
  return accelerators;
}

// The shortest decimal that reads back as the same number, in fixed notation
// where one does: figures show as the platform gave them (38.85, not
// 38.850000000000001), and a single-precision one as the float it is.
std::string figure(double value, bool single = false) {
  if (!std::isfinite(value)) return std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf";
  char text[40];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    const bool exact =
        single ? std::strtof(text, nullptr) == static_cast<float>(value) : std::strtod(text, nullptr) == value;
    if (exact && std::string_view(text).find('e') == std::string_view::npos) return text;
  }
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// The length of the well-formed UTF-8 sequence that starts `text`, or 0.
std::size_t utf8Length(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k)
    if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) return 0;
  const auto second = length > 1 ? static_cast<unsigned char>(text[1]) : 0x80;
  // Overlong forms, surrogates and code points past U+10FFFF.
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second > 0x8F))
    return 0;
  return length;
}

// Any bytes as a JSON string, which a terminal also shows safely: quotes,
// backslashes and control characters escaped, a byte that is no part of valid
// UTF-8 shown as U+FFFD.
std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (std::size_t at = 0, length; at < text.size(); at += length) {
    length = utf8Length(text.substr(at));
    const auto c = static_cast<unsigned char>(text[at]);
    if (length == 0) {
      out += "\\ufffd";
      length = 1;
    } else if (c == '"' || c == '\\') {
      out += {'\\', static_cast<char>(c)};
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += text.substr(at, length);
    }
  }
  return out + "\"";
}

std::string json(const std::optional<std::string>& text) { return text ? quoted(*text) : "null"; }
std::string json(std::optional<double> number) {
  if (!number) return "null";
  return std::isfinite(*number) ? figure(*number) : quoted(figure(*number));
}

const char* className(const ServiceReport& service) {
  if (!service.name) return nullptr;
  return service.cpuMarker ? (service.gpu ? "cpu+gpu" : "cpu") : service.gpu ? "gpu" : "other";
}

const char* serviceStatus(const ServiceReport& service) {
  switch (service.admission) {
    case Admission::NoName: return "no name";
    case Admission::NoReading: return "no reading";
    case Admission::OutOfRange: return "out of range";
    case Admission::Stored: break;
  }
  return service.replaced ? "replaced by a later reading" : "counted";
}

const char* valueType(const StatValue& value) {
  constexpr const char* kTypes[] = {"other", "integer", "real", "boolean", "text"};
  return kTypes[value.index()];
}

std::string valueJson(const StatValue& value) {
  if (const auto* whole = std::get_if<std::int64_t>(&value)) return std::to_string(*whole);
  if (const auto* real = std::get_if<double>(&value)) return json(std::optional<double>(*real));
  if (const auto* flag = std::get_if<bool>(&value)) return *flag ? "true" : "false";
  if (const auto* text = std::get_if<std::string>(&value)) return quoted(*text);
  return "null";
}

const char* acceleratorStatus(const AcceleratorReport& accelerator) {
  if (!accelerator.hasStatistics) return "no statistics";
  if (!accelerator.statistic) return "no usable key";
  if (!accelerator.fraction)
    return std::holds_alternative<StatOther>(accelerator.value) ? "not a number" : "NaN or infinite";
  return "counted";
}

// Pads to a width in characters, not bytes, so that "\u00b0C" and accented
// names keep the columns.
std::string padded(std::string text, std::size_t width) {
  std::size_t shown = 0;
  for (const char c : text) shown += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  if (shown < width) text.append(width - shown, ' ');
  return text;
}

const char* cpuSource(const CpuFigure& cpu) { return cpu.fromAllSensors ? "all sensors" : "cpu markers"; }

}  // namespace

SensorReport takeSensorReport() {
  SensorReport report;
  ThermalCatalogue catalogue;
  report.services = walkServices(catalogue);
  report.cpuTemp = cpuTemperatureOf(catalogue);
  report.cpuTempAvg = cpuTemperatureAvgOf(catalogue);
  report.gpuTemp = gpuTemperatureOf(catalogue);
  report.accelerators = walkAccelerators(report.gpuUtil);
  const TelemetryLine line =
      formatTelemetryLine(report.cpuTemp.value, report.cpuTempAvg.value, report.gpuTemp, report.gpuUtil);
  report.line.assign(line.bytes, line.size);
  return report;
}

std::string reportJson(const SensorReport& report) {
  std::string out = "{\n  \"temperatureServices\": [";
  const char* separator = "\n    ";
  for (const ServiceReport& service : report.services) {
    const char* serviceClass = className(service);
    out += separator + std::string("{\"name\": ") + json(service.name) + ", \"reading\": " + json(service.reading) +
           ", \"status\": " + quoted(serviceStatus(service)) +
           ", \"class\": " + (serviceClass ? quoted(serviceClass) : "null") +
           ", \"cpuMarker\": " + (service.cpuMarker ? quoted(*service.cpuMarker) : "null") + "}";
    separator = ",\n    ";
  }
  out += "\n  ],\n  \"accelerators\": [";
  separator = "\n    ";
  for (const AcceleratorReport& accelerator : report.accelerators) {
    const bool chosen = accelerator.statistic.has_value();
    out += separator + std::string("{\"name\": ") + quoted(accelerator.name) +
           ", \"statistic\": " + json(accelerator.statistic) +
           ", \"foundBy\": " + (chosen ? quoted(accelerator.named ? "name" : "scan") : "null") +
           ", \"value\": " + (chosen ? valueJson(accelerator.value) : "null") +
           ", \"type\": " + (chosen ? quoted(valueType(accelerator.value)) : "null") +
           ", \"fraction\": " + (accelerator.fraction ? figure(*accelerator.fraction, true) : "null") +
           ", \"status\": " + quoted(acceleratorStatus(accelerator)) + "}";
    separator = ",\n    ";
  }
  const auto reading = [](float value, const char* source) {
    return "{\"value\": " + figure(value, true) + ", \"from\": " + quoted(source) + "}";
  };
  return out +
         "\n  ],\n  \"readings\": {\n    \"cpuTemp\": " + reading(report.cpuTemp.value, cpuSource(report.cpuTemp)) +
         ",\n    \"cpuTempAvg\": " + reading(report.cpuTempAvg.value, cpuSource(report.cpuTempAvg)) +
         ",\n    \"gpuTemp\": " + reading(report.gpuTemp, "gpu marker") +
         ",\n    \"gpuUtil\": " + reading(report.gpuUtil, "accelerators") +
         "\n  },\n  \"line\": " + quoted(report.line) + "\n}\n";
}

std::string reportText(const SensorReport& report) {
  std::string out = "Temperature sensors (" + std::to_string(report.services.size()) + ")\n";
  if (report.services.empty()) out += "  No temperature service was found.\n";
  for (const ServiceReport& service : report.services) {
    std::string verdict = service.cpuMarker ? "CPU, marker \"" + std::string(*service.cpuMarker) + "\"" : "";
    if (service.gpu) verdict += verdict.empty() ? "GPU, marker \"gpu\"" : " and GPU, marker \"gpu\"";
    if (service.name && verdict.empty()) verdict = "other";
    const std::string status = serviceStatus(service);
    if (status != "counted") verdict += (verdict.empty() ? "left out: " : "; left out: ") + status;
    if (service.admission == Admission::OutOfRange) verdict += " (0 or less, 150 or more)";
    out += "  " + padded(service.name ? quoted(*service.name) : "(no name)", 34) + " " +
           padded(service.reading ? figure(*service.reading) + " \u00b0C" : "no reading", 12) + " " + verdict + "\n";
  }
  out += "\nAccelerators (" + std::to_string(report.accelerators.size()) + ")\n";
  if (report.accelerators.empty()) out += "  No accelerator was found.\n";
  for (const AcceleratorReport& accelerator : report.accelerators) {
    std::string verdict = acceleratorStatus(accelerator);
    if (accelerator.statistic) {
      const std::string how = accelerator.named ? "named key" : "found by the scan";
      std::string outcome = accelerator.fraction ? "gives " + figure(*accelerator.fraction, true) : verdict;
      if (accelerator.fraction && *accelerator.fraction > 1.0f) outcome += ", capped at 1";
      verdict = quoted(*accelerator.statistic) + " = " + valueJson(accelerator.value) + " (" +
                valueType(accelerator.value) + ", " + how + "): " + outcome;
    }
    out += "  " + padded(quoted(accelerator.name), 24) + " " + verdict + "\n";
  }
  const auto source = [](const CpuFigure& cpu, const char* what) {
    return std::string(what) +
           (cpu.fromAllSensors ? " of all sensors: no CPU sensor has a reading" : " of the CPU sensors");
  };
  char readings[512];
  std::snprintf(
      readings, sizeof readings,
      "\nReadings\n  cpuTemp     %5.1f  %s\n  cpuTempAvg  %5.1f  %s\n  gpuTemp     %5.1f  hottest GPU sensor\n"
      "  gpuUtil     %5.3f  busiest accelerator\n",
      static_cast<double>(report.cpuTemp.value), source(report.cpuTemp, "hottest").c_str(),
      static_cast<double>(report.cpuTempAvg.value), source(report.cpuTempAvg, "mean").c_str(),
      static_cast<double>(report.gpuTemp), static_cast<double>(report.gpuUtil));
  return out + readings + "\nThe line the helper would send now:\n" + report.line;
}
