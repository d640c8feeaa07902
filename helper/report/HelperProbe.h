#pragma once

#include <optional>
#include <string>

// What the running helper answers on its port, asked as a client would:
// connect, never write, wait at most one cycle and a margin for one line,
// close at once.
enum class HelperState { Serving, NotRunning, Full, Silent, Reset, NotAccepted, NotTheHelper };

struct HelperAnswer {
  HelperState state;
  std::optional<std::string> line;  // the telemetry line received, when serving
  std::string detail;               // for a person, already escaped for a terminal
};

HelperAnswer askHelper();

// The words both forms print for a state.
const char* words(HelperState state);
