#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Alert.h"
#include "PortHolder.h"

// The description of a failed file operation, in the platform's words; empty
// when the operation succeeded.
using FileError = std::optional<std::string>;

// runShell's status for a program that could not be started at all, as a shell's.
inline constexpr int kCannotStartStatus = 127;
// Enough for launchd's list of every label a user turned off.
inline constexpr std::size_t kReadOutputBytes = 1 << 20;

// What a client of a loopback port met: whether it got connected, the bytes
// that came (up to the first line feed, the peer's close, the byte limit or
// the deadline, whichever came first), and whether the peer closed.
struct PortReply {
  bool connected = false;
  std::string received;
  bool closedByPeer = false;
};

// What a program's own code signature says: its signing identifier and Team
// ID, each empty where there is none (an unsigned build has neither, an ad hoc
// signature no Team ID).
struct CodeSignature {
  std::string identifier;
  std::string teamId;
};

// Everything the installer needs from the system it runs on. Implementations
// only report facts and carry out requests; every decision lives in InstallerApp.
// Which login-agent mechanism the helper is registered with: launchd on macOS,
// an XDG autostart entry on the Linux stand-in.
enum class AgentSystem { Launchd, XdgAutostart };

class Platform {
 public:
  virtual ~Platform() = default;

  // The system whose conventions the installer follows here: each front's
  // platform says it, so a front chooses its system once.
  virtual AgentSystem agentSystem() const = 0;

  // Shows the alert, blocks until it is answered and returns the response.
  virtual int runModal(const Alert& alert) = 0;

  // The absolute path of the named resource among the installer's own, if present.
  virtual std::optional<std::string> pathForResource(const std::string& name, const std::string& type) = 0;
  // The user's home folder: absolute, without a trailing slash.
  virtual std::string homeDirectory() = 0;
  virtual std::uint32_t userId() = 0;

  // True for an existing file and for an existing folder alike; false also
  // where the path cannot be looked at.
  virtual bool fileExists(const std::string& path) = 0;
  // True only when looking at the path says there is no such file or folder:
  // one that cannot be looked at may well still be there.
  virtual bool isGone(const std::string& path) = 0;
  // The names a folder holds; none where it cannot be read.
  virtual std::vector<std::string> folderEntries(const std::string& path) = 0;
  // Removes a file, or a folder with everything in it.
  virtual FileError removeItem(const std::string& path) = 0;
  // Removes a folder only while it holds nothing.
  virtual FileError removeEmptyDirectory(const std::string& path) = 0;
  // Creates the folder and any missing parent; an existing folder is fine.
  virtual FileError createDirectory(const std::string& path) = 0;
  // Copies a file or folder tree to a destination that must not exist yet.
  virtual FileError copyItem(const std::string& from, const std::string& to) = 0;
  // Renames within one folder; the destination must not exist.
  virtual FileError moveItem(const std::string& from, const std::string& to) = 0;
  // The whole file, which must be valid UTF-8.
  virtual FileError readTextFile(const std::string& path, std::string& text) = 0;
  // Leaves the target either complete or untouched, and no stray file behind.
  virtual FileError writeTextFileAtomically(const std::string& path, const std::string& text) = 0;
  // Takes the system's download mark (quarantine) off every file of the tree;
  // a system that marks nothing has nothing to do.
  virtual FileError removeDownloadMark(const std::string& path) = 0;

  // Runs the program with these arguments, no shell, and returns its status.
  virtual int runShell(const std::string& executable, const std::vector<std::string>& arguments) = 0;
  // As runShell, and hands back what the program wrote on its standard output
  // (up to kReadOutputBytes of it).
  virtual int runShellReading(const std::string& executable, const std::vector<std::string>& arguments,
                              std::string& output) = 0;
  // The installer's own signature; a system that signs no code has none.
  virtual CodeSignature ownSignature() = 0;
  // As runShell, for a program that leaves the helper running: where the
  // installer starts the helper itself, the helper gets nothing of the
  // installer's (no terminal, pipe or folder), as launchd's helpers get nothing.
  virtual int runDetached(const std::string& executable, const std::vector<std::string>& arguments) = 0;
  virtual void sleepFor(double seconds) = 0;
  // Keeps trying to connect to 127.0.0.1:port until `seconds` have passed,
  // then reads, never writes, until a line feed, the peer's close, maxBytes
  // or that same deadline.
  virtual PortReply readLoopbackLine(std::uint16_t port, double seconds, std::size_t maxBytes) = 0;
  // Who listens on 127.0.0.1:port, from the system's socket table.
  virtual PortHolder whoListens(std::uint16_t port) = 0;
};
