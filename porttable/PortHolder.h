#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Who listens on a TCP port of 127.0.0.1, as the system's socket table says:
// a line that looks right proves nothing about who sent it.
struct PortHolder {
  enum class Kind { Nobody, ThisUser, OtherUser, CannotTell };
  Kind kind = Kind::CannotTell;
  std::optional<std::uint32_t> uid;    // where the system shows it
  std::optional<int> pid;              // where its process may be looked at
  std::optional<std::string> program;  // the process's short name, as the system keeps it
  std::string reason;                  // why it cannot tell
};

// The socket that takes connections to 127.0.0.1:port (bound to that address
// or to every address), the process that holds it and whose it is. It never
// waits on anything, and a table or process list beyond its bounds, a row it
// cannot read or a process that goes while it looks is CannotTell, never a guess.
PortHolder whoListens(std::uint16_t port);

#if defined(__linux__)
// The same over the proc file system mounted at procRoot.
PortHolder whoListens(std::uint16_t port, const std::string& procRoot);
#endif

// For a person: "PelagrinHelper (pid 4242) of this user (uid 501)", with
// what the system did not say left out, and any byte that a terminal could act
// on written as \xHH.
std::string describe(const PortHolder& holder);

// Only CannotTell carries a reason.
PortHolder cannotTell(std::string reason);
