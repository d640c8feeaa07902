#include "JsonForm.h"

#include <cmath>

#include "EscapedText.h"
#include "ShortestDecimal.h"
#include "Statuses.h"

namespace {

std::string json(const std::optional<std::string>& text) { return text ? quoted(*text) : "null"; }
// A figure; "nan", "inf" or "-inf" as text, since JSON has no number for them.
std::string json(double number, bool single = false) {
  const std::string figure = shortestDecimal(number, single);
  return std::isfinite(number) ? figure : quoted(figure);
}
std::string json(std::optional<double> number) { return number ? json(*number) : "null"; }

const char* className(const ServiceSample& service) {
  if (!service.name) return nullptr;
  return service.cpuMarker ? (service.gpu ? "cpu+gpu" : "cpu") : service.gpu ? "gpu" : "other";
}

const char* cpuSource(const CpuFigure& cpu) { return cpu.fromAllSensors ? "all sensors" : "cpu markers"; }

std::string json(const std::optional<std::uint32_t>& number) { return number ? std::to_string(*number) : "null"; }
std::string json(const std::optional<int>& number) { return number ? std::to_string(*number) : "null"; }

// Null where nothing took the connection, or the socket table could not say who holds the port.
std::string holderJson(const std::optional<PortHolder>& holder) {
  if (!holder || holder->kind == PortHolder::Kind::Nobody || holder->kind == PortHolder::Kind::CannotTell) {
    return "null";
  }
  return "{\"pid\": " + json(holder->pid) + ", \"uid\": " + json(holder->uid) +
         ", \"program\": " + json(holder->program) + "}";
}

std::string helperJson(const HelperAnswer& helper) {
  return ",\n  \"helper\": {\"state\": " + quoted(words(helper.state)) + ", \"line\": " + json(helper.line) +
         ", \"detail\": " + quoted(helper.detail) + ", \"holder\": " + holderJson(helper.holder) + "}";
}

}  // namespace

std::string jsonValue(const StatValue& value) {
  if (const auto* whole = std::get_if<std::int64_t>(&value)) return std::to_string(*whole);
  if (const auto* real = std::get_if<double>(&value)) return json(*real);
  if (const auto* flag = std::get_if<bool>(&value)) return *flag ? "true" : "false";
  if (const auto* text = std::get_if<std::string>(&value)) return quoted(*text);
  return "null";
}

std::string reportJson(const SensorSample& sample, const HelperAnswer* helper) {
  std::string out = "{\n  \"temperatureServices\": [";
  const char* separator = "\n    ";
  for (const ServiceSample& service : sample.services) {
    const char* serviceClass = className(service);
    out += separator + std::string("{\"name\": ") + json(service.name) + ", \"reading\": " + json(service.reading) +
           ", \"status\": " + quoted(words(serviceStatus(service))) +
           ", \"class\": " + (serviceClass ? quoted(serviceClass) : "null") +
           ", \"cpuMarker\": " + (service.cpuMarker ? quoted(*service.cpuMarker) : "null") + "}";
    separator = ",\n    ";
  }
  out += "\n  ],\n  \"accelerators\": [";
  separator = "\n    ";
  for (const AcceleratorSample& accelerator : sample.accelerators) {
    const bool chosen = accelerator.statistic.has_value();
    out += separator + std::string("{\"name\": ") + quoted(accelerator.name) +
           ", \"statistic\": " + json(accelerator.statistic) +
           ", \"foundBy\": " + (chosen ? quoted(accelerator.named ? "name" : "scan") : "null") +
           ", \"value\": " + (chosen ? jsonValue(accelerator.value) : "null") +
           ", \"type\": " + (chosen ? quoted(valueType(accelerator.value)) : "null") +
           ", \"fraction\": " + (accelerator.fraction ? json(*accelerator.fraction, true) : "null") +
           ", \"status\": " + quoted(words(acceleratorStatus(accelerator))) + "}";
    separator = ",\n    ";
  }
  const auto reading = [](float value, const char* source) {
    return "{\"value\": " + json(value, true) + ", \"from\": " + quoted(source) + "}";
  };
  return out +
         "\n  ],\n  \"readings\": {\n    \"cpuTemp\": " + reading(sample.cpuTemp.value, cpuSource(sample.cpuTemp)) +
         ",\n    \"cpuTempAvg\": " + reading(sample.cpuTempAvg.value, cpuSource(sample.cpuTempAvg)) +
         ",\n    \"gpuTemp\": " + reading(sample.gpuTemp, "gpu marker") +
         ",\n    \"gpuUtil\": " + reading(sample.gpuUtil, "accelerators") +
         "\n  },\n  \"line\": " + quoted(sample.line) + (helper ? helperJson(*helper) : "") + "\n}\n";
}
