#include "TextForm.h"

#include <cstdio>

#include "EscapedText.h"
#include "JsonForm.h"
#include "ShortestDecimal.h"
#include "Statuses.h"
#include "protocol/Stream.h"

namespace {

// Pads to a width in characters, not bytes, so that "\u00b0C" and accented
// names keep the columns.
std::string padded(std::string text, std::size_t width) {
  std::size_t shown = 0;
  for (const char c : text) shown += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  if (shown < width) text.append(width - shown, ' ');
  return text;
}

std::string cpuSource(const CpuFigure& cpu, const char* what) {
  return std::string(what) +
         (cpu.fromAllSensors ? " of all sensors: no CPU sensor has a reading" : " of the CPU sensors");
}

}  // namespace

std::string reportText(const SensorSample& sample, const HelperAnswer* helper) {
  std::string out = "Temperature sensors (" + std::to_string(sample.services.size()) + ")\n";
  if (sample.services.empty()) out += "  No temperature service was found.\n";
  for (const ServiceSample& service : sample.services) {
    std::string verdict = service.cpuMarker ? "CPU, marker \"" + std::string(*service.cpuMarker) + "\"" : "";
    if (service.gpu) verdict += verdict.empty() ? "GPU, marker \"gpu\"" : " and GPU, marker \"gpu\"";
    if (service.name && verdict.empty()) verdict = "other";
    const ServiceStatus status = serviceStatus(service);
    if (status != ServiceStatus::Counted)
      verdict += (verdict.empty() ? "left out: " : "; left out: ") + std::string(words(status));
    if (status == ServiceStatus::OutOfRange) verdict += " (shows as 0.0 or less, 150.0 or more)";
    out += "  " + padded(service.name ? quoted(*service.name) : "(no name)", 34) + " " +
           padded(service.reading ? shortestDecimal(*service.reading) + " \u00b0C" : "no reading", 12) + " " + verdict +
           "\n";
  }
  out += "\nAccelerators (" + std::to_string(sample.accelerators.size()) + ")\n";
  if (sample.accelerators.empty()) out += "  No accelerator was found.\n";
  for (const AcceleratorSample& accelerator : sample.accelerators) {
    const AcceleratorStatus status = acceleratorStatus(accelerator);
    std::string verdict = words(status);
    if (accelerator.statistic) {
      const std::string how = accelerator.named ? "named key" : "found by the scan";
      std::string outcome = accelerator.fraction ? "gives " + shortestDecimal(*accelerator.fraction, true) : verdict;
      if (accelerator.fraction && *accelerator.fraction > 1.0f) outcome += ", capped at 1";
      if (accelerator.fraction && status != AcceleratorStatus::Counted) outcome += ", " + verdict;
      verdict = quoted(*accelerator.statistic) + " = " + jsonValue(accelerator.value) + " (" +
                valueType(accelerator.value) + ", " + how + "): " + outcome;
    }
    out += "  " + padded(quoted(accelerator.name), 24) + " " + verdict + "\n";
  }
  char readings[512];
  std::snprintf(readings, sizeof readings,
                "\nReadings\n  cpuTemp     %5.1f  %s\n  cpuTempAvg  %5.1f  %s\n  gpuTemp     %5.1f  %s\n"
                "  gpuUtil     %5.3f  busiest accelerator\n",
                static_cast<double>(sample.cpuTemp.value), cpuSource(sample.cpuTemp, "hottest").c_str(),
                static_cast<double>(sample.cpuTempAvg.value), cpuSource(sample.cpuTempAvg, "mean").c_str(),
                static_cast<double>(sample.gpuTemp),
                sample.gpuTemp > 0.0f ? "hottest GPU sensor" : "no GPU sensor has a reading",
                static_cast<double>(sample.gpuUtil));
  out += readings;
  if (helper) out += "\nHelper on " + listenEndpoint() + "\n  " + words(helper->state) + ": " + helper->detail + "\n";
  if (helper && helper->holder) out += "  held by " + describe(*helper->holder) + "\n";
  if (helper && helper->line) out += "  " + *helper->line;
  return out + "\nThe line the helper would send now:\n" + sample.line;
}
