#pragma once

#include <string>

// Where the helper serves its telemetry lines, and how many clients at once:
// the service and the report's probe must agree on both.
inline constexpr const char* kListenAddress = "127.0.0.1";
inline constexpr int kPort = 27830;
inline constexpr int kMaxClients = 4;

// "127.0.0.1:27830", as a person is told where to look.
inline std::string listenEndpoint() { return std::string(kListenAddress) + ":" + std::to_string(kPort); }
