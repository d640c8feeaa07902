#pragma once

#include <string>

// How a failed file operation is described to the user: what was attempted,
// on which path, and the system's reason.
inline std::string describeFileError(const std::string& action, const std::string& path, const std::string& reason) {
  return "Cannot " + action + " \"" + path + "\": " + reason + ".";
}
