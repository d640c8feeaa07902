#pragma once

#include <optional>
#include <string>

// What the running helper answers on 127.0.0.1:27830, asked as a client would:
// connect, never write, wait at most one cycle and a margin for one line,
// close at once.
struct HelperAnswer {
  const char* state;                // "serving", "not running", "full", "silent", "reset", "not accepted",
                                    // "not the helper"
  std::optional<std::string> line;  // the telemetry line received, when serving
  std::string detail;               // for a person, already escaped for a terminal
};

HelperAnswer askHelper();
