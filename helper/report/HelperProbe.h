#pragma once

#include <optional>
#include <string>

#include "PortHolder.h"

// What the running helper answers on its port, asked as a client would:
// connect, never write, wait at most one cycle and a margin for one line,
// close at once. Then whose program holds the port, from the system's socket
// table: the helper's line is served only by a PelagrinHelper, and a program
// that sends the same line is not the helper.
enum class HelperState { Serving, NotRunning, Full, Silent, Reset, NotAccepted, NotTheHelper, Unconfirmed };

struct HelperAnswer {
  HelperState state;
  std::optional<std::string> line;                  // the telemetry line received, when serving
  std::string detail;                               // for a person, already escaped for a terminal
  std::optional<PortHolder> holder = std::nullopt;  // once something took the connection
};

HelperAnswer askHelper();

// The words both forms print for a state.
const char* words(HelperState state);
