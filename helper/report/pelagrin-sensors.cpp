// pelagrin-sensors: one sample of what the helper reads, and why each of its
// four readings is what it is, and what the running helper answers a client.
// It only reads, and needs no privileges.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "HelperProbe.h"
#include "JsonForm.h"
#include "SensorSample.h"
#include "TextForm.h"
#include "protocol/Stream.h"

namespace {

std::string usage() {
  return "usage: pelagrin-sensors [--json] [--no-helper]\n"
         "\n"
         "Takes one sample of the temperature sensors and GPU accelerators as the Pelagrin\n"
         "helper does, and shows what it found, which of it counted for each of the four\n"
         "readings and why, and the telemetry line the helper would send now; then asks\n"
         "the running helper on " +
         listenEndpoint() +
         " for one line, waiting at most 2.5 s.\n"
         "\n"
         "  --json        the same as one JSON document, for a bug report\n"
         "  --no-helper   do not ask the running helper\n"
         "  -h, --help    this help\n";
}

// Writes all of `text` to standard output; a write or flush that fails is an
// error named on stderr, as coreutils do. A closed pipe still ends quietly,
// by the default SIGPIPE.
int printed(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0) return 0;
  std::fprintf(stderr, "pelagrin-sensors: write error: %s\n", std::strerror(errno));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  bool askingHelper = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--no-helper") == 0) {
      askingHelper = false;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      return printed(usage());
    } else {
      std::fprintf(stderr, "pelagrin-sensors: unknown option \"%s\"\n%s", argv[i], usage().c_str());
      return 2;
    }
  }
  const SensorSample sample = takeSensorSample();
  const std::optional<HelperAnswer> helper = askingHelper ? std::optional(askHelper()) : std::nullopt;
  const HelperAnswer* answer = helper ? &*helper : nullptr;
  return printed(json ? reportJson(sample, answer) : reportText(sample, answer));
}
