// pelagrin-sensors: one sample of what the helper reads, and why each of its
// four readings is what it is. It only reads, and needs no privileges.
#include <cstdio>
#include <cstring>

#include "JsonForm.h"
#include "SensorSample.h"
#include "TextForm.h"

namespace {

constexpr const char* kUsage =
    "usage: pelagrin-sensors [--json]\n"
    "\n"
    "Takes one sample of the temperature sensors and GPU accelerators as the Pelagrin\n"
    "helper does, and shows what it found, which of it counted for each of the four\n"
    "readings and why, and the telemetry line the helper would send now.\n"
    "\n"
    "  --json   the same as one JSON document, for a bug report\n"
    "  --help   this help\n";

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "pelagrin-sensors: unknown option \"%s\"\n%s", argv[i], kUsage);
      return 2;
    }
  }
  const SensorSample sample = takeSensorSample();
  const std::string text = json ? reportJson(sample) : reportText(sample);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}
